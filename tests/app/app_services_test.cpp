// SPDX-License-Identifier: GPL-3.0-or-later
// The program's own wiring, end to end in real time: the virtual ECU behind the port, the ini
// file's poll interval, the diagnostic window connecting on its first tick and recording.
#include "app/app_services.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include "data/history.h"
#include "session/diag_session.h"
#include "ui/diag_window.h"
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

}  // namespace
}  // namespace kvd
