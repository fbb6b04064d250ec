// SPDX-License-Identifier: GPL-3.0-or-later
// A connected session on the virtual ECU with a recording EcuUi, for the identification,
// flag, reset and immobilizer tests.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "../session/session_fixture.h"
#include "ecu/ecu_ui.h"

namespace kvd::test {

// What the commands tell the user, and what the session looked like when they did.
class IdentTestUi final : public EcuUi {
 public:
  std::vector<std::string> messages;
  std::vector<std::string> questions;
  bool confirmAnswer = false;
  std::vector<bool> cursorTurns;          // SetBusyCursor calls in order
  std::vector<bool> pollEnabledAtCursor;  // PollEnabled at each of them
  std::function<void(const std::string&)> onMessage;
  DiagSession* session = nullptr;

  void ShowMessage(const std::string& text) override {
    messages.push_back(text);
    if (onMessage) onMessage(text);
  }
  bool Confirm(const std::string& question) override {
    questions.push_back(question);
    return confirmAnswer;
  }
  void SetBusyCursor(bool busy) override {
    cursorTurns.push_back(busy);
    pollEnabledAtCursor.push_back(session && session->PollEnabled);
  }
  void ShowBusyNotice(const std::string&) override {}
  void HideBusyNotice() override {}
};

class IdentTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ui.session = &rig.session;
    ASSERT_TRUE(rig.ConnectByTick());
  }

  // Requests sent by `action`.
  template <typename F>
  std::vector<Bytes> Sent(F&& action) {
    const size_t from = rig.port.writes.size();
    action();
    return rig.port.MessagesSince(from);
  }

  SessionRig rig;
  IdentTestUi ui;
};

inline Bytes BytesOf(const std::string& s) {
  return Bytes(s.begin(), s.end());
}

}  // namespace kvd::test
