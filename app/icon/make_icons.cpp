// kvd-make-icons: writes the program's icon as PNG files for the desktop menu, one per size, at
// DIR/hicolor/NxN/apps/kvd-diag.png, or as one Windows icon file holding every size. Run by the
// build:
//
//   kvd-make-icons DIR SIZE...          (sizes 8..1024)
//   kvd-make-icons --ico FILE SIZE...   (sizes 8..256)
// SPDX-License-Identifier: GPL-3.0-or-later
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QString>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/program_icon.h"

namespace {

// The size given as argument, or 0 when it is not a number in low..high.
long SizeArgument(const char* text, long low, long high) {
  char* end = nullptr;
  const long size = std::strtol(text, &end, 10);
  if (*text == '\0' || *end != '\0' || size < low || size > high) {
    std::fprintf(stderr, "kvd-make-icons: '%s' is not a size in %ld..%ld\n", text, low, high);
    return 0;
  }
  return size;
}

int WriteIconFile(const QString& name, int count, char** sizes) {
  QList<QImage> images;
  for (int i = 0; i < count; ++i) {
    const long size = SizeArgument(sizes[i], 8, 256);
    if (size == 0) return 2;
    images.append(kvd::DrawProgramIcon(static_cast<int>(size)));
  }
  const QByteArray data = kvd::WindowsIconFile(images);
  QFile file(name);
  if (data.isEmpty() || !file.open(QIODevice::WriteOnly) || file.write(data) != data.size() ||
      !file.flush()) {
    std::fprintf(stderr, "kvd-make-icons: cannot write %s\n", qPrintable(name));
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3 || (std::strcmp(argv[1], "--ico") == 0 && argc < 4)) {
    std::fprintf(stderr, "usage: kvd-make-icons DIR SIZE... | --ico FILE SIZE...\n");
    return 2;
  }
  if (std::strcmp(argv[1], "--ico") == 0) {
    const QString name = QString::fromLocal8Bit(argv[2]);
    if (!QDir().mkpath(QFileInfo(name).absolutePath())) {
      std::fprintf(stderr, "kvd-make-icons: cannot write %s\n", argv[2]);
      return 1;
    }
    return WriteIconFile(name, argc - 3, argv + 3);
  }
  const QString root = QString::fromLocal8Bit(argv[1]);
  for (int i = 2; i < argc; ++i) {
    const long size = SizeArgument(argv[i], 8, 1024);
    if (size == 0) return 2;
    const QString dir = QStringLiteral("%1/hicolor/%2x%2/apps").arg(root).arg(size);
    const QString file = dir + QStringLiteral("/kvd-diag.png");
    if (!QDir().mkpath(dir) || !kvd::DrawProgramIcon(static_cast<int>(size)).save(file, "PNG")) {
      std::fprintf(stderr, "kvd-make-icons: cannot write %s\n", qPrintable(file));
      return 1;
    }
  }
  return 0;
}
