// SPDX-License-Identifier: GPL-3.0-or-later
// The diagnostic window's control bar and learn-memory window on the virtual ECU: the bar's
// widgets driving the actuators, the periodic refresh, the return of control when the window
// closes, and the learn-memory window read, reused, saved and closed with the session.
#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QTableWidget>

#include "diag_window_fixture.h"
#include "ecu/learn_memory.h"
#include "ui/ctrl_bar.h"
#include "ui/frm_blm.h"

namespace kvd::testing {
namespace {

// Selects an item of the list as the user does.
void Choose(TCtrlBar& bar, int index) {
  bar.comboCtrl()->setCurrentIndex(index);
  emit bar.comboCtrl()->activated(index);
}

TEST_F(DiagWindowTest, ControlBarDrivesTheEcuAndRefreshesEveryFifthTick) {
  TFormDiagJ5E2& w = Open();
  TCtrlBar& bar = *w.CtrlBar();
  EXPECT_FALSE(bar.isEnabled());
  EXPECT_EQ(bar.comboCtrl()->count(), kActuatorCount);
  EXPECT_EQ(bar.comboCtrl()->currentIndex(), -1);
  EXPECT_TRUE(bar.bOn()->isHidden());
  Connect();
  ASSERT_TRUE(bar.isEnabled());

  bar.cbCtrl()->click();
  ASSERT_TRUE(bar.cbCtrl()->isChecked());
  Choose(bar, 8);  // the fuel pump relay: buttons instead of the track bar
  EXPECT_TRUE(bar.tbCtrl()->isHidden());
  EXPECT_FALSE(bar.bOn()->isHidden());
  bar.bOff()->click();
  EXPECT_EQ(ecu_.Engine().Overrides().fuelPump, 0);
  Ticks(5);  // one refresh in five ticks
  EXPECT_EQ(bar.eCtrl()->text(), QStringLiteral("выкл."));
  bar.bOn()->click();
  EXPECT_EQ(ecu_.Engine().Overrides().fuelPump, 1);
  Ticks(5);
  EXPECT_EQ(bar.eCtrl()->text(), QStringLiteral("вкл."));

  Choose(bar, 1);  // the idle speed set point follows the track bar
  EXPECT_FALSE(bar.tbCtrl()->isHidden());
  bar.tbCtrl()->setValue(0x55 - 128);
  Ticks(5);
  EXPECT_EQ(bar.eCtrl()->text(), QStringLiteral("850"));
  EXPECT_EQ(ecu_.Engine().Overrides().idleSetRpm, 850);

  // Unchecking hands both back.
  bar.cbCtrl()->click();
  EXPECT_FALSE(bar.comboCtrl()->isEnabled());
  EXPECT_EQ(ecu_.Engine().Overrides().fuelPump, -1);
  EXPECT_EQ(ecu_.Engine().Overrides().idleSetRpm, -1);
  EXPECT_FALSE(w.BusyNoticeShown());
  EXPECT_TRUE(messages_.empty()) << messages_.front().toStdString();
  EXPECT_TRUE(w.Session().Connected);
}

TEST_F(DiagWindowTest, ControlBarIsLockedUntilCheckedAndTypingOpensTheList) {
  TFormDiagJ5E2& w = Open();
  TCtrlBar& bar = *w.CtrlBar();
  Connect();
  const auto unlocked = [&bar] {
    int n = 0;
    for (QWidget* c :
         std::initializer_list<QWidget*>{bar.comboCtrl(), bar.tbCtrl(), bar.bOn(), bar.bOff()})
      n += c->isEnabled() ? 1 : 0;
    return n;
  };
  struct Step {
    const char* what;
    int clicks;  // of the box
    int unlocked;
  };
  for (const Step s : {Step{"on-line, unchecked", 0, 0}, Step{"checked", 1, 4},
                       Step{"unchecked again", 1, 0}, Step{"checked again", 1, 4}}) {
    SCOPED_TRACE(s.what);
    for (int i = 0; i < s.clicks; ++i) bar.cbCtrl()->click();
    EXPECT_EQ(unlocked(), s.unlocked);
  }

  // A letter typed into the focused list opens it at the first item starting with it; nothing
  // is chosen (or asked of the ECU) until the user takes the item in the open list.
  ASSERT_TRUE(bar.cbCtrl()->isChecked());
  bar.comboCtrl()->setFocus();
  QKeyEvent letter(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QStringLiteral("р"));
  QApplication::sendEvent(bar.comboCtrl(), &letter);
  EXPECT_TRUE(bar.comboCtrl()->view()->isVisible());
  EXPECT_EQ(bar.comboCtrl()->view()->currentIndex().row(), 8);  // "Реле бензонасоса"
  EXPECT_EQ(bar.comboCtrl()->currentIndex(), -1);
  EXPECT_EQ(ecu_.Engine().Overrides().fuelPump, -1);
  bar.comboCtrl()->hidePopup();
  // The window's keys stay the window's: "-" narrows the panes, it is not typed into the list.
  const int points = w.Shared().VisiblePointCount;
  QKeyEvent minus(QEvent::KeyPress, Qt::Key_Minus, Qt::NoModifier, QStringLiteral("-"));
  QApplication::sendEvent(bar.comboCtrl(), &minus);
  EXPECT_EQ(w.Shared().VisiblePointCount, points * 2);
  EXPECT_FALSE(bar.comboCtrl()->view()->isVisible());
}

TEST_F(DiagWindowTest, FailedReturnOfControlKeepsTheWindowOpen) {
  TFormDiagJ5E2& w = Open();
  TCtrlBar& bar = *w.CtrlBar();
  Connect();
  bar.cbCtrl()->click();
  Choose(bar, 2);
  ecu_.Faults().unplugged = true;
  EXPECT_FALSE(w.close());
  EXPECT_TRUE(w.isVisible());
  EXPECT_TRUE(w.Session().Connected);
  EXPECT_FALSE(bar.cbCtrl()->isChecked());
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0].toStdString(), std::string(kReturnControlFailedText) + " - Форсунка 1\n");
  // The second close tries no return and goes ahead.
  EXPECT_TRUE(w.close());
  EXPECT_FALSE(w.isVisible());
  EXPECT_EQ(messages_.size(), 1u);
}

TEST_F(DiagWindowTest, LearnMemoryWindowShowsReusesSavesAndClosesWithTheSession) {
  TFormDiagJ5E2& w = Open();
  QAction* bank1 = w.Action("miBlm1");
  QAction* bank2 = w.Action("miBlm2");
  EXPECT_FALSE(bank1->isEnabled());
  Connect();
  ASSERT_TRUE(bank1->isEnabled());
  bank1->trigger();
  TFormBLM* form = w.FormBLM();
  ASSERT_NE(form, nullptr);
  EXPECT_TRUE(form->isVisible());
  EXPECT_EQ(form->windowTitle(), QStringLiteral("Память обучения, банк 1"));
  EXPECT_TRUE(w.Session().Tag & kBlmShown);
  EXPECT_EQ(form->CellText(0, 0), QString());
  EXPECT_EQ(form->CellText(2, 0), QStringLiteral("720"));
  EXPECT_EQ(form->CellText(0, 2), QStringLiteral("58"));
  for (int k : {0, 0x11, 0xFF})
    EXPECT_EQ(form->CellText(k % 16 + 1, k / 16 + 1).toStdString(),
              LearnCellText(ecu_.LearnByte(static_cast<uint16_t>(0xFD00 + k)), '.'))
        << k;

  // The other bank reuses the window.
  bank2->trigger();
  EXPECT_EQ(w.FormBLM(), form);
  EXPECT_EQ(form->windowTitle(), QStringLiteral("Память обучения, банк 2"));
  EXPECT_EQ(form->CellText(1, 1).toStdString(), LearnCellText(ecu_.LearnByte(0xFE00), '.'));

  // A refused read leaves the shown bank alone.
  ecu_.Faults().refuseService = 0x23;
  bank1->trigger();
  EXPECT_EQ(form->windowTitle(), QStringLiteral("Память обучения, банк 2"));
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0].toStdString(), kLearnReadFailedText);
  ecu_.Faults() = EcuFaults{};

  // "Сохранить": the chosen file gets the bank's table; a cancelled dialog writes nothing.
  const QString file = dir_.filePath("bank2.txt");
  form->ChooseSaveFile = [] { return QString(); };
  form->bSave()->click();
  EXPECT_FALSE(QFile::exists(file));
  form->ChooseSaveFile = [&] { return file; };
  form->bSave()->click();
  QFile saved(file);
  ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
  const QByteArray bytes = saved.readAll();
  EXPECT_TRUE(bytes.startsWith("###\t600\t720\t"));
  EXPECT_EQ(bytes.count('\n'), 17);
  form->ChooseSaveFile = [&] { return dir_.filePath("missing/bank2.txt"); };
  form->bSave()->click();
  ASSERT_EQ(messages_.size(), 2u);
  EXPECT_TRUE(messages_[1].startsWith(QStringLiteral("Ошибка при создании файла ")));

  // "Закрыть" hides it; the next read opens a fresh one.
  form->bClose()->click();
  EXPECT_FALSE(form->isVisible());
  EXPECT_FALSE(w.Session().Tag & kBlmShown);
  bank1->trigger();
  ASSERT_TRUE(w.FormBLM());
  EXPECT_TRUE(w.FormBLM()->isVisible());

  // Ending the session closes it.
  w.Action("miConnect")->trigger();
  EXPECT_FALSE(w.Session().Connected);
  EXPECT_FALSE(w.FormBLM()->isVisible());
  EXPECT_FALSE(w.Session().Tag & kBlmShown);
}

}  // namespace
}  // namespace kvd::testing
