// SPDX-License-Identifier: GPL-3.0-or-later
#include "session/poll_settings.h"

#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace kvd {

namespace {

std::string_view Trim(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return s;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

std::optional<int64_t> WholeNumber(std::string_view v) {
  v = Trim(v);
  bool negative = false;
  if (!v.empty() && (v.front() == '-' || v.front() == '+')) {
    negative = v.front() == '-';
    v.remove_prefix(1);
  }
  if (v.empty()) return std::nullopt;
  int64_t n = 0;
  for (char c : v) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return std::nullopt;
    // Saturate instead of overflowing: a huge number is refused by the range checks anyway.
    if (n < (int64_t{1} << 40)) n = n * 10 + (c - '0');
  }
  return negative ? -n : n;
}

}  // namespace

std::optional<int64_t> IniInteger(std::string_view text, std::string_view section,
                                  std::string_view key) {
  bool inSection = false;
  bool sectionSeen = false;
  while (!text.empty()) {
    const size_t eol = text.find('\n');
    std::string_view line = Trim(text.substr(0, eol));
    text = eol == std::string_view::npos ? std::string_view{} : text.substr(eol + 1);
    if (line.empty() || line.front() == ';' || line.front() == '#') continue;
    if (line.front() == '[') {
      const size_t close = line.find(']');
      const std::string_view name =
          Trim(line.substr(1, close == std::string_view::npos ? line.size() - 1 : close - 1));
      // Only the first section of a name counts, as with the Windows profile functions.
      inSection = !sectionSeen && EqualNoCase(name, section);
      if (inSection) sectionSeen = true;
      continue;
    }
    if (!inSection) continue;
    const size_t eq = line.find('=');
    if (eq == std::string_view::npos) continue;
    if (EqualNoCase(Trim(line.substr(0, eq)), key)) return WholeNumber(line.substr(eq + 1));
  }
  return std::nullopt;
}

PollSettings ParsePollSettings(std::string_view iniText) {
  PollSettings result;
  if (auto v = IniInteger(iniText, "COM_RFRSH_INTERVALS", "J5E2_RFRSH")) {
    if (*v >= 0 && *v <= kMaxPollIntervalMs) result.IntervalMs = static_cast<int32_t>(*v);
  }
  if (auto v = IniInteger(iniText, "COMMON", "ComThreaded")) result.Threaded = *v != 0;
  return result;
}

PollSettings ReadPollSettingsFile(const std::filesystem::path& path) {
  // Only a plain file: a pipe or a device of that name would block the start.
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) return {};
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  // An ini file is a few lines; anything past 1 MiB is not one and is not read further.
  std::string text;
  text.reserve(4096);
  char buf[4096];
  while (in && text.size() < (1u << 20)) {
    in.read(buf, sizeof buf);
    text.append(buf, static_cast<size_t>(in.gcount()));
  }
  return ParsePollSettings(text);
}

}  // namespace kvd
