// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/diag_sets.h"

#include "data/parameters.h"
#include "settings/settings_store.h"

namespace kvd {

namespace {

constexpr int32_t kDefaultSlots[kDataSetCount][kPaneCount] = {
    {2, 1, 3, 5, 14, 7, 10},    {19, 15, 13, 3, 7, 5, 10},  {2, 14, 15, 10, 9, 13, 8},
    {2, 14, 15, 10, 1, 13, 25}, {2, 15, 1, 13, 22, 30, 31}, {2, 15, 13, 31, 30, 32, 29},
    {2, 15, 13, 25, 24, 8, 1},  {2, 14, 15, 1, 13, 16, 7},  {2, 18, 23, 27, 22, 11, 12},
    {2, 1, 7, 13, 22, 31, 17},
};

QString NameKey(int set) {
  return QStringLiteral("DiagSetName%1").arg(set);
}
QString IdxKey(int set, int pane) {
  return QStringLiteral("DiagSetIdx%1-%2").arg(set).arg(pane);
}
QString OptKey(int set, int pane) {
  return QStringLiteral("DiagSetOpt%1-%2").arg(set).arg(pane);
}

}  // namespace

SetTable DefaultSetTable() {
  SetTable t;
  for (int i = 0; i < kDataSetCount; ++i) {
    t[i].Name = QStringLiteral("Набор %1").arg(i + 1);
    for (int j = 0; j < kPaneCount; ++j) {
      t[i].SlotParameter[j] = kDefaultSlots[i][j];
      t[i].SlotOptions[j] = 1;
    }
  }
  return t;
}

SetTable LoadSetTable(const UserSettings& settings) {
  SetTable t = DefaultSetTable();
  const QString key = QString::fromLatin1(kDataSetKey);
  for (int i = 0; i < kDataSetCount; ++i) {
    if (auto name = settings.ReadString(key, NameKey(i + 1)))
      t[i].Name = name->left(kDataSetNameMax);
    for (int j = 0; j < kPaneCount; ++j) {
      if (auto p = settings.ReadInt(key, IdxKey(i + 1, j + 1));
          p && *p >= 1 && *p <= kParameterCount)
        t[i].SlotParameter[j] = static_cast<int32_t>(*p);
      if (auto o = settings.ReadInt(key, OptKey(i + 1, j + 1));
          o && *o >= INT32_MIN && *o <= UINT32_MAX)
        t[i].SlotOptions[j] = static_cast<int32_t>(static_cast<uint32_t>(*o));
    }
  }
  return t;
}

void StoreSetTable(UserSettings& settings, const SetTable& sets) {
  const QString key = QString::fromLatin1(kDataSetKey);
  for (int i = 0; i < kDataSetCount; ++i) {
    settings.WriteString(key, NameKey(i + 1), sets[i].Name.left(kDataSetNameMax));
    for (int j = 0; j < kPaneCount; ++j) {
      settings.WriteInt(key, IdxKey(i + 1, j + 1), sets[i].SlotParameter[j]);
      settings.WriteInt(key, OptKey(i + 1, j + 1), sets[i].SlotOptions[j]);
    }
  }
}

ParameterDescriptor SlotDescriptor(const DataSet& set, int slot, const DataSet& fallback) {
  const auto i = static_cast<size_t>(slot);
  ParameterDescriptor d =
      LookupParameter(set.SlotParameter[i]).value_or(*LookupParameter(fallback.SlotParameter[i]));
  d.Options = set.SlotOptions[i];
  return d;
}

}  // namespace kvd
