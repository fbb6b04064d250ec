// SPDX-License-Identifier: GPL-3.0-or-later
// Only one copy of the program runs at a time. Windows: the two named mutexes; elsewhere a
// lock file, whose lock left behind by a crashed copy counts as free.
#pragma once

#include <QString>
#include <memory>

namespace kvd {

class SingleInstance {
 public:
  // name identifies the program; on Linux it becomes the lock file name in the user's runtime
  // directory (or the temporary directory), unless lockDir is given.
  explicit SingleInstance(const QString& name = QStringLiteral("kvd-diag"),
                          const QString& lockDir = QString());
  ~SingleInstance();
  SingleInstance(const SingleInstance&) = delete;
  SingleInstance& operator=(const SingleInstance&) = delete;

  // True when this copy is the one running copy (kept until the object is destroyed).
  bool Acquire();
  bool Held() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// The message of a second copy.
QString SecondCopyMessage();

}  // namespace kvd
