// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/launcher.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMenu>
#include <QProcess>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QTemporaryDir>

#include <QToolButton>
#include <vector>
#include "link/serial_port.h"

#include "app/families.h"
#include "app/port_choice.h"
#include "app/single_instance.h"
#include "link/serial_port.h"

namespace kvd {
namespace {

class FakeServices : public LauncherServices {
 public:
  std::optional<QString> portAnswer = QStringLiteral("1");
  int asked = 0;
  std::vector<QString> messages;
  int portsClosed = 0;
  int aboutShown = 0;
  int settingsShown = 0;
  struct Run {
    PortChoice port;
    int family;
    QString caption;
    bool autoConnect;
    QString openFile;
  };
  QString importAnswer;  // the file chosen in the import dialog; empty = cancelled
  int importAsked = 0;
  std::vector<Run> runs;
  QString defaultSeen;

  std::optional<QString> AskPort(QWidget*, const QString& prompt, const QStringList& entries,
                                 const QString& defaultText) override {
    ++asked;
    EXPECT_EQ(prompt, QStringLiteral("Введите номер COM-порта"));
    EXPECT_TRUE(entries.contains(VirtualEcuChoiceText()));
    defaultSeen = defaultText;
    return portAnswer;
  }
  void ShowMessage(QWidget*, const QString& text, QMessageBox::Icon) override {
    messages.push_back(text);
  }
  void RunDiagnostics(QWidget*, const PortChoice& port, int family, const QString& caption,
                      bool autoConnect, const QString& openFile) override {
    runs.push_back({port, family, caption, autoConnect, openFile});
  }
  QString AskImportFile(QWidget*) override {
    ++importAsked;
    return importAnswer;
  }
  void ShowAbout(QWidget* parent) override {
    ++aboutShown;
    EXPECT_FALSE(parent->isVisible());
  }
  void ShowSettings(QWidget* parent) override {
    ++settingsShown;
    EXPECT_NE(parent, nullptr);
  }
  void ClosePort() override { ++portsClosed; }
};

LauncherOptions Quick(const QString& lockDir) {
  LauncherOptions o;
  o.splashMs = 0;
  o.lockDir = lockDir;
  return o;
}

TEST(PortChoiceTest, AnswersOfThePrompt) {
  EXPECT_EQ(ParsePortAnswer("1"), PortChoice::Com(1));
  EXPECT_EQ(ParsePortAnswer(" 12 "), PortChoice::Com(12));
  EXPECT_EQ(ParsePortAnswer("abc"), PortChoice::Com(1));
  EXPECT_EQ(ParsePortAnswer(""), PortChoice::Com(1));
  EXPECT_EQ(ParsePortAnswer("65535"), PortChoice::Com(65535));
  EXPECT_EQ(ParsePortAnswer(VirtualEcuChoiceText()), PortChoice::VirtualEcu());
  EXPECT_EQ(ParsePortAnswer("demo"), PortChoice::VirtualEcu());
#ifndef Q_OS_WIN
  EXPECT_EQ(ParsePortAnswer("/dev/ttyUSB0"), PortChoice::Path("/dev/ttyUSB0"));
#endif
  EXPECT_EQ(PortCaption(PortChoice::Com(3)), QStringLiteral("COM3"));
  EXPECT_EQ(PortCaption(PortChoice::Path("/dev/ttyUSB1")), QStringLiteral("/dev/ttyUSB1"));
  // An ELM327: the caption names the adapter; a text that names no port is kept for the
  // message of the failed open.
  EXPECT_EQ(PortCaption(ParsePortAnswer(" elm:COM5 ")), QStringLiteral("ELM327 COM5"));
  EXPECT_EQ(ParsePortAnswer("elm:5").number, 5);
  EXPECT_EQ(PortCaption(ParsePortAnswer("elm:tcp:192.168.0.10:35000")),
            QStringLiteral("ELM327 192.168.0.10:35000"));
  EXPECT_EQ(ParsePortAnswer("elm:tcp:nowhere").elm.device, "elm:tcp:nowhere");
  EXPECT_EQ(ParsePortAnswer(VirtualElmChoiceText()), PortChoice::VirtualElm327());
}

// A number out of the 16-bit range keeps its low 16 bits, so that OpenPort sees it and refuses
// it with its message; only what is no 32-bit number at all becomes COM1.
TEST(PortChoiceTest, OutOfRangeNumbersKeepTheirLow16Bits) {
  const struct {
    const char* answer;
    uint16_t port;
  } cases[] = {
      {"-1", 65535},      {"-2", 65534},      {"-9", 65527},
      {"-10", 65526},     {"-3", 65533},      {"65536", 0},
      {"70000", 4464},    {"-65536", 0},      {"2147483647", 65535},
      {"-2147483648", 0}, {"99999999999", 1}, {"+5", 5},
      {"0", 0},           {"3.5", 1},         {"0x10", 1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ParsePortAnswer(QString::fromLatin1(c.answer)), PortChoice::Com(c.port)) << c.answer;
  }
  for (int32_t n : {-2, -9}) EXPECT_TRUE(IsRefusedPortNumber(ComPortNumber(n))) << n;
  for (int32_t n : {-1, -10, 65535}) EXPECT_FALSE(IsRefusedPortNumber(ComPortNumber(n))) << n;
}

TEST(LauncherTest, NegativePortAnswerReachesTheWindowAsItsSixteenBitNumber) {
  QTemporaryDir dir;
  FakeServices services;
  services.portAnswer = QStringLiteral("-2");
  TMForm form(services, Quick(dir.path()));
  ASSERT_TRUE(form.FormCreate());
  EXPECT_EQ(form.windowTitle(), QStringLiteral("KVD - Diagnostics ver.1.00   [COM65534]"));
  form.PopMenuECUClick(1);
  form.sbStartDiagClick();
  ASSERT_EQ(services.runs.size(), 1u);
  EXPECT_EQ(services.runs[0].port, PortChoice::Com(65534));
}

TEST(LauncherTest, StartAsksForThePortAndFillsTheFamilyMenu) {
  QTemporaryDir dir;
  FakeServices services;
  services.portAnswer = QStringLiteral("7");
  TMForm form(services, Quick(dir.path()));
  ASSERT_TRUE(form.FormCreate());
  EXPECT_EQ(services.asked, 1);
  EXPECT_EQ(services.defaultSeen, QStringLiteral("1"));
  EXPECT_EQ(form.windowTitle(), QStringLiteral("KVD - Diagnostics ver.1.00   [COM7]"));
  EXPECT_EQ(form.size(), QSize(534, 381));
  EXPECT_EQ(form.minimumSize(), form.maximumSize());

  const QList<QAction*> items = form.FamilyMenu()->actions();
  ASSERT_EQ(items.size(), 8);
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(items[i]->text(), FamilyLongName(i));
    EXPECT_EQ(items[i]->data().toInt(), i);
    EXPECT_EQ(items[i]->isEnabled(), i == 1) << i;
  }
  EXPECT_FALSE(form.StartButton()->isEnabled());
  EXPECT_EQ(form.StartTag(), -1);
  EXPECT_EQ(form.ImportTag(), -1);
  // Starting without a family does nothing.
  form.sbStartDiagClick();
  EXPECT_TRUE(services.runs.empty());
}

TEST(LauncherTest, NonNumericOrCancelledAnswerGivesCom1) {
  QTemporaryDir dir;
  for (std::optional<QString> answer :
       {std::optional<QString>(QStringLiteral("x1")), std::optional<QString>()}) {
    FakeServices services;
    services.portAnswer = answer;
    TMForm form(services, Quick(dir.path()));
    ASSERT_TRUE(form.FormCreate());
    EXPECT_EQ(form.Port(), PortChoice::Com(1));
    EXPECT_TRUE(form.windowTitle().endsWith(QStringLiteral("[COM1]")));
  }
}

TEST(LauncherTest, PortGivenOnTheCommandLineSkipsThePrompt) {
  QTemporaryDir dir;
  FakeServices services;
  LauncherOptions o = Quick(dir.path());
  o.port = PortChoice::VirtualEcu();
  TMForm form(services, o);
  ASSERT_TRUE(form.FormCreate());
  EXPECT_EQ(services.asked, 0);
  EXPECT_EQ(form.Port(), PortChoice::VirtualEcu());
}

TEST(LauncherTest, ChoosingTheFamilyEnablesStartAndStartOpensTheDiagnosticWindow) {
  QTemporaryDir dir;
  FakeServices services;
  TMForm form(services, Quick(dir.path()));
  ASSERT_TRUE(form.FormCreate());
  form.FamilyMenu()->actions()[1]->trigger();
  EXPECT_EQ(form.EcuButton()->text(), QStringLiteral("Январь-5.1\nЕВРО-2"));
  EXPECT_EQ(form.StartTag(), 1);
  EXPECT_EQ(form.ImportTag(), 1);
  EXPECT_TRUE(form.StartButton()->isEnabled());
  form.StartButton()->click();
  ASSERT_EQ(services.runs.size(), 1u);
  EXPECT_EQ(services.runs[0].family, 1);
  EXPECT_EQ(services.runs[0].caption, FamilyLongName(1));
  EXPECT_TRUE(services.runs[0].autoConnect);
  EXPECT_TRUE(services.runs[0].openFile.isEmpty());
  EXPECT_EQ(services.runs[0].port, PortChoice::Com(1));
  // The menu pops up right of the button.
  const QPoint at = form.FamilyMenuPoint();
  const QPoint button = form.EcuButton()->mapTo(&form, QPoint(0, 0));
  EXPECT_EQ(at,
            form.frameGeometry().topLeft() + button + QPoint(form.EcuButton()->width() + 40, 40));
}

// Writes a data file whose head carries the given family byte, with `records` zero records.
QString WriteImportFile(const QTemporaryDir& dir, const QString& name, uint8_t familyByte,
                        int records = 2, int headBytes = 520) {
  QByteArray bytes(headBytes + records * 44, '\0');
  const char sig[8] = {0x4B, 0x56, 0x47, 0x01, 0x00, 0x00, 0x00, static_cast<char>(familyByte)};
  for (int i = 0; i < 8 && i < bytes.size(); ++i) bytes[i] = sig[i];
  const QString path = dir.filePath(name);
  QFile f(path);
  EXPECT_TRUE(f.open(QIODevice::WriteOnly));
  f.write(bytes);
  return path;
}

TEST(LauncherTest, ImportChecksTheFamilyOfTheFileBeforeOpeningTheWindow) {
  QTemporaryDir dir;
  const QString family1 = WriteImportFile(dir, "e2.kdd", 0x01);
  const auto incompatible = [&dir](const char* name) {
    return QStringLiteral("Файл %1 имеет несовместимый формат данных!")
        .arg(QDir::toNativeSeparators(dir.filePath(name)));
  };
  struct Case {
    QString file;     // chosen in the dialog; empty = cancelled
    int family;       // ImportTag afterwards
    bool opens;       // the diagnostic window opens on the file
    QString message;  // the one message shown, or empty
  };
  const Case cases[] = {
      {QString(), -1, false, QString()},
      {family1, 1, true, QString()},
      // Family 2 is known by its signature but has no diagnostic window.
      {WriteImportFile(dir, "terva.kdd", 0x0A), 2, false,
       QStringLiteral("Для системы \"%1\" диагностика не поддерживается.").arg(FamilyLongName(2))},
      {WriteImportFile(dir, "mikas.kdd", 0x32), 7, false,
       QStringLiteral("Для системы \"%1\" диагностика не поддерживается.").arg(FamilyLongName(7))},
      {WriteImportFile(dir, "foreign.kdd", 0x99), -1, false, incompatible("foreign.kdd")},
      // Shorter than the head, though it starts with the signature of family 1.
      {WriteImportFile(dir, "short.kdd", 0x01, 0, 519), -1, false, incompatible("short.kdd")},
      {dir.filePath("missing.kdd"), -1, false,
       QStringLiteral("Ошибка при открытии файла %1")
           .arg(QDir::toNativeSeparators(dir.filePath("missing.kdd")))},
      {dir.path(), -1, false,
       QStringLiteral("Ошибка при открытии файла %1").arg(QDir::toNativeSeparators(dir.path()))},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file.toStdString());
    FakeServices services;
    TMForm form(services, Quick(dir.path()));
    ASSERT_TRUE(form.FormCreate());
    services.importAnswer = c.file;
    form.sbImportClick();
    EXPECT_EQ(services.importAsked, 1);
    EXPECT_EQ(form.ImportTag(), c.family);
    if (c.message.isEmpty()) {
      EXPECT_TRUE(services.messages.empty());
    } else {
      ASSERT_EQ(services.messages.size(), 1u);
      EXPECT_EQ(services.messages[0], c.message);
    }
    ASSERT_EQ(services.runs.size(), c.opens ? 1u : 0u);
    if (c.opens) {
      EXPECT_EQ(services.runs[0].family, 1);
      EXPECT_EQ(services.runs[0].caption, FamilyLongName(1));
      EXPECT_FALSE(services.runs[0].autoConnect);
      EXPECT_EQ(services.runs[0].openFile, c.file);
    }
  }
}

TEST(LauncherTest, OrdinaryStartAfterAnImportConnectsWithoutTheFile) {
  QTemporaryDir dir;
  FakeServices services;
  TMForm form(services, Quick(dir.path()));
  ASSERT_TRUE(form.FormCreate());
  services.importAnswer = WriteImportFile(dir, "e2.kdd", 0x01);
  form.sbImportClick();
  form.PopMenuECUClick(1);
  form.sbStartDiagClick();
  ASSERT_EQ(services.runs.size(), 2u);
  EXPECT_FALSE(services.runs[0].autoConnect);
  EXPECT_TRUE(services.runs[1].autoConnect);
  EXPECT_TRUE(services.runs[1].openFile.isEmpty());
}

TEST(LauncherTest, SettingsOpenAndAboutHidesTheLauncher) {
  QTemporaryDir dir;
  FakeServices services;
  TMForm form(services, Quick(dir.path()));
  ASSERT_TRUE(form.FormCreate());
  form.show();
  // "Настройка" can be pressed and opens the settings dialog.
  auto* cfg = form.findChild<QToolButton*>(QStringLiteral("sbCfg"));
  ASSERT_NE(cfg, nullptr);
  EXPECT_TRUE(cfg->isEnabled());
  EXPECT_TRUE(cfg->isVisible());
  cfg->click();
  EXPECT_EQ(services.settingsShown, 1);
  form.sbAboutClick();
  EXPECT_EQ(services.aboutShown, 1);
  EXPECT_TRUE(form.isVisible());
  form.sbCloseClick();
  EXPECT_FALSE(form.isVisible());
  EXPECT_EQ(services.portsClosed, 1);
}

TEST(LauncherTest, ButtonHintsShowInTheStatusBar) {
  QTemporaryDir dir;
  FakeServices services;
  TMForm form(services, Quick(dir.path()));
  ASSERT_TRUE(form.FormCreate());
  form.show();
  QToolButton* start = form.StartButton();
  EXPECT_EQ(start->statusTip(), QStringLiteral("Установить связь с ЭБУ и начать диагностику"));
  QStatusTipEvent tip(start->statusTip());
  QApplication::sendEvent(start, &tip);
  EXPECT_EQ(form.statusBar()->currentMessage(), start->statusTip());
  EXPECT_EQ(form.EcuButton()->statusTip(), QStringLiteral("Выбор системы управления"));
}

TEST(SingleInstanceTest, SecondCopyIsRefusedAndAFreedLockCanBeTakenAgain) {
  QTemporaryDir dir;
  {
    SingleInstance first(QStringLiteral("kvd-test"), dir.path());
    ASSERT_TRUE(first.Acquire());
    SingleInstance second(QStringLiteral("kvd-test"), dir.path());
    EXPECT_FALSE(second.Acquire());
    EXPECT_FALSE(second.Held());

    FakeServices services;
    TMForm form(services, Quick(dir.path()));
    SingleInstance blocker(QStringLiteral("kvd-diag.OneInstance32"), dir.path());
    ASSERT_TRUE(blocker.Acquire());
    EXPECT_FALSE(form.FormCreate());
    ASSERT_EQ(services.messages.size(), 1u);
    EXPECT_EQ(services.messages[0], SecondCopyMessage());
    EXPECT_EQ(services.portsClosed, 1);
    EXPECT_EQ(services.asked, 0);
  }
  SingleInstance third(QStringLiteral("kvd-test"), dir.path());
  EXPECT_TRUE(third.Acquire());
}

#ifndef Q_OS_WIN
TEST(SingleInstanceTest, LockLeftByACrashedCopyCountsAsFree) {
  QTemporaryDir dir;
  // A lock file naming a process that no longer exists, as a crash leaves it.
  QProcess gone;
  gone.start(QStringLiteral("/bin/true"));
  ASSERT_TRUE(gone.waitForFinished(5000));
  const qint64 deadPid = gone.processId() > 0 ? gone.processId() : 999999;
  QFile f(dir.filePath("kvd-crash.lock"));
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write(QByteArray::number(deadPid) + "\nkvd-diag\n" + QSysInfo::machineHostName().toUtf8() +
          "\n");
  f.close();
  SingleInstance next(QStringLiteral("kvd-crash"), dir.path());
  EXPECT_TRUE(next.Acquire());
}
#endif

}  // namespace
}  // namespace kvd
