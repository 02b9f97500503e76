// The transparent TCP port and the Modbus TCP gateway port, through the port
// map as the program opens them, against a server of the test on 127.0.0.1
// (the kernel takes the connection, so the port's blocking open needs no
// second thread). The exchange runs on the port's real trigger clock; every
// wait is bounded.
#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/exchange/exchange.h"
#include "core/exchange/requests.h"
#include "core/modbus/mbap.h"
#include "core/text/messages.h"
#include "serial/port_map.h"
#include "serial/socket_port.h"
#include "support/port_paths.h"

using namespace kx;

namespace {

const LineFormat kRtu{9600, 8, Parity::None, 1, FrameForm::Rtu};
const LineFormat kAscii{9600, 7, Parity::Even, 1, FrameForm::Ascii};

QByteArray Raw(const Bytes& b) { return QByteArray(reinterpret_cast<const char*>(b.data()), static_cast<qsizetype>(b.size())); }
Bytes BytesOf(const QByteArray& a) { return Bytes(a.begin(), a.end()); }

// Runs the event loop until `done` holds or `ms` passed; whether it holds.
template <typename Done>
bool WaitFor(Done done, int ms = 3000) {
  QElapsedTimer t;
  t.start();
  while (!done()) {
    if (t.elapsed() > ms) return false;
    QTest::qWait(2);
  }
  return true;
}

// The server side: takes one connection at a time and keeps what it receives.
class Peer {
 public:
  Peer() {
    server_.listen(QHostAddress::LocalHost, 0);
    QObject::connect(&server_, &QTcpServer::newConnection, &server_, [this] {
      conn_ = server_.nextPendingConnection();
      ++connections_;
      got_.clear();
      QObject::connect(conn_, &QTcpSocket::readyRead, &server_, [this] { got_ += conn_->readAll(); });
    });
  }
  std::string Path(const std::string& scheme, const std::string& suffix = {}) const {
    return scheme + "://127.0.0.1:" + std::to_string(server_.serverPort()) + suffix;
  }
  // Waits until `n` bytes came in (bounded) and takes them.
  Bytes Take(qsizetype n) {
    WaitFor([&] { return got_.size() >= n; });
    const QByteArray taken = got_.left(n);
    got_.remove(0, taken.size());
    return BytesOf(taken);
  }
  void Send(const Bytes& b) {
    conn_->write(Raw(b));
    conn_->flush();
  }
  QTcpSocket* conn() const { return conn_; }
  int connections() const { return connections_; }
  QByteArray& got() { return got_; }

 private:
  QTcpServer server_;
  QTcpSocket* conn_ = nullptr;
  QByteArray got_;
  int connections_ = 0;
};

// A port of the map on COM1 with an exchange and what happened on it.
struct Line {
  explicit Line(const std::string& path) : port(serial::MakeMappedPort(test::OnePort(1, path))), exchange(*port) {
    port->SetComNumber(1);
    port->SetOnTrigger([this](ComPort&, const PortEvent& e) {
      if (auto a = exchange.Handle(e)) answers.push_back(std::move(*a));
    });
    port->SetOnError([this](const std::string& text) {
      errors.push_back(text);
      if (auto a = exchange.LineLost()) answers.push_back(std::move(*a));
    });
  }
  bool Open() {
    if (!port->Open()) return false;
    exchange.Opened();
    return true;
  }
  // Waits (bounded) for the pending request's answer.
  std::optional<Answer> Await() {
    if (!WaitFor([&] { return !answers.empty(); }, 5000)) return std::nullopt;
    Answer a = answers.front();
    answers.erase(answers.begin());
    return a;
  }

  std::unique_ptr<ComPort> port;
  Exchange exchange;
  std::vector<Answer> answers;
  std::vector<std::string> errors;
};

// The MBAP frame the gateway port sends for a serial request, read from the peer.
mbap::Frame TakeMbap(Peer& peer) {
  mbap::Reader reader;
  std::optional<mbap::Frame> frame;
  WaitFor([&] {
    reader.Add(BytesOf(peer.got()));
    peer.got().clear();
    frame = reader.Next();
    return frame.has_value();
  });
  return frame.value_or(mbap::Frame{});
}

Bytes Mbap(std::uint16_t transaction, std::uint8_t unit, const Bytes& pdu) {
  return mbap::BuildFrame(transaction, unit, pdu).value();
}

}  // namespace

class TcpPortsTest : public QObject {
  Q_OBJECT

 private slots:
  // Bytes as on the wire both ways, an answer split across segments, and the
  // line settings accepted while nothing reaches the server but the frames.
  void transparentLineCarriesFramesAsOnTheWire() {
    Peer peer;
    Line line(peer.Path("tcp"));
    QVERIFY(line.Open());
    QCOMPARE(line.port->Traits(), (LineTraits{false, true}));
    line.port->SetBaud(19200);  // the server's setting: accepted, not passed on
    line.port->SetParity(Parity::Odd);
    QVERIFY(line.port->IsOpen());

    ExchangeRequest request = ReadRequest(kRtu, 2, 0x4700, 2);
    const Bytes sent = request.frame;
    line.exchange.Send(std::move(request));
    QCOMPARE(peer.Take(static_cast<qsizetype>(sent.size())), sent);
    QTest::qWait(20);
    QVERIFY(peer.got().isEmpty());  // nothing else went out

    const Bytes answer = BuildRtuFrame(Bytes{0x02, 0x03, 0x04, 0x01, 0x2C, 0x00, 0x0A});
    peer.Send(Bytes(answer.begin(), answer.begin() + 3));
    QTRY_COMPARE_WITH_TIMEOUT(line.exchange.Received().size(), std::size_t{3}, 3000);
    // Longer than the re-arm wait: a gap in the stream does not end the answer.
    QTest::qWait((2 + kNetworkAllowanceTicks) * kTickMs + 60);
    QVERIFY(line.answers.empty());
    peer.Send(Bytes(answer.begin() + 3, answer.end()));
    const auto got = line.Await();
    QVERIFY(got && got->Ok());
    QCOMPARE(got->Words(), (std::vector<std::uint16_t>{300, 10}));
  }

  // A lost connection is told once and closes the port; the next opening
  // connects again.
  void lostConnectionIsToldOnceAndReopeningConnects() {
    for (const char* scheme : {"tcp", "modbus-tcp"}) {
      Peer peer;
      Line line(peer.Path(scheme));
      QVERIFY(line.Open());
      QTRY_VERIFY_WITH_TIMEOUT(peer.conn() != nullptr, 3000);
      line.exchange.Send(ReadRequest(kRtu, 1, 0x4700, 1));
      peer.conn()->disconnectFromHost();
      QTRY_COMPARE_WITH_TIMEOUT(line.errors.size(), std::size_t{1}, 3000);
      QTest::qWait(50);
      QCOMPARE(line.errors.size(), std::size_t{1});
      QVERIFY(!line.port->IsOpen());
      QVERIFY2(line.errors[0].find("COM1 (" + peer.Path(scheme) + ") was disconnected") != std::string::npos,
               line.errors[0].c_str());
      QVERIFY(line.Open());
      QTRY_COMPARE_WITH_TIMEOUT(peer.connections(), 2, 3000);
    }
  }

  // A refused connection fails at once with the system's reason.
  void refusedConnectionIsAClearError() {
    std::string path;
    {
      Peer gone;
      path = gone.Path("modbus-tcp");
    }
    Line line(path);
    QElapsedTimer t;
    t.start();
    QVERIFY(!line.Open());
    QVERIFY(t.elapsed() < serial::SocketPort::kConnectTimeoutMs);
    const std::string error = line.port->ErrorText();
    QVERIFY2(error.find("Cannot open COM1 (" + path + "): Connection refused") != std::string::npos, error.c_str());
  }

  // Each request as MBAP with a new transaction id and the address as unit id;
  // answers of another transaction or unit dropped; the answer handed back
  // in the request's form with its check digits, in RTU and in ASCII.
  void gatewayTranslatesRequestsAndAnswers() {
    Peer peer;
    Line line(peer.Path("modbus-tcp"));
    QVERIFY(line.Open());
    QCOMPARE(line.port->Traits(), (LineTraits{false, true, true}));
    std::uint16_t previous = 0;
    for (const LineFormat& format : {kRtu, kAscii}) {
      line.exchange.Send(IdentifyRequest(format, 7));
      const mbap::Frame request = TakeMbap(peer);
      QCOMPARE(request.unit, std::uint8_t{7});
      QCOMPARE(request.pdu, (Bytes{0x67, 0x00, 0x12, 0x00, 0x03}));
      QVERIFY(request.transaction != previous);
      previous = request.transaction;
      const Bytes pdu{0x67, 0x06, 0x00, 0x02, 0x00, 0x02, 0x00, 0x00};  // a KX3
      peer.Send(Mbap(static_cast<std::uint16_t>(request.transaction - 1), 7, {0x67, 0x02, 0x00, 0x41}));
      peer.Send(Mbap(request.transaction, 8, {0x67, 0x02, 0x00, 0x41}));
      const Bytes right = Mbap(request.transaction, 7, pdu);
      peer.Send(Bytes(right.begin(), right.begin() + 5));  // split inside the header
      QTest::qWait(30);
      peer.Send(Bytes(right.begin() + 5, right.end()));
      const auto got = line.Await();
      QVERIFY(got.has_value());
      QVERIFY2(got->Ok(), got->FailureText().c_str());
      QCOMPARE(got->Words(), (std::vector<std::uint16_t>{2, 2, 0}));
      QCOMPARE(IdentifiedModel(*got), std::optional<std::uint8_t>(0x43));
    }
    // A write: the echo of the request comes back as the serial echo.
    line.exchange.Send(WriteRequest(kRtu, 7, 0x4722, 5));
    const mbap::Frame write = TakeMbap(peer);
    peer.Send(Mbap(write.transaction, 7, write.pdu));
    const auto echoed = line.Await();
    QVERIFY(echoed && echoed->Ok());
  }

  // The gateway's own exceptions mean no answer: the request ends at once as a
  // time-out, with the time-out text. A broadcast expects no answer, whatever comes.
  void gatewayFailuresAndBroadcastsEndByTheWait() {
    Peer peer;
    Line line(peer.Path("modbus-tcp"));
    QVERIFY(line.Open());
    for (const std::uint8_t code : {mbap::kGatewayPathUnavailable, mbap::kGatewayTargetFailed}) {
      line.exchange.Send(ReadRequest(kRtu, 3, 0x4700, 2));
      const mbap::Frame request = TakeMbap(peer);
      QElapsedTimer t;
      t.start();
      peer.Send(Mbap(request.transaction, 3, {0x83, code}));
      const auto got = line.Await();
      QVERIFY(t.elapsed() < 2 * kTickMs);  // at once, not at the end of the wait
      QVERIFY(got.has_value());
      QCOMPARE(got->failure, Failure::TimedOut);
      QCOMPARE(got->FailureText(), std::string(Text(Msg::DataTimeOutError)));
      QVERIFY(got->raw.empty());
    }
    // A controller's own exception goes through.
    line.exchange.Send(ReadRequest(kRtu, 3, 0x4700, 2));
    const mbap::Frame read = TakeMbap(peer);
    peer.Send(Mbap(read.transaction, 3, {0x83, 0x02}));
    const auto exception = line.Await();
    QVERIFY(exception.has_value());
    QCOMPARE(exception->failure, Failure::Exception);
    QCOMPARE(exception->exceptionCode, std::uint8_t{2});

    line.exchange.Send(BroadcastWriteRequest(kRtu, 0x4722, 1));
    const mbap::Frame broadcast = TakeMbap(peer);
    QCOMPARE(broadcast.unit, std::uint8_t{0});
    peer.Send(Mbap(broadcast.transaction, 0, broadcast.pdu));
    const auto ack = line.Await();
    QVERIFY(ack.has_value());
    QCOMPARE(ack->end, AnswerEnd::TimedOut);
    QVERIFY(ack->raw.empty());
  }

  // A stream that is not Modbus TCP closes the port with a message.
  void brokenGatewayStreamClosesThePort() {
    Peer peer;
    Line line(peer.Path("modbus-tcp"));
    QVERIFY(line.Open());
    line.exchange.Send(ReadRequest(kRtu, 1, 0x4700, 1));
    const mbap::Frame request = TakeMbap(peer);
    peer.Send(Bytes{static_cast<std::uint8_t>(request.transaction >> 8), static_cast<std::uint8_t>(request.transaction),
                    0x00, 0x01, 0x00, 0x03, 0x01, 0x03, 0x00});  // protocol 1
    QTRY_COMPARE_WITH_TIMEOUT(line.errors.size(), std::size_t{1}, 3000);
    QVERIFY(!line.port->IsOpen());
    QVERIFY2(line.errors[0].find("not Modbus TCP") != std::string::npos, line.errors[0].c_str());
    QCOMPARE(line.answers.size(), std::size_t{1});
    QCOMPARE(line.answers[0].failure, Failure::LineLost);
  }

  // ?echo: the echo is dropped and checked, over either kind of server.
  void echoingLinesDropTheEchoAndCheckIt() {
    Peer peer;
    Line line(peer.Path("tcp", "?echo"));
    QVERIFY(line.Open());
    QCOMPARE(line.port->Traits(), (LineTraits{true, true}));
    const Bytes answer = BuildRtuFrame(Bytes{0x01, 0x03, 0x02, 0x00, 0x2A});
    ExchangeRequest request = ReadRequest(kRtu, 1, 0x4700, 1);
    Bytes sent = request.frame;
    line.exchange.Send(std::move(request));
    peer.Send(peer.Take(static_cast<qsizetype>(sent.size())));
    peer.Send(answer);
    auto got = line.Await();
    QVERIFY(got && got->Ok());
    QCOMPARE(got->Word(0), std::optional<std::uint16_t>(42));

    request = ReadRequest(kRtu, 1, 0x4700, 1);
    sent = request.frame;
    line.exchange.Send(std::move(request));
    peer.Take(static_cast<qsizetype>(sent.size()));
    peer.Send(answer);  // no echo
    got = line.Await();
    QVERIFY(got.has_value());
    QCOMPARE(got->failure, Failure::LineEcho);
    QCOMPARE(got->FailureText(), std::string(Text(Msg::LineEchoWrong)));

    // A gateway that echoes the request frame before the answer.
    Peer gateway;
    Line viaGateway(gateway.Path("modbus-tcp", "?echo"));
    QVERIFY(viaGateway.Open());
    viaGateway.exchange.Send(ReadRequest(kAscii, 1, 0x4700, 1));
    const mbap::Frame frame = TakeMbap(gateway);
    gateway.Send(Mbap(frame.transaction, 1, frame.pdu));
    gateway.Send(Mbap(frame.transaction, 1, {0x03, 0x02, 0x00, 0x2A}));
    got = viaGateway.Await();
    QVERIFY(got && got->Ok());
    QCOMPARE(got->Word(0), std::optional<std::uint16_t>(42));
  }
};

QTEST_GUILESS_MAIN(TcpPortsTest)
#include "tst_tcpports.moc"
