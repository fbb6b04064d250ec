// SPDX-License-Identifier: GPL-3.0-or-later
#include <windows.h>

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>
#include <QPointer>

#include "app/close_request.h"

namespace kvd {

struct CloseRequestWatch::Impl : QAbstractNativeEventFilter {
  QPointer<QWidget> window;
  bool requested = false;

  bool nativeEventFilter(const QByteArray& type, void* message, qintptr*) override {
    if (type != "windows_generic_MSG" || !window) return false;
    const MSG* msg = static_cast<const MSG*>(message);
    if (msg->message == WM_CLOSE && msg->hwnd == reinterpret_cast<HWND>(window->winId()))
      requested = true;
    return false;  // Qt goes on as usual (and drops the request while the window is blocked)
  }
};

CloseRequestWatch::CloseRequestWatch(QWidget* window) : impl_(std::make_unique<Impl>()) {
  impl_->window = window;
  if (window) QCoreApplication::instance()->installNativeEventFilter(impl_.get());
}

CloseRequestWatch::~CloseRequestWatch() {
  QCoreApplication::instance()->removeNativeEventFilter(impl_.get());
}

bool CloseRequestWatch::Requested() const {
  return impl_->requested;
}

}  // namespace kvd
