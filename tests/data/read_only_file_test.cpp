// SPDX-License-Identifier: GPL-3.0-or-later
// Files by UTF-8 names, and the data file's reader that holds off other writers.
#include "data/read_only_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "data/data_file.h"
#include "data/utf8_path.h"
#include "test_util.h"

namespace kvd {
namespace {

using kvdtest::FileBytes;
using kvdtest::Record;
using kvdtest::WriteAll;

// A name given as UTF-8 text is the same name on disk, whatever the system's code page, and
// the messages about the file carry it back unchanged.
TEST(Utf8PathTest, NamesSurviveTheRoundTripToTheDiskAndIntoTheMessages) {
  kvdtest::ScratchDir dir;
  for (const std::string name :
       {"plain.kdd", "данные.kdd", "Запись 1 (копия).kdd", "ёЁ-äöü-€.kdd", "日本.kdd"}) {
    SCOPED_TRACE(name);
    const std::filesystem::path file = dir.path() / PathFromUtf8(name);
    EXPECT_EQ(PathText(file.filename()), name);
    WriteDataFile(file, nullptr, 0);
    bool listed = false;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
      listed = listed || PathText(entry.path().filename()) == name;
    EXPECT_TRUE(listed);
    EXPECT_EQ(ReadDataFileFamily(file), kDiagnosticFamily);
    EXPECT_EQ(FileMessage(kMsgFileOpenFailed, PathFromUtf8(name)),
              "Ошибка при открытии файла " + name);
    std::filesystem::remove(file);
  }
}

TEST(ReadOnlyFileTest, ReadsSizesAndRefusesWhatIsNoFile) {
  kvdtest::ScratchDir dir;
  const auto file = dir / "bytes.bin";
  WriteAll(file, std::string("0123456789"));
  ReadOnlyFile in;
  ASSERT_TRUE(in.Open(file));
  EXPECT_EQ(in.Size(), 10);
  char buf[16] = {};
  EXPECT_EQ(in.Read(buf, 4), 4u);
  EXPECT_EQ(std::string(buf, 4), "0123");
  EXPECT_EQ(in.Read(buf, sizeof buf), 6u);  // only what is left
  EXPECT_EQ(in.Read(buf, sizeof buf), 0u);  // at the end
  EXPECT_EQ(in.Read(nullptr, 4), 0u);
  in.Close();
  EXPECT_FALSE(in.IsOpen());
  EXPECT_EQ(in.Size(), -1);
  EXPECT_EQ(in.Read(buf, 4), 0u);
  EXPECT_FALSE(in.Open(dir / "missing.bin"));
  EXPECT_FALSE(in.IsOpen());
}

// While a data file is being read, others may read it but not write it (Windows; POSIX
// systems have no share modes and let the writer in). A file that another program holds
// open for writing is refused with the open message there.
TEST(ReadOnlyFileTest, OthersMayReadButNotWriteWhileItIsOpen) {
  kvdtest::ScratchDir dir;
  const auto file = dir / "запись.kdd";
  WriteAll(file, FileBytes(0x01, {Record(10), Record(20)}));
#ifdef _WIN32
  constexpr bool kWritersHeldOff = true;
#else
  constexpr bool kWritersHeldOff = false;
#endif
  {
    ReadOnlyFile reader;
    ASSERT_TRUE(reader.Open(file));
    ReadOnlyFile second;
    EXPECT_TRUE(second.Open(file));  // a second reader is welcome
    std::ofstream writer(file, std::ios::binary | std::ios::app);
    EXPECT_EQ(writer.is_open(), !kWritersHeldOff);
  }
  {
    std::ofstream writer(file, std::ios::binary | std::ios::app);
    ASSERT_TRUE(writer.is_open());  // closed readers leave no lock behind
    VirtualClock clock;
    HistoryStore store(clock);
    if (kWritersHeldOff) {
      try {
        ReadDataFile(file, store);
        ADD_FAILURE() << "a file open for writing elsewhere was read";
      } catch (const DataFileError& e) {
        EXPECT_EQ(std::string(e.what()), FileMessage(kMsgFileOpenFailed, file));
      }
      EXPECT_EQ(store.RecordCount(), 0);
    } else {
      EXPECT_EQ(ReadDataFile(file, store).Records, 2);
    }
  }
}

}  // namespace
}  // namespace kvd
