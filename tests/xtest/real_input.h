// SPDX-License-Identifier: GPL-3.0-or-later
// Real key and mouse input for the windows on the xcb platform: XTEST puts the events into the
// X server, Qt reads them back through the platform's own key translation, and each call
// returns once the application has received the last release it caused.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QEvent>
#include <QKeySequence>
#include <QPointer>
#include <QThread>
#include <QTimer>
#include <QWidget>
#include <QWindow>
#include <functional>
#include <string>

#include "x_server.h"

namespace kvd::xtest {

// Why the tests cannot run here (empty: they can). Set by main().
std::string& SkipReason();

// Counts the releases the application sees, so that a test knows its input has arrived.
class ReleaseCounter : public QObject {
 public:
  static ReleaseCounter& Instance() {
    static ReleaseCounter* counter = [] {
      auto* c = new ReleaseCounter;
      qApp->installEventFilter(c);
      return c;
    }();
    return *counter;
  }
  int keys = 0;
  int buttons = 0;

 protected:
  bool eventFilter(QObject* receiver, QEvent* event) override {
    // Every event from the window system reaches exactly one QWindow before the widgets.
    if (!receiver->isWindowType() || !event->spontaneous()) return false;
    if (event->type() == QEvent::KeyRelease) ++keys;
    if (event->type() == QEvent::MouseButtonRelease) ++buttons;
    return false;
  }
};

// Runs the event loop until the condition holds or ms have passed.
inline bool WaitFor(const std::function<bool()>& condition, int ms = 3000) {
  QElapsedTimer t;
  t.start();
  while (!condition()) {
    if (t.elapsed() > ms) return false;
    QApplication::processEvents(QEventLoop::AllEvents, 10);
    QThread::msleep(1);
  }
  return true;
}

// Shows a top-level window and waits until it is exposed and holds the keyboard focus.
inline bool Activate(QWidget* window) {
  window->show();
  window->raise();
  window->activateWindow();
  return WaitFor([window] {
    return window->windowHandle() && window->windowHandle()->isExposed() &&
           window->isActiveWindow();
  });
}

inline int BitCount(unsigned mods) {
  return ((mods & kShift) ? 1 : 0) + ((mods & kCtrl) ? 1 : 0) + ((mods & kAlt) ? 1 : 0);
}

// One key stroke with modifiers held; true once its releases have reached the application.
// A stroke that closes its window (Enter, Escape in a dialog) may have its release delivered to
// no window of the application at all: `gone` is then the sign that it arrived.
inline bool Type(const char* keysym, unsigned mods = 0, const std::function<bool()>& gone = {}) {
  if (!KeyKnown(keysym)) {
    ADD_FAILURE() << "the X keyboard has no key " << keysym;
    return false;
  }
  ReleaseCounter& counter = ReleaseCounter::Instance();
  const int target = counter.keys + 1 + BitCount(mods);
  ModifiersDown(mods);
  KeyDown(keysym);
  KeyUp(keysym);
  ModifiersUp(mods);
  Sync();
  return WaitFor([&] { return counter.keys >= target || (gone && gone()); });
}

// Clicks (count 1) or double-clicks (count 2) a button at a point of a widget.
inline bool Click(QWidget* widget, QPoint pos, unsigned mods = 0, int button = 1, int count = 1) {
  ReleaseCounter& counter = ReleaseCounter::Instance();
  const QPoint global = widget->mapToGlobal(pos);
  MoveTo(global.x(), global.y());
  Sync();
  WaitFor([] { return false; }, 20);  // let the motion arrive first
  const int keysBefore = counter.keys;
  const int target = counter.buttons + count;
  ModifiersDown(mods);
  for (int i = 0; i < count; ++i) {
    Button(button, true);
    Button(button, false);
  }
  ModifiersUp(mods);
  Sync();
  const int keyTarget = keysBefore + BitCount(mods);
  return WaitFor([&] { return counter.buttons >= target && counter.keys >= keyTarget; });
}

// The X keysym of a key of a Qt key sequence, or nothing for keys the tests do not type.
inline std::string KeysymOf(int key, bool keypad) {
  if (keypad) {
    if (key == Qt::Key_Plus) return "KP_Add";
    if (key == Qt::Key_Minus) return "KP_Subtract";
    if (key >= Qt::Key_0 && key <= Qt::Key_9) return "KP_" + std::to_string(key - Qt::Key_0);
    return {};
  }
  if (key >= Qt::Key_A && key <= Qt::Key_Z) return std::string(1, char('a' + (key - Qt::Key_A)));
  if (key >= Qt::Key_0 && key <= Qt::Key_9) return std::string(1, char('0' + (key - Qt::Key_0)));
  if (key >= Qt::Key_F1 && key <= Qt::Key_F12) return "F" + std::to_string(key - Qt::Key_F1 + 1);
  switch (key) {
    case Qt::Key_Pause:
      return "Pause";
    case Qt::Key_Escape:
      return "Escape";
    case Qt::Key_Return:
      return "Return";
    case Qt::Key_Minus:
      return "minus";
    case Qt::Key_Equal:
      return "equal";
    case Qt::Key_Left:
      return "Left";
    case Qt::Key_Right:
      return "Right";
    default:
      return {};
  }
}

// Types the first chord of a key sequence; false when the tests cannot type it.
// A key stroke into a modal window that may close it.
inline bool TypeInto(QWidget* window, const char* keysym) {
  QPointer<QWidget> w = window;
  return Type(keysym, 0, [w] { return !w || !w->isVisible(); });
}

inline bool TypeSequence(const QKeySequence& sequence) {
  if (sequence.isEmpty()) return false;
  const QKeyCombination chord = sequence[0];
  const Qt::KeyboardModifiers m = chord.keyboardModifiers();
  const std::string keysym = KeysymOf(chord.key(), m.testFlag(Qt::KeypadModifier));
  if (keysym.empty()) {
    ADD_FAILURE() << "no X key for " << sequence.toString().toStdString();
    return false;
  }
  unsigned mods = 0;
  if (m.testFlag(Qt::ShiftModifier)) mods |= kShift;
  if (m.testFlag(Qt::ControlModifier)) mods |= kCtrl;
  if (m.testFlag(Qt::AltModifier)) mods |= kAlt;
  return Type(keysym.c_str(), mods);
}

// Runs `open`, which shows a modal window and returns when it is closed, and drives that window
// with `drive` once it holds the focus. A window still open two seconds after `drive` is closed
// and fails the test, so that a key that does nothing cannot hang the tests.
inline void WithModal(const std::function<void()>& open,
                      const std::function<void(QWidget*)>& drive) {
  bool done = false;
  QTimer::singleShot(0, qApp, [&] {
    const auto active = [] {
      QWidget* w = QApplication::activeModalWidget();
      return w && w->isActiveWindow() && w->windowHandle() && w->windowHandle()->isExposed();
    };
    if (!WaitFor(active)) {
      ADD_FAILURE() << "no modal window came up";
      if (QWidget* w = QApplication::activeModalWidget()) w->close();
      done = true;
      return;
    }
    QPointer<QWidget> w = QApplication::activeModalWidget();
    drive(w);
    if (!WaitFor([w] { return !w || !w->isVisible(); }, 2000)) {
      ADD_FAILURE() << "the modal window stayed open";
      if (auto* d = qobject_cast<QDialog*>(w.data()))
        d->reject();
      else if (w)
        w->close();
    }
    done = true;
  });
  open();
  if (!WaitFor([&] { return done; })) ADD_FAILURE() << "the modal window was never driven";
}

}  // namespace kvd::xtest
