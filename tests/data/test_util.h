// Helpers of the data tests: records built byte by byte and a scratch folder.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "data/history.h"
#include "data/parameters.h"
#include "data/utf8_path.h"

namespace kvdtest {

// A 36-byte data block as the ECU sends it, with the given payload bytes set.
inline std::array<uint8_t, kvd::kDataBlockSize> Block(
    std::initializer_list<std::pair<int, uint8_t>> bytes = {}) {
  std::array<uint8_t, kvd::kDataBlockSize> b{};
  b[0] = 0x61;
  b[1] = 0x01;
  for (auto [at, v] : bytes) b[static_cast<size_t>(at)] = v;
  return b;
}

// A 44-byte record with the given record offsets set.
inline std::array<uint8_t, kvd::kRecordSize> Record(
    int32_t elapsedMs, std::initializer_list<std::pair<int, uint8_t>> bytes = {}) {
  std::array<uint8_t, kvd::kRecordSize> r{};
  kvd::StoreLE32(r.data(), static_cast<uint32_t>(elapsedMs));
  for (auto [at, v] : bytes) r[static_cast<size_t>(at)] = v;
  return r;
}

// A folder of its own under the system's temporary folder, removed at the end.
class ScratchDir {
 public:
  ScratchDir() {
    std::random_device rd;
    path_ = std::filesystem::temp_directory_path() /
            ("kvd-data-test-" + std::to_string(rd()) + std::to_string(rd()));
    std::filesystem::create_directories(path_);
  }
  ~ScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  // name is UTF-8 text.
  std::filesystem::path operator/(const std::string& name) const {
    return path_ / kvd::PathFromUtf8(name);
  }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

inline std::string ReadAll(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteAll(const std::filesystem::path& p, const std::string& bytes) {
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// A byte of the history block read without the sanitizer's check: the bytes past the last
// record are poisoned in AddressSanitizer builds, and some tests look at them on purpose.
#if defined(__GNUC__) || defined(__clang__)
__attribute__((no_sanitize_address, noinline))
#endif
inline uint8_t
PeekBlock(const uint8_t* block, size_t offset) {
  return block[offset];
}

// A data file's bytes: the head with the given family byte, then the records.
inline std::string FileBytes(uint8_t familyByte, const std::vector<std::array<uint8_t, 44>>& recs) {
  std::string s(520, '\0');
  const char sig[] = {0x4B, 0x56, 0x47, 0x01, 0x00, 0x00, 0x00};
  s.replace(0, 7, sig, 7);
  s[7] = static_cast<char>(familyByte);
  for (const auto& r : recs) s.append(reinterpret_cast<const char*>(r.data()), r.size());
  return s;
}

}  // namespace kvdtest
