// The monitor window on the offscreen platform: its named controls and menu,
// tile looks per state, the front-panel layout per model, connect and
// disconnect through a fake port answered by kxsim's controllers on the
// simulated bus, the diagnostics strip and the scaling by width / 808.
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSpinBox>
#include <QtTest>

#include <memory>

#include "core/text/messages.h"
#include "core/monitor/tile_looks.h"
#include "monitor/monitor_window.h"
#include "support/monitor_fixture.h"

using kx::looks::Scale;
using kx::monitor::Background;
using kx::monitor::DeviceTile;
using kx::monitor::FrontPanel;
using kx::monitor::Lamp;
using kx::monitor::LevelBar;
using kx::monitor::MonitorWindow;
using kx::monitor::RoundFrame;
using kx::monitor::ToQColor;
using Fixture = kx::test::MonitorFixture;

namespace {

QColor C(kx::looks::Rgb rgb) { return ToQColor(rgb); }

// A KX2 at decimal point 1 with both outputs in use and alarm 1 and degrees C lit.
kxsim::Controller& AddKx2(Fixture& f, int address) {
  kxsim::Controller& c = f.Add("kx2@" + std::to_string(address));
  Fixture::Set(c, {{0x4700, 1234}, {0x4701, 1500}, {0x4702, 450}, {0x4703, 120}, {0x4724, 1},
                   {0x4725, 1},    {0x4717, 0x01}, {0x471A, 2},   {0x4728, 0x14}, {0x472A, 0x0105},
                   {0x472E, 253},  {0x472F, 24}});
  return c;
}

kxsim::Controller& AddKx1(Fixture& f, int address) {
  kxsim::Controller& c = f.Add("kx1@" + std::to_string(address));
  // Input type 1 (tenths); status byte 0x18 in the KX1 layout: C and alarm 2.
  Fixture::Set(c, {{0x4700, 250}, {0x4701, 300}, {0x4710, 1}, {0x471C, 0x18}, {0x471E, 40}, {0x471A, 1}});
  return c;
}

void Probe(Fixture& f, const char* text) {
  auto* edit = f.w<QLineEdit>("PassEdit");
  edit->setText(QString::fromLatin1(text));
  emit edit->returnPressed();
}

// Index among the siblings: a later one is drawn in front.
qsizetype Z(QWidget* widget) { return widget->parentWidget()->children().indexOf(widget); }

}  // namespace

class TstMonitorWindow : public QObject {
  Q_OBJECT
 private slots:
  void namedControlsAndInitialLook();
  void tileLooksPerState();
  void connectKx2ShowsItsValues();
  void frontPanelLayoutPerModel();
  void overRangeAndRunningProgram();
  void pictureOutputsBelongToTheSelectedDevice();
  void silentDeviceIsDroppedAndLastDisconnectStops();
  void diagnosticsStripCountersAndClear();
  void scalesByWidth();
  void closeWaitsForTheRequestInFlight();
  void portThatWillNotOpenIsReported();
};

void TstMonitorWindow::namedControlsAndInitialLook() {
  Fixture f;
  QCOMPARE(f.window->objectName(), QStringLiteral("PMonitor"));
  QCOMPARE(f.window->windowTitle(), QStringLiteral("Monitor"));
  const char* names[] = {"KX11", "ImeA1", "ImeB1", "PVDisp", "SVDisp", "ATLED", "O1LED", "O2LED",
                         "ALM1LED", "ALM2LED", "ALM3LED", "DegC", "DegF", "O1Lb", "Out1Qty",
                         "O2Lb", "Out2Qty", "DebugPL", "ColdShow", "UV", "ErrMessage", "ParaPL",
                         "DrawIme", "FWVersion", "PassLb", "PassEdit"};
  for (const char* name : names) QVERIFY2(f.window->findChild<QWidget*>(name), name);
  for (int n = 0; n < 4; ++n) {
    for (const char* base : {"SelPanel%1", "Adr%1Lb", "ComAddr%1", "RunBt%1", "StatusBG%1",
                             "RunLED%1", "PVPL%1", "PV%1", "DegLb%1", "SVPL%1", "SV%1", "O1Lb%1",
                             "OUT1%1", "O2Lb%1", "OUT2%1", "AlarmPl%1", "ALM1LED%1", "ALM2LED%1",
                             "ALM3LED%1", "ALM1LB%1", "ALM2LB%1", "ALM3LB%1", "StatusPl%1",
                             "ClrBt%1", "ExecCnt%1", "ErrCnt%1"}) {
      const QString name = QString::fromLatin1(base).arg(n);
      QVERIFY2(f.window->findChild<QWidget*>(name), qPrintable(name));
    }
    QCOMPARE(f.window->findChild<QWidget*>(QStringLiteral("RunBt%1").arg(n))->property("tag").toInt(), n);
  }
  auto* spin = f.w<QSpinBox>("ComAddr0");
  QCOMPARE(spin->minimum(), 1);
  QCOMPARE(spin->maximum(), 247);
  QCOMPARE(spin->value(), 1);
  QCOMPARE(f.w<QPushButton>("RunBt0")->text(), QStringLiteral("Connect"));
  QCOMPARE(f.text("Adr0Lb"), QStringLiteral("Address"));
  QCOMPARE(f.text("PVPL0"), QStringLiteral(" PV"));
  QCOMPARE(f.text("ALM3LB2"), QStringLiteral("Alarm 3"));
  QCOMPARE(f.text("ErrMessage"), QStringLiteral("NO Error !!!"));
  QCOMPARE(Background(f.w("ErrMessage")), C(kx::looks::kTeal));
  QVERIFY(f.w("DebugPL")->isHidden());
  QVERIFY(f.w("ErrMessage")->isHidden());
  QVERIFY(f.w("ParaPL")->isHidden());
  QVERIFY(f.w("StatusPl1")->isHidden());
  // The front-panel displays: red PV digits, green (not lime) SV digits on black.
  using kx::monitor::TextColour;
  QCOMPARE(Background(f.w("PVDisp")), C(kx::looks::kBlack));
  QCOMPARE(TextColour(f.w("PVDisp")), C(kx::looks::kRed));
  QCOMPARE(Background(f.w("SVDisp")), C(kx::looks::kBlack));
  QCOMPARE(TextColour(f.w("SVDisp")), C(kx::looks::kGreen));
  QCOMPARE(TextColour(f.w("SV0")), C(kx::looks::kLime));

  // Menu: captions and the state at first.
  struct Item {
    const char* name;
    const char* text;
    bool enabled;
  };
  const Item items[] = {{"OPEN1", "OPEN", true},
                        {"SAVE1", "SAVE", false},
                        {"SAVEAS1", "SAVE AS", false},
                        {"Device01", "DEVICE 1", true},
                        {"Device31", "DEVICE 4", true},
                        {"UPLOAD1", "UPLOAD", false},
                        {"DOWNLOAD1", "WRITE TO SELECTED DEVICE", false},
                        {"WRITEALL", "WRITE TO ALL CONNECTED DEVICE", false},
                        {"RampSoakprogram1", "RAMP SOAK PROGRAM", false},
                        {"SETTING1", "SETTING", true},
                        {"RECORD1", "PV RECORD", true},
                        {"Close2", "OK", true},
                        {"Cancel1", "CANCEL", true}};
  for (const Item& item : items) {
    auto* action = f.window->findChild<QAction*>(QString::fromLatin1(item.name));
    QVERIFY2(action, item.name);
    QCOMPARE(action->text(), QString::fromLatin1(item.text));
    QCOMPARE(action->isEnabled(), item.enabled);
  }
  QCOMPARE(f.window->findChild<QAction*>("WRITEALL")->toolTip(), QStringLiteral("Broadcast function"));
  struct Menu {
    const char* name;
    const char* title;
    bool enabled;
  };
  for (const Menu& m : {Menu{"FILE1", "FILE", false}, Menu{"Device2", "DEVICE", true},
                        Menu{"PARAMETER1", "PARAMETERS", false}, Menu{"VIEW1", "VIEW", false},
                        Menu{"Close1", "EXIT", true}}) {
    auto* menu = f.w<QMenu>(m.name);
    QCOMPARE(menu->title(), QString::fromLatin1(m.title));
    QCOMPARE(menu->menuAction()->isEnabled(), m.enabled);
  }
  QVERIFY(f.window->findChild<QAction*>("SETTING1")->isCheckable());
}

void TstMonitorWindow::tileLooksPerState() {
  Fixture f;
  DeviceTile* tile = f.window->Tile(2);
  tile->SetActive(true);
  QCOMPARE(tile->runBt->text(), QStringLiteral("Cancel"));
  QCOMPARE(tile->runLed->colour(), C(kx::looks::kLime));
  QCOMPARE(Background(tile->adrLb), C(kx::looks::kSkyBlue));
  tile->SetSelected(true);
  QCOMPARE(tile->selPanel->penColour(), C(kx::looks::kYellow));
  QCOMPARE(tile->selPanel->penWidth(), 2);
  for (auto [lamp, colour] : {std::pair{kx::RunLamp::Failed, kx::looks::kRed},
                              std::pair{kx::RunLamp::ReadingParameters, kx::looks::kYellow},
                              std::pair{kx::RunLamp::ReadingFactory, kx::looks::kBlue}}) {
    tile->SetRunLamp(lamp);
    QCOMPARE(tile->runLed->colour(), C(colour));
  }

  // A KX2 in cool mode: output 1 blue/sky blue, alarm 3 shown.
  tile->SetOutputs(kx::looks::ComputeOutputs({kx::kModelKx2, 1, 0, 0, 330, 0}));
  QVERIFY(tile->outLb[0]->isVisibleTo(f.window.get()));
  QVERIFY(!tile->outLb[1]->isVisibleTo(f.window.get()));
  QCOMPARE(Background(tile->outLb[0]), C(kx::looks::kBlue));
  QCOMPARE(tile->outBar[0]->colour(), C(kx::looks::kSkyBlue));
  QCOMPARE(tile->outBar[0]->value(), 330);
  QVERIFY(tile->almLed[2]->isVisibleTo(f.window.get()));
  QVERIFY(tile->almLb[2]->isVisibleTo(f.window.get()));
  tile->SetLeds(kx::looks::ComputeLeds(0x01 | 0x08));
  QCOMPARE(tile->almLed[2]->colour(), C(kx::looks::kRed));
  QCOMPARE(tile->almLed[0]->colour(), C(kx::looks::kSilver));
  QCOMPARE(tile->degLb->text(), QStringLiteral("F"));
  tile->SetPv(QStringLiteral("No connect"), 8);
  tile->SetSv(QStringLiteral("12.5"));
  const int pvPt = tile->pv->font().pointSize();
  // A KX3 whose outputs both heat or cool hides alarm lamps 1 and 2.
  tile->SetOutputs(kx::looks::ComputeOutputs({kx::kModelKx3, 0, 0, 1, 100, 200}));
  QVERIFY(tile->almLed[0]->isHidden());
  QVERIFY(tile->almLb[1]->isHidden());

  // Disconnected, the tile looks as it did at first, like every idle tile.
  tile->Reset();
  QVERIFY(tile->pv->font().pointSize() > pvPt);
  QCOMPARE(tile->pv->font().pointSize(), f.window->Tile(3)->pv->font().pointSize());
  for (std::size_t i = 0; i < 2; ++i) {
    QVERIFY(!tile->almLed[i]->isHidden());
    QVERIFY(!tile->almLb[i]->isHidden());
  }
  QCOMPARE(tile->runBt->text(), QStringLiteral("Connect"));
  QCOMPARE(tile->runLed->colour(), C(kx::looks::kGrey));
  QCOMPARE(Background(tile->adrLb), C(kx::looks::kGrey));
  QCOMPARE(tile->selPanel->penColour(), C(kx::looks::kSilver));
  QCOMPARE(tile->pv->text(), QStringLiteral("0"));
  QCOMPARE(tile->sv->text(), QStringLiteral("0"));
  QVERIFY(tile->outLb[0]->isHidden());
  QVERIFY(tile->outBar[0]->isHidden());
  QCOMPARE(tile->outBar[0]->value(), 0);
  QVERIFY(tile->almLed[2]->isHidden());
  QCOMPARE(tile->almLed[2]->colour(), C(kx::looks::kSilver));
  QVERIFY(tile->statusPl->isHidden());
  QCOMPARE(tile->currentLb->text(), QStringLiteral("CT = 0A"));
}

void TstMonitorWindow::connectKx2ShowsItsValues() {
  Fixture f;
  AddKx2(f, 7);
  f.Connect(0, 7);
  QVERIFY(f.fake->IsOpen());
  QCOMPARE(f.session.lineOwner, kx::LineOwner::Monitor);
  // The first request identifies the controller at the tile's address.
  QVERIFY(f.fake->LastWrittenText().rfind(":0767", 0) == 0);
  f.Run(40);

  QCOMPARE(f.w<QPushButton>("RunBt0")->text(), QStringLiteral("Cancel"));
  QCOMPARE(Background(f.w("Adr0Lb")), C(kx::looks::kSkyBlue));
  QCOMPARE(f.w<RoundFrame>("SelPanel0")->penColour(), C(kx::looks::kYellow));
  QCOMPARE(f.window->findChild<QAction*>("Device01")->text(), QStringLiteral("DEVICE 1 (ACTIVE)"));
  QVERIFY(f.w<QMenu>("FILE1")->menuAction()->isEnabled());
  QVERIFY(f.w<QMenu>("PARAMETER1")->menuAction()->isEnabled());
  QVERIFY(f.w<QMenu>("VIEW1")->menuAction()->isEnabled());

  QCOMPARE(f.text("PV0"), QStringLiteral("123.4"));
  QCOMPARE(f.text("SV0"), QStringLiteral("150.0"));
  QCOMPARE(f.text("DegLb0"), QStringLiteral("C"));
  QCOMPARE(f.w<Lamp>("ALM1LED0")->colour(), C(kx::looks::kRed));
  QCOMPARE(f.w<Lamp>("ALM2LED0")->colour(), C(kx::looks::kSilver));
  // Heat/cool value 2: both outputs, no alarm 3.
  QVERIFY(f.w("OUT10")->isVisible());
  QVERIFY(f.w("OUT20")->isVisible());
  QVERIFY(!f.w("ALM3LED0")->isVisible());
  QCOMPARE(f.w<LevelBar>("OUT10")->value(), 450);
  QCOMPARE(f.w<LevelBar>("OUT20")->value(), 120);

  // The front panel shows the selected device.
  QCOMPARE(f.text("PVDisp"), QStringLiteral("123.4"));
  QCOMPARE(f.text("SVDisp"), QStringLiteral("150.0"));
  QCOMPARE(f.w<Lamp>("DegC")->colour(), C(kx::looks::kYellow));
  QCOMPARE(f.w<Lamp>("ALM1LED")->colour(), C(kx::looks::kRed));
  QCOMPARE(f.w<Lamp>("DegF")->colour(), C(kx::looks::kGrey));
  QVERIFY(f.w("Out2Qty")->isVisible());
  QCOMPARE(f.w<LevelBar>("Out1Qty")->value(), 450);
  // After the first complete parameter read the panel shows once.
  QVERIFY(f.w("ParaPL")->isVisible());
  QCOMPARE(f.text("FWVersion"), QStringLiteral("F/W Version 1.05"));
  QCOMPARE(f.text("ExecCnt0"), QString::number(f.window->engine().Device(0).requestCount));
  QVERIFY(f.window->engine().Device(0).requestCount > 10);
}

void TstMonitorWindow::frontPanelLayoutPerModel() {
  Fixture f;
  AddKx1(f, 1);
  AddKx2(f, 2);
  FrontPanel* front = f.window->frontPanel();
  const int width = f.window->ScaleWidth();
  f.w<QPushButton>("RunBt0")->click();
  f.Run(30);

  // KX1: its picture in front, two lamps fewer, lamps at their design places.
  QVERIFY(front->kx1InFront());
  QVERIFY(Z(front->imeA1) > Z(front->imeB1));
  QVERIFY(Z(front->pvDisp) > Z(front->imeA1));
  QVERIFY(front->o2Led->isHidden());
  QVERIFY(front->almLed[2]->isHidden());
  const int at = FrontPanel::kKx1Lamps.at;
  QCOMPARE(front->atLed->x(), Scale(at, width));
  QCOMPARE(front->o1Led->x(), Scale(FrontPanel::kKx1Lamps.out1, width));
  QCOMPARE(front->almLed[1]->x(), Scale(FrontPanel::kKx1Lamps.alarm2, width));
  QCOMPARE(f.text("PVDisp"), QStringLiteral("25.0"));
  // KX1 status byte 0x18: degrees C and alarm 2.
  QCOMPARE(front->degC->colour(), C(kx::looks::kYellow));
  QCOMPARE(front->almLed[1]->colour(), C(kx::looks::kRed));
  QVERIFY(!front->outQty[1]->isVisible());

  // Select a KX2 on tile 1: the other picture, six lamps, three of them moved left.
  f.Connect(1, 2);
  f.Run(30);
  f.Select(1);
  f.Run(40);
  QCOMPARE(f.window->engine().SelectedDevice(), 1);
  QCOMPARE(f.w<RoundFrame>("SelPanel1")->penColour(), C(kx::looks::kYellow));
  QCOMPARE(f.w<RoundFrame>("SelPanel0")->penColour(), C(kx::looks::kSilver));
  QVERIFY(!front->kx1InFront());
  QVERIFY(Z(front->imeB1) > Z(front->imeA1));
  QVERIFY(!front->o2Led->isHidden());
  QVERIFY(!front->almLed[2]->isHidden());
  QCOMPARE(front->atLed->x(), Scale(at - FrontPanel::kAtShift, width));
  QCOMPARE(front->o1Led->x(), Scale(FrontPanel::kKx1Lamps.out1 - FrontPanel::kOut1Shift, width));
  QCOMPARE(front->almLed[1]->x(),
           Scale(FrontPanel::kKx1Lamps.alarm2 - FrontPanel::kAlarm2Shift, width));
  QCOMPARE(front->almLed[0]->x(), Scale(FrontPanel::kKx1Lamps.alarm1, width));
  QCOMPARE(f.text("PVDisp"), QStringLiteral("123.4"));
}

void TstMonitorWindow::overRangeAndRunningProgram() {
  Fixture f;
  kxsim::Controller& kx2 = AddKx2(f, 1);
  kx2.SetPvStatus(5);           // over range
  kx2.SetProgramRunning(true);  // a program runs
  Fixture::Set(kx2, {{0x4762, 2},     // showing the time left
                     {0x4763, 309},   // 5 min 9 s
                     {0x4764, 65}});  // 65 minutes: 1 hour
  f.w<QPushButton>("RunBt0")->click();
  f.Run(60);

  QCOMPARE(f.text("PV0"), QStringLiteral("Over range"));
  QCOMPARE(f.text("PVDisp"), QStringLiteral("Over range"));
  QLabel* pvDisp = f.w<QLabel>("PVDisp");
  QVERIFY(pvDisp->alignment() & Qt::AlignHCenter);
  QVERIFY(pvDisp->font().pointSize() < f.w<QLabel>("SVDisp")->font().pointSize());
  QVERIFY(f.w<QLabel>("PV0")->font().pointSize() < f.w<QLabel>("SV0")->font().pointSize());
  // The program's time left stays in the SV fields; PV/SV polls do not overwrite it.
  QCOMPARE(f.text("SV0"), QStringLiteral("01:05:09"));
  QCOMPARE(f.text("SVDisp"), QStringLiteral("01:05:09"));
  QCOMPARE(f.w<QLabel>("SVDisp")->font().pointSize(), Scale(24, f.window->ScaleWidth()));

  // The program ends: the SV comes back in the full display size.
  kx2.SetProgramRunning(false);
  kx2.SetPvStatus(0);
  kx2.SetRegister(0x4700, 1000);
  f.Run(40);
  QCOMPARE(f.text("SV0"), QStringLiteral("150.0"));
  QCOMPARE(f.text("SVDisp"), QStringLiteral("150.0"));
  QCOMPARE(f.text("PVDisp"), QStringLiteral("100.0"));
  QVERIFY(pvDisp->alignment() & Qt::AlignRight);
  QCOMPARE(f.w<QLabel>("SVDisp")->font().pointSize(), Scale(32, f.window->ScaleWidth()));
}

void TstMonitorWindow::pictureOutputsBelongToTheSelectedDevice() {
  Fixture f;
  AddKx2(f, 1);
  // A KX3 locked to PV and SV only: its outputs are never read.
  Fixture::Set(f.Add("kx3@2"), {{0x4700, 250}, {0x4701, 300}, {0x4751, 2 << 3}});
  f.w<QPushButton>("RunBt0")->click();
  f.Run(40);
  QVERIFY(f.w("Out1Qty")->isVisible());
  QVERIFY(f.w("Out2Qty")->isVisible());
  QCOMPARE(f.text("UV"), QStringLiteral("24"));

  f.Connect(1, 2);
  f.Run(30);
  f.Select(1);
  f.Run(40);
  QCOMPARE(f.window->engine().SelectedDevice(), 1);
  QCOMPARE(f.window->engine().Device(1).model, kx::kModelKx3);
  QCOMPARE(f.text("PVDisp"), QStringLiteral("25.0"));
  // The KX2's bars must not stand under the KX3's picture.
  QVERIFY(f.w("Out1Qty")->isHidden());
  QVERIFY(f.w("O1Lb")->isHidden());
  QVERIFY(f.w("Out2Qty")->isHidden());
  QVERIFY(f.w("O2Lb")->isHidden());
  // Nor its diagnostics readings in the strip.
  QCOMPARE(f.text("UV"), QString());
  QCOMPARE(f.text("ColdShow"), QString());

  // Selected again, the KX2 brings its bars back with its next poll.
  f.Select(0);
  f.Run(40);
  QVERIFY(f.w("Out1Qty")->isVisible());
  QCOMPARE(f.w<LevelBar>("Out2Qty")->value(), 120);
  QCOMPARE(f.text("UV"), QStringLiteral("24"));
}

void TstMonitorWindow::silentDeviceIsDroppedAndLastDisconnectStops() {
  Fixture f;
  Probe(f, "probe on");
  AddKx1(f, 1);
  kxsim::Controller& kx2 = AddKx2(f, 2);
  f.w<QSpinBox>("ComAddr1")->setValue(2);
  f.w<QPushButton>("RunBt0")->click();
  f.w<QPushButton>("RunBt1")->click();
  f.Run(50);
  QCOMPARE(f.window->engine().ConnectedCount(), 2);

  kx2.SetFault(kxsim::Fault::NoAnswer);
  for (int i = 0; i < 40 && f.window->engine().Device(1).connected; ++i) f.Run(1);
  QVERIFY(!f.window->engine().Device(1).connected);
  QCOMPARE(f.w<QPushButton>("RunBt1")->text(), QStringLiteral("Connect"));
  QCOMPARE(f.text("PV1"), QStringLiteral("0"));
  QCOMPARE(f.window->findChild<QAction*>("Device11")->text(), QStringLiteral("DEVICE 2"));
  QCOMPARE(f.text("ErrCnt1"), QStringLiteral("4"));
  QCOMPARE(f.text("ErrMessage"), QStringLiteral("Received data time out error"));
  QCOMPARE(Background(f.w("ErrMessage")), C(kx::looks::kRed));
  // Polling of the other device goes on.
  const std::size_t before = f.fake->written.size();
  f.Run(5);
  QVERIFY(f.fake->written.size() > before);
  QCOMPARE(f.w<QPushButton>("RunBt0")->text(), QStringLiteral("Cancel"));

  // Disconnecting the last device: the tile resets at once, the port closes
  // after the request in flight, the picture clears and the menus go grey.
  f.w<QPushButton>("RunBt0")->click();
  QCOMPARE(f.w<QPushButton>("RunBt0")->text(), QStringLiteral("Connect"));
  QVERIFY(!f.w<QMenu>("FILE1")->menuAction()->isEnabled());
  f.Run(3);
  QVERIFY(!f.fake->IsOpen());
  QCOMPARE(f.session.lineOwner, kx::LineOwner::Free);
  QCOMPARE(f.text("PVDisp"), QString());
  QCOMPARE(f.w<Lamp>("DegC")->colour(), C(kx::looks::kGrey));
  QVERIFY(f.w("ParaPL")->isHidden());
}

void TstMonitorWindow::diagnosticsStripCountersAndClear() {
  Fixture f;
  const int tileY = f.window->Tile(0)->y();
  Probe(f, "probe on");
  QVERIFY(f.w("DebugPL")->isVisible());
  QVERIFY(f.w("ErrMessage")->isVisible());
  QVERIFY(f.window->Tile(0)->y() > tileY);  // the strip takes the top band
  QVERIFY(f.w("DebugPL")->geometry().bottom() < f.window->Tile(0)->y());
  QVERIFY(f.w("ErrMessage")->geometry().bottom() < f.window->Tile(0)->y());

  kxsim::Controller& kx2 = AddKx2(f, 1);
  AddKx2(f, 2).SetFault(kxsim::Fault::NoAnswer);
  f.w<QSpinBox>("ComAddr1")->setValue(2);
  f.w<QPushButton>("RunBt0")->click();
  f.Run(30);
  QCOMPARE(f.text("UV"), QStringLiteral("24"));
  QCOMPARE(f.text("ColdShow"), QStringLiteral("25.3"));
  // Readings are register words: above 0x7FFF they are negative.
  Fixture::Set(kx2, {{0x472F, 0xFFF6}, {0x472E, 0xFFEC}});
  f.Run(12);
  QCOMPARE(f.text("UV"), QStringLiteral("- 10"));
  QCOMPARE(f.text("ColdShow"), QStringLiteral("- 2.0"));
  f.w<QPushButton>("RunBt1")->click();
  const kx::MonitorEngine& engine = f.window->engine();
  // Device 1 collects a time-out and stays connected for now.
  for (int i = 0; i < 40 && engine.Device(1).errorCount == 0; ++i) f.Run(1);
  QVERIFY(engine.Device(1).connected);
  QVERIFY(engine.Device(1).errorCount > 0);
  QCOMPARE(f.text("ErrCnt1"), QString::number(engine.Device(1).errorCount));
  QCOMPARE(f.text("ExecCnt0"), QString::number(engine.Device(0).requestCount));

  // Clearing a device without errors leaves the red status line alone while
  // device 1 still has errors.
  const QString status = f.text("ErrMessage");
  QTest::mousePress(f.w("ClrBt0"), Qt::LeftButton);
  QCOMPARE(f.text("ExecCnt0"), QStringLiteral("0"));
  QCOMPARE(f.text("ErrCnt0"), QStringLiteral("0"));
  QCOMPARE(f.text("ErrMessage"), status);
  QCOMPARE(Background(f.w("ErrMessage")), C(kx::looks::kRed));
  QTest::mouseRelease(f.w("ClrBt0"), Qt::LeftButton);

  // Clearing the last device with errors turns the line green.
  QTest::mousePress(f.w("ClrBt1"), Qt::LeftButton);
  QCOMPARE(f.text("ErrCnt1"), QStringLiteral("0"));
  QCOMPARE(f.text("ExecCnt1"), QStringLiteral("0"));
  QCOMPARE(f.text("ErrMessage"), QString::fromUtf8(kx::Text(kx::Msg::NoError).data()));
  QCOMPARE(Background(f.w("ErrMessage")), C(kx::looks::kGreen));
  QTest::mouseRelease(f.w("ClrBt1"), Qt::LeftButton);

  Probe(f, "probe off");
  QVERIFY(f.w("DebugPL")->isHidden());
  QVERIFY(f.w("ErrMessage")->isHidden());
  QCOMPARE(f.window->Tile(0)->y(), tileY);
  Probe(f, "something else");
  QVERIFY(f.w("DebugPL")->isHidden());
}

void TstMonitorWindow::scalesByWidth() {
  Fixture f;
  for (int w : {808, 1280, 1920}) {
    f.window->resize(w, 2000);  // tall enough for no scroll bar
    QCOMPARE(f.window->ScaleWidth(), w);
    QCOMPARE(f.window->Tile(2)->x(), Scale(540, w));
    QCOMPARE(f.w("ComAddr0")->height(), Scale(22, w));
    QCOMPARE(f.w<QLabel>("PVDisp")->font().pointSize(), Scale(32, w));
    QCOMPARE(f.w<QLabel>("PV0")->font().pointSize(), Scale(10, w));
    QVERIFY(f.window->Tile(2)->geometry().right() < w);
  }
  // A window lower than the content scaled to its width scales it to fit its
  // height instead: nothing is left below the window's edge.
  auto* scroll = f.w<QScrollArea>("MonitorScroll");
  f.window->resize(1920, 600);
  QVERIFY(f.window->ScaleWidth() < 1920);
  QVERIFY(f.window->Tile(2)->geometry().right() < f.window->ScaleWidth());
  QVERIFY(!scroll->verticalScrollBar()->isVisible());
  QVERIFY(Scale(MonitorWindow::kDesignHeight, f.window->ScaleWidth()) <= scroll->viewport()->height());
  // Only a window too small for readable controls scrolls, and the bar is
  // not scaled over.
  f.window->resize(700, 300);
  QVERIFY(scroll->verticalScrollBar()->isVisible());
  QVERIFY(f.window->ScaleWidth() <= scroll->viewport()->width());
}

void TstMonitorWindow::closeWaitsForTheRequestInFlight() {
  Fixture f;
  AddKx2(f, 1);
  f.w<QPushButton>("RunBt0")->click();
  f.Run(20);
  // A request is always in flight while a device is polled: "OK" under "EXIT"
  // closes the window only when its answer arrives.
  QVERIFY(f.window->engine().state() == kx::MonitorEngine::State::Awaiting);
  f.window->findChild<QAction*>("Close2")->trigger();
  QVERIFY(f.window->isVisible());
  QVERIFY(f.fake->IsOpen());
  f.Run(1);  // the answer arrives
  QTRY_VERIFY(!f.window->isVisible());
  QVERIFY(!f.fake->IsOpen());
  QCOMPARE(f.session.lineOwner, kx::LineOwner::Free);
  QVERIFY(!f.w<QMenu>("FILE1")->menuAction()->isEnabled());
  // "CANCEL" does nothing.
  f.window->show();
  f.window->findChild<QAction*>("Cancel1")->trigger();
  QVERIFY(f.window->isVisible());
  // Opened again, the window starts over and connects as before.
  QCOMPARE(f.text("PV0"), QStringLiteral("0"));
  QCOMPARE(f.w<QPushButton>("RunBt0")->text(), QStringLiteral("Connect"));
  f.w<QPushButton>("RunBt0")->click();
  f.Run(30);
  QCOMPARE(f.text("PV0"), QStringLiteral("123.4"));
  QCOMPARE(f.session.lineOwner, kx::LineOwner::Monitor);
}

void TstMonitorWindow::portThatWillNotOpenIsReported() {
  Fixture f;
  f.fake->failNextOpen = "No such file or directory";
  f.w<QPushButton>("RunBt0")->click();
  auto* box = f.window->findChild<QMessageBox*>("PortErrorBox");
  QVERIFY(box);
  QVERIFY(box->text().contains(QStringLiteral("No such file or directory")));
  QCOMPARE(f.session.lineOwner, kx::LineOwner::Free);
  box->accept();
  // The device did not stay half connected.
  QTRY_COMPARE(f.w<QPushButton>("RunBt0")->text(), QStringLiteral("Connect"));
  QVERIFY(!f.window->engine().Device(0).connected);
}

QTEST_MAIN(TstMonitorWindow)
#include "tst_monitor_window.moc"
