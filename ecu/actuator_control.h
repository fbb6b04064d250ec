// Actuator control: taking over one of thirteen ECU outputs or set points for a test with
// InputOutputControlByLocalIdentifier (30), and handing every touched output back.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>

namespace kvd {

class DiagSession;
class EcuUi;

inline constexpr int32_t kActuatorCount = 13;

struct ActuatorItem {
  const char* Text;  // the text of the drop-down list
  uint8_t LocalId;   // the local identifier sent to the ECU
  bool SetValue;     // true: a value set with the track bar; false: switched on and off
};

// The items of comboCtrl, in the order of the list.
extern const std::array<ActuatorItem, kActuatorCount> kActuatorItems;

inline constexpr char kReturnControlNotice[] = "Возврат управления...";
inline constexpr char kReturnControlAbortText[] = "Ошибка возврата управления!";
inline constexpr char kReturnControlFailedText[] =
    "Ошибка при возврате управления.\nВозможно, ПО не поддерживает функцию управления:\n\n";

inline constexpr int32_t kTrackMin = -128;
inline constexpr int32_t kTrackMax = 127;

// The value byte sent for a track-bar position (-128..127 gives 00..FF; outside, clamped).
uint8_t TrackValueByte(int32_t position);
// The track-bar position of a value byte read from the ECU.
int32_t TrackPositionOf(uint8_t value);

// What eCtrl shows for item `index` from a report answer (service byte first): the set
// position (byte 3) or the idle speed set point (byte 6 x 10) in decimal, or "вкл."/"выкл."
// from byte 3. Empty when the answer lacks the byte.
std::string ActuatorValueText(int32_t index, std::span<const uint8_t> answer);

// Who ran comboCtrlChange or tbCtrlChange.
enum class CtrlSender {
  User,       // the check box or the drop-down list
  PollTimer,  // the periodic refresh
  TrackBar,   // the track bar moved
  On,         // bOn "Включить"
  Off,        // bOff "Выключить"
};

// The controls of the control bar as the logic sees them; the window's bar implements it,
// the tests with a fake. Setters never run the handlers of the bar.
class ActuatorBar {
 public:
  virtual ~ActuatorBar() = default;
  virtual bool Checked() = 0;            // cbCtrl
  virtual void SetChecked(bool on) = 0;  // cbCtrl, without running cbCtrlClick
  virtual int32_t SelectedIndex() = 0;   // comboCtrl, -1 for none
  virtual void ClearSelection() = 0;     // comboCtrl
  // comboCtrl, eCtrl, tbCtrl, bOn and bOff: enabled only while cbCtrl is checked.
  virtual void SetControlsEnabled(bool enabled) = 0;
  virtual void ShowTrackBar(bool trackBar) = 0;  // true: tbCtrl; false: bOn and bOff
  virtual int32_t TrackPosition() = 0;
  virtual void SetTrackPosition(int32_t position) = 0;
  virtual void SetValueText(const std::string& text) = 0;  // eCtrl
  // Attaches or detaches tbCtrlChange from the track bar's moves.
  virtual void SetTrackHandlerAttached(bool attached) = 0;
};

// The handlers of the control bar. Every request holds the poll cycle; a broken link ends
// the session with "Связь прервана: InputOutputControlByLocalIdentifier". The bar acts on the
// ECU only while cbCtrl is checked, so that every output it takes is handed back when the box
// is unchecked (by the user, or by the window's close).
class ActuatorControl {
 public:
  ActuatorControl(DiagSession& session, EcuUi& ui, ActuatorBar& bar)
      : session_(session), ui_(ui), bar_(bar) {}

  // The check box changed. Unchecking returns control; false when that failed.
  bool cbCtrlClick();
  // An item was selected (User) or the periodic refresh (PollTimer): reads its state.
  void comboCtrlChange(CtrlSender sender);
  // The track bar moved (TrackBar) or bOn / bOff was pressed.
  void tbCtrlChange(CtrlSender sender);
  // Hands every touched output back to the ECU. False when an error was shown.
  bool ReturnControl();

  // The items selected since the box was last checked: they are handed back.
  std::array<bool, kActuatorCount> TouchedItems{};

 private:
  // The result of a control request: below 0 ends the session. True for an answer about the
  // item's identifier; otherwise the poll cycle is let go again.
  bool Answered(int32_t result, uint8_t id);
  // Tells the user why the last control request was not answered about its item.
  void ShowRefusal(int32_t result);

  DiagSession& session_;
  EcuUi& ui_;
  ActuatorBar& bar_;
};

}  // namespace kvd
