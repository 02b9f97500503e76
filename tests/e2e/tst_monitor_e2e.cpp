// The monitor window against three simulated controllers (KX1, KX2, KX3) on a
// pseudo-terminal, on kxsim's RFC 2217 line, behind its transparent TCP server
// and behind its Modbus TCP gateway (the ports the program makes for those
// addresses), with and without a line that echoes, in ASCII and in RTU: it
// identifies them, shows their PV, and drops the one the simulator silences
// while it keeps polling the others, telling the user why until it is
// connected again.
#include <QPushButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <QtTest>

#include <fstream>
#include <string>
#include <vector>

#include "core/device/regmap.h"
#include "monitor/monitor_window.h"
#include "serial/port_map.h"
#include "support/kxsim_process.h"
#include "support/port_paths.h"
#include "support/widget_access.h"

class TstMonitorE2e : public QObject {
  Q_OBJECT
 private slots:
  void pollsThreeModelsAndDropsASilencedOne_data();
  void pollsThreeModelsAndDropsASilencedOne();
};

void TstMonitorE2e::pollsThreeModelsAndDropsASilencedOne_data() {
  QTest::addColumn<bool>("rtu");      // the PC settings' form
  QTest::addColumn<QString>("way");   // how the line is reached
  QTest::addColumn<bool>("echo");     // the line echoes each request
  QTest::newRow("ascii") << false << "pty" << false;
  QTest::newRow("rtu") << true << "pty" << false;
  QTest::newRow("rtu, echoing line") << true << "pty" << true;
  // Over RFC 2217 every setting travels exactly, so the line runs 7E1 in ASCII.
  QTest::newRow("ascii over rfc2217") << false << "rfc2217" << false;
  QTest::newRow("rtu over rfc2217") << true << "rfc2217" << false;
  QTest::newRow("ascii over tcp") << false << "tcp" << false;
  QTest::newRow("rtu over tcp, echoing line") << true << "tcp" << true;
  // The gateway's line is RTU whatever the PC settings say.
  QTest::newRow("rtu over modbus-tcp") << true << "modbus-tcp" << false;
  QTest::newRow("ascii settings over modbus-tcp, echoing line") << false << "modbus-tcp" << true;
}

void TstMonitorE2e::pollsThreeModelsAndDropsASilencedOne() {
  QFETCH(bool, rtu);
  QFETCH(QString, way);
  QFETCH(bool, echo);
  kx::test::ScratchDir dir;
  const std::string link = dir / "line";
  const std::string fifo = dir / "control";
  // A pseudo-terminal always carries 8 data bits without parity, so the line
  // runs 8N1 at 9600 there; the transparent server runs at its controllers'
  // format; the gateway speaks RTU.
  const bool gateway = way == "modbus-tcp";
  const bool sevenEven = way == "rfc2217" && !rtu;
  const std::string format = rtu || gateway ? ":9600-8N1-rtu" : sevenEven ? ":9600-7E1-ascii" : ":9600-8N1-ascii";
  std::vector<std::string> args;
  if (way == "pty") args = {"--link", link};
  if (way == "rfc2217") args = {"--listen", "127.0.0.1:0"};
  if (way == "tcp") args = {"--listen-tcp", "127.0.0.1:0"};
  if (gateway) args = {"--listen-modbus-tcp", "127.0.0.1:0", "--gateway-timeout", "300"};
  if (echo) args.push_back("--echo");
  for (const std::string& more : {std::string("--control"), fifo, "kx1@1" + format, "kx2@2" + format, "kx3@3" + format})
    args.push_back(more);
  kx::test::KxsimProcess sim;
  QVERIFY(sim.Start(KXSIM_PATH, args));
  std::string path = way == "pty" ? link : sim.LineUrl(way.toStdString() + "://");
  QVERIFY2(!path.empty(), sim.output().c_str());
  if (echo) path += "?echo";

  kx::Session session;
  kx::serial::ConfigurePorts(session, kx::test::OnePort(1, path));
  session.params.port = 1;
  session.params.baud = 9600;
  session.params.dataBits = sevenEven ? 7 : 8;
  session.params.parityCode = sevenEven ? 1 : 0;
  session.params.stopBits = 1;
  session.params.rtu = rtu;

  kx::monitor::MonitorWindow window(session);
  window.resize(1280, 900);
  window.show();
  auto control = [&](const char* base, int n) {
    return window.findChild<QWidget*>(QString::fromLatin1(base).arg(n));
  };
  for (int n = 0; n < 3; ++n) {
    kx::test::Retype(*qobject_cast<QSpinBox*>(control("ComAddr%1", n)), n + 1);
    kx::test::Click(*control("RunBt%1", n));
  }
  const kx::MonitorEngine& engine = window.engine();
  QTRY_VERIFY_WITH_TIMEOUT(engine.Device(0).model == kx::kModelKx1 &&
                               engine.Device(1).model == kx::kModelKx2 &&
                               engine.Device(2).model == kx::kModelKx3,
                           10000);
  // The simulated process values are about 25 degrees in tenths.
  const QRegularExpression number(QStringLiteral("^\\d+(\\.\\d)?$"));
  for (int n = 0; n < 3; ++n) {
    auto* pv = qobject_cast<QLabel*>(control("PV%1", n));
    QTRY_VERIFY_WITH_TIMEOUT(number.match(pv->text()).hasMatch() && pv->text() != "0", 10000);
  }
  QTRY_VERIFY_WITH_TIMEOUT(!window.findChild<QLabel*>("PVDisp")->text().isEmpty(), 5000);
  QCOMPARE(session.lineOwner, kx::LineOwner::Monitor);

  // Silence the KX2: four time-outs in a row drop it, the others go on.
  QVERIFY(sim.Control("silence 2"));
  QTRY_VERIFY_WITH_TIMEOUT(!engine.Device(1).connected, 10000);
  QCOMPARE(qobject_cast<QPushButton*>(control("RunBt%1", 1))->text(), QStringLiteral("Connect"));
  QCOMPARE(qobject_cast<QLabel*>(control("PV%1", 1))->text(), QStringLiteral("0"));
  QVERIFY(engine.Device(1).errorCount >= 4);
  // The user is told why, in the status bar and the tile's tool tip.
  const QString why = QStringLiteral("DEVICE 2 (address 2) disconnected: Received data time out error");
  auto* dropMessage = window.findChild<QLabel*>(QStringLiteral("DropMessage"));
  QCOMPARE(dropMessage->text(), why);
  QVERIFY(dropMessage->isVisible());
  QCOMPARE(control("Tile%1", 1)->toolTip(), why);
  const std::uint32_t before = engine.Device(2).requestCount;
  QTRY_VERIFY_WITH_TIMEOUT(engine.Device(2).requestCount > before + 10, 5000);
  QVERIFY(engine.Device(0).connected);
  QVERIFY(engine.Device(2).connected);
  QCOMPARE(dropMessage->text(), why);

  // Answering again and connected again, the tile says nothing more.
  QVERIFY(sim.Control("answer 2"));
  qobject_cast<QPushButton*>(control("RunBt%1", 1))->click();
  QTRY_VERIFY_WITH_TIMEOUT(number.match(qobject_cast<QLabel*>(control("PV%1", 1))->text()).hasMatch() &&
                               qobject_cast<QLabel*>(control("PV%1", 1))->text() != "0",
                           10000);
  QVERIFY(engine.Device(1).connected);
  QCOMPARE(dropMessage->text(), QString());
  QCOMPARE(control("Tile%1", 1)->toolTip(), QString());
  qobject_cast<QPushButton*>(control("RunBt%1", 1))->click();

  // Disconnecting the rest frees the line.
  kx::test::Click(*control("RunBt%1", 0));
  kx::test::Click(*control("RunBt%1", 2));
  QTRY_COMPARE_WITH_TIMEOUT(session.lineOwner, kx::LineOwner::Free, 5000);
  QVERIFY(!window.port().IsOpen());
}

QTEST_MAIN(TstMonitorE2e)
#include "tst_monitor_e2e.moc"
