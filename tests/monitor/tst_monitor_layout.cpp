// The monitor window at the screen sizes it is used at, maximised (1280x1024
// and 1920x1080), with each model's panel, the diagnostics strip and the PV
// trend: every named control is whole on screen, no controls overlap unless
// stacked on purpose (and then the one in front hides the others), captions
// fit, and the trend uses the width and height the window has. A controller
// that falls silent is dropped, and the reason shows in its tile's tool tip and
// the status bar until the tile is connected again.
//
// With KX_SCREENSHOT_DIR set (run on a real X server, e.g. under xvfb-run
// with QT_QPA_PLATFORM=xcb), only the screen's own size runs and pictures are
// saved there.
#include <QHelpEvent>
#include <QMenuBar>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QStatusBar>
#include <QToolTip>
#include <QtTest>

#include "monitor/monitor_window.h"
#include "monitor/parameter_panel.h"
#include "support/layout_checks.h"
#include "support/monitor_fixture.h"

using Fixture = kx::test::MonitorFixture;

namespace {

bool Matches(const QWidget& w, const char* pattern) {
  return QRegularExpression(QRegularExpression::anchoredPattern(QString::fromLatin1(pattern)))
      .match(w.objectName())
      .hasMatch();
}

// Controls that lie over each other by design: a backdrop (the tile's frame,
// the front picture, a group box) behind what sits on it; and controls
// sharing one place, where the one in front hides the others whole: it
// covers them and paints its own background.
bool Stacked(const kx::test::Placed& behind, const kx::test::Placed& front) {
  const QWidget& b = *behind.widget;
  const bool backdrop = Matches(b, "SelPanel\\d|ImeA1|ImeB1") || qobject_cast<const QGroupBox*>(&b) != nullptr;
  if (backdrop && behind.rect.contains(front.rect)) return true;
  const QWidget& f = *front.widget;
  const bool opaque = f.autoFillBackground() || f.testAttribute(Qt::WA_OpaquePaintEvent);
  return front.rect.contains(behind.rect) && opaque;
}

bool Pictures() { return qEnvironmentVariableIsSet("KX_SCREENSHOT_DIR"); }

// True when the test runs at this size: all sizes offscreen, only the screen's
// own size when taking pictures.
bool RunsAt(QSize size) {
  if (!Pictures()) return true;
  return QGuiApplication::primaryScreen()->availableGeometry().size() == size;
}

// The window as maximised on a screen of `size` (there is no window manager:
// the window takes the screen's geometry itself).
void Maximise(Fixture& f, QSize size) {
  if (Pictures()) {
    f.window->hide();
    f.window->showMaximized();
  } else {
    f.window->resize(size);
  }
  QCoreApplication::processEvents();
  QCOMPARE(f.window->size(), size);
}

void Shot(Fixture& f, const QString& name) {
  if (!Pictures()) return;
  QCoreApplication::processEvents();
  f.window->grab().save(QStringLiteral("%1/%2-%3.png")
                            .arg(qEnvironmentVariable("KX_SCREENSHOT_DIR"), name)
                            .arg(f.window->width()));
}

// Everything a technician must see is whole on screen, nothing overlaps.
void CheckLayout(Fixture& f) {
  QCoreApplication::processEvents();  // pending layout requests, as the event loop does
  const QStringList cut = kx::test::ControlsCutOff(*f.window);
  QVERIFY2(cut.isEmpty(), qPrintable(cut.join(QLatin1Char('\n'))));
  const QStringList overlaps = kx::test::OverlappingSiblings(*f.window, Stacked);
  QVERIFY2(overlaps.isEmpty(), qPrintable(overlaps.join(QLatin1Char('\n'))));
  const QStringList captions = kx::test::CaptionsCut(*f.window);
  QVERIFY2(captions.isEmpty(), qPrintable(captions.join(QLatin1Char('\n'))));
}

// KX1 at 1, KX2 at 2, KX3 at 3 on tiles 0 to 2, connected with the mouse.
void ConnectThree(Fixture& f) {
  Fixture::Set(f.Add("kx1@1"), {{0x4700, 250}, {0x4701, 300}, {0x471A, 1}});
  Fixture::Set(f.Add("kx2@2"), {{0x4700, 1234}, {0x4701, 1500}, {0x4726, 1}, {0x471A, 2}});
  Fixture::Set(f.Add("kx3@3"), {{0x4700, 812}, {0x4701, 900}});
  // For the pictures the controllers regulate, so PVs and outputs move.
  for (int address = 1; address <= 3 && Pictures(); ++address) f.Controller(address).HoldProcess(false);
  for (int n = 0; n < 3; ++n) {
    f.w<QSpinBox>(QStringLiteral("ComAddr%1").arg(n))->setValue(n + 1);
    QTest::mouseClick(f.w(QStringLiteral("RunBt%1").arg(n)), Qt::LeftButton);
  }
  f.Run(60);
  if (Pictures()) f.bus->Tick(400);  // half a minute of regulating
  QCOMPARE(f.window->engine().ConnectedCount(), 3);
}

// Selects tile n with a click on its address label and waits for its panel.
void ShowPanelOf(Fixture& f, int n) {
  const int before = f.window->parameterPanel()->layoutCount();
  if (f.window->engine().SelectedDevice() != n) {
    QTest::mouseClick(f.w(QStringLiteral("Adr%1Lb").arg(n)), Qt::LeftButton);
    f.bus->RunUntil([&] { return f.window->parameterPanel()->layoutCount() > before + 1; }, 400);
  }
  QCOMPARE(f.window->engine().SelectedDevice(), n);
  QVERIFY(f.w("ParaPL")->isVisible());
}

// The tool tip a user sees when resting the mouse on `w`.
QString ToolTipOver(QWidget* w) {
  QToolTip::hideText();
  const QPoint at = w->rect().center();
  QHelpEvent help(QEvent::ToolTip, at, w->mapToGlobal(at));
  QApplication::sendEvent(w, &help);
  // Accepted only by a widget (w or one it lies on) that has a tool tip.
  return help.isAccepted() && QToolTip::isVisible() ? QToolTip::text() : QString();
}

}  // namespace

class TstMonitorLayout : public QObject {
  Q_OBJECT
 private slots:
  void everyPanelWholeOnScreen_data();
  void everyPanelWholeOnScreen();
  void trendFillsTheLowerPart_data();
  void trendFillsTheLowerPart();
  void progressLineKeepsTheScale_data() { trendFillsTheLowerPart_data(); }
  void progressLineKeepsTheScale();
  void droppedTileSaysWhy();
};

void TstMonitorLayout::everyPanelWholeOnScreen_data() {
  QTest::addColumn<QSize>("size");
  QTest::addColumn<int>("tile");
  QTest::addColumn<QString>("code");  // typed into the password field ("" none)
  for (const QSize size : {QSize(1280, 1024), QSize(1920, 1080)}) {
    const QString at = QStringLiteral("%1x%2").arg(size.width()).arg(size.height());
    QTest::newRow(qPrintable(at + " KX1")) << size << 0 << QString();
    QTest::newRow(qPrintable(at + " KX2")) << size << 1 << QString();
    QTest::newRow(qPrintable(at + " KX2 factory")) << size << 1 << QStringLiteral("QZW");
    QTest::newRow(qPrintable(at + " KX3")) << size << 2 << QString();
    QTest::newRow(qPrintable(at + " KX3 strip")) << size << 2 << QStringLiteral("probe on");
  }
}

void TstMonitorLayout::everyPanelWholeOnScreen() {
  QFETCH(QSize, size);
  QFETCH(int, tile);
  QFETCH(QString, code);
  if (!RunsAt(size)) QSKIP("pictures are taken at the screen's size only");
  Fixture f;
  Maximise(f, size);
  ConnectThree(f);
  ShowPanelOf(f, tile);
  if (!code.isEmpty()) {
    auto* pass = f.w<QLineEdit>("PassEdit");
    QTest::mouseDClick(f.w("FWVersion"), Qt::LeftButton);
    QTest::keyClicks(pass, code);
    // While the password is typed, its label and field stand alone.
    f.Run(10);
    QVERIFY(pass->isVisible());
    CheckLayout(f);
    Shot(f, QStringLiteral("monitor-password"));
    QTest::keyClick(pass, Qt::Key_Return);
    QVERIFY(f.w("FWVersion")->isVisible());
    // The factory pages come with the next cycles.
    f.bus->RunUntil([&] { return f.w("RTDOfs")->isVisible(); }, 200);
    const bool factory = code == QLatin1String("QZW");
    QCOMPARE(f.w("DebugPL")->isVisible(), !factory);
    QCOMPARE(f.w("RTDOfs")->isVisible(), factory);
    if (factory) QVERIFY(f.w("ClearBt2")->isVisible());
  }
  // No part of the window is reached by scrolling only.
  auto* scroll = f.window->findChild<QScrollArea*>(QStringLiteral("MonitorScroll"));
  QVERIFY(!scroll->verticalScrollBar()->isVisible());
  QVERIFY(!scroll->horizontalScrollBar()->isVisible());
  CheckLayout(f);
  if (QTest::currentTestFailed()) return;
  // The controls the panel was cut at are there.
  const bool kx3 = tile == 2;
  for (const char* name : {"PVTune", "AT", "FWVersion", "SV"}) QVERIFY2(f.w(name)->isVisible(), name);
  QVERIFY(f.w(kx3 ? "Out2Sel" : "ComWrite")->isVisible());
  QCOMPARE(f.w("SecurityPL")->isVisible(), kx3);
  if (kx3) {
    QVERIFY(f.w("Pass3")->isVisible());
    QVERIFY(f.w("SLevel")->isVisible());
  }
  // The controls grow with the screen, and the panel keeps to the window.
  QVERIFY(f.w("ParaPL")->width() > 800);
  const char* names[] = {"kx1", "kx2", "kx3"};
  const QString state = code.isEmpty() ? QString() : code == QLatin1String("QZW") ? "-factory" : "-strip";
  Shot(f, QStringLiteral("monitor-%1%2").arg(names[tile], state));
}

void TstMonitorLayout::trendFillsTheLowerPart_data() {
  QTest::addColumn<QSize>("size");
  QTest::newRow("1280x1024") << QSize(1280, 1024);
  QTest::newRow("1920x1080") << QSize(1920, 1080);
}

void TstMonitorLayout::trendFillsTheLowerPart() {
  QFETCH(QSize, size);
  if (!RunsAt(size)) QSKIP("pictures are taken at the screen's size only");
  Fixture f;
  Maximise(f, size);
  ConnectThree(f);
  ShowPanelOf(f, 1);
  // The KX2's PV moves; samples once a second.
  f.Controller(2).HoldProcess(false);
  f.window->findChild<QAction*>(QStringLiteral("RECORD1"))->trigger();
  // The set value changes twice on the way (a longer run for the pictures).
  const int samples = Pictures() ? 900 : 240;
  for (int i = 0; i < samples; ++i) {
    if (i == samples / 3) f.Controller(2).SetRegister(0x4701, 1000);
    if (i == samples * 2 / 3) f.Controller(2).SetRegister(0x4701, 1300);
    f.bus->Tick(18);
    f.window->SampleTrend();
  }
  QVERIFY(f.window->trendShown());
  CheckLayout(f);
  if (QTest::currentTestFailed()) return;
  // The chart takes the window's width and the height below the tiles.
  QWidget* chart = f.w("DrawIme");
  QWidget* viewport = f.window->findChild<QScrollArea*>(QStringLiteral("MonitorScroll"))->viewport();
  const QRect inViewport(chart->mapTo(viewport, QPoint(0, 0)), chart->size());
  QVERIFY2(inViewport.right() >= viewport->width() - 12, qPrintable(QString::number(inViewport.right())));
  QVERIFY2(inViewport.bottom() >= viewport->height() - 12, qPrintable(QString::number(inViewport.bottom())));
  QVERIFY(chart->geometry().top() > f.window->Tile(1)->geometry().bottom());
  // It is drawn for the size it has.
  const kx::trend::Geometry& g = f.window->trend().geometry();
  QCOMPARE(QSize(g.width, g.height), chart->size());
  QCOMPARE(f.window->trendView()->picture().size(), chart->size());
  QVERIFY(g.bottom < g.height && g.right < g.width);
  Shot(f, QStringLiteral("trend"));
}

void TstMonitorLayout::progressLineKeepsTheScale() {
  QFETCH(QSize, size);
  if (!RunsAt(size)) QSKIP("pictures are taken at the screen's size only");
  Fixture f;
  Maximise(f, size);
  ConnectThree(f);
  ShowPanelOf(f, 1);
  QCoreApplication::processEvents();
  const int width = f.window->ScaleWidth();
  // An upload shows its progress line in the status bar while it runs.
  f.action("UPLOAD1")->trigger();
  f.Run(Pictures() ? 60 : 10);
  QVERIFY(f.window->engine().RunningTransfer() != nullptr);
  QVERIFY(f.w("ProgressBar")->isVisible());
  CheckLayout(f);
  // The controls keep their scale: the bar did not grow into their room.
  QCOMPARE(f.window->ScaleWidth(), width);
  Shot(f, QStringLiteral("monitor-upload"));
}

void TstMonitorLayout::droppedTileSaysWhy() {
  Fixture f;
  Maximise(f, Pictures() ? QGuiApplication::primaryScreen()->availableGeometry().size() : QSize(1280, 1024));
  Fixture::Set(f.Add("kx2@5"), {{0x4700, 1234}});
  kxsim::Controller& silent = f.Add("kx2@7");
  f.w<QSpinBox>("ComAddr0")->setValue(5);
  f.w<QSpinBox>("ComAddr1")->setValue(7);
  QTest::mouseClick(f.w("RunBt0"), Qt::LeftButton);
  QTest::mouseClick(f.w("RunBt1"), Qt::LeftButton);
  f.Run(40);
  QVERIFY(f.window->engine().Device(1).connected);
  QWidget* status = f.window->statusBar();
  QVERIFY(status->isVisible());
  QCOMPARE(f.text("DropMessage"), QString());
  QCOMPARE(ToolTipOver(f.w("PV1")), QString());

  // The controller falls silent: four time-outs in a row drop its tile.
  silent.SetFault(kxsim::Fault::NoAnswer);
  f.bus->RunUntil([&] { return !f.window->engine().Device(1).connected; }, 400);
  QCOMPARE(f.w<QPushButton>("RunBt1")->text(), QStringLiteral("Connect"));
  // The diagnostics strip is closed, yet the user is told where he looks.
  QVERIFY(f.w("ErrMessage")->isHidden());
  const QString why = QStringLiteral("DEVICE 2 (address 7) disconnected: Received data time out error");
  QCOMPARE(f.text("DropMessage"), why);
  QVERIFY(f.w("DropMessage")->isVisible());
  QCoreApplication::processEvents();  // the status bar's layout, as the event loop does
  QVERIFY(kx::test::SeenRect(*f.w("DropMessage")).width() >=
          f.w<QLabel>("DropMessage")->fontMetrics().horizontalAdvance(why));
  // Anywhere on the tile, its tool tip says it too; the other tile has none.
  QCOMPARE(ToolTipOver(f.w("PV1")), why);
  QCOMPARE(ToolTipOver(f.w("Adr1Lb")), why);
  QCOMPARE(ToolTipOver(f.w("PV0")), QString());
  Shot(f, QStringLiteral("monitor-dropped"));

  // It stays while the other tile goes on and the user looks elsewhere.
  f.Run(20);
  QCOMPARE(f.text("DropMessage"), why);
  QVERIFY(f.window->engine().Device(0).connected);

  // Disconnecting the good tile by hand is no failure and adds nothing.
  QTest::mouseClick(f.w("RunBt0"), Qt::LeftButton);
  f.Run(3);
  QCOMPARE(f.text("DropMessage"), why);
  QCOMPARE(ToolTipOver(f.w("PV0")), QString());

  // Connected again, the reason goes.
  silent.SetFault(kxsim::Fault::None);
  QTest::mouseClick(f.w("RunBt1"), Qt::LeftButton);
  QCOMPARE(f.text("DropMessage"), QString());
  QCOMPARE(ToolTipOver(f.w("PV1")), QString());
  f.Run(30);
  QVERIFY(f.window->engine().Device(1).connected);
  QCOMPARE(f.text("DropMessage"), QString());
}

QTEST_MAIN(TstMonitorLayout)
#include "tst_monitor_layout.moc"
