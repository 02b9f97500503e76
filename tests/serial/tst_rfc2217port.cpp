// The network port (RFC 2217) against a scripted device server in a thread of
// the test, and against Debian's ser2net serving a pseudo-terminal whose
// master side the test holds.
#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/line/rfc2217.h"
#include "serial/port_map.h"
#include "serial/rfc2217_port.h"
#include "support/port_paths.h"
#include "support/serial_line.h"

using namespace kx;
using namespace kx::serial;
namespace r = kx::rfc2217;

namespace {

using Bytes = r::Bytes;

// A device server on 127.0.0.1 in its own thread (the port blocks while it
// opens, so the server cannot share the test's event loop). It answers the
// option negotiation, records the COM-PORT-OPTION commands and the data it
// receives, sends what the test queues, and can drop the client.
class ScriptedServer {
 public:
  explicit ScriptedServer(bool offerComPort = true) : offerComPort_(offerComPort) {
    listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ::bind(listen_, reinterpret_cast<sockaddr*>(&a), len);
    ::listen(listen_, 1);
    ::getsockname(listen_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this] { Run(); });
  }
  ~ScriptedServer() {
    stop_ = true;
    thread_.join();
    ::close(listen_);
  }

  std::string Url() const { return "rfc2217://127.0.0.1:" + std::to_string(port_); }
  std::vector<r::ComPortMessage> Commands() {
    std::lock_guard lock(mutex_);
    return commands_;
  }
  Bytes Data() {
    std::lock_guard lock(mutex_);
    return data_;
  }
  void SendToClient(const Bytes& raw) {
    std::lock_guard lock(mutex_);
    outbox_.insert(outbox_.end(), raw.begin(), raw.end());
  }
  void DropClient() { drop_ = true; }

  // The last value the client set with `command`, or -1.
  long Last(r::Command command) {
    long value = -1;
    for (const auto& c : Commands())
      if (c.command == command) value = c.value;
    return value;
  }

 private:
  void Run() {
    int client = -1;
    std::set<std::uint8_t> local{r::kOptBinary, r::kOptSuppressGoAhead};
    std::set<std::uint8_t> remote{r::kOptBinary, r::kOptSuppressGoAhead};
    if (offerComPort_) remote.insert(r::kOptComPort);
    r::Decoder decoder;
    r::Negotiator negotiator(local, remote);
    while (!stop_) {
      if (client < 0) {
        pollfd p{listen_, POLLIN, 0};
        if (::poll(&p, 1, 10) > 0) client = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
        decoder = r::Decoder{};  // each client starts afresh
        negotiator = r::Negotiator(local, remote);
        continue;
      }
      if (drop_) {
        ::close(client);
        client = -1;
        drop_ = false;
        continue;
      }
      {
        std::lock_guard lock(mutex_);
        if (!outbox_.empty()) {
          (void)!::write(client, outbox_.data(), outbox_.size());
          outbox_.clear();
        }
      }
      pollfd p{client, POLLIN, 0};
      if (::poll(&p, 1, 5) <= 0) continue;
      std::uint8_t buf[512];
      const ssize_t n = ::read(client, buf, sizeof buf);
      if (n <= 0) {
        ::close(client);
        client = -1;
        continue;
      }
      std::vector<r::Item> items;
      decoder.Feed(std::span(buf, static_cast<std::size_t>(n)), items);
      Bytes answer;
      std::lock_guard lock(mutex_);
      for (const auto& item : items) {
        if (item.kind == r::Item::Kind::Data) data_.insert(data_.end(), item.bytes.begin(), item.bytes.end());
        if (item.kind == r::Item::Kind::Negotiation) {
          const Bytes a = negotiator.Receive(item.verb, item.option);
          answer.insert(answer.end(), a.begin(), a.end());
        }
        if (item.kind == r::Item::Kind::Subnegotiation && item.option == r::kOptComPort) {
          if (const auto msg = r::ParseComPort(item.bytes)) {
            commands_.push_back(*msg);
            const Bytes a = r::ComPortReply(msg->command, msg->value);  // confirm what was asked
            answer.insert(answer.end(), a.begin(), a.end());
          }
        }
      }
      if (!answer.empty()) (void)!::write(client, answer.data(), answer.size());
    }
    if (client >= 0) ::close(client);
  }

  bool offerComPort_;
  int listen_ = -1;
  std::uint16_t port_ = 0;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> drop_{false};
  std::mutex mutex_;
  std::vector<r::ComPortMessage> commands_;
  Bytes data_;
  Bytes outbox_;
};

using Recorder = kx::test::PortRecorder;

std::unique_ptr<ComPort> MakePort(int com, const std::string& url, Recorder& rec) {
  auto port = MakeMappedPort(kx::test::OnePort(com, url));
  rec.Attach(*port);
  port->SetComNumber(static_cast<std::uint16_t>(com));
  return port;
}

void Put(ComPort& port, const std::string& bytes) {
  port.PutBlock(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
}

// ser2net serving the slave of a pseudo-terminal on a loopback port.
class Ser2net {
 public:
  bool Start() {
    const QString exe = QStandardPaths::findExecutable("ser2net");
    if (exe.isEmpty() || !dir_.isValid() || !pty_.ok()) return false;
    QTcpServer probe;  // a free port
    if (!probe.listen(QHostAddress::LocalHost)) return false;
    port_ = probe.serverPort();
    probe.close();
    const QString config = dir_.filePath("ser2net.yaml");
    QFile f(config);
    if (!f.open(QIODevice::WriteOnly)) return false;
    f.write(QStringLiteral("connection: &kx\n"
                           "  accepter: telnet(rfc2217),tcp,127.0.0.1,%1\n"
                           "  enable: on\n"
                           "  connector: serialdev,%2,9600n81,local\n")
                .arg(port_)
                .arg(QString::fromStdString(pty_.slave()))
                .toUtf8());
    f.close();
    process_.setProcessChannelMode(QProcess::MergedChannels);
    process_.start(exe, {"-n", "-u", "-P", dir_.filePath("pid"), "-c", config});
    if (!process_.waitForStarted(3000)) return false;
    // Ready once it accepts connections.
    for (int i = 0; i < 100; ++i) {
      QTcpSocket s;
      s.connectToHost(QHostAddress::LocalHost, port_);
      if (s.waitForConnected(100)) {
        s.abort();
        QTest::qWait(50);
        return true;
      }
      QTest::qWait(30);
    }
    return false;
  }
  ~Ser2net() { Stop(); }
  void Stop() {
    if (process_.state() == QProcess::NotRunning) return;
    process_.terminate();
    if (!process_.waitForFinished(3000)) process_.kill();
    process_.waitForFinished(1000);
  }
  std::string Url() const { return "rfc2217://127.0.0.1:" + std::to_string(port_); }
  // The settings on the line match these.
  bool LineIs(speed_t speed, bool twoStop, bool odd) const {
    const termios t = pty_.Line();
    return cfgetospeed(&t) == speed && bool(t.c_cflag & CSTOPB) == twoStop && bool(t.c_cflag & PARODD) == odd;
  }
  void Send(const std::string& bytes) const { pty_.Send(bytes); }
  std::string Receive(std::size_t count) const { return pty_.Receive(count, std::chrono::seconds(2)); }
  QByteArray Output() { return process_.readAll(); }

 private:
  QTemporaryDir dir_;
  QProcess process_;
  kx::test::Pty pty_;
  quint16 port_ = 0;
};

}  // namespace

class TestRfc2217Port : public QObject {
  Q_OBJECT

 private slots:
  void settingsTravelAtOpenAndAtEveryChange() {
    ScriptedServer server;
    Recorder rec;
    auto port = MakePort(5, server.Url(), rec);
    port->SetBaud(9600);
    port->SetDatabits(7);
    port->SetParity(Parity::Even);
    port->SetStopbits(1);
    QVERIFY2(port->Open(), port->ErrorText().c_str());
    QTRY_COMPARE(server.Last(r::Command::SetStopsize), 1L);
    QCOMPARE(server.Last(r::Command::SetBaudrate), 9600L);
    QCOMPARE(server.Last(r::Command::SetDatasize), 7L);
    QCOMPARE(server.Last(r::Command::SetParity), long(r::ParityCode::Even));
    QTRY_VERIFY(server.Last(r::Command::SetControl) >= 0);
    bool noFlowControl = false;
    for (const auto& c : server.Commands())
      noFlowControl |= c.command == r::Command::SetControl && c.value == std::uint32_t(r::ControlCode::NoFlowControl);
    QVERIFY(noFlowControl);

    port->SetBaud(38400);
    port->SetDatabits(8);
    port->SetParity(Parity::Odd);
    port->SetStopbits(2);
    QTRY_COMPARE(server.Last(r::Command::SetStopsize), long(r::StopCode::Two));
    QCOMPARE(server.Last(r::Command::SetBaudrate), 38400L);
    QCOMPARE(server.Last(r::Command::SetDatasize), 8L);
    QCOMPARE(server.Last(r::Command::SetParity), long(r::ParityCode::Odd));

    port->FlushInBuffer();
    QTRY_COMPARE(server.Last(r::Command::PurgeData), long(r::PurgeCode::Receive));
    QVERIFY(rec.errors.empty());
    QVERIFY(port->IsOpen());
  }

  void dataKeepsEveryByteBothWays() {
    ScriptedServer server;
    Recorder rec;
    auto port = MakePort(5, server.Url(), rec);
    QVERIFY2(port->Open(), port->ErrorText().c_str());
    const std::string out("\x01\xff\x10\xff\xff\x0d\x0a", 7);
    Put(*port, out);
    QTRY_COMPARE(server.Data(), Bytes(out.begin(), out.end()));

    const std::string in("\x01\x03\xff\x00\xff", 5);
    Bytes wire = r::Escape(Bytes(in.begin(), in.end()));
    // A settings confirmation and a modem-state notice between the data.
    const Bytes note = r::ComPortReply(r::Command::NotifyModemstate, 0x30);
    wire.insert(wire.begin() + 2, note.begin(), note.end());
    server.SendToClient(wire);
    QTRY_COMPARE(rec.received, in);
  }

  void lostConnectionGivesOneErrorAndClosesThePort() {
    ScriptedServer server;
    Recorder rec;
    auto port = MakePort(7, server.Url(), rec);
    QVERIFY(port->Open());
    const std::uint16_t t = port->AddTimerTrigger();
    Put(*port, ":01030000000AF2\r\n");
    port->Arm(t, 18);
    QTRY_VERIFY(!server.Data().empty());
    server.DropClient();  // mid-exchange: the answer never comes
    QTRY_COMPARE(rec.errors.size(), std::size_t(1));
    QVERIFY(!port->IsOpen());
    QVERIFY(QString::fromStdString(rec.errors[0]).contains("COM7"));
    QTest::qWait(300);
    QCOMPARE(rec.errors.size(), std::size_t(1));
    // It opens again once the server is back.
    QVERIFY2(port->Open(), port->ErrorText().c_str());
  }

  void openingFailsWithAReason() {
    ScriptedServer refusing(false);
    QTcpServer closed;
    QVERIFY(closed.listen(QHostAddress::LocalHost));
    const std::string nobody = "rfc2217://127.0.0.1:" + std::to_string(closed.serverPort());
    closed.close();  // nobody listens there now
    struct Case {
      std::string url;
      const char* mustContain;
    } cases[] = {
        {refusing.Url(), "refused serial port control"},
        {nobody, "refused"},
    };
    for (const auto& c : cases) {
      Recorder rec;
      auto port = MakePort(3, c.url, rec);
      QVERIFY(!port->Open());
      QVERIFY(!port->IsOpen());
      QVERIFY2(QString::fromStdString(port->ErrorText()).contains("COM3"), port->ErrorText().c_str());
      QVERIFY2(QString::fromStdString(port->ErrorText()).contains(c.mustContain), port->ErrorText().c_str());
    }
  }

  // An independent server: ser2net puts our settings on a real (pseudo)
  // terminal. A pty shows baud, stop bits and odd parity, never data bits
  // or even parity.
  void againstSer2net() {
    Ser2net ser2net;
    if (!ser2net.Start()) QSKIP("ser2net is not available");
    Recorder rec;
    auto port = MakePort(4, ser2net.Url(), rec);
    port->SetBaud(19200);
    port->SetDatabits(8);
    port->SetParity(Parity::Odd);
    port->SetStopbits(2);
    QVERIFY2(port->Open(), port->ErrorText().c_str());
    QTRY_VERIFY_WITH_TIMEOUT(ser2net.LineIs(B19200, true, true), 3000);

    const std::string request(":01\xff\x03\r\n", 7);
    Put(*port, request);
    QCOMPARE(ser2net.Receive(request.size()), request);
    const std::string answer("\x01\x03\x02\xff\xff\x00", 6);
    ser2net.Send(answer);
    QTRY_COMPARE(rec.received, answer);

    port->SetBaud(2400);
    port->SetStopbits(1);
    port->SetParity(Parity::Even);  // PARODD goes (no parity would leave it: PARENB alone decides then)
    QTRY_VERIFY_WITH_TIMEOUT(ser2net.LineIs(B2400, false, false), 3000);

    // The server goes away mid-exchange.
    Put(*port, request);
    ser2net.Stop();
    QTRY_COMPARE(rec.errors.size(), std::size_t(1));
    QVERIFY(!port->IsOpen());
    QTest::qWait(200);
    QCOMPARE(rec.errors.size(), std::size_t(1));
  }
};

QTEST_GUILESS_MAIN(TestRfc2217Port)
#include "tst_rfc2217port.moc"
