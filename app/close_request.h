// SPDX-License-Identifier: GPL-3.0-or-later
// A request from the system to close a window while a modal window blocks it. Qt drops such a
// request: on Windows, "taskkill /IM kvd-diag.exe" (and a shutdown helper that does the same)
// posts WM_CLOSE to every top-level window, the diagnostic window closes and the launcher it
// blocked stays open. This watch remembers the request, so that the launcher closes too once
// the diagnostic window has gone.
#pragma once

#include <QWidget>
#include <memory>

namespace kvd {

class CloseRequestWatch {
 public:
  explicit CloseRequestWatch(QWidget* window);
  ~CloseRequestWatch();
  CloseRequestWatch(const CloseRequestWatch&) = delete;
  CloseRequestWatch& operator=(const CloseRequestWatch&) = delete;

  // True once the system asked the window to close while the watch was there.
  bool Requested() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace kvd
