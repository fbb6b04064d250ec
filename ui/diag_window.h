// SPDX-License-Identifier: GPL-3.0-or-later
// The diagnostic window of the J5E2 family: seven graph panes over the recording, the ADC bar,
// the control bar, the status bar with the link indicator, the menus and keys, zoom, pause and
// navigation. It owns the session, the poll timer, the recording and the panes; the link, the
// clock and the settings come from whoever creates it.
#pragma once

#include <QMainWindow>
#include <QPointer>
#include <QString>
#include <array>
#include <functional>
#include <memory>

#include "ecu/ecu_ui.h"
#include "session/session_ui.h"
#include "settings/settings_store.h"
#include "ui/diag_files.h"
#include "ui/diag_sets.h"
#include "ui/frm_blm.h"
#include "ui/frm_err_list.h"
#include "ui/frm_graph.h"

class QAction;
class QFrame;
class QLabel;
class QLineEdit;
class QMenu;
class QMessageBox;
class QTimer;

namespace kvd {

class DiagRecovery;
class DiagSession;
class FloatingParameters;
class HistoryStore;
class EcuLink;
class TCtrlBar;
class TFormBLM;
class TRxTimer;

struct DiagWindowConfig {
  EcuLink* link = nullptr;           // the program's link (port and clock); required
  UserSettings* settings = nullptr;  // the user store; required
  PollSettings poll;                 // from the ini file
  uint16_t comPort = 1;              // ComPort
  std::string comDevice;             // a device path instead of the number, or empty
  bool autoConnect = true;           // false: stay off-line until "Уст.связь"
  int32_t visiblePointCount = 40;    // the running start value of the panes
  QWidget* launcher = nullptr;       // placement (left + 100, top + 100) and the busy notice
  // Where the window's modal messages go. Empty: a modal message box.
  std::function<void(const QString&)> messageSink;
  // The dialogs of saving and opening files. Empty members: the real dialogs.
  DiagFileUi fileUi;
  // The file the launcher's import chose: opened at creation instead of connecting.
  QString openFileName;
  // Where the window's Yes/No/Cancel questions go (true: Yes). Empty: a modal question box.
  std::function<bool(const QString&)> confirmSink;
  // The folder of the recording's recovery file; empty: no recovery file.
  QString recoveryDir;
};

class TFormDiagJ5E2 : public QMainWindow, public SessionUi, public EcuUi {
  Q_OBJECT
 public:
  explicit TFormDiagJ5E2(DiagWindowConfig config, QWidget* parent = nullptr);
  ~TFormDiagJ5E2() override;

  // --- layout and display
  void ApplyCurrentSet();
  void LayOutPanes();
  void ShowNewestRecord(int32_t index);
  void ShowBusyNotice(const QString& text, int ms);
  void HideBusyNotice() override;
  bool BusyNoticeShown() const;

  // --- commands of the menus and keys
  void miConnectClick();
  void miPauseClick();     // "Пауза"
  void miStopClick();      // "Стоп"
  void miWiderClick();     // "Шире": half the points, at least 4
  void miNarrowerClick();  // "Уже": twice the points, at most 200
  void miLeftClick();
  void miRightClick();
  void miFrameLeftClick();
  void miFrameRightClick();
  void miResetDataClick();
  void miCancelSelectClick();
  void miADCClick();
  void miErrListClick();     // "Ошибки": the trouble-code list
  void miIDClick();          // "Идентификаторы"
  void miComplectClick();    // "Комплектация"
  void miECUResetClick();    // "Сброс ЭБУ"
  void miImmoStatusClick();  // "Статус иммобилайзера" (hidden; Shift+Ctrl+I)
  void miMeasureClick();     // "Измерения"
  // The floating windows' slots from the user store; runs once, on the first activation.
  void RestoreFloatingWindows();
  // "Память обучения, банк 1" / "банк 2": reads the bank and shows it in the learn-memory window.
  void miLearn1Click(int bank);
  void miSaveDiagDataClick();
  void miOpenDiagDataClick();
  void ChooseSet(int set);
  void miChangeSetClick();  // "Изменить наборы данных": the set editor
  void miCfgClick();  // "Настройка": the settings dialog; the panes take the new look
  // The poll timer's tick.
  void ComTimerTimer();

  // --- state for the launcher and tests
  DiagSession& Session() { return *session_; }
  HistoryStore& History() { return *history_; }
  DiagFiles& Files() { return *files_; }
  DiagRecovery* Recovery() const { return recovery_.get(); }  // null without a folder
  GraphShared& Shared() { return shared_; }
  FloatingParameters& Floats() { return *floats_; }
  TfrmGraph* Pane(int i) const { return panes_[static_cast<size_t>(i)]; }  // 0..6
  TRxTimer* ComTimer() const { return comTimer_; }
  int CurrentSet() const { return currentSet_; }
  const SetTable& Sets() const { return sets_; }
  QWidget* ClientArea() const { return client_; }
  QFrame* PanelADC() const { return panelADC_; }
  QFrame* PanelCtrl() const;
  TCtrlBar* CtrlBar() const { return panelCtrl_; }
  TFormBLM* FormBLM() const { return formBlm_; }
  QWidget* StatusBarPanel(int i) const;
  QString LinkText() const;
  int LinkIcon() const { return linkIcon_; }
  QString StatusText(int panel) const;
  QAction* Action(const QString& objectName) const;
  QMenu* DataMenu() const { return miData_; }
  QMenu* ParamsMenu() const { return miParams_; }
  QString AdcText(int channel) const;
  TFormErrList* FormErrList() const { return formErrList_; }

  static constexpr int kCtrlBarHeight = 26;
  static constexpr int kAdcBarHeight = 28;
  static constexpr int kStatusBarHeight = 21;

 signals:
  void Closed();

  // --- SessionUi
 public:
  void ShowMessage(const std::string& text) override;
  void ShowConnectBox(const std::string& text) override;
  bool ConnectBoxCancelled() override;
  void CloseConnectBox() override;
  void ProcessMessages() override;
  void ShowLinkState(LinkState state, const std::string& text) override;
  void ApplyMenus(const SessionMenus& menus) override;
  void SetStatusWarning(const std::string& text) override;
  void SetActuatorPanel(bool enabled) override;
  bool ActuatorControlChecked() override;
  void ReleaseActuatorControl() override;
  void RefreshActuator() override;
  bool AdcShown() override;
  void ShowAdcValues(const AdcTexts& texts) override;
  void TroubleCodesRead(std::span<const uint8_t> answer, uint32_t errorMask) override;
  void CloseTroubleCodeList() override;
  void CloseLearnMemory() override;

  // --- EcuUi (ShowMessage and HideBusyNotice above serve both)
  bool Confirm(const std::string& question) override;
  void SetBusyCursor(bool busy) override;
  void ShowBusyNotice(const std::string& text) override {
    ShowBusyNotice(QString::fromStdString(text), -1);
  }

 protected:
  bool event(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void BuildMenus();
  void BuildBars();
  void BuildPanes();
  void ReadWindowSettings();
  void SaveWindowSettings();
  void UpdateDataMenu();
  // The history emptied, every pane at index 0 (clearing and connecting).
  void EmptyHistory();
  void ForEachPane(const std::function<void(TfrmGraph&)>& f);
  // Every pane shows the window whose newest record is `index`, the cursor on its last point.
  void ShowWindowEndingAt(int32_t index);
  // Every pane shows `count` points, refilled, the cursor on the last one.
  void SetVisiblePointCount(int32_t count);
  void PlaceBars();
  bool HandleKey(QKeyEvent* event);
  // A menu item (a top-level item when menu is null), enabled, with its shortcut for the window.
  QAction* AddAction(QMenu* menu, const QString& objectName, const QString& text,
                     const QKeySequence& shortcut = {});

  DiagWindowConfig config_;
  std::unique_ptr<HistoryStore> history_;
  std::unique_ptr<DiagSession> session_;
  std::unique_ptr<FloatingParameters> floats_;
  std::unique_ptr<DiagFiles> files_;
  std::unique_ptr<DiagRecovery> recovery_;
  GraphShared shared_;
  SetTable sets_;
  int currentSet_ = 1;
  int colorScheme_ = 0;
  int lineWidth_ = 1;
  bool shownOnce_ = false;
  bool closing_ = false;

  QWidget* client_ = nullptr;
  std::array<TfrmGraph*, kPaneCount> panes_{};
  QFrame* panelADC_ = nullptr;
  std::array<QLineEdit*, kAdcChannelCount> adcEdits_{};
  TCtrlBar* panelCtrl_ = nullptr;
  QPointer<TFormBLM> formBlm_;
  QFrame* statusBar_ = nullptr;
  std::array<QLabel*, 4> statusPanels_{};
  QLabel* linkIconLabel_ = nullptr;
  QLabel* linkLabel_ = nullptr;
  int linkIcon_ = 1;
  TRxTimer* comTimer_ = nullptr;

  QMenu* miData_ = nullptr;
  QMenu* miParams_ = nullptr;
  QAction* miParamsAction_ = nullptr;
  QAction* miConnect_ = nullptr;
  QAction* miStop_ = nullptr;
  QAction* miPause_ = nullptr;
  QAction* miLeft_ = nullptr;
  QAction* miRight_ = nullptr;
  QAction* miFrameLeft_ = nullptr;
  QAction* miFrameRight_ = nullptr;
  QAction* miOpenDiagData_ = nullptr;
  QAction* miCancelSelect_ = nullptr;
  QAction* miMeasure_ = nullptr;
  QAction* miADC_ = nullptr;

  QPointer<TFormErrList> formErrList_;
  QPointer<QMessageBox> connectBox_;
  bool connectCancelled_ = false;
  QPointer<QMessageBox> notice_;
  QPointer<QTimer> noticeTimer_;
};

}  // namespace kvd
