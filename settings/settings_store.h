// SPDX-License-Identifier: GPL-3.0-or-later
// The two places where the program keeps its settings: the read-only "kvddiag.ini" next to the
// program (poll timing) and the per-user store (window bounds, graph appearance). On Windows the
// user store is HKCU\Software\KVD-Software\KVD-Diag, on Linux ~/.config/KVD-Software/KVD-Diag.conf.
#pragma once

#include <QString>
#include <cstdint>
#include <memory>
#include <optional>

#include "session/poll_settings.h"

class QSettings;

namespace kvd {

// Reads the ini file at path (PollSettings and its rules live with the session, which the
// command-line tools share). Values that are not numbers, negative intervals or intervals
// above kMaxPollIntervalMs give the default for that key.
PollSettings ReadPollSettings(const QString& iniPath);

// Where the ini file is looked up.
QString IniPathInDirectory(const QString& programDir);
// The ini file the program at programDir reads: the one next to it, else for an installed
// program the system's (/etc/kvd-diag/kvddiag.ini).
QString IniPathForProgram(const QString& programDir);

// Value names of the user store.
namespace settings_keys {
inline constexpr const char* kDiagWindowWidth = "DiagWindowWidth";
inline constexpr const char* kDiagWindowHeight = "DiagWindowHeight";
inline constexpr const char* kDiagWindowLeft = "DiagWindowLeft";
inline constexpr const char* kDiagWindowTop = "DiagWindowTop";
inline constexpr const char* kDiagColorScheme = "DiagColorScheme";
inline constexpr const char* kDiagLineWidth = "DiagLineWidth";
inline constexpr const char* kNumXPoint = "NumXPoint";
}  // namespace settings_keys

// The per-user store. Values are DWORDs (stored as numbers) and strings under a key path
// relative to Software\KVD-Software\KVD-Diag ("" for the key itself, "Janvar5_E2" for the
// data sets). Reading a value that is present but not a number gives nothing, as if absent.
class UserSettings {
 public:
  // The real store of the current user.
  static std::unique_ptr<UserSettings> OpenDefault();
  // A store kept in an ini-format file (tests, portable installs).
  static std::unique_ptr<UserSettings> OpenFile(const QString& path);

  explicit UserSettings(std::unique_ptr<QSettings> store);
  ~UserSettings();
  UserSettings(const UserSettings&) = delete;
  UserSettings& operator=(const UserSettings&) = delete;

  bool Contains(const QString& key, const QString& name) const;
  std::optional<int64_t> ReadInt(const QString& key, const QString& name) const;
  std::optional<QString> ReadString(const QString& key, const QString& name) const;
  void WriteInt(const QString& key, const QString& name, int64_t value);
  void WriteString(const QString& key, const QString& name, const QString& value);

  // Writes pending changes. Returns an empty string on success, otherwise the message that the
  // window shows ("Ошибка записи настроек: ...").
  QString Sync();

 private:
  QString Path(const QString& key, const QString& name) const;
  std::unique_ptr<QSettings> store_;
};

// A DWORD value restricted to [low, high]; absent or out of range gives nothing.
std::optional<int32_t> ReadIntInRange(const UserSettings& s, const QString& key,
                                      const QString& name, int32_t low, int32_t high);

// Reads a value in [low, high]; when it is absent (or unusable) writes fallback and returns it.
int32_t ReadOrWriteDefault(UserSettings& s, const QString& key, const QString& name, int32_t low,
                           int32_t high, int32_t fallback);

// --- The graph appearance: colour scheme, line width and the number of points new panes start
// with. Out-of-range or non-numeric stored values count as absent.
inline constexpr int32_t kColorSchemeMin = 0;
inline constexpr int32_t kColorSchemeMax = 4;
inline constexpr int32_t kDefaultColorScheme = 0;
inline constexpr int32_t kLineWidthMin = 1;
inline constexpr int32_t kLineWidthMax = 3;
inline constexpr int32_t kDefaultLineWidth = 1;
inline constexpr int32_t kNumXPointMin = 4;
inline constexpr int32_t kNumXPointMax = 200;
inline constexpr int32_t kDefaultNumXPoint = 40;

struct GraphLook {
  int32_t ColorScheme = kDefaultColorScheme;  // DiagColorScheme, 0..4
  int32_t LineWidth = kDefaultLineWidth;      // DiagLineWidth, 1..3 pixels
  int32_t NumXPoint = kDefaultNumXPoint;      // NumXPoint, 4..200
  bool operator==(const GraphLook&) const = default;
};

// What the diagnostic window starts with: scheme and line width, each written with its default
// when it is missing; the number of points as StartPointCount.
GraphLook ReadWindowGraphLook(UserSettings& s);
// What the settings dialog starts with: the stored values or the defaults; a missing NumXPoint is
// written as 40.
GraphLook ReadDialogGraphLook(UserSettings& s);
// The settings dialog's choice: all three values are written, present before or not, so that a
// choice made before the diagnostic window was ever opened is kept.
void StoreGraphLook(UserSettings& s, const GraphLook& look);
// The number of points every new pane starts with: the stored NumXPoint, else 40.
int32_t StartPointCount(const UserSettings& s);

// --- The diagnostic window's bounds. Each value is taken only within the given limits.
struct WindowBounds {
  std::optional<int32_t> Width, Height, Left, Top;
};
WindowBounds ReadWindowBounds(const UserSettings& s, int32_t minWidth, int32_t minHeight,
                              int32_t maxExtent);
void StoreWindowBounds(UserSettings& s, int32_t left, int32_t top, int32_t width, int32_t height);

}  // namespace kvd
