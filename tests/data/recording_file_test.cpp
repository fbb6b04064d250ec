// SPDX-License-Identifier: GPL-3.0-or-later
// The writers that must survive a crash or a full disk: the file written as the recording goes,
// the recovery file of a window's recording, and the replacing writers of the save commands.
#include <gtest/gtest.h>

#include <chrono>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "data/data_file.h"
#include "data/durable_file.h"
#include "data/recording_file.h"
#include "data/recovery_file.h"
#include "data/text_export.h"
#include "test_util.h"

#ifndef _WIN32
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace kvd {
namespace {

namespace fs = std::filesystem;
using kvdtest::Block;
using kvdtest::ReadAll;
using kvdtest::ScratchDir;
using kvdtest::WriteAll;

// n distinct records, as a recording would make them.
std::vector<uint8_t> MakeRecords(int n) {
  std::vector<uint8_t> bytes(static_cast<size_t>(n) * kRecordSize);
  for (int i = 0; i < n; ++i) {
    uint8_t* r = bytes.data() + static_cast<size_t>(i) * kRecordSize;
    StoreLE32(r, static_cast<uint32_t>(i * 250));
    for (int k = kRecordPayloadOffset; k < kRecordSize; ++k) r[k] = static_cast<uint8_t>(i * 7 + k);
  }
  return bytes;
}

// Reads a file as another program would while it is still being written, and decodes it with
// the program's reader; the records it gave, as bytes. (The program's own file reader denies
// writers, so on Windows it cannot open a file that is still open for writing.)
std::string ReadBack(const fs::path& file, DataFileInfo* info = nullptr) {
  VirtualClock clock;
  HistoryStore store(clock);
  const std::string bytes = ReadAll(file);
  const DataFileInfo got = ReadDataFileBytes(
      std::span(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()), store, file);
  if (info) *info = got;
  return std::string(reinterpret_cast<const char*>(store.RecordBytes()),
                     static_cast<size_t>(got.Records) * kRecordSize);
}

std::string Prefix(const std::vector<uint8_t>& records, int n) {
  return std::string(reinterpret_cast<const char*>(records.data()),
                     static_cast<size_t>(n) * kRecordSize);
}

#ifndef _WIN32
// A file size limit for this process, as a full disk would act: writes past it fail with EFBIG
// (SIGXFSZ ignored). Restored at the end of the scope.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    old_handler_ = signal(SIGXFSZ, SIG_IGN);
    getrlimit(RLIMIT_FSIZE, &old_);
    rlimit lim = old_;
    lim.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &lim);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &old_);
    signal(SIGXFSZ, old_handler_);
  }

 private:
  rlimit old_{};
  void (*old_handler_)(int) = SIG_DFL;
};

// Folders that refuse new files: a read-only one (unless we are root, whom modes do not stop)
// and one whose path runs through a plain file.
std::vector<fs::path> RefusingFolders(const ScratchDir& dir) {
  std::vector<fs::path> folders;
  WriteAll(dir / "plain", "x");
  folders.push_back(dir / "plain" / "sub");
  if (geteuid() != 0) {
    fs::create_directories(dir / "locked");
    fs::permissions(dir / "locked", fs::perms::owner_read | fs::perms::owner_exec);
    folders.push_back(dir / "locked");
  }
  return folders;
}

// Gives a read-only folder its rights back, so that it can be removed.
void Unlock(const ScratchDir& dir) {
  std::error_code ec;
  fs::permissions(dir / "locked", fs::perms::owner_all, ec);
}
#endif

TEST(RecordingFile, EveryAppendedRecordIsInTheFileBeforeClose) {
  ScratchDir dir;
  const fs::path file = dir / "rec.kdd";
  const std::vector<uint8_t> records = MakeRecords(12);
  RecordingFile rec;
  ASSERT_TRUE(rec.Create(file));
  EXPECT_EQ(fs::file_size(file), uint64_t{kDataFileHeadSize});
  for (int i = 0; i < 12; ++i) {
    ASSERT_TRUE(rec.Append(records.data() + i * kRecordSize));
    // Handed to the system at once: another reader sees it while the file is open.
    EXPECT_EQ(fs::file_size(file), uint64_t{kDataFileHeadSize} + uint64_t(i + 1) * kRecordSize);
  }
  EXPECT_EQ(ReadBack(file), Prefix(records, 12));
  EXPECT_TRUE(rec.Close());
  EXPECT_EQ(rec.Records(), 12);
  EXPECT_EQ(ReadBack(file), Prefix(records, 12));

  // Created with records already there (a recording that was under way), then appended to.
  RecordingFile again;
  ASSERT_TRUE(again.Create(file, records.data(), 5));
  ASSERT_TRUE(again.Append(records.data() + 5 * kRecordSize));
  EXPECT_EQ(again.Records(), 6);
  EXPECT_EQ(ReadBack(file), Prefix(records, 6));
}

TEST(RecordingFile, AFileCutAnywhereOpensWithItsWholeRecords) {
  ScratchDir dir;
  const fs::path file = dir / "rec.kdd";
  const std::vector<uint8_t> records = MakeRecords(6);
  {
    RecordingFile rec;
    ASSERT_TRUE(rec.Create(file, records.data(), 6));
  }
  const std::string whole = ReadAll(file);
  struct Cut {
    size_t size;
    int records;
    bool partial;
  };
  const Cut cuts[] = {
      {520, 0, false},
      {521, 0, true},
      {520 + 43, 0, true},
      {520 + 44, 1, false},
      {520 + 3 * 44 + 7, 3, true},
      {whole.size() - 1, 5, true},
      {whole.size(), 6, false},
  };
  for (const Cut& c : cuts) {
    WriteAll(file, whole.substr(0, c.size));
    DataFileInfo info;
    EXPECT_EQ(ReadBack(file, &info), Prefix(records, c.records)) << c.size;
    EXPECT_EQ(info.Records, c.records) << c.size;
    EXPECT_EQ(info.PartialRecord, c.partial) << c.size;
  }
  // Cut inside the head it is not a data file: the program's message.
  WriteAll(file, whole.substr(0, 300));
  EXPECT_THROW(ReadBack(file), DataFileError);
}

TEST(RecordingFile, SyncsAtMostOncePerInterval) {
  ScratchDir dir;
  const std::vector<uint8_t> records = MakeRecords(1);
  RecordingFile rec(std::chrono::milliseconds(200));
  ASSERT_TRUE(rec.Create(dir / "rec.kdd"));
  EXPECT_EQ(rec.SyncCount(), 0);  // nothing to sync until a record comes
  const auto start = std::chrono::steady_clock::now();
  // Records every 5 ms for about 0.5 s: at most one sync per 200 ms, plus the first one.
  while (std::chrono::steady_clock::now() - start < std::chrono::milliseconds(500)) {
    ASSERT_TRUE(rec.Append(records.data()));
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
                           std::chrono::steady_clock::now() - start)
                           .count();
  const int64_t syncs = rec.SyncCount();
  EXPECT_GE(syncs, 1);
  EXPECT_LE(syncs, 1 + elapsed / 200);
  EXPECT_TRUE(rec.Close());
  EXPECT_FALSE(rec.Failed());
}

#ifndef _WIN32
TEST(RecordingFile, AFullDiskStopsTheFileAtItsLastWholeRecord) {
  ScratchDir dir;
  const fs::path file = dir / "rec.kdd";
  const std::vector<uint8_t> records = MakeRecords(10);
  RecordingFile rec;
  ASSERT_TRUE(rec.Create(file));
  int accepted = 0;
  {
    // Room for 4 records and 20 bytes of the fifth.
    FileSizeLimit limit(kDataFileHeadSize + 4 * kRecordSize + 20);
    for (int i = 0; i < 10; ++i)
      if (rec.Append(records.data() + i * kRecordSize)) ++accepted;
  }
  EXPECT_EQ(accepted, 4);
  EXPECT_TRUE(rec.Failed());
  // The torn fifth record was cut off, and nothing was appended after the failure even though
  // the disk had room again.
  EXPECT_EQ(fs::file_size(file), uint64_t{kDataFileHeadSize} + 4 * kRecordSize);
  EXPECT_FALSE(rec.Append(records.data()));
  EXPECT_FALSE(rec.Close());
  EXPECT_EQ(ReadBack(file), Prefix(records, 4));
}

TEST(RecordingFile, AFolderThatRefusesTheFileGivesFalseAndNoFile) {
  ScratchDir dir;
  for (const fs::path& folder : RefusingFolders(dir)) {
    RecordingFile rec;
    EXPECT_FALSE(rec.Create(folder / "rec.kdd")) << folder;
    EXPECT_FALSE(rec.IsOpen());
    EXPECT_FALSE(rec.Append(MakeRecords(1).data()));
    EXPECT_FALSE(fs::exists(folder / "rec.kdd"));
  }
  Unlock(dir);
}
#endif

// --- The recovery file of a window's recording

class RecoveryRecorderTest : public ::testing::Test {
 protected:
  void Append(int n) {
    for (int i = 0; i < n; ++i) {
      clock.AdvanceMs(250);
      auto b = Block({{10, static_cast<uint8_t>(store.RecordCount())}});
      ASSERT_TRUE(store.Append(b.data()));
      EXPECT_EQ(recorder.RecordAppended(store, store.RecordCount() - 1), "");
    }
  }
  std::string History() const {
    return std::string(reinterpret_cast<const char*>(store.RecordBytes()),
                       static_cast<size_t>(store.RecordCount()) * kRecordSize);
  }
  std::vector<fs::path> Files() const { return FindRecoveryFiles(dir.path() / "recovery"); }

  ScratchDir dir;
  VirtualClock clock{5000};
  HistoryStore store{clock};
  RecoveryRecorder recorder{dir.path() / "recovery"};
};

TEST_F(RecoveryRecorderTest, TheFileFollowsTheHistoryThroughResetLoadAndDiscard) {
  EXPECT_TRUE(Files().empty());
  EXPECT_FALSE(recorder.HoldsFile());
  Append(5);
  ASSERT_EQ(Files().size(), 1u);
  const fs::path first = Files()[0];
  EXPECT_TRUE(IsRecoveryFileName(first));
  EXPECT_EQ(ReadBack(first), History());

  // The history is reset under it (a new connection without a word to the recorder): the next
  // record starts a new file holding just the new recording.
  store.Reset();
  Append(2);
  ASSERT_EQ(Files().size(), 1u);
  EXPECT_EQ(ReadBack(Files()[0]), History());

  // A loaded file of 7 records, then live records after it: the file holds all of them.
  std::vector<uint8_t> loaded = MakeRecords(7);
  store.Load(loaded.data(), 7);
  Append(1);
  ASSERT_EQ(Files().size(), 1u);
  EXPECT_EQ(ReadBack(Files()[0]), History());
  EXPECT_EQ(store.RecordCount(), 8);

  recorder.Discard();
  EXPECT_TRUE(Files().empty());
  EXPECT_FALSE(recorder.HoldsFile());
  Append(1);  // a new recording starts a new file
  EXPECT_EQ(Files().size(), 1u);
  recorder.DropRecording();
  EXPECT_TRUE(Files().empty());
}

TEST_F(RecoveryRecorderTest, MarksSetAfterTheirRecordWasWrittenReachTheFile) {
  store.SetMarkCallback(
      [this](int32_t index) { EXPECT_EQ(recorder.MarkChanged(store, index), ""); });
  Append(10);
  const fs::path file = Files().at(0);
  enum Op { kStart, kEnd, kCancel, kReset };
  struct Step {
    const char* what;
    Op op;
    int32_t index;
    int32_t start, end;  // the marks of the file when it is opened
  };
  const Step steps[] = {
      {"start mark", kStart, 2, 2, -1},
      {"end mark", kEnd, 7, 2, 7},
      {"start moved", kStart, 4, 4, 7},
      {"both on one record", kEnd, 4, 4, 4},
      {"cancelled", kCancel, 0, -1, -1},
      {"marks again", kEnd, 9, -1, 9},
      // The history emptied under the file (a new connection): the old file is not touched.
      {"reset, then cancelled", kReset, 0, -1, 9},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.what);
    if (s.op == kStart) store.SetStartMark(s.index);
    if (s.op == kEnd) store.SetEndMark(s.index);
    if (s.op == kReset) store.Reset();
    if (s.op == kCancel || s.op == kReset) store.CancelSelection();
    VirtualClock c;
    HistoryStore opened(c);
    const std::string bytes = ReadAll(file);
    ReadDataFileBytes(std::span(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()),
                      opened, file);
    EXPECT_EQ(opened.RecordCount(), 10);
    EXPECT_EQ(opened.SelectionStart(), s.start);
    EXPECT_EQ(opened.SelectionEnd(), s.end);
    if (s.op != kReset) {
      EXPECT_EQ(std::string(reinterpret_cast<const char*>(opened.RecordBytes()),
                            bytes.size() - kDataFileHeadSize),
                History());
    }
  }
}

TEST_F(RecoveryRecorderTest, AnAdoptedFileGoesOnlyWithDiscard) {
  const fs::path folder = dir.path() / "recovery";
  fs::create_directories(folder);
  const fs::path left = folder / "recording-20260101-000000-1234.kdd";
  enum Then { kDiscard, kDrop, kNewRecordingThenDiscard };
  struct Case {
    Then then;
    bool kept;
  };
  for (const Case c :
       {Case{kDiscard, false}, Case{kDrop, true}, Case{kNewRecordingThenDiscard, true}}) {
    WriteAll(left, kvdtest::FileBytes(1, {}));
    recorder.Adopt(left);
    EXPECT_TRUE(recorder.HoldsFile());
    if (c.then == kNewRecordingThenDiscard) {
      // A new connection: the history no longer holds the adopted file's records.
      store.Reset();
      Append(2);
      EXPECT_EQ(Files().size(), 2u);
    }
    if (c.then == kDrop)
      recorder.DropRecording();
    else
      recorder.Discard();
    EXPECT_EQ(fs::exists(left), c.kept) << c.then;
    EXPECT_FALSE(recorder.HoldsFile());
    EXPECT_EQ(Files().size(), c.kept ? 1u : 0u);
  }
  // Other files in the folder are never taken for recovery files.
  WriteAll(folder / "notes.txt", "x");
  WriteAll(folder / "recording-.kdd", "x");
  fs::create_directories(folder / "recording-dir.kdd");
  EXPECT_EQ(FindRecoveryFiles(folder), std::vector<fs::path>{left});
  EXPECT_TRUE(FindRecoveryFiles(dir / "missing").empty());
}

#ifndef _WIN32
TEST_F(RecoveryRecorderTest, AFullDiskGivesTheMessageOnceAndKeepsTheHistory) {
  Append(3);
  std::string message;
  int messages = 0;
  {
    FileSizeLimit limit(kDataFileHeadSize + 4 * kRecordSize + 10);
    for (int i = 0; i < 5; ++i) {
      clock.AdvanceMs(250);
      auto b = Block({{10, 0x55}});
      ASSERT_TRUE(store.Append(b.data()));
      const std::string m = recorder.RecordAppended(store, store.RecordCount() - 1);
      if (!m.empty()) {
        message = m;
        ++messages;
      }
    }
  }
  EXPECT_EQ(messages, 1);
  ASSERT_EQ(Files().size(), 1u);
  EXPECT_EQ(message, FileMessage(kMsgFileWriteFailed, Files()[0]));
  EXPECT_EQ(store.RecordCount(), 8);  // the recording goes on in memory
  EXPECT_EQ(ReadBack(Files()[0]), History().substr(0, 4 * kRecordSize));
}

TEST_F(RecoveryRecorderTest, AFolderThatRefusesTheFileGivesTheCreateMessageOnce) {
  ScratchDir other;
  for (const fs::path& folder : RefusingFolders(other)) {
    RecoveryRecorder refused(folder / "recovery");
    std::vector<std::string> messages;
    for (int i = 0; i < 3; ++i) {
      clock.AdvanceMs(250);
      auto b = Block();
      ASSERT_TRUE(store.Append(b.data()));
      const std::string m = refused.RecordAppended(store, store.RecordCount() - 1);
      if (!m.empty()) messages.push_back(m);
    }
    ASSERT_EQ(messages.size(), 1u) << folder;
    EXPECT_EQ(messages[0].rfind("Ошибка при создании файла ", 0), 0u) << messages[0];
    EXPECT_FALSE(refused.HoldsFile());
  }
  Unlock(other);
}

// --- The replacing writers of the save commands

TEST(ReplacingWriters, AFailedSaveKeepsTheOldFileAndLeavesNoTemporaryFile) {
  VirtualClock clock;
  HistoryStore store(clock);
  for (int i = 0; i < 200; ++i) {
    auto b = Block({{10, static_cast<uint8_t>(i)}});
    store.Append(b.data());
    clock.AdvanceMs(250);
  }
  using Writer = void (*)(const fs::path&, const HistoryStore&);
  const std::pair<const char*, Writer> writers[] = {
      {"data.kdd",
       [](const fs::path& f, const HistoryStore& s) { WriteDataFile(f, s, s.AllRecords()); }},
      {"data.txt",
       [](const fs::path& f, const HistoryStore& s) {
         WriteTextExport(f, s, s.AllRecords(), TextExportOptions{});
       }},
  };
  for (const auto& [name, write] : writers) {
    ScratchDir dir;
    const fs::path file = dir / name;
    WriteAll(file, "old content");
    {
      FileSizeLimit limit(4096);  // the save needs more than that
      try {
        write(file, store);
        ADD_FAILURE() << name << ": no error";
      } catch (const DataFileError& e) {
        EXPECT_EQ(e.what(), FileMessage(kMsgFileCreateFailed, file)) << name;
      }
    }
    EXPECT_EQ(ReadAll(file), "old content") << name;
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1)
        << name;
    // With room, the same save replaces the file whole.
    write(file, store);
    EXPECT_GT(fs::file_size(file), 4096u) << name;
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1)
        << name;
  }
}
#endif

}  // namespace
}  // namespace kvd
