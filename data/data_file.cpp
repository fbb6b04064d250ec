// SPDX-License-Identifier: GPL-3.0-or-later
#include "data/data_file.h"

#include "data/read_only_file.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <fstream>
#include <system_error>
#include <vector>

namespace kvd {

namespace fs = std::filesystem;

// In the system's own separators: a folder given with '/' and a name the directory listing
// joined with '\' read as one path on Windows.
std::string PathText(const fs::path& file) {
  const std::u8string u = fs::path(file).make_preferred().u8string();
  return std::string(u.begin(), u.end());
}

std::string FileMessage(const char* pattern, const fs::path& file) {
  std::string msg(pattern);
  const size_t at = msg.find("%s");
  if (at != std::string::npos) msg.replace(at, 2, PathText(file));
  return msg;
}

std::string_view DataFileFamilyName(int32_t family) {
  static constexpr std::string_view kNames[] = {
      "Январь-5.1 / VS-5.1 / Bosch M1.5.4  РОССИЯ-83",
      "Январь-5.1 / VS-5.1 / Bosch M1.5.4  ЕВРО-2",
      "Январь-5.1 / VS-5.1 Terva",
      "Январь-7.2  ЕВРО-2",
      "Bosch MP7.0  ЕВРО-2",
      "Bosch MP7.0  ЕВРО-3",
      "Bosch M7.9.7  ЕВРО-2",
      "МИКАС-7.1, МИКАС-5.4",
  };
  if (family < 0 || family > 7) return {};
  return kNames[family];
}

int32_t FamilyOfSignature(const uint8_t* head8) {
  if (std::memcmp(head8, kDataFileSignature.data(), kSignatureSize - 1) != 0) return -1;
  for (size_t i = 0; i < kFamilySignatureBytes.size(); ++i)
    if (head8[kSignatureSize - 1] == kFamilySignatureBytes[i]) return static_cast<int32_t>(i);
  return -1;
}

namespace {

// Opens a plain file for reading and tells its size. Throws the open message when the file
// cannot be read. While it is open, others may read the file too but not write it.
int64_t OpenForReading(const fs::path& file, ReadOnlyFile& in) {
  std::error_code ec;
  // Only a plain file: a folder cannot be read, and a pipe or device could block forever.
  if (!fs::is_regular_file(file, ec)) throw DataFileError(FileMessage(kMsgFileOpenFailed, file));
  if (!in.Open(file)) throw DataFileError(FileMessage(kMsgFileOpenFailed, file));
  const int64_t size = in.Size();
  if (size < 0) throw DataFileError(FileMessage(kMsgFileOpenFailed, file));
  return size;
}

// The head of a file, or as much of it as arrived (a short read is judged by what it gave).
std::vector<uint8_t> ReadHead(ReadOnlyFile& in) {
  std::vector<uint8_t> head(kDataFileHeadSize);
  head.resize(in.Read(head.data(), head.size()));
  return head;
}

// A file shorter than the head is not a data file, whatever its first bytes say.
void CheckHead(std::span<const uint8_t> bytes, const fs::path& file) {
  if (bytes.size() < static_cast<size_t>(kDataFileHeadSize))
    throw DataFileError(FileMessage(kMsgFileIncompatible, file));
}

}  // namespace

int32_t DataFileFamilyOfBytes(std::span<const uint8_t> bytes, const fs::path& file) {
  CheckHead(bytes, file);
  const int32_t family = FamilyOfSignature(bytes.data());
  if (family < 0) throw DataFileError(FileMessage(kMsgFileIncompatible, file));
  return family;
}

int32_t ReadDataFileFamily(const fs::path& file) {
  ReadOnlyFile in;
  OpenForReading(file, in);
  return DataFileFamilyOfBytes(ReadHead(in), file);
}

DataFileInfo JudgeDataFile(std::span<const uint8_t> head, uint64_t size, const fs::path& file) {
  CheckHead(head, file);
  if (std::memcmp(head.data(), kDataFileSignature.data(), kSignatureSize) != 0)
    throw DataFileError(FileMessage(kMsgFileIncompatible, file));
  DataFileInfo info;
  const uint64_t body = std::max<uint64_t>(size, kDataFileHeadSize) - kDataFileHeadSize;
  info.FileRecords = static_cast<int64_t>(body / kRecordSize);
  info.PartialRecord = body % kRecordSize != 0;
  info.Truncated = info.FileRecords > kHistoryCapacity;
  info.Records = static_cast<int32_t>(std::min<int64_t>(info.FileRecords, kHistoryCapacity));
  return info;
}

DataFileInfo ReadDataFileBytes(std::span<const uint8_t> bytes, HistoryStore& store,
                               const fs::path& file) {
  const DataFileInfo info = JudgeDataFile(bytes, bytes.size(), file);
  store.Load(bytes.data() + kDataFileHeadSize, info.Records);
  return info;
}

DataFileInfo ReadDataFile(const fs::path& file, HistoryStore& store) {
  ReadOnlyFile in;
  const int64_t size = OpenForReading(file, in);
  // The head is judged before anything reaches the store: a refused file leaves it as it was.
  DataFileInfo info = JudgeDataFile(ReadHead(in), static_cast<uint64_t>(size), file);
  // The records go straight to their place; only what the store can take is read. A short
  // read (a file cut while it is read) keeps the whole records that arrived.
  info.Records =
      store.LoadFrom([&in](uint8_t* to, size_t n) { return in.Read(to, n); }, info.Records);
  return info;
}

ReplacingFile::ReplacingFile(const fs::path& target) : target_(target) {
  std::error_code ec;
  if (target.empty() || fs::is_directory(target, ec)) return;
  const fs::path dir = target.parent_path();
  if (!dir.empty() && !fs::is_directory(dir, ec)) return;
  // A name of our own beside the target, so the rename stays on one file system; an
  // exclusive create never takes over a file that happens to carry the name.
  for (int attempt = 0; attempt < 16 && !out_.IsOpen(); ++attempt) {
    const fs::path name = TemporaryNameBeside(target);
    if (out_.Open(name, DurableFile::Mode::CreateNew)) {
      temp_ = name;
      break;
    }
    // A clash with a file of that name tries another name; any other refusal ends here.
    if (!fs::exists(name, ec)) break;
  }
}

ReplacingFile::~ReplacingFile() {
  if (temp_.empty()) return;
  out_.Close();
  std::error_code ec;
  fs::remove(temp_, ec);
}

bool ReplacingFile::Write(const void* data, size_t size) {
  if (!out_.IsOpen() || failed_) return false;
  if (size > 0 && !out_.Write(data, size)) failed_ = true;
  return !failed_;
}

bool ReplacingFile::Commit() {
  if (!out_.IsOpen() || failed_) return false;
  // The content reaches the disk before the name does: after a power cut the target holds
  // the old file or the whole new one.
  const bool synced = out_.Sync();
  const bool closed = out_.Close();
  if (!synced || !closed) return false;
  if (!ReplaceDurably(temp_, target_)) return false;
  temp_.clear();
  return true;
}

void WriteDataFile(const fs::path& file, const uint8_t* records, int32_t n) {
  static constexpr auto head = DataFileHead();
  const size_t bytes = n > 0 ? static_cast<size_t>(n) * kRecordSize : 0;
  ReplacingFile out(file);
  if (!(out.Write(head.data(), head.size()) && out.Write(records, bytes) && out.Commit()))
    throw DataFileError(FileMessage(kMsgFileCreateFailed, file));
}

void WriteDataFile(const fs::path& file, const HistoryStore& store, RecordRange range) {
  const RecordRange r = ClampRange(range, store.RecordCount());
  WriteDataFile(file, store.RecordBytes() + static_cast<size_t>(r.First) * kRecordSize, r.Count);
}

bool IsTextExportName(const fs::path& file) {
  // The extension runs from the last dot of the file name; a name that is nothing but
  // ".txt" has it too (the library's extension() would see a hidden file without one).
  std::string name = PathText(file.filename());
  const size_t dot = name.rfind('.');
  if (dot == std::string::npos) return false;
  std::string ext = name.substr(dot);
  for (char& c : ext) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return ext == ".TXT";
}

}  // namespace kvd
