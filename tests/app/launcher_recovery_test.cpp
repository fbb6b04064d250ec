// SPDX-License-Identifier: GPL-3.0-or-later
// The launcher's offer of a recording left behind by a crash: open it as the import does, keep it
// for later, or delete it; with the real question box answered by the test.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTimer>
#include <vector>

#include "app/launcher.h"
#include "data/data_file.h"
#include "data/recovery_file.h"
#include "ui/diag_files.h"

namespace kvd {
namespace {

class RecoveryServices : public LauncherServices {
 public:
  std::vector<RecoveryAnswer> answers;  // front first; Keep when none are left
  std::vector<QString> questions;
  std::vector<QString> messages;
  struct Run {
    int family;
    bool autoConnect;
    QString openFile;
  };
  std::vector<Run> runs;
  bool realBox = false;  // ask with the program's box instead

  std::optional<QString> AskPort(QWidget*, const QString&, const QStringList&,
                                 const QString&) override {
    return QStringLiteral("1");
  }
  void ShowMessage(QWidget*, const QString& text, QMessageBox::Icon) override {
    messages.push_back(text);
  }
  void RunDiagnostics(QWidget*, const PortChoice&, int family, const QString&, bool autoConnect,
                      const QString& openFile) override {
    runs.push_back({family, autoConnect, openFile});
  }
  QString AskImportFile(QWidget*) override { return {}; }
  void ShowAbout(QWidget*) override {}
  void ShowSettings(QWidget*) override {}
  void ClosePort() override {}
  RecoveryAnswer AskRecovery(QWidget* parent, const QString& text) override {
    questions.push_back(text);
    if (realBox) return LauncherServices::AskRecovery(parent, text);
    if (answers.empty()) return RecoveryAnswer::Keep;
    const RecoveryAnswer a = answers.front();
    answers.erase(answers.begin());
    return a;
  }
};

class LauncherRecoveryTest : public ::testing::Test {
 protected:
  QString Folder() const { return dir_.filePath(QStringLiteral("recovery")); }
  QString Left(const char* stamp, int records) {
    QDir().mkpath(Folder());
    const QString name =
        QDir(Folder()).filePath(QStringLiteral("recording-%1.kdd").arg(QLatin1String(stamp)));
    std::vector<uint8_t> bytes(static_cast<size_t>(records) * kRecordSize, 0x11);
    WriteDataFile(FilePath(name), bytes.data(), records);
    return name;
  }
  TMForm& Start(bool withFolder = true) {
    LauncherOptions o;
    o.splashMs = 0;
    o.lockDir = dir_.path();
    if (withFolder) o.recoveryDir = Folder();
    form_ = std::make_unique<TMForm>(services_, o);
    EXPECT_TRUE(form_->FormCreate());
    return *form_;
  }

  QTemporaryDir dir_;
  RecoveryServices services_;
  std::unique_ptr<TMForm> form_;
};

using Answer = LauncherServices::RecoveryAnswer;

TEST_F(LauncherRecoveryTest, EachAnswerDoesWhatItSays) {
  struct Case {
    Answer answer;
    bool opened;
    bool kept;
  };
  for (const Case c : {Case{Answer::Open, true, true}, Case{Answer::Keep, false, true},
                       Case{Answer::Delete, false, false}}) {
    services_ = RecoveryServices{};
    const QString left = Left("20260101-000000-1000", 3);
    services_.answers = {c.answer};
    Start().OfferRecovery();
    ASSERT_EQ(services_.questions.size(), 1u);
    EXPECT_EQ(services_.questions[0], QString::fromUtf8(kRecoveryQuestion));
    ASSERT_EQ(services_.runs.size(), c.opened ? 1u : 0u);
    if (c.opened) {
      // As the import: family 1, off-line, the file opened at creation.
      EXPECT_EQ(services_.runs[0].family, 1);
      EXPECT_FALSE(services_.runs[0].autoConnect);
      EXPECT_EQ(QFileInfo(services_.runs[0].openFile), QFileInfo(left));
    }
    EXPECT_EQ(QFile::exists(left), c.kept);
    QFile::remove(left);
  }
}

TEST_F(LauncherRecoveryTest, OnlyRecordingsWithARecordAreOfferedAndOnlyWhenAFolderIsSet) {
  const QString empty = Left("20260101-000000-1001", 0);  // the head only: crashed at once
  const QString second = Left("20260102-000000-1002", 2);
  const QString first = Left("20260101-000000-1003", 1);
  {
    QFile other(QDir(Folder()).filePath(QStringLiteral("notes.kdd")));
    other.open(QIODevice::WriteOnly);
  }

  Start(false).OfferRecovery();  // no folder given: nothing looked at
  EXPECT_TRUE(services_.questions.empty());
  EXPECT_TRUE(QFile::exists(empty));

  services_.answers = {Answer::Delete, Answer::Keep};
  Start().OfferRecovery();
  EXPECT_EQ(services_.questions.size(), 2u);  // oldest first: first, then second
  EXPECT_FALSE(QFile::exists(empty));         // removed without a question
  EXPECT_FALSE(QFile::exists(first));
  EXPECT_TRUE(QFile::exists(second));
  EXPECT_TRUE(QFile::exists(QDir(Folder()).filePath(QStringLiteral("notes.kdd"))));

  // A left-over file whose head is not ours: the program's message, nothing opens.
  QFile::remove(second);
  const QString broken = Left("20260103-000000-1004", 2);
  {
    QFile f(broken);
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    f.write("XXXX");
  }
  services_ = RecoveryServices{};
  services_.answers = {Answer::Open};
  Start().OfferRecovery();
  EXPECT_TRUE(services_.runs.empty());
  ASSERT_EQ(services_.messages.size(), 1u);
  EXPECT_EQ(services_.messages[0].toStdString(),
            FileMessage(kMsgFileIncompatible, FilePath(broken)));
}

TEST_F(LauncherRecoveryTest, TheProgramsBoxHasYesNoAndDelete) {
  struct Case {
    const char* button;
    bool kept;
  };
  for (const Case c : {Case{"Нет", true}, Case{"Удалить", false}}) {
    services_ = RecoveryServices{};
    services_.realBox = true;
    const QString left = Left("20260101-000000-1005", 1);
    QStringList buttons;
    QTimer::singleShot(0, [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      ASSERT_NE(box, nullptr);
      EXPECT_EQ(box->text(), QString::fromUtf8(kRecoveryQuestion));
      for (QAbstractButton* b : box->buttons()) buttons << b->text();
      for (QAbstractButton* b : box->buttons())
        if (b->text() == QString::fromUtf8(c.button)) b->click();
    });
    Start().OfferRecovery();
    buttons.sort();
    EXPECT_EQ(buttons, (QStringList{QStringLiteral("Да"), QStringLiteral("Нет"),
                                    QStringLiteral("Удалить")}));
    EXPECT_EQ(QFile::exists(left), c.kept) << c.button;
    EXPECT_TRUE(services_.runs.empty());
    QFile::remove(left);
  }
}

}  // namespace
}  // namespace kvd
