// SPDX-License-Identifier: GPL-3.0-or-later
#include <windows.h>

#include "app/single_instance.h"

namespace kvd {

struct SingleInstance::Impl {
  HANDLE instance = nullptr;
  bool held = false;
};

SingleInstance::SingleInstance(const QString&, const QString&) : impl_(std::make_unique<Impl>()) {}

SingleInstance::~SingleInstance() {
  if (impl_->instance) {
    if (impl_->held) ReleaseMutex(impl_->instance);
    CloseHandle(impl_->instance);
  }
}

bool SingleInstance::Acquire() {
  if (impl_->held) return true;
  HANDLE section = CreateMutexA(nullptr, TRUE, "kvd-diag.OneInstance32.CriticalSection");
  if (!impl_->instance)
    impl_->instance = CreateMutexA(nullptr, FALSE, "kvd-diagOneInstance32.Default");
  if (impl_->instance) {
    const DWORD r = WaitForSingleObject(impl_->instance, 0);
    // A mutex abandoned by a crashed copy counts as acquired.
    impl_->held = r == WAIT_OBJECT_0 || r == WAIT_ABANDONED;
  }
  if (section) {
    ReleaseMutex(section);
    CloseHandle(section);
  }
  return impl_->held;
}

bool SingleInstance::Held() const {
  return impl_->held;
}

}  // namespace kvd
