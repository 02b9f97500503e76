// The line traffic window opened from the main window's menu while the
// monitor polls kxsim's controllers on the simulated bus (tick clock): frames
// arrive as the monitor exchanges them, pause holds the list while the count
// goes on, clear empties it, save writes the list in the trace form, and the
// figures per address agree with the controllers' faults. The window takes
// no line and stays open beside the monitor. Its layout holds at the screen
// it opens on; with KX_SCREENSHOT_DIR set (a real X server, e.g. xvfb-run
// with QT_QPA_PLATFORM=xcb) it saves pictures of it and of the whole screen.
#include <QAction>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QScrollBar>
#include <QSpinBox>
#include <QTableView>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>
#include <vector>

#include "app/kx_application.h"
#include "app/main_window.h"
#include "core/line/settings.h"
#include "monitor/monitor_window.h"
#include "support/fake_port.h"
#include "support/layout_checks.h"
#include "support/sim_bus.h"
#include "support/widget_access.h"
#include "traffic/traffic_window.h"
#include "widgets/file_dialogs.h"

using kx::test::Child;

namespace {

constexpr std::int32_t kCom1Ascii9600 = 256 + 0x24;  // COM1, 9600 7E1 ASCII

struct Program {
  Program() {
    session.workDir = dir.path().toStdString();
    session.portPresent[1] = true;
    session.makePort = kx::test::FakePortFactory(ports);
    session.settingsWord = kCom1Ascii9600;
    kx::DecodeSettingsWord(session.settingsWord, session.params);
    kx::WriteSettingsFile(session);
    main = std::make_unique<kx::app::MainWindow>(session);
    monitor = std::make_unique<kx::monitor::MonitorWindow>(session);
    main->SetMonitorWindow(monitor.get());
    bus = std::make_unique<kx::test::SimBus>(*ports.at(2));  // the monitor's own port
    main->show();
    monitor->resize(1280, 900);
    monitor->show();
  }
  ~Program() {
    kx::app::SetFileChooser(nullptr);
    bus.reset();
    main.reset();
    monitor.reset();
  }

  // PROGRAM -> LINE TRAFFIC with the mouse, as a user opens it.
  kx::traffic::TrafficWindow* OpenTraffic() {
    auto* bar = Child<QMenuBar>(*main, "MainMenu1");
    auto* program = Child<QMenu>(*main, "PROGRAM1");
    QTest::mouseClick(bar, Qt::LeftButton, Qt::NoModifier, bar->actionGeometry(program->menuAction()).center());
    if (!QTest::qWaitFor([&] { return program->isVisible(); })) return nullptr;
    auto* item = Child<QAction>(*main, "TRAFFIC1");
    QTest::mouseClick(program, Qt::LeftButton, Qt::NoModifier, program->actionGeometry(item).center());
    return main->trafficWindow();
  }

  // Connects monitor tile `tile` to `address`: the address typed, then Connect clicked.
  void Connect(int tile, int address) {
    kx::test::Retype(*Child<QSpinBox>(*monitor, QStringLiteral("ComAddr%1").arg(tile).toLatin1().constData()), address);
    QTest::mouseClick(Child<QPushButton>(*monitor, QStringLiteral("RunBt%1").arg(tile).toLatin1().constData()),
                      Qt::LeftButton);
  }

  // Lets the monitor write n more requests.
  void Run(int n) {
    kx::test::FakePort& port = *ports.at(2);
    const std::size_t target = port.written.size() + static_cast<std::size_t>(n);
    bus->RunUntil([&] { return port.written.size() >= target; }, 200 * n);
  }

  QTemporaryDir dir;
  kx::Session session;
  std::vector<kx::test::FakePort*> ports;
  std::unique_ptr<kx::app::MainWindow> main;
  std::unique_ptr<kx::monitor::MonitorWindow> monitor;
  std::unique_ptr<kx::test::SimBus> bus;
};

// Ticks of the window's refresh timer as it fires them, enough for the
// figures and the counter to be redrawn once (the list follows at each).
void Refresh(kx::traffic::TrafficWindow& w) {
  for (int i = 0; i < kx::traffic::TrafficWindow::kFiguresEvery; ++i)
    QMetaObject::invokeMethod(Child<QTimer>(w, "TrafficTimer"), "timeout");
}

int Rows(kx::traffic::TrafficWindow& w) { return Child<QTableView>(w, "TrafficView")->model()->rowCount(); }

// The TrafficStats row of `address` as texts by column caption.
QMap<QString, QString> StatsRow(kx::traffic::TrafficWindow& w, int address) {
  auto* table = Child<QTableWidget>(w, "TrafficStats");
  QMap<QString, QString> row;
  for (int r = 0; r < table->rowCount(); ++r) {
    if (table->item(r, 0)->text() != QString::number(address)) continue;
    for (int c = 0; c < table->columnCount(); ++c)
      row[table->horizontalHeaderItem(c)->text()] = table->item(r, c)->text();
  }
  return row;
}

}  // namespace

class TrafficWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void watchPauseClearSaveAndMeasureTheMonitorsLine();
  void viewKeepsTheLastFramesAndFollowsTheEnd();
  void layoutBesideThePollingMonitor();
};

void TrafficWindowTest::watchPauseClearSaveAndMeasureTheMonitorsLine() {
  Program p;
  p.bus->Add("kx2@1:9600-7E1-ascii");
  p.bus->Add("kx2@2:9600-7E1-ascii,fault=badcheck");
  p.bus->Controller(1).HoldProcess(true);
  p.Connect(0, 1);
  p.Run(5);
  QCOMPARE(p.session.lineOwner, kx::LineOwner::Monitor);

  // Opened while the monitor holds the line: no "COM Port In Use", the line stays the monitor's.
  kx::traffic::TrafficWindow* w = p.OpenTraffic();
  QVERIFY(w != nullptr);
  QVERIFY(w->isVisible());
  QVERIFY(w->listening());
  QCOMPARE(p.session.lineOwner, kx::LineOwner::Monitor);

  p.Run(20);
  Refresh(*w);
  const int seen = Rows(*w);
  QVERIFY2(seen >= 38, qPrintable(QString::number(seen)));  // 20 requests and their answers
  auto* view = Child<QTableView>(*w, "TrafficView");
  const QAbstractItemModel* model = view->model();
  const auto cell = [&](int row, int column) { return model->index(row, column).data().toString(); };
  // A request and its answer: direction, address, function, bytes, ASCII text, check, reply time.
  int tx = 0;
  while (tx < seen && cell(tx, kx::traffic::TrafficModel::kDirection) != "TX") ++tx;
  QVERIFY(tx + 1 < seen);
  QCOMPARE(cell(tx, kx::traffic::TrafficModel::kAddress), QString("1"));
  QVERIFY(cell(tx, kx::traffic::TrafficModel::kBytes).startsWith("3A 30 31 "));  // ":01"
  QVERIFY(cell(tx, kx::traffic::TrafficModel::kText).startsWith(":01"));
  QCOMPARE(cell(tx + 1, kx::traffic::TrafficModel::kDirection), QString("RX"));
  QCOMPARE(cell(tx + 1, kx::traffic::TrafficModel::kCheck), QString("good"));
  QVERIFY(cell(tx + 1, kx::traffic::TrafficModel::kReply).toDouble() > 0);
  QVERIFY(QRegularExpression("^\\d\\d:\\d\\d:\\d\\d\\.\\d{3}$")
              .match(cell(tx, kx::traffic::TrafficModel::kTime))
              .hasMatch());

  // Pause: the count goes on, the list holds still.
  auto* count = Child<QLabel>(*w, "TrafficCountLb");
  QTest::mouseClick(Child<QPushButton>(*w, "TrafficPauseBt"), Qt::LeftButton);
  QVERIFY(w->paused());
  const int held = Rows(*w);
  const QString frozenFirst = cell(0, kx::traffic::TrafficModel::kBytes) + cell(0, kx::traffic::TrafficModel::kTime);
  const std::uint64_t added = w->log().Added();
  const QString countBefore = count->text();
  p.Run(10);
  Refresh(*w);
  QCOMPARE(Rows(*w), held);
  QCOMPARE(cell(0, kx::traffic::TrafficModel::kBytes) + cell(0, kx::traffic::TrafficModel::kTime), frozenFirst);
  QVERIFY(w->log().Added() >= added + 19);
  QVERIFY(count->text() != countBefore);
  QVERIFY(count->text().contains("PAUSED"));

  // Save while paused: the list as it stands, one frame a line in the trace form.
  const QString path = p.dir.filePath("line.txt");
  kx::app::SetFileChooser([path](kx::app::FileDialogKind kind, const QString& filter) {
    return kind == kx::app::FileDialogKind::Save && filter.contains("*.txt") ? path : QString();
  });
  QTest::mouseClick(Child<QPushButton>(*w, "TrafficSaveBt"), Qt::LeftButton);
  QFile file(path);
  QVERIFY(file.open(QIODevice::ReadOnly));
  const QStringList lines = QString::fromLatin1(file.readAll()).split('\n', Qt::SkipEmptyParts);
  QCOMPARE(lines.size(), held);
  const QRegularExpression form(
      "^\\d\\d:\\d\\d:\\d\\d\\.\\d{3} (TX|RX)( [0-9A-F]{2})+  \"[^\"]*\""
      "(  (good|failed: .+|no answer: .+|incomplete: .+)(  \\d+\\.\\d ms)?)?$");
  for (const QString& line : lines) QVERIFY2(form.match(line).hasMatch(), qPrintable(line));
  QVERIFY(lines[tx].contains(cell(tx, kx::traffic::TrafficModel::kBytes)));
  QVERIFY(lines[tx + 1].endsWith(cell(tx + 1, kx::traffic::TrafficModel::kReply) + " ms"));
  // Written beside and renamed: nothing else is left in the folder.
  QCOMPARE(QDir(p.dir.path()).entryList(QDir::Files | QDir::Hidden, QDir::Name),
           QStringList({"SETKX.$$$", "line.txt"}));

  // Resume: the frames that came meanwhile show.
  QTest::mouseClick(Child<QPushButton>(*w, "TrafficPauseBt"), Qt::LeftButton);
  QVERIFY(!w->paused());
  QVERIFY(Rows(*w) >= held + 19);

  // Clear: the list empties and fills again; the figures stay.
  QTest::mouseClick(Child<QPushButton>(*w, "TrafficClearBt"), Qt::LeftButton);
  QCOMPARE(Rows(*w), 0);
  p.Run(4);
  Refresh(*w);
  QVERIFY(Rows(*w) >= 7);

  // The figures: address 1 answers every request well; address 2 garbles its
  // check digits; address 9 has nobody and times out until the monitor drops it.
  p.Connect(1, 2);
  p.Connect(2, 9);
  p.Run(40);
  Refresh(*w);
  const auto one = StatsRow(*w, 1);
  QVERIFY(one["Requests"].toInt() >= 20);
  QVERIFY(one["Good"].toInt() >= one["Requests"].toInt() - 1);  // the last may be on its way
  QCOMPARE(one["Time-outs"], QString("0"));
  QVERIFY(one["p95 ms"].toDouble() >= one["p50 ms"].toDouble());
  QVERIFY(one["Suggested time-out ms"].toInt() >= one["Max ms"].toDouble());
  const auto two = StatsRow(*w, 2);
  QVERIFY(two["Check errors"].toInt() >= 1);
  QCOMPARE(two["Check errors"].toInt() + 1 >= two["Requests"].toInt(), true);
  QCOMPARE(two["Good"], QString("0"));
  QCOMPARE(two["Suggested time-out ms"], QString("-"));
  const auto nine = StatsRow(*w, 9);
  QVERIFY(nine["Time-outs"].toInt() >= 1);
  QCOMPARE(nine["Good"], QString("0"));
  QCOMPARE(nine["Time-outs"].toInt() + 1 >= nine["Requests"].toInt(), true);
  // What the taps saw agrees with the monitor's own error counters.
  QCOMPARE(static_cast<std::uint32_t>(w->log().StatsOf(9)->timeouts), p.monitor->engine().Device(2).errorCount);
  QCOMPARE(static_cast<std::uint32_t>(w->log().StatsOf(2)->checkErrors), p.monitor->engine().Device(1).errorCount);

  // Closing it lets go of the ports; the monitor polls on.
  w->close();
  QTRY_VERIFY(p.main->trafficWindow() == nullptr);
  QVERIFY(p.monitor->isVisible());
  QCOMPARE(p.session.lineOwner, kx::LineOwner::Monitor);
}

// At 38400 baud with four controllers polled the list keeps the last frames
// only, follows the newest unless the user scrolled up, and stays cheap.
void TrafficWindowTest::viewKeepsTheLastFramesAndFollowsTheEnd() {
  Program p;
  p.session.settingsWord = 256 + 128 + 4 * 16 + 2;  // COM1, 38400 8N1 RTU
  kx::DecodeSettingsWord(p.session.settingsWord, p.session.params);
  kx::WriteSettingsFile(p.session);
  for (int a = 1; a <= 4; ++a) p.bus->Add("kx2@" + std::to_string(a) + ":38400-8N1-rtu");
  kx::traffic::TrafficWindow* w = p.OpenTraffic();
  QVERIFY(w != nullptr);
  for (int tile = 0; tile < 4; ++tile) p.Connect(tile, tile + 1);
  p.Run(200);
  Refresh(*w);
  auto* view = Child<QTableView>(*w, "TrafficView");
  QVERIFY(Rows(*w) >= 398);
  QCOMPARE(view->verticalScrollBar()->value(), view->verticalScrollBar()->maximum());
  for (int a = 1; a <= 4; ++a) {
    const auto row = StatsRow(*w, a);
    QVERIFY2(row["Good"].toInt() >= 40, qPrintable(row["Good"]));
    QCOMPARE(row["Time-outs"], QString("0"));
  }
  // Scrolled up, the list stays where the user is.
  view->setFocus();
  QTest::keyClick(view, Qt::Key_Home, Qt::ControlModifier);
  QCOMPARE(view->verticalScrollBar()->value(), 0);
  p.Run(20);
  Refresh(*w);
  QCOMPARE(view->verticalScrollBar()->value(), 0);
  QVERIFY(view->verticalScrollBar()->maximum() > 0);
}

// Four controllers polled, one of them silent: every control whole on
// screen, nothing overlapping, captions that fit, every column of the list
// and the figures in view.
void TrafficWindowTest::layoutBesideThePollingMonitor() {
  Program p;
  p.bus->Add("kx1@1:9600-7E1-ascii");
  p.bus->Add("kx2@2:9600-7E1-ascii");
  p.bus->Add("kx3@3:9600-7E1-ascii");
  p.bus->Add("kx2@4:9600-7E1-ascii,fault=badcheck");
  const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
  p.monitor->setGeometry(screen);
  kx::traffic::TrafficWindow* w = p.OpenTraffic();
  QVERIFY(w != nullptr);
  QVERIFY(QTest::qWaitForWindowExposed(w));
  for (int tile = 0; tile < 4; ++tile) p.Connect(tile, tile + 1);
  p.Run(120);
  Refresh(*w);
  QCoreApplication::processEvents();
  const auto where = [](const QRect& r) {
    return QString("%1,%2 %3x%4").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height());
  };
  QVERIFY2(screen.contains(w->geometry()), qPrintable(where(w->geometry()) + " on " + where(screen)));
  // A screen narrower than the program is used at (the offscreen platform's):
  // the window as it opens on a 1280-pixel screen.
  if (screen.width() < 1280) w->resize(980, w->height());
  QCoreApplication::processEvents();
  const QStringList cut = kx::test::ControlsCutOff(*w);
  QVERIFY2(cut.isEmpty(), qPrintable(cut.join('\n')));
  const QStringList overlaps = kx::test::OverlappingSiblings(*w, [](const auto&, const auto&) { return false; });
  QVERIFY2(overlaps.isEmpty(), qPrintable(overlaps.join('\n')));
  const QStringList captions = kx::test::CaptionsCut(*w);
  QVERIFY2(captions.isEmpty(), qPrintable(captions.join('\n')));
  auto* view = Child<QTableView>(*w, "TrafficView");
  const int lastColumn = kx::traffic::TrafficModel::kReply;
  QVERIFY(view->horizontalHeader()->sectionViewportPosition(lastColumn) +
              view->horizontalHeader()->sectionSize(lastColumn) <=
          view->viewport()->width());
  QVERIFY(view->horizontalHeader()->sectionSize(kx::traffic::TrafficModel::kBytes) >= 200);
  auto* stats = Child<QTableWidget>(*w, "TrafficStats");
  QCOMPARE(stats->rowCount(), 4);
  QVERIFY(stats->horizontalScrollBar()->maximum() == 0);  // every figure in view
  for (int r = 0; r < 4; ++r) QVERIFY(stats->visualItemRect(stats->item(r, 0)).bottom() <= stats->viewport()->height());

  const QString dir = qEnvironmentVariable("KX_SCREENSHOT_DIR");
  if (!dir.isEmpty()) {
    const QString size = QStringLiteral("%1").arg(QGuiApplication::primaryScreen()->geometry().width());
    w->grab().save(dir + "/traffic-" + size + ".png");
    QGuiApplication::primaryScreen()->grabWindow(0).save(dir + "/traffic-screen-" + size + ".png");
  }
}

int main(int argc, char** argv) {
  kx::app::KxApplication app(argc, argv);
  TrafficWindowTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "tst_traffic_window.moc"
