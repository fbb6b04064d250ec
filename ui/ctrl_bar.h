// SPDX-License-Identifier: GPL-3.0-or-later
// The control bar at the bottom of the diagnostic window: the check box "Управление", the list
// of actuators, the current value, and the track bar or the two switch buttons. The handlers
// are the ECU room's ActuatorControl; this file only draws the controls and forwards to it.
#pragma once

#include <QFrame>

#include "ecu/actuator_control.h"

class QCheckBox;
class QComboBox;
class QKeyEvent;
class QLineEdit;
class QPushButton;
class QSlider;

namespace kvd {

class DiagSession;
class EcuUi;

class TCtrlBar : public QFrame, public ActuatorBar {
  Q_OBJECT
 public:
  TCtrlBar(DiagSession& session, EcuUi& ui, QWidget* parent);

  // Session hooks: on-line enables the bar, attaches the track bar and unchecks the box
  // (a return of control is not tried, the session is not open yet); off-line disables the
  // bar and detaches the track bar.
  void SetPanelEnabled(bool enabled);
  // Unchecks the box, which returns control. False when the return failed.
  bool Release();
  // The periodic re-read of the selected item.
  void Refresh() { control_.comboCtrlChange(CtrlSender::PollTimer); }
  // Whether a key press for receiver is typing into the list, which opens it at the first item
  // that starts with the typed text: the window then leaves the key to the list.
  bool ListTakesKey(const QObject* receiver, const QKeyEvent& event) const;

  static constexpr int kItemHeight = 16;  // of the list's rows

  ActuatorControl& Control() { return control_; }
  QCheckBox* cbCtrl() const { return cbCtrl_; }
  QComboBox* comboCtrl() const { return comboCtrl_; }
  QLineEdit* eCtrl() const { return eCtrl_; }
  QSlider* tbCtrl() const { return tbCtrl_; }
  QPushButton* bOn() const { return bOn_; }
  QPushButton* bOff() const { return bOff_; }
  bool TrackHandlerAttached() const { return attached_; }

  // --- ActuatorBar
  bool Checked() override;
  void SetChecked(bool on) override;
  int32_t SelectedIndex() override;
  void ClearSelection() override;
  void SetControlsEnabled(bool enabled) override;
  void ShowTrackBar(bool trackBar) override;
  int32_t TrackPosition() override;
  void SetTrackPosition(int32_t position) override;
  void SetValueText(const std::string& text) override;
  void SetTrackHandlerAttached(bool attached) override { attached_ = attached; }

 private:
  ActuatorControl control_;
  QCheckBox* cbCtrl_ = nullptr;
  QComboBox* comboCtrl_ = nullptr;
  QLineEdit* eCtrl_ = nullptr;
  QSlider* tbCtrl_ = nullptr;
  QPushButton* bOn_ = nullptr;
  QPushButton* bOff_ = nullptr;
  bool attached_ = false;
};

}  // namespace kvd
