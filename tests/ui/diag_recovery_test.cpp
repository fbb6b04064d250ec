// SPDX-License-Identifier: GPL-3.0-or-later
// The recovery file of the diagnostic window's recording: it follows the history, goes when the
// recording is saved, cleared or not wanted at close, survives a killed program with every record
// whole, and a folder that refuses it gives the program's message while recording goes on.
#include <QDir>
#include <QFile>
#include <deque>
#include <fstream>
#include <iterator>
#include <vector>

#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#endif

#include "data/data_file.h"
#include "data/recovery_file.h"
#include "diag_window_fixture.h"
#include "ui/diag_files.h"
#include "ui/diag_recovery.h"
#include "ui/rx_timer.h"

namespace kvd::testing {
namespace {

namespace fs = std::filesystem;
using Button = QMessageBox::StandardButton;

class DiagRecoveryTest : public DiagWindowTest {
 protected:
  std::deque<QString> saveNames_;
  std::deque<Button> answers_;
  std::vector<QString> questions_;

  QString Folder() const { return dir_.filePath(QStringLiteral("recovery")); }

  DiagWindowConfig RecoveryConfig() {
    DiagWindowConfig c = Config();
    c.recoveryDir = Folder();
    c.fileUi.askSaveFile = [this](QWidget*) {
      if (saveNames_.empty()) return QString();
      QString n = saveNames_.front();
      saveNames_.pop_front();
      return n;
    };
    c.fileUi.ask = [this](QWidget*, const QString& text, QMessageBox::StandardButtons) {
      questions_.push_back(text);
      if (answers_.empty()) return Button::Cancel;
      Button b = answers_.front();
      answers_.pop_front();
      return b;
    };
    c.fileUi.showError = [this](QWidget*, const QString& text) { messages_.push_back(text); };
    return c;
  }

  std::vector<fs::path> Files() const { return FindRecoveryFiles(FilePath(Folder())); }

  // The file's records as bytes, judged by the program's byte reader. The file is read as a
  // plain stream: the program's file reader refuses, on Windows, a file that the recording
  // still holds open for writing.
  static QByteArray FileRecords(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                     std::istreambuf_iterator<char>());
    VirtualClock clock;
    HistoryStore store(clock);
    const DataFileInfo info = ReadDataFileBytes(bytes, store, file);
    return QByteArray(reinterpret_cast<const char*>(store.RecordBytes()),
                      info.Records * kRecordSize);
  }
  QByteArray HistoryBytes() const {
    const HistoryStore& h = window_->History();
    return QByteArray(reinterpret_cast<const char*>(h.RecordBytes()),
                      h.RecordCount() * kRecordSize);
  }
};

TEST_F(DiagRecoveryTest, TheFileFollowsTheRecordingAndGoesWhenSavedOrCleared) {
  TFormDiagJ5E2& w = Open(RecoveryConfig());
  EXPECT_TRUE(Files().empty());  // nothing until the first record
  Connect();
  Ticks(6);
  ASSERT_EQ(Files().size(), 1u);
  EXPECT_EQ(FileRecords(Files()[0]), HistoryBytes());

  // Saving the whole recording (after the "save all" question) removes it.
  answers_ = {Button::Yes};
  saveNames_ = {dir_.filePath(QStringLiteral("saved.kdd"))};
  w.miSaveDiagDataClick();
  EXPECT_TRUE(Files().empty());

  // More records: the file comes back with the whole history, saved part included.
  Ticks(2);
  ASSERT_EQ(Files().size(), 1u);
  EXPECT_EQ(FileRecords(Files()[0]), HistoryBytes());
  EXPECT_EQ(w.History().RecordCount(), 8);

  // A marked stretch saved is not the recording: the file stays.
  // The marks, set after their records were written, reach the file too.
  ASSERT_TRUE(w.History().SetStartMark(1));
  ASSERT_TRUE(w.History().SetEndMark(3));
  EXPECT_EQ(FileRecords(Files()[0]), HistoryBytes());
  saveNames_ = {dir_.filePath(QStringLiteral("part.kdd"))};
  w.miSaveDiagDataClick();
  EXPECT_TRUE(QFile::exists(dir_.filePath(QStringLiteral("part.kdd"))));
  EXPECT_EQ(Files().size(), 1u);
  // A text export is not a recording one can open again: the file stays.
  w.miCancelSelectClick();
  answers_ = {Button::Yes};
  saveNames_ = {dir_.filePath(QStringLiteral("all.txt"))};
  w.miSaveDiagDataClick();
  EXPECT_EQ(Files().size(), 1u);

  // "Очистить накопленные данные" removes it.
  w.miResetDataClick();
  EXPECT_TRUE(Files().empty());
  Ticks(1);
  ASSERT_EQ(Files().size(), 1u);
  EXPECT_EQ(FileRecords(Files()[0]), HistoryBytes());

  // A new connection starts a new recording, and with it a new file.
  w.miConnectClick();
  ASSERT_FALSE(w.Session().Connected);
  w.miConnectClick();
  ASSERT_TRUE(w.Session().Connected);
  Ticks(2);
  ASSERT_EQ(Files().size(), 1u);
  EXPECT_EQ(w.History().RecordCount(), 2);
  EXPECT_EQ(FileRecords(Files()[0]), HistoryBytes());
  EXPECT_TRUE(messages_.empty()) << messages_.front().toStdString();
}

TEST_F(DiagRecoveryTest, TheQuestionAtCloseDecidesAboutTheFile) {
  struct Case {
    const char* name;
    std::vector<Button> answers;
    bool saveDialogAnswered;
    bool closes;
    bool fileKept;
  };
  const Case cases[] = {
      {"no: dropped", {Button::No}, false, true, false},
      {"cancel: stays open", {Button::Cancel}, false, false, true},
      {"yes, saved", {Button::Yes}, true, true, false},
      {"yes, save dialog cancelled", {Button::Yes}, false, false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    QDir(Folder()).removeRecursively();
    questions_.clear();
    TFormDiagJ5E2& w = Open(RecoveryConfig());
    Connect();
    Ticks(4);
    ASSERT_EQ(Files().size(), 1u);
    answers_.assign(c.answers.begin(), c.answers.end());
    const QString saved = dir_.filePath(QStringLiteral("at-close.kdd"));
    QFile::remove(saved);
    if (c.saveDialogAnswered) saveNames_ = {saved};
    const bool closed = w.close();
    EXPECT_EQ(closed, c.closes);
    ASSERT_EQ(questions_.size(), 1u);
    EXPECT_EQ(questions_[0], QString::fromUtf8(kAskSaveAtCloseText));
    EXPECT_EQ(Files().size(), c.fileKept ? 1u : 0u);
    if (c.saveDialogAnswered) {
      VirtualClock clock;
      HistoryStore store(clock);
      EXPECT_EQ(ReadDataFile(FilePath(saved), store).Records, 4);
    }
    // A window that stays open records on.
    if (!c.closes) {
      EXPECT_TRUE(w.ComTimer()->Enabled());
      Ticks(1);
      EXPECT_EQ(FileRecords(Files()[0]), HistoryBytes());
    }
    window_.reset();
  }
  // Nothing recorded: no question at all.
  questions_.clear();
  TFormDiagJ5E2& w = Open(RecoveryConfig());
  EXPECT_TRUE(w.close());
  EXPECT_TRUE(questions_.empty());
}

TEST_F(DiagRecoveryTest, ALeftOverFileOpensUnsavedAndGoesOnlyWhenTheUserSaysSo) {
  // A file left by a crash, as the launcher hands it over, and an ordinary file of the user's.
  std::vector<uint8_t> records(5 * kRecordSize);
  for (int i = 0; i < 5; ++i) StoreLE32(records.data() + i * kRecordSize, uint32_t(i) * 250);
  QDir().mkpath(Folder());
  const QString left =
      QDir(Folder()).filePath(QStringLiteral("recording-20260101-000000-1111.kdd"));
  const QString own = dir_.filePath(QStringLiteral("recording-20260101-000000-2222.kdd"));
  struct Case {
    QString file;
    Button atClose;
    bool asked;
    bool fileStays;
  };
  const Case cases[] = {
      {left, Button::No, true, false},     // the user does not want it: it goes
      {left, Button::Cancel, true, true},  // the window stays open, the file too
      {own, Button::No, false, true},      // the user's own file is never touched
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file.toStdString());
    WriteDataFile(FilePath(c.file), records.data(), 5);
    questions_.clear();
    DiagWindowConfig config = RecoveryConfig();
    config.autoConnect = false;
    config.openFileName = c.file;
    TFormDiagJ5E2& w = Open(config);
    EXPECT_EQ(w.History().RecordCount(), 5);
    EXPECT_EQ(w.Files().HasUnsavedRecords(), c.asked);
    answers_ = {c.atClose};
    w.close();
    EXPECT_EQ(questions_.size(), c.asked ? 1u : 0u);
    EXPECT_EQ(QFile::exists(c.file), c.fileStays);
    window_.reset();
  }
  // A new connection after opening the left-over file leaves it for the next start.
  WriteDataFile(FilePath(left), records.data(), 5);
  DiagWindowConfig config = RecoveryConfig();
  config.autoConnect = false;
  config.openFileName = left;
  TFormDiagJ5E2& w = Open(config);
  w.miConnectClick();  // "Уст.связь": the next tick connects
  Connect();
  Ticks(2);
  EXPECT_EQ(Files().size(), 2u);  // the left-over file and the new recording's
  answers_ = {Button::No};
  EXPECT_TRUE(w.close());
  EXPECT_EQ(Files(), std::vector<fs::path>{FilePath(left)});
}

#ifndef _WIN32
TEST_F(DiagRecoveryTest, AFolderThatRefusesTheFileGivesTheMessageAndRecordingGoesOn) {
  // The folder's path runs through a plain file: no user, root included, can make it.
  const QString plain = dir_.filePath(QStringLiteral("plain"));
  {
    QFile f(plain);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  }
  DiagWindowConfig config = RecoveryConfig();
  config.recoveryDir = QDir(plain).filePath(QStringLiteral("recovery"));
  TFormDiagJ5E2& w = Open(config);
  Connect();
  Ticks(5);
  QApplication::processEvents();
  ASSERT_EQ(messages_.size(), 1u);  // once, not every record
  EXPECT_TRUE(messages_[0].startsWith(QStringLiteral("Ошибка при создании файла ")))
      << messages_[0].toStdString();
  EXPECT_TRUE(w.StatusText(3).startsWith(messages_[0])) << w.StatusText(3).toStdString();
  EXPECT_EQ(w.History().RecordCount(), 5);
  // Saving still works, and the data is all there.
  answers_ = {Button::Yes};
  const QString saved = dir_.filePath(QStringLiteral("saved.kdd"));
  saveNames_ = {saved};
  w.miSaveDiagDataClick();
  VirtualClock clock;
  HistoryStore store(clock);
  EXPECT_EQ(ReadDataFile(FilePath(saved), store).Records, 5);
}

// The child side of the kill test: a window session on the virtual ECU that prints each record
// (hex) once it was appended, and runs until it is killed.
TEST(DiagRecoveryChild, KilledWindowSessionLeavesEveryRecordWhole) {
  const QTemporaryDir dir;
  const QString folder = dir.filePath(QStringLiteral("recovery"));
  int out[2];
  ASSERT_EQ(pipe(out), 0);
  const pid_t pid = fork();
  if (pid == 0) {
    // The child: the test program again, running only the session below.
    dup2(out[1], 1);
    close(out[0]);
    close(out[1]);
    setenv("KVD_RECOVERY_CHILD", folder.toLocal8Bit().constData(), 1);
    execl("/proc/self/exe", "kvd_ui_tests", "--gtest_filter=-*", static_cast<char*>(nullptr));
    _exit(127);
  }
  close(out[1]);
  FILE* f = fdopen(out[0], "r");
  std::vector<QByteArray> printed;
  char line[256];
  while (fgets(line, sizeof line, f)) {
    printed.push_back(QByteArray::fromHex(QByteArray(line).trimmed()));
    if (printed.size() == 25) {
      kill(pid, SIGKILL);
      break;
    }
  }
  int status = 0;
  waitpid(pid, &status, 0);
  fclose(f);
  ASSERT_EQ(printed.size(), 25u);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);

  const std::vector<fs::path> files = FindRecoveryFiles(FilePath(folder));
  ASSERT_EQ(files.size(), 1u);
  VirtualClock clock;
  HistoryStore store(clock);
  const DataFileInfo info = ReadDataFile(files[0], store);
  EXPECT_FALSE(info.PartialRecord);
  ASSERT_GE(info.Records, 25);
  for (int i = 0; i < 25; ++i)
    EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(store.RecordAt(i)->Bytes), kRecordSize),
              printed[static_cast<size_t>(i)])
        << "record " << i;
}
#endif

}  // namespace

#ifndef _WIN32
// Run by the test program's main when KVD_RECOVERY_CHILD names a folder.
int RunRecoveryChild(const char* folder) {
  const QTemporaryDir dir;
  VirtualClock clock{1'000'000};
  VirtualEcu ecu;
  VirtualLine line{ecu, clock};
  KwpLink link{line, clock};
  auto settings = UserSettings::OpenFile(dir.filePath(QStringLiteral("user.conf")));
  DiagWindowConfig c;
  c.link = &link;
  c.settings = settings.get();
  c.poll.IntervalMs = 0;
  c.recoveryDir = QString::fromLocal8Bit(folder);
  c.messageSink = [](const QString& text) { std::fprintf(stderr, "%s\n", qPrintable(text)); };
  TFormDiagJ5E2 w(c);
  w.ComTimerTimer();  // connects
  if (!w.Session().Connected) return 1;
  for (;;) {
    clock.AdvanceMs(250);
    const int32_t before = w.History().RecordCount();
    w.ComTimerTimer();
    for (int32_t i = before; i < w.History().RecordCount(); ++i) {
      const HistoryRecord* r = w.History().RecordAt(i);
      std::printf("%s\n",
                  QByteArray(reinterpret_cast<const char*>(r->Bytes), kRecordSize).toHex().data());
    }
    std::fflush(stdout);
    usleep(5000);
  }
}
#endif

}  // namespace kvd::testing
