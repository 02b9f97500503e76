#include "monitor/monitor_window.h"
#include "monitor/parameter_files.h"

#include "widgets/qt_text.h"
#include "widgets/scaling.h"

#include <QActionGroup>
#include <QCloseEvent>
#include <QMenuBar>
#include <QMessageBox>
#include <QProgressBar>
#include <QScreen>
#include <QScrollBar>
#include <QShowEvent>
#include <QStatusBar>
#include <QTimer>

#include <stdexcept>

#include "core/text/messages.h"
#include "core/device/regmap.h"
#include "core/monitor/tile_looks.h"

namespace kx::monitor {

namespace {

constexpr int kTileX[kMonitorDevices] = {274, 274, 540, 540};
constexpr int kTileY[kMonitorDevices] = {6, 132, 6, 132};
constexpr QRect kFrontRect{6, 6, FrontPanel::kDesignWidth, FrontPanel::kDesignHeight};
constexpr QRect kParaRect{4, 262, 800, 300};
// The trend's paint box starts where the panel does; it takes the window's
// whole width and the height below the tiles.
constexpr int kDrawTop = 262;
constexpr int kDrawMargin = 4;
// Below this width the controls would be too small to read: a window too low
// for it scrolls instead of shrinking them further.
constexpr int kMinScaleWidth = 600;
constexpr int kStatusFontPt = 8;  // the status bar's texts, at the design width
constexpr int kProgramTimeLeftMode = 2;

QString DeviceCaption(int device, bool active) {
  QString caption = app::ToQString(Text(Msg::DevicePrefix)) + QString::number(device + 1);
  if (active) caption += app::ToQString(Text(Msg::ActiveSuffix));
  return caption;
}

QAction* AddItem(QMenu* menu, const char* name, const QString& text) {
  QAction* action = menu->addAction(text);
  action->setObjectName(QString::fromLatin1(name));
  return action;
}

QMenu* AddMenu(QMenuBar* bar, const char* name, const QString& title) {
  QMenu* menu = bar->addMenu(title);
  menu->setObjectName(QString::fromLatin1(name));
  menu->menuAction()->setObjectName(QString::fromLatin1(name) + QStringLiteral("Action"));
  return menu;
}

void SetMenuEnabled(QMenu* menu, bool enabled) {
  menu->menuAction()->setEnabled(enabled);
  menu->setEnabled(enabled);
}

}  // namespace

MonitorWindow::MonitorWindow(Session& session, QWidget* parent)
    : QMainWindow(parent), session_(session) {
  setObjectName(QStringLiteral("PMonitor"));
  setWindowTitle(QStringLiteral("Monitor"));
  SetBackground(this, Qt::white);

  if (session_.makePort) port_ = session_.makePort();
  if (!port_) throw std::runtime_error("the monitor has no serial port");
  engine_ = std::make_unique<MonitorEngine>(*port_, session_);

  scroll_ = new QScrollArea(this);
  scroll_->setObjectName(QStringLiteral("MonitorScroll"));
  scroll_->setFrameShape(QFrame::NoFrame);
  scroll_->setWidgetResizable(false);
  scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  SetBackground(scroll_->viewport(), Qt::white);
  client_ = new QWidget;
  client_->setObjectName(QStringLiteral("MonitorClient"));
  SetBackground(client_, Qt::white);
  scroll_->setWidget(client_);
  scroll_->installEventFilter(this);
  setCentralWidget(scroll_);
  // The controls laid out for 808 pixels, scaled as one and centred.
  stage_ = new QWidget(client_);
  stage_->setObjectName(QStringLiteral("MonitorStage"));

  front_ = new FrontPanel(stage_, scaler_);
  scaler_.Add(front_, kFrontRect);
  for (int n = 0; n < kMonitorDevices; ++n) {
    auto* tile = new DeviceTile(stage_, n, scaler_);
    tiles_[static_cast<std::size_t>(n)] = tile;
    scaler_.Add(tile, {kTileX[n], kTileY[n], DeviceTile::kDesignWidth, DeviceTile::kDesignHeight});
    connect(tile->runBt, &QPushButton::clicked, this, [this, n] { Ask(monitor_event::ToggleConnect{n}); });
    connect(tile->adrLb, &ClickLabel::Clicked, this,
            [this, n] { engine_->Handle(monitor_event::Select{n}); });
    connect(tile->comAddr, &QSpinBox::valueChanged, this, [this, n](int value) {
      engine_->Handle(monitor_event::ChangeAddress{n, static_cast<std::uint16_t>(value)});
    });
  }
  BuildParameterArea(stage_);
  BuildStrip(stage_);
  BuildMenu();

  // The status bar says why tiles were dropped, until they are connected again.
  statusBar()->setObjectName(QStringLiteral("StatusBar"));
  dropMessage_ = new QLabel(statusBar());
  dropMessage_->setObjectName(QStringLiteral("DropMessage"));
  SetTextColour(dropMessage_, ToQColor(looks::kRed));
  statusBar()->addWidget(dropMessage_);

  engine_->SetObserver(this);
  resize(1024, 720);
}

MonitorWindow::~MonitorWindow() {
  // The engine is told before the widgets go, so no callback reaches a half-
  // destroyed window.
  panel_->Detach();
  engine_->SetObserver(nullptr);
  engine_->Handle(monitor_event::Close{});
}

void MonitorWindow::BuildMenu() {
  QMenuBar* bar = menuBar();
  bar->setObjectName(QStringLiteral("MainMenu"));

  file1_ = AddMenu(bar, "FILE1", QStringLiteral("FILE"));
  open1_ = AddItem(file1_, "OPEN1", QStringLiteral("OPEN"));
  save1_ = AddItem(file1_, "SAVE1", QStringLiteral("SAVE"));
  saveAs1_ = AddItem(file1_, "SAVEAS1", QStringLiteral("SAVE AS"));

  device2_ = AddMenu(bar, "Device2", QStringLiteral("DEVICE"));
  const std::array<const char*, kMonitorDevices> deviceNames{"Device01", "Device11", "Device21",
                                                             "Device31"};
  for (int n = 0; n < kMonitorDevices; ++n) {
    QAction* item = AddItem(device2_, deviceNames[static_cast<std::size_t>(n)], DeviceCaption(n, false));
    item->setData(n);
    deviceItems_[static_cast<std::size_t>(n)] = item;
    connect(item, &QAction::triggered, this, [this, n] { Ask(monitor_event::ToggleConnect{n}); });
  }

  parameter1_ = AddMenu(bar, "PARAMETER1", QStringLiteral("PARAMETERS"));
  upload1_ = AddItem(parameter1_, "UPLOAD1", QStringLiteral("UPLOAD"));
  download1_ = AddItem(parameter1_, "DOWNLOAD1", QStringLiteral("WRITE TO SELECTED DEVICE"));
  writeAll_ = AddItem(parameter1_, "WRITEALL", QStringLiteral("WRITE TO ALL CONNECTED DEVICE"));
  writeAll_->setToolTip(QStringLiteral("Broadcast function"));
  writeAll_->setStatusTip(QStringLiteral("Broadcast function"));
  parameter1_->setToolTipsVisible(true);
  rampSoak_ = AddItem(parameter1_, "RampSoakprogram1", QStringLiteral("RAMP SOAK PROGRAM"));

  view1_ = AddMenu(bar, "VIEW1", QStringLiteral("VIEW"));
  setting1_ = AddItem(view1_, "SETTING1", QStringLiteral("SETTING"));
  record1_ = AddItem(view1_, "RECORD1", QStringLiteral("PV RECORD"));
  auto* viewGroup = new QActionGroup(this);
  viewGroup->setExclusionPolicy(QActionGroup::ExclusionPolicy::ExclusiveOptional);
  for (QAction* item : {setting1_, record1_}) {
    item->setCheckable(true);
    viewGroup->addAction(item);
  }
  connect(setting1_, &QAction::triggered, this, &MonitorWindow::ShowSettings);
  connect(record1_, &QAction::triggered, this, &MonitorWindow::ShowTrend);

  close1_ = AddMenu(bar, "Close1", QStringLiteral("EXIT"));
  close2_ = AddItem(close1_, "Close2", QStringLiteral("OK"));
  cancel1_ = AddItem(close1_, "Cancel1", QStringLiteral("CANCEL"));
  // The engine closes the window (CloseWindow) at once, or when the answer
  // awaited has arrived.
  connect(close2_, &QAction::triggered, this,
          [this] { engine_->Handle(monitor_event::CloseRequest{}); });

  files_ = new ParameterFiles(this, *engine_,
                              {open1_, save1_, saveAs1_, upload1_, download1_, writeAll_, rampSoak_});
  MenusChanged(engine_->menus());
}

void MonitorWindow::BuildStrip(QWidget* client) {
  debugPl_ = new QWidget(client);
  debugPl_->setObjectName(QStringLiteral("DebugPL"));
  SetBackground(debugPl_, QColor(0xE8, 0xE8, 0xE8));
  scaler_.Add(debugPl_, {0, 0, looks::kDesignWidth, 24});
  const QColor black = ToQColor(looks::kBlack);
  for (int n = 0; n < kMonitorDevices; ++n) {
    const int x = 4 + 108 * n;
    auto* clear = new QPushButton(QString::number(n + 1), debugPl_);
    clear->setObjectName(QStringLiteral("ClrBt%1").arg(n));
    clear->setProperty("tag", n);
    clear->setToolTip(QStringLiteral("Clear the counters of device %1").arg(n + 1));
    clear->setStyleSheet(QStringLiteral(
        "QPushButton { border: 1px solid #606060; border-radius: 8px; background: #D0D0D0; }"
        "QPushButton:pressed { background: #A0A0A0; }"));
    scaler_.Add(clear, {x, 4, 16, 16}, 7);
    // Counters clear on mouse down.
    connect(clear, &QPushButton::pressed, this, [this, n] {
      engine_->Handle(monitor_event::ClearCounters{n});
      ShowCounters();
    });
    auto* exec = MakeLabel(debugPl_, QStringLiteral("ExecCnt%1").arg(n), QStringLiteral("0"),
                           Qt::white, black, Qt::AlignRight | Qt::AlignVCenter);
    exec->setToolTip(QStringLiteral("Requests sent to device %1").arg(n + 1));
    exec->setFrameShape(QFrame::Panel);
    exec->setFrameShadow(QFrame::Sunken);
    scaler_.Add(exec, {x + 20, 3, 42, 18}, 8);
    auto* err = MakeLabel(debugPl_, QStringLiteral("ErrCnt%1").arg(n), QStringLiteral("0"),
                          Qt::white, ToQColor(looks::kRed), Qt::AlignRight | Qt::AlignVCenter);
    err->setToolTip(QStringLiteral("Failed exchanges of device %1").arg(n + 1));
    err->setFrameShape(QFrame::Panel);
    err->setFrameShadow(QFrame::Sunken);
    scaler_.Add(err, {x + 64, 3, 38, 18}, 8);
    clrBt_[static_cast<std::size_t>(n)] = clear;
    execCnt_[static_cast<std::size_t>(n)] = exec;
    errCnt_[static_cast<std::size_t>(n)] = err;
  }
  auto* coldLb = MakeLabel(debugPl_, QStringLiteral("ColdLb"), QStringLiteral("Cold Junction"),
                           QColor(), black, Qt::AlignRight | Qt::AlignVCenter);
  scaler_.Add(coldLb, {440, 3, 84, 18}, 8);
  coldShow_ = MakeLabel(debugPl_, QStringLiteral("ColdShow"), QString(), black,
                        ToQColor(looks::kLime), Qt::AlignRight | Qt::AlignVCenter);
  scaler_.Add(coldShow_, {528, 3, 58, 18}, 8);
  auto* uvLb = MakeLabel(debugPl_, QStringLiteral("UVLb"), QStringLiteral("Voltage"), QColor(),
                         black, Qt::AlignRight | Qt::AlignVCenter);
  scaler_.Add(uvLb, {592, 3, 52, 18}, 8);
  uv_ = MakeLabel(debugPl_, QStringLiteral("UV"), QString(), black, ToQColor(looks::kLime),
                  Qt::AlignRight | Qt::AlignVCenter);
  scaler_.Add(uv_, {648, 3, 58, 18}, 8);

  errMessage_ = MakeLabel(client, QStringLiteral("ErrMessage"), QStringLiteral("NO Error !!!"),
                          ToQColor(looks::kTeal), Qt::white, Qt::AlignLeft | Qt::AlignVCenter);
  scaler_.Add(errMessage_, {4, 25, 520, 18}, 8);
  debugPl_->hide();
  errMessage_->hide();
}

void MonitorWindow::BuildParameterArea(QWidget* client) {
  panel_ = new ParameterPanel(client, scaler_, *engine_);
  paraPl_ = panel_;
  scaler_.Add(paraPl_, kParaRect);
  connect(panel_, &ParameterPanel::Diagnostics, this, &MonitorWindow::SetDiagnosticsVisible);
  connect(panel_, &ParameterPanel::StatusText, this,
          [this](const QString& text) { StatusLine(text.toStdString(), StatusTone::Error); });
  paraPl_->hide();

  trendView_ = new TrendView(client_);
  drawIme_ = trendView_;
  drawIme_->hide();

  timer1_ = new QTimer(this);
  timer1_->setObjectName(QStringLiteral("Timer1"));
  timer1_->setInterval(1000);
  connect(timer1_, &QTimer::timeout, this, &MonitorWindow::SampleTrend);
}

void MonitorWindow::ShowTrend() {
  paraPl_->hide();
  drawIme_->show();
  drawIme_->raise();
  setting1_->setChecked(false);
  record1_->setChecked(true);
  if (!trendShown_) {
    trendShown_ = true;
    DrawTrendFully();
  }
}

void MonitorWindow::ShowSettings() {
  // `SecurityPL` sits in the panel and comes back with it (for a KX3).
  paraPl_->show();
  paraPl_->raise();
  drawIme_->hide();
  setting1_->setChecked(true);
  record1_->setChecked(false);
  trendShown_ = false;
}

void MonitorWindow::DrawTrendFully() {
  const int selected = engine_->SelectedDevice();
  trendView_->DrawFull(trend_.Full(selected), trend_.geometry());
}

void MonitorWindow::SampleTrend() {
  std::array<bool, kMonitorDevices> connected{};
  std::array<std::uint16_t, kMonitorDevices> pv{};
  for (int n = 0; n < kMonitorDevices; ++n) {
    const MonitorDevice& dev = engine_->Device(n);
    connected[static_cast<std::size_t>(n)] = dev.connected;
    pv[static_cast<std::size_t>(n)] = dev.rec.pv;
  }
  const trend::TickDrawing d = trend_.Tick(connected, pv, engine_->SelectedDevice(), trendShown_);
  switch (d.kind) {
    case trend::TickDrawing::Kind::StopTimer:
      timer1_->stop();
      break;
    case trend::TickDrawing::Kind::Full:
      trendView_->DrawFull(d.full, trend_.geometry());
      break;
    case trend::TickDrawing::Kind::Incremental:
      trendView_->DrawIncremental(d.incremental, trend_.geometry());
      break;
    case trend::TickDrawing::Kind::None:
      break;
  }
}

void MonitorWindow::SetDiagnosticsVisible(bool visible) {
  if (visible == stripVisible_) return;
  stripVisible_ = visible;
  debugPl_->setVisible(visible);
  errMessage_->setVisible(visible);
  Relayout();
}

void MonitorWindow::Relayout() {
  // The strip takes its band at the top; everything else moves below it.
  const int offset = stripVisible_ ? kStripHeight : 0;
  scaler_.Move(front_, kFrontRect.translated(0, offset));
  for (int n = 0; n < kMonitorDevices; ++n) {
    scaler_.Move(tiles_[static_cast<std::size_t>(n)],
                 {kTileX[n], kTileY[n] + offset, DeviceTile::kDesignWidth, DeviceTile::kDesignHeight});
  }
  scaler_.Move(paraPl_, kParaRect.translated(0, offset));

  // The controls scale as one by the width that fits the window both across
  // and down (width / 808, or height / design height where that is less), so
  // every control is on screen; only a window too small for readable
  // controls scrolls, and the scroll bar's width is then not part of the scale.
  const int designHeight = kDesignHeight + offset;
  const QSize room = scroll_->size();
  int width = app::FitWidth(room.width(), room.height(), looks::kDesignWidth, designHeight);
  bool needBar = false;
  if (width < kMinScaleWidth) {
    width = std::min(room.width(), kMinScaleWidth);
    needBar = looks::Scale(designHeight, width) > room.height();
    if (needBar) width = std::min(width, room.width() - scroll_->verticalScrollBar()->sizeHint().width());
  }
  scroll_->setVerticalScrollBarPolicy(needBar ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
  if (width <= 0) return;
  PlaceClient(width, needBar ? room.width() - scroll_->verticalScrollBar()->sizeHint().width() : room.width(),
              room.height());
}

void MonitorWindow::PlaceClient(int width, int roomWidth, int roomHeight) {
  const int designHeight = kDesignHeight + (stripVisible_ ? kStripHeight : 0);
  const int stageHeight = looks::Scale(designHeight, width);
  client_->resize(std::max(roomWidth, width), std::max(roomHeight, stageHeight));
  stage_->setGeometry((client_->width() - width) / 2, 0, width, stageHeight);
  scaler_.Apply(width);
  // The status bar's texts are read as the controls are. Their size follows
  // the window's own size (not the room left by the bar, which it changes).
  const int statusWidth = app::FitWidth(this->width(), this->height(), looks::kDesignWidth, kDesignHeight);
  QFont font = statusBar()->font();
  font.setPointSize(std::max(1, looks::Scale(kStatusFontPt, statusWidth)));
  statusBar()->setFont(font);
  // The bar keeps its height when the progress line of a transfer shows in
  // it, so the room for the controls, and their scale, stays.
  if (const auto* progress = statusBar()->findChild<QProgressBar*>())
    dropMessage_->setMinimumHeight(progress->sizeHint().height());
  // The trend takes the whole width and the height below the tiles.
  const int margin = looks::Scale(kDrawMargin, width);
  const int top = looks::Scale(kDrawTop + (stripVisible_ ? kStripHeight : 0), width);
  drawIme_->setGeometry(margin, top, client_->width() - 2 * margin,
                        std::max(1, client_->height() - top - margin));
  const trend::Geometry g = TrendView::GeometryFor(drawIme_->size());
  if (!(g == trend_.geometry())) {
    trend_.SetGeometry(g);
    if (trendShown_) DrawTrendFully();
  }
}

bool MonitorWindow::eventFilter(QObject* watched, QEvent* event) {
  if (watched == scroll_ && event->type() == QEvent::Resize) Relayout();
  return QMainWindow::eventFilter(watched, event);
}

void MonitorWindow::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (event->spontaneous()) return;  // restored from minimised: nothing starts over
  // Opened maximised; without a window manager the request alone does nothing,
  // so the geometry follows the screen as well.
  if (isMaximized() && screen() != nullptr) setGeometry(screen()->availableGeometry());
  closing_ = false;
  Relayout();
  // Opened again, the window starts over: no tile was dropped yet.
  dropReason_ = {};
  for (DeviceTile* t : tiles_) t->setToolTip(QString());
  ShowDropReasons();
  Ask(monitor_event::Reset{});
  files_->EngineReset();
  ShowCounters();
}

void MonitorWindow::closeEvent(QCloseEvent* event) {
  // Closing stops the engine and closes the port; a late answer of the request
  // in flight is ignored by the engine.
  closing_ = true;
  Ask(monitor_event::Close{});
  paraShown_ = false;
  QMainWindow::closeEvent(event);
}

// ---- Engine observer ----

void MonitorWindow::Ask(const MonitorEvent& event) {
  const bool outer = !asking_;
  asking_ = true;
  engine_->Handle(event);
  if (outer) asking_ = false;
}

void MonitorWindow::ShowDropReasons() {
  QStringList reasons;
  for (const QString& reason : dropReason_)
    if (!reason.isEmpty()) reasons << reason;
  dropMessage_->setText(reasons.join(QStringLiteral("   ")));
}

void MonitorWindow::ConnectionChanged(int device, bool connected) {
  DeviceTile* t = Tile(device);
  // A device the engine disconnected by itself (failures in a row, an unknown
  // model, a lost line) keeps the reason in its tool tip and the status bar;
  // the engine reported it just before.
  QString& reason = dropReason_[static_cast<std::size_t>(device)];
  if (connected) {
    reason.clear();
  } else if (!asking_) {
    reason = QStringLiteral("%1 (address %2) disconnected: %3")
                 .arg(DeviceCaption(device, false))
                 .arg(engine_->Device(device).address)
                 .arg(app::ToQString(lastStatus_));
  }
  t->setToolTip(reason);
  ShowDropReasons();
  if (connected) {
    t->SetActive(true);
    trend_.ResetDevice(device);
  } else {
    t->Reset();
  }
  t->SetSelected(connected && IsSelected(device));
  deviceItems_[static_cast<std::size_t>(device)]->setText(DeviceCaption(device, connected));
}

void MonitorWindow::SelectionChanged(int oldDevice, int newDevice) {
  // Both frames are redrawn, and with them the run lamps of connected tiles.
  if (oldDevice >= 0 && oldDevice < kMonitorDevices && oldDevice != newDevice) {
    Tile(oldDevice)->SetSelected(false);
    if (engine_->Device(oldDevice).connected) Tile(oldDevice)->SetRunLamp(RunLamp::Good);
  }
  trend_.ForceFull();
  if (newDevice < 0 || newDevice >= kMonitorDevices) return;
  DeviceTile* t = Tile(newDevice);
  t->SetSelected(true);
  t->SetRunLamp(RunLamp::Good);
  front_->LayoutFor(engine_->Device(newDevice).model);
  // The picture's bars showed the previous device: they come back with the
  // new device's next PV/SV poll, and stay hidden for a KX3 whose security
  // mode keeps its outputs from being read.
  front_->HideOutputs();
  // Likewise the diagnostics readings, which come with its next status poll 6.
  uv_->clear();
  coldShow_->clear();
}

void MonitorWindow::DeviceUpdated(int device, unsigned changes) {
  if (device < 0 || device >= kMonitorDevices) return;
  if ((changes & kChangeIdentified) != 0 && IsSelected(device)) {
    front_->LayoutFor(engine_->Device(device).model);
  }
  if ((changes & kChangeOutputs) != 0) ShowOutputs(device);
  if ((changes & kChangePvSv) != 0) ShowPvSv(device);
  if ((changes & kChangeLeds) != 0) ShowLeds(device);
  if ((changes & kChangeProgram) != 0) ShowProgram(device);
  if ((changes & kChangeCounters) != 0) ShowCounters();
  if ((changes & kChangeLamp) != 0) Tile(device)->SetRunLamp(engine_->Device(device).lamp);
  if ((changes & kChangeDiagnostics) != 0) ShowDiagnostics(device);
  if ((changes & (kChangeRecord | kChangeSecurity)) != 0) panel_->RecordChanged(device);
  if ((changes & kChangeSecurity) != 0) panel_->SecurityChanged(device);
  if ((changes & kChangeAddress) != 0 && engine_->Device(device).connected) trend_.ResetDevice(device);
}

void MonitorWindow::ShowPvSv(int device) {
  const MonitorDevice& dev = engine_->Device(device);
  const looks::PvSvLook look = looks::ComputePvSv(dev);
  DeviceTile* t = Tile(device);
  const bool programRunning = dev.rec.programRunning != 0;
  t->SetPv(app::ToQString(look.pv), look.tileFontPt);
  if (!programRunning) t->SetSv(app::ToQString(look.sv));
  if (!IsSelected(device)) return;
  front_->SetPv(app::ToQString(look.pv), look.pvStatus);
  if (!programRunning) {
    front_->SetSv(app::ToQString(look.sv), 32);
    if (!panel_->SvFieldShown()) panel_->ShowProgramList(false, 0);
  }
}

void MonitorWindow::ShowOutputs(int device) {
  const MonitorDevice& dev = engine_->Device(device);
  looks::OutputsInput in;
  in.model = dev.model;
  in.heatCool = dev.rec.heatCool;
  in.out1Function = dev.rec.out1Function;
  in.out2Function = dev.rec.out2Function;
  in.out1 = dev.rec.out1;
  in.out2 = dev.rec.out2;
  const looks::OutputsLook look = looks::ComputeOutputs(in);
  Tile(device)->SetOutputs(look);
  if (IsSelected(device)) front_->SetOutputs(look);
}

void MonitorWindow::ShowLeds(int device) {
  const looks::LedLook look = looks::ComputeLeds(engine_->Device(device).rec.statusByte);
  Tile(device)->SetLeds(look);
  if (IsSelected(device)) front_->SetLeds(look);
}

void MonitorWindow::ShowProgram(int device) {
  const MonitorDevice& dev = engine_->Device(device);
  const QString text = app::ToQString(dev.programText);
  if (IsSelected(device)) {
    front_->SetSv(text, dev.rec.program.mode == kProgramTimeLeftMode ? 24 : 32);
    if (panel_->SvFieldShown()) panel_->ShowProgramList(true, dev.rec.program.mode);
  }
  Tile(device)->SetSv(text);
}

void MonitorWindow::ShowCounters() {
  for (int n = 0; n < kMonitorDevices; ++n) {
    const MonitorDevice& dev = engine_->Device(n);
    execCnt_[static_cast<std::size_t>(n)]->setText(QString::number(dev.requestCount));
    errCnt_[static_cast<std::size_t>(n)]->setText(QString::number(dev.errorCount));
  }
}

void MonitorWindow::ShowDiagnostics(int device) {
  if (!IsSelected(device)) return;
  const DeviceRecord& rec = engine_->Device(device).rec;
  // Both readings are register words: a word above 0x7FFF is shown negative.
  uv_->setText(app::ToQString(ValueText(rec.voltage, 0)));
  coldShow_->setText(app::ToQString(ValueText(rec.coldJunction, 1)));
}

void MonitorWindow::StatusLine(std::string_view text, StatusTone tone) {
  lastStatus_ = std::string(text);
  errMessage_->setText(app::ToQString(text));
  if (tone == StatusTone::Error) SetBackground(errMessage_, ToQColor(looks::kRed));
  if (tone == StatusTone::Cleared) SetBackground(errMessage_, ToQColor(looks::kGreen));
}

void MonitorWindow::ParametersRead(int type, const RegBlock& block, std::span<const std::uint16_t> words) {
  panel_->PageRead(type, block, words);
}

void MonitorWindow::PanelLayout() {
  panel_->LayoutPanel();
  // The panel appears once after the first complete parameter read, unless the
  // trend view holds its place.
  if (!paraShown_ && !trendShown_) {
    paraPl_->show();
    paraShown_ = true;
  }
}

void MonitorWindow::HideCalibration() { panel_->HideCalibration(); }

void MonitorWindow::SecurityPoll(int device) { panel_->SecurityPoll(device); }

void MonitorWindow::FrontPanelClear() {
  front_->Clear();
  paraPl_->hide();
  drawIme_->hide();
}

void MonitorWindow::EngineRunning(bool running) {
  if (running) {
    timer1_->start();
    return;
  }
  timer1_->stop();
  paraShown_ = false;
  // The trend view is left.
  trendShown_ = false;
  drawIme_->hide();
}

void MonitorWindow::MenusChanged(const MonitorMenus& menus) {
  SetMenuEnabled(file1_, menus.file);
  SetMenuEnabled(parameter1_, menus.parameter);
  SetMenuEnabled(view1_, menus.view);
  upload1_->setEnabled(menus.upload);
  rampSoak_->setEnabled(menus.rampSoak);
  save1_->setEnabled(menus.save);
  saveAs1_->setEnabled(menus.saveAs);
  download1_->setEnabled(menus.download);
  writeAll_->setEnabled(menus.writeAll);
  // While the trend is shown the view items say so.
  setting1_->setChecked(menus.settingChecked && !trendShown_);
  record1_->setChecked(menus.view && trendShown_);
}

void MonitorWindow::TransferProgress(const Transfer& transfer) { files_->TransferProgress(transfer); }

void MonitorWindow::ParameterBufferUploaded(const Transfer& upload, const ParameterBuffer& buffer) {
  files_->BufferUploaded(upload, buffer);
}

void MonitorWindow::TransferEnded(const Transfer& transfer, TransferEnd end) {
  files_->TransferEnded(transfer, end);
}

void MonitorWindow::PortError(std::string_view text) {
  lastStatus_ = std::string(text);
  StatusLine(text, StatusTone::Error);
  auto* box = new QMessageBox(QMessageBox::Critical, windowTitle(), app::ToQString(text), QMessageBox::Ok, this);
  box->setObjectName(QStringLiteral("PortErrorBox"));
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->open();
}

void MonitorWindow::CloseWindow() {
  // Called from within the port's event; the window closes (and closes the
  // port) once that event has been handled.
  if (!closing_) QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
}

}  // namespace kx::monitor
