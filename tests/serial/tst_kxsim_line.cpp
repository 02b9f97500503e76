// The serial component against the controller simulator, end to end: over a
// pseudo-terminal (kxsim --link) and over the network (kxsim --listen, RFC
// 2217). Requests and answers are collected the way the program's receivers
// do: a timer trigger per request, re-armed on every chunk, ASCII complete on
// LF, RTU on its expected length.
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <string>
#include <vector>

#include "core/modbus/codec.h"
#include "serial/port_map.h"
#include "support/port_paths.h"

using namespace kx;
using namespace kx::serial;

namespace {

// kxsim on one line: a KX2 at 9600 7E1 ASCII and a KX3 at 19200 8N2 RTU.
class Simulator {
 public:
  // `network`: also serve the line as an RFC 2217 server on a free port.
  bool Start(bool network) {
    if (!dir_.isValid()) return false;
    QStringList args{"--link", dir_.filePath("line")};
    if (network) args << "--listen" << "127.0.0.1:0";
    args << "kx2@1:9600-7E1-ascii" << "kx3@5:19200-8N2-rtu";
    process_.start(KXSIM_PATH, args);
    if (!process_.waitForStarted(3000)) return false;
    QByteArray out;
    for (int i = 0; i < 100; ++i) {
      process_.waitForReadyRead(50);
      out += process_.readAllStandardOutput();
      const bool linked = out.contains("kxsim: line at " + dir_.filePath("line").toUtf8());
      const qsizetype at = out.indexOf("kxsim: line at rfc2217://");
      if (linked && !network) return true;
      if (linked && at >= 0 && out.indexOf('\n', at) > at) {
        const qsizetype from = at + qsizetype(sizeof("kxsim: line at ") - 1);
        url_ = out.mid(from, out.indexOf('\n', at) - from).trimmed().toStdString();
        return true;
      }
      if (process_.state() == QProcess::NotRunning) return false;
    }
    return false;
  }
  ~Simulator() {
    process_.terminate();
    if (!process_.waitForFinished(3000)) process_.kill();
  }
  std::string Link() const { return dir_.filePath("line").toStdString(); }
  const std::string& url() const { return url_; }

 private:
  QTemporaryDir dir_;
  QProcess process_;
  std::string url_;
};

struct Ask {
  const char* name;
  std::int32_t baud;
  int dataBits;
  Parity parity;
  int stopBits;
  bool rtu;
  std::uint8_t address;
  bool answers;
};

// One request from a port opened with the case's settings; the answer, or
// empty on a time-out.
Bytes Exchange(const std::string& path, const Ask& ask) {
  auto port = MakeMappedPort(kx::test::OnePort(1, path));
  port->SetComNumber(1);
  port->SetBaud(ask.baud);
  port->SetDatabits(ask.dataBits);
  port->SetParity(ask.parity);
  port->SetStopbits(ask.stopBits);
  if (!port->Open()) {
    qWarning("%s", port->ErrorText().c_str());
    return {};
  }
  const std::uint16_t timer = port->AddTimerTrigger();
  constexpr int kTicks = 6;
  Bytes answer;
  bool done = false;
  const std::size_t rtuLength = RtuReadAnswerLength(1);
  port->SetOnTrigger([&](ComPort& p, const PortEvent& e) {
    const auto* data = std::get_if<port_event::DataAvailable>(&e);
    if (!data) {
      done = true;
      return;
    }
    p.Disarm(timer);
    const std::size_t had = answer.size();
    answer.resize(had + data->waiting);
    answer.resize(had + p.Read(std::span(answer).subspan(had)));
    if (ask.rtu ? answer.size() >= rtuLength : (!answer.empty() && answer.back() == '\n'))
      done = true;
    else
      p.Arm(timer, kTicks);
  });
  port->PutBlock(BuildFrame(ask.rtu ? FrameForm::Rtu : FrameForm::Ascii, ReadRequestPdu(ask.address, 3, 0x4700, 1)));
  port->Arm(timer, kTicks);
  if (!QTest::qWaitFor([&] { return done; }, 5000)) qWarning("%s: neither an answer nor a time-out", ask.name);
  port->Close();
  return answer;
}

// The answer reads one register from `address`, its check right.
bool GoodAnswer(const Bytes& answer, const Ask& ask) {
  if (ask.rtu)
    return answer.size() == RtuReadAnswerLength(1) && answer[0] == ask.address && answer[1] == 3 &&
           answer[2] == 2 && RtuChecksumOk(answer);
  std::string text(answer.begin(), answer.end());
  if (text.size() != AsciiReadAnswerLength(1) || text.rfind(":" + HexByte(ask.address) + "0302", 0) != 0 ||
      text.substr(text.size() - 2) != "\r\n")
    return false;
  std::vector<char> hex(text.begin() + 1, text.end() - 2);
  Bytes bytes(hex.size() / 2);
  for (std::size_t i = 0; i < bytes.size(); ++i)
    bytes[i] = static_cast<std::uint8_t>(HexPairValue(hex[2 * i], hex[2 * i + 1]));
  return AsciiChecksumOk(bytes);
}

void Run(const std::string& path, const std::vector<Ask>& asks) {
  for (const Ask& ask : asks) {
    const Bytes answer = Exchange(path, ask);
    if (ask.answers)
      QVERIFY2(GoodAnswer(answer, ask), ask.name);
    else
      QVERIFY2(answer.empty(), ask.name);
  }
}

}  // namespace

class TestKxsimLine : public QObject {
  Q_OBJECT

 private slots:
  void overPseudoTerminal() {
    Simulator sim;
    QVERIFY(sim.Start(false));
    Run(sim.Link(), {
                        {"KX2, ASCII at its settings", 9600, 7, Parity::Even, 1, false, 1, true},
                        {"KX3, RTU at its settings", 19200, 8, Parity::None, 2, true, 5, true},
                        {"KX3 asked with one stop bit", 19200, 8, Parity::None, 1, true, 5, false},
                        {"KX2 asked at another baud rate", 4800, 7, Parity::Even, 1, false, 1, false},
                    });
  }

  // Over RFC 2217 the simulator sees every setting, data bits and parity too.
  void overNetwork() {
    Simulator sim;
    QVERIFY(sim.Start(true));
    QVERIFY(!sim.url().empty());
    Run(sim.url(), {
                       {"KX2, ASCII at its settings", 9600, 7, Parity::Even, 1, false, 1, true},
                       {"KX3, RTU at its settings", 19200, 8, Parity::None, 2, true, 5, true},
                       {"KX2 asked with 8 data bits", 9600, 8, Parity::Even, 1, false, 1, false},
                       {"KX2 asked without parity", 9600, 7, Parity::None, 1, false, 1, false},
                       {"KX2 asked with odd parity", 9600, 7, Parity::Odd, 1, false, 1, false},
                       {"KX3 asked with even parity", 19200, 8, Parity::Even, 2, true, 5, false},
                   });
  }
};

QTEST_GUILESS_MAIN(TestKxsimLine)
#include "tst_kxsim_line.moc"
