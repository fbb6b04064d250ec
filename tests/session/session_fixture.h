// SPDX-License-Identifier: GPL-3.0-or-later
// The session on the virtual ECU and the virtual clock, a port that logs what the session
// does with it, and a scripted window.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "data/history.h"
#include "link/clock.h"
#include "link/elm_link.h"
#include "link/kwp.h"
#include "session/diag_session.h"
#include "session/session_ui.h"
#include "sim/virtual_ecu.h"
#include "sim/virtual_elm.h"
#include "sim/virtual_line.h"

namespace kvd::test {

// Forwards to a real port and logs the requests written (message bytes only) and the
// moments of the calls that matter to the session.
class SpyPort final : public SerialPort {
 public:
  SpyPort(SerialPort& inner, Clock& clock) : inner_(inner), clock_(clock) {}

  struct Write {
    uint64_t atUs;
    std::vector<uint8_t> message;  // without header and checksum
  };
  std::vector<Write> writes;
  std::vector<uint64_t> breakOnUs;
  int32_t openCalls = 0;
  int32_t closeCalls = 0;
  std::optional<int32_t> refuseOpen;  // result of OpenPort/OpenDevice instead of opening
  std::string openedDevice;

  // Requests (message bytes) sent since index `from`.
  std::vector<std::vector<uint8_t>> MessagesSince(size_t from) const {
    std::vector<std::vector<uint8_t>> out;
    for (size_t i = from; i < writes.size(); ++i) out.push_back(writes[i].message);
    return out;
  }

  int32_t OpenPort(uint16_t port) override {
    ++openCalls;
    if (refuseOpen) return *refuseOpen;
    openedDevice = "#" + std::to_string(port);
    return inner_.OpenPort(port);
  }
  int32_t OpenDevice(const std::string& path) override {
    ++openCalls;
    if (refuseOpen) return *refuseOpen;
    openedDevice = path;
    return inner_.OpenDevice(path);
  }
  bool IsOpen() const override { return inner_.IsOpen(); }
  std::string DeviceName() const override { return inner_.DeviceName(); }
  int32_t SetLineParameters(uint32_t b, uint8_t d, uint8_t p, uint8_t s) override {
    return inner_.SetLineParameters(b, d, p, s);
  }
  bool SetReadTimeouts(uint32_t i, uint32_t m, uint32_t c) override {
    return inner_.SetReadTimeouts(i, m, c);
  }
  bool GetTimeouts(SerialTimeouts& out) override { return inner_.GetTimeouts(out); }
  bool SetBreak(bool on) override {
    if (on) breakOnUs.push_back(clock_.MicrosNow());
    return inner_.SetBreak(on);
  }
  bool SetModemLines(bool dtr, bool rts) override { return inner_.SetModemLines(dtr, rts); }
  bool PurgePort() override { return inner_.PurgePort(); }
  int32_t WriteBytes(uint32_t count, const uint8_t* bytes) override {
    writes.push_back({clock_.MicrosNow(), MessageOf(bytes, count)});
    return inner_.WriteBytes(count, bytes);
  }
  int32_t ReadByte() override { return inner_.ReadByte(); }
  int32_t ReadBytes(uint32_t count, uint8_t* buffer) override {
    return inner_.ReadBytes(count, buffer);
  }
  void ClosePort() override {
    ++closeCalls;
    inner_.ClosePort();
  }

 private:
  // The message bytes of a frame of the forms the link sends (80+n with addresses, or
  // 80 with a length byte).
  static std::vector<uint8_t> MessageOf(const uint8_t* f, uint32_t n) {
    if (n < 4) return {f, f + n};
    size_t start = 3;
    size_t len = f[0] & 0x3F;
    if (len == 0) {
      start = 4;
      len = f[3];
    }
    if (start + len > n) return {f, f + n};
    return {f + start, f + start + len};
  }

  SerialPort& inner_;
  Clock& clock_;
};

// The window as the session sees it, with everything recorded and a few switches.
class ScriptedUi final : public SessionUi {
 public:
  struct State {
    LinkState state;
    std::string text;
  };
  std::vector<std::string> messages;
  std::vector<State> linkStates;
  std::vector<std::string> warnings;
  std::vector<AdcTexts> adc;
  std::vector<std::pair<std::vector<uint8_t>, uint32_t>> troubleCodes;
  SessionMenus menus;
  int32_t menuUpdates = 0;
  int32_t boxShown = 0;
  int32_t boxClosed = 0;
  bool boxOpen = false;
  std::string boxText;
  bool cancelled = false;
  int32_t cancelInAttempt = 0;  // the user presses Cancel while this attempt runs
  bool actuatorPanel = false;
  bool actuatorChecked = false;
  int32_t actuatorReleased = 0;
  std::vector<uint32_t> actuatorRefreshTicks;
  bool adcShown = false;
  int32_t listClosed = 0;
  int32_t learnClosed = 0;
  DiagSession* session = nullptr;
  // Runs while a message box is open (a tick falling due, for instance).
  std::function<void()> whileMessageOpen;
  // The moments (clock microseconds) at which the session let the window handle its messages,
  // and what the window does then (the user pressing Cancel, for instance).
  Clock* clock = nullptr;
  std::vector<uint64_t> pumpsUs;
  std::function<void()> onPump;

  void ShowMessage(const std::string& text) override {
    messages.push_back(text);
    if (whileMessageOpen) whileMessageOpen();
  }
  void ShowConnectBox(const std::string& text) override {
    ++boxShown;
    boxOpen = true;
    boxText = text;
  }
  bool ConnectBoxCancelled() override { return cancelled; }
  void CloseConnectBox() override {
    ++boxClosed;
    boxOpen = false;
  }
  void ProcessMessages() override {
    if (clock) pumpsUs.push_back(clock->MicrosNow());
    if (onPump) onPump();
  }
  void ShowLinkState(LinkState state, const std::string& text) override {
    linkStates.push_back({state, text});
    if (state == LinkState::Connecting && cancelInAttempt > 0 &&
        text == "Соединение " + std::to_string(cancelInAttempt))
      cancelled = true;
  }
  void ApplyMenus(const SessionMenus& m) override {
    menus = m;
    ++menuUpdates;
  }
  void SetStatusWarning(const std::string& text) override { warnings.push_back(text); }
  void SetActuatorPanel(bool enabled) override {
    actuatorPanel = enabled;
    if (enabled) actuatorChecked = false;
  }
  bool ActuatorControlChecked() override { return actuatorChecked; }
  void ReleaseActuatorControl() override {
    ++actuatorReleased;
    actuatorChecked = false;
  }
  void RefreshActuator() override {
    actuatorRefreshTicks.push_back(session ? session->TickCount : 0);
  }
  bool AdcShown() override { return adcShown; }
  void ShowAdcValues(const AdcTexts& texts) override { adc.push_back(texts); }
  void TroubleCodesRead(std::span<const uint8_t> answer, uint32_t errorMask) override {
    troubleCodes.push_back({{answer.begin(), answer.end()}, errorMask});
  }
  void CloseTroubleCodeList() override { ++listClosed; }
  void CloseLearnMemory() override { ++learnClosed; }
};

// Everything a session test needs, wired together on a virtual clock: the virtual ECU on a
// virtual K-line with the KKL link, or behind a virtual ELM327 with the ELM327 link.
template <class Line, class Link>
struct BasicSessionRig {
  VirtualClock clock{1'000'000};
  VirtualEcu ecu;
  Line line{ecu, clock};
  SpyPort port{line, clock};
  Link link{port, clock};
  HistoryStore history{clock};
  ScriptedUi ui;
  DiagSession session{link, history, clock, ui};

  BasicSessionRig() {
    ui.session = &session;
    ui.clock = &clock;
    session.ComPort = 3;
    session.PollEnabled = true;  // as the window's creation leaves it
    session.FormShow();
  }

  // The first tick of the window: opens the session.
  bool ConnectByTick() {
    session.PollStep();
    return session.Connected;
  }
  // n ticks; returns the requests sent during them.
  std::vector<std::vector<uint8_t>> Ticks(int n) {
    const size_t from = port.writes.size();
    for (int i = 0; i < n; ++i) {
      session.PollStep();
      clock.Sleep(250);
    }
    return port.MessagesSince(from);
  }
};
using SessionRig = BasicSessionRig<VirtualLine, KwpLink>;
using ElmSessionRig = BasicSessionRig<VirtualElmPort, ElmLink>;

using Bytes = std::vector<uint8_t>;
inline const Bytes kLiveData{0x21, 0x01};
inline const Bytes kTesterPresent{0x3E, 0x01};
inline const Bytes kReadDtc{0x18, 0x00, 0x00, 0x00};
inline const Bytes kClearDtc{0x14, 0x00, 0x00};
inline const Bytes kReadAdc{0x21, 0x03};

}  // namespace kvd::test
