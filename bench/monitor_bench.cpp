// Exchanges per second of the monitor engine over a real pseudo-terminal
// against kxsim with line timing on, next to the line limit, to mbpoll polling
// the same simulated controller, and the CPU time the polling costs.
//
// For every case (1 or 4 controllers, 9600 or 38400 baud, ASCII or RTU) kxsim
// serves the controllers on a fresh line, the engine connects all of them and
// polls for a warm-up period (identification, the first parameter pages), then
// for the measured period. Through a metering port between the engine and the
// real port the bench sees every request and every received byte:
//
//   line limit   the time the line itself needs for the exchanges sent:
//                (request + answer characters) x bits per character / baud,
//                plus kxsim's turnaround for every answered exchange
//   ratio        elapsed time / line limit = limit rate / measured rate, as in
//                every benchmark here: 1.00 is the line's own limit, above is slower
//   latency      per exchange, from the request written to its last byte
//                received, less the line limit of that exchange: what the
//                port, the pseudo-terminal and kxsim add
//   gap          from the last byte of an answer to the next request: what the
//                engine (and the event loop) adds
//
// The machine's speed drifts (other jobs, a virtual machine's neighbours), so a
// case is measured in rounds: each round runs the engine, then the termios
// client, then mbpoll, one after the other, and the table shows each one's
// median round. Drift then touches all three alike, and the rounds line under
// a case shows how far the rounds spread.
//
// On a virtual machine an idle virtual CPU is halted, and waking it for the
// next byte can take hundreds of microseconds, more or less from one minute to
// the next: that swamps what is measured here. So the bench keeps every CPU
// busy with a spinning process of the idle scheduling class, which gives way
// at once to any other process (--let-cpus-sleep measures without them).
//
// With --traffic every round also runs the engine with the line traffic window
// open on its port (the tap, the log it feeds, the list and the figures
// refreshed on their timer; offscreen unless a display is set), the two runs
// one after the other in alternating order, and a second table sets the open
// window's exchange rate beside the closed one's: what the tap costs.
//
// Usage: monitor_bench [--seconds N] [--rounds N] [--warmup S] [--mbpoll-polls N]
//                      [--no-mbpoll] [--let-cpus-sleep] [--traffic] [--only CASE] [--kxsim PATH]
// CASE filters by a text such as "rtu", "38400" or "4x": a case runs when its
// name contains it.
#include <QApplication>
#include <QCoreApplication>
#include <QTimer>

#include <sched.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "awake_cpus.h"
#include "core/line/comport.h"
#include "core/line/line_format.h"
#include "core/monitor/monitor_engine.h"
#include "core/line/session.h"
#include "serial/qt_com_port.h"
#include "traffic/traffic_window.h"
#include "support/cpu_time.h"
#include "support/kxsim_process.h"
#include "support/port_paths.h"
#include "tap_port.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

using kx::test::CpuSeconds;

// What the line costs: characters x bits per character / baud, plus turnaround.
struct LineModel {
  int baud = 9600;
  int bitsPerChar = 10;
  double turnaround = 0.002;  // seconds; kxsim's default with --timing
  double WireSeconds(std::size_t chars) const {
    return static_cast<double>(chars) * bitsPerChar / baud;
  }
};

// Totals the metering port keeps; snapshots are subtracted.
struct Meter {
  std::uint64_t requests = 0;
  std::uint64_t answered = 0;  // requests that got at least one byte back
  std::uint64_t charsOut = 0;
  std::uint64_t charsIn = 0;
  std::uint64_t dataEvents = 0;
  double lineSeconds = 0;     // line limit of the closed exchanges
  double latencySeconds = 0;  // request written .. last byte received, answered exchanges
  double gapSeconds = 0;      // last byte received .. next request
  double maxExcess = 0;       // largest latency above the line limit
  std::uint64_t closed = 0;   // exchanges closed (by the next request)

  Meter operator-(const Meter& o) const {
    Meter m;
    m.requests = requests - o.requests;
    m.answered = answered - o.answered;
    m.charsOut = charsOut - o.charsOut;
    m.charsIn = charsIn - o.charsIn;
    m.dataEvents = dataEvents - o.dataEvents;
    m.lineSeconds = lineSeconds - o.lineSeconds;
    m.latencySeconds = latencySeconds - o.latencySeconds;
    m.gapSeconds = gapSeconds - o.gapSeconds;
    m.maxExcess = maxExcess;
    m.closed = closed - o.closed;
    return m;
  }
};

// A ComPort in front of the real one that times every exchange. An exchange
// is closed when the next request is written: its request size, the bytes that
// came back and the moments of both are then known.
class MeteredPort final : public kx::bench::TapPort {
 public:
  // The totals at the moment a request was written, before it was counted.
  // Between two marks lie whole exchanges only, none cut at either end.
  struct Mark {
    Clock::time_point at{};
    Meter meter;
  };

  MeteredPort(kx::ComPort& inner, LineModel line) : TapPort(inner), line_(line) {}

  // The next request written opens the measured window.
  void MarkNextRequest() { markNext_ = true; }
  const Mark& windowStart() const { return windowStart_; }
  const Mark& lastRequest() const { return lastRequest_; }

 private:
  void Raised(const kx::PortEvent& e) override {
    if (std::holds_alternative<kx::port_event::DataAvailable>(e)) {
      lastRx_ = Clock::now();
      ++meter_.dataEvents;
    }
  }
  void Written(std::span<const std::uint8_t> data) override {
    const Clock::time_point now = Clock::now();
    CloseExchange(now);
    lastRequest_ = Mark{now, meter_};
    if (markNext_) windowStart_ = lastRequest_;
    markNext_ = false;
    ++meter_.requests;
    meter_.charsOut += data.size();
    sent_ = now;
    sentChars_ = data.size();
    rxChars_ = 0;
    inFlight_ = true;
  }
  void BytesRead(std::size_t count) override {
    meter_.charsIn += count;
    rxChars_ += count;
  }

  void CloseExchange(Clock::time_point now) {
    if (!inFlight_) return;
    inFlight_ = false;
    ++meter_.closed;
    if (rxChars_ == 0) return;  // unanswered: a time-out, counted by the engine
    ++meter_.answered;
    const double limit = line_.WireSeconds(sentChars_ + rxChars_) + line_.turnaround;
    const double latency = Seconds(lastRx_ - sent_);
    meter_.lineSeconds += limit;
    meter_.latencySeconds += latency;
    meter_.gapSeconds += Seconds(now - lastRx_);
    meter_.maxExcess = std::max(meter_.maxExcess, latency - limit);
  }

  LineModel line_;
  Meter meter_;
  bool markNext_ = false;
  Mark windowStart_;
  Mark lastRequest_;
  bool inFlight_ = false;
  Clock::time_point sent_{};
  Clock::time_point lastRx_{};
  std::size_t sentChars_ = 0;
  std::size_t rxChars_ = 0;
};

struct Options {
  double seconds = 5;  // per round and client
  int rounds = 3;
  double warmup = 2;
  int mbpollPolls = 0;  // 0: as many as the line carries in `seconds`
  bool mbpoll = true;
  bool keepCpusAwake = true;
  bool traffic = false;
  std::string only;
  std::string kxsim = KXSIM_PATH;
};

struct Case {
  int devices = 1;
  int baud = 9600;
  bool rtu = false;
  std::string Name() const {
    return std::to_string(devices) + "x " + std::to_string(baud) + " " + (rtu ? "rtu" : "ascii");
  }
  // ASCII 7E1, RTU 8N1: ten bits per character either way.
  std::string Format() const { return std::to_string(baud) + (rtu ? "-8N1-rtu" : "-7E1-ascii"); }
};

struct EngineResult {
  bool ok = false;
  std::string problem;
  double elapsed = 0;
  Meter m;
  double cpuPerMinute = 0;
  std::uint32_t errors = 0;
  std::string errorText;
  std::uint64_t framesSeen = 0;  // by the traffic window, when it was open
};

// The controllers of a case: one KX2, or a KX1, KX2, KX3 and KX2 at 1..4.
std::vector<std::string> ControllerArgs(const Case& c) {
  static const char* kModels[] = {"kx2", "kx1", "kx3", "kx2"};
  std::vector<std::string> args;
  if (c.devices == 1) {
    args.push_back("kx2@1:" + c.Format());
  } else {
    args.push_back("kx1@1:" + c.Format());
    for (int d = 1; d < c.devices; ++d) args.push_back(std::string(kModels[d]) + "@" + std::to_string(d + 1) + ":" + c.Format());
  }
  return args;
}

void RunLoop(double seconds) {
  QTimer::singleShot(static_cast<int>(seconds * 1000), Qt::PreciseTimer, QCoreApplication::instance(),
                     [] { QCoreApplication::exit(0); });
  QCoreApplication::exec();
}

// The engine polls the case's controllers; with `trafficOpen` the line
// traffic window is open on its port meanwhile.
EngineResult RunEngine(const Options& o, const Case& c, bool trafficOpen = false) {
  EngineResult r;
  kx::test::ScratchDir dir;
  const std::string link = dir / "line";
  kx::test::KxsimProcess sim;
  std::vector<std::string> args{"--link", link, "--timing"};
  for (const std::string& a : ControllerArgs(c)) args.push_back(a);
  if (!sim.Start(o.kxsim, args)) {
    r.problem = "kxsim did not start";
    return r;
  }

  kx::Session session;
  session.params = kx::PortParams{1, c.baud, c.rtu ? 8 : 7, c.rtu ? 0 : 1, 1, c.rtu};
  kx::serial::QtComPort real(kx::test::OnePort(1, link));
  LineModel line{c.baud, 10, 0.002};
  MeteredPort port(real, line);
  std::unique_ptr<kx::traffic::TrafficWindow> traffic;
  if (trafficOpen) {
    traffic = std::make_unique<kx::traffic::TrafficWindow>(std::vector<kx::TrafficSource>{
        {[&real] { return &real; }, [&session] { return std::optional(kx::LineFormatOf(session.params)); }}});
    traffic->show();
  }
  kx::MonitorEngine engine(port, session);
  engine.Handle(kx::monitor_event::Reset{});
  for (int d = 0; d < c.devices; ++d)
    engine.Handle(kx::monitor_event::ChangeAddress{d, static_cast<std::uint16_t>(d + 1)});
  for (int d = 0; d < c.devices; ++d) engine.Handle(kx::monitor_event::ToggleConnect{d});

  RunLoop(o.warmup);
  for (int d = 0; d < c.devices; ++d) {
    if (!engine.Device(d).connected) {
      r.problem = "device " + std::to_string(d) + " dropped during warm-up: " + engine.statusText();
      return r;
    }
  }
  std::uint32_t errors0 = 0;
  for (int d = 0; d < c.devices; ++d) errors0 += engine.Device(d).errorCount;
  port.MarkNextRequest();
  const double cpu0 = CpuSeconds();
  const Clock::time_point t0 = Clock::now();
  RunLoop(o.seconds);
  r.cpuPerMinute = (CpuSeconds() - cpu0) / Seconds(Clock::now() - t0) * 60;
  // From the first request of the window to the last one written: whole
  // exchanges, so none in flight at either end inflates or deflates the rate.
  r.elapsed = Seconds(port.lastRequest().at - port.windowStart().at);
  r.m = port.lastRequest().meter - port.windowStart().meter;
  for (int d = 0; d < c.devices; ++d) r.errors += engine.Device(d).errorCount;
  r.errors -= errors0;
  r.errorText = engine.statusText();
  if (traffic) r.framesSeen = traffic->log().Added();
  engine.Handle(kx::monitor_event::Close{});
  r.ok = true;
  return r;
}

// Reads of the same block back to back by a client other than the engine.
struct RateResult {
  bool ok = false;
  std::string problem;
  int exchanges = 0;
  double elapsed = 0;
  double limitSeconds = 0;  // line limit of one exchange
};

// kxsim serving one KX2 at address 1 in the case's format on a fresh line.
struct OneKx2 {
  kx::test::ScratchDir dir;
  const std::string link = dir / "line";
  kx::test::KxsimProcess sim;
  bool Start(const Options& o, const Case& c) {
    return sim.Start(o.kxsim, {"--link", link, "--timing", "kx2@1:" + c.Format()});
  }
};

// mbpoll reading the same block the engine's PV/SV poll reads (4 registers at
// 0x4700) from one simulated KX2 in RTU. mbpoll waits its poll rate (at least
// 10 ms) between polls; one run with a list of the same slave address N times
// makes N polls back to back, which is the rate compared here.
RateResult RunMbpoll(const Options& o, const Case& c) {
  RateResult r;
  OneKx2 line;
  if (!line.Start(o, c)) {
    r.problem = "kxsim did not start";
    return r;
  }
  const LineModel model{c.baud, 10, 0.002};
  r.limitSeconds = model.WireSeconds(8 + 2 * 4 + 5) + model.turnaround;
  const int polls = o.mbpollPolls > 0 ? o.mbpollPolls : std::max(1, static_cast<int>(o.seconds / r.limitSeconds));
  std::string slaves = "1";
  for (int i = 1; i < polls; ++i) slaves += ",1";
  const std::string command = "mbpoll -m rtu -a " + slaves + " -0 -1 -t 4 -r 0x4700 -c 4 -b " +
                              std::to_string(c.baud) + " -P none -d 8 -s 1 -o 1 " + line.link + " 2>&1";
  const Clock::time_point t0 = Clock::now();
  FILE* p = popen(command.c_str(), "r");
  if (p == nullptr) {
    r.problem = "mbpoll did not start";
    return r;
  }
  char buf[512];
  int values = 0;
  std::string lastLine;
  while (fgets(buf, sizeof buf, p) != nullptr) {
    if (std::strncmp(buf, "[18176]:", 8) == 0) ++values;  // first register, 0x4700
    lastLine = buf;
  }
  const int status = pclose(p);
  r.elapsed = Seconds(Clock::now() - t0);
  r.exchanges = values;
  if (status != 0 || values == 0) {
    r.problem = "mbpoll failed (" + std::to_string(values) + " polls): " + lastLine;
    return r;
  }
  r.ok = true;
  return r;
}

// Process start-up and port opening of one mbpoll run, measured with a single
// poll, so that it can be taken out of the rate.
std::optional<double> MbpollStartup(const Options& o, const Case& c) {
  Options one = o;
  one.mbpollPolls = 1;
  const RateResult r = RunMbpoll(one, c);
  if (!r.ok) return std::nullopt;
  return r.elapsed - r.limitSeconds;
}

// A plain termios client (no Qt, no engine) reading the same 4 registers at
// 0x4700 back to back for `seconds`: what the pseudo-terminal and kxsim allow
// any master, to tell their cost apart from the port component's and the
// engine's.
RateResult RunRaw(const Options& o, const Case& c) {
  RateResult r;
  OneKx2 line;
  if (!line.Start(o, c)) return r;
  kx::test::RawSerialClient client;
  if (!client.Open(line.link, c.baud == 38400 ? B38400 : B9600)) return r;
  const kx::Bytes pdu = kx::ReadRequestPdu(1, kx::kFnRead, 0x4700, 4);
  const kx::Bytes frame = kx::BuildFrame(c.rtu ? kx::FrameForm::Rtu : kx::FrameForm::Ascii, pdu);
  const std::size_t answer = c.rtu ? 13 : 27;
  const LineModel model{c.baud, 10, 0.002};
  r.limitSeconds = model.WireSeconds(frame.size() + answer) + model.turnaround;
  const Clock::time_point t0 = Clock::now();
  const Clock::time_point end = t0 + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(o.seconds));
  while (Clock::now() < end) {
    if (!client.Write(frame)) return r;
    if (client.Read(answer, std::chrono::milliseconds(500)).size() != answer) return r;
    ++r.exchanges;
  }
  r.elapsed = Seconds(Clock::now() - t0);
  r.ok = true;
  return r;
}

bool ParseArgs(int argc, char** argv, Options& o) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto next = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
    const char* v = nullptr;
    if (a == "--seconds" && (v = next())) o.seconds = std::atof(v);
    else if (a == "--rounds" && (v = next())) o.rounds = std::max(1, std::atoi(v));
    else if (a == "--warmup" && (v = next())) o.warmup = std::atof(v);
    else if (a == "--mbpoll-polls" && (v = next())) o.mbpollPolls = std::max(1, std::atoi(v));
    else if (a == "--no-mbpoll") o.mbpoll = false;
    else if (a == "--let-cpus-sleep") o.keepCpusAwake = false;
    else if (a == "--traffic") o.traffic = true;
    else if (a == "--only" && (v = next())) o.only = v;
    else if (a == "--kxsim" && (v = next())) o.kxsim = v;
    else {
      std::fprintf(stderr,
                   "usage: monitor_bench [--seconds N] [--rounds N] [--warmup S] [--mbpoll-polls N]\n"
                   "                     [--no-mbpoll] [--let-cpus-sleep] [--traffic] [--only CASE] [--kxsim PATH]\n");
      return false;
    }
  }
  return o.seconds > 0 && o.warmup >= 0;
}

// A client's rate in one round and its ratio, elapsed / line limit.
struct Rate {
  double perSecond = 0;
  double ratio = 0;
};

// The round with the median ratio (the lower middle one for an even count).
template <typename T, typename Ratio>
const T& MedianRound(const std::vector<T>& rounds, Ratio ratio) {
  std::vector<const T*> sorted;
  for (const T& r : rounds) sorted.push_back(&r);
  std::sort(sorted.begin(), sorted.end(), [&](const T* a, const T* b) { return ratio(*a) < ratio(*b); });
  return *sorted[(sorted.size() - 1) / 2];
}

std::string RateText(const std::vector<Rate>& rounds, bool failed) {
  if (failed) return "failed";
  if (rounds.empty()) return "-";
  const Rate& m = MedianRound(rounds, [](const Rate& r) { return r.ratio; });
  char text[64];
  std::snprintf(text, sizeof text, "%.1f (%.3f)", m.perSecond, m.ratio);
  return text;
}

std::string RatiosText(const char* name, const std::vector<double>& ratios) {
  if (ratios.empty()) return {};
  std::string text = std::string("  ") + name;
  for (double r : ratios) {
    char one[16];
    std::snprintf(one, sizeof one, " %.3f", r);
    text += one;
  }
  return text;
}

double EngineRate(const EngineResult& r) {
  return r.elapsed > 0 ? static_cast<double>(r.m.requests) / r.elapsed : 0;
}
double LimitRate(const EngineResult& r) {
  return r.m.lineSeconds > 0 ? static_cast<double>(r.m.answered) / r.m.lineSeconds : 0;
}
// Elapsed / line limit per exchange: the limit rate over the measured rate.
double EngineRatio(const EngineResult& r) { return EngineRate(r) > 0 ? LimitRate(r) / EngineRate(r) : 0; }
// The same ratio for a client that made `exchanges` of `limitSeconds` each in `elapsed`.
double ClientRatio(double elapsed, int exchanges, double limitSeconds) {
  return exchanges > 0 && limitSeconds > 0 ? elapsed / exchanges / limitSeconds : 0;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (!ParseArgs(argc, argv, o)) return 2;
  // The traffic window needs the widgets; without a display it draws offscreen.
  if (o.traffic && qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  // The offscreen platform's notes about window hints it cannot pass on.
  qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& text) {
    if (!text.contains(QLatin1String("does not support"))) std::fprintf(stderr, "%s\n", qPrintable(text));
    if (type == QtFatalMsg) std::abort();
  });
  std::unique_ptr<QCoreApplication> app =
      o.traffic ? std::make_unique<QApplication>(argc, argv) : std::make_unique<QCoreApplication>(argc, argv);

  std::vector<Case> cases;
  for (int devices : {1, 4})
    for (int baud : {9600, 38400})
      for (bool rtu : {false, true}) cases.push_back(Case{devices, baud, rtu});

  const AwakeCpus awake(o.keepCpusAwake);

  std::printf("monitor engine over a pseudo-terminal, kxsim --timing (turnaround 2 ms), 10 bits per character\n");
  std::printf("%d rounds per case of %.1f s per client (engine after a %.1f s warm-up); the median round shown\n",
              o.rounds, o.seconds, o.warmup);
  std::printf("CPUs %s\n\n", o.keepCpusAwake ? "kept awake by idle-class spinners" : "left to sleep when idle");
  std::printf("%-16s %9s %9s %7s %8s %7s %9s %9s %7s %7s %15s %15s\n", "case", "exch/s", "limit/s", "ratio",
              "chars/ex", "errors", "excess", "gap", "events", "CPU", "raw/s", "mbpoll/s");
  std::printf("%-16s %9s %9s %7s %8s %7s %9s %9s %7s %7s %15s %15s\n", "", "", "", "", "", "", "us/ex", "us/ex",
              "/ex", "s/min", "(ratio)", "(ratio)");
  int failures = 0;
  // Per case with --traffic: the closed and the open window's rounds.
  struct TrafficRounds {
    std::string name;
    std::vector<double> closed, open;
    std::vector<double> closedCpu, openCpu;  // CPU microseconds per exchange
    std::uint64_t frames = 0;
  };
  std::vector<TrafficRounds> trafficRounds;
  for (const Case& c : cases) {
    if (!o.only.empty() && c.Name().find(o.only) == std::string::npos) continue;
    std::vector<EngineResult> engine;
    TrafficRounds tr{c.Name(), {}, {}, {}, {}, 0};
    std::vector<Rate> raw, mbpoll;
    bool rawFailed = false, mbpollFailed = false;
    std::string problem;
    for (int round = 0; round < o.rounds && problem.empty(); ++round) {
      // With --traffic the window opens in the first or second run of a round, by turns.
      const bool openFirst = o.traffic && round % 2 == 1;
      std::optional<EngineResult> open;
      if (openFirst) open = RunEngine(o, c, true);
      EngineResult r = RunEngine(o, c);
      if (o.traffic && !openFirst) open = RunEngine(o, c, true);
      if (!r.ok || (open && !open->ok)) {
        problem = !r.ok ? r.problem : "with the traffic window: " + open->problem;
        break;
      }
      if (open) {
        tr.closed.push_back(EngineRate(r));
        tr.open.push_back(EngineRate(*open));
        const auto cpuPerExchange = [](const EngineResult& e) {
          return EngineRate(e) > 0 ? e.cpuPerMinute / 60 / EngineRate(e) * 1e6 : 0;
        };
        tr.closedCpu.push_back(cpuPerExchange(r));
        tr.openCpu.push_back(cpuPerExchange(*open));
        tr.frames = std::max(tr.frames, open->framesSeen);
      }
      engine.push_back(std::move(r));
      if (c.devices == 1 && !rawFailed) {
        const RateResult rr = RunRaw(o, c);
        rawFailed = !rr.ok;
        if (rr.ok) raw.push_back({rr.exchanges / rr.elapsed, ClientRatio(rr.elapsed, rr.exchanges, rr.limitSeconds)});
      }
      if (c.rtu && c.devices == 1 && o.mbpoll && !mbpollFailed) {
        const RateResult mr = RunMbpoll(o, c);
        const std::optional<double> startup = MbpollStartup(o, c);
        mbpollFailed = !mr.ok || !startup;
        if (mbpollFailed) {
          std::fprintf(stderr, "%s: %s\n", c.Name().c_str(), mr.problem.c_str());
        } else {
          const double polling = std::max(1e-6, mr.elapsed - *startup);
          mbpoll.push_back({mr.exchanges / polling, ClientRatio(polling, mr.exchanges, mr.limitSeconds)});
        }
      }
    }
    if (!problem.empty()) {
      std::printf("%-16s failed: %s\n", c.Name().c_str(), problem.c_str());
      ++failures;
      continue;
    }
    const EngineResult& r = MedianRound(engine, EngineRatio);
    const Meter& m = r.m;
    const double perEx = m.answered > 0 ? 1e6 / static_cast<double>(m.answered) : 0;
    std::printf("%-16s %9.1f %9.1f %7.3f %8.1f %7u %9.0f %9.0f %7.2f %7.2f %15s %15s\n", c.Name().c_str(), EngineRate(r),
                LimitRate(r), EngineRatio(r),
                m.requests > 0 ? static_cast<double>(m.charsOut + m.charsIn) / static_cast<double>(m.requests) : 0,
                r.errors, (m.latencySeconds - m.lineSeconds) * perEx, m.gapSeconds * perEx,
                m.answered > 0 ? static_cast<double>(m.dataEvents) / static_cast<double>(m.answered) : 0,
                r.cpuPerMinute, RateText(raw, rawFailed).c_str(), RateText(mbpoll, mbpollFailed).c_str());
    if (o.rounds > 1) {
      std::vector<double> e, w, p;
      for (const EngineResult& one : engine) e.push_back(EngineRatio(one));
      for (const Rate& one : raw) w.push_back(one.ratio);
      for (const Rate& one : mbpoll) p.push_back(one.ratio);
      std::printf("%-16s rounds:%s%s%s\n", "", RatiosText("engine", e).c_str(), RatiosText("raw", w).c_str(),
                  RatiosText("mbpoll", p).c_str());
    }
    if (r.errors != 0) std::printf("%-16s last status: %s\n", "", r.errorText.c_str());
    std::fflush(stdout);
    if (o.traffic) trafficRounds.push_back(std::move(tr));
  }
  if (o.traffic) {
    std::printf("\nline traffic window open against closed, the rounds' median open/closed ratio shown\n");
    std::printf("%-16s %9s %9s %11s %7s %9s %9s %9s %8s  %s\n", "case", "closed/s", "open/s", "open/closed", "cost",
                "CPU us/ex", "CPU us/ex", "tap CPU", "frames", "rounds (open/closed)");
    std::printf("%-16s %9s %9s %11s %7s %9s %9s %9s %8s\n", "", "", "", "", "", "closed", "open", "/ex time", "");
    for (const TrafficRounds& t : trafficRounds) {
      if (t.closed.empty()) continue;
      std::vector<double> ratios;
      for (std::size_t i = 0; i < t.closed.size(); ++i) ratios.push_back(t.closed[i] > 0 ? t.open[i] / t.closed[i] : 0);
      std::vector<std::size_t> order(ratios.size());
      for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
      std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return ratios[a] < ratios[b]; });
      const std::size_t m = order[(order.size() - 1) / 2];
      std::string all;
      for (double x : ratios) {
        char one[16];
        std::snprintf(one, sizeof one, " %.3f", x);
        all += one;
      }
      // The CPU the open window adds per exchange (medians over the rounds), as a
      // share of the time one exchange takes: what it can cost the rate at most.
      const auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v[(v.size() - 1) / 2];
      };
      const double cpuClosed = median(t.closedCpu), cpuOpen = median(t.openCpu);
      const double share = (cpuOpen - cpuClosed) / (1e6 / t.closed[m]);
      std::printf("%-16s %9.1f %9.1f %11.3f %6.1f%% %9.0f %9.0f %8.2f%% %8llu %s\n", t.name.c_str(), t.closed[m],
                  t.open[m], ratios[m], (1 - ratios[m]) * 100, cpuClosed, cpuOpen, share * 100,
                  static_cast<unsigned long long>(t.frames), all.c_str());
    }
    std::printf("closed/s, open/s: the engine's exchanges per second in the same round; cost: 1 - open/closed;\n"
                "CPU us/ex: this process's CPU time per exchange (median round); tap CPU /ex time: the CPU the\n"
                "open window adds per exchange over the time of one exchange, the most it can take from the rate;\n"
                "frames: frames the window listed in its run (requests and answers).\n");
  }
  std::printf(
      "\nexch/s: requests per second; limit/s: answered exchanges the line could carry in the same time\n"
      "(characters x 10 / baud + 2 ms turnaround each); ratio: elapsed / line limit, the time per exchange\n"
      "over the line's time for it (limit/s over exch/s; 1.00 is the line's limit, above is slower);\n"
      "excess: request-to-last-byte time above that limit (port, pseudo-terminal, kxsim); gap: last\n"
      "answer byte to next request (engine, event loop); events: data-available events per answer;\n"
      "CPU: this process's user+system time per minute polled;\n"
      "raw: a plain termios client (no Qt) reading 4 registers at 0x4700 back to back, one KX2;\n"
      "mbpoll: the same read in RTU by mbpoll, one run of as many polls as fit the round less its\n"
      "start-up (ratio to the line limit of that read); rounds: each client's ratio per round.\n");
  return failures == 0 ? 0 : 1;
}
