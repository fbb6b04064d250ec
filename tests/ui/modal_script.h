// SPDX-License-Identifier: GPL-3.0-or-later
// Scripted answers to modal dialogs: the script runs as soon as a dialog of the wanted class is
// the active modal widget, inside its exec().
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QTimer>
#include <functional>
#include <memory>

namespace kvd::testing {

// Runs `script` on the next modal dialog of type T. If none appears within about five seconds the
// test fails and every modal widget is closed, so that a test never hangs.
template <class T>
void WhenModal(std::function<void(T&)> script) {
  auto* timer = new QTimer;
  auto tries = std::make_shared<int>(0);
  QObject::connect(timer, &QTimer::timeout, [timer, tries, script] {
    QWidget* modal = QApplication::activeModalWidget();
    if (auto* dialog = qobject_cast<T*>(modal)) {
      timer->stop();
      timer->deleteLater();
      script(*dialog);
      return;
    }
    if (++*tries > 500) {
      timer->stop();
      timer->deleteLater();
      ADD_FAILURE() << "no modal " << T::staticMetaObject.className() << " appeared";
      if (modal) modal->close();
    }
  });
  timer->start(10);
}

}  // namespace kvd::testing
