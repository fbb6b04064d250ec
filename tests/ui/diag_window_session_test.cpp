// SPDX-License-Identifier: GPL-3.0-or-later
// The diagnostic window with its session on the virtual ECU: connecting from the first tick, the
// link indicator and menus, live data on the panes, the ADC bar, closing and the stored bounds.
#include <QAbstractButton>
#include <QAction>
#include <QFrame>
#include <QMenu>
#include <QMessageBox>
#include <QTimer>

#include "diag_window_fixture.h"
#include "ui/diag_sets.h"

namespace kvd::testing {
namespace {

TEST_F(DiagWindowTest, FirstTickConnectsAndLiveDataMovesThePanes) {
  TFormDiagJ5E2& w = Open();
  Connect();
  EXPECT_EQ(w.LinkText(), QStringLiteral("ON-LINE"));
  EXPECT_EQ(w.LinkIcon(), 2);
  EXPECT_EQ(w.Action("miConnect")->text(), QStringLiteral("Прервать"));
  EXPECT_TRUE(w.ParamsMenu()->menuAction()->isEnabled());
  EXPECT_TRUE(w.PanelCtrl()->isEnabled());
  EXPECT_TRUE(messages_.empty());
  Ticks(5);
  EXPECT_EQ(w.History().RecordCount(), 5);
  for (int i = 0; i < kPaneCount; ++i) {
    EXPECT_EQ(w.Pane(i)->NewestShownIndex(), 4) << i;
    EXPECT_EQ(w.Pane(i)->PointRecord(39), 4) << i;
    EXPECT_EQ(w.Pane(i)->PointRecord(34), -1) << i;  // left of the first record
  }
  // The engine speed of the newest record is on the indicator of pane 1 (cursor on the last point).
  const double rpm = w.Pane(0)->PointValue(39);
  EXPECT_GT(rpm, 300.0);
  EXPECT_NE(w.Pane(0)->IndicatorText(), QStringLiteral("- - - -"));
}

TEST_F(DiagWindowTest, ResetHistoryShowsNoRecordInsteadOfStaleRecordZero) {
  TFormDiagJ5E2& w = Open();
  Connect();
  Ticks(10);
  w.Action("miResetData")->trigger();
  EXPECT_EQ(w.History().RecordCount(), 0);
  for (int i = 0; i < kPaneCount; ++i) {
    EXPECT_EQ(w.Pane(i)->NewestShownIndex(), 0) << i;
    EXPECT_EQ(w.Pane(i)->CursorIndex(), 39) << i;
    // Record 0 still holds old bytes but is no longer part of the recording.
    EXPECT_EQ(w.Pane(i)->PointRecord(39), -1) << i;
  }
  EXPECT_EQ(w.Pane(0)->IndicatorText(), QStringLiteral("- - - -"));
  // The next record becomes record 0 and is shown at the right edge.
  Ticks(1);
  EXPECT_EQ(w.Pane(0)->PointRecord(39), 0);
}

TEST_F(DiagWindowTest, ConnectCommandTogglesTheSessionAndStartsANewRecording) {
  TFormDiagJ5E2& w = Open();
  Connect();
  Ticks(4);
  w.Action("miConnect")->trigger();  // "Прервать"
  EXPECT_FALSE(w.Session().Connected);
  EXPECT_EQ(w.LinkText(), QStringLiteral("OFF-LINE"));
  EXPECT_TRUE(w.Session().Paused);  // off-line leaves the recording browsable
  EXPECT_TRUE(w.Action("miLeft")->isEnabled());
  EXPECT_FALSE(w.Action("miPause")->isEnabled());
  EXPECT_TRUE(messages_.empty());
  EXPECT_TRUE(line_.IsOpen());  // the port stays open
  // Browsing the stopped recording works.
  w.miLeftClick();
  EXPECT_EQ(w.Pane(0)->CursorIndex(), 38);
  w.Action("miConnect")->trigger();  // "Уст.связь"
  EXPECT_TRUE(w.Session().Connected);
  EXPECT_FALSE(w.Session().Paused);
  EXPECT_EQ(w.History().RecordCount(), 0);
  EXPECT_EQ(w.Pane(0)->PointRecord(39), -1);
}

TEST_F(DiagWindowTest, PortThatCannotBeOpenedIsReportedAndTheWindowStaysOffLine) {
  DiagWindowConfig c = Config();
  c.comDevice = "";  // the virtual line refuses numbers in the reserved range
  c.comPort = 65530;
  TFormDiagJ5E2& w = Open(c);
  w.ComTimerTimer();
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0],
            QStringLiteral("Не удалось открыть порт COM65530. Выберите другой порт."));
  EXPECT_FALSE(w.Session().Connected);
  EXPECT_EQ(w.LinkText(), QStringLiteral("OFF-LINE"));
}

TEST_F(DiagWindowTest, AutoConnectOffKeepsTheFirstTickOffLine) {
  DiagWindowConfig c = Config();
  c.autoConnect = false;
  TFormDiagJ5E2& w = Open(c);
  w.ComTimerTimer();
  EXPECT_FALSE(w.Session().Connected);
  EXPECT_FALSE(line_.IsOpen());
  EXPECT_TRUE(messages_.empty());
  w.Action("miConnect")->trigger();
  EXPECT_TRUE(w.Session().Connected);
}

TEST_F(DiagWindowTest, ConnectBoxShowsProgressAndCancelEndsTheAttempts) {
  TFormDiagJ5E2& w = Open();
  ecu_.Faults().unplugged = true;  // no answer: every attempt fails
  bool sawConnecting = false;
  // While the attempts run, the box is up; Cancel ends them.
  QTimer::singleShot(0, &w, [&] {
    for (QMessageBox* box : w.findChildren<QMessageBox*>()) {
      if (!box->isVisible()) continue;
      sawConnecting = box->text() == QString::fromUtf8(kConnectBoxText) &&
                      box->icon() == QMessageBox::Information;
      box->button(QMessageBox::Cancel)->click();
    }
  });
  w.ComTimerTimer();
  EXPECT_TRUE(sawConnecting);
  EXPECT_FALSE(w.Session().Connected);
  EXPECT_LT(w.Session().ConnectAttempt, 10);
  ASSERT_FALSE(messages_.empty());
  EXPECT_EQ(messages_.back(), QString::fromUtf8(kConnectFailedText));
  EXPECT_EQ(w.LinkText(), QStringLiteral("OFF-LINE"));
  for (QMessageBox* box : w.findChildren<QMessageBox*>()) EXPECT_FALSE(box->isVisible());
}

TEST_F(DiagWindowTest, CloseDuringAConnectWaitsUntilTheStepHasReturned) {
  TFormDiagJ5E2& w = Open();
  ecu_.Faults().unplugged = true;
  bool closedInside = true;
  bool closedSignal = false;
  QObject::connect(&w, &TFormDiagJ5E2::Closed, [&] { closedSignal = true; });
  QTimer::singleShot(0, &w, [&] {
    // The user closes the window while the connect box pumps messages.
    closedInside = w.close();
    for (QMessageBox* box : w.findChildren<QMessageBox*>())
      if (box->isVisible()) box->button(QMessageBox::Cancel)->click();
  });
  w.ComTimerTimer();
  EXPECT_FALSE(closedInside);
  EXPECT_FALSE(closedSignal);
  // The step is over: the window now closes by itself.
  for (int i = 0; i < 20 && !closedSignal; ++i) QApplication::processEvents();
  EXPECT_TRUE(closedSignal);
  EXPECT_FALSE(w.isVisible());
  EXPECT_FALSE(line_.IsOpen());
}

// The close of a connect started from "Уст.связь" waits like the close of a tick: the window
// stays up (modal over the launcher) with its port open until the connect has returned, the
// close cancels the attempts, and the failure message comes while the window is still there.
TEST_F(DiagWindowTest, CloseDuringAConnectFromTheMenuWaitsForTheConnectAndCancelsIt) {
  DiagWindowConfig c = Config();
  c.autoConnect = false;  // off-line, as after opening a data file
  bool visibleAtMessage = false;
  c.messageSink = [&](const QString& text) {
    messages_.push_back(text);
    visibleAtMessage = window_ && window_->isVisible();
  };
  TFormDiagJ5E2& w = Open(c);
  w.ComTimerTimer();  // the first tick stays off-line
  ecu_.Faults().unplugged = true;
  bool closedInside = true;
  bool visibleInside = false;
  bool portOpenInside = false;
  bool closedSignal = false;
  QObject::connect(&w, &TFormDiagJ5E2::Closed, [&] { closedSignal = true; });
  QTimer::singleShot(0, &w, [&] {
    closedInside = w.close();
    visibleInside = w.isVisible();
    portOpenInside = line_.IsOpen();
  });
  const uint64_t start = clock_.MicrosNow();
  w.Action("miConnect")->trigger();
  EXPECT_FALSE(closedInside);
  EXPECT_TRUE(visibleInside);
  EXPECT_TRUE(portOpenInside);
  EXPECT_FALSE(closedSignal);
  // The close ended the connect at once instead of after ten attempts.
  EXPECT_LE(w.Session().ConnectAttempt, 1);
  EXPECT_LT(clock_.MicrosNow() - start, 1'000'000u);
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0], QString::fromUtf8(kConnectFailedText));
  EXPECT_TRUE(visibleAtMessage);
  // Then the window closes by itself, and the port with it.
  for (int i = 0; i < 20 && !closedSignal; ++i) QApplication::processEvents();
  EXPECT_TRUE(closedSignal);
  EXPECT_FALSE(w.isVisible());
  EXPECT_FALSE(line_.IsOpen());
  for (QMessageBox* box : w.findChildren<QMessageBox*>()) EXPECT_FALSE(box->isVisible());
}

TEST_F(DiagWindowTest, AdcBarShowsTheChannelsWhileChecked) {
  TFormDiagJ5E2& w = Open();
  Connect();
  w.Action("miADC")->trigger();
  Ticks(1);
  for (int ch = 0; ch < kAdcChannelCount; ++ch) EXPECT_FALSE(w.AdcText(ch).isEmpty()) << ch;
  EXPECT_TRUE(w.AdcText(kAdcBattery).contains(QLatin1Char('.')));
}

TEST_F(DiagWindowTest, ClosingEndsTheSessionClosesThePortAndStoresBoundsAndSets) {
  {
    TFormDiagJ5E2& w = Open();
    Connect();
    w.resize(800, 600);
    w.move(40, 50);
    QApplication::processEvents();
    bool closedSignal = false;
    QObject::connect(&w, &TFormDiagJ5E2::Closed, [&] { closedSignal = true; });
    EXPECT_TRUE(w.close());
    EXPECT_TRUE(closedSignal);
    EXPECT_FALSE(w.Session().Connected);
    EXPECT_FALSE(line_.IsOpen());
    EXPECT_FALSE(ecu_.SessionOpen());
  }
  EXPECT_EQ(settings_->ReadInt("", "DiagWindowWidth"), 800);
  EXPECT_EQ(settings_->ReadInt("", "DiagWindowHeight"), 600);
  EXPECT_TRUE(settings_->Contains("", "DiagWindowLeft"));
  EXPECT_EQ(settings_->ReadString("Janvar5_E2", "DiagSetName3"), QStringLiteral("Набор 3"));
  EXPECT_EQ(settings_->ReadInt("Janvar5_E2", "DiagSetIdx2-1"), 19);
  EXPECT_EQ(settings_->ReadInt("Janvar5_E2", "DiagSetOpt10-7"), 1);
  // The next window takes the stored size.
  window_.reset();
  TFormDiagJ5E2& again = Open();
  EXPECT_EQ(again.size(), QSize(800, 600));
}

TEST_F(DiagWindowTest, OddStoredValuesFallBackToSafeDefaults) {
  settings_->WriteInt("", "DiagWindowWidth", 5);
  settings_->WriteInt("", "DiagWindowHeight", 99999999);
  settings_->WriteInt("", "DiagWindowLeft", -50000);
  settings_->WriteInt("", "DiagWindowTop", 7);
  settings_->WriteInt("", "DiagColorScheme", 9);
  settings_->WriteString("", "DiagLineWidth", QStringLiteral("thick"));
  settings_->WriteInt("Janvar5_E2", "DiagSetIdx1-1", 99);
  settings_->WriteInt("Janvar5_E2", "DiagSetOpt1-2", 0);
  settings_->WriteString("Janvar5_E2", "DiagSetName1", QString(80, QLatin1Char('x')));
  TFormDiagJ5E2& w = Open();
  EXPECT_EQ(w.ClientArea()->size(), QSize(769, 483));
  EXPECT_GT(w.x(), -1000);
  EXPECT_EQ(w.Pane(0)->ColorScheme(), 0);
  EXPECT_EQ(w.Pane(0)->LineWidth(), 1);
  // A parameter number outside 1..34 falls back to the default of its slot.
  EXPECT_EQ(w.Sets()[0].SlotParameter[0], 2);
  EXPECT_EQ(w.Pane(0)->Title(), QString::fromStdString(LookupParameter(2)->Name));
  // Slot option bit 0 clear: pane 2 collapsed.
  EXPECT_FALSE(w.Pane(1)->GraphShown());
  EXPECT_EQ(w.Pane(1)->height(), 30);
  EXPECT_EQ(w.StatusText(1), QString(50, QLatin1Char('x')));
}

TEST(DiagSetsTest, DefaultsLoadAndStoreRoundTrip) {
  QTemporaryDir dir;
  auto s = UserSettings::OpenFile(dir.filePath("sets.conf"));
  const SetTable defaults = DefaultSetTable();
  EXPECT_EQ(defaults[0].Name, QStringLiteral("Набор 1"));
  EXPECT_EQ(defaults[0].SlotParameter, (std::array<int32_t, 7>{2, 1, 3, 5, 14, 7, 10}));
  EXPECT_EQ(defaults[9].SlotParameter, (std::array<int32_t, 7>{2, 1, 7, 13, 22, 31, 17}));
  EXPECT_EQ(LoadSetTable(*s), defaults);
  SetTable edited = defaults;
  edited[4].Name = QStringLiteral("Лямбда");
  edited[4].SlotParameter[6] = 34;
  edited[4].SlotOptions[2] = 0x10;  // other bits are kept
  StoreSetTable(*s, edited);
  EXPECT_EQ(LoadSetTable(*s), edited);
}

}  // namespace
}  // namespace kvd::testing
