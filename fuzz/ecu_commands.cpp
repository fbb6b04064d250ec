// Fuzz target: the poll step and the ECU commands (identification, learn memory, actuator
// control, flags, immobilizer, ADC channels, trouble codes, reset) fed ECU answer bytes.
// Input: a count and that many command bytes, then every byte the ECU sends, in order.
// SPDX-License-Identifier: GPL-3.0-or-later
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "data/history.h"
#include "ecu/actuator_control.h"
#include "ecu/dtc.h"
#include "ecu/ecu_status.h"
#include "ecu/ecu_ui.h"
#include "ecu/identification.h"
#include "ecu/learn_memory.h"
#include "ecu/poll_hold.h"
#include "fuzz_port.h"
#include "link/kwp.h"
#include "session/diag_session.h"

namespace {

using kvd::fuzz::InputReader;

// The window as the commands see it: every answer is taken, nothing is shown.
class Window final : public kvd::SessionUi, public kvd::EcuUi, public kvd::ActuatorBar {
 public:
  kvd::ActuatorControl* control = nullptr;
  bool confirm = true;
  bool checked = false;
  int32_t selected = -1;
  int32_t position = 0;
  size_t messages = 0;

  // SessionUi and EcuUi
  // "Комплектация" of an ECU with no flag set shows an empty message, as it should.
  void ShowMessage(const std::string&) override { ++messages; }
  void ShowConnectBox(const std::string&) override {}
  bool ConnectBoxCancelled() override { return false; }
  void CloseConnectBox() override {}
  void ProcessMessages() override {}
  void ShowLinkState(kvd::LinkState, const std::string&) override {}
  void ApplyMenus(const kvd::SessionMenus&) override {}
  void SetStatusWarning(const std::string&) override {}
  void SetActuatorPanel(bool) override {}
  bool ActuatorControlChecked() override { return checked; }
  void ReleaseActuatorControl() override {
    checked = false;
    if (control) control->cbCtrlClick();
  }
  void RefreshActuator() override {
    if (control) control->comboCtrlChange(kvd::CtrlSender::PollTimer);
  }
  bool AdcShown() override { return adcShown; }
  void ShowAdcValues(const kvd::AdcTexts&) override {}
  void TroubleCodesRead(std::span<const uint8_t> answer, uint32_t errorMask) override {
    const kvd::DtcList list = kvd::BuildDtcList(answer, errorMask);
    (void)kvd::DtcGridRows(list, kvd::DtcLanguage::Russian);
  }
  void CloseTroubleCodeList() override {}
  void CloseLearnMemory() override {}
  bool Confirm(const std::string&) override { return confirm; }
  void SetBusyCursor(bool) override {}
  void ShowBusyNotice(const std::string&) override {}
  void HideBusyNotice() override {}

  // ActuatorBar
  bool Checked() override { return checked; }
  void SetChecked(bool on) override { checked = on; }
  int32_t SelectedIndex() override { return selected; }
  void ClearSelection() override { selected = -1; }
  void SetControlsEnabled(bool) override {}
  void ShowTrackBar(bool) override {}
  int32_t TrackPosition() override { return position; }
  void SetTrackPosition(int32_t p) override {
    KVD_FUZZ_CHECK(p >= kvd::kTrackMin && p <= kvd::kTrackMax);
    position = p;
  }
  void SetValueText(const std::string&) override {}
  void SetTrackHandlerAttached(bool) override {}

  bool adcShown = false;
};

// The identification dialog: "Сохранить" with texts made from the records read.
class Editor final : public kvd::IdentEditor {
 public:
  std::optional<kvd::IdentValues> EditIdentification(const kvd::IdentValues& values) override {
    kvd::IdentValues texts = values;
    for (std::string& t : texts) t += "1";
    return texts;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // One store for the whole run (mapping 32 MiB per input would dominate the time), on a
  // clock of its own; everything else starts afresh with each input.
  static kvd::VirtualClock historyClock;
  static kvd::HistoryStore history(historyClock);
  history.Reset();
  kvd::VirtualClock clock;

  InputReader in({data, size});
  std::vector<uint8_t> script(in.Byte() % 9);
  for (uint8_t& c : script) c = in.Byte();

  kvd::fuzz::StreamPort port(clock, in.Rest());
  port.OpenPort(1);
  kvd::KwpLink link(port, clock);
  link.TargetAddress = 0x10;
  Window window;
  kvd::DiagSession session(link, history, clock, window);
  kvd::ActuatorControl control(session, window, window);
  window.control = &control;
  session.Connected = true;
  session.PollEnabled = true;

  for (const uint8_t c : script) {
    const uint8_t arg = c >> 4;
    switch (c & 0x0F) {
      case 0: {
        kvd::IdentValues values;
        kvd::ReadIdentification(session, window, values);
        break;
      }
      case 1: {
        Editor editor;
        kvd::RunIdentification(session, window, editor);
        break;
      }
      case 2: {
        kvd::LearnTable table{};
        if (kvd::ReadLearnMemory(session, window, 1 + (arg & 1), table))
          (void)kvd::LearnTableText(table, ',', "\r\n");
        break;
      }
      case 3:
        kvd::ShowConfigFlags(session, window);
        break;
      case 4:
        kvd::ShowImmoStatus(session, window);
        break;
      case 5: {
        std::vector<uint8_t> answer;
        if (kvd::ReadAdcChannels(session, window, answer) == kvd::kKwpPositive)
          (void)kvd::AdcChannelTexts(answer, ',');
        break;
      }
      case 6:
        window.selected = arg < kvd::kActuatorCount ? arg : -1;
        window.checked = true;
        control.cbCtrlClick();
        break;
      case 7:
        window.selected = arg < kvd::kActuatorCount ? arg : -1;
        window.position = arg * 16 - 128;
        control.tbCtrlChange((arg & 1) ? kvd::CtrlSender::On : kvd::CtrlSender::TrackBar);
        break;
      case 8:
        window.checked = false;
        control.cbCtrlClick();
        break;
      case 9:
      case 10:
      case 11:
        // A tick of a session that ended would connect anew: that is command 14.
        if (!session.Connected) break;
        session.Tag = arg & (kvd::kErrListShown | kvd::kClearRequested);
        window.adcShown = (arg & 4) != 0;
        session.PollEnabled = true;
        session.PollStep();
        break;
      case 12: {
        kvd::DtcList list{};
        kvd::ReadTroubleCodesOnce(session, window, (arg & 1) != 0, list);
        break;
      }
      case 13:
        window.confirm = (arg & 1) != 0;
        kvd::ResetEcu(session, window, (arg & 2) != 0);
        break;
      default:
        session.PollEnabled = true;
        session.Connected = false;
        session.PollStep();  // connects
        break;
    }
    KVD_FUZZ_CHECK(history.RecordCount() >= 0);

    // Every reader of an answer on whatever answer came last.
    const std::span<const uint8_t> last = kvd::LastAnswer(link);
    KVD_FUZZ_CHECK(kvd::IdentValueOfAnswer(last).size() <= 253);
    std::array<uint8_t, kvd::kLearnBlockSize> block{};
    (void)kvd::LearnBlockOfAnswer(last, block);
    for (int32_t i = -1; i <= kvd::kActuatorCount; ++i) (void)kvd::ActuatorValueText(i, last);
    (void)kvd::ConfigFlagsText(last);
    (void)kvd::ImmoStatusText(last);
    (void)kvd::AdcChannelTexts(last, '.');
  }
  return 0;
}
