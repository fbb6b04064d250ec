// SPDX-License-Identifier: GPL-3.0-or-later
// The settings dialog: what it starts with, its sample pane, and what "Ok" and Esc store.
#include "ui/frm_cfg.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>

#include "settings/settings_store.h"

namespace kvd {
namespace {

namespace k = settings_keys;

class FrmCfgTest : public ::testing::Test {
 protected:
  void SetUp() override { settings_ = UserSettings::OpenFile(dir_.filePath("user.conf")); }
  QTemporaryDir dir_;
  std::unique_ptr<UserSettings> settings_;
};

TEST_F(FrmCfgTest, EmptyStoreShowsTheDefaultsAndAPrivateSampleSeries) {
  TFormCfg dialog(*settings_, nullptr, 7);
  EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Настройка"));
  EXPECT_EQ(dialog.gbColor()->title(), QStringLiteral("Цветовая схема"));
  const QStringList names = {"Черная 1", "Черная 2", "Светлая 1", "Светлая 2", "Синяя"};
  ASSERT_EQ(dialog.cboxColor()->count(), names.size());
  for (int i = 0; i < names.size(); ++i) EXPECT_EQ(dialog.cboxColor()->itemText(i), names[i]);
  // The look the diagnostic window would use; only the number of points is written.
  EXPECT_EQ(dialog.cboxColor()->currentIndex(), 0);
  EXPECT_EQ(dialog.eLineWidth()->value(), 1);
  EXPECT_EQ(dialog.eNumXPoint()->value(), 40);
  EXPECT_EQ(settings_->ReadInt("", k::kNumXPoint), 40);
  EXPECT_FALSE(settings_->Contains("", k::kDiagColorScheme));

  // The sample pane inside the group: 10 from the left, 20 from the top.
  TfrmGraph* sample = dialog.SamplePane();
  ASSERT_NE(sample, nullptr);
  EXPECT_EQ(sample->parentWidget(), dialog.gbColor());
  EXPECT_EQ(sample->geometry(),
            QRect(10, 20, dialog.gbColor()->width() - 20, dialog.gbColor()->height() - 50));
  EXPECT_TRUE(sample->GraphShown());
  EXPECT_EQ(sample->Title(), QStringLiteral("Параметр 1"));
  EXPECT_EQ(sample->ColorScheme(), 0);
  EXPECT_EQ(sample->ScaleLow(), 0.0);
  EXPECT_EQ(sample->ScaleHigh(), 100.0);
  ASSERT_EQ(sample->PointCount(), 40);
  for (int32_t i = 0; i < sample->PointCount(); ++i) {
    EXPECT_EQ(sample->PointRecord(i), i);
    EXPECT_GE(sample->PointValue(i), 40.0);
    EXPECT_LE(sample->PointValue(i), 79.0);
  }
  EXPECT_EQ(dialog.SampleRecordCount(), 200);
}

TEST_F(FrmCfgTest, ControlsChangeOnlyTheSample) {
  settings_->WriteInt("", k::kDiagColorScheme, 3);
  settings_->WriteInt("", k::kDiagLineWidth, 2);
  settings_->WriteInt("", k::kNumXPoint, 80);
  TFormCfg dialog(*settings_, nullptr, 1);
  EXPECT_EQ(dialog.cboxColor()->currentIndex(), 3);
  EXPECT_EQ(dialog.eLineWidth()->value(), 2);
  EXPECT_EQ(dialog.eNumXPoint()->value(), 80);
  TfrmGraph* sample = dialog.SamplePane();
  EXPECT_EQ(sample->ColorScheme(), 3);
  EXPECT_EQ(sample->LineWidth(), 2);
  EXPECT_EQ(sample->PointCount(), 80);

  const double first = sample->PointValue(0);
  dialog.cboxColor()->setCurrentIndex(4);
  dialog.eLineWidth()->setValue(3);
  dialog.eNumXPoint()->setValue(10);
  EXPECT_EQ(sample->ColorScheme(), 4);
  EXPECT_EQ(sample->LineWidth(), 3);
  ASSERT_EQ(sample->PointCount(), 10);
  EXPECT_EQ(sample->PointValue(0), first);  // the same series, fewer seconds of it
  EXPECT_EQ(sample->CursorIndex(), 9);
  // The spin boxes keep to their ranges whatever is typed.
  dialog.eNumXPoint()->setValue(1000);
  EXPECT_EQ(sample->PointCount(), 200);
  // Nothing is stored before "Ok".
  EXPECT_EQ(settings_->ReadInt("", k::kDiagColorScheme), 3);
}

TEST_F(FrmCfgTest, OkAndEscStoreEveryValueEvenIntoAnEmptyStoreAndCloseStoresNothing) {
  enum class Close { Ok, Esc, Window };
  struct Case {
    Close how;
    bool stored;
    int result;
  };
  for (const Case& c :
       {Case{Close::Ok, true, QDialog::Accepted}, Case{Close::Esc, true, QDialog::Accepted},
        Case{Close::Window, false, QDialog::Rejected}}) {
    QTemporaryDir dir;
    auto s = UserSettings::OpenFile(dir.filePath("user.conf"));
    TFormCfg dialog(*s);
    dialog.show();
    dialog.cboxColor()->setCurrentIndex(2);
    dialog.eLineWidth()->setValue(3);
    dialog.eNumXPoint()->setValue(25);
    switch (c.how) {
      case Close::Ok:
        dialog.bOK()->click();
        break;
      case Close::Esc: {
        QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QApplication::sendEvent(dialog.eNumXPoint(), &esc);
        break;
      }
      case Close::Window:
        dialog.close();
        break;
    }
    const int how = static_cast<int>(c.how);
    EXPECT_FALSE(dialog.isVisible()) << how;
    EXPECT_EQ(dialog.result(), c.result) << how;
    auto reread = UserSettings::OpenFile(dir.filePath("user.conf"));
    if (c.stored) {
      EXPECT_EQ(ReadWindowGraphLook(*reread), (GraphLook{2, 3, 25})) << how;
    } else {
      EXPECT_FALSE(reread->Contains("", k::kDiagColorScheme)) << how;
      EXPECT_EQ(StartPointCount(*reread), 40) << how;
    }
  }
}

TEST_F(FrmCfgTest, AStoreThatCannotBeWrittenIsReportedAndTheDialogStillCloses) {
  const QString path = dir_.filePath("sub");
  ASSERT_TRUE(QDir().mkpath(path));
  auto s = UserSettings::OpenFile(path);
  TFormCfg dialog(*s);
  QStringList errors;
  dialog.ErrorShown = [&](const QString& e) { errors << e; };
  dialog.show();
  dialog.bOK()->click();
  ASSERT_EQ(errors.size(), 1);
  EXPECT_TRUE(errors[0].startsWith(QStringLiteral("Ошибка записи настроек")));
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
}

}  // namespace
}  // namespace kvd
