// The program's icon, drawn in code: the window icon and the PNG files of the desktop menu are
// made from the same drawing.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QIcon>
#include <QImage>

namespace kvd {

// The icon at size x size pixels (at least 8), on a transparent background.
QImage DrawProgramIcon(int size);

// The icon in the sizes a desktop asks for.
QIcon ProgramIcon();

}  // namespace kvd
