// The local serial port over a real pseudo-terminal: the test holds the master
// side and plays the device at the far end of the line.
#include <QDir>
#include <QSignalSpy>
#include <QTest>

#include <termios.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "serial/port_map.h"
#include "serial/qt_com_port.h"
#include "support/cpu_time.h"
#include "support/port_paths.h"
#include "support/serial_line.h"

using namespace kx;
using namespace kx::serial;

namespace {

using Recorder = kx::test::PortRecorder;
using kx::test::CpuSeconds;
using kx::test::OnePort;
using kx::test::Pty;

std::unique_ptr<ComPort> OpenPort(const PortPaths& paths, int com, Recorder& rec) {
  auto port = MakeMappedPort(paths);
  rec.Attach(*port);
  port->SetComNumber(static_cast<std::uint16_t>(com));
  port->SetBaud(9600);
  port->SetDatabits(7);
  port->SetStopbits(1);
  port->SetParity(Parity::Even);
  return port;
}

}  // namespace

class TestQtComPort : public QObject {
  Q_OBJECT

 private slots:
  void detectsPseudoTerminals() {
    Pty pty;
    QVERIFY(pty.ok());
    const QString dir = QDir::tempPath() + "/kxpty-" + QString::number(::getpid());
    QDir().mkpath(dir);
    const std::string link = (dir + "/COM3").toStdString();
    std::filesystem::create_symlink(pty.slave(), link);
    QVERIFY(IsPseudoTerminal(pty.slave()));
    QVERIFY(IsPseudoTerminal(link));
    QVERIFY(!IsPseudoTerminal("/dev/null"));
    QVERIFY(!IsPseudoTerminal("/nonexistent/tty"));
    QDir(dir).removeRecursively();
  }

  // 7E1 through a symlink opens cleanly although the pty refuses 7 data bits
  // and parity; baud, stop bits and odd parity reach the line, also when
  // changed while open.
  void opensSevenEvenOneAndAppliesChangesAtOnce() {
    Pty pty;
    QVERIFY(pty.ok());
    const QString dir = QDir::tempPath() + "/kxline-" + QString::number(::getpid());
    QDir().mkpath(dir);
    const std::string link = (dir + "/COM3").toStdString();
    std::filesystem::create_symlink(pty.slave(), link);

    Recorder rec;
    auto port = OpenPort(OnePort(3, link), 3, rec);
    QVERIFY2(port->Open(), port->ErrorText().c_str());
    QVERIFY(port->IsOpen());
    QCOMPARE(port->ErrorText(), std::string{});
    termios t = pty.Line();
    QCOMPARE(cfgetospeed(&t), speed_t(B9600));
    QVERIFY(!(t.c_cflag & CSTOPB));

    port->SetStopbits(2);
    port->SetParity(Parity::Odd);
    port->SetBaud(19200);
    port->SetDatabits(7);
    QVERIFY(port->IsOpen());
    t = pty.Line();
    QCOMPARE(cfgetospeed(&t), speed_t(B19200));
    QVERIFY(t.c_cflag & CSTOPB);
    QVERIFY(t.c_cflag & PARODD);
    QVERIFY(rec.errors.empty());
    port->Close();
    QVERIFY(!port->IsOpen());
    QVERIFY(!port->IsOpen());
    QDir(dir).removeRecursively();
  }

  void writesAndAnnouncesWhatArrives() {
    Pty pty;
    QVERIFY(pty.ok());
    Recorder rec;
    auto port = OpenPort(OnePort(1, pty.slave()), 1, rec);
    QVERIFY2(port->Open(), port->ErrorText().c_str());

    const std::string frame = ":010300000001FB\r\n";
    port->PutBlock(std::span(reinterpret_cast<const std::uint8_t*>(frame.data()), frame.size()));
    QCOMPARE(pty.Receive(frame.size()), frame);

    const std::string answer("\x01\x03\x02\x00\xff\xf8\x04", 7);  // binary, 0xFF included
    pty.Send(answer.substr(0, 3));
    QTRY_COMPARE(rec.received, answer.substr(0, 3));
    pty.Send(answer.substr(3));
    QTRY_COMPARE(rec.received, answer);
    // Each event announced exactly what was waiting then.
    for (std::size_t i = 0; i < rec.events.size(); ++i) {
      const auto* data = std::get_if<port_event::DataAvailable>(&rec.events[i]);
      QVERIFY(data);
      QCOMPARE(std::size_t(data->waiting), rec.waitingAtEvent[i]);
    }
    QCOMPARE(port->CharsWaiting(), std::size_t(0));

    // Bytes left unread are dropped by a flush.
    port->SetOnTrigger(nullptr);
    pty.Send("xyz");
    QTRY_COMPARE(port->CharsWaiting(), std::size_t(3));
    port->FlushInBuffer();
    QCOMPARE(port->CharsWaiting(), std::size_t(0));
    std::uint8_t none[4];
    QCOMPARE(port->Read(none), std::size_t(0));
  }

  void timerTriggersFireOnceAndLateTimersNever() {
    Pty pty;
    QVERIFY(pty.ok());
    Recorder rec;
    auto port = OpenPort(OnePort(1, pty.slave()), 1, rec);
    QVERIFY(port->Open());
    const std::uint16_t a = port->AddTimerTrigger();
    const std::uint16_t b = port->AddTimerTrigger();
    const std::uint16_t c = port->AddTimerTrigger();
    QVERIFY(a != 0 && b != 0 && c != 0 && a != b && b != c && a != c);

    // The trigger rules are the core's trigger table (tested on ticks); here
    // they run on the real clock. "Never fired" is shown by a later trigger
    // firing first, not by waiting.
    // A new trigger is inactive; armed ones fire once, the shorter first.
    port->Arm(a, 3);
    port->Arm(b, 1);
    QTRY_COMPARE(rec.Timers(), (std::vector<std::uint16_t>{b, a}));
    port->Arm(c, 5);  // a repeating a would fire again before c
    QTRY_COMPARE(rec.Timers(), (std::vector<std::uint16_t>{b, a, c}));

    // Re-armed later: the first arming never fires. Disarmed: never fires.
    rec.events.clear();
    port->Arm(a, 2);
    port->Arm(a, 7);
    port->Arm(b, 1);
    port->Disarm(b);
    port->Arm(c, 4);
    QTRY_COMPARE(rec.Timers(), (std::vector<std::uint16_t>{c, a}));

    // A handler may re-arm its own trigger.
    int fired = 0;
    port->SetOnTrigger([&](ComPort& p, const PortEvent& e) {
      const auto* timer = std::get_if<port_event::TimerExpired>(&e);
      if (timer && timer->trigger == c && ++fired < 3) p.Arm(c, 1);
    });
    port->Arm(c, 1);
    QTRY_COMPARE(fired, 3);

    // Closing drops the armed triggers: after reopening, a later trigger fires alone.
    rec.events.clear();
    rec.Attach(*port);
    port->Arm(a, 1);
    port->Close();
    QVERIFY(!port->IsOpen());
    QVERIFY(port->Open());
    const std::uint16_t d = port->AddTimerTrigger();
    port->Arm(d, 3);
    QTRY_COMPARE(rec.Timers(), std::vector<std::uint16_t>{d});
    QVERIFY(rec.errors.empty());
  }

  // The device goes away while open: one error, the port closed, no busy loop.
  void farSideClosingGivesOneErrorAndClosesThePort() {
    Pty pty;
    QVERIFY(pty.ok());
    Recorder rec;
    auto port = OpenPort(OnePort(2, pty.slave()), 2, rec);
    QVERIFY(port->Open());
    const std::uint16_t t = port->AddTimerTrigger();
    port->Arm(t, 4);

    pty.CloseMaster();
    QTRY_COMPARE(rec.errors.size(), std::size_t(1));
    QVERIFY(!port->IsOpen());
    QVERIFY(QString::fromStdString(rec.errors[0]).contains("COM2"));
    QCOMPARE(port->ErrorText(), rec.errors[0]);

    const double before = CpuSeconds();
    QTest::qWait(400);
    QVERIFY2(CpuSeconds() - before < 0.2, "the port keeps the processor busy after the failure");
    QCOMPARE(rec.errors.size(), std::size_t(1));
    QVERIFY(rec.Timers().empty());  // its armed trigger went with it
    port->PutBlock(std::vector<std::uint8_t>{1, 2, 3});  // harmless on a closed port
  }

  void failedOpeningsSayWhy() {
    struct Case {
      PortPaths paths;
      int com;
      const char* mustContain;
    };
    const Case cases[] = {
        {OnePort(4, "/nonexistent/ttyUSB9"), 4, "No such file or directory"},
        {OnePort(4, "/nonexistent/ttyUSB9"), 5, "COM5"},  // nothing mapped to COM5
        {OnePort(6, "/dev/null"), 6, "/dev/null"},        // not a terminal: refused, not hidden
    };
    for (const auto& c : cases) {
      Recorder rec;
      auto port = OpenPort(c.paths, c.com, rec);
      QVERIFY(!port->Open());
      QVERIFY(!port->IsOpen());
      QVERIFY2(QString::fromStdString(port->ErrorText()).contains(c.mustContain), port->ErrorText().c_str());
      QVERIFY(rec.errors.empty());
    }
  }

  void permissionFailuresExplainTheDialoutGroup() {
    const std::string denied = OpenFailureText(QSerialPort::PermissionError, "Permission denied", true);
    QVERIFY(QString::fromStdString(denied).startsWith("Permission denied"));
    QVERIFY(QString::fromStdString(denied).contains(
        "add your user to the dialout group: sudo usermod -aG dialout $USER, then log in again"));
    const std::string locked =
        OpenFailureText(QSerialPort::PermissionError, "Permission error while locking the device", false);
    QVERIFY(!QString::fromStdString(locked).contains("dialout"));
    QVERIFY(QString::fromStdString(locked).contains("in use"));
  }
};

QTEST_GUILESS_MAIN(TestQtComPort)
#include "tst_qtcomport.moc"
