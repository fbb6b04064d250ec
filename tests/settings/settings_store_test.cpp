// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/settings_store.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>

namespace kvd {
namespace {

void WriteFile(const QString& path, const QByteArray& text) {
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write(text);
}

TEST(PollSettingsTest, DefaultsWhenFileOrKeysAreMissing) {
  QTemporaryDir dir;
  const PollSettings none = ReadPollSettings(IniPathInDirectory(dir.path()));
  EXPECT_EQ(none.IntervalMs, 250);
  EXPECT_FALSE(none.Threaded);

  WriteFile(IniPathInDirectory(dir.path()), "[OTHER]\nJ5E2_RFRSH=100\n");
  const PollSettings other = ReadPollSettings(IniPathInDirectory(dir.path()));
  EXPECT_EQ(other.IntervalMs, 250);
  EXPECT_FALSE(other.Threaded);
}

TEST(PollSettingsTest, ReadsIntervalAndThreadingSwitch) {
  QTemporaryDir dir;
  WriteFile(IniPathInDirectory(dir.path()),
            "[COM_RFRSH_INTERVALS]\nJ5E2_RFRSH=125\n[COMMON]\nComThreaded=1\n");
  const PollSettings s = ReadPollSettings(IniPathInDirectory(dir.path()));
  EXPECT_EQ(s.IntervalMs, 125);
  EXPECT_TRUE(s.Threaded);

  WriteFile(IniPathInDirectory(dir.path()), "[COM_RFRSH_INTERVALS]\nJ5E2_RFRSH=0\n");
  EXPECT_EQ(ReadPollSettings(IniPathInDirectory(dir.path())).IntervalMs, 0);
}

TEST(PollSettingsTest, OddValuesFallBackToDefaults) {
  QTemporaryDir dir;
  for (const char* bad : {"abc", "-5", "99999999", "", "1e3"}) {
    WriteFile(IniPathInDirectory(dir.path()), QByteArray("[COM_RFRSH_INTERVALS]\nJ5E2_RFRSH=") +
                                                  bad + "\n[COMMON]\nComThreaded=x\n");
    const PollSettings s = ReadPollSettings(IniPathInDirectory(dir.path()));
    EXPECT_EQ(s.IntervalMs, 250) << bad;
    EXPECT_FALSE(s.Threaded) << bad;
  }
  // A file that is not an ini file at all.
  static const char kGarbage[] = "\x00\xff\xfe garbage [[[ ==";
  WriteFile(IniPathInDirectory(dir.path()), QByteArray(kGarbage, sizeof kGarbage - 1));
  EXPECT_EQ(ReadPollSettings(IniPathInDirectory(dir.path())).IntervalMs, 250);
}

TEST(UserSettingsTest, ValuesRoundTripThroughTheStoreFile) {
  QTemporaryDir dir;
  const QString path = dir.filePath("user.conf");
  {
    auto s = UserSettings::OpenFile(path);
    EXPECT_FALSE(s->Contains("", settings_keys::kDiagWindowWidth));
    s->WriteInt("", settings_keys::kDiagWindowWidth, 900);
    s->WriteInt("Janvar5_E2", "DiagSetIdx1-1", 2);
    s->WriteString("Janvar5_E2", "DiagSetName1", QStringLiteral("Набор 1"));
    EXPECT_EQ(s->Sync(), QString());
  }
  auto s = UserSettings::OpenFile(path);
  EXPECT_EQ(s->ReadInt("", settings_keys::kDiagWindowWidth), 900);
  EXPECT_EQ(s->ReadInt("Janvar5_E2", "DiagSetIdx1-1"), 2);
  EXPECT_EQ(s->ReadString("Janvar5_E2", "DiagSetName1"), QStringLiteral("Набор 1"));
  EXPECT_FALSE(s->ReadInt("", "Missing").has_value());
}

TEST(UserSettingsTest, NumbersAreStoredAsThirtyTwoBitValues) {
  // A 64-bit variant would land in the Windows registry as REG_QWORD instead of REG_DWORD.
  QTemporaryDir dir;
  auto store = std::make_unique<QSettings>(dir.filePath("user.conf"), QSettings::IniFormat);
  QSettings* raw = store.get();
  UserSettings s(std::move(store));
  s.WriteInt("", settings_keys::kDiagWindowLeft, -5);
  s.WriteInt("Janvar5_E2", "DiagSetOpt1-1", 1);
  EXPECT_EQ(raw->value(settings_keys::kDiagWindowLeft).typeId(), QMetaType::Int);
  EXPECT_EQ(raw->value("Janvar5_E2/DiagSetOpt1-1").typeId(), QMetaType::Int);
  EXPECT_EQ(s.ReadInt("", settings_keys::kDiagWindowLeft), -5);
}

TEST(UserSettingsTest, RangeChecksAndDefaultsThatAreWrittenWhenMissing) {
  QTemporaryDir dir;
  auto s = UserSettings::OpenFile(dir.filePath("user.conf"));
  // Missing: the default is written and used.
  EXPECT_EQ(ReadOrWriteDefault(*s, "", settings_keys::kDiagColorScheme, 0, 4, 0), 0);
  EXPECT_TRUE(s->Contains("", settings_keys::kDiagColorScheme));
  // Out of range or not a number: the default is used but the stored value is left alone.
  s->WriteInt("", settings_keys::kDiagLineWidth, 77);
  EXPECT_EQ(ReadOrWriteDefault(*s, "", settings_keys::kDiagLineWidth, 1, 3, 1), 1);
  EXPECT_EQ(s->ReadInt("", settings_keys::kDiagLineWidth), 77);
  s->WriteString("", settings_keys::kDiagColorScheme, QStringLiteral("blue"));
  EXPECT_FALSE(ReadIntInRange(*s, "", settings_keys::kDiagColorScheme, 0, 4).has_value());
  s->WriteInt("", settings_keys::kDiagColorScheme, 3);
  EXPECT_EQ(ReadIntInRange(*s, "", settings_keys::kDiagColorScheme, 0, 4), 3);
}

TEST(UserSettingsTest, SyncReportsAStoreThatCannotBeWritten) {
  QTemporaryDir dir;
  // The store's path is a directory: writing it must fail with a message, not silently.
  const QString path = dir.filePath("sub");
  ASSERT_TRUE(QDir().mkpath(path));
  auto s = UserSettings::OpenFile(path);
  s->WriteInt("", settings_keys::kDiagWindowTop, 5);
  EXPECT_TRUE(s->Sync().startsWith(QStringLiteral("Ошибка записи настроек")));
}

TEST(GraphLookTest, WhoWritesWhichDefaultWhenTheStoreIsEmpty) {
  namespace k = settings_keys;
  QTemporaryDir dir;
  {
    // The diagnostic window writes scheme and line width, never the number of points.
    auto s = UserSettings::OpenFile(dir.filePath("window.conf"));
    EXPECT_EQ(ReadWindowGraphLook(*s), GraphLook{});
    EXPECT_EQ(s->ReadInt("", k::kDiagColorScheme), 0);
    EXPECT_EQ(s->ReadInt("", k::kDiagLineWidth), 1);
    EXPECT_FALSE(s->Contains("", k::kNumXPoint));
  }
  {
    // The settings dialog writes the number of points only.
    auto s = UserSettings::OpenFile(dir.filePath("dialog.conf"));
    EXPECT_EQ(ReadDialogGraphLook(*s), GraphLook{});
    EXPECT_EQ(s->ReadInt("", k::kNumXPoint), 40);
    EXPECT_FALSE(s->Contains("", k::kDiagColorScheme));
    EXPECT_FALSE(s->Contains("", k::kDiagLineWidth));
  }
}

TEST(GraphLookTest, AChoiceIsStoredEvenWhenNothingWasThereAndSurvivesARestart) {
  QTemporaryDir dir;
  const QString path = dir.filePath("user.conf");
  const GraphLook chosen{3, 2, 80};
  {
    auto s = UserSettings::OpenFile(path);
    StoreGraphLook(*s, chosen);
    EXPECT_EQ(s->Sync(), QString());
  }
  // The next start: the window and its panes take all three, the dialog shows them.
  auto s = UserSettings::OpenFile(path);
  EXPECT_EQ(StartPointCount(*s), 80);
  EXPECT_EQ(ReadWindowGraphLook(*s), chosen);
  EXPECT_EQ(ReadDialogGraphLook(*s), chosen);
  // Values out of their ranges are brought into them, never stored as they are.
  StoreGraphLook(*s, GraphLook{7, 0, 1000});
  EXPECT_EQ(ReadWindowGraphLook(*s), (GraphLook{4, 1, 200}));
}

TEST(GraphLookTest, OddStoredValuesGiveTheDefaults) {
  namespace k = settings_keys;
  struct Case {
    const char* name;
    QVariant value;
    GraphLook expected;  // as the dialog reads it
  };
  const Case cases[] = {
      {k::kNumXPoint, QStringLiteral("abc"), {0, 1, 40}},
      {k::kNumXPoint, 3, {0, 1, 40}},
      {k::kNumXPoint, 201, {0, 1, 40}},
      {k::kNumXPoint, -1, {0, 1, 40}},
      {k::kNumXPoint, 4, {0, 1, 4}},
      {k::kNumXPoint, 200, {0, 1, 200}},
      {k::kDiagColorScheme, 5, {0, 1, 40}},
      {k::kDiagColorScheme, -1, {0, 1, 40}},
      {k::kDiagColorScheme, 4, {4, 1, 40}},
      {k::kDiagLineWidth, 0, {0, 1, 40}},
      {k::kDiagLineWidth, QStringLiteral("2 px"), {0, 1, 40}},
      {k::kDiagLineWidth, 3, {0, 3, 40}},
  };
  for (const Case& c : cases) {
    QTemporaryDir dir;
    auto store = std::make_unique<QSettings>(dir.filePath("user.conf"), QSettings::IniFormat);
    store->setValue(QString::fromLatin1(c.name), c.value);
    UserSettings s(std::move(store));
    const std::string label = std::string(c.name) + "=" + c.value.toString().toStdString();
    EXPECT_EQ(ReadDialogGraphLook(s), c.expected) << label;
    EXPECT_EQ(StartPointCount(s), c.expected.NumXPoint) << label;
  }
}

TEST(GraphLookTest, AChoiceHoldsForTheRunWhenTheStoreCannotBeWritten) {
  QTemporaryDir dir;
  const QString path = dir.filePath("sub");
  ASSERT_TRUE(QDir().mkpath(path));
  auto s = UserSettings::OpenFile(path);
  StoreGraphLook(*s, GraphLook{2, 3, 20});
  EXPECT_FALSE(s->Sync().isEmpty());
  EXPECT_EQ(StartPointCount(*s), 20);
  EXPECT_EQ(ReadWindowGraphLook(*s), (GraphLook{2, 3, 20}));
}

TEST(WindowBoundsTest, BoundsRoundTripAndOddValuesAreDropped) {
  QTemporaryDir dir;
  auto s = UserSettings::OpenFile(dir.filePath("user.conf"));
  WindowBounds none = ReadWindowBounds(*s, 620, 450, 16384);
  EXPECT_FALSE(none.Width || none.Height || none.Left || none.Top);
  StoreWindowBounds(*s, -20, 35, 800, 600);
  WindowBounds b = ReadWindowBounds(*s, 620, 450, 16384);
  EXPECT_EQ(b.Left, -20);
  EXPECT_EQ(b.Top, 35);
  EXPECT_EQ(b.Width, 800);
  EXPECT_EQ(b.Height, 600);
  StoreWindowBounds(*s, -20000, 35, 100, 99999);
  b = ReadWindowBounds(*s, 620, 450, 16384);
  EXPECT_FALSE(b.Left.has_value());
  EXPECT_EQ(b.Top, 35);
  EXPECT_FALSE(b.Width.has_value());
  EXPECT_FALSE(b.Height.has_value());
}

}  // namespace
}  // namespace kvd
