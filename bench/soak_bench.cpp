// Soak run: the monitor engine polling four controllers on kxsim for a long
// time while the controllers' faults and the line noise are switched on and
// off through kxsim's control pipe. Reports per phase the exchanges, failed
// exchanges, drops (a tile disconnected by the engine) and recoveries (a dropped
// tile identified again after the bench reconnected it), and over the run the
// CPU time, the peak memory and the resident memory over time of the bench
// and of kxsim, so growth without bound shows.
//
// Usage: soak_bench [--minutes M] [--phase-seconds S] [--rtu] [--baud B] [--kxsim PATH]
// Defaults: 30 minutes, 30 s phases, ASCII at 9600. The phases cycle through:
// clean, noise before answers, bad check, wrong address, garbage answers,
// exception answers, a silent controller, line noise with line feeds, line
// noise without line feeds (each fault on one controller, the next phase clean
// again). Exits 1 when a check fails: a clean phase where a controller does not
// come back, or memory that keeps growing.
#include <QCoreApplication>
#include <QTimer>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "core/monitor/monitor_engine.h"
#include "serial/qt_com_port.h"
#include "support/cpu_time.h"
#include "support/kxsim_process.h"
#include "support/port_paths.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kDevices = 4;

struct Phase {
  const char* name;
  const char* on;   // control command that starts it (empty: none)
  const char* off;  // control command that ends it
};

// Each fault phase is followed by a clean one, so recovery shows.
constexpr Phase kPhases[] = {
    {"clean", "", ""},
    {"noise before answers (2)", "fault 2 noise", "answer 2"},
    {"bad check (3)", "fault 3 badcheck", "answer 3"},
    {"wrong address (4)", "fault 4 wrongaddr", "answer 4"},
    {"garbage answers (1)", "fault 1 garbage", "answer 1"},
    {"exception answers (2)", "fault 2 exception:04", "answer 2"},
    {"silent (3)", "silence 3", "answer 3"},
    {"line noise with LF", "line-noise lf:200", "line-noise off"},
    {"line noise without LF", "line-noise nolf:200", "line-noise off"},
};

long ResidentKb(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string key;
  long value = 0;
  while (status >> key) {
    if (key == "VmRSS:") {
      status >> value;
      return value;
    }
    status.ignore(256, '\n');
  }
  return -1;
}

long PeakKb(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string key;
  long value = 0;
  while (status >> key) {
    if (key == "VmHWM:") {
      status >> value;
      return value;
    }
    status.ignore(256, '\n');
  }
  return -1;
}

double ProcessCpuSeconds(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string field;
  double ticks = 0;
  for (int i = 1; i <= 15 && stat >> field; ++i) {
    if (i == 14 || i == 15) ticks += std::stod(field);  // utime, stime
  }
  return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
}

class Watcher : public kx::MonitorObserver {
 public:
  std::array<bool, kDevices> dropped{};
  int drops = 0;
  bool expectDisconnect = false;
  void ConnectionChanged(int device, bool connected) override {
    if (!connected && !expectDisconnect && device >= 0 && device < kDevices) {
      dropped[static_cast<std::size_t>(device)] = true;
      ++drops;
    }
  }
};

struct Totals {
  std::uint64_t requests = 0;
  std::uint64_t errors = 0;
};

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  double minutes = 30;
  int phaseSeconds = 30;
  bool rtu = false;
  int baud = 9600;
  std::string kxsim = KXSIM_PATH;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const char* v = i + 1 < argc ? argv[i + 1] : nullptr;
    if (a == "--minutes" && v) minutes = std::stod(argv[++i]);
    else if (a == "--phase-seconds" && v) phaseSeconds = std::stoi(argv[++i]);
    else if (a == "--baud" && v) baud = std::stoi(argv[++i]);
    else if (a == "--rtu") rtu = true;
    else if (a == "--kxsim" && v) kxsim = argv[++i];
    else {
      std::fprintf(stderr, "usage: soak_bench [--minutes M] [--phase-seconds S] [--rtu] [--baud B] [--kxsim PATH]\n");
      return 2;
    }
  }

  kx::test::ScratchDir dir;
  const std::string link = dir / "line";
  const std::string fifo = dir / "control";
  const std::string format = std::to_string(baud) + (rtu ? "-8N1-rtu" : "-8N1-ascii");
  kx::test::KxsimProcess sim;
  if (!sim.Start(kxsim, {"--link", link, "--control", fifo, "--timing", "kx1@1:" + format, "kx2@2:" + format,
                         "kx3@3:" + format, "kx2@4:" + format})) {
    std::fprintf(stderr, "kxsim did not start\n");
    return 1;
  }
  const int control = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
  auto command = [&](const std::string& text) {
    if (text.empty()) return;
    const std::string line = text + "\n";
    [[maybe_unused]] const ssize_t n = ::write(control, line.data(), line.size());
  };

  kx::Session session;
  session.params = kx::PortParams{1, baud, 8, 0, 1, rtu};
  kx::serial::QtComPort port(kx::test::OnePort(1, link));
  kx::MonitorEngine engine(port, session);
  Watcher watcher;
  engine.SetObserver(&watcher);
  watcher.expectDisconnect = true;  // the tiles' reset is no drop
  engine.handle(kx::monitor_event::Reset{});
  for (int d = 0; d < kDevices; ++d) {
    engine.handle(kx::monitor_event::ChangeAddress{d, static_cast<std::uint16_t>(d + 1)});
    engine.handle(kx::monitor_event::ToggleConnect{d});
  }
  watcher.expectDisconnect = false;

  auto totals = [&] {
    Totals t;
    for (int d = 0; d < kDevices; ++d) {
      t.requests += engine.Device(d).requestCount;
      t.errors += engine.Device(d).errorCount;
    }
    return t;
  };

  const Clock::time_point start = Clock::now();
  const double cpu0 = kx::test::CpuSeconds();
  const double simCpu0 = ProcessCpuSeconds(sim.pid());
  const auto runFor = std::chrono::duration<double>(minutes * 60);
  const std::size_t phaseCount = std::size(kPhases);
  std::size_t phase = 0;
  int phaseIndex = 0;
  Totals phaseStart = totals();
  int dropsAtPhaseStart = 0;
  int recoveries = 0;
  int recoveriesAtPhaseStart = 0;
  bool failed = false;
  std::vector<std::pair<double, long>> rss;      // minutes, kB (bench)
  std::vector<std::pair<double, long>> simRss;   // minutes, kB (kxsim)
  // Counters wrap at 32 bits in the engine; add them up per phase instead.
  Totals all;
  int allDrops = 0;

  std::printf("soak: monitor on 4 controllers (kx1@1 kx2@2 kx3@3 kx2@4, %s), %g min, %d s phases\n",
              format.c_str(), minutes, phaseSeconds);
  std::printf("%-28s %10s %8s %6s %10s\n", "phase", "exchanges", "failed", "drops", "recoveries");

  auto endPhase = [&] {
    const Totals now = totals();
    const std::uint64_t ex = now.requests - phaseStart.requests;
    const std::uint64_t er = now.errors - phaseStart.errors;
    all.requests += ex;
    all.errors += er;
    allDrops += watcher.drops - dropsAtPhaseStart;
    std::printf("%-28s %10llu %8llu %6d %10d\n", kPhases[phase].name, static_cast<unsigned long long>(ex),
                static_cast<unsigned long long>(er), watcher.drops - dropsAtPhaseStart,
                recoveries - recoveriesAtPhaseStart);
    std::fflush(stdout);
    // A clean phase after a fault must end with every tile connected and polled.
    if (phase == 0 && phaseIndex > 0) {
      for (int d = 0; d < kDevices; ++d) {
        if (!engine.Device(d).connected) {
          std::printf("  FAIL: device %d not connected at the end of a clean phase\n", d + 1);
          failed = true;
        }
      }
    }
  };

  QTimer everySecond;
  int seconds = 0;
  QObject::connect(&everySecond, &QTimer::timeout, [&] {
    ++seconds;
    // Reconnect what the engine dropped; a recovery is its identification.
    for (int d = 0; d < kDevices; ++d) {
      const auto& dev = engine.Device(d);
      if (!dev.connected) {
        engine.handle(kx::monitor_event::ToggleConnect{d});
      } else if (watcher.dropped[static_cast<std::size_t>(d)] && dev.model != kx::kModelUnknown &&
                 !dev.identifyPending) {
        watcher.dropped[static_cast<std::size_t>(d)] = false;
        ++recoveries;
      }
    }
    if (seconds % 10 == 0) {
      const double m = std::chrono::duration<double>(Clock::now() - start).count() / 60;
      rss.emplace_back(m, ResidentKb(getpid()));
      simRss.emplace_back(m, ResidentKb(sim.pid()));
    }
    if (seconds % phaseSeconds == 0) {
      endPhase();
      command(kPhases[phase].off);
      ++phaseIndex;
      phase = static_cast<std::size_t>(phaseIndex) % 2 == 0
                  ? 0
                  : 1 + static_cast<std::size_t>(phaseIndex / 2) % (phaseCount - 1);
      command(kPhases[phase].on);
      phaseStart = totals();
      dropsAtPhaseStart = watcher.drops;
      recoveriesAtPhaseStart = recoveries;
    }
    if (Clock::now() - start >= runFor) QCoreApplication::exit(0);
  });
  everySecond.start(1000);
  QCoreApplication::exec();
  endPhase();

  const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
  const double cpu = kx::test::CpuSeconds() - cpu0;
  const double simCpu = ProcessCpuSeconds(sim.pid()) - simCpu0;
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  watcher.expectDisconnect = true;
  engine.handle(kx::monitor_event::Close{});

  std::printf("\ntotal: %llu exchanges (%.1f/s), %llu failed, %d drops, %d recoveries in %.1f min\n",
              static_cast<unsigned long long>(all.requests), static_cast<double>(all.requests) / elapsed,
              static_cast<unsigned long long>(all.errors), allDrops, recoveries, elapsed / 60);
  std::printf("cpu: bench %.1f s (%.2f s per minute), kxsim %.1f s (%.2f s per minute)\n", cpu,
              cpu / (elapsed / 60), simCpu, simCpu / (elapsed / 60));
  std::printf("peak memory: bench %ld kB, kxsim %ld kB\n", static_cast<long>(u.ru_maxrss), PeakKb(sim.pid()));
  // Growth: resident memory after the first minute against the end.
  auto growth = [&](const char* who, const std::vector<std::pair<double, long>>& samples) {
    if (samples.size() < 2) return;
    std::size_t from = 0;
    while (from + 1 < samples.size() && samples[from].first < 1.0) ++from;
    const long first = samples[from].second;
    const long last = samples.back().second;
    long peak = 0;
    for (const auto& s : samples) peak = std::max(peak, s.second);
    std::printf("resident %s: %ld kB at %.1f min, %ld kB at the end, %ld kB at most\n", who, first,
                samples[from].first, last, peak);
    // More than 25 % and 2 MB above the level after warm-up counts as growth.
    if (last > first + std::max(2048L, first / 4)) {
      std::printf("  FAIL: %s memory grew\n", who);
      failed = true;
    }
  };
  growth("bench", rss);
  growth("kxsim", simRss);
  ::close(control);
  return failed ? 1 : 0;
}
