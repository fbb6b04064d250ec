// SPDX-License-Identifier: GPL-3.0-or-later
// The program's own wiring, end to end in real time: the virtual ECU behind the port, the ini
// file's poll interval, the diagnostic window connecting on its first tick and recording.
#include "app/app_services.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTimer>

#include "../ui/modal_script.h"
#include "data/data_file.h"
#include "data/history.h"
#include "session/diag_session.h"
#include "ui/diag_files.h"
#include "ui/diag_window.h"
#include "ui/frm_cfg.h"
#include "ui/rx_timer.h"

namespace kvd {
namespace {

TEST(AppServicesTest, DemoPortConnectsAndRecordsInRealTime) {
  QTemporaryDir dir;
  const QString ini = dir.filePath("kvddiag.ini");
  {
    QFile f(ini);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("[COM_RFRSH_INTERVALS]\nJ5E2_RFRSH=50\n");
  }
  AppServices services(UserSettings::OpenFile(dir.filePath("user.conf")), ini);
  bool online = false;
  int32_t records = 0;
  int32_t interval = -1;
  QElapsedTimer clock;
  clock.start();
  QTimer watch;
  QObject::connect(&watch, &QTimer::timeout, [&] {
    TFormDiagJ5E2* w = services.OpenWindow();
    if (!w) return;
    interval = w->ComTimer()->Interval();
    online = online || w->Session().Connected;
    records = w->History().RecordCount();
    if ((online && records >= 3) || clock.elapsed() > 20000) w->close();
  });
  watch.start(50);
  services.RunDiagnostics(nullptr, PortChoice::VirtualEcu(), 1, QStringLiteral("Demo"), true,
                          QString());
  watch.stop();
  EXPECT_EQ(interval, 50);
  EXPECT_TRUE(online);
  EXPECT_GE(records, 3);
  EXPECT_EQ(services.OpenWindow(), nullptr);
  EXPECT_LT(clock.elapsed(), 20000);
}

// Closing the window while its first connect runs holds the close until the connect has
// returned: the window stays up, modal over everything, so the launcher cannot start a second
// one meanwhile; the close cancels the connect, and its message comes before the window goes.
TEST(AppServicesTest, CloseDuringTheConnectKeepsTheWindowModalUntilTheConnectHasReturned) {
  QTemporaryDir dir;
  AppServices services(UserSettings::OpenFile(dir.filePath("user.conf")), QString());
  bool closeAsked = false;
  bool heldModal = false;
  bool visibleAtMessage = false;
  QString message;
  QElapsedTimer clock;
  clock.start();
  qint64 closeAskedMs = 0;
  QTimer watch;
  QObject::connect(&watch, &QTimer::timeout, [&] {
    TFormDiagJ5E2* w = services.OpenWindow();
    if (!w) return;
    if (!closeAsked && w->Session().Connecting()) {
      closeAsked = true;
      closeAskedMs = clock.elapsed();
      EXPECT_FALSE(w->close());
      heldModal = w->isVisible() && QApplication::activeModalWidget() == w;
      return;
    }
    for (QMessageBox* box : w->findChildren<QMessageBox*>()) {
      if (!box->isVisible() || box->standardButtons() != QMessageBox::Ok) continue;
      message = box->text();
      visibleAtMessage = w->isVisible();
      box->button(QMessageBox::Ok)->click();
    }
    if (clock.elapsed() > 20000) w->close();
  });
  watch.start(20);
  services.RunDiagnostics(nullptr, PortChoice::VirtualEcu(), 1, QStringLiteral("Demo"), true,
                          QString());
  watch.stop();
  EXPECT_TRUE(closeAsked);
  EXPECT_TRUE(heldModal);
  EXPECT_EQ(message, QString::fromUtf8(kConnectFailedText));
  EXPECT_TRUE(visibleAtMessage);
  EXPECT_EQ(services.OpenWindow(), nullptr);
  // The close cancelled the connect at its next wait instead of letting it run on.
  EXPECT_LT(clock.elapsed() - closeAskedMs, 3000);
}

// Answers the settings dialog once it runs modally.
void ChooseInSettingsDialog(int scheme, int lineWidth, int points) {
  testing::WhenModal<TFormCfg>([=](TFormCfg& d) {
    d.cboxColor()->setCurrentIndex(scheme);
    d.eLineWidth()->setValue(lineWidth);
    d.eNumXPoint()->setValue(points);
    d.bOK()->click();
  });
}

struct PaneLook {
  int scheme = -1;
  int lineWidth = -1;
  int points = -1;
};

// Opens the diagnostic window off-line and reads the look of its first pane.
PaneLook OpenWindowAndLook(AppServices& services) {
  PaneLook look;
  QTimer watch;
  QObject::connect(&watch, &QTimer::timeout, [&] {
    if (TFormDiagJ5E2* w = services.OpenWindow()) {
      look = {w->Pane(0)->ColorScheme(), w->Pane(0)->LineWidth(), w->Pane(0)->PointCount()};
      w->close();
    }
  });
  watch.start(20);
  services.RunDiagnostics(nullptr, PortChoice::VirtualEcu(), 1, QStringLiteral("Demo"), false,
                          QString());
  return look;
}

TEST(AppServicesTest, SettingsChosenBeforeAnyDiagnosticWindowAreKeptAndUsedAfterARestart) {
  QTemporaryDir dir;
  const QString store = dir.filePath("user.conf");
  const QString ini = dir.filePath("kvddiag.ini");
  {
    AppServices services(UserSettings::OpenFile(store), ini);
    ChooseInSettingsDialog(2, 3, 20);
    services.ShowSettings(nullptr);
    const PaneLook look = OpenWindowAndLook(services);
    EXPECT_EQ(look.scheme, 2);
    EXPECT_EQ(look.lineWidth, 3);
    EXPECT_EQ(look.points, 20);
  }
  // The next start of the program.
  AppServices services(UserSettings::OpenFile(store), ini);
  const PaneLook look = OpenWindowAndLook(services);
  EXPECT_EQ(look.scheme, 2);
  EXPECT_EQ(look.lineWidth, 3);
  EXPECT_EQ(look.points, 20);
}

TEST(AppServicesTest, ImportedFileOpensOffLineEvenWhenAConnectionWasAskedFor) {
  QTemporaryDir dir;
  std::vector<uint8_t> records(12 * kRecordSize, 0);
  for (int i = 0; i < 12; ++i)
    records[static_cast<size_t>(i) * kRecordSize] = static_cast<uint8_t>(i);
  const QString file = dir.filePath("import.kdd");
  WriteDataFile(FilePath(file), records.data(), 12);
  AppServices services(UserSettings::OpenFile(dir.filePath("user.conf")),
                       dir.filePath("kvddiag.ini"));
  int32_t count = -1;
  bool connected = true;
  int ticks = 0;
  QTimer watch;
  QObject::connect(&watch, &QTimer::timeout, [&] {
    TFormDiagJ5E2* w = services.OpenWindow();
    if (!w) return;
    count = w->History().RecordCount();
    connected = w->Session().Connected;
    // A few poll ticks: none of them may connect and start a new recording.
    if (++ticks >= 10) w->close();
  });
  watch.start(50);
  services.RunDiagnostics(nullptr, PortChoice::VirtualEcu(), 1, QStringLiteral("Import"), true,
                          file);
  EXPECT_EQ(count, 12);
  EXPECT_FALSE(connected);
}

}  // namespace
}  // namespace kvd
