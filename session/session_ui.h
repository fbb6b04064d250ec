// What the diagnostic session needs from the window that shows it.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>

namespace kvd {

// The three states of the link indicator in the status bar.
enum class LinkState : int32_t {
  Offline = 0,     // "OFF-LINE", icon 1
  Online = 1,      // "ON-LINE", icon 2
  Connecting = 2,  // "Соединение " and the attempt number, icon 0
};

// Icon index of the window's 16-pixel image list for a link state.
constexpr int32_t LinkStateIcon(LinkState state) {
  switch (state) {
    case LinkState::Offline:
      return 1;
    case LinkState::Online:
      return 2;
    case LinkState::Connecting:
      return 0;
  }
  return 1;
}

// The menu items whose state the session decides. The window applies the whole set
// whenever ApplyMenus is called.
struct SessionMenus {
  std::string ConnectCaption = "Уст.связь";  // miConnect: "Уст.связь" / "Прервать"
  bool ParamsEnabled = false;                // miParams "Сведения"
  std::string PauseCaption = "Пауза";        // miPause: "Пауза" / "Продолжить"
  bool PauseEnabled = false;
  std::string StopCaption = "Стоп";  // miStop: "Стоп" / "Продолжить"
  bool StopEnabled = false;
  bool OpenDiagDataEnabled = true;  // miOpenDiagData
  bool NavigationEnabled = false;   // miLeft, miRight, miFrameLeft, miFrameRight

  bool operator==(const SessionMenus&) const = default;
};

// The six texts of the ADC bar, in the order of the bar.
enum AdcChannel : int32_t {
  kAdcMaf = 0,      // "ДМРВ", eADCMAF
  kAdcTps = 1,      // "ДПДЗ", eADCTPS
  kAdcMap = 2,      // "ДД", eADCDD
  kAdcLambda = 3,   // "ДК", eADCLAM
  kAdcCoolant = 4,  // "ДТОЖ", eADCTWAT
  kAdcBattery = 5,  // "АКБ", eADCACC
  kAdcChannelCount = 6,
};
using AdcTexts = std::array<std::string, kAdcChannelCount>;

// Implemented by the diagnostic window (and by the scripted fake of the tests). Every call
// comes from the user-interface thread, from inside a session operation.
class SessionUi {
 public:
  virtual ~SessionUi() = default;

  // A plain modal message box with the text; returns when the user has closed it.
  virtual void ShowMessage(const std::string& text) = 0;

  // The connect progress box: non-modal, information icon, a single Cancel button.
  virtual void ShowConnectBox(const std::string& text) = 0;
  // True once the user has closed the box with Cancel.
  virtual bool ConnectBoxCancelled() = 0;
  // Destroys the box (nothing happens when none is shown).
  virtual void CloseConnectBox() = 0;
  // Handles the window messages that are pending, so that Cancel and repaints work.
  virtual void ProcessMessages() = 0;

  // The link indicator: icon LinkStateIcon(state) and the text; the status bar is repainted.
  virtual void ShowLinkState(LinkState state, const std::string& text) = 0;
  // Applies the session's menu states.
  virtual void ApplyMenus(const SessionMenus& menus) = 0;
  // Status-bar panel 3: the warning of a live-data answer of the wrong length, or blanks.
  virtual void SetStatusWarning(const std::string& text) = 0;

  // Actuator control: enabled true enables panelCtrl, attaches tbCtrlChange and unchecks
  // cbCtrl; false disables panelCtrl and detaches the track bar's handler.
  virtual void SetActuatorPanel(bool enabled) = 0;
  // Whether the check box "Управление" (cbCtrl) is checked.
  virtual bool ActuatorControlChecked() = 0;
  // Unchecks cbCtrl, which returns the actuator to the ECU (used when the window closes).
  virtual void ReleaseActuatorControl() = 0;
  // The periodic re-read of the selected actuator (comboCtrlChange with the poll timer as
  // sender). The link is the session's; the hook may use it.
  virtual void RefreshActuator() = 0;

  // Whether "Каналы АЦП" (miADC) is checked.
  virtual bool AdcShown() = 0;
  // Fills the six texts of the ADC bar; an empty text means the answer lacked that byte.
  virtual void ShowAdcValues(const AdcTexts& texts) = 0;

  // A ReadDTCByStatus answer arrived: answer holds its message bytes (service byte first,
  // only the bytes of the answer), errorMask the ErrorMask of the last live data. The
  // window builds the list (BuildDtcList) and shows it (ShowTroubleCodes).
  virtual void TroubleCodesRead(std::span<const uint8_t> answer, uint32_t errorMask) = 0;
  // Closes the trouble-code list / the learn-memory window when the session ends.
  virtual void CloseTroubleCodeList() = 0;
  virtual void CloseLearnMemory() = 0;
};

}  // namespace kvd
