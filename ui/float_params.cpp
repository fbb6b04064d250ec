// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/float_params.h"

#include <climits>

#include "data/history.h"
#include "settings/settings_store.h"
#include "ui/frm_graph.h"
#include "ui/param_list.h"

namespace kvd {

namespace {

const char* const kNumInSet = "NumInSet";
const char* const kLeft = "Left";
const char* const kTop = "Top";
// Stored positions beyond this are not screen positions: the slot's default is taken instead.
constexpr int32_t kMaxPosition = 100000;

int DefaultTop(int slot) {
  return slot * 30;
}

}  // namespace

FloatingParameters::FloatingParameters(QWidget* owner) : owner_(owner) {
  Chooser = [this] { return TfrmParamList::Choose(owner_); };
}

FloatingParameters::~FloatingParameters() {
  for (QPointer<TfrmParamWin>& w : slots_) delete w.data();
}

QPoint FloatingParameters::HomePosition(int slot, QSize size) {
  return QPoint(size.width() * (slot / 8), (size.height() + 2) * (slot % 8));
}

QString FloatingParameters::SlotKey(int slot) {
  return QStringLiteral("Janvar5_E2/FloatParameters%1").arg(slot);
}

TfrmParamWin* FloatingParameters::Window(int slot) const {
  return slot >= 0 && slot < kSlotCount ? slots_[static_cast<size_t>(slot)].data() : nullptr;
}

int FloatingParameters::Count() const {
  int n = 0;
  for (const auto& w : slots_)
    if (w) ++n;
  return n;
}

int FloatingParameters::FirstFreeSlot() const {
  for (int s = 0; s < kSlotCount; ++s)
    if (!slots_[static_cast<size_t>(s)]) return s;
  return -1;
}

void FloatingParameters::SetMenuState(bool enabled) {
  if (OnMenuState) OnMenuState(enabled);
}

bool FloatingParameters::miAddFloatClick(int colorScheme) {
  const int slot = FirstFreeSlot();
  if (slot < 0) {
    if (OnMessage) OnMessage(QStringLiteral("Слишком много \"плавающих\" параметров."));
    return false;
  }
  const std::optional<ParameterNumber> number = Chooser ? Chooser() : std::nullopt;
  if (!number || !LookupParameter(*number)) return false;
  SetMenuState(true);
  const QPoint home = HomePosition(slot, QSize(TfrmParamWin::kWidth, TfrmParamWin::kHeight));
  return AddAt(slot, *number, colorScheme, home) != nullptr;
}

TfrmParamWin* FloatingParameters::AddAt(int slot, ParameterNumber number, int colorScheme,
                                        QPoint pos) {
  if (slot < 0 || slot >= kSlotCount) return nullptr;
  const std::optional<ParameterDescriptor> d = LookupParameter(number);
  if (!d) return nullptr;
  Close(slot);
  auto* w = new TfrmParamWin(owner_, slot, number, *d);
  const auto& schemes = GraphColorSchemes();
  w->SetColors(schemes[static_cast<size_t>(
      colorScheme >= 0 && colorScheme < kGraphColorSchemeCount ? colorScheme : 0)]);
  w->OnCloseRequest = [this](TfrmParamWin& win) { Close(win.Slot()); };
  w->move(pos);
  slots_[static_cast<size_t>(slot)] = w;
  w->show();
  if (owner_) owner_->activateWindow();
  return w;
}

void FloatingParameters::Close(int slot) {
  TfrmParamWin* w = Window(slot);
  if (!w) return;
  slots_[static_cast<size_t>(slot)] = nullptr;
  w->OnCloseRequest = nullptr;
  w->hide();
  // The window may be inside its own mouse handler: it goes when that has returned.
  w->deleteLater();
}

void FloatingParameters::miArrangeFloatClick() {
  for (int s = 0; s < kSlotCount; ++s)
    if (TfrmParamWin* w = Window(s)) w->move(HomePosition(s, w->size()));
}

void FloatingParameters::miRemoveFloatClick() {
  for (int s = 0; s < kSlotCount; ++s) Close(s);
  SetMenuState(false);
}

void FloatingParameters::Refresh(const TfrmGraph& pane1, const HistoryStore& history,
                                 int32_t visiblePointCount) {
  if (!pane1.GraphShown() || Count() == 0) return;
  const int64_t index =
      int64_t{pane1.NewestShownIndex()} + pane1.CursorIndex() - visiblePointCount + 1;
  // Left of the first record, or a slot the history does not hold (an empty history still
  // shows record 0): no value.
  const HistoryRecord* r =
      index < 0 || index > INT32_MAX ? nullptr : history.RecordAt(static_cast<int32_t>(index));
  for (const auto& w : slots_)
    if (w) w->ShowRecord(r ? r->Bytes : nullptr);
}

void FloatingParameters::Save(UserSettings& settings) const {
  for (int s = 0; s < kSlotCount; ++s) {
    const QString key = SlotKey(s);
    const TfrmParamWin* w = Window(s);
    settings.WriteInt(key, kNumInSet, w ? w->Number() : -1);
    settings.WriteInt(key, kLeft, w ? w->x() : 0);
    settings.WriteInt(key, kTop, w ? w->y() : DefaultTop(s));
  }
}

void FloatingParameters::Restore(UserSettings& settings, QSize workArea, int colorScheme) {
  if (restored_) return;
  restored_ = true;
  for (int s = 0; s < kSlotCount; ++s) {
    const QString key = SlotKey(s);
    // Absent values are written with their defaults; unusable ones read as the default.
    const int32_t number = ReadOrWriteDefault(settings, key, kNumInSet, 1, kParameterCount, -1);
    const int32_t left = ReadOrWriteDefault(settings, key, kLeft, -kMaxPosition, kMaxPosition, 0);
    const int32_t top =
        ReadOrWriteDefault(settings, key, kTop, -kMaxPosition, kMaxPosition, DefaultTop(s));
    if (number < 1 || number > kParameterCount) continue;
    SetMenuState(true);
    TfrmParamWin* w = AddAt(s, number, colorScheme, QPoint(left, top));
    if (!w) continue;
    QPoint p = w->pos();
    if (p.x() + w->width() > workArea.width()) p.setX(workArea.width() - w->width());
    if (p.y() + w->height() > workArea.height()) p.setY(workArea.height() - w->height());
    w->move(p);
  }
  if (owner_) owner_->activateWindow();
}

}  // namespace kvd
