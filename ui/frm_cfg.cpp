// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/frm_cfg.h"

#include <QComboBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QSpinBox>
#include <algorithm>
#include <new>
#include <random>

#include "data/history.h"

namespace kvd {

namespace {

constexpr int kDialogWidth = 470;
constexpr int kDialogHeight = 392;
constexpr int kGroupWidth = 450;
constexpr int kGroupHeight = 276;
// The sample series: one record a second, values 40..79, as many records as a pane can show.
constexpr int32_t kSampleRecords = GraphShared::kMaxPoints;
constexpr int32_t kSampleStepMs = 1000;
constexpr int kSampleLow = 40;
constexpr int kSampleHigh = 79;

static_assert(kColorSchemeMax + 1 == kGraphColorSchemeCount,
              "the stored scheme range is the pane's colour table");

}  // namespace

TFormCfg::TFormCfg(UserSettings& settings, QWidget* parent, uint32_t seed)
    : QDialog(parent), settings_(settings) {
  setObjectName(QStringLiteral("FormCfg"));
  setWindowTitle(QStringLiteral("Настройка"));
  setModal(true);
  setFixedSize(kDialogWidth, kDialogHeight);
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);

  gbColor_ = new QGroupBox(QStringLiteral("Цветовая схема"), this);
  gbColor_->setObjectName(QStringLiteral("gbColor"));
  gbColor_->setGeometry(10, 6, kGroupWidth, kGroupHeight);

  // The scheme names and the ranges of the spin boxes.
  cboxColor_ = new QComboBox(gbColor_);
  cboxColor_->setObjectName(QStringLiteral("cboxColor"));
  for (const GraphColorScheme& scheme : GraphColorSchemes())
    cboxColor_->addItem(QString::fromUtf8(scheme.Name));
  cboxColor_->setGeometry(10, kGroupHeight - 27, 200, 22);

  auto* numLabel = new QLabel(QStringLiteral("Начальный масштаб по оси X, точек"), this);
  numLabel->setGeometry(14, 292, 300, 22);
  eNumXPoint_ = new QSpinBox(this);
  eNumXPoint_->setObjectName(QStringLiteral("eNumXPoint"));
  eNumXPoint_->setRange(kNumXPointMin, kNumXPointMax);
  eNumXPoint_->setGeometry(330, 292, 64, 22);
  numLabel->setBuddy(eNumXPoint_);

  auto* widthLabel = new QLabel(QStringLiteral("Толщина линии графика, пикс."), this);
  widthLabel->setGeometry(14, 322, 300, 22);
  eLineWidth_ = new QSpinBox(this);
  eLineWidth_->setObjectName(QStringLiteral("eLineWidth"));
  eLineWidth_->setRange(kLineWidthMin, kLineWidthMax);
  eLineWidth_->setGeometry(330, 322, 64, 22);
  widthLabel->setBuddy(eLineWidth_);

  bOK_ = new QPushButton(QStringLiteral("Ok"), this);
  bOK_->setObjectName(QStringLiteral("bOK"));
  bOK_->setGeometry(kDialogWidth - 100, kDialogHeight - 36, 88, 27);
  bOK_->setDefault(true);

  // The stored look, or the defaults the diagnostic window would use.
  const GraphLook look = ReadDialogGraphLook(settings_);

  // The sample pane over its own recording.
  try {
    sampleHistory_ = std::make_unique<HistoryStore>(clock_);
  } catch (const std::bad_alloc&) {
    sampleHistory_.reset();  // the sample then shows a flat line; the dialog still works
  }
  sample_ = new TfrmGraph(gbColor_, sampleHistory_.get(), &sampleShared_, look.NumXPoint);
  sample_->setObjectName(QStringLiteral("SampleGraph"));
  sample_->SetTitle(QStringLiteral("Параметр 1"));
  sample_->SetGraphShown(true);  // this sets the pane height to 30: the geometry comes after
  sample_->setGeometry(10, 20, kGroupWidth - 20, kGroupHeight - 50);
  sample_->Mask = 0xFF;
  sample_->Decimals = 2;
  sample_->Divisor = 1.0;
  sample_->Multiplier = 1.0;
  sample_->Subtrahend = 0.0;
  sample_->ReciprocalNumerator = 0.0;
  sample_->RawOffset = 0.0;
  sample_->RecordPosition = static_cast<uint16_t>(kRecordPayloadOffset);
  sample_->SetValueType(kValueUnsignedByteMasked);
  sample_->SetYRange(0.0, 100.0);
  sample_->SetColorScheme(look.ColorScheme);
  sample_->SetLineWidth(look.LineWidth);
  eNumXPoint_->setValue(look.NumXPoint);

  // The controls show the sample's look.
  cboxColor_->setCurrentIndex(sample_->ColorScheme());
  eLineWidth_->setValue(sample_->LineWidth());

  // The sample series.
  FillSample(seed);
  ShowSamplePoints(eNumXPoint_->value());

  connect(cboxColor_, &QComboBox::currentIndexChanged, this, [this] { cboxColorChange(); });
  connect(eNumXPoint_, &QSpinBox::valueChanged, this, [this] { eNumXPointChange(); });
  connect(eLineWidth_, &QSpinBox::valueChanged, this, [this] { eLineWidthChange(); });
  connect(bOK_, &QPushButton::clicked, this, [this] { bOKClick(); });

  if (const QScreen* screen = parent ? parent->screen() : this->screen()) {
    const QRect area = screen->availableGeometry();
    move(area.center() - QPoint(kDialogWidth / 2, kDialogHeight / 2));
  }
}

TFormCfg::~TFormCfg() {
  // The pane reads the sample recording while it goes.
  delete sample_;
  sample_ = nullptr;
}

void TFormCfg::FillSample(uint32_t seed) {
  if (!sampleHistory_) return;
  std::mt19937 random(seed != 0 ? seed : std::random_device{}());
  std::uniform_int_distribution<int> value(kSampleLow, kSampleHigh);
  auto* records = reinterpret_cast<HistoryRecord*>(sampleHistory_->WritableRecords());
  for (int32_t i = 0; i < kSampleRecords; ++i) {
    HistoryRecord& r = records[i];
    std::fill(std::begin(r.Bytes), std::end(r.Bytes), uint8_t{0});
    r.SetElapsedMs(i * kSampleStepMs);
    r.Bytes[kRecordPayloadOffset] = static_cast<uint8_t>(value(random));
  }
  sampleHistory_->Load(kSampleRecords);
}

int32_t TFormCfg::SampleRecordCount() const {
  return sampleHistory_ ? sampleHistory_->RecordCount() : 0;
}

void TFormCfg::ShowSamplePoints(int32_t count) {
  sampleShared_.VisiblePointCount = std::clamp(count, kNumXPointMin, kNumXPointMax);
  // The first `count` seconds of the series.
  sample_->SetNewestShownIndex(sampleShared_.VisiblePointCount - 1);
  sample_->Refill();
  sample_->CursorToLast();
}

void TFormCfg::cboxColorChange() {
  sample_->SetColorScheme(cboxColor_->currentIndex());
}

void TFormCfg::eNumXPointChange() {
  ShowSamplePoints(eNumXPoint_->value());
}

void TFormCfg::eLineWidthChange() {
  sample_->SetLineWidth(eLineWidth_->value());
}

GraphLook TFormCfg::Chosen() const {
  GraphLook look;
  look.ColorScheme = std::clamp(cboxColor_->currentIndex(), kColorSchemeMin, kColorSchemeMax);
  look.LineWidth = eLineWidth_->value();
  look.NumXPoint = eNumXPoint_->value();
  return look;
}

void TFormCfg::bOKClick() {
  StoreGraphLook(settings_, Chosen());
  const QString error = settings_.Sync();
  if (!error.isEmpty()) {
    // The choice still holds for this run; only keeping it for the next one failed.
    if (ErrorShown)
      ErrorShown(error);
    else
      QMessageBox::critical(this, windowTitle(), error);
  }
  accept();
}

void TFormCfg::keyPressEvent(QKeyEvent* event) {
  // "Ok" is also the dialog's cancel button: Esc stores and closes like it.
  if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
    bOK_->click();
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

}  // namespace kvd
