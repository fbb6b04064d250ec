// SPDX-License-Identifier: GPL-3.0-or-later
// The handlers of the control bar: report, adjust, switch and return control.
#include "ecu/actuator_control.h"

#include <algorithm>

#include "ecu/ecu_ui.h"
#include "ecu/poll_hold.h"
#include "link/kwp.h"
#include "session/diag_session.h"
#include "session/response_codes.h"

namespace kvd {

const std::array<ActuatorItem, kActuatorCount> kActuatorItems = {{
    {"Жел. положение РХХ", 0x41, true},
    {"Жел. обороты ХХ", 0x42, true},
    {"Форсунка 1", 0x01, false},
    {"Форсунка 2", 0x02, false},
    {"Форсунка 3", 0x03, false},
    {"Форсунка 4", 0x04, false},
    {"Зажигание 1-4", 0x05, false},
    {"Зажигание 2-3", 0x06, false},
    {"Реле бензонасоса", 0x09, false},
    {"Реле вентилятора", 0x0A, false},
    {"Реле кондиционера", 0x0B, false},
    {"Лампа Check Engine", 0x0C, false},
    {"Клапан продувки адсорбера", 0x0D, false},
}};

namespace {

// Answer bytes of the report: the set position, the idle speed set point / 10.
constexpr size_t kStateByte = 3;
constexpr size_t kIdleSetByte = 6;
// The refusal's response code.
constexpr size_t kCodeByte = 2;

bool ValidIndex(int32_t index) {
  return index >= 0 && index < kActuatorCount;
}

}  // namespace

uint8_t TrackValueByte(int32_t position) {
  return static_cast<uint8_t>(std::clamp(position, kTrackMin, kTrackMax) + 128);
}

int32_t TrackPositionOf(uint8_t value) {
  return int32_t{value} - 128;
}

std::string ActuatorValueText(int32_t index, std::span<const uint8_t> answer) {
  if (!ValidIndex(index)) return {};
  if (index == 1) {
    if (answer.size() <= kIdleSetByte) return {};
    return std::to_string(answer[kIdleSetByte] * 10);
  }
  if (answer.size() <= kStateByte) return {};
  if (index == 0) return std::to_string(answer[kStateByte]);
  return answer[kStateByte] != 0 ? "вкл." : "выкл.";
}

bool ActuatorControl::Answered(int32_t result, uint8_t id) {
  if (result < 0) {
    session_.Disconnect();
    ui_.ShowMessage(LinkLostMessage(kSvcInputOutputControl));
    return false;
  }
  const std::span<const uint8_t> answer = LastAnswer(session_.Link());
  // Only a positive answer speaks about the output. After a wrong checksum the buffer still
  // holds an earlier answer (live data 61 01 ... looks like an answer about output 01), and an
  // answer to another service says nothing about it either.
  if (result == kKwpPositive && answer.size() > 1 && answer[1] == id) return true;
  session_.PollEnabled = true;
  return false;
}

void ActuatorControl::ShowRefusal(int32_t result) {
  const std::span<const uint8_t> answer = LastAnswer(session_.Link());
  // A refusal (7F 30 code, also the last of a busy storm) or a positive answer about another
  // output names a response code; anything else has none to explain.
  const bool hasCode =
      result == kKwpPositive || result == kKwpNegative || result == kKwpTooManyBusy;
  ui_.ShowMessage(hasCode && answer.size() > kCodeByte ? ResponseCodeText(answer[kCodeByte])
                                                       : KwpErrorMessage(kSvcInputOutputControl));
}

bool ActuatorControl::cbCtrlClick() {
  if (bar_.Checked()) {
    TouchedItems.fill(false);
    bar_.SetControlsEnabled(true);
    comboCtrlChange(CtrlSender::User);
    return true;
  }
  bar_.SetControlsEnabled(false);
  return ReturnControl();
}

void ActuatorControl::comboCtrlChange(CtrlSender sender) {
  const int32_t index = bar_.SelectedIndex();
  // Only while "Управление" is checked: an output taken otherwise would never be handed back.
  if (!ValidIndex(index) || !session_.Connected || !bar_.Checked()) return;
  const ActuatorItem& item = kActuatorItems[static_cast<size_t>(index)];
  const bool fromTimer = sender == CtrlSender::PollTimer;
  session_.PollEnabled = false;
  bar_.SetTrackHandlerAttached(false);
  bar_.ShowTrackBar(item.SetValue);
  TouchedItems[static_cast<size_t>(index)] = true;

  const int32_t result = session_.Link().IoReportCurrentState(item.LocalId);
  if (!Answered(result, item.LocalId)) {
    if (result < 0) return;  // the session is closed; the bar was detached with it
    if (!fromTimer) {
      // The selection goes before the message: the poll cycle runs while the box is shown,
      // and its refresh must not ask the refused item again.
      bar_.ClearSelection();
      ShowRefusal(result);
    }
    bar_.SetTrackHandlerAttached(true);
    return;
  }
  const std::span<const uint8_t> answer = LastAnswer(session_.Link());
  bar_.SetValueText(ActuatorValueText(index, answer));
  const size_t positionByte = index == 0 ? kStateByte : kIdleSetByte;
  if (item.SetValue && answer.size() > positionByte)
    bar_.SetTrackPosition(TrackPositionOf(answer[positionByte]));
  bar_.SetTrackHandlerAttached(true);
  session_.PollEnabled = true;
}

void ActuatorControl::tbCtrlChange(CtrlSender sender) {
  if (!session_.Connected || !bar_.Checked()) return;
  session_.PollEnabled = false;
  const int32_t index = bar_.SelectedIndex();
  if (!ValidIndex(index)) {
    session_.PollEnabled = true;
    return;
  }
  const ActuatorItem& item = kActuatorItems[static_cast<size_t>(index)];
  EcuLink& link = session_.Link();
  const int32_t result =
      item.SetValue ? link.IoShortTermAdjustment(item.LocalId, TrackValueByte(bar_.TrackPosition()))
                    : link.IoExecuteControlOption(item.LocalId, sender == CtrlSender::On ? 1 : 0);
  if (!Answered(result, item.LocalId)) {
    if (result >= 0) ShowRefusal(result);
    return;
  }
  // eCtrl follows at the next periodic refresh.
  session_.PollEnabled = true;
}

bool ActuatorControl::ReturnControl() {
  if (!session_.Connected) return true;
  ui_.SetBusyCursor(true);
  ui_.ShowBusyNotice(kReturnControlNotice);
  session_.PollEnabled = false;
  bar_.SetTrackHandlerAttached(false);
  bar_.SetChecked(false);
  bar_.SetControlsEnabled(false);

  std::string error;
  int32_t failures = 0;
  std::string report;
  for (int32_t i = 0; i < kActuatorCount; ++i) {
    if (!TouchedItems[static_cast<size_t>(i)]) continue;
    const ActuatorItem& item = kActuatorItems[static_cast<size_t>(i)];
    // A refusal (a result above 0) counts as done: the ECU has the output anyway.
    if (session_.Link().IoReturnControlToEcu(item.LocalId) >= 0) continue;
    if (++failures > 3) {
      error = kReturnControlAbortText;
      break;
    }
    report += std::string(" - ") + item.Text + "\n";
  }
  if (error.empty() && !report.empty()) error = kReturnControlFailedText + report;

  ui_.SetBusyCursor(false);
  ui_.HideBusyNotice();
  bar_.SetTrackHandlerAttached(true);
  session_.PollEnabled = true;
  if (error.empty()) return true;
  ui_.ShowMessage(error);
  return false;
}

}  // namespace kvd
