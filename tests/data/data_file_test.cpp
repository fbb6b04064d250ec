// SPDX-License-Identifier: GPL-3.0-or-later
#include "data/data_file.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "data/text_export.h"
#include "test_util.h"

namespace kvd {
namespace {

using kvdtest::Block;
using kvdtest::FileBytes;
using kvdtest::ReadAll;
using kvdtest::Record;
using kvdtest::WriteAll;

class DataFileTest : public ::testing::Test {
 protected:
  void Fill(int n) {
    for (int i = 0; i < n; ++i) {
      auto b = Block({{10, static_cast<uint8_t>(i)}, {35, static_cast<uint8_t>(0xF0 + i)}});
      store.Append(b.data());
      clock.AdvanceMs(250);
    }
  }
  // The message the windows show for a file, with its name.
  std::string Message(const char* pattern, const std::filesystem::path& p) {
    return FileMessage(pattern, p);
  }
  // The store's records as bytes, for comparing.
  std::string Bytes(const HistoryStore& s, int first, int count) {
    return std::string(reinterpret_cast<const char*>(s.RecordBytes()) + first * kRecordSize,
                       static_cast<size_t>(count) * kRecordSize);
  }

  VirtualClock clock{1'000'000};
  HistoryStore store{clock};
  kvdtest::ScratchDir dir;
};

TEST_F(DataFileTest, WriteThenReadGivesTheSameRecordsMarksAndTimes) {
  Fill(7);
  store.SetStartMark(5);
  store.SetEndMark(2);
  const auto file = dir / "run.kdd";
  WriteDataFile(file, store, store.AllRecords());
  const std::string bytes = ReadAll(file);
  ASSERT_EQ(bytes.size(), 520u + 7 * 44);
  EXPECT_EQ(bytes.substr(0, 8), std::string("KVG\x01\x00\x00\x00\x01", 8));
  EXPECT_EQ(bytes.substr(8, 512), std::string(512, '\0'));
  EXPECT_EQ(bytes.substr(520), Bytes(store, 0, 7));

  VirtualClock other;
  HistoryStore loaded(other);
  const DataFileInfo info = ReadDataFile(file, loaded);
  EXPECT_EQ(info.Records, 7);
  EXPECT_FALSE(info.Truncated);
  EXPECT_FALSE(info.PartialRecord);
  EXPECT_EQ(loaded.RecordCount(), 7);
  EXPECT_EQ(Bytes(loaded, 0, 7), Bytes(store, 0, 7));
  EXPECT_EQ(loaded.RecordAt(6)->ElapsedMs(), 1500);
  EXPECT_EQ(loaded.SelectedRange(), (RecordRange{2, 4}));
}

TEST_F(DataFileTest, SavedRangesIncludeBothEndsAndTheNewestRecord) {
  Fill(10);
  const auto file = dir / "part.kdd";
  store.SetStartMark(7);
  store.SetEndMark(3);
  WriteDataFile(file, store, *store.SelectedRange());
  std::string bytes = ReadAll(file);
  ASSERT_EQ(bytes.size(), 520u + 5 * 44);  // records 3..7
  EXPECT_EQ(bytes.substr(520), Bytes(store, 3, 5));
  // A saved stretch keeps its own times, not starting at 0.
  EXPECT_EQ(LoadLE32(reinterpret_cast<const uint8_t*>(bytes.data()) + 520), 750u);

  store.SetEndMark(7);
  WriteDataFile(file, store, *store.SelectedRange());
  EXPECT_EQ(ReadAll(file).size(), 564u);  // one record

  WriteDataFile(file, store, store.AllRecords());
  bytes = ReadAll(file);
  ASSERT_EQ(bytes.size(), 520u + 10 * 44);
  EXPECT_EQ(bytes.substr(520 + 9 * 44), Bytes(store, 9, 1));  // the newest record is there

  // Ranges reaching past the history are cut to it; an empty history gives the head.
  WriteDataFile(file, store, RecordRange{8, 50});
  EXPECT_EQ(ReadAll(file).size(), 520u + 2 * 44);
  store.Reset();
  WriteDataFile(file, store, store.AllRecords());
  EXPECT_EQ(ReadAll(file).size(), 520u);
}

TEST_F(DataFileTest, RefusedFilesLeaveTheHistoryUntouched) {
  Fill(3);
  const std::string before = Bytes(store, 0, 3);
  auto rec = Record(100, {{16, 7}});
  struct Case {
    const char* name;
    std::string bytes;
    const char* pattern;
  };
  std::string wrongLetter = FileBytes(0x01, {rec});
  wrongLetter[1] = 'X';
  std::string shortHead = FileBytes(0x01, {});
  shortHead.resize(519);
  const Case cases[] = {
      {"terva.kdd", FileBytes(0x0A, {rec}), kMsgFileIncompatible},  // another family
      {"other.kdd", FileBytes(0x02, {rec}), kMsgFileIncompatible},
      {"letter.kdd", wrongLetter, kMsgFileIncompatible},
      {"short.kdd", shortHead, kMsgFileIncompatible},
      {"tiny.kdd", "KVG", kMsgFileIncompatible},
      {"empty.kdd", "", kMsgFileIncompatible},
      {"text.kdd", std::string(600, 'a'), kMsgFileIncompatible},
  };
  for (const Case& c : cases) {
    const auto file = dir / c.name;
    WriteAll(file, c.bytes);
    try {
      ReadDataFile(file, store);
      ADD_FAILURE() << c.name << " was opened";
    } catch (const DataFileError& e) {
      EXPECT_EQ(e.what(), Message(c.pattern, file)) << c.name;
    }
    EXPECT_EQ(store.RecordCount(), 3) << c.name;
    EXPECT_EQ(Bytes(store, 0, 3), before) << c.name;
  }
  std::vector<std::filesystem::path> unreadable = {dir / "nothing.kdd", dir.path()};
#ifndef _WIN32
  unreadable.push_back("/dev/zero");  // a device: refused, not read or waited on
#endif
  for (const auto& missing : unreadable) {
    try {
      ReadDataFile(missing, store);
      ADD_FAILURE() << "opened " << missing;
    } catch (const DataFileError& e) {
      EXPECT_EQ(e.what(), Message(kMsgFileOpenFailed, missing));
    }
  }
  EXPECT_EQ(store.RecordCount(), 3);
}

// The reader proper works on bytes in memory; the file reader hands it the file's bytes, so
// both give the same records, the same counts and the same messages.
TEST_F(DataFileTest, BytesInMemoryReadExactlyLikeTheFile) {
  const auto rec = Record(250, {{4, 1}, {16, 7}, {43, 9}});
  std::string partial = FileBytes(0x01, {rec, Record(500, {{4, 2}})});
  partial += std::string(43, '\x7F');
  std::string headOnly = FileBytes(0x01, {});
  headOnly.resize(519);
  struct Case {
    const char* name;
    std::string bytes;
    int32_t records;  // -1: refused as incompatible
    bool partial;
    RecordRange selection;
  };
  const Case cases[] = {
      {"two.kdd", FileBytes(0x01, {rec, Record(500, {{4, 2}})}), 2, false, {0, 2}},
      {"partial.kdd", partial, 2, true, {0, 2}},
      {"empty.kdd", FileBytes(0x01, {}), 0, false, {}},
      {"short.kdd", headOnly, -1, false, {}},
      {"nothing.kdd", "", -1, false, {}},
      {"family2.kdd", FileBytes(0x0A, {rec}), -1, false, {}},
  };
  for (const Case& c : cases) {
    const auto file = dir / c.name;
    WriteAll(file, c.bytes);
    const std::span<const uint8_t> bytes(reinterpret_cast<const uint8_t*>(c.bytes.data()),
                                         c.bytes.size());
    VirtualClock otherClock;
    HistoryStore fromFile(otherClock);
    HistoryStore fromBytes(otherClock);
    if (c.records < 0) {
      for (HistoryStore* s : {&fromFile, &fromBytes}) {
        try {
          if (s == &fromFile)
            ReadDataFile(file, *s);
          else
            ReadDataFileBytes(bytes, *s, file);
          ADD_FAILURE() << c.name << " was opened";
        } catch (const DataFileError& e) {
          EXPECT_EQ(e.what(), Message(kMsgFileIncompatible, file)) << c.name;
        }
        EXPECT_EQ(s->RecordCount(), 0) << c.name;
      }
      continue;
    }
    const DataFileInfo a = ReadDataFile(file, fromFile);
    const DataFileInfo b = ReadDataFileBytes(bytes, fromBytes, file);
    for (const DataFileInfo& info : {a, b}) {
      EXPECT_EQ(info.Records, c.records) << c.name;
      EXPECT_EQ(info.FileRecords, c.records) << c.name;
      EXPECT_EQ(info.PartialRecord, c.partial) << c.name;
      EXPECT_FALSE(info.Truncated) << c.name;
    }
    EXPECT_EQ(Bytes(fromFile, 0, c.records), Bytes(fromBytes, 0, c.records)) << c.name;
    EXPECT_EQ(Bytes(fromBytes, 0, c.records), c.bytes.substr(520, c.records * 44u)) << c.name;
    EXPECT_EQ(fromBytes.SelectedRange().value_or(RecordRange{}), c.selection) << c.name;
    EXPECT_EQ(BuildTextExport(fromFile, fromFile.AllRecords()),
              BuildTextExport(fromBytes, fromBytes.AllRecords()))
        << c.name;
  }
}

TEST_F(DataFileTest, FamilyOfBytesFollowsTheLaunchersTable) {
  const uint8_t familyBytes[] = {0x02, 0x01, 0x0A, 0x28, 0x14, 0x15, 0x1F, 0x32};
  for (int family = 0; family < 8; ++family) {
    const std::string bytes = FileBytes(familyBytes[family], {});
    EXPECT_EQ(DataFileFamilyOfBytes({reinterpret_cast<const uint8_t*>(bytes.data()), 520}, "f"),
              family);
  }
  for (const std::string& bad : {FileBytes(0x03, {}), FileBytes(0x01, {}).substr(0, 519)}) {
    EXPECT_THROW(
        DataFileFamilyOfBytes({reinterpret_cast<const uint8_t*>(bad.data()), bad.size()}, "f"),
        DataFileError);
  }
}

TEST_F(DataFileTest, MessagesCarryTheFileName) {
  // In the system's own separators: backslashes on Windows.
  const std::string dir = std::filesystem::path("/tmp/").make_preferred().string();
  EXPECT_EQ(FileMessage(kMsgFileIncompatible, PathFromUtf8("/tmp/данные.kdd")),
            "Файл " + dir + "данные.kdd имеет несовместимый формат данных!");
  EXPECT_EQ(FileMessage(kMsgFileCreateFailed, "a.kdd"), "Ошибка при создании файла a.kdd");
  EXPECT_EQ(FileMessage(kMsgFileOpenFailed, "%s.kdd"), "Ошибка при открытии файла %s.kdd");
}

TEST_F(DataFileTest, OddSizesOpen) {
  const auto file = dir / "odd.kdd";
  WriteAll(file, FileBytes(0x01, {}));
  DataFileInfo info = ReadDataFile(file, store);
  EXPECT_EQ(info.Records, 0);
  EXPECT_EQ(store.RecordCount(), 0);

  std::string partial = FileBytes(0x01, {Record(10), Record(20, {{16, 99}})});
  partial += std::string(43, '\x7F');  // a record cut short
  WriteAll(file, partial);
  info = ReadDataFile(file, store);
  EXPECT_EQ(info.Records, 2);
  EXPECT_TRUE(info.PartialRecord);
  EXPECT_EQ(store.RecordCount(), 2);
  EXPECT_EQ(store.RecordAt(1)->Bytes[16], 99);
  EXPECT_EQ(store.RecordAt(2), nullptr);
}

TEST_F(DataFileTest, FileLargerThanTheStoreIsCutAtItsCapacity) {
  const auto file = dir / "huge.kdd";
  {
    std::string bytes = FileBytes(0x01, {});
    bytes.resize(520 + size_t{kHistoryCapacity + 3} * kRecordSize, '\x55');
    // The last record that fits, and the first that does not, are told apart.
    StoreLE32(reinterpret_cast<uint8_t*>(bytes.data()) + 520 + (kHistoryCapacity - 1) * 44, 111);
    StoreLE32(reinterpret_cast<uint8_t*>(bytes.data()) + 520 + kHistoryCapacity * 44, 222);
    WriteAll(file, bytes);
  }
  const DataFileInfo info = ReadDataFile(file, store);
  EXPECT_TRUE(info.Truncated);
  EXPECT_EQ(info.FileRecords, kHistoryCapacity + 3);
  EXPECT_EQ(info.Records, kHistoryCapacity);
  EXPECT_EQ(store.RecordCount(), kHistoryCapacity);
  EXPECT_EQ(store.RecordAt(kHistoryCapacity - 1)->ElapsedMs(), 111);
  for (size_t i = size_t{kHistoryCapacity} * kRecordSize; i < kHistoryBlockBytes; ++i)
    ASSERT_EQ(kvdtest::PeekBlock(store.RecordBytes(), i), 0) << "spare byte " << i << " written";
  auto b = Block();
  EXPECT_FALSE(store.Append(b.data()));
}

TEST_F(DataFileTest, LauncherMapsTheEightSignaturesToFamilies) {
  const uint8_t bytes[] = {0x02, 0x01, 0x0A, 0x28, 0x14, 0x15, 0x1F, 0x32};
  for (int family = 0; family < 8; ++family) {
    const auto file = dir / ("f" + std::to_string(family) + ".kdd");
    WriteAll(file, FileBytes(bytes[family], {Record(0)}));
    EXPECT_EQ(ReadDataFileFamily(file), family);
    EXPECT_FALSE(DataFileFamilyName(family).empty());
  }
  EXPECT_EQ(DataFileFamilyName(1), "Январь-5.1 / VS-5.1 / Bosch M1.5.4  ЕВРО-2");
  EXPECT_EQ(DataFileFamilyName(8), "");
  const auto unknown = dir / "unknown.kdd";
  WriteAll(unknown, FileBytes(0x03, {}));
  EXPECT_THROW(ReadDataFileFamily(unknown), DataFileError);
  std::string shortFile = FileBytes(0x01, {});
  shortFile.resize(100);
  WriteAll(unknown, shortFile);
  EXPECT_THROW(ReadDataFileFamily(unknown), DataFileError);
  EXPECT_THROW(ReadDataFileFamily(dir / "none.kdd"), DataFileError);
  const uint8_t head[8] = {0x4B, 0x56, 0x47, 0x01, 0x00, 0x00, 0x01, 0x01};
  EXPECT_EQ(FamilyOfSignature(head), -1);  // bytes 0..6 must match too
}

TEST_F(DataFileTest, WritingReplacesSafelyAndLeavesNoTemporaryFiles) {
  Fill(4);
  const auto file = dir / "keep.kdd";
  WriteAll(file, "old contents");
  WriteDataFile(file, store, RecordRange{0, 2});
  EXPECT_EQ(ReadAll(file).size(), 520u + 88);
  int files = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir.path())) {
    (void)e;
    ++files;
  }
  EXPECT_EQ(files, 1);

  // A folder that does not exist, or a folder in the way, is the create message.
  for (const auto& bad : {dir / "no-such-dir" / "x.kdd", dir.path()}) {
    try {
      WriteDataFile(bad, store, store.AllRecords());
      ADD_FAILURE() << "wrote " << bad;
    } catch (const DataFileError& e) {
      EXPECT_EQ(e.what(), Message(kMsgFileCreateFailed, bad));
    }
  }
  EXPECT_EQ(ReadAll(file).size(), 520u + 88);
}

TEST_F(DataFileTest, SaveChoosesTextByExtensionInAnyCase) {
  EXPECT_TRUE(IsTextExportName("a.txt"));
  EXPECT_TRUE(IsTextExportName("dir/A.TXT"));
  EXPECT_TRUE(IsTextExportName("b.TxT"));
  EXPECT_FALSE(IsTextExportName("a.kdd"));
  EXPECT_FALSE(IsTextExportName("a"));
  EXPECT_FALSE(IsTextExportName("a.txt.kdd"));
  EXPECT_FALSE(IsTextExportName("txt"));
  EXPECT_TRUE(IsTextExportName("dir/.txt"));  // a name that is only the extension
  EXPECT_FALSE(IsTextExportName("dir.txt/a"));
  Fill(2);
  SaveRecords(dir / "s.TXT", store, store.AllRecords());
  SaveRecords(dir / "s.dat", store, store.AllRecords());
  SaveRecords(dir / "noext", store, store.AllRecords());
  EXPECT_EQ(ReadAll(dir / "s.TXT").substr(0, 11), "H:MM:SS.ms\t");
  EXPECT_EQ(ReadAll(dir / "s.dat").size(), 520u + 88);
  EXPECT_EQ(ReadAll(dir / "noext").size(), 520u + 88);
}

}  // namespace
}  // namespace kvd
