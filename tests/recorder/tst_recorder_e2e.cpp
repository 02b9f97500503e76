// The recorder against three simulated controllers on a pseudo-terminal:
// record into a file at 0.5 s, silence one controller until it is dropped,
// stop, check the file against what kxsim answered before and after, then
// replay the file to its end. With KX_SCREENSHOT_DIR set it saves pictures of
// the window while recording and after the replay.
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QSpinBox>
#include <QToolButton>
#include <QtTest>

#include <fstream>

#include "core/line/line_format.h"
#include "core/modbus/codec.h"
#include "core/recorder/record_file.h"
#include "recorder/recorder_window.h"
#include "serial/port_map.h"
#include "support/kxsim_process.h"
#include "support/port_paths.h"
#include "support/widget_access.h"
#include "widgets/file_dialogs.h"

using namespace kx;
using namespace kx::recorder;

namespace {

// PV of each address as kxsim answers a plain read on the line.
std::map<int, int> ReadPvs(const std::string& path) {
  std::map<int, int> pv;
  kx::test::RawSerialClient client;
  if (!client.Open(path, B9600)) return pv;
  for (int address = 1; address <= 3; ++address) {
    client.Write(ProcessValueRequest(*ParseLineFormat("9600-8N1-ascii"), static_cast<std::uint8_t>(address)).frame);
    const auto answer = client.Read(19, std::chrono::milliseconds(2000));
    if (answer.size() < 19) continue;
    const int hi = HexPairValue(static_cast<char>(answer[7]), static_cast<char>(answer[8]));
    const int lo = HexPairValue(static_cast<char>(answer[9]), static_cast<char>(answer[10]));
    pv[address] = static_cast<std::int16_t>((hi << 8) | lo);
  }
  return pv;
}

void Shot(QWidget& window, const char* name) {
  const QByteArray dir = qgetenv("KX_SCREENSHOT_DIR");
  if (dir.isEmpty()) return;
  window.grab().save(QString("%1/%2-%3.png").arg(QString(dir), name).arg(window.width()));
}

}  // namespace

class TstRecorderE2e : public QObject {
  Q_OBJECT
 private slots:
  void recordDropAndReplay();
};

void TstRecorderE2e::recordDropAndReplay() {
  kx::test::ScratchDir dir;
  const std::string link = dir / "line";
  const std::string fifo = dir / "control";
  const std::string recordPath = dir / "three.rec";
  kx::test::KxsimProcess sim;
  QVERIFY(sim.Start(KXSIM_PATH, {"--link", link, "--control", fifo, "--timing", "kx1@1:9600-8N1-ascii",
                                 "kx2@2:9600-8N1-ascii", "kx3@3:9600-8N1-ascii"}));
  // The KX2 runs towards its set value, so its PV climbs while the others stay.
  QVERIFY(sim.Control("set 2 0x4723 1"));
  QTest::qWait(200);
  const std::map<int, int> before = ReadPvs(link);
  QCOMPARE(before.size(), 3u);

  Session session;
  serial::ConfigurePorts(session, kx::test::OnePort(1, link));
  session.params = PortParams{1, 9600, 8, 0, 1, false};
  std::unique_ptr<ComPort> port = session.makePort();
  app::SetFileChooser([&](app::FileDialogKind, const QString&) { return QString::fromStdString(recordPath); });
  {
    RecorderWindow window(session, *port);
    port->SetOnTrigger([&](ComPort&, const PortEvent& e) { window.PortEvent(e); });
    window.dialogs().confirm = [](const QString&) { return true; };
    QStringList messages;
    window.dialogs().message = [&](const QString& text, const QString&, bool) { messages << text; };
    if (!qEnvironmentVariableIsEmpty("KX_SCREENSHOT_DIR"))
      window.setGeometry(QGuiApplication::primaryScreen()->availableGeometry());
    else
      window.resize(1280, 900);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QTRY_VERIFY(window.ChartModel().geometry().columns > 0 && window.findChild<QLineEdit*>("LoopCnt") != nullptr);
    QTest::qWait(50);
    auto* loopCnt = window.findChild<QLineEdit*>("LoopCnt");
    kx::test::Retype(*window.findChild<QSpinBox*>("SampleTime"), 0);
    kx::test::Retype(*window.findChild<QSpinBox*>("ComAddr1"), 2);
    kx::test::Retype(*window.findChild<QSpinBox*>("ComAddr2"), 3);
    kx::test::Click(*window.findChild<QToolButton*>("SaveBt"));
    QVERIFY(window.findChild<QToolButton*>("SaveBt")->isChecked());
    kx::test::Click(*window.findChild<QPushButton*>("StartBt"));
    QCOMPARE(session.lineOwner, LineOwner::Recorder);
    // Pictures want a longer run: enough samples for time lines and labels.
    const int run = qEnvironmentVariableIsEmpty("KX_SCREENSHOT_DIR") ? 6 : 150;
    QTRY_VERIFY_WITH_TIMEOUT(window.Acquirer().counter() >= run, 15000 + 600 * run);
    QVERIFY(sim.Control("silence 2"));
    QTRY_VERIFY_WITH_TIMEOUT(window.SlotTable()[1].dropPoint >= 0, 15000);
    const long dropped = window.SlotTable()[1].dropPoint;
    QTRY_VERIFY_WITH_TIMEOUT(window.Acquirer().counter() >= dropped + 4, 15000);
    QCOMPARE(window.findChild<QLabel*>("ErrMess")->text(), QString("DEVICE  2Received data time out error"));
    Shot(window, "recorder-recording");
    kx::test::Click(*window.findChild<QPushButton*>("StartBt"));
    QCOMPARE(session.lineOwner, LineOwner::Free);
    QVERIFY(!port->IsOpen());
    const long cycles = window.Acquirer().counter();
    QCOMPARE(loopCnt->text(), QString::fromStdString(CounterText(cycles)));
    QVERIFY(sim.Control("answer 2"));
    QTest::qWait(100);
    const std::map<int, int> after = ReadPvs(link);
    QCOMPARE(after.size(), 3u);

    // The file: one record per completed cycle, values as kxsim answered
    // (the PV drifts slowly and carries one digit of noise), the marker from
    // the drop on.
    RecordFile file;
    QVERIFY(file.Open(recordPath));
    QCOMPARE(static_cast<long>(file.count()), cycles);
    QCOMPARE(file.header().addresses, (std::array<std::uint8_t, kSlots>{1, 2, 3, 0, 0, 0, 0, 0, 0, 0}));
    QCOMPARE(file.header().sampleTime, std::uint8_t{0});
    for (std::uint64_t k = 0; k < file.count(); ++k) {
      QVERIFY(file.Ensure(k));
      const Record& r = file.At(k);
      for (int slot = 0; slot < 3; ++slot) {
        const int v = r.values[static_cast<std::size_t>(slot)];
        if (slot == 1 && static_cast<long>(k) >= dropped) {
          QCOMPARE(v, kErrorMarker);
          continue;
        }
        const int lo = std::min(before.at(slot + 1), after.at(slot + 1)) - 2;
        const int hi = std::max(before.at(slot + 1), after.at(slot + 1)) + 2;
        QVERIFY2(v >= lo && v <= hi, qPrintable(QString("record %1 slot %2: %3 not in %4..%5").arg(k).arg(slot).arg(v).arg(lo).arg(hi)));
      }
      for (int slot = 3; slot < kSlots; ++slot) QCOMPARE(r.values[static_cast<std::size_t>(slot)], 0);
    }
    QVERIFY(file.Ensure(file.count() - 1));
    const Record last = file.At(file.count() - 1);

    // Replay to the end: the value boxes show the last record.
    kx::test::Click(*window.findChild<QToolButton*>("RePlayBt"));
    QVERIFY(window.findChild<QWidget*>("PlayPL")->isVisible());
    kx::test::Click(*window.findChild<QPushButton*>("PlayBt"));
    QTRY_VERIFY_WITH_TIMEOUT(window.Replayer().state() == ReplayEngine::State::Stopped, 10000);
    QCOMPARE(loopCnt->text(), QString::fromStdString(CounterText(cycles)));
    QCOMPARE(window.findChild<QLineEdit*>("PV0")->text(), QString::fromStdString(TenthsText(last.values[0])));
    QCOMPARE(window.findChild<QLineEdit*>("PV1")->text(), QString("Err"));
    QCOMPARE(window.findChild<QLineEdit*>("PV2")->text(), QString::fromStdString(TenthsText(last.values[2])));
    QVERIFY(messages.isEmpty());
    Shot(window, "recorder-replay");
  }
  app::SetFileChooser(nullptr);
}

QTEST_MAIN(TstRecorderE2e)
#include "tst_recorder_e2e.moc"
