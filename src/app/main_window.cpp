#include "app/main_window.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QEvent>
#include <QFileDialog>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

#include <array>
#include <stdexcept>

#include "app/about_window.h"
#include "widgets/message_box.h"
#include "widgets/pictures.h"
#include "widgets/qt_text.h"
#include "widgets/scaling.h"
#include "app/tester_panel.h"
#include "app/user_message_window.h"
#include "comset/settings_window.h"
#include "core/line/settings.h"
#include "core/line/line_format.h"
#include "fwupdate/fwupdate_window.h"
#include "monitor/monitor_window.h"
#include "recorder/recorder_window.h"
#include "traffic/traffic_window.h"

namespace kx::app {

namespace {

constexpr int kTimer1IntervalMs = 1500;
constexpr int kPictureSide = 300;  // controller picture at the design width

struct ToolEntry {
  const char* name;
  const char* hint;
  ToolIcon icon;
  void (MainWindow::*handler)();
  bool separatorAfter;
};

// Tool bar buttons in order, with their hints and handlers.
const std::array<ToolEntry, 8> kToolBar{{
    {"ToolButton1", "Set communication protocol of PC", ToolIcon::SetPc, &MainWindow::OpenPcSettings, false},
    {"ToolButton11", "KX3 communication protocol setting", ToolIcon::SetKx3, &MainWindow::OpenControllerSettings, true},
    {"ToolButton2", "Monitor program", ToolIcon::Monitor, &MainWindow::OpenMonitor, false},
    {"ToolButton3", "Recorder program", ToolIcon::Recorder, &MainWindow::OpenRecorder, false},
    {"ToolButton4", "Single command", ToolIcon::Tester, &MainWindow::OpenTester, false},
    {"ToolButton10", "KX2/3 firmware update program", ToolIcon::FirmwareUpdate, &MainWindow::OpenFirmwareUpdate,
     true},
    {"ToolButton5", "Exit this program", ToolIcon::Exit, &MainWindow::ExitProgram, true},
    {"ToolButton6", "About this program", ToolIcon::About, &MainWindow::ShowAbout, false},
}};

struct MenuEntry {
  const char* name;
  const char* caption;
  void (MainWindow::*handler)();
};

const std::array<MenuEntry, 2> kProtocolMenu{{
    {"SET1", "SET PC", &MainWindow::OpenPcSettings},
    {"KX3SET1", "SET KX3", &MainWindow::OpenControllerSettings},
}};

const std::array<MenuEntry, 5> kProgramMenu{{
    {"MONITOR1", "MONITOR", &MainWindow::OpenMonitor},
    {"RECODER1", "RECODER", &MainWindow::OpenRecorder},
    {"TESTER1", "TESTER", &MainWindow::OpenTester},
    {"FWUPDATE1", "F/W UPDATE", &MainWindow::OpenFirmwareUpdate},
    {"TRAFFIC1", "LINE TRAFFIC", &MainWindow::OpenTraffic},
}};

}  // namespace

MainWindow::MainWindow(Session& session, QWidget* parent) : QMainWindow(parent), session_(session) {
  if (!session_.makePort) throw std::invalid_argument("No serial port factory was given to the main window.");
  setObjectName("MainForm");
  setWindowTitle(kMainCaption);
  QPalette pal = palette();
  pal.setColor(QPalette::Window, Qt::white);
  setPalette(pal);
  setAutoFillBackground(true);

  ApdComPortMain = session_.makePort();
  ApdComPort1 = session_.makePort();
  if (!ApdComPortMain || !ApdComPort1) throw std::runtime_error("The serial ports could not be created.");
  mainRouting_ = std::make_unique<MainPortRouting>(session_, *ApdComPortMain);
  secondRouting_ = std::make_unique<SecondPortRouting>(session_, *ApdComPort1);
  ApdComPortMain->SetOnError([this](const std::string& reason) {
    mainRouting_->LineLost();
    ReportLineLost(reason);
  });
  // The second port's events go where its routing sends them (it takes them
  // when it is made); a lost line is reported here unless the recorder did.
  ApdComPort1->SetOnError([this](const std::string& reason) {
    if (!secondRouting_->LineLost(reason)) ReportLineLost(reason);
  });

  Timer1 = new QTimer(this);
  Timer1->setObjectName("Timer1");
  Timer1->setInterval(kTimer1IntervalMs);
  connect(Timer1, &QTimer::timeout, this, &MainWindow::Timer1Tick);

  OpenDialog1 = new QFileDialog(this);
  OpenDialog1->setObjectName("OpenDialog1");
  OpenDialog1->setAcceptMode(QFileDialog::AcceptOpen);
  OpenDialog1->setFileMode(QFileDialog::ExistingFile);
  OpenDialog1->setDefaultSuffix("txt");
  SaveDialog1 = new QFileDialog(this);
  SaveDialog1->setObjectName("SaveDialog1");
  SaveDialog1->setAcceptMode(QFileDialog::AcceptSave);
  SaveDialog1->setDefaultSuffix("rec");

  session_.showUserMessage = [this](int code) { ShowUserMessage(code); };

  BuildMenu();
  BuildToolBar();
  BuildClientArea();
  statusBar()->setObjectName("StatusBar1");
}

MainWindow::~MainWindow() {
  session_.showUserMessage = nullptr;
  delete traffic_.data();  // its taps let go of the ports, which go below
  delete tester_;  // it lets go of the main routing, which goes before the child widgets
  tester_ = nullptr;
  // The ports go before their routers: no event may reach a router that is gone.
  ApdComPortMain->SetOnTrigger(nullptr);
  ApdComPortMain->SetOnError(nullptr);
  ApdComPort1->SetOnTrigger(nullptr);
  ApdComPort1->SetOnError(nullptr);
  ApdComPortMain->Close();
  ApdComPort1->Close();
}

void MainWindow::BuildMenu() {
  MainMenu1 = menuBar();
  MainMenu1->setObjectName("MainMenu1");

  auto addItems = [this](QMenu* menu, const auto& entries) {
    for (const MenuEntry& e : entries) {
      QAction* a = menu->addAction(e.caption);
      a->setObjectName(e.name);
      connect(a, &QAction::triggered, this, e.handler);
    }
  };
  QMenu* protocol = MainMenu1->addMenu("PROTOCOL");
  protocol->setObjectName("PROTOCOL1");
  addItems(protocol, kProtocolMenu);
  QMenu* program = MainMenu1->addMenu("PROGRAM");
  program->setObjectName("PROGRAM1");
  addItems(program, kProgramMenu);

  QAction* exitItem = MainMenu1->addAction("EXIT");
  exitItem->setObjectName("EXIT1");
  connect(exitItem, &QAction::triggered, this, &MainWindow::ExitProgram);
  QAction* aboutItem = MainMenu1->addAction("ABOUT");
  aboutItem->setObjectName("ABOUT1");
  connect(aboutItem, &QAction::triggered, this, &MainWindow::ShowAbout);
}

void MainWindow::BuildToolBar() {
  ToolBar1 = addToolBar("ToolBar1");
  ToolBar1->setObjectName("ToolBar1");
  ToolBar1->setMovable(false);
  ToolBar1->setFloatable(false);
  ToolBar1->setIconSize(QSize(32, 32));
  ToolBar1->setContextMenuPolicy(Qt::PreventContextMenu);
  for (const ToolEntry& e : kToolBar) {
    auto* b = new QToolButton(ToolBar1);
    b->setObjectName(e.name);
    b->setIcon(ToolBarIcon(e.icon));
    b->setIconSize(QSize(32, 32));
    b->setAutoRaise(true);
    b->setToolTip(e.hint);
    b->setStatusTip(e.hint);
    connect(b, &QToolButton::clicked, this, e.handler);
    ToolBar1->addWidget(b);
    if (e.separatorAfter) ToolBar1->addSeparator();
  }
}

void MainWindow::BuildClientArea() {
  auto* client = new QWidget(this);
  client->setObjectName("ClientArea");
  client->setAutoFillBackground(true);

  TESTPL = new QFrame(client);
  TESTPL->setObjectName("TESTPL");
  TESTPL->setFrameShape(QFrame::StyledPanel);
  TESTPL->setAutoFillBackground(true);
  QPalette sky = TESTPL->palette();
  sky.setColor(QPalette::Window, QColor(0xA6, 0xCA, 0xF0));
  TESTPL->setPalette(sky);
  TESTPL->hide();
  tester_ = new TesterPanel(TESTPL, session_, *mainRouting_,
                            TesterPanel::Hooks{[this](bool on) { SetToolBarEnabled(on); },
                                               [this](bool on) {
                                                 if (on) {
                                                   Timer1->setInterval(kTimer1IntervalMs);
                                                   Timer1->start();
                                                 } else {
                                                   Timer1->stop();
                                                 }
                                               }});

  KX1 = new QLabel(client);
  KX1->setObjectName("KX1");
  KX1->setPixmap(ControllerPicture(QSize(kPictureSide, kPictureSide)));
  KX1->setAlignment(Qt::AlignCenter);

  auto* row = new QHBoxLayout;
  row->addStretch(1);
  row->addWidget(TESTPL);
  row->addSpacing(24);
  row->addWidget(KX1);
  row->addStretch(1);
  auto* column = new QVBoxLayout(client);
  column->addStretch(1);
  column->addLayout(row);
  column->addStretch(1);
  setCentralWidget(client);
}

void MainWindow::SetToolBarEnabled(bool enabled) { ToolBar1->setEnabled(enabled); }

// --- Form events -------------------------------------------------------------

void MainWindow::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  FormShow();
}

void MainWindow::FormShow() {
  // A window opened maximised has not taken its final size yet when it is
  // shown: it will fill the screen's available width.
  int w = width();
  if ((windowState() & Qt::WindowMaximized) != 0 && screen() != nullptr) w = screen()->availableGeometry().width();
  session_.mainWindowWidth = w;
  ScaleWindow(centralWidget(), w, kMainDesignWidth);
  const int side = Scaled(kPictureSide, w, kMainDesignWidth);
  KX1->setPixmap(ControllerPicture(QSize(side, side)));
}

void MainWindow::changeEvent(QEvent* event) {
  QMainWindow::changeEvent(event);
  if (event->type() == QEvent::ActivationChange && isActiveWindow()) {
    // Read the settings after the activation has been delivered, so a window
    // opened from here does not run inside the activation event.
    QMetaObject::invokeMethod(this, &MainWindow::FormActivate, Qt::QueuedConnection);
  }
}

void MainWindow::closeEvent(QCloseEvent* event) {
  QMainWindow::closeEvent(event);
  if (!event->isAccepted()) return;
  // The other top-level windows (the monitor) close through their own close
  // handling, which releases their ports; then the event loop ends.
  for (QWidget* w : QApplication::topLevelWidgets())
    if (w != this && w->isVisible()) w->close();
  QCoreApplication::quit();
}

void MainWindow::FormActivate() {
  if (inActivate_) return;
  inActivate_ = true;
  const std::int32_t wordInForce = session_.settingsWord;
  const SettingsReadResult read = ReadSettingsFile(session_);
  if (keepUnsavedWord_) {
    // The file (missing, or protected with an older word) could not take the
    // last choice: that choice stays in force for the run. It is not the
    // file's word, so the next OK tries to store it again.
    session_.settingsWord = wordInForce;
    session_.settingsFileRead = false;
  } else if (read == SettingsReadResult::Missing) {
    RunSettingsWindow(false);
  }
  DecodeSettingsWord(session_.settingsWord, session_.params);
  inActivate_ = false;
}

// --- Actions -------------------------------------------------------------------

bool MainWindow::LineAllows(MainAction action) {
  if (ActionAllowed(action, session_.lineOwner)) return true;
  ShowMessage(this, QText(Msg::ComPortInUse));
  return false;
}

void MainWindow::RunSettingsWindow(bool controllerMode) {
  open_.controllerMode = controllerMode;
  {
    comset::SettingsWindow window(session_, *mainRouting_,
                                  controllerMode ? comset::SettingsWindow::Mode::Controller
                                                 : comset::SettingsWindow::Mode::Pc,
                                  this);
    const int result = window.exec();
    if (result == QDialog::Accepted) keepUnsavedWord_ = window.saveFailed();
    if (result == comset::SettingsWindow::kProtocolClosed) open_.controllerMode = false;
  }
  DecodeSettingsWord(session_.settingsWord, session_.params);
}

void MainWindow::OpenPcSettings() {
  if (!LineAllows(MainAction::SetPc)) return;
  RunSettingsWindow(false);
}

void MainWindow::OpenControllerSettings() {
  if (!LineAllows(MainAction::SetKx3)) return;
  RunSettingsWindow(true);
}

void MainWindow::OpenMonitor() {
  if (!LineAllows(MainAction::Monitor)) return;
  if (monitor_ == nullptr) return;
  monitor_->showMaximized();
  monitor_->raise();
  monitor_->activateWindow();
}

void MainWindow::OpenRecorder() {
  if (!LineAllows(MainAction::Recorder)) return;
  recorder::RecorderWindow window(session_, *ApdComPort1, this);
  SecondPortRouting::RecorderSide& route = secondRouting_->recorder;
  route.event = [&window](const PortEvent& event) { window.PortEvent(event); };
  route.lineLost = [&window](const std::string& reason) { window.LineLost(reason); };
  window.exec();
  route = {};
}

void MainWindow::OpenTester() {
  if (!LineAllows(MainAction::Tester)) return;
  TESTPL->show();
  SetToolBarEnabled(false);
}

void MainWindow::OpenFirmwareUpdate() {
  if (!LineAllows(MainAction::FirmwareUpdate)) return;
  const auto chooseFile = [this]() -> QString {
    const QString filter = QText(Msg::FilterFirmware);
    OpenDialog1->setNameFilter(filter.left(filter.indexOf('|')));
    if (OpenDialog1->exec() != QDialog::Accepted || OpenDialog1->selectedFiles().isEmpty()) return {};
    return OpenDialog1->selectedFiles().first();
  };
  open_.firmwareUpdate = true;
  {
    fwupdate::FwUpdateWindow window(session_, *ApdComPort1, firmwareMemory_, chooseFile, this);
    SecondPortRouting::FirmwareSide& route = secondRouting_->firmware;
    route.event = [&window](const PortEvent& event) { window.OnPortEvent(event); };
    route.lineLost = [&window] { window.OnLineLost(); };
    window.exec();
    route = {};
  }
  open_.firmwareUpdate = false;
}

void MainWindow::OpenTraffic() {
  if (traffic_ == nullptr) {
    const QPointer<QWidget> monitor = monitor_;
    std::vector<TrafficSource> sources{
        // The tester and the settings window: the format the routing runs the line with (a bus
        // search changes it between requests).
        {[this] { return ApdComPortMain.get(); }, [this] { return std::optional(LineFormatOf(mainRouting_->lineParams())); }},
        // The recorder at the stored settings; the firmware update's loader is not Modbus.
        {[this] { return ApdComPort1.get(); },
         [this]() -> std::optional<LineFormat> {
           if (session_.lineOwner == LineOwner::Firmware) return std::nullopt;
           return LineFormatOf(session_.params);
         }},
        // The monitor's own port, at the stored settings.
        {[monitor]() -> ComPort* {
           auto* window = qobject_cast<monitor::MonitorWindow*>(monitor.data());
           return window != nullptr ? &window->port() : nullptr;
         },
         [this] { return std::optional(LineFormatOf(session_.params)); }},
    };
    traffic_ = new traffic::TrafficWindow(std::move(sources), this);
  }
  traffic_->show();
  traffic_->raise();
  traffic_->activateWindow();
}

traffic::TrafficWindow* MainWindow::trafficWindow() const { return traffic_.data(); }

void MainWindow::ExitProgram() { close(); }

void MainWindow::ShowAbout() {
  AboutWindow about(this);
  about.exec();
}

// --- Timer1 and the user message window ------------------------------------------

void MainWindow::Timer1Tick() {
  // A notice that waits for OK is left to the user, even when the tester's
  // Repeat keeps Timer1 ticking.
  UserMessageWindow* notice = userMessage_.data();
  if ((open_.firmwareUpdate || open_.controllerMode) && notice != nullptr && notice->isVisible() &&
      notice->Timed()) {
    Timer1->stop();
    notice->close();
  }
  MainPortRouting::TesterSide& tester = mainRouting_->tester;
  if (ApdComPortMain->IsOpen() && tester.send) tester.send();
}

void MainWindow::ShowUserMessage(int code) {
  UserMessageWindow window(code, *Timer1, this);
  userMessage_ = &window;
  window.exec();
  userMessage_ = nullptr;
}

bool MainWindow::UserMessageShowing() const {
  const UserMessageWindow* window = userMessage_.data();
  return window != nullptr && window->isVisible();
}

void MainWindow::ReportLineLost(const std::string& reason) {
  const QString text = QString("The serial line was lost and its port has been closed.\n%1").arg(ToQString(reason));
  // Shown after the port's own event has returned.
  QMetaObject::invokeMethod(this, [this, text] { ShowErrorBox(this, text); }, Qt::QueuedConnection);
}

}  // namespace kx::app
