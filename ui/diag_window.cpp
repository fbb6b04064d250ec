// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/diag_window.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QStatusTipEvent>
#include <QTimer>
#include <algorithm>
#include <climits>

#include "data/history.h"
#include "data/parameters.h"
#include "ecu/dtc.h"
#include "ecu/ecu_status.h"
#include "ecu/identification.h"
#include "ecu/learn_memory.h"
#include "link/kwp.h"
#include "session/diag_session.h"
#include "ui/ctrl_bar.h"
#include "ui/diag_recovery.h"
#include "ui/float_params.h"
#include "ui/frm_blm.h"
#include "ui/frm_cfg.h"
#include "ui/frm_err_list.h"
#include "ui/frm_set_editor.h"
#include "ui/ident_dialog.h"
#include "ui/measure_box.h"
#include "ui/rx_timer.h"

namespace kvd {

namespace {

constexpr int kDefaultClientWidth = 769;
constexpr int kDefaultClientHeight = 483;
constexpr int kMinWindowWidth = 620;
constexpr int kMinWindowHeight = 450;
constexpr int kMaxWindowExtent = 16384;
// Widths of the status bar's panels; the last one takes the rest of the bar, at least this much.
constexpr int kStatusPanelWidths[4] = {120, 180, 100, 50};

// The 16-pixel pictures of the link states: 0 connecting, 1 off-line, 2 on-line.
QPixmap LinkStatePixmap(int index) {
  QPixmap pm(16, 16);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  QColor fill;
  switch (index) {
    case 0:
      fill = QColor(0xff, 0xc0, 0x20);
      break;
    case 2:
      fill = QColor(0x20, 0xc0, 0x30);
      break;
    default:
      fill = QColor(0xd0, 0x20, 0x20);
      break;
  }
  p.setPen(QPen(fill.darker(160), 1));
  p.setBrush(fill);
  p.drawEllipse(QRectF(1.5, 1.5, 13, 13));
  p.setPen(QPen(Qt::white, 1.6, Qt::SolidLine, Qt::RoundCap));
  if (index == 2) {  // a tick
    p.drawLine(QPointF(4.5, 8.5), QPointF(7, 11));
    p.drawLine(QPointF(7, 11), QPointF(11.5, 5));
  } else if (index == 0) {  // two arrows
    p.drawLine(QPointF(4, 6), QPointF(12, 6));
    p.drawLine(QPointF(9.5, 3.8), QPointF(12, 6));
    p.drawLine(QPointF(12, 10), QPointF(4, 10));
    p.drawLine(QPointF(6.5, 12.2), QPointF(4, 10));
  } else {  // a cross
    p.drawLine(QPointF(5, 5), QPointF(11, 11));
    p.drawLine(QPointF(11, 5), QPointF(5, 11));
  }
  return pm;
}

QFrame* MakePanel(QWidget* parent, const char* name) {
  auto* f = new QFrame(parent);
  f->setObjectName(QString::fromLatin1(name));
  f->setFrameShape(QFrame::StyledPanel);
  f->setFrameShadow(QFrame::Raised);
  return f;
}

}  // namespace

TFormDiagJ5E2::TFormDiagJ5E2(DiagWindowConfig config, QWidget* parent)
    : QMainWindow(parent), config_(std::move(config)) {
  Q_ASSERT(config_.link && config_.settings);
  setObjectName(QStringLiteral("FormDiagJ5E2"));
  setWindowTitle(QStringLiteral("Диагностика - Январь-5.1 / VS-5.1 / Bosch M1.5.4  EURO-2"));
  setAttribute(Qt::WA_DeleteOnClose, false);

  history_ = std::make_unique<HistoryStore>(config_.link->GetClock());
  session_ =
      std::make_unique<DiagSession>(*config_.link, *history_, config_.link->GetClock(), *this);
  session_->ComPort = config_.comPort;
  session_->ComDevice = config_.comDevice;
  session_->AutoConnect = config_.autoConnect;
  const QString sep = QLocale().decimalPoint();
  session_->DecimalSeparator = sep.size() == 1 && sep[0].unicode() < 128 ? sep[0].toLatin1() : '.';

  client_ = new QWidget(this);
  client_->setObjectName(QStringLiteral("ClientArea"));
  setCentralWidget(client_);

  // 1..2: menus (the immobilizer item hidden), hint routing (event()), placement, bars.
  BuildMenus();
  BuildBars();
  resize(kDefaultClientWidth, kDefaultClientHeight + menuBar()->sizeHint().height());
  setMinimumSize(kMinWindowWidth, kMinWindowHeight);
  if (config_.launcher) move(config_.launcher->pos() + QPoint(100, 100));

  // 3: settings.
  ReadWindowSettings();

  // The poll timer, assigned in the order OnTimer, priority, interval, threading, enabled.
  comTimer_ = new TRxTimer(this);
  comTimer_->SetEnabled(false);
  comTimer_->SetOnTimer([this](TRxTimer*) { ComTimerTimer(); });
  comTimer_->SetOnException([this](const std::string& message) { ShowMessage(message); });
  comTimer_->SetThreadPriority(QThread::NormalPriority);
  comTimer_->SetInterval(config_.poll.IntervalMs);
  comTimer_->SetThreaded(config_.poll.Threaded);

  // 6: the panes; the recording shows on them from its append callback.
  BuildPanes();
  files_ = std::make_unique<DiagFiles>(*this, config_.fileUi, config_.openFileName);
  if (!config_.recoveryDir.isEmpty())
    recovery_ = std::make_unique<DiagRecovery>(*this, config_.recoveryDir);
  history_->SetAppendCallback([this](int32_t index) {
    files_->RecordAppended();
    if (recovery_) recovery_->RecordAppended(index);
    ShowNewestRecord(index);
  });
  history_->SetMarkCallback([this](int32_t index) {
    if (recovery_) recovery_->MarkChanged(index);
  });
  history_->SetFullCallback(
      [this] { SetStatusWarning("Память для записи данных заполнена, запись остановлена."); });

  // 7: set 1, layout, off-line; the first tick connects.
  currentSet_ = 1;
  UpdateDataMenu();
  LayOutPanes();
  session_->ShowLinkState(LinkState::Offline);
  session_->PollEnabled = true;
  comTimer_->SetEnabled(true);
  qApp->installEventFilter(this);
  // Opened by the launcher's import: the file instead of a connection.
  if (files_->OpenAtStart()) {
    if (recovery_) recovery_->FileOpened(files_->PendingFile());
    UpdateDataMenu();
  }
}

TFormDiagJ5E2::~TFormDiagJ5E2() {
  qApp->removeEventFilter(this);
  if (comTimer_) comTimer_->SetEnabled(false);
  HideBusyNotice();
  CloseConnectBox();
  // The panes read the recording while they are destroyed; they go first.
  for (TfrmGraph*& pane : panes_) {
    delete pane;
    pane = nullptr;
  }
  history_->SetAppendCallback(nullptr);
  history_->SetMarkCallback(nullptr);
}

QAction* TFormDiagJ5E2::AddAction(QMenu* menu, const QString& objectName, const QString& text,
                                  const QKeySequence& shortcut) {
  QAction* a = menu ? menu->addAction(text) : menuBar()->addAction(text);
  a->setObjectName(objectName);
  if (!shortcut.isEmpty()) {
    a->setShortcut(shortcut);
    a->setShortcutContext(Qt::WindowShortcut);
  }
  return a;
}

void TFormDiagJ5E2::BuildMenus() {
  QMenuBar* bar = menuBar();
  bar->setNativeMenuBar(false);

  miData_ = bar->addMenu(QStringLiteral("Данные"));
  miData_->setObjectName(QStringLiteral("miData"));
  QAction* save = AddAction(miData_, "miSaveDiagData", QStringLiteral("Сохранить данные в файл"),
                            QKeySequence(Qt::CTRL | Qt::Key_S));
  connect(save, &QAction::triggered, this, [this] { miSaveDiagDataClick(); });
  miOpenDiagData_ = AddAction(miData_, "miOpenDiagData", QStringLiteral("Открыть файл с данными"),
                              QKeySequence(Qt::CTRL | Qt::Key_O));
  connect(miOpenDiagData_, &QAction::triggered, this, [this] { miOpenDiagDataClick(); });
  QAction* reset = AddAction(miData_, "miResetData", QStringLiteral("Очистить накопленные данные"),
                             QKeySequence(Qt::CTRL | Qt::Key_R));
  connect(reset, &QAction::triggered, this, [this] { miResetDataClick(); });
  miData_->addSeparator();
  miMeasure_ = AddAction(miData_, "miMeasure", QStringLiteral("Измерения"),
                         QKeySequence(Qt::CTRL | Qt::Key_I));
  connect(miMeasure_, &QAction::triggered, this, [this] { miMeasureClick(); });
  miCancelSelect_ =
      AddAction(miData_, "miCancelSelect", QStringLiteral("Отменить выделение данных"),
                QKeySequence(Qt::CTRL | Qt::Key_U));
  connect(miCancelSelect_, &QAction::triggered, this, [this] { miCancelSelectClick(); });
  miData_->addSeparator();
  QAction* addFloat =
      AddAction(miData_, "miAddFloat", QStringLiteral("Добавить \"плавающий\" параметр"),
                QKeySequence(Qt::CTRL | Qt::Key_A));
  QAction* arrangeFloat =
      AddAction(miData_, "miArrangeFloat", QStringLiteral("Упорядочить \"плавающие\" параметры"));
  QAction* removeFloat =
      AddAction(miData_, "miRemoveFloat", QStringLiteral("Убрать все \"плавающие\" параметры"));
  floats_ = std::make_unique<FloatingParameters>(this);
  floats_->OnMessage = [this](const QString& text) { ShowMessage(text.toStdString()); };
  floats_->OnMenuState = [arrangeFloat, removeFloat](bool on) {
    arrangeFloat->setEnabled(on);
    removeFloat->setEnabled(on);
  };
  floats_->OnMenuState(false);
  connect(addFloat, &QAction::triggered, this,
          [this] { floats_->miAddFloatClick(panes_[0]->ColorScheme()); });
  connect(arrangeFloat, &QAction::triggered, this, [this] { floats_->miArrangeFloatClick(); });
  connect(removeFloat, &QAction::triggered, this, [this] { floats_->miRemoveFloatClick(); });
  miData_->addSeparator();
  QAction* changeSet = AddAction(miData_, "miChangeSet", QStringLiteral("Изменить наборы данных"),
                                 QKeySequence(Qt::CTRL | Qt::Key_D));
  connect(changeSet, &QAction::triggered, this, [this] { miChangeSetClick(); });
  QAction* cfg = AddAction(miData_, "miCfg", QStringLiteral("Настройка"));
  connect(cfg, &QAction::triggered, this, [this] { miCfgClick(); });
  miData_->addSeparator();
  connect(miData_, &QMenu::aboutToShow, this, [this] { UpdateDataMenu(); });

  miParams_ = bar->addMenu(QStringLiteral("Сведения"));
  miParams_->setObjectName(QStringLiteral("miParams"));
  miParamsAction_ = miParams_->menuAction();
  QAction* errors = AddAction(miParams_, "miErrors", QStringLiteral("Ошибки"),
                              QKeySequence(Qt::SHIFT | Qt::CTRL | Qt::Key_E));
  connect(errors, &QAction::triggered, this, [this] { miErrListClick(); });
  connect(AddAction(miParams_, "miIdent", QStringLiteral("Идентификаторы"),
                    QKeySequence(Qt::SHIFT | Qt::CTRL | Qt::Key_N)),
          &QAction::triggered, this, [this] { miIDClick(); });
  connect(AddAction(miParams_, "miConfig", QStringLiteral("Комплектация"),
                    QKeySequence(Qt::SHIFT | Qt::CTRL | Qt::Key_C)),
          &QAction::triggered, this, [this] { miComplectClick(); });
  connect(AddAction(miParams_, "miEcuReset", QStringLiteral("Сброс ЭБУ"),
                    QKeySequence(Qt::SHIFT | Qt::CTRL | Qt::Key_R)),
          &QAction::triggered, this, [this] { miECUResetClick(); });
  QAction* immo = AddAction(miParams_, "miImmo", QStringLiteral("Статус иммобилайзера"),
                            QKeySequence(Qt::SHIFT | Qt::CTRL | Qt::Key_I));
  immo->setVisible(false);
  connect(immo, &QAction::triggered, this, [this] { miImmoStatusClick(); });
  // A hidden item is disabled with its shortcut: the window keeps the key, live while the
  // menu "Сведения" is enabled (that is, while a session is open).
  connect(new QShortcut(immo->shortcut(), this), &QShortcut::activated, this, [this] {
    if (miParamsAction_->isEnabled()) miImmoStatusClick();
  });
  miADC_ = AddAction(miParams_, "miADC", QStringLiteral("Каналы АЦП"),
                     QKeySequence(Qt::SHIFT | Qt::CTRL | Qt::Key_A));
  miADC_->setCheckable(true);
  connect(miADC_, &QAction::triggered, this, [this] { miADCClick(); });
  for (int bank : {1, 2}) {
    QAction* learn =
        AddAction(miParams_, QStringLiteral("miBlm%1").arg(bank),
                  QStringLiteral("Память обучения, банк %1").arg(bank),
                  QKeySequence(Qt::SHIFT | Qt::CTRL | (bank == 1 ? Qt::Key_F1 : Qt::Key_F2)));
    connect(learn, &QAction::triggered, this, [this, bank] { miLearn1Click(bank); });
  }
  miParamsAction_->setEnabled(false);
  miADC_->setEnabled(false);
  errors->setEnabled(false);

  miConnect_ = AddAction(nullptr, "miConnect", QStringLiteral("Уст.связь"));
  miConnect_->setStatusTip(QStringLiteral("Установить или разорвать связь с ЭБУ"));
  connect(miConnect_, &QAction::triggered, this, [this] { miConnectClick(); });
  miStop_ = AddAction(nullptr, "miStop", QStringLiteral("Стоп"), QKeySequence(Qt::Key_Pause));
  miStop_->setStatusTip(QStringLiteral("Прервать получение данных от ЭБУ"));
  connect(miStop_, &QAction::triggered, this, [this] { miStopClick(); });
  miPause_ = AddAction(nullptr, "miPause", QStringLiteral("Пауза"),
                       QKeySequence(Qt::SHIFT | Qt::Key_Pause));
  miPause_->setStatusTip(QStringLiteral("Приостановить отображение данных"));
  connect(miPause_, &QAction::triggered, this, [this] { miPauseClick(); });
  QAction* wider = AddAction(nullptr, "miWider", QStringLiteral("Шире"),
                             QKeySequence(Qt::KeypadModifier | Qt::Key_Plus));
  connect(wider, &QAction::triggered, this, [this] { miWiderClick(); });
  QAction* narrower = AddAction(nullptr, "miNarrower", QStringLiteral("Уже"),
                                QKeySequence(Qt::KeypadModifier | Qt::Key_Minus));
  connect(narrower, &QAction::triggered, this, [this] { miNarrowerClick(); });
  miLeft_ = AddAction(nullptr, "miLeft", QStringLiteral("Влево"));
  connect(miLeft_, &QAction::triggered, this, [this] { miLeftClick(); });
  miRight_ = AddAction(nullptr, "miRight", QStringLiteral("Вправо"));
  connect(miRight_, &QAction::triggered, this, [this] { miRightClick(); });
  miFrameLeft_ = AddAction(nullptr, "miFrameLeft", QStringLiteral("Кадр влево"));
  connect(miFrameLeft_, &QAction::triggered, this, [this] { miFrameLeftClick(); });
  miFrameRight_ = AddAction(nullptr, "miFrameRight", QStringLiteral("Кадр вправо"));
  connect(miFrameRight_, &QAction::triggered, this, [this] { miFrameRightClick(); });
  // Off-line at first: no pause or stop, no navigation (the session enables them, ApplyMenus).
  for (QAction* item : {miStop_, miPause_, miLeft_, miRight_, miFrameLeft_, miFrameRight_})
    item->setEnabled(false);
}

void TFormDiagJ5E2::BuildBars() {
  // The ADC bar: six read-only texts with their labels; hidden with height 0 at first.
  panelADC_ = MakePanel(client_, "PanelADC");
  auto* adcLayout = new QHBoxLayout(panelADC_);
  adcLayout->setContentsMargins(6, 2, 6, 2);
  adcLayout->setSpacing(4);
  const char* adcLabels[kAdcChannelCount] = {"ДМРВ", "ДПДЗ", "ДД", "ДК", "ДТОЖ", "АКБ"};
  const char* adcNames[kAdcChannelCount] = {"eADCMAF", "eADCTPS",  "eADCDD",
                                            "eADCLAM", "eADCTWAT", "eADCACC"};
  for (int i = 0; i < kAdcChannelCount; ++i) {
    adcLayout->addWidget(new QLabel(QString::fromUtf8(adcLabels[i]), panelADC_));
    auto* e = new QLineEdit(panelADC_);
    e->setObjectName(QString::fromLatin1(adcNames[i]));
    e->setReadOnly(true);
    e->setFocusPolicy(Qt::NoFocus);
    e->setFixedWidth(56);
    e->setAlignment(Qt::AlignRight);
    adcEdits_[static_cast<size_t>(i)] = e;
    adcLayout->addWidget(e);
  }
  adcLayout->addStretch(1);
  panelADC_->setFixedHeight(0);
  panelADC_->hide();

  // The control bar: disabled until on-line.
  panelCtrl_ = new TCtrlBar(*session_, *this, client_);
  panelCtrl_->setFixedHeight(kCtrlBarHeight);

  // The status bar: four panels 120, 180, 100 and the rest; the link indicator over panel 0.
  statusBar_ = new QFrame(client_);
  statusBar_->setObjectName(QStringLiteral("StatusBar"));
  statusBar_->setFixedHeight(kStatusBarHeight);
  for (int i = 0; i < 4; ++i) {
    auto* panel = new QLabel(statusBar_);
    panel->setFrameShape(QFrame::Panel);
    panel->setFrameShadow(QFrame::Sunken);
    panel->setObjectName(QStringLiteral("StatusPanel%1").arg(i));
    panel->setMinimumWidth(kStatusPanelWidths[i]);
    panel->setIndent(4);
    statusPanels_[static_cast<size_t>(i)] = panel;
  }
  linkIconLabel_ = new QLabel(statusPanels_[0]);
  linkIconLabel_->setGeometry(4, 4, 16, 16);
  linkLabel_ = new QLabel(statusPanels_[0]);
  linkLabel_->setGeometry(24, 5, 92, 15);
}

void TFormDiagJ5E2::BuildPanes() {
  for (int i = 0; i < kPaneCount; ++i) {
    auto* pane = new TfrmGraph(client_, history_.get(), &shared_, config_.visiblePointCount);
    pane->setObjectName(QStringLiteral("Graph%1").arg(i + 1));
    pane->SetPanelHint(QStringLiteral("Показать график %1").arg(i + 1));
    pane->SetColorScheme(colorScheme_);
    pane->OnCursorMoved = [this](TfrmGraph& p) {
      const int32_t c = p.CursorIndex();
      ForEachPane([c](TfrmGraph& q) { q.SetCursor(c); });
    };
    pane->OnSelectionChanged = [this](TfrmGraph&) {
      ForEachPane([](TfrmGraph& q) { q.Refill(); });
      UpdateDataMenu();
    };
    pane->OnLayoutRequest = [this](TfrmGraph&) { LayOutPanes(); };
    pane->SetLineWidth(lineWidth_);
    if (i == 0)
      pane->OnPaneDrawn = [this](TfrmGraph& p) {
        floats_->Refresh(p, *history_, shared_.VisiblePointCount);
      };
    panes_[static_cast<size_t>(i)] = pane;
  }
  // The panes were made with the start value; the window keeps the shared count from here on.
}

void TFormDiagJ5E2::ReadWindowSettings() {
  UserSettings& s = *config_.settings;
  const WindowBounds b = ReadWindowBounds(s, kMinWindowWidth, kMinWindowHeight, kMaxWindowExtent);
  if (b.Width && b.Height) resize(*b.Width, *b.Height);
  if (b.Left && b.Top) {
    // Bounds from another screen layout could put the window out of reach: only a position
    // whose title bar lies on some screen is taken.
    const QRect title(*b.Left, *b.Top, std::max(width(), 100), 30);
    bool visible = false;
    for (const QScreen* screen : QGuiApplication::screens())
      if (screen->availableGeometry().intersects(title)) visible = true;
    if (visible) move(*b.Left, *b.Top);
  }
  const GraphLook look = ReadWindowGraphLook(s);
  colorScheme_ = look.ColorScheme;
  lineWidth_ = look.LineWidth;
  sets_ = LoadSetTable(s);

  // The set items of the "Данные" menu, keys 1..9 and 0.
  for (int i = 0; i < kDataSetCount; ++i) {
    const int set = i + 1;
    const QKeySequence key(set == 10 ? Qt::Key_0 : Qt::Key_0 + set);
    QAction* item = AddAction(miData_, QStringLiteral("miSet%1").arg(set), sets_[i].Name, key);
    item->setData(set);
    connect(item, &QAction::triggered, this, [this, set] { ChooseSet(set); });
  }
}

void TFormDiagJ5E2::SaveWindowSettings() {
  UserSettings& s = *config_.settings;
  const QRect normal =
      (isMaximized() || isMinimized() || isFullScreen()) ? normalGeometry() : geometry();
  const QPoint origin =
      (isMaximized() || isMinimized() || isFullScreen()) ? normal.topLeft() : pos();
  StoreWindowBounds(s, origin.x(), origin.y(), normal.width(), normal.height());
  StoreSetTable(s, sets_);
  floats_->Save(s);
  const QString error = s.Sync();
  if (!error.isEmpty()) ShowMessage(error.toStdString());
}

void TFormDiagJ5E2::ForEachPane(const std::function<void(TfrmGraph&)>& f) {
  for (TfrmGraph* pane : panes_)
    if (pane) f(*pane);
}

// ---------------------------------------------------------------------------------------
// Layout

void TFormDiagJ5E2::PlaceBars() {
  const int w = client_->width();
  int bottom = client_->height();
  bottom -= kStatusBarHeight;
  statusBar_->setGeometry(0, bottom, w, kStatusBarHeight);
  int x = 0;
  for (int i = 0; i < 3; ++i) {
    statusPanels_[static_cast<size_t>(i)]->setGeometry(x, 0, kStatusPanelWidths[i],
                                                       kStatusBarHeight);
    x += kStatusPanelWidths[i];
  }
  statusPanels_[3]->setGeometry(x, 0, std::max(kStatusPanelWidths[3], w - x), kStatusBarHeight);
  bottom -= kCtrlBarHeight;
  panelCtrl_->setGeometry(0, bottom, w, kCtrlBarHeight);
  const int adc = panelADC_->isVisible() || miADC_->isChecked() ? kAdcBarHeight : 0;
  bottom -= adc;
  panelADC_->setGeometry(0, bottom, w, adc);
}

void TFormDiagJ5E2::LayOutPanes() {
  PlaceBars();
  int n = 0;
  for (TfrmGraph* pane : panes_)
    if (pane && pane->GraphShown()) ++n;
  const int adc = miADC_->isChecked() ? kAdcBarHeight : 0;
  int h = 0;
  if (n > 0)
    h = (client_->height() - kCtrlBarHeight - adc - kStatusBarHeight -
         (kPaneCount - n) * TfrmGraph::kCollapsedHeight) /
        n;
  TfrmGraph* lowest = nullptr;
  int y = 0;
  for (TfrmGraph* pane : panes_) {
    if (!pane) continue;
    pane->SetTimeLabelsShown(false);
    int height = pane->height();
    if (pane->GraphShown() && n > 0) {
      height = std::max(h, TfrmGraph::kCollapsedHeight);
      pane->SetStatsShown(h > 120);
      lowest = pane;
    } else if (!pane->GraphShown()) {
      height = TfrmGraph::kCollapsedHeight;
    }
    pane->setGeometry(0, y, client_->width(), height);
    y += height;
  }
  if (lowest) lowest->SetTimeLabelsShown(true);
}

void TFormDiagJ5E2::resizeEvent(QResizeEvent* event) {
  QMainWindow::resizeEvent(event);
  LayOutPanes();
}

bool TFormDiagJ5E2::event(QEvent* event) {
  if (event->type() == QEvent::WindowActivate && floats_ && !floats_->Restored())
    RestoreFloatingWindows();
  if (event->type() == QEvent::StatusTip) {
    // The hint of the menu item under the mouse goes to status panel 3.
    statusPanels_[3]->setText(static_cast<QStatusTipEvent*>(event)->tip());
    return true;
  }
  return QMainWindow::event(event);
}

// ---------------------------------------------------------------------------------------
// Data sets

void TFormDiagJ5E2::ApplyCurrentSet() {
  const int set = std::clamp(currentSet_, 1, kDataSetCount);
  const DataSet& ds = sets_[static_cast<size_t>(set - 1)];
  statusPanels_[1]->setText(ds.Name);
  const DataSet& fallback = DefaultSetTable()[static_cast<size_t>(set - 1)];
  for (int i = 0; i < kPaneCount; ++i)
    panes_[static_cast<size_t>(i)]->ShowParameter(SlotDescriptor(ds, i, fallback));
  LayOutPanes();
  ForEachPane([](TfrmGraph& p) { p.Refill(); });
}

void TFormDiagJ5E2::miChangeSetClick() {
  TfrmSetEditor editor(sets_, this);
  if (editor.exec() != QDialog::Accepted) return;
  sets_ = editor.WorkingCopy();
  // Every set item takes its (possibly edited) name at once, not only the one of the shown tab.
  for (int set = 1; set <= kDataSetCount; ++set)
    if (QAction* item = Action(QStringLiteral("miSet%1").arg(set)))
      item->setText(sets_[static_cast<size_t>(set - 1)].Name);
  if (isVisible()) ApplyCurrentSet();
}

void TFormDiagJ5E2::miCfgClick() {
  TFormCfg dialog(*config_.settings, this);
  dialog.ErrorShown = [this](const QString& error) { ShowMessage(error.toStdString()); };
  if (dialog.exec() != QDialog::Accepted) return;
  // The open panes take the new look at once; their number of points stays as zoomed.
  const GraphLook look = dialog.Chosen();
  colorScheme_ = look.ColorScheme;
  lineWidth_ = look.LineWidth;
  ForEachPane([this](TfrmGraph& p) {
    p.SetColorScheme(colorScheme_);
    p.SetLineWidth(lineWidth_);
  });
}

void TFormDiagJ5E2::ChooseSet(int set) {
  if (set < 1 || set > kDataSetCount) return;
  currentSet_ = set;
  ApplyCurrentSet();
}

// Run when the "Данные" menu opens, and also whenever the marks change: the items' shortcuts
// work without opening the menu, and Ctrl+U must not stay dead after the user has marked a
// stretch because the menu was last opened when there were no marks.
void TFormDiagJ5E2::UpdateDataMenu() {
  const bool both = history_->SelectionStart() >= 0 && history_->SelectionEnd() >= 0;
  miCancelSelect_->setEnabled(both);
  miMeasure_->setEnabled(both);
}

void TFormDiagJ5E2::miMeasureClick() {
  const std::optional<QString> text =
      MeasurementMessage(*history_, session_->DecimalSeparator, LongTimePattern());
  if (text) ShowMessage(text->toStdString());
}

void TFormDiagJ5E2::RestoreFloatingWindows() {
  QSize area(1024, 768);
  if (const QScreen* sc = screen() ? screen() : QGuiApplication::primaryScreen())
    area = sc->availableGeometry().isEmpty() ? sc->size() : sc->availableGeometry().size();
  floats_->Restore(*config_.settings, area, panes_[0]->ColorScheme());
}

// ---------------------------------------------------------------------------------------
// Recording, zoom, pause and navigation

void TFormDiagJ5E2::ShowWindowEndingAt(int32_t index) {
  ForEachPane([index](TfrmGraph& p) {
    p.SetNewestShownIndex(index);
    p.CursorToLast();
    p.Refill();
  });
}

void TFormDiagJ5E2::ShowNewestRecord(int32_t index) {
  if (session_->Paused) return;
  ShowWindowEndingAt(index);
}

void TFormDiagJ5E2::miResetDataClick() {
  EmptyHistory();
  if (recovery_) recovery_->DataCleared();
}

void TFormDiagJ5E2::EmptyHistory() {
  history_->Reset();
  ShowWindowEndingAt(0);
  UpdateDataMenu();
}

void TFormDiagJ5E2::miCancelSelectClick() {
  history_->CancelSelection();
  shared_.SelectionStartPoint = -1;
  shared_.SelectionEndPoint = -1;
  ForEachPane([](TfrmGraph& p) { p.Refill(); });
  UpdateDataMenu();
}

void TFormDiagJ5E2::SetVisiblePointCount(int32_t count) {
  shared_.VisiblePointCount = count;
  ForEachPane([](TfrmGraph& p) {
    p.Refill();
    p.CursorToLast();
  });
}

void TFormDiagJ5E2::miWiderClick() {
  SetVisiblePointCount(std::max(GraphShared::kMinPoints, shared_.VisiblePointCount / 2));
}

void TFormDiagJ5E2::miNarrowerClick() {
  SetVisiblePointCount(std::min(GraphShared::kMaxPoints, shared_.VisiblePointCount * 2));
}

void TFormDiagJ5E2::miLeftClick() {
  if (session_->Paused) ForEachPane([](TfrmGraph& p) { p.CursorLeft(); });
}
void TFormDiagJ5E2::miRightClick() {
  if (session_->Paused) ForEachPane([](TfrmGraph& p) { p.CursorRight(); });
}
void TFormDiagJ5E2::miFrameLeftClick() {
  if (session_->Paused) ForEachPane([](TfrmGraph& p) { p.PageLeft(); });
}
void TFormDiagJ5E2::miFrameRightClick() {
  if (session_->Paused) ForEachPane([](TfrmGraph& p) { p.PageRight(); });
}

void TFormDiagJ5E2::miConnectClick() {
  if (!session_->Connected && !session_->InPollStep()) {
    // Connecting starts a new recording: the panes are emptied with the history.
    EmptyHistory();
  }
  session_->miConnectClick();
  // A close that came while the connect pumped messages was held until now.
  if (closing_ && !session_->InPollStep()) QTimer::singleShot(0, this, [this] { close(); });
}

void TFormDiagJ5E2::miPauseClick() {
  session_->miPauseClick(PauseSender::Pause);
}
void TFormDiagJ5E2::miStopClick() {
  session_->miPauseClick(PauseSender::Stop);
}

void TFormDiagJ5E2::miSaveDiagDataClick() {
  if (files_->miSaveDiagDataClick() && recovery_) recovery_->Saved();
}

void TFormDiagJ5E2::miOpenDiagDataClick() {
  // A file brings its own marks.
  if (files_->miOpenDiagDataClick()) {
    if (recovery_) recovery_->FileOpened(files_->PendingFile());
    UpdateDataMenu();
  }
}

void TFormDiagJ5E2::miADCClick() {
  // The action toggled its own check mark.
  const bool shown = miADC_->isChecked();
  panelADC_->setFixedHeight(shown ? kAdcBarHeight : 0);
  panelADC_->setVisible(shown);
  LayOutPanes();
}

void TFormDiagJ5E2::miIDClick() {
  IdentDialogEditor dialog(this);
  RunIdentification(*session_, *this, dialog);
}
void TFormDiagJ5E2::miComplectClick() {
  ShowConfigFlags(*session_, *this);
}
void TFormDiagJ5E2::miECUResetClick() {
  ResetEcu(*session_, *this);
}
void TFormDiagJ5E2::miImmoStatusClick() {
  ShowImmoStatus(*session_, *this);
}

void TFormDiagJ5E2::miLearn1Click(int bank) {
  LearnTable table{};
  if (!ReadLearnMemory(*session_, *this, bank, table)) return;
  if (!(session_->Tag & kBlmShown) || !formBlm_) {
    if (formBlm_) formBlm_->deleteLater();
    formBlm_ = new TFormBLM(*this, session_->DecimalSeparator, this, client_);
    formBlm_->OnShownChanged = [this](bool shown) {
      if (shown)
        session_->Tag |= kBlmShown;
      else
        session_->Tag &= ~kBlmShown;
    };
    formBlm_->show();
  }
  formBlm_->ShowBank(bank, table);
}

void TFormDiagJ5E2::ComTimerTimer() {
  session_->PollStep();
  if (closing_ && !session_->InPollStep()) QTimer::singleShot(0, this, [this] { close(); });
}

// ---------------------------------------------------------------------------------------
// Keys

bool TFormDiagJ5E2::eventFilter(QObject* watched, QEvent* event) {
  if (watched == client_ && event->type() == QEvent::Resize) {
    LayOutPanes();
    return false;
  }
  if (event->type() != QEvent::KeyPress) return false;
  auto* widget = qobject_cast<QWidget*>(watched);
  if (!widget || widget->window() != this) return false;
  auto* key = static_cast<QKeyEvent*>(event);
  // A letter typed into the actuator list opens it there.
  if (panelCtrl_ && panelCtrl_->ListTakesKey(watched, *key)) return false;
  return HandleKey(key);
}

bool TFormDiagJ5E2::HandleKey(QKeyEvent* event) {
  const Qt::KeyboardModifiers mods = event->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier |
                                                           Qt::AltModifier | Qt::MetaModifier);
  // With Ctrl alone the key belongs to the focused control.
  if (mods == Qt::ControlModifier) return false;
  switch (event->key()) {
    case Qt::Key_Left:
      miLeftClick();
      break;
    case Qt::Key_Right:
      miRightClick();
      break;
    case Qt::Key_PageUp:
      miFrameLeftClick();
      break;
    case Qt::Key_PageDown:
      miFrameRightClick();
      break;
    default:
      // Numeric plus and minus by their own keys: X11 delivers them with the keypad modifier
      // but never matches the items' keypad shortcuts, so they arrive here.
      if (event->modifiers().testFlag(Qt::KeypadModifier) && event->key() == Qt::Key_Plus)
        miWiderClick();
      else if (event->modifiers().testFlag(Qt::KeypadModifier) && event->key() == Qt::Key_Minus)
        miNarrowerClick();
      else if (event->text() == QStringLiteral("-"))
        miNarrowerClick();
      else if (event->text() == QStringLiteral("="))
        miWiderClick();
      break;
  }
  // Every other key is consumed too: the focused control never sees it.
  event->accept();
  return true;
}

// ---------------------------------------------------------------------------------------
// Busy notice

void TFormDiagJ5E2::ShowBusyNotice(const QString& text, int ms) {
  HideBusyNotice();
  auto* box =
      new QMessageBox(QMessageBox::Information, windowTitle(), QStringLiteral("\n\n") + text,
                      QMessageBox::NoButton, nullptr, Qt::Dialog | Qt::WindowStaysOnTopHint);
  box->setAttribute(Qt::WA_DeleteOnClose, false);
  box->setModal(false);
  box->setStandardButtons(QMessageBox::NoButton);
  notice_ = box;
  auto* timer = new QTimer(this);
  timer->setSingleShot(true);
  noticeTimer_ = timer;
  connect(timer, &QTimer::timeout, this, [this] { HideBusyNotice(); });
  box->adjustSize();
  QWidget* over = config_.launcher ? config_.launcher : this;
  box->move(over->frameGeometry().center() - QPoint(box->width() / 2, box->height() / 2));
  timer->start(ms < 0 ? INT_MAX : ms);
  box->show();
  box->repaint();
}

void TFormDiagJ5E2::HideBusyNotice() {
  if (noticeTimer_) {
    noticeTimer_->stop();
    noticeTimer_->deleteLater();
  }
  if (notice_) {
    notice_->hide();
    delete notice_.data();
  }
}

bool TFormDiagJ5E2::BusyNoticeShown() const {
  return notice_ && notice_->isVisible();
}

// ---------------------------------------------------------------------------------------
// Show and close

void TFormDiagJ5E2::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (shownOnce_) return;
  shownOnce_ = true;
  session_->FormShow();
  ApplyCurrentSet();
}

void TFormDiagJ5E2::closeEvent(QCloseEvent* event) {
  if (session_->InPollStep() || session_->Connecting()) {
    // The connect box or a message of the poll step is open: the window closes as soon as
    // the step or the connect has returned, and a connect is cancelled so that this is soon.
    closing_ = true;
    if (session_->Connecting()) connectCancelled_ = true;
    event->ignore();
    return;
  }
  // Unsaved records: saved, dropped, or the window stays open.
  if (recovery_ && !recovery_->CloseAllowed()) {
    closing_ = false;
    event->ignore();
    return;
  }
  // Control goes back to the ECU while the session is still open; when that fails the
  // window stays open, with the box unchecked, so that a second close goes ahead.
  if (!panelCtrl_->Release()) {
    closing_ = false;
    event->ignore();
    return;
  }
  closing_ = true;
  comTimer_->SetEnabled(false);
  HideBusyNotice();
  session_->FormClose();
  SaveWindowSettings();
  event->accept();
  emit Closed();
}

// ---------------------------------------------------------------------------------------
// Status bar and accessors

QWidget* TFormDiagJ5E2::StatusBarPanel(int i) const {
  return i >= 0 && i < 4 ? statusPanels_[static_cast<size_t>(i)] : nullptr;
}

QString TFormDiagJ5E2::LinkText() const {
  return linkLabel_->text();
}

QString TFormDiagJ5E2::StatusText(int panel) const {
  if (panel == 0) return LinkText();
  return panel > 0 && panel < 4 ? statusPanels_[static_cast<size_t>(panel)]->text() : QString();
}

QAction* TFormDiagJ5E2::Action(const QString& objectName) const {
  return findChild<QAction*>(objectName);
}

QString TFormDiagJ5E2::AdcText(int channel) const {
  if (channel < 0 || channel >= kAdcChannelCount) return {};
  return adcEdits_[static_cast<size_t>(channel)]->text();
}

// ---------------------------------------------------------------------------------------
// SessionUi

void TFormDiagJ5E2::ShowMessage(const std::string& text) {
  const QString t = QString::fromStdString(text);
  if (config_.messageSink) {
    config_.messageSink(t);
    return;
  }
  QMessageBox box(QMessageBox::NoIcon, windowTitle(), t, QMessageBox::Ok, this);
  box.exec();
}

bool TFormDiagJ5E2::Confirm(const std::string& question) {
  const QString q = QString::fromStdString(question);
  if (config_.confirmSink) return config_.confirmSink(q);
  QMessageBox box(QMessageBox::Question, windowTitle(), q,
                  QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, this);
  return box.exec() == QMessageBox::Yes;
}

void TFormDiagJ5E2::SetBusyCursor(bool busy) {
  if (busy) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    QApplication::processEvents();
  } else {
    while (QApplication::overrideCursor()) QApplication::restoreOverrideCursor();
  }
}

void TFormDiagJ5E2::ShowConnectBox(const std::string& text) {
  CloseConnectBox();
  connectCancelled_ = false;
  auto* box = new QMessageBox(QMessageBox::Information, windowTitle(), QString::fromStdString(text),
                              QMessageBox::Cancel, this);
  box->setModal(false);
  box->setAttribute(Qt::WA_DeleteOnClose, false);
  if (QAbstractButton* cancel = box->button(QMessageBox::Cancel))
    cancel->setText(QStringLiteral("Отмена"));
  connect(box, &QMessageBox::finished, this, [this](int) { connectCancelled_ = true; });
  connectBox_ = box;
  box->show();
}

bool TFormDiagJ5E2::ConnectBoxCancelled() {
  return connectCancelled_ || !connectBox_;
}

void TFormDiagJ5E2::CloseConnectBox() {
  if (connectBox_) {
    QMessageBox* box = connectBox_.data();
    connectBox_ = nullptr;
    box->disconnect(this);
    box->hide();
    box->deleteLater();
  }
}

void TFormDiagJ5E2::ProcessMessages() {
  QCoreApplication::processEvents();
}

void TFormDiagJ5E2::ShowLinkState(LinkState state, const std::string& text) {
  linkIcon_ = LinkStateIcon(state);
  linkIconLabel_->clear();
  linkIconLabel_->setPixmap(LinkStatePixmap(linkIcon_));
  linkLabel_->setText(QString::fromStdString(text));
  statusBar_->repaint();
}

void TFormDiagJ5E2::ApplyMenus(const SessionMenus& menus) {
  miConnect_->setText(QString::fromStdString(menus.ConnectCaption));
  miParamsAction_->setEnabled(menus.ParamsEnabled);
  // A disabled menu does not stop the shortcuts of its items: they follow it by hand, so that
  // off-line Shift+Ctrl+A cannot toggle the ADC bar behind the greyed "Сведения".
  for (QAction* item : miParams_->actions())
    if (!item->isSeparator()) item->setEnabled(menus.ParamsEnabled);
  miPause_->setText(QString::fromStdString(menus.PauseCaption));
  miPause_->setEnabled(menus.PauseEnabled);
  miStop_->setText(QString::fromStdString(menus.StopCaption));
  miStop_->setEnabled(menus.StopEnabled);
  miOpenDiagData_->setEnabled(menus.OpenDiagDataEnabled);
  for (QAction* nav : {miLeft_, miRight_, miFrameLeft_, miFrameRight_})
    nav->setEnabled(menus.NavigationEnabled);
}

void TFormDiagJ5E2::SetStatusWarning(const std::string& text) {
  statusPanels_[3]->setText(QString::fromStdString(text));
}

void TFormDiagJ5E2::SetActuatorPanel(bool enabled) {
  panelCtrl_->SetPanelEnabled(enabled);
}

bool TFormDiagJ5E2::ActuatorControlChecked() {
  return panelCtrl_->Checked();
}
void TFormDiagJ5E2::ReleaseActuatorControl() {
  panelCtrl_->Release();
}
void TFormDiagJ5E2::RefreshActuator() {
  panelCtrl_->Refresh();
}

QFrame* TFormDiagJ5E2::PanelCtrl() const {
  return panelCtrl_;
}

bool TFormDiagJ5E2::AdcShown() {
  return miADC_->isChecked();
}

void TFormDiagJ5E2::ShowAdcValues(const AdcTexts& texts) {
  for (int i = 0; i < kAdcChannelCount; ++i)
    adcEdits_[static_cast<size_t>(i)]->setText(
        QString::fromStdString(texts[static_cast<size_t>(i)]));
}

void TFormDiagJ5E2::miErrListClick() {
  if (session_->Tag & kErrListShown) return;
  formErrList_ = new TFormErrList(session_->Tag, client_);
  formErrList_->raise();
  formErrList_->show();
}

void TFormDiagJ5E2::TroubleCodesRead(std::span<const uint8_t> answer, uint32_t errorMask) {
  if (formErrList_) formErrList_->ShowTroubleCodes(BuildDtcList(answer, errorMask));
}

void TFormDiagJ5E2::CloseTroubleCodeList() {
  if (formErrList_) formErrList_->close();
}

void TFormDiagJ5E2::CloseLearnMemory() {
  if (formBlm_) formBlm_->close();
}

}  // namespace kvd
