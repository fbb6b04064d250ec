// SPDX-License-Identifier: GPL-3.0-or-later
// Saving and opening recordings through the diagnostic window's commands, with scripted file
// dialogs, questions and error box: round trips, the text export, declined questions, broken
// files, the file of the launcher's import and the question before unsaved records are dropped.
#include <QAction>
#include <QDir>
#include <QFile>
#include <QFrame>
#include <deque>

#include "data/data_file.h"
#include "data/text_export.h"
#include "diag_window_fixture.h"
#include "ui/diag_files.h"

namespace kvd::testing {
namespace {

using Button = QMessageBox::StandardButton;

class DiagFilesTest : public DiagWindowTest {
 protected:
  // What the scripted dialogs answer (front first; an empty queue cancels) and what they saw.
  std::deque<QString> saveNames_;
  std::deque<QString> openNames_;
  std::deque<Button> answers_;
  std::vector<QString> questions_;
  std::vector<QString> errors_;
  std::vector<QString> openInitialNames_;
  int saveDialogs_ = 0;

  template <typename T>
  static T Pop(std::deque<T>& q, T none) {
    if (q.empty()) return none;
    T v = q.front();
    q.pop_front();
    return v;
  }

  DiagWindowConfig FileConfig() {
    DiagWindowConfig c = Config();
    c.fileUi.askSaveFile = [this](QWidget*) {
      ++saveDialogs_;
      return Pop(saveNames_, QString());
    };
    c.fileUi.askOpenFile = [this](QWidget*, const QString& initial) {
      openInitialNames_.push_back(initial);
      return Pop(openNames_, QString());
    };
    c.fileUi.ask = [this](QWidget*, const QString& text, QMessageBox::StandardButtons) {
      questions_.push_back(text);
      return Pop(answers_, Button::Cancel);
    };
    c.fileUi.showError = [this](QWidget*, const QString& text) { errors_.push_back(text); };
    return c;
  }

  // A recording of n live-data records, then off-line.
  TFormDiagJ5E2& Recorded(int n) {
    TFormDiagJ5E2& w = Open(FileConfig());
    Connect();
    Ticks(n);
    w.miConnectClick();  // off-line; the recording stays
    EXPECT_FALSE(w.Session().Connected);
    return w;
  }

  static QByteArray Records(const HistoryStore& h, RecordRange r) {
    return QByteArray(reinterpret_cast<const char*>(h.RecordBytes()) + r.First * kRecordSize,
                      r.Count * kRecordSize);
  }
  static QByteArray FileBytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
  }
  QString Path(const char* name) const { return dir_.filePath(QString::fromUtf8(name)); }
  static QString Message(const char* pattern, const QString& path) {
    return QString::fromStdString(FileMessage(pattern, FilePath(path)));
  }

  void Save() { window_->Action("miSaveDiagData")->trigger(); }
  void OpenCommand() { window_->Action("miOpenDiagData")->trigger(); }

  void ExpectPanesEndAt(int32_t index) {
    for (int i = 0; i < kPaneCount; ++i) EXPECT_EQ(window_->Pane(i)->NewestShownIndex(), index);
  }
};

TEST_F(DiagFilesTest, SavedSelectionAndSavedWholeRecordingOpenAgainWithTheirMarks) {
  TFormDiagJ5E2& w = Recorded(20);
  // Marks set in reverse order: the stretch runs from record 4 through record 12.
  ASSERT_TRUE(w.History().SetStartMark(12));
  ASSERT_TRUE(w.History().SetEndMark(4));
  const QByteArray stretch = Records(w.History(), {4, 9});
  saveNames_ = {Path("stretch.kdd")};
  Save();
  EXPECT_TRUE(questions_.empty());  // a selection needs no question
  EXPECT_TRUE(errors_.empty());
  const QByteArray file = FileBytes(Path("stretch.kdd"));
  ASSERT_EQ(file.size(), 520 + 9 * 44);
  EXPECT_EQ(file.left(8), QByteArray("\x4B\x56\x47\x01\x00\x00\x00\x01", 8));
  EXPECT_EQ(file.mid(8, 512), QByteArray(512, '\0'));
  EXPECT_EQ(file.mid(520), stretch);

  // The whole recording was never saved: opening asks first.
  answers_ = {Button::Yes};
  openNames_ = {Path("stretch.kdd")};
  OpenCommand();
  ASSERT_EQ(questions_.size(), 1u);
  EXPECT_EQ(questions_[0], QString::fromUtf8(kAskDropUnsavedText));
  ASSERT_EQ(w.History().RecordCount(), 9);
  EXPECT_EQ(Records(w.History(), {0, 9}), stretch);
  // Its marks come back: start on the last record, end on the first.
  EXPECT_EQ(w.History().SelectionStart(), 8);
  EXPECT_EQ(w.History().SelectionEnd(), 0);
  EXPECT_TRUE(w.Action("miCancelSelect")->isEnabled());
  ExpectPanesEndAt(8);
  EXPECT_FALSE(w.PanelADC()->isVisible());
  EXPECT_EQ(w.PanelADC()->height(), 0);

  // Without marks, "save all" after a yes; the loaded records count as saved.
  w.Action("miCancelSelect")->trigger();
  const QByteArray loaded = Records(w.History(), {0, 9});
  answers_ = {Button::Yes};
  saveNames_ = {Path("all.kdd")};
  Save();
  ASSERT_EQ(questions_.size(), 2u);
  EXPECT_EQ(questions_[1], QString::fromUtf8(kAskSaveAllText));
  EXPECT_EQ(FileBytes(Path("all.kdd")).mid(520), loaded);
  openNames_ = {Path("all.kdd")};
  OpenCommand();
  EXPECT_EQ(questions_.size(), 2u);  // nothing unsaved: no question
  EXPECT_EQ(Records(w.History(), {0, 9}), loaded);
  EXPECT_EQ(w.History().SelectionStart(), -1);
  EXPECT_EQ(w.History().SelectionEnd(), -1);
  EXPECT_TRUE(errors_.empty());
}

TEST_F(DiagFilesTest, TextNameInAnyCaseWritesTheTextExportOtherNamesTheDataFile) {
  TFormDiagJ5E2& w = Recorded(6);
  const std::string text =
      BuildTextExport(w.History(), w.History().AllRecords(), LocaleExportOptions());
  ASSERT_EQ(std::count(text.begin(), text.end(), '\n'), 7);  // header and six records
  struct Case {
    const char* name;
    bool text;
  };
  const Case cases[] = {{"a.TXT", true}, {"b.txt", true},      {"c.Txt", true}, {"d.kdd", false},
                        {"e", false},    {"f.txt.kdd", false}, {"g.dat", false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    answers_ = {Button::Yes};
    saveNames_ = {Path(c.name)};
    Save();
    const QByteArray file = FileBytes(Path(c.name));
    if (c.text) {
      // A text export cannot give the recording back: it stays unsaved until a data file.
      EXPECT_TRUE(w.Files().HasUnsavedRecords());
      EXPECT_EQ(file.toStdString(), text);
      EXPECT_TRUE(file.startsWith("H:MM:SS.ms\t"));
    } else {
      ASSERT_EQ(file.size(), 520 + 6 * 44);
      EXPECT_EQ(file.mid(520), Records(w.History(), {0, 6}));
    }
  }
  EXPECT_TRUE(errors_.empty());
  EXPECT_FALSE(w.Files().HasUnsavedRecords());
}

TEST_F(DiagFilesTest, DecliningTheQuestionOrTheDialogWritesNothing) {
  TFormDiagJ5E2& w = Recorded(5);
  struct Case {
    Button answer;
    int dialogs;  // save dialogs shown
  };
  for (const Case c : {Case{Button::No, 0}, Case{Button::Cancel, 0}, Case{Button::Yes, 1}}) {
    SCOPED_TRACE(static_cast<int>(c.answer));
    saveDialogs_ = 0;
    answers_ = {c.answer};
    saveNames_.clear();  // the dialog, if shown, is cancelled
    Save();
    EXPECT_EQ(saveDialogs_, c.dialogs);
  }
  EXPECT_EQ(questions_.size(), 3u);
  EXPECT_TRUE(QDir(dir_.path()).entryList({"*.kdd", "*.txt", "*.tmp*"}, QDir::Files).isEmpty());
  EXPECT_TRUE(errors_.empty());
  EXPECT_TRUE(w.Files().HasUnsavedRecords());
  // Declining the question before an open keeps the recording and shows no dialog.
  answers_ = {Button::No};
  openNames_ = {Path("never.kdd")};
  OpenCommand();
  EXPECT_TRUE(openInitialNames_.empty());
  EXPECT_EQ(w.History().RecordCount(), 5);
}

TEST_F(DiagFilesTest, BrokenFileGivesItsMessageAndLeavesTheRecordingAsItWas) {
  TFormDiagJ5E2& w = Recorded(8);
  ASSERT_TRUE(w.Session().Paused);  // going off-line pauses; browse back a little
  w.miFrameLeftClick();
  const int32_t shown = w.Pane(0)->NewestShownIndex();
  const QByteArray before = Records(w.History(), {0, 8});

  const auto write = [this](const char* name, QByteArray bytes) {
    QFile f(Path(name));
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
    return Path(name);
  };
  const QByteArray signature("\x4B\x56\x47\x01\x00\x00\x00\x01", 8);
  QByteArray terva = signature + QByteArray(512 + 44, '\0');
  terva[7] = 0x0A;
  struct Case {
    QString file;
    const char* pattern;
  };
  const Case cases[] = {
      {Path("missing.kdd"), kMsgFileOpenFailed},
      {dir_.path(), kMsgFileOpenFailed},
      // A file of another family is known to the launcher but not to this window.
      {write("terva.kdd", terva), kMsgFileIncompatible},
      {write("short.kdd", signature + QByteArray(100, '\0')), kMsgFileIncompatible},
      {write("empty.kdd", QByteArray()), kMsgFileIncompatible},
      {write("text.kdd", QByteArray(2000, 'x')), kMsgFileIncompatible},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file.toStdString());
    errors_.clear();
    answers_ = {Button::Yes};
    openNames_ = {c.file};
    OpenCommand();
    ASSERT_EQ(errors_.size(), 1u);
    EXPECT_EQ(errors_[0], Message(c.pattern, c.file));
    EXPECT_EQ(w.History().RecordCount(), 8);
    EXPECT_EQ(Records(w.History(), {0, 8}), before);
    ExpectPanesEndAt(shown);
  }
  // The recording is still unsaved after every failed open.
  EXPECT_TRUE(w.Files().HasUnsavedRecords());
}

TEST_F(DiagFilesTest, FailedSaveReportsAndKeepsTheRecordingAndWhatLiesThere) {
  TFormDiagJ5E2& w = Recorded(4);
  const QByteArray before = Records(w.History(), {0, 4});
  ASSERT_TRUE(QDir(dir_.path()).mkdir("taken"));
  QFile inside(Path("taken/keep.txt"));
  ASSERT_TRUE(inside.open(QIODevice::WriteOnly));
  inside.write("keep");
  inside.close();
  for (const QString& target : {Path("no/such/dir/x.kdd"), Path("taken"), Path("no/x.txt")}) {
    SCOPED_TRACE(target.toStdString());
    errors_.clear();
    answers_ = {Button::Yes};
    saveNames_ = {target};
    Save();
    ASSERT_EQ(errors_.size(), 1u);
    EXPECT_EQ(errors_[0], Message(kMsgFileCreateFailed, target));
  }
  EXPECT_EQ(FileBytes(Path("taken/keep.txt")), QByteArray("keep"));
  EXPECT_EQ(Records(w.History(), {0, 4}), before);
  EXPECT_EQ(w.History().RecordCount(), 4);
  EXPECT_TRUE(w.Files().HasUnsavedRecords());
}

TEST_F(DiagFilesTest, ImportedFileOpensAtCreationOnceThenTheDialogOffersIt) {
  // Two files written by the core: 30 and 3 records with distinct times.
  std::vector<uint8_t> records(30 * kRecordSize, 0);
  for (int i = 0; i < 30; ++i) {
    auto* r = reinterpret_cast<HistoryRecord*>(records.data() + i * kRecordSize);
    r->SetElapsedMs(i * 250);
    r->Bytes[kRecordPayloadOffset + 14] = static_cast<uint8_t>(i);
  }
  const QString first = Path("first.kdd");
  const QString second = Path("second.kdd");
  WriteDataFile(FilePath(first), records.data(), 30);
  WriteDataFile(FilePath(second), records.data() + 10 * kRecordSize, 3);

  DiagWindowConfig c = FileConfig();
  c.autoConnect = false;
  c.openFileName = first;
  TFormDiagJ5E2& w = Open(c);
  EXPECT_TRUE(openInitialNames_.empty());  // no dialog for the imported file
  ASSERT_EQ(w.History().RecordCount(), 30);
  EXPECT_EQ(w.History().RecordAt(29)->ElapsedMs(), 29 * 250);
  ExpectPanesEndAt(29);
  EXPECT_FALSE(w.PanelADC()->isVisible());
  EXPECT_FALSE(w.Files().OpenFileMode());
  // Off-line: the first tick does not connect.
  w.ComTimerTimer();
  EXPECT_FALSE(w.Session().Connected);
  EXPECT_TRUE(w.Action("miOpenDiagData")->isEnabled());

  // The next open shows the dialog with the imported name; cancelling it changes nothing.
  OpenCommand();
  ASSERT_EQ(openInitialNames_.size(), 1u);
  EXPECT_EQ(openInitialNames_[0], first);
  EXPECT_EQ(w.History().RecordCount(), 30);
  // Another file opens without a question: nothing unsaved.
  openNames_ = {second};
  OpenCommand();
  EXPECT_TRUE(questions_.empty());
  ASSERT_EQ(w.History().RecordCount(), 3);
  EXPECT_EQ(w.History().RecordAt(0)->ElapsedMs(), 10 * 250);
  ExpectPanesEndAt(2);
  EXPECT_TRUE(errors_.empty());
}

TEST_F(DiagFilesTest, ImportedFileThatVanishedGivesItsMessageAndLaterOpensShowTheDialog) {
  DiagWindowConfig c = FileConfig();
  c.autoConnect = false;
  c.openFileName = Path("gone.kdd");
  TFormDiagJ5E2& w = Open(c);
  ASSERT_EQ(errors_.size(), 1u);
  EXPECT_EQ(errors_[0], Message(kMsgFileOpenFailed, c.openFileName));
  EXPECT_EQ(w.History().RecordCount(), 0);
  OpenCommand();
  EXPECT_EQ(openInitialNames_.size(), 1u);
}

TEST_F(DiagFilesTest, OnLineTheRecordCanBeSavedButNoFileOpened) {
  TFormDiagJ5E2& w = Open(FileConfig());
  Connect();
  Ticks(3);
  EXPECT_TRUE(w.Action("miSaveDiagData")->isEnabled());
  EXPECT_FALSE(w.Action("miOpenDiagData")->isEnabled());
  w.miOpenDiagDataClick();  // even when called directly
  EXPECT_TRUE(openInitialNames_.empty());
  EXPECT_TRUE(questions_.empty());
  // Saving while recording: the records so far, and new ones make the recording unsaved again.
  answers_ = {Button::Yes};
  saveNames_ = {Path("live.kdd")};
  Save();
  EXPECT_EQ(FileBytes(Path("live.kdd")).size(), 520 + 3 * 44);
  EXPECT_FALSE(w.Files().HasUnsavedRecords());
  Ticks(1);
  EXPECT_TRUE(w.Files().HasUnsavedRecords());
}

}  // namespace
}  // namespace kvd::testing
