// SPDX-License-Identifier: GPL-3.0-or-later
// The sixteen slots of the floating parameter windows of the diagnostic window: adding (with the
// chooser), closing, rearranging, the refresh from graph pane 1's cursor, and saving and
// restoring the slots in the user store.
#pragma once

#include <QPoint>
#include <QPointer>
#include <QSize>
#include <QString>
#include <array>
#include <functional>
#include <optional>

#include "data/parameters.h"
#include "ui/param_win.h"

namespace kvd {

class HistoryStore;
class TfrmGraph;
class UserSettings;

class FloatingParameters {
 public:
  static constexpr int kSlotCount = 16;

  explicit FloatingParameters(QWidget* owner);
  ~FloatingParameters();
  FloatingParameters(const FloatingParameters&) = delete;
  FloatingParameters& operator=(const FloatingParameters&) = delete;

  // --- Hooks, set by the owner.
  // Messages to the user (the full-set message).
  std::function<void(const QString&)> OnMessage;
  // The parameter chooser; the default shows the modal list.
  std::function<std::optional<ParameterNumber>()> Chooser;
  // Whether "rearrange" and "remove all" can be chosen.
  std::function<void(bool)> OnMenuState;

  // --- Commands.
  // Adds a window in the lowest free slot for the parameter the chooser gives, coloured by
  // scheme `colorScheme` (0..4). False when all slots are taken (with the message) or the chooser
  // was cancelled.
  bool miAddFloatClick(int colorScheme);
  void miArrangeFloatClick();  // every window to its slot's home position
  void miRemoveFloatClick();   // close every window

  // Creates the window of `number` in `slot` at `pos`; nullptr for a slot or number out of range.
  // An occupied slot's window is replaced.
  TfrmParamWin* AddAt(int slot, ParameterNumber number, int colorScheme, QPoint pos);
  // Closes the window of a slot and frees the slot.
  void Close(int slot);

  // After every redraw of graph pane 1: each window shows the record under the pane's cursor.
  // A collapsed pane 1 draws nothing and so refreshes nothing.
  void Refresh(const TfrmGraph& pane1, const HistoryStore& history, int32_t visiblePointCount);

  // Writes all sixteen slots (an empty slot as -1, 0, slot x 30).
  void Save(UserSettings& settings) const;
  // Restores the slots once; later calls do nothing. A stored position beyond the right or
  // bottom edge of the work area is pulled back inside it.
  void Restore(UserSettings& settings, QSize workArea, int colorScheme);
  bool Restored() const { return restored_; }

  // --- State.
  TfrmParamWin* Window(int slot) const;
  int Count() const;
  int FirstFreeSlot() const;  // -1 when all are taken

  // Home position of a slot for windows of `size`: two columns of eight from the top left.
  static QPoint HomePosition(int slot, QSize size);
  // The slot's key in the user store.
  static QString SlotKey(int slot);

 private:
  void SetMenuState(bool enabled);

  QWidget* owner_;
  std::array<QPointer<TfrmParamWin>, kSlotCount> slots_{};
  bool restored_ = false;
};

}  // namespace kvd
