// A faulty controller or a noisy line against the real programs: kxsim on a
// pseudo-terminal with its fault options, the monitor window, the bus search
// and the tester on the main port's routing.
//  - The monitor drops a controller that turns faulty (one fault kind per
//    row, switched on through kxsim's control pipe) and keeps polling the
//    others.
//  - Continuous line noise without line feeds never lets an ASCII answer end
//    nor the line fall silent: each activity still ends each request by its
//    deadline (tester: its time-out text; search: the next probe; monitor: the
//    time-out message and the drop that frees the line).
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QtTest>

#include <memory>

#include "core/comset/bus_search.h"
#include "core/line/session.h"
#include "core/routing/main_routing.h"
#include "core/tester/tester.h"
#include "core/text/messages.h"
#include "monitor/monitor_window.h"
#include "serial/port_map.h"
#include "support/kxsim_process.h"
#include "support/port_paths.h"
#include "support/widget_access.h"

namespace {

// 9600 8N1 ASCII: what a pseudo-terminal carries exactly.
const std::string kFormat = ":9600-8N1-ascii";

kx::Session LineSession(const std::string& path) {
  kx::Session session;
  kx::serial::ConfigurePorts(session, kx::test::OnePort(1, path));
  session.params = kx::PortParams{1, 9600, 8, 0, 1, false};
  return session;
}

// The monitor window with devices 0.. on the given addresses, connected.
struct Monitor {
  explicit Monitor(kx::Session& session, const std::vector<int>& addresses) : window(session) {
    window.resize(1280, 900);
    window.show();
    for (std::size_t n = 0; n < addresses.size(); ++n) {
      kx::test::Retype(*qobject_cast<QSpinBox*>(Control("ComAddr%1", static_cast<int>(n))), addresses[n]);
      kx::test::Click(*Control("RunBt%1", static_cast<int>(n)));
    }
  }
  QWidget* Control(const char* base, int n) {
    return window.findChild<QWidget*>(QString::fromLatin1(base).arg(n));
  }
  const kx::MonitorEngine& engine() { return window.engine(); }
  kx::monitor::MonitorWindow window;
};

}  // namespace

class TstFaultyLineE2e : public QObject {
  Q_OBJECT
 private slots:
  void monitorDropsTheFaultyControllerOnly_data();
  void monitorDropsTheFaultyControllerOnly();
  void noiseEndsEachRequestByItsDeadline();
};

void TstFaultyLineE2e::monitorDropsTheFaultyControllerOnly_data() {
  QTest::addColumn<QString>("fault");
  QTest::addColumn<QString>("status");  // the status line after the drop; empty: any failure text
  QTest::newRow("noise before the answer") << "noise" << "";
  QTest::newRow("bad check") << "badcheck" << "Received checksum error !!!";
  QTest::newRow("wrong address") << "wrongaddr" << "Address not correct";
  QTest::newRow("garbage") << "garbage" << "";
  QTest::newRow("silent") << "noanswer" << "Received data time out error";
}

void TstFaultyLineE2e::monitorDropsTheFaultyControllerOnly() {
  QFETCH(QString, fault);
  QFETCH(QString, status);
  kx::test::ScratchDir dir;
  const std::string link = dir / "line";
  const std::string fifo = dir / "control";
  kx::test::KxsimProcess sim;
  QVERIFY(sim.Start(KXSIM_PATH, {"--link", link, "--control", fifo, "kx1@1" + kFormat, "kx2@2" + kFormat,
                                 "kx3@3" + kFormat}));
  kx::Session session = LineSession(link);
  Monitor monitor(session, {1, 2, 3});
  const kx::MonitorEngine& engine = monitor.engine();
  QTRY_VERIFY_WITH_TIMEOUT(engine.Device(0).model == kx::kModelKx1 && engine.Device(1).model == kx::kModelKx2 &&
                               engine.Device(2).model == kx::kModelKx3,
                           10000);

  QVERIFY(sim.Control("fault 2 " + fault.toStdString()));
  QTRY_VERIFY_WITH_TIMEOUT(!engine.Device(1).connected, 15000);
  const QString shown = QString::fromStdString(engine.statusText());
  if (!status.isEmpty()) {
    QCOMPARE(shown, status);
  } else {
    QVERIFY2(shown != QString::fromLatin1(kx::Text(kx::Msg::NoError).data()) && !shown.isEmpty(), qPrintable(shown));
  }
  QCOMPARE(qobject_cast<QPushButton*>(monitor.Control("RunBt%1", 1))->text(), QStringLiteral("Connect"));

  // The others keep their share of the line, without a failure of their own.
  const std::uint32_t before0 = engine.Device(0).requestCount;
  const std::uint32_t before2 = engine.Device(2).requestCount;
  QTRY_VERIFY_WITH_TIMEOUT(engine.Device(0).requestCount > before0 + 5 && engine.Device(2).requestCount > before2 + 5,
                           5000);
  for (int d : {0, 2}) {
    QVERIFY(engine.Device(d).connected);
    QCOMPARE(engine.Device(d).errorCount, 0U);
  }
  QCOMPARE(session.lineOwner, kx::LineOwner::Monitor);
}

void TstFaultyLineE2e::noiseEndsEachRequestByItsDeadline() {
  kx::test::ScratchDir dir;
  const std::string link = dir / "line";
  kx::test::KxsimProcess sim;
  // Address 9 has no controller: nothing but noise ever comes back for it. A
  // byte every 33 ms keeps the line from falling silent; at this rate no
  // request's receive buffer (monitor 100 bytes in its 2.2 s) fills before
  // its deadline. (A full buffer would end the answer first, with the noise
  // as what was received: the monitor then reports a format error.)
  QVERIFY(sim.Start(KXSIM_PATH, {"--link", link, "--line-noise", "nolf:30", "kx1@1" + kFormat}));
  kx::Session session = LineSession(link);

  {  // Tester Send: the time-out text, the line freed.
    std::unique_ptr<kx::ComPort> port = session.makePort();
    kx::MainPortRouting routing(session, *port);
    std::string received;
    routing.tester.showReceived = [&](const std::string& text) { received = text; };
    kx::Tester tester(session, routing, kx::Tester::Hooks{});
    tester.Handle(kx::tester_event::SendTextEdited{":090347000002AB"});
    tester.Handle(kx::tester_event::SendClick{});
    QVERIFY(tester.AwaitingAnswer());
    QTRY_VERIFY_WITH_TIMEOUT(!tester.AwaitingAnswer(), 10000);
    QCOMPARE(QString::fromStdString(received), QString::fromLatin1(kx::Text(kx::Msg::ReceivedDataTimeout).data()));
    QVERIFY(!port->IsOpen());
    QCOMPARE(session.lineOwner, kx::LineOwner::Free);
  }
  {  // Bus search: each probe ends and the next one goes out; CANCEL then ends it.
    std::unique_ptr<kx::ComPort> port = session.makePort();
    kx::MainPortRouting routing(session, *port);
    kx::BusSearch search(session, routing, kx::BusSearch::Hooks{});
    routing.setup.answerStep = [&](const kx::Answer& answer) { search.Handle(kx::search_event::Answered{answer}); };
    kx::SearchPresets presets{1, 1, kx::kLength8, kx::kParityNone, kx::kStop1, kx::kProtocolAscii};
    search.Handle(kx::search_event::Start{1, presets, {}});
    QVERIFY(search.Searching());
    QTRY_VERIFY_WITH_TIMEOUT(search.probeCount() >= 3, 10000);
    search.Handle(kx::search_event::Cancel{});
    QVERIFY(QString::fromStdString(search.view().status).startsWith("Search abort,Found "));
    QCOMPARE(session.lineOwner, kx::LineOwner::Free);
    QVERIFY(!port->IsOpen());
  }
  {  // Monitor: time-outs drop the tile and the line is freed.
    Monitor monitor(session, {9});
    QTRY_VERIFY_WITH_TIMEOUT(!monitor.engine().Device(0).connected, 20000);
    QCOMPARE(QString::fromStdString(monitor.engine().statusText()), QStringLiteral("Received data time out error"));
    QTRY_COMPARE_WITH_TIMEOUT(session.lineOwner, kx::LineOwner::Free, 5000);
    QVERIFY(!monitor.window.port().IsOpen());
  }
}

QTEST_MAIN(TstFaultyLineE2e)
#include "tst_faulty_line_e2e.moc"
