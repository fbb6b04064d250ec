// kvd-make-icons: writes the program's icon as PNG files for the desktop menu, one per size, at
// DIR/hicolor/NxN/apps/kvd-diag.png. Run by the build: make_icons DIR SIZE...
// SPDX-License-Identifier: GPL-3.0-or-later
#include <QDir>
#include <QString>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/program_icon.h"

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: kvd-make-icons DIR SIZE...\n");
    return 2;
  }
  const QString root = QString::fromLocal8Bit(argv[1]);
  for (int i = 2; i < argc; ++i) {
    char* end = nullptr;
    const long size = std::strtol(argv[i], &end, 10);
    if (*argv[i] == '\0' || *end != '\0' || size < 8 || size > 1024) {
      std::fprintf(stderr, "kvd-make-icons: '%s' is not a size in 8..1024\n", argv[i]);
      return 2;
    }
    const QString dir = QStringLiteral("%1/hicolor/%2x%2/apps").arg(root).arg(size);
    const QString file = dir + QStringLiteral("/kvd-diag.png");
    if (!QDir().mkpath(dir) || !kvd::DrawProgramIcon(static_cast<int>(size)).save(file, "PNG")) {
      std::fprintf(stderr, "kvd-make-icons: cannot write %s\n", qPrintable(file));
      return 1;
    }
  }
  return 0;
}
