// The diagnostic data file (.kdd): a 520-byte head with the family signature, then the
// history records exactly as they lie in the store.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>

#include "data/durable_file.h"
#include "data/history.h"

namespace kvd {

inline constexpr int32_t kDataFileHeadSize = 520;
inline constexpr int32_t kSignatureSize = 8;
// "KVG", 01 00 00 00, then the family byte (01 for the family of the diagnostic window).
inline constexpr std::array<uint8_t, kSignatureSize> kDataFileSignature = {0x4B, 0x56, 0x47, 0x01,
                                                                           0x00, 0x00, 0x00, 0x01};
// Family byte (signature byte 7) of the families 0..7, in the order they are compared.
inline constexpr std::array<uint8_t, 8> kFamilySignatureBytes = {0x02, 0x01, 0x0A, 0x28,
                                                                 0x14, 0x15, 0x1F, 0x32};
inline constexpr int32_t kDiagnosticFamily = 1;

// The head of a data file the program writes: the signature of the diagnostic window's family,
// the rest zero.
inline constexpr std::array<uint8_t, kDataFileHeadSize> DataFileHead() {
  std::array<uint8_t, kDataFileHeadSize> head{};
  for (size_t i = 0; i < kDataFileSignature.size(); ++i) head[i] = kDataFileSignature[i];
  return head;
}

// The long name of a family 0..7 (as the launcher's menu shows it), empty otherwise.
std::string_view DataFileFamilyName(int32_t family);

// The program's messages about files (UTF-8, "%s" = the file name).
inline constexpr const char* kMsgFileCreateFailed = "Ошибка при создании файла %s";
inline constexpr const char* kMsgFileWriteFailed = "Ошибка при записи в файл %s";
inline constexpr const char* kMsgFileOpenFailed = "Ошибка при открытии файла %s";
inline constexpr const char* kMsgFileIncompatible = "Файл %s имеет несовместимый формат данных!";

// A file error; what() is the program's message with the file name, UTF-8.
class DataFileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The message pattern with %s replaced by the file name (UTF-8).
std::string FileMessage(const char* pattern, const std::filesystem::path& file);
// The file name as UTF-8 text, in the system's own separators.
std::string PathText(const std::filesystem::path& file);

// The family 0..7 whose signature equals the eight bytes, -1 for none.
int32_t FamilyOfSignature(const uint8_t* head8);

// The launcher's head check: the family 0..7 of a data file. Throws DataFileError with
// the open message when the file cannot be read and with the incompatible-format
// message when it is shorter than the head or its signature is unknown.
int32_t ReadDataFileFamily(const std::filesystem::path& file);
// The same check on the bytes of a file already in memory; file only names it in messages.
int32_t DataFileFamilyOfBytes(std::span<const uint8_t> bytes, const std::filesystem::path& file);

// What a successful open found.
struct DataFileInfo {
  int32_t Records = 0;         // records now in the store
  int64_t FileRecords = 0;     // whole records the file holds
  bool Truncated = false;      // the file held more records than the store: cut at capacity
  bool PartialRecord = false;  // a trailing partial record was ignored
};

// Opens a data file into the store (signature of the diagnostic family, all eight
// bytes). The head is read and judged first; the records are then read straight into the
// store, with no buffer in between, and taken with Load. A file with more records than the
// store is cut at the capacity. Throws DataFileError and leaves the store untouched when the
// file cannot be opened, is shorter than the head or has another signature.
DataFileInfo ReadDataFile(const std::filesystem::path& file, HistoryStore& store);
// The reader on the bytes of a whole data file in memory (file only names it in the messages).
DataFileInfo ReadDataFileBytes(std::span<const uint8_t> bytes, HistoryStore& store,
                               const std::filesystem::path& file);
// The judgement both readers share: the head (at least its first 520 bytes; fewer means no data
// file) and the file's size give what the file holds and how much of it the store takes. Throws
// DataFileError with the incompatible-format message for a short head or another signature.
DataFileInfo JudgeDataFile(std::span<const uint8_t> head, uint64_t size,
                           const std::filesystem::path& file);

// Writes the records of range (clamped to the history) as a data file: the head, then
// the records unchanged. The file is written beside the target under a temporary name
// and renamed over it, so a failed write leaves an existing file as it was. Throws
// DataFileError with the create message on any failure.
void WriteDataFile(const std::filesystem::path& file, const HistoryStore& store, RecordRange range);

// The same for n raw records (n x 44 bytes).
void WriteDataFile(const std::filesystem::path& file, const uint8_t* records, int32_t n);

// A file written beside its target under a temporary name and renamed over the target by
// Commit, after its content was synced to disk (and the folder after the rename); dropped
// without Commit, the target stays as it was.
class ReplacingFile {
 public:
  explicit ReplacingFile(const std::filesystem::path& target);
  ~ReplacingFile();
  ReplacingFile(const ReplacingFile&) = delete;
  ReplacingFile& operator=(const ReplacingFile&) = delete;

  bool IsOpen() const { return out_.IsOpen(); }
  // False once any write failed.
  bool Write(const void* data, size_t size);
  // Closes the temporary file and renames it over the target; false on any failure.
  bool Commit();

 private:
  std::filesystem::path target_;
  std::filesystem::path temp_;
  DurableFile out_;
  bool failed_ = false;
};

// Whether a chosen save name asks for the text export: its extension (from the last dot
// of the file name, so ".txt" alone counts), upper-cased, is ".TXT".
bool IsTextExportName(const std::filesystem::path& file);

}  // namespace kvd
