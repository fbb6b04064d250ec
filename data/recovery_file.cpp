// SPDX-License-Identifier: GPL-3.0-or-later
#include "data/recovery_file.h"

#include <algorithm>
#include <ctime>
#include <random>
#include <system_error>

#include "data/data_file.h"
#include "data/history.h"

namespace kvd {

namespace fs = std::filesystem;

namespace {
constexpr std::string_view kPrefix = "recording-";
constexpr std::string_view kSuffix = ".kdd";
}  // namespace

bool IsRecoveryFileName(const fs::path& file) {
  const std::string name = PathText(file.filename());
  return name.size() > kPrefix.size() + kSuffix.size() && name.starts_with(kPrefix) &&
         name.ends_with(kSuffix);
}

fs::path NewRecoveryFileName(const fs::path& folder) {
  const std::time_t now = std::time(nullptr);
  std::tm t{};
#ifdef _WIN32
  gmtime_s(&t, &now);
#else
  gmtime_r(&now, &t);
#endif
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &t);
  std::random_device rd;
  std::error_code ec;
  fs::path name;
  for (int attempt = 0; attempt < 100; ++attempt) {
    name = folder / (std::string(kPrefix) + stamp + "-" + std::to_string(1000 + rd() % 9000) +
                     std::string(kSuffix));
    if (!fs::exists(name, ec)) break;
  }
  return name;
}

std::vector<fs::path> FindRecoveryFiles(const fs::path& folder) {
  std::vector<fs::path> found;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code typeEc;
    if (it->is_regular_file(typeEc) && IsRecoveryFileName(it->path())) found.push_back(it->path());
  }
  std::sort(found.begin(), found.end());
  return found;
}

RecoveryRecorder::RecoveryRecorder(fs::path folder, std::chrono::milliseconds syncInterval)
    : folder_(std::move(folder)), file_(syncInterval) {}

RecoveryRecorder::~RecoveryRecorder() = default;

std::string RecoveryRecorder::Fail(const char* pattern, const fs::path& file) {
  if (failed_) return {};
  failed_ = true;
  return FileMessage(pattern, file);
}

std::string RecoveryRecorder::RecordAppended(const HistoryStore& store, int32_t index) {
  if (failed_) return {};
  const HistoryRecord* record = store.RecordAt(index);
  if (record == nullptr) return {};
  if (file_.IsOpen() && file_.Records() == index) {
    if (file_.Append(record->Bytes)) return {};
    return Fail(kMsgFileWriteFailed, file_.Path());
  }
  // A new recording, or one that no longer matches the file: the file starts again with
  // every record the history holds. An adopted file is no longer what the history holds; it
  // stays where it is, to be offered again at the next start.
  if (file_.IsOpen()) file_.Remove();
  adopted_.clear();
  std::error_code ec;
  fs::create_directories(folder_, ec);
  const fs::path name = NewRecoveryFileName(folder_);
  if (!file_.Create(name, store.RecordBytes(), index + 1)) return Fail(kMsgFileCreateFailed, name);
  return {};
}

std::string RecoveryRecorder::MarkChanged(const HistoryStore& store, int32_t index) {
  if (failed_ || !file_.IsOpen() || file_.Records() != store.RecordCount()) return {};
  const HistoryRecord* record = store.RecordAt(index);
  if (record == nullptr) return {};
  if (file_.WriteMarkWord(index, record->MarkWord())) return {};
  return Fail(kMsgFileWriteFailed, file_.Path());
}

void RecoveryRecorder::Discard() {
  if (!adopted_.empty()) {
    std::error_code ec;
    fs::remove(adopted_, ec);
  }
  DropRecording();
}

void RecoveryRecorder::DropRecording() {
  file_.Remove();
  failed_ = false;
  adopted_.clear();
}

void RecoveryRecorder::Adopt(const fs::path& file) {
  DropRecording();
  adopted_ = file;
}

}  // namespace kvd
