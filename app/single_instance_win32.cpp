// SPDX-License-Identifier: GPL-3.0-or-later
#include <windows.h>

#include <mutex>
#include <set>
#include <string>

#include "app/single_instance.h"

namespace kvd {
namespace {

// A Windows mutex can be taken again by the thread that holds it, so within one process the
// mutex alone cannot tell a second holder: the names held here are kept beside it.
std::mutex held_names_lock;
std::set<std::wstring>& HeldNames() {
  static std::set<std::wstring> names;
  return names;
}

}  // namespace

struct SingleInstance::Impl {
  std::wstring section_name;  // "<name>.CriticalSection"
  std::wstring default_name;  // "<name without dots>.Default"
  HANDLE instance = nullptr;
  bool held = false;
};

// The program's name "kvd-diag.OneInstance32" gives the mutexes
// "kvd-diag.OneInstance32.CriticalSection" and "kvd-diagOneInstance32.Default".
SingleInstance::SingleInstance(const QString& name, const QString&)
    : impl_(std::make_unique<Impl>()) {
  impl_->section_name = (name + QStringLiteral(".CriticalSection")).toStdWString();
  impl_->default_name =
      (QString(name).remove(QLatin1Char('.')) + QStringLiteral(".Default")).toStdWString();
}

SingleInstance::~SingleInstance() {
  if (impl_->instance) {
    if (impl_->held) {
      ReleaseMutex(impl_->instance);
      const std::lock_guard<std::mutex> guard(held_names_lock);
      HeldNames().erase(impl_->default_name);
    }
    CloseHandle(impl_->instance);
  }
}

bool SingleInstance::Acquire() {
  if (impl_->held) return true;
  HANDLE section = CreateMutexW(nullptr, TRUE, impl_->section_name.c_str());
  if (!impl_->instance) impl_->instance = CreateMutexW(nullptr, FALSE, impl_->default_name.c_str());
  if (impl_->instance) {
    const DWORD r = WaitForSingleObject(impl_->instance, 0);
    // A mutex abandoned by a crashed copy counts as acquired.
    if (r == WAIT_OBJECT_0 || r == WAIT_ABANDONED) {
      const std::lock_guard<std::mutex> guard(held_names_lock);
      if (HeldNames().insert(impl_->default_name).second)
        impl_->held = true;
      else
        ReleaseMutex(impl_->instance);  // taken again by this process: undo the recursion
    }
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
