// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/launcher.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QInputDialog>
#include <QLabel>
#include <QLinearGradient>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QTimer>
#include <QToolButton>
#include <cmath>

#include "app/families.h"
#include "app/single_instance.h"
#include "app/splash.h"
#include "data/data_file.h"
#include "data/recovery_file.h"
#include "ui/diag_files.h"

namespace kvd {

namespace {

enum IconKind { kIconEcu, kIconStart, kIconImport, kIconCfg, kIconHelp, kIconAbout, kIconClose };

// The button pictures, drawn at start so that the program needs no image files.
QPixmap DrawIcon(int kind, int size) {
  QPixmap pm(size, size);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  const double s = size / 32.0;
  p.scale(s, s);
  switch (kind) {
    case kIconEcu: {  // a chip with pins
      p.setPen(QPen(QColor(0x60, 0x60, 0x60), 1.5));
      for (int i = 0; i < 4; ++i) {
        p.drawLine(QPointF(9 + i * 5, 3), QPointF(9 + i * 5, 8));
        p.drawLine(QPointF(9 + i * 5, 24), QPointF(9 + i * 5, 29));
      }
      p.setBrush(QColor(0x30, 0x38, 0x48));
      p.setPen(QPen(QColor(0x10, 0x10, 0x18), 1));
      p.drawRoundedRect(QRectF(5, 8, 22, 16), 2, 2);
      p.setPen(QColor(0xff, 0xc8, 0x30));
      QFont f(QStringLiteral("DejaVu Sans"));
      f.setPixelSize(7);
      f.setBold(true);
      p.setFont(f);
      p.drawText(QRectF(5, 8, 22, 16), Qt::AlignCenter, QStringLiteral("ЭБУ"));
      break;
    }
    case kIconStart: {  // a green arrow over a scope trace
      p.setPen(Qt::NoPen);
      p.setBrush(QColor(0x10, 0x20, 0x10));
      p.drawRoundedRect(QRectF(1, 4, 30, 24), 4, 4);
      p.setPen(QPen(QColor(0x33, 0xff, 0x44), 1.6));
      QPainterPath path;
      path.moveTo(3, 22);
      for (int x = 3; x <= 29; ++x) path.lineTo(x, 16 + 6 * std::sin(x * 0.45));
      p.drawPath(path);
      p.setPen(Qt::NoPen);
      p.setBrush(QColor(0xff, 0xff, 0xff, 220));
      QPolygonF tri;
      tri << QPointF(12, 9) << QPointF(22, 16) << QPointF(12, 23);
      p.drawPolygon(tri);
      break;
    }
    case kIconImport: {  // a folder with an arrow
      p.setPen(QPen(QColor(0x80, 0x60, 0x10), 1));
      p.setBrush(QColor(0xf0, 0xc0, 0x40));
      p.drawRect(QRectF(3, 9, 26, 18));
      p.drawRect(QRectF(3, 6, 10, 4));
      p.setPen(QPen(QColor(0x20, 0x60, 0xc0), 2.5));
      p.drawLine(QPointF(16, 12), QPointF(16, 23));
      p.drawLine(QPointF(11, 18), QPointF(16, 23));
      p.drawLine(QPointF(21, 18), QPointF(16, 23));
      break;
    }
    case kIconCfg: {  // a gear
      p.setPen(Qt::NoPen);
      p.setBrush(QColor(0x70, 0x78, 0x88));
      for (int i = 0; i < 8; ++i) {
        p.save();
        p.translate(16, 16);
        p.rotate(i * 45);
        p.drawRect(QRectF(-2.5, -14, 5, 6));
        p.restore();
      }
      p.drawEllipse(QPointF(16, 16), 10, 10);
      p.setBrush(QColor(0xf0, 0xf0, 0xf0));
      p.drawEllipse(QPointF(16, 16), 4, 4);
      break;
    }
    case kIconHelp:
    case kIconAbout: {  // a blue disc with "?" or "i"
      p.setPen(Qt::NoPen);
      p.setBrush(QColor(0x20, 0x60, 0xc0));
      p.drawEllipse(QPointF(16, 16), 13, 13);
      p.setPen(Qt::white);
      QFont f(QStringLiteral("DejaVu Sans"));
      f.setPixelSize(18);
      f.setBold(true);
      p.setFont(f);
      p.drawText(QRectF(3, 3, 26, 26), Qt::AlignCenter,
                 kind == kIconHelp ? QStringLiteral("?") : QStringLiteral("i"));
      break;
    }
    case kIconClose: {  // a red cross
      p.setPen(Qt::NoPen);
      p.setBrush(QColor(0xc0, 0x20, 0x20));
      p.drawEllipse(QPointF(16, 16), 13, 13);
      p.setPen(QPen(Qt::white, 3.5, Qt::SolidLine, Qt::RoundCap));
      p.drawLine(QPointF(11, 11), QPointF(21, 21));
      p.drawLine(QPointF(21, 11), QPointF(11, 21));
      break;
    }
  }
  return pm;
}

// The title picture at the top of the launcher.
QPixmap DrawTitle(int width, int height) {
  QPixmap pm(width, height);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  QLinearGradient g(0, 0, width, height);
  g.setColorAt(0.0, QColor(0x2a, 0x4c, 0x8c));
  g.setColorAt(1.0, QColor(0x08, 0x10, 0x28));
  p.fillRect(pm.rect(), g);
  p.setPen(QPen(QColor(0x33, 0xff, 0x44, 160), 2));
  QPainterPath trace;
  // A damped wave in the upper right, clear of the texts.
  trace.moveTo(300, 40);
  for (int x = 300; x < width - 10; ++x)
    trace.lineTo(x, 40 - 22 * std::sin((x - 300) * 0.05) * std::exp(-(x - 300) / 160.0));
  p.drawPath(trace);
  QFont big(QStringLiteral("DejaVu Sans"));
  big.setPixelSize(40);
  big.setBold(true);
  p.setFont(big);
  p.setPen(QColor(0xf0, 0xf4, 0xff));
  p.drawText(QRect(22, 8, 200, 54), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("KVD"));
  QFont sub(QStringLiteral("DejaVu Sans"));
  sub.setPixelSize(22);
  sub.setBold(true);
  p.setFont(sub);
  p.setPen(QColor(0xff, 0xc8, 0x30));
  p.drawText(QRect(125, 14, 300, 44), Qt::AlignLeft | Qt::AlignVCenter,
             QStringLiteral("Diagnostics"));
  QFont small(QStringLiteral("DejaVu Sans"));
  small.setPixelSize(12);
  p.setFont(small);
  p.setPen(QColor(0xc0, 0xd0, 0xf0));
  p.drawText(QRect(24, 62, width - 40, 20), Qt::AlignLeft | Qt::AlignVCenter,
             QStringLiteral("Диагностика систем управления двигателем по K-линии"));
  return pm;
}

constexpr int kLauncherWidth = 534;
constexpr int kLauncherHeight = 381;

}  // namespace

QString LauncherCaption() {
  return QStringLiteral("KVD - Diagnostics ver.1.00");
}

std::optional<QString> QtLauncherDialogs::AskPort(QWidget* parent, const QString& prompt,
                                                  const QStringList& entries,
                                                  const QString& defaultText) {
  QInputDialog dialog(parent);
  dialog.setWindowTitle(QStringLiteral("COM-порт"));
  dialog.setLabelText(prompt);
  dialog.setComboBoxItems(entries);
  dialog.setComboBoxEditable(true);
  dialog.setTextValue(defaultText);
  dialog.setOkButtonText(QStringLiteral("OK"));
  dialog.setCancelButtonText(QStringLiteral("Отмена"));
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return dialog.textValue();
}

void QtLauncherDialogs::ShowMessage(QWidget* parent, const QString& text, QMessageBox::Icon icon) {
  QMessageBox box(icon, QStringLiteral("KVD - Diagnostics"), text, QMessageBox::Ok, parent);
  box.exec();
}

LauncherServices::RecoveryAnswer LauncherServices::AskRecovery(QWidget* parent,
                                                               const QString& text) {
  QMessageBox box(QMessageBox::Question, QStringLiteral("KVD - Diagnostics"), text,
                  QMessageBox::NoButton, parent);
  QPushButton* open = box.addButton(QStringLiteral("Да"), QMessageBox::YesRole);
  QPushButton* keep = box.addButton(QStringLiteral("Нет"), QMessageBox::NoRole);
  QPushButton* remove = box.addButton(QStringLiteral("Удалить"), QMessageBox::DestructiveRole);
  box.setDefaultButton(open);
  box.setEscapeButton(keep);
  box.exec();
  if (box.clickedButton() == open) return RecoveryAnswer::Open;
  if (box.clickedButton() == remove) return RecoveryAnswer::Delete;
  return RecoveryAnswer::Keep;
}

TMForm::TMForm(LauncherServices& services, LauncherOptions options, QWidget* parent)
    : QMainWindow(parent), services_(services), options_(std::move(options)) {
  setObjectName(QStringLiteral("MForm"));
  setWindowTitle(QStringLiteral("KVD-Software"));
  setFixedSize(kLauncherWidth, kLauncherHeight);
  setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                 Qt::MSWindowsFixedSizeDialogHint);

  auto* central = new QWidget(this);
  setCentralWidget(central);

  image1_ = new QLabel(central);
  image1_->setObjectName(QStringLiteral("Image1"));
  image1_->setGeometry(0, 0, kLauncherWidth, 96);
  image1_->setPixmap(DrawTitle(kLauncherWidth, 96));

  sbECU_ =
      MakeButton(QStringLiteral("Выбор ЭБУ"), QStringLiteral("Выбор системы управления"), kIconEcu);
  sbECU_->setObjectName(QStringLiteral("sbECU"));
  sbECU_->setGeometry(16, 110, 244, 96);
  sbECU_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
  sbECU_->setIconSize(QSize(48, 48));
  sbStartDiag_ = MakeButton(
      QString(), QStringLiteral("Установить связь с ЭБУ и начать диагностику"), kIconStart);
  sbStartDiag_->setObjectName(QStringLiteral("sbStartDiag"));
  sbStartDiag_->setGeometry(274, 110, 244, 96);
  sbStartDiag_->setToolButtonStyle(Qt::ToolButtonIconOnly);
  sbStartDiag_->setIconSize(QSize(72, 72));

  sbImport_ = MakeButton(QStringLiteral("Импорт данных"),
                         QStringLiteral("Загрузить данные диагностики из файла"), kIconImport);
  sbImport_->setObjectName(QStringLiteral("sbImport"));
  sbCfg_ = MakeButton(QStringLiteral("Настройка"), QStringLiteral("Настройка программы"), kIconCfg);
  sbCfg_->setObjectName(QStringLiteral("sbCfg"));
  sbHelp_ =
      MakeButton(QStringLiteral("Справка"), QStringLiteral("Вызов справочной системы"), kIconHelp);
  sbHelp_->setObjectName(QStringLiteral("sbHelp"));
  sbAbout_ = MakeButton(QStringLiteral("О программе"), QStringLiteral("Информация о программе"),
                        kIconAbout);
  sbAbout_->setObjectName(QStringLiteral("sbAbout"));
  sbClose_ = MakeButton(QStringLiteral("Выход"), QStringLiteral("Закончить работу с программой"),
                        kIconClose);
  sbClose_->setObjectName(QStringLiteral("sbClose"));
  const QList<QToolButton*> row = {sbImport_, sbCfg_, sbHelp_, sbAbout_, sbClose_};
  for (int i = 0; i < row.size(); ++i) {
    row[i]->setGeometry(10 + i * 103, 222, 100, 100);
    QFont f = row[i]->font();
    f.setBold(false);
    f.setPointSizeF(f.pointSizeF() * 0.88);
    row[i]->setFont(f);
    row[i]->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    row[i]->setIconSize(QSize(40, 40));
  }

  connect(sbECU_, &QToolButton::clicked, this, [this] { sbECUClick(); });
  connect(sbStartDiag_, &QToolButton::clicked, this, [this] { sbStartDiagClick(false); });
  connect(sbImport_, &QToolButton::clicked, this, [this] { sbImportClick(); });
  connect(sbCfg_, &QToolButton::clicked, this, [this] { sbCfgClick(); });
  connect(sbHelp_, &QToolButton::clicked, this, [this] { sbHelpClick(); });
  connect(sbAbout_, &QToolButton::clicked, this, [this] { sbAboutClick(); });
  connect(sbClose_, &QToolButton::clicked, this, [this] { sbCloseClick(); });

  popMenuECU_ = new QMenu(this);
  popMenuECU_->setObjectName(QStringLiteral("popMenuECU"));

  statusBar()->setSizeGripEnabled(false);
  statusBar()->setObjectName(QStringLiteral("StatusBar"));

  if (const QScreen* screen = this->screen()) {
    const QRect area = screen->availableGeometry();
    move(area.center() - QPoint(kLauncherWidth / 2, kLauncherHeight / 2));
  }
}

TMForm::~TMForm() = default;

QToolButton* TMForm::MakeButton(const QString& caption, const QString& hint, int kind) {
  auto* b = new QToolButton(centralWidget());
  b->setText(caption);
  b->setIcon(QIcon(DrawIcon(kind, 96)));
  b->setStatusTip(hint);
  b->setToolTip(hint);
  b->setAutoRaise(false);
  QFont f = b->font();
  f.setBold(true);
  b->setFont(f);
  return b;
}

bool TMForm::FormCreate() {
  // 1. The start-up picture.
  auto splash = std::make_unique<TFormSplash>();
  if (options_.splashMs > 0) {
    splash->ShowSplash(TFormSplash::StartUp);
    splash->repaint();
    QCoreApplication::processEvents();
    QEventLoop wait;
    QTimer::singleShot(options_.splashMs, &wait, &QEventLoop::quit);
    wait.exec(QEventLoop::ExcludeUserInputEvents);
  }

  // 2. One running copy.
  if (options_.singleInstance) {
    instance_ = std::make_unique<SingleInstance>(QStringLiteral("kvd-diag.OneInstance32"),
                                                 options_.lockDir);
    if (!instance_->Acquire()) {
      splash.reset();
      services_.ShowMessage(nullptr, SecondCopyMessage(), QMessageBox::Warning);
      services_.ClosePort();
      return false;
    }
  }

  // 3..5. The caption.
  setWindowTitle(LauncherCaption());

  // 6. The port.
  if (options_.port) {
    port_ = *options_.port;
  } else {
    const auto answer = services_.AskPort(nullptr, QStringLiteral("Введите номер COM-порта"),
                                          PortPromptEntries(), QStringLiteral("1"));
    port_ = answer ? ParsePortAnswer(*answer) : PortChoice::Com(1);
  }
  setWindowTitle(LauncherCaption() + QStringLiteral("   [") + PortCaption(port_) +
                 QLatin1Char(']'));

  // 7. The family menu: all entries disabled but the one with a diagnostic window.
  popMenuECU_->clear();
  for (int i = 0; i < kEcuFamilyCount; ++i) {
    QAction* item = popMenuECU_->addAction(FamilyLongName(i));
    item->setData(i);
    item->setEnabled(i == kDiagnosableFamily);
    connect(item, &QAction::triggered, this, [this, i] { PopMenuECUClick(i); });
  }

  // 8. Nothing chosen yet.
  startTag_ = -1;
  importTag_ = -1;
  sbStartDiag_->setEnabled(false);

  // 9. The picture goes.
  splash.reset();
  return true;
}

QPoint TMForm::FamilyMenuPoint() const {
  // Right of the button by 40 pixels, 40 pixels below its top; the button's place in the client
  // area is counted from the window's outer top-left corner, title bar and border included.
  const QPoint button = sbECU_->mapTo(this, QPoint(0, 0));
  return frameGeometry().topLeft() + button + QPoint(sbECU_->width() + 40, 40);
}

void TMForm::sbECUClick() {
  popMenuECU_->popup(FamilyMenuPoint());
}

void TMForm::PopMenuECUClick(int family) {
  if (family < 0 || family >= kEcuFamilyCount) return;
  sbECU_->setText(FamilyShortName(family));
  startTag_ = family;
  importTag_ = family;
  sbStartDiag_->setEnabled(true);
}

void TMForm::sbStartDiagClick(bool fromImport) {
  autoConnect_ = !fromImport;
  const int family = fromImport ? importTag_ : startTag_;
  if (family != kDiagnosableFamily) {
    if (family >= 0)
      services_.ShowMessage(this,
                            QStringLiteral("Для системы \"%1\" диагностика не поддерживается.")
                                .arg(FamilyLongName(family)),
                            QMessageBox::Information);
    return;
  }
  services_.RunDiagnostics(this, port_, family, FamilyLongName(family), autoConnect_,
                           fromImport ? pendingFile_ : QString());
}

void TMForm::sbImportClick() {
  const QString name = services_.AskImportFile(this);
  if (name.isEmpty()) return;
  int family = -1;
  try {
    family = ReadDataFileFamily(FilePath(name));
  } catch (const std::exception& e) {
    services_.ShowMessage(this, QString::fromUtf8(e.what()), QMessageBox::Critical);
    return;
  }
  importTag_ = family;
  pendingFile_ = name;
  sbStartDiagClick(true);
}

void TMForm::OfferRecovery() {
  if (options_.recoveryDir.isEmpty()) return;
  namespace fs = std::filesystem;
  for (const fs::path& file : FindRecoveryFiles(FilePath(options_.recoveryDir))) {
    std::error_code ec;
    const uintmax_t size = fs::file_size(file, ec);
    if (ec) continue;
    // The program ended before the first record was whole: nothing to offer.
    if (size < uintmax_t{kDataFileHeadSize} + kRecordSize) {
      fs::remove(file, ec);
      continue;
    }
    switch (services_.AskRecovery(this, QString::fromUtf8(kRecoveryQuestion))) {
      case LauncherServices::RecoveryAnswer::Open: {
        int family = -1;
        try {
          family = ReadDataFileFamily(file);
        } catch (const std::exception& e) {
          services_.ShowMessage(this, QString::fromUtf8(e.what()), QMessageBox::Critical);
          break;
        }
        // As the import: the diagnostic window off-line, showing the file.
        importTag_ = family;
        pendingFile_ = QString::fromStdString(PathText(file));
        sbStartDiagClick(true);
        break;
      }
      case LauncherServices::RecoveryAnswer::Keep:
        break;
      case LauncherServices::RecoveryAnswer::Delete:
        fs::remove(file, ec);
        break;
    }
  }
}

void TMForm::sbCfgClick() {
  services_.ShowSettings(this);
}

void TMForm::sbHelpClick() {
  services_.ShowMessage(
      this,
      QStringLiteral("1. Нажмите \"Выбор ЭБУ\" и выберите систему управления.\n"
                     "2. Нажмите большую кнопку справа: программа установит связь с ЭБУ.\n"
                     "3. В окне диагностики: Pause - \"Стоп\", Shift+Pause - \"Пауза\",\n"
                     "   \"+\"/\"-\" на цифровой клавиатуре (или \"=\"/\"-\") - масштаб,\n"
                     "   стрелки и PageUp/PageDown - просмотр записи во время паузы,\n"
                     "   Ctrl+щелчок и Alt+щелчок на графике - начало и конец выделения,\n"
                     "   Shift+щелчок - курсор.\n\n"
                     "Без адаптера выберите порт \"%1\".")
          .arg(VirtualEcuChoiceText()),
      QMessageBox::Information);
}

void TMForm::sbAboutClick() {
  hide();
  try {
    services_.ShowAbout(this);
  } catch (...) {
    show();
    throw;
  }
  show();
}

void TMForm::sbCloseClick() {
  close();
}

void TMForm::closeEvent(QCloseEvent* event) {
  services_.ClosePort();
  QMainWindow::closeEvent(event);
}

}  // namespace kvd
