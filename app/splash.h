// SPDX-License-Identifier: GPL-3.0-or-later
// The about window: the program's picture in an irregular borderless window. Shown briefly at
// start (start-up form) and from the launcher's "О программе" button (about form), where the
// picture gets a light highlight and a click or Esc closes it.
#pragma once

#include <QDialog>
#include <QImage>
#include <QPoint>
#include <QRect>
#include <array>
#include <cstdint>
#include <vector>

class QLabel;

namespace kvd {

constexpr int kSplashWidth = 500;
constexpr int kSplashHeight = 400;
constexpr int kHighlightFirstRow = 70;
constexpr int kHighlightLastRow = 347;

// The window outline, 71 vertices in window coordinates, filled with the odd-even rule.
extern const std::array<QPoint, 71> kSplashOutline;

// Start and end column of the highlight in picture row y (70..347); 0 outside those rows.
int32_t HighlightStart(int y);
int32_t HighlightEnd(int y);

// The highlight of the about form, applied in place to a 24-bit picture of any size (rows and
// columns outside the picture are skipped). For every pixel (x, y) with 70 <= y <= 347 and
// S[y] <= x <= E[y]: t = (x - S) / (300 - S), e = min(t * t, 0.9), halved by 1.6 on odd rows,
// and each channel v becomes v + round((255 - v) * e), ties to even.
void ApplyHighlight(QImage& picture);
// The new value of one channel, as ApplyHighlight computes it.
uint8_t HighlightChannel(uint8_t v, int x, int y);

// The program's picture, drawn at start (no image file needed). 500 x 400, 24 bits.
QImage DrawSplashPicture();
// Where the picture has text; the highlight of the about form must leave these areas alone.
std::vector<QRect> SplashTextAreas();

class TFormSplash : public QDialog {
  Q_OBJECT
 public:
  enum Form { StartUp = 0, About = 1 };

  explicit TFormSplash(QWidget* parent = nullptr);

  // Start-up form: shows the window without waiting and ignores clicks and keys.
  // About form: highlights the picture, shows the version and runs modally until a click on
  // the picture or Esc closes it. Returns when the window is shown (start-up) or closed (about).
  void ShowSplash(int form);
  // Sets the window up for a form without showing it (ShowSplash does this first).
  void PrepareSplash(int form);

  int CurrentForm() const { return form_; }
  const QImage& Picture() const { return picture_; }
  QLabel* VersionLabel() const { return labelVer_; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void reject() override;

 private:
  QImage original_;
  QImage picture_;
  QLabel* labelVer_ = nullptr;
  int form_ = StartUp;
};

}  // namespace kvd
