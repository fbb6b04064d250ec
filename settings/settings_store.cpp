// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/settings_store.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <algorithm>
#include <cstdint>
#include <filesystem>

#include "session/ini_location.h"

namespace kvd {

namespace {

std::optional<int64_t> ToInt(const QVariant& v) {
  if (!v.isValid()) return std::nullopt;
  bool ok = false;
  const qlonglong n = v.toString().trimmed().toLongLong(&ok);
  if (!ok) return std::nullopt;
  return static_cast<int64_t>(n);
}

// File names between Qt and the core: on Windows through the wide form, since a narrow one
// would be read in the ANSI code page there.
std::filesystem::path FsPath(const QString& name) {
#ifdef _WIN32
  return std::filesystem::path(name.toStdWString());
#else
  return std::filesystem::path(QFile::encodeName(name).toStdString());
#endif
}

QString QtPath(const std::filesystem::path& path) {
#ifdef _WIN32
  return QString::fromStdWString(path.wstring());
#else
  return QFile::decodeName(QByteArray::fromStdString(path.string()));
#endif
}

}  // namespace

QString IniPathInDirectory(const QString& programDir) {
  return QDir(programDir).filePath(QString::fromLatin1(kIniFileName));
}

QString IniPathForProgram(const QString& programDir) {
  return QtPath(FindIniFileForProgram(FsPath(programDir)));
}

PollSettings ReadPollSettings(const QString& iniPath) {
  return ReadPollSettingsFile(FsPath(iniPath));
}

std::unique_ptr<UserSettings> UserSettings::OpenDefault() {
  return std::make_unique<UserSettings>(
      std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                  QStringLiteral("KVD-Software"), QStringLiteral("KVD-Diag")));
}

std::unique_ptr<UserSettings> UserSettings::OpenFile(const QString& path) {
  return std::make_unique<UserSettings>(std::make_unique<QSettings>(path, QSettings::IniFormat));
}

UserSettings::UserSettings(std::unique_ptr<QSettings> store) : store_(std::move(store)) {}
UserSettings::~UserSettings() = default;

QString UserSettings::Path(const QString& key, const QString& name) const {
  return key.isEmpty() ? name : key + QLatin1Char('/') + name;
}

bool UserSettings::Contains(const QString& key, const QString& name) const {
  return store_->contains(Path(key, name));
}

std::optional<int64_t> UserSettings::ReadInt(const QString& key, const QString& name) const {
  return ToInt(store_->value(Path(key, name)));
}

std::optional<QString> UserSettings::ReadString(const QString& key, const QString& name) const {
  const QVariant v = store_->value(Path(key, name));
  if (!v.isValid()) return std::nullopt;
  return v.toString();
}

void UserSettings::WriteInt(const QString& key, const QString& name, int64_t value) {
  // The stored numbers are DWORDs. The Windows registry keeps an int as REG_DWORD but a 64-bit
  // value as REG_QWORD, which readers of these keys do not expect; only a value beyond 32 bits
  // goes as 64 bits.
  if (value >= INT32_MIN && value <= INT32_MAX)
    store_->setValue(Path(key, name), static_cast<int>(value));
  else
    store_->setValue(Path(key, name), static_cast<qlonglong>(value));
}

void UserSettings::WriteString(const QString& key, const QString& name, const QString& value) {
  store_->setValue(Path(key, name), value);
}

QString UserSettings::Sync() {
  store_->sync();
  switch (store_->status()) {
    case QSettings::NoError:
      return {};
    case QSettings::AccessError:
      return QStringLiteral("Ошибка записи настроек: нет доступа к %1").arg(store_->fileName());
    case QSettings::FormatError:
      return QStringLiteral("Ошибка записи настроек: неверный формат %1").arg(store_->fileName());
  }
  return QStringLiteral("Ошибка записи настроек");
}

std::optional<int32_t> ReadIntInRange(const UserSettings& s, const QString& key,
                                      const QString& name, int32_t low, int32_t high) {
  const auto v = s.ReadInt(key, name);
  if (!v || *v < low || *v > high) return std::nullopt;
  return static_cast<int32_t>(*v);
}

int32_t ReadOrWriteDefault(UserSettings& s, const QString& key, const QString& name, int32_t low,
                           int32_t high, int32_t fallback) {
  if (!s.Contains(key, name)) {
    s.WriteInt(key, name, fallback);
    return fallback;
  }
  return ReadIntInRange(s, key, name, low, high).value_or(fallback);
}

GraphLook ReadWindowGraphLook(UserSettings& s) {
  namespace k = settings_keys;
  GraphLook look;
  look.ColorScheme = ReadOrWriteDefault(s, "", k::kDiagColorScheme, kColorSchemeMin,
                                        kColorSchemeMax, kDefaultColorScheme);
  look.LineWidth =
      ReadOrWriteDefault(s, "", k::kDiagLineWidth, kLineWidthMin, kLineWidthMax, kDefaultLineWidth);
  look.NumXPoint = StartPointCount(s);
  return look;
}

GraphLook ReadDialogGraphLook(UserSettings& s) {
  namespace k = settings_keys;
  GraphLook look;
  look.ColorScheme = ReadIntInRange(s, "", k::kDiagColorScheme, kColorSchemeMin, kColorSchemeMax)
                         .value_or(kDefaultColorScheme);
  look.LineWidth = ReadIntInRange(s, "", k::kDiagLineWidth, kLineWidthMin, kLineWidthMax)
                       .value_or(kDefaultLineWidth);
  look.NumXPoint =
      ReadOrWriteDefault(s, "", k::kNumXPoint, kNumXPointMin, kNumXPointMax, kDefaultNumXPoint);
  return look;
}

void StoreGraphLook(UserSettings& s, const GraphLook& look) {
  namespace k = settings_keys;
  s.WriteInt("", k::kDiagColorScheme,
             std::clamp(look.ColorScheme, kColorSchemeMin, kColorSchemeMax));
  s.WriteInt("", k::kDiagLineWidth, std::clamp(look.LineWidth, kLineWidthMin, kLineWidthMax));
  s.WriteInt("", k::kNumXPoint, std::clamp(look.NumXPoint, kNumXPointMin, kNumXPointMax));
}

int32_t StartPointCount(const UserSettings& s) {
  return ReadIntInRange(s, "", settings_keys::kNumXPoint, kNumXPointMin, kNumXPointMax)
      .value_or(kDefaultNumXPoint);
}

WindowBounds ReadWindowBounds(const UserSettings& s, int32_t minWidth, int32_t minHeight,
                              int32_t maxExtent) {
  namespace k = settings_keys;
  WindowBounds b;
  b.Width = ReadIntInRange(s, "", k::kDiagWindowWidth, minWidth, maxExtent);
  b.Height = ReadIntInRange(s, "", k::kDiagWindowHeight, minHeight, maxExtent);
  b.Left = ReadIntInRange(s, "", k::kDiagWindowLeft, -maxExtent, maxExtent);
  b.Top = ReadIntInRange(s, "", k::kDiagWindowTop, -maxExtent, maxExtent);
  return b;
}

void StoreWindowBounds(UserSettings& s, int32_t left, int32_t top, int32_t width, int32_t height) {
  namespace k = settings_keys;
  s.WriteInt("", k::kDiagWindowWidth, width);
  s.WriteInt("", k::kDiagWindowHeight, height);
  s.WriteInt("", k::kDiagWindowLeft, left);
  s.WriteInt("", k::kDiagWindowTop, top);
}

}  // namespace kvd
