// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/splash.h"

#include <QKeyEvent>
#include <QLabel>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPolygon>
#include <QRadialGradient>
#include <QRegion>
#include <QScreen>
#include <algorithm>
#include <cfenv>
#include <cmath>

namespace kvd {

const std::array<QPoint, 71> kSplashOutline = {{
    {49, 78},   {49, 3},    {499, 3},   {499, 353}, {499, 359}, {497, 365}, {495, 371}, {492, 376},
    {488, 381}, {483, 385}, {478, 388}, {472, 390}, {466, 392}, {460, 392}, {440, 391}, {420, 390},
    {400, 388}, {380, 387}, {360, 386}, {340, 387}, {320, 388}, {300, 390}, {280, 391}, {260, 392},
    {240, 391}, {220, 390}, {200, 388}, {180, 387}, {160, 386}, {140, 387}, {120, 388}, {100, 390},
    {80, 391},  {72, 392},  {64, 390},  {57, 388},  {50, 385},  {43, 380},  {37, 376},  {31, 370},
    {27, 364},  {22, 357},  {19, 350},  {17, 343},  {15, 335},  {15, 327},  {15, 300},  {15, 260},
    {15, 220},  {15, 180},  {15, 140},  {15, 136},  {16, 132},  {16, 128},  {17, 124},  {18, 120},
    {18, 116},  {19, 112},  {21, 109},  {22, 106},  {23, 102},  {25, 100},  {27, 97},   {29, 94},
    {31, 92},   {33, 89},   {35, 87},   {38, 85},   {41, 83},   {43, 82},   {46, 80},
}};

namespace {

// The highlight is a soft lens over the left half of the picture: its left edge swings out to
// column 103 at row 200, its right edge reaches column 370 there. The tables interpolate these
// control rows linearly.
struct ControlRow {
  int y;
  int start;
  int end;
};
constexpr ControlRow kControlRows[] = {
    {70, 229, 299},  {100, 178, 330}, {140, 132, 355}, {200, 103, 370},
    {260, 112, 364}, {300, 140, 348}, {347, 212, 306},
};

struct HighlightTables {
  std::array<int32_t, kHighlightLastRow - kHighlightFirstRow + 1> start{};
  std::array<int32_t, kHighlightLastRow - kHighlightFirstRow + 1> end{};
};

constexpr int Lerp(int a, int b, int num, int den) {
  // Rounded to the nearest column, halves away from zero.
  const int d = (b - a) * num;
  return a + (d >= 0 ? (2 * d + den) / (2 * den) : -((-2 * d + den) / (2 * den)));
}

constexpr HighlightTables MakeTables() {
  HighlightTables t;
  for (int y = kHighlightFirstRow; y <= kHighlightLastRow; ++y) {
    int k = 0;
    while (kControlRows[k + 1].y < y) ++k;
    const ControlRow& a = kControlRows[k];
    const ControlRow& b = kControlRows[k + 1];
    t.start[y - kHighlightFirstRow] = Lerp(a.start, b.start, y - a.y, b.y - a.y);
    t.end[y - kHighlightFirstRow] = Lerp(a.end, b.end, y - a.y, b.y - a.y);
  }
  return t;
}

constexpr HighlightTables kTables = MakeTables();
static_assert(kTables.start[70 - kHighlightFirstRow] == 229);
static_assert(kTables.end[70 - kHighlightFirstRow] == 299);
static_assert(kTables.start[200 - kHighlightFirstRow] == 103);
static_assert(kTables.end[200 - kHighlightFirstRow] == 370);

// Round to nearest, ties to even, whatever rounding mode the process runs in.
double RoundHalfEven(double v) {
  const double f = std::floor(v);
  const double diff = v - f;
  if (diff > 0.5) return f + 1.0;
  if (diff < 0.5) return f;
  return std::fmod(f, 2.0) == 0.0 ? f : f + 1.0;
}

}  // namespace

int32_t HighlightStart(int y) {
  if (y < kHighlightFirstRow || y > kHighlightLastRow) return 0;
  return kTables.start[y - kHighlightFirstRow];
}

int32_t HighlightEnd(int y) {
  if (y < kHighlightFirstRow || y > kHighlightLastRow) return 0;
  return kTables.end[y - kHighlightFirstRow];
}

uint8_t HighlightChannel(uint8_t v, int x, int y) {
  if (y < kHighlightFirstRow || y > kHighlightLastRow) return v;
  const int32_t s = HighlightStart(y);
  const int32_t e = HighlightEnd(y);
  // The lens is only defined left of column 300; a start at or beyond it would divide by zero
  // or turn the highlight upside down, so such a row is left as it is.
  if (x < s || x > e || s >= 300) return v;
  const double t = static_cast<double>(x - s) / static_cast<double>(300 - s);
  double k = std::min(t * t, 0.9);
  if (y % 2 != 0) k = k / 1.6;
  const double moved = RoundHalfEven((255.0 - v) * k);
  return static_cast<uint8_t>(std::clamp(v + moved, 0.0, 255.0));
}

void ApplyHighlight(QImage& picture) {
  if (picture.isNull()) return;
  if (picture.format() != QImage::Format_RGB888)
    picture = picture.convertToFormat(QImage::Format_RGB888);
  const int last = std::min(kHighlightLastRow, picture.height() - 1);
  for (int y = kHighlightFirstRow; y <= last; ++y) {
    uchar* row = picture.scanLine(y);
    const int x0 = std::max(0, HighlightStart(y));
    const int x1 = std::min(picture.width() - 1, HighlightEnd(y));
    for (int x = x0; x <= x1; ++x) {
      for (int c = 0; c < 3; ++c) row[3 * x + c] = HighlightChannel(row[3 * x + c], x, y);
    }
  }
}

namespace {

// The texts of the picture. The highlight of the about form washes the lens almost white, so
// every text keeps clear of it: the title and the first line above row 70, the rest below
// row 347 and left of the version label.
struct SplashText {
  QRect area;
  int pixelSize;
  bool bold;
  QRgb colour;
  const char* text;
};
constexpr SplashText kSplashTexts[] = {
    {{175, 10, 310, 46}, 26, true, qRgb(0xff, 0xc8, 0x30), "Diagnostics"},
    {{62, 50, 420, 18},
     14,
     false,
     qRgb(0xc0, 0xd0, 0xf0),
     "Диагностика ЭБУ по K-линии (KWP2000, 10400 бод)"},
    {{80, 350, 320, 18}, 14, false, qRgb(0xc0, 0xd0, 0xf0), "Январь-5.1 / VS-5.1 / M1.5.4  ЕВРО-2"},
    {{80, 369, 320, 15},
     11,
     false,
     qRgb(0x80, 0x90, 0xb0),
     "Свободная программа, GPL-3.0-or-later"},
};
// The big "KVD" left of "Diagnostics", with a shadow.
constexpr QRect kSplashTitle(60, 2, 420, 60);

}  // namespace

std::vector<QRect> SplashTextAreas() {
  std::vector<QRect> areas = {kSplashTitle.adjusted(0, 0, 2, 2)};
  for (const SplashText& t : kSplashTexts) areas.push_back(t.area);
  return areas;
}

QImage DrawSplashPicture() {
  QImage img(kSplashWidth, kSplashHeight, QImage::Format_RGB888);
  img.fill(QColor(0x10, 0x18, 0x30));
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);

  // Deep blue body with a lighter band at the top.
  QLinearGradient body(0, 0, 0, kSplashHeight);
  body.setColorAt(0.0, QColor(0x2a, 0x4c, 0x8c));
  body.setColorAt(0.45, QColor(0x14, 0x24, 0x4a));
  body.setColorAt(1.0, QColor(0x06, 0x0a, 0x18));
  p.fillRect(img.rect(), body);

  // A scope screen with a grid and an engine-speed trace, under the lens.
  const QRectF scope(70, 84, 380, 252);
  p.setPen(QPen(QColor(0x50, 0x70, 0xa0), 2));
  p.setBrush(QColor(0x02, 0x08, 0x04));
  p.drawRoundedRect(scope, 8, 8);
  p.setPen(QPen(QColor(0x00, 0x55, 0x22), 1, Qt::DotLine));
  for (int i = 1; i < 8; ++i) {
    const double x = scope.left() + i * scope.width() / 8;
    p.drawLine(QPointF(x, scope.top() + 4), QPointF(x, scope.bottom() - 4));
  }
  for (int i = 1; i < 6; ++i) {
    const double y = scope.top() + i * scope.height() / 6;
    p.drawLine(QPointF(scope.left() + 4, y), QPointF(scope.right() - 4, y));
  }
  QPainterPath trace;
  for (int i = 0; i <= 360; ++i) {
    const double x = scope.left() + 10 + i;
    const double phase = i / 360.0;
    const double rise = phase < 0.35 ? 0.2 : (phase < 0.55 ? 0.2 + (phase - 0.35) * 3.2 : 0.84);
    const double wobble = 0.04 * std::sin(i * 0.35) + 0.02 * std::sin(i * 1.7);
    const double y = scope.bottom() - 12 - (rise + wobble) * (scope.height() - 30);
    if (i == 0)
      trace.moveTo(x, y);
    else
      trace.lineTo(x, y);
  }
  p.setBrush(Qt::NoBrush);
  p.setPen(QPen(QColor(0x33, 0xff, 0x44), 2));
  p.drawPath(trace);

  // A diagnostic plug on a K-line cable running into the scope.
  p.setPen(QPen(QColor(0xb0, 0xb0, 0xb8), 5, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(QPointF(40, 345), QPointF(40, 300));
  p.drawLine(QPointF(40, 300), QPointF(70, 270));
  p.setPen(QPen(QColor(0x20, 0x20, 0x24), 1));
  p.setBrush(QColor(0x30, 0x30, 0x38));
  p.drawRoundedRect(QRectF(22, 340, 42, 30), 5, 5);
  p.setBrush(QColor(0xd8, 0xb0, 0x40));
  for (int i = 0; i < 4; ++i) p.drawRect(QRectF(27 + i * 9, 348, 5, 5));
  for (int i = 0; i < 4; ++i) p.drawRect(QRectF(27 + i * 9, 358, 5, 5));

  // Title and lines.
  QFont title(QStringLiteral("DejaVu Sans"));
  title.setPixelSize(46);
  title.setBold(true);
  p.setFont(title);
  p.setPen(QColor(0x00, 0x10, 0x30));
  p.drawText(kSplashTitle.translated(2, 2), Qt::AlignLeft | Qt::AlignVCenter,
             QStringLiteral("KVD"));
  p.setPen(QColor(0xf0, 0xf4, 0xff));
  p.drawText(kSplashTitle, Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("KVD"));
  for (const SplashText& t : kSplashTexts) {
    QFont f(QStringLiteral("DejaVu Sans"));
    f.setPixelSize(t.pixelSize);
    f.setBold(t.bold);
    p.setFont(f);
    p.setPen(QColor(t.colour));
    p.drawText(t.area, Qt::AlignLeft | Qt::AlignVCenter, QString::fromUtf8(t.text));
  }
  p.end();
  return img;
}

TFormSplash::TFormSplash(QWidget* parent)
    : QDialog(parent, Qt::FramelessWindowHint | Qt::Dialog), original_(DrawSplashPicture()) {
  setFixedSize(kSplashWidth, kSplashHeight);
  setAttribute(Qt::WA_OpaquePaintEvent);
  picture_ = original_;
  labelVer_ = new QLabel(this);
  labelVer_->setText(QStringLiteral("ver.1.00\n07.2005"));
  labelVer_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  QFont f = labelVer_->font();
  f.setPixelSize(12);
  f.setBold(true);
  labelVer_->setFont(f);
  labelVer_->setStyleSheet(QStringLiteral("color: #e8ecf8; background: transparent;"));
  labelVer_->adjustSize();
  const int w = std::max(labelVer_->width(), 80);
  labelVer_->setGeometry(479 - w + 1, 346, w, labelVer_->height());
  labelVer_->hide();

  QPolygon outline;
  for (const QPoint& pt : kSplashOutline) outline << pt;
  setMask(QRegion(outline, Qt::OddEvenFill));

  if (const QScreen* screen = this->screen()) {
    const QRect area = screen->availableGeometry();
    move(area.center() - QPoint(kSplashWidth / 2, kSplashHeight / 2));
  }
}

void TFormSplash::PrepareSplash(int form) {
  form_ = form == About ? About : StartUp;
  if (form_ == StartUp) {
    labelVer_->hide();
    picture_ = original_;
  } else {
    labelVer_->show();
    picture_ = original_.convertToFormat(QImage::Format_RGB888);
    ApplyHighlight(picture_);
  }
  update();
}

void TFormSplash::ShowSplash(int form) {
  PrepareSplash(form);
  if (form_ == StartUp) {
    setModal(false);
    show();
    raise();
    return;
  }
  exec();
}

void TFormSplash::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.drawImage(0, 0, picture_);
}

void TFormSplash::mousePressEvent(QMouseEvent* event) {
  if (form_ == About && event->button() == Qt::LeftButton) {
    accept();
    return;
  }
  event->ignore();
}

void TFormSplash::keyPressEvent(QKeyEvent* event) {
  if (form_ == About && event->key() == Qt::Key_Escape) {
    accept();
    return;
  }
  event->ignore();
}

void TFormSplash::reject() {
  // The start-up picture closes only when the launcher destroys it.
  if (form_ == About) QDialog::reject();
}

}  // namespace kvd
