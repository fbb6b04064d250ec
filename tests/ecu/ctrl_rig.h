// SPDX-License-Identifier: GPL-3.0-or-later
// The session rig on the virtual ECU with a recording EcuUi and a fake control bar, for the
// learn-memory and actuator-control tests.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "ecu/actuator_control.h"
#include "ecu/ecu_ui.h"
#include "session/session_fixture.h"

namespace kvd::test {

// Records what the commands tell the user; Confirm answers from a script (default No).
class RecordingEcuUi final : public EcuUi {
 public:
  std::vector<std::string> messages;
  std::vector<std::string> notices;  // busy notices shown
  int32_t noticesHidden = 0;
  bool busy = false;
  int32_t busyTurns = 0;
  bool confirmAnswer = false;
  bool pollEnabledDuringNotice = true;
  DiagSession* session = nullptr;
  // Runs while a message is shown, as the poll timer does behind a message box.
  std::function<void()> whileShown;

  void ShowMessage(const std::string& text) override {
    messages.push_back(text);
    if (whileShown) whileShown();
  }
  bool Confirm(const std::string&) override { return confirmAnswer; }
  void SetBusyCursor(bool on) override {
    busy = on;
    ++busyTurns;
  }
  void ShowBusyNotice(const std::string& text) override { notices.push_back(text); }
  void HideBusyNotice() override {
    ++noticesHidden;
    if (session) pollEnabledDuringNotice = session->PollEnabled;
  }
};

// The controls of the bar, with every call that matters recorded.
class FakeBar final : public ActuatorBar {
 public:
  bool checked = false;
  int32_t selected = -1;
  bool controlsEnabled = true;
  bool trackShown = true;
  int32_t position = 0;
  std::string valueText;
  bool attached = true;
  int32_t attachChanges = 0;

  bool Checked() override { return checked; }
  void SetChecked(bool on) override { checked = on; }
  int32_t SelectedIndex() override { return selected; }
  void ClearSelection() override { selected = -1; }
  void SetControlsEnabled(bool enabled) override { controlsEnabled = enabled; }
  void ShowTrackBar(bool trackBar) override { trackShown = trackBar; }
  int32_t TrackPosition() override { return position; }
  void SetTrackPosition(int32_t p) override { position = p; }
  void SetValueText(const std::string& text) override { valueText = text; }
  void SetTrackHandlerAttached(bool on) override {
    attached = on;
    ++attachChanges;
  }
};

// A connected session with the ECU commands' user interface and bar.
struct CtrlRig : SessionRig {
  RecordingEcuUi ecuUi;
  FakeBar bar;
  ActuatorControl control{session, ecuUi, bar};

  CtrlRig() { ecuUi.session = &session; }

  // Requests sent by `action`.
  template <typename F>
  std::vector<Bytes> Sent(F&& action) {
    const size_t from = port.writes.size();
    action();
    return port.MessagesSince(from);
  }
};

}  // namespace kvd::test
