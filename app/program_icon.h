// The program's icon, drawn in code: the window icon and the PNG files of the desktop menu are
// made from the same drawing.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QIcon>
#include <QImage>
#include <QList>

namespace kvd {

// The icon at size x size pixels (at least 8), on a transparent background.
QImage DrawProgramIcon(int size);

// The icon in the sizes a desktop asks for.
QIcon ProgramIcon();

// A Windows icon file (.ico) holding each picture as a PNG entry, in the order given. Empty
// when there is no picture, one is not square, is outside 1..256 pixels, or cannot be encoded.
QByteArray WindowsIconFile(const QList<QImage>& images);

}  // namespace kvd
