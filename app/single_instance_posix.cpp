// SPDX-License-Identifier: GPL-3.0-or-later
#include <QDir>
#include <QLockFile>
#include <QStandardPaths>

#include "app/single_instance.h"

namespace kvd {

struct SingleInstance::Impl {
  std::unique_ptr<QLockFile> lock;
  bool held = false;
};

SingleInstance::SingleInstance(const QString& name, const QString& lockDir)
    : impl_(std::make_unique<Impl>()) {
  QString dir = lockDir;
  if (dir.isEmpty()) dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
  if (dir.isEmpty()) dir = QDir::tempPath();
  impl_->lock = std::make_unique<QLockFile>(QDir(dir).filePath(name + QStringLiteral(".lock")));
  // Never age a lock out by time: only a lock whose process is gone is stale.
  impl_->lock->setStaleLockTime(0);
}

SingleInstance::~SingleInstance() {
  if (impl_->held) impl_->lock->unlock();
}

bool SingleInstance::Acquire() {
  if (impl_->held) return true;
  impl_->held = impl_->lock->tryLock(0);
  if (!impl_->held && impl_->lock->error() == QLockFile::LockFailedError) {
    // A lock of a crashed copy: QLockFile removes it when the process it names is gone.
    if (impl_->lock->removeStaleLockFile()) impl_->held = impl_->lock->tryLock(0);
  }
  return impl_->held;
}

bool SingleInstance::Held() const {
  return impl_->held;
}

}  // namespace kvd
