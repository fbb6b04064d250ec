// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/program_icon.h"

#include <QBuffer>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <algorithm>
#include <cstdint>

namespace kvd {

// The picture is laid out on a 64 x 64 grid and scaled: a dark graph pane with its grid, a
// live-data trace rising like an engine speed after a throttle blip, and below it the K-line's
// bit pattern.
QImage DrawProgramIcon(int size) {
  size = std::clamp(size, 8, 1024);
  QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.scale(size / 64.0, size / 64.0);

  // The pane: a rounded square with a light rim.
  QLinearGradient back(0, 0, 0, 64);
  back.setColorAt(0, QColor(0x1f, 0x3a, 0x5f));
  back.setColorAt(1, QColor(0x0b, 0x16, 0x26));
  p.setPen(QPen(QColor(0x8f, 0xb8, 0xe0), 1.5));
  p.setBrush(back);
  p.drawRoundedRect(QRectF(2, 2, 60, 60), 10, 10);

  // Grid lines only where there are pixels enough to show them.
  if (size >= 32) {
    p.setPen(QPen(QColor(0x3c, 0x5a, 0x80), 0.8));
    for (int x = 14; x <= 50; x += 12) p.drawLine(QPointF(x, 8), QPointF(x, 40));
    for (int y = 12; y <= 36; y += 8) p.drawLine(QPointF(7, y), QPointF(57, y));
  }

  // The live-data trace.
  QPainterPath trace;
  trace.moveTo(7, 34);
  trace.lineTo(15, 33);
  trace.lineTo(20, 30);
  trace.cubicTo(24, 10, 28, 10, 31, 18);
  trace.cubicTo(34, 27, 38, 24, 42, 22);
  trace.lineTo(49, 22);
  trace.lineTo(57, 14);
  p.setBrush(Qt::NoBrush);
  p.setPen(QPen(QColor(0xff, 0xc8, 0x2e), size >= 32 ? 3.0 : 4.0, Qt::SolidLine, Qt::RoundCap,
                Qt::RoundJoin));
  p.drawPath(trace);

  // The K-line: a run of bits; fewer and wider where the icon is small.
  QPainterPath bits;
  const bool small = size < 32;
  const int fine[] = {1, 0, 1, 1, 0, 0, 1, 0, 1, 1};
  const int coarse[] = {1, 0, 1, 0, 1};
  const int* levels = small ? coarse : fine;
  const int count = small ? 5 : 10;
  const double step = 48.0 / count;
  double x = 8;
  bits.moveTo(x, levels[0] ? 46 : 55);
  for (int i = 0; i < count; ++i) {
    const double y = levels[i] ? 46 : 55;
    bits.lineTo(x, y);
    x += step;
    bits.lineTo(x, y);
  }
  p.setPen(QPen(QColor(0x4c, 0xe0, 0x8a), size >= 32 ? 2.5 : 3.5, Qt::SolidLine, Qt::FlatCap,
                Qt::MiterJoin));
  p.drawPath(bits);
  p.end();
  return image;
}

QIcon ProgramIcon() {
  QIcon icon;
  for (int size : {16, 24, 32, 48, 64, 128, 256})
    icon.addPixmap(QPixmap::fromImage(DrawProgramIcon(size)));
  return icon;
}

namespace {

void PutU16(QByteArray& out, uint16_t v) {
  out.append(static_cast<char>(v & 0xFF));
  out.append(static_cast<char>(v >> 8));
}

void PutU32(QByteArray& out, uint32_t v) {
  PutU16(out, static_cast<uint16_t>(v & 0xFFFF));
  PutU16(out, static_cast<uint16_t>(v >> 16));
}

}  // namespace

QByteArray WindowsIconFile(const QList<QImage>& images) {
  if (images.isEmpty() || images.size() > 0xFFFF) return {};
  QList<QByteArray> pngs;
  for (const QImage& image : images) {
    if (image.width() != image.height() || image.width() < 1 || image.width() > 256) return {};
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    if (!image.convertToFormat(QImage::Format_ARGB32).save(&buffer, "PNG")) return {};
    pngs.append(png);
  }
  // The header (reserved, type 1 = icon, count) and one 16-byte entry per picture, all
  // little-endian; a width or height of 256 is written as 0.
  QByteArray out;
  PutU16(out, 0);
  PutU16(out, 1);
  PutU16(out, static_cast<uint16_t>(images.size()));
  uint32_t offset = 6 + 16 * static_cast<uint32_t>(images.size());
  for (qsizetype i = 0; i < images.size(); ++i) {
    const auto side = static_cast<uint8_t>(images[i].width() & 0xFF);
    out.append(static_cast<char>(side));
    out.append(static_cast<char>(side));
    out.append('\0');  // no palette
    out.append('\0');
    PutU16(out, 1);   // colour planes
    PutU16(out, 32);  // bits per pixel
    PutU32(out, static_cast<uint32_t>(pngs[i].size()));
    PutU32(out, offset);
    offset += static_cast<uint32_t>(pngs[i].size());
  }
  for (const QByteArray& png : pngs) out.append(png);
  return out;
}

}  // namespace kvd
