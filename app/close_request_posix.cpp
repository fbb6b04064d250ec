// SPDX-License-Identifier: GPL-3.0-or-later
// X11 and Wayland window managers do not offer a close to a window a modal window blocks, and
// a program's end is asked by a signal there: nothing to remember.
#include "app/close_request.h"

namespace kvd {

struct CloseRequestWatch::Impl {};

CloseRequestWatch::CloseRequestWatch(QWidget*) : impl_(std::make_unique<Impl>()) {}
CloseRequestWatch::~CloseRequestWatch() = default;

bool CloseRequestWatch::Requested() const {
  return false;
}

}  // namespace kvd
