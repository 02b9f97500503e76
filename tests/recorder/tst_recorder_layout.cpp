// The recorder window at the screen sizes it is used at, maximised (1280x1024
// and 1920x1080), recording three simulated controllers: every named control
// is whole on screen, nothing overlaps, captions fit, and the chart takes the
// room the window has and is drawn for that size; it follows a resize while
// nothing is recorded or replayed.
//
// With KX_SCREENSHOT_DIR set (run on a real X server, e.g. under xvfb-run
// with QT_QPA_PLATFORM=xcb), only the screen's own size runs and pictures are
// saved there.
#include <QPushButton>
#include <QScreen>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <QtTest>

#include "recorder/recorder_window.h"
#include "support/fake_port.h"
#include "support/layout_checks.h"
#include "support/sim_bus.h"

using kx::recorder::ChartGeometry;
using kx::recorder::RecorderWindow;

namespace {

bool Pictures() { return qEnvironmentVariableIsSet("KX_SCREENSHOT_DIR"); }

struct Bench {
  Bench() : window(session, port), bus(port) {
    session.params = kx::PortParams{1, 9600, 7, 1, 1, false};
    port.SetOnTrigger([this](kx::ComPort&, const kx::PortEvent& e) { window.PortEvent(e); });
    window.dialogs().message = [](const QString&, const QString&, bool) {};
    window.dialogs().confirm = [](const QString&) { return true; };
    const QString file = dir.filePath(QStringLiteral("run.rec"));
    window.dialogs().saveRecordPath = [file] { return file; };
    window.dialogs().openRecordPath = [file] { return file; };
    // The samples' times follow the bus clock, from 9:00:00 on.
    window.SetClock([this] {
      const auto s = std::chrono::duration_cast<std::chrono::seconds>(bus.now()).count() + 9 * 3600;
      return kx::recorder::SampleTime{static_cast<std::uint8_t>(s / 3600 % 24), static_cast<std::uint8_t>(s / 60 % 60),
                                      static_cast<std::uint8_t>(s % 60), 0};
    });
    int address = 1;
    for (const char* model : {"kx1", "kx2", "kx3"}) {
      bus.Add(std::string(model) + "@" + std::to_string(address++) + ":9600-7E1-ascii");
    }
    // The KX2 heads for another set value, so one trace climbs.
    bus.Controller(2).SetRegister(0x4701, 900);
  }

  // The window as maximised on a screen of `size`.
  void Show(QSize size) {
    // Without a window manager the maximised state alone does not size it.
    window.setWindowState(Qt::WindowNoState);
    window.resize(size);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    window.LayoutChart();
    QCOMPARE(window.size(), size);
  }

  // One sampling period: the timer fires and the cycle's answers come in.
  void Sample() {
    const auto next = bus.now() + std::chrono::seconds(1);
    QMetaObject::invokeMethod(window.findChild<QTimer*>("Timer1"), "timeout");
    bus.RunUntil([this] { return window.Acquirer().state() != kx::recorder::Acquisition::State::Awaiting; }, 200);
    while (bus.now() < next) bus.Tick();
  }

  void Record(int samples) {
    window.findChild<QSpinBox*>("ComAddr1")->setValue(2);
    window.findChild<QSpinBox*>("ComAddr2")->setValue(3);
    QTest::mouseClick(window.findChild<QPushButton*>("StartBt"), Qt::LeftButton);
    QVERIFY(window.Acquirer().Acquiring());
    for (int i = 0; i < samples; ++i) Sample();
  }

  QTemporaryDir dir;
  kx::Session session;
  kx::test::FakePort port;
  RecorderWindow window;
  kx::test::SimBus bus;
};

void Shot(QWidget& window, const QString& name) {
  if (!Pictures()) return;
  QCoreApplication::processEvents();
  window.grab().save(QStringLiteral("%1/%2-%3.png").arg(qEnvironmentVariable("KX_SCREENSHOT_DIR"), name).arg(window.width()));
}

bool Stacked(const kx::test::Placed& behind, const kx::test::Placed& front) {
  // The "0.5" field lies over the sampling time's number when 0 is chosen.
  return front.widget->objectName() == QLatin1String("SampleEdit") && behind.rect.contains(front.rect);
}

void CheckLayout(QWidget& window) {
  QCoreApplication::processEvents();  // pending layout requests, as the event loop does
  const QStringList cut = kx::test::ControlsCutOff(window);
  QVERIFY2(cut.isEmpty(), qPrintable(cut.join(QLatin1Char('\n'))));
  const QStringList overlaps = kx::test::OverlappingSiblings(window, Stacked);
  QVERIFY2(overlaps.isEmpty(), qPrintable(overlaps.join(QLatin1Char('\n'))));
  const QStringList captions = kx::test::CaptionsCut(window);
  QVERIFY2(captions.isEmpty(), qPrintable(captions.join(QLatin1Char('\n'))));
}

}  // namespace

class TstRecorderLayout : public QObject {
  Q_OBJECT
 private slots:
  void chartTakesTheRoom_data();
  void chartTakesTheRoom();
  void replayPanelFits_data() { chartTakesTheRoom_data(); }
  void replayPanelFits();
  void chartFollowsAResizeWhileIdle();
};

void TstRecorderLayout::chartTakesTheRoom_data() {
  QTest::addColumn<QSize>("size");
  QTest::newRow("1280x1024") << QSize(1280, 1024);
  QTest::newRow("1920x1080") << QSize(1920, 1080);
}

void TstRecorderLayout::chartTakesTheRoom() {
  QFETCH(QSize, size);
  if (Pictures() && QGuiApplication::primaryScreen()->availableGeometry().size() != size)
    QSKIP("pictures are taken at the screen's size only");
  Bench b;
  b.Show(size);
  b.Record(Pictures() ? 400 : 80);
  QVERIFY(b.window.Acquirer().counter() >= 80);
  CheckLayout(b.window);
  if (QTest::currentTestFailed()) return;

  // The chart spans the window and takes the height the other rows leave.
  QWidget* chart = b.window.findChild<QWidget*>("RecdIme");
  QVERIFY2(chart->width() >= size.width() - 24, qPrintable(QString::number(chart->width())));
  QVERIFY2(chart->height() >= size.height() / 2, qPrintable(QString::number(chart->height())));
  // Under the status line, the last row, no room is left unused.
  QWidget* last = b.window.findChild<QWidget*>("ErrMess");
  const int below = size.height() - last->mapTo(&b.window, QPoint(0, last->height())).y();
  QVERIFY2(below < 24, qPrintable(QString::number(below)));
  // It is drawn for the size it has, within the chart memory: across as
  // designed for the window's width, down for the chart's height.
  const ChartGeometry& g = b.window.ChartModel().geometry();
  QCOMPARE(g.height, chart->height());
  QCOMPARE(g.width, std::min(chart->width(), size.width() * 795 / 808));
  QVERIFY(g.right < g.width && g.bottom < g.height && g.top >= 0 && g.left > 0);
  QCOMPARE(g.columns, std::min(g.right - g.left, kx::recorder::kChartMemoryColumns));
  Shot(b.window, QStringLiteral("recorder-recording"));
  QTest::mouseClick(b.window.findChild<QPushButton*>("StartBt"), Qt::LeftButton);
}

void TstRecorderLayout::replayPanelFits() {
  QFETCH(QSize, size);
  if (Pictures() && QGuiApplication::primaryScreen()->availableGeometry().size() != size)
    QSKIP("pictures are taken at the screen's size only");
  Bench b;
  b.Show(size);
  // A run saved to a file, then replayed.
  QTest::mouseClick(b.window.findChild<QToolButton*>("SaveBt"), Qt::LeftButton);
  b.Record(Pictures() ? 300 : 70);
  QTest::mouseClick(b.window.findChild<QPushButton*>("StartBt"), Qt::LeftButton);
  QTest::mouseClick(b.window.findChild<QToolButton*>("RePlayBt"), Qt::LeftButton);
  QVERIFY(b.window.findChild<QWidget*>("PlayPL")->isVisible());
  QTest::mouseClick(b.window.findChild<QPushButton*>("PlayBt"), Qt::LeftButton);
  for (int i = 0; i < (Pictures() ? 200 : 50); ++i)
    QMetaObject::invokeMethod(b.window.findChild<QTimer*>("Timer1"), "timeout");
  QTest::mouseClick(b.window.findChild<QPushButton*>("PauseBt"), Qt::LeftButton);
  CheckLayout(b.window);
  // The play panel takes the row's spare width, for its track bar.
  QWidget* play = b.window.findChild<QWidget*>("PlayPL");
  QVERIFY(play->geometry().right() >= size.width() - 12);
  QVERIFY(b.window.findChild<QWidget*>("TrackBar")->width() >= play->width() / 3);
  Shot(b.window, QStringLiteral("recorder-replay"));
}

void TstRecorderLayout::chartFollowsAResizeWhileIdle() {
  Bench b;
  b.Show(QSize(1024, 700));
  QWidget* chart = b.window.findChild<QWidget*>("RecdIme");
  const ChartGeometry small = b.window.ChartModel().geometry();
  QCOMPARE(small.height, chart->height());

  // Maximised later (a window manager does it after the window is shown).
  b.window.resize(1920, 1080);
  QCoreApplication::processEvents();
  const ChartGeometry large = b.window.ChartModel().geometry();
  QCOMPARE(large.height, chart->height());
  QVERIFY(large.width > small.width + 800);
  QVERIFY(large.height > small.height + 200);

  // While recording the chart keeps its columns: a sample is stored in column
  // k mod N, so N cannot change under a run.
  b.Record(5);
  b.window.resize(1280, 1024);
  QCoreApplication::processEvents();
  QCOMPARE(b.window.ChartModel().geometry().columns, large.columns);
  b.Sample();
  QTest::mouseClick(b.window.findChild<QPushButton*>("StartBt"), Qt::LeftButton);
  QVERIFY(!b.window.Acquirer().Acquiring());
  // Stopped, the next resize fits it again.
  b.window.resize(1280, 1000);
  QCoreApplication::processEvents();
  const ChartGeometry fitted = b.window.ChartModel().geometry();
  QCOMPARE(fitted.height, chart->height());
  QVERIFY(fitted.columns < large.columns);
}

QTEST_MAIN(TstRecorderLayout)
#include "tst_recorder_layout.moc"
