// Parameter panel response times of the monitor window against kxsim with line
// timing on a pseudo-terminal, four controllers connected (KX1, KX2, KX3, KX2 at
// addresses 1 to 4), next to the line limit of the same frames:
//
//   select   from clicking a connected controller's address label to the panel
//            laid out from all its parameter pages (the rest of the poll cycle
//            under way, then pages 10 to 14)
//   enter    from Enter in the `SV` field to the panel showing the value the
//            controller took (the write, its echo, then the pages read again)
//
// Through a logging port between the window's engine and the real port the
// bench sees every request and answer. The line limit of an action is the time
// the line itself needs for the exchanges it took: (request + answer
// characters) x 10 bits / baud + kxsim's 2 ms turnaround for each exchange sent
// during the action, plus what was still left of the exchange under way when
// it started. Ratio = elapsed / line limit.
//
// Usage: panel_bench [--rounds N] [--only CASE] [--kxsim PATH] [--trace]
// CASE filters by a text such as "rtu" or "9600"; --trace lists every exchange
// of every action (start, sizes, answer time against its line time, request).
#include <QApplication>
#include <QEventLoop>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <cstring>
#include <string>
#include <vector>

#include "awake_cpus.h"
#include "core/line/comport.h"
#include "core/line/session.h"
#include "monitor/monitor_window.h"
#include "monitor/parameter_panel.h"
#include "serial/port_map.h"
#include "support/kxsim_process.h"
#include "support/port_paths.h"
#include "tap_port.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

constexpr int kBitsPerChar = 10;        // ASCII 7E1 and RTU 8N1 alike
constexpr double kTurnaround = 0.002;   // kxsim --timing default
constexpr int kWaitMs = 20000;          // an action that takes longer failed

struct Exchange {
  Clock::time_point sent;
  std::size_t out = 0;
  std::size_t in = 0;
  Clock::time_point lastIn{};
  std::vector<std::uint8_t> request;
};

// The real port with a log of every request and the bytes read after it.
class LoggedPort final : public kx::bench::TapPort {
 public:
  LoggedPort(std::unique_ptr<kx::ComPort> inner, std::vector<Exchange>& log) : TapPort(std::move(inner)), log_(log) {}

 private:
  void Written(std::span<const std::uint8_t> data) override {
    log_.push_back({Clock::now(), data.size(), 0, {}, std::vector<std::uint8_t>(data.begin(), data.end())});
  }
  void BytesRead(std::size_t count) override {
    if (log_.empty()) return;
    log_.back().in += count;
    log_.back().lastIn = Clock::now();
  }

  std::vector<Exchange>& log_;
};

struct Case {
  int baud = 9600;
  bool rtu = false;
  std::string Name() const { return std::to_string(baud) + " " + (rtu ? "rtu" : "ascii"); }
  std::string Format() const { return std::to_string(baud) + (rtu ? "-8N1-rtu" : "-7E1-ascii"); }
};

// Line limit of the exchanges of [t0, t1]; unanswered ones are counted apart.
struct LineLimit {
  double seconds = 0;
  int exchanges = 0;
  int unanswered = 0;
};

bool trace = false;  // --trace: every exchange of every action

LineLimit LimitOf(const std::vector<Exchange>& log, Clock::time_point t0, Clock::time_point t1, int baud) {
  LineLimit l;
  const auto cost = [baud](const Exchange& e) {
    return static_cast<double>(e.out + e.in) * kBitsPerChar / baud + kTurnaround;
  };
  for (std::size_t i = 0; i < log.size(); ++i) {
    const Exchange& e = log[i];
    if (e.sent >= t1) break;
    if (e.sent < t0) {
      // The exchange under way at t0: what was left of it.
      const bool last = i + 1 == log.size() || log[i + 1].sent >= t0;
      if (last) l.seconds += std::max(0.0, cost(e) - Seconds(t0 - e.sent));
      continue;
    }
    // The request sent after the action's last answer, still unanswered when
    // the panel was laid out, is no part of it.
    const bool lastInFlight = (i + 1 == log.size() || log[i + 1].sent >= t1) && e.in == 0;
    if (lastInFlight) break;
    if (trace) {
      std::printf("  +%7.1f ms out %2zu in %2zu  answer after %6.1f ms  cost %5.1f ms  ", Seconds(e.sent - t0) * 1000, e.out, e.in,
                  e.in ? Seconds(e.lastIn - e.sent) * 1000 : -1.0, cost(e) * 1000);
      for (std::size_t k = 0; k < std::min<std::size_t>(e.request.size(), 8); ++k) std::printf("%02X", e.request[k]);
      std::printf("\n");
    }
    ++l.exchanges;
    if (e.in == 0) ++l.unanswered;
    l.seconds += cost(e);
  }
  return l;
}

struct Figures {
  std::vector<double> elapsed;
  std::vector<double> limit;
  int exchanges = 0;
  int unanswered = 0;
  void Add(double e, const LineLimit& l) {
    elapsed.push_back(e);
    limit.push_back(l.seconds);
    exchanges += l.exchanges;
    unanswered += l.unanswered;
  }
};

void Merge(Figures& into, const Figures& f) {
  into.elapsed.insert(into.elapsed.end(), f.elapsed.begin(), f.elapsed.end());
  into.limit.insert(into.limit.end(), f.limit.begin(), f.limit.end());
  into.exchanges += f.exchanges;
  into.unanswered += f.unanswered;
}

double Sum(const std::vector<double>& v) {
  double s = 0;
  for (double x : v) s += x;
  return s;
}

// Runs the event loop until `done` holds after a layout of the panel.
bool WaitForLayout(kx::monitor::ParameterPanel& panel, const std::function<bool()>& done) {
  QEventLoop loop;
  bool ok = false;
  const auto c = QObject::connect(&panel, &kx::monitor::ParameterPanel::LaidOut, &loop, [&] {
    if (done()) {
      ok = true;
      loop.quit();
    }
  });
  QTimer::singleShot(kWaitMs, &loop, &QEventLoop::quit);
  loop.exec();
  QObject::disconnect(c);
  return ok;
}

void Settle(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

struct CaseResult {
  bool ok = false;
  std::string problem;
  Figures select[3];  // per model: KX1, KX2, KX3
  Figures enter[3];
};

CaseResult RunCase(const Case& c, int rounds, const std::string& kxsim) {
  CaseResult r;
  kx::test::ScratchDir dir;
  const std::string link = dir / "line";
  kx::test::KxsimProcess sim;
  if (!sim.Start(kxsim, {"--link", link, "--timing", "kx1@1:" + c.Format(), "kx2@2:" + c.Format(),
                         "kx3@3:" + c.Format(), "kx2@4:" + c.Format()})) {
    r.problem = "kxsim did not start";
    return r;
  }
  std::vector<Exchange> log;
  log.reserve(200000);
  kx::Session session;
  kx::serial::ConfigurePorts(session, kx::test::OnePort(1, link));
  const kx::PortFactory real = session.makePort;
  session.makePort = [real, &log]() -> std::unique_ptr<kx::ComPort> {
    return std::make_unique<LoggedPort>(real(), log);
  };
  session.params = kx::PortParams{1, c.baud, c.rtu ? 8 : 7, c.rtu ? 0 : 1, 1, c.rtu};

  kx::monitor::MonitorWindow window(session);
  window.resize(1280, 1020);
  window.show();
  kx::monitor::ParameterPanel& panel = *window.parameterPanel();
  kx::MonitorEngine& engine = window.engine();
  for (int d = 0; d < 4; ++d) {
    window.Tile(d)->comAddr->setValue(d + 1);
    window.Tile(d)->runBt->click();
  }
  // Connected and the first panel laid out.
  const bool ready = WaitForLayout(panel, [&] {
    for (int d = 0; d < 4; ++d)
      if (!engine.Device(d).connected || engine.Device(d).model == kx::kModelUnknown) return false;
    return true;
  });
  if (!ready) {
    r.problem = "controllers not connected: " + engine.statusText();
    return r;
  }
  Settle(500);

  auto* sv = window.findChild<QLineEdit*>(QStringLiteral("SV"));
  const int models[4] = {0, 1, 2, 1};
  int value = 200;
  // The first device connected is selected already: start with the next.
  for (int round = 0; round < rounds; ++round) {
    for (int d : {1, 2, 3, 0}) {
      // Select: the address label is clicked.
      const Clock::time_point t0 = Clock::now();
      emit window.Tile(d)->adrLb->Clicked();
      if (!WaitForLayout(panel, [&] { return engine.SelectedDevice() == d; })) {
        r.problem = "no panel after selecting device " + std::to_string(d + 1);
        return r;
      }
      const Clock::time_point t1 = Clock::now();
      r.select[models[d]].Add(Seconds(t1 - t0), LimitOf(log, t0, t1, c.baud));
      Settle(300);  // the poll cycle goes on between actions

      // Enter: a new set value typed into `SV`.
      value += 7;
      const double typed = value / 10.0;
      sv->setText(QString::number(typed, 'f', 1));
      const Clock::time_point t2 = Clock::now();
      QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
      QApplication::sendEvent(sv, &press);
      if (!WaitForLayout(panel, [&] { return std::abs(sv->text().toDouble() - typed) < 1e-6; })) {
        r.problem = "SV " + sv->text().toStdString() + " not taken on device " + std::to_string(d + 1) +
                    ": " + engine.statusText();
        return r;
      }
      const Clock::time_point t3 = Clock::now();
      r.enter[models[d]].Add(Seconds(t3 - t2), LimitOf(log, t2, t3, c.baud));
      Settle(300);
    }
  }
  r.ok = true;
  return r;
}

void PrintRow(const std::string& caseName, const char* action, const char* model, const Figures& f) {
  if (f.elapsed.empty()) return;
  const double n = static_cast<double>(f.elapsed.size());
  double worst = 0;
  for (std::size_t i = 0; i < f.elapsed.size(); ++i)
    worst = std::max(worst, f.limit[i] > 0 ? f.elapsed[i] / f.limit[i] : 0);
  const double limit = Sum(f.limit);
  std::printf("%-12s %-7s %-5s %4zu %10.1f %10.1f %7.3f %7.3f %9.1f %6d\n", caseName.c_str(), action, model,
              f.elapsed.size(), Sum(f.elapsed) / n * 1000, limit / n * 1000,
              limit > 0 ? Sum(f.elapsed) / limit : 0, worst, f.exchanges / n, f.unanswered);
}

}  // namespace

int main(int argc, char** argv) {
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  int rounds = 3;
  std::string only;
  std::string kxsim = KXSIM_PATH;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--rounds" && i + 1 < argc) rounds = std::max(1, std::atoi(argv[++i]));
    else if (a == "--only" && i + 1 < argc) only = argv[++i];
    else if (a == "--kxsim" && i + 1 < argc) kxsim = argv[++i];
    else if (a == "--trace") trace = true;
    else if (a == "--let-cpus-sleep") continue;  // taken by CpusKeptAwake
    else {
      std::fprintf(stderr, "usage: panel_bench [--rounds N] [--only CASE] [--kxsim PATH] [--trace] [--let-cpus-sleep]\n");
      return 2;
    }
  }

  const AwakeCpus awake(CpusKeptAwake(argc, argv));
  std::printf("parameter panel, monitor window offscreen, four controllers (KX1, KX2, KX3, KX2),\n");
  std::printf("kxsim --timing on a pseudo-terminal, %d round(s) of select and enter per controller\n\n", rounds);
  std::printf("%-12s %-7s %-5s %4s %10s %10s %7s %7s %9s %6s\n", "case", "action", "model", "n", "mean ms",
              "limit ms", "ratio", "worst", "exch/act", "unans");
  int failures = 0;
  const char* modelNames[3] = {"KX1", "KX2", "KX3"};
  for (const Case& c : {Case{9600, false}, Case{38400, true}}) {
    if (!only.empty() && c.Name().find(only) == std::string::npos) continue;
    const CaseResult r = RunCase(c, rounds, kxsim);
    if (!r.ok) {
      std::printf("%-12s failed: %s\n", c.Name().c_str(), r.problem.c_str());
      ++failures;
      continue;
    }
    Figures allSelect;
    Figures allEnter;
    for (int m = 0; m < 3; ++m) {
      PrintRow(c.Name(), "select", modelNames[m], r.select[m]);
      Merge(allSelect, r.select[m]);
    }
    PrintRow(c.Name(), "select", "all", allSelect);
    for (int m = 0; m < 3; ++m) {
      PrintRow(c.Name(), "enter", modelNames[m], r.enter[m]);
      Merge(allEnter, r.enter[m]);
    }
    PrintRow(c.Name(), "enter", "all", allEnter);
    std::fflush(stdout);
  }
  std::printf(
      "\nmean ms: elapsed per action; limit ms: the line time of the exchanges it took (characters x 10 /\n"
      "baud + 2 ms turnaround each, and the rest of the exchange under way at its start); ratio: elapsed\n"
      "over line limit, summed over the actions; worst: the largest single ratio; exch/act: exchanges\n"
      "per action; unans: exchanges without an answer (time-outs).\n");
  return failures == 0 ? 0 : 1;
}
