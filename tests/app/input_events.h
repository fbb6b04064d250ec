// SPDX-License-Identifier: GPL-3.0-or-later
// Synthetic key and mouse input for widget tests, delivered the way the event loop does it.
#pragma once

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QWidget>

namespace kvd::test {

inline bool SendKey(QWidget* w, int key, Qt::KeyboardModifiers mods = {},
                    const QString& text = QString()) {
  QKeyEvent press(QEvent::KeyPress, key, mods, text);
  const bool accepted = QApplication::sendEvent(w, &press) && press.isAccepted();
  QKeyEvent release(QEvent::KeyRelease, key, mods, text);
  QApplication::sendEvent(w, &release);
  return accepted;
}

inline void SendClick(QWidget* w, QPoint pos, Qt::KeyboardModifiers mods = {},
                      Qt::MouseButton button = Qt::LeftButton) {
  const QPointF local(pos);
  const QPointF global(w->mapToGlobal(pos));
  QMouseEvent press(QEvent::MouseButtonPress, local, global, button, button, mods);
  QApplication::sendEvent(w, &press);
  QMouseEvent release(QEvent::MouseButtonRelease, local, global, button, Qt::NoButton, mods);
  QApplication::sendEvent(w, &release);
}

}  // namespace kvd::test
