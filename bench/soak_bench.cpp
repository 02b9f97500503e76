// Soak run: the monitor engine polling four controllers on one kxsim line and
// the recorder's acquisition sampling ten controllers on a second kxsim line
// (each on its own port, as the main window's two ports), for a long time
// while the controllers' faults and the line noise are switched on and off
// through each kxsim's control pipe. Reports per phase, for the monitor, the
// exchanges, failed exchanges, drops (a tile disconnected by the engine) and
// recoveries (a dropped tile identified again after the bench reconnected
// it); for the recorder, the cycles completed, failed samples, slots dropped
// and restarts (acquisition started again after a fault phase dropped slots);
// and over the run the CPU time, the peak memory and the resident memory over
// time of the bench and of both kxsims, so growth without bound shows.
//
// Usage: soak_bench [--minutes M] [--phase-seconds S] [--rtu] [--baud B] [--kxsim PATH]
// Defaults: 30 minutes, 30 s phases, ASCII at 9600. The phases cycle through:
// clean, noise before answers, bad check, wrong address, garbage answers,
// exception answers, a silent controller, line noise with line feeds, line
// noise without line feeds (each fault on one monitor controller and one
// recorder controller, line noise on both lines; the next phase clean again).
// The run is cut into whole phases; a last phase that does not fit is run
// shorter (never empty), and each line of the report says what its phase was.
// Exits 1 when a check fails: a clean phase after a fault, run its whole
// length, where a monitor controller does not come back or a recorder slot is
// dropped or no cycle completes, or memory that keeps growing.
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

#include "soak_bench_plan.h"
#include "core/monitor/monitor_engine.h"
#include "core/recorder/acquisition.h"
#include "serial/qt_com_port.h"
#include "support/cpu_time.h"
#include "support/kxsim_process.h"
#include "support/port_paths.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kDevices = 4;
constexpr int kRecorded = kx::recorder::kSlots;  // ten controllers on the recorder's line

struct Phase {
  const char* name;
  const char* on;   // monitor line: control command that starts it (empty: none)
  const char* off;  // monitor line: control command that ends it
  const char* recorderOn;   // the same for the recorder's line
  const char* recorderOff;
};

// Each fault phase is followed by a clean one, so recovery shows. The name
// gives the faulty monitor address, then the faulty recorder address.
constexpr Phase kPhases[] = {
    {"clean", "", "", "", ""},
    {"noise before answers (2/7)", "fault 2 noise", "answer 2", "fault 7 noise", "answer 7"},
    {"bad check (3/4)", "fault 3 badcheck", "answer 3", "fault 4 badcheck", "answer 4"},
    {"wrong address (4/10)", "fault 4 wrongaddr", "answer 4", "fault 10 wrongaddr", "answer 10"},
    {"garbage answers (1/1)", "fault 1 garbage", "answer 1", "fault 1 garbage", "answer 1"},
    {"exception answers (2/5)", "fault 2 exception:04", "answer 2", "fault 5 exception:04", "answer 5"},
    {"silent (3/9)", "silence 3", "answer 3", "silence 9", "answer 9"},
    {"line noise with LF", "line-noise lf:200", "line-noise off", "line-noise lf:200", "line-noise off"},
    {"line noise without LF", "line-noise nolf:200", "line-noise off", "line-noise nolf:200", "line-noise off"},
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

// The recorder's side: counts what its acquisition reports.
class RecorderWatcher : public kx::recorder::AcquisitionObserver {
 public:
  long failures = 0;
  long drops = 0;
  bool stopped = false;
  void StatusText(std::string_view) override { ++failures; }
  void SlotDropped(int) override { ++drops; }
  void Stopped(bool) override { stopped = true; }
  void Started() override { stopped = false; }
};

// The chart draws on nothing: the soak measures the acquisition, not painting.
struct NoSurface : kx::recorder::ChartSurface {
  void FillCanvas(kx::recorder::Rgb) override {}
  void Line(int, int, int, int, kx::recorder::Rgb, int, bool) override {}
  void Text(int, int, std::string_view, kx::recorder::Rgb) override {}
  void ScrollLeft(int, int, int, int) override {}
};

struct QtRecorderTimer : kx::recorder::RecorderTimer {
  QTimer timer;
  QtRecorderTimer() { timer.setTimerType(Qt::PreciseTimer); }
  void StartTimer(int ms) override { timer.start(ms); }
  void StopTimer() override { timer.stop(); }
};

// Writes lines to a kxsim control pipe.
class ControlPipe {
 public:
  explicit ControlPipe(const std::string& path) : fd_(::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC)) {}
  ~ControlPipe() {
    if (fd_ >= 0) ::close(fd_);
  }
  ControlPipe(const ControlPipe&) = delete;
  ControlPipe& operator=(const ControlPipe&) = delete;
  void Send(const std::string& text) const {
    if (text.empty() || fd_ < 0) return;
    const std::string line = text + "\n";
    [[maybe_unused]] const ssize_t n = ::write(fd_, line.data(), line.size());
  }

 private:
  int fd_;
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
  const std::string recorderLink = dir / "recorder-line";
  const std::string recorderFifo = dir / "recorder-control";
  const std::string format = std::to_string(baud) + (rtu ? "-8N1-rtu" : "-8N1-ascii");
  kx::test::KxsimProcess sim;
  if (!sim.Start(kxsim, {"--link", link, "--control", fifo, "--timing", "kx1@1:" + format, "kx2@2:" + format,
                         "kx3@3:" + format, "kx2@4:" + format})) {
    std::fprintf(stderr, "kxsim did not start\n");
    return 1;
  }
  std::vector<std::string> recorderArgs{"--link", recorderLink, "--control", recorderFifo, "--timing"};
  constexpr const char* kModels[] = {"kx1", "kx2", "kx3"};
  for (int a = 1; a <= kRecorded; ++a) recorderArgs.push_back(std::string(kModels[a % 3]) + "@" + std::to_string(a) + ":" + format);
  kx::test::KxsimProcess recorderSim;
  if (!recorderSim.Start(kxsim, recorderArgs)) {
    std::fprintf(stderr, "kxsim of the recorder's line did not start\n");
    return 1;
  }
  const ControlPipe control(fifo);
  const ControlPipe recorderControl(recorderFifo);
  auto command = [&](const std::string& text) { control.Send(text); };

  kx::Session session;
  session.params = kx::PortParams{1, baud, 8, 0, 1, rtu};
  kx::serial::QtComPort port(kx::test::OnePort(1, link));
  kx::MonitorEngine engine(port, session);
  Watcher watcher;
  engine.SetObserver(&watcher);
  watcher.expectDisconnect = true;  // the tiles' reset is no drop
  engine.Handle(kx::monitor_event::Reset{});
  for (int d = 0; d < kDevices; ++d) {
    engine.Handle(kx::monitor_event::ChangeAddress{d, static_cast<std::uint16_t>(d + 1)});
    engine.Handle(kx::monitor_event::ToggleConnect{d});
  }
  watcher.expectDisconnect = false;

  // The recorder on its own port and session, sampling every 0.5 s into a
  // record file (made anew at each restart).
  kx::Session recorderSession;
  recorderSession.params = session.params;
  kx::serial::QtComPort recorderPort(kx::test::OnePort(1, recorderLink));
  kx::recorder::Slots table{};
  for (int i = 0; i < kRecorded; ++i) table[static_cast<std::size_t>(i)].boxAddress = static_cast<std::uint8_t>(i + 1);
  kx::recorder::Chart chart(table);
  NoSurface surface;
  chart.SetGeometry(kx::recorder::ChartGeometry::ForWidth(1280));
  chart.SetSurface(&surface);
  QtRecorderTimer recorderTimer;
  kx::recorder::Acquisition acquisition(recorderPort, recorderSession, table, chart, recorderTimer,
                                        [] { return kx::recorder::SampleTime{}; });
  RecorderWatcher recorderWatcher;
  acquisition.SetObserver(&recorderWatcher);
  recorderPort.SetOnTrigger(
      [&](kx::ComPort&, const kx::PortEvent& e) { acquisition.Handle(kx::recorder::acquisition_event::Port{e}); });
  recorderPort.SetOnError(
      [&](const std::string& text) { acquisition.Handle(kx::recorder::acquisition_event::LineLost{text}); });
  QObject::connect(&recorderTimer.timer, &QTimer::timeout,
                   [&] { acquisition.Handle(kx::recorder::acquisition_event::Tick{}); });
  const std::string recordPath = dir / "soak.rec";
  kx::recorder::RecordWriter writer;
  long recordedCycles = 0;  // cycles of earlier runs (a restart resets the counter)
  int restarts = 0;
  auto startRecorder = [&] {
    kx::recorder::RecordHeader header;
    for (int i = 0; i < kRecorded; ++i) header.addresses[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i + 1);
    header.sampleTime = 0;
    const bool file = writer.Create(recordPath, header);
    acquisition.Handle(kx::recorder::acquisition_event::Start{0, file ? &writer : nullptr});
  };
  auto recorderCycles = [&] { return recordedCycles + acquisition.counter(); };
  auto droppedSlots = [&] {
    int n = 0;
    for (const auto& slot : table) n += slot.address == 0 ? 1 : 0;
    return n;
  };
  startRecorder();
  if (!acquisition.Acquiring()) {
    std::fprintf(stderr, "the recorder did not start\n");
    return 1;
  }

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
  const double recorderSimCpu0 = ProcessCpuSeconds(recorderSim.pid());
  const std::vector<kx::bench::SoakPhase> plan =
      kx::bench::SoakPlan(static_cast<int>(minutes * 60 + 0.5), phaseSeconds, std::size(kPhases) - 1);
  if (plan.empty()) {
    std::fprintf(stderr, "soak_bench: the run needs at least one second and a phase length above 0\n");
    return 2;
  }
  std::vector<std::string> phaseNames;
  for (const Phase& p : kPhases) phaseNames.emplace_back(p.name);
  std::size_t phaseIndex = 0;
  std::size_t phase = plan[0].kind;
  Totals phaseStart = totals();
  int dropsAtPhaseStart = 0;
  int recoveries = 0;
  int recoveriesAtPhaseStart = 0;
  bool failed = false;
  std::vector<std::pair<double, long>> rss;      // minutes, kB (bench)
  std::vector<std::pair<double, long>> simRss;   // minutes, kB (kxsim)
  std::vector<std::pair<double, long>> recorderSimRss;  // minutes, kB (the recorder's kxsim)
  long cyclesAtPhaseStart = 0;
  long recorderFailuresAtPhaseStart = 0;
  long recorderDropsAtPhaseStart = 0;
  int restartsAtPhaseStart = 0;
  long allRecorderFailures = 0;
  // Counters wrap at 32 bits in the engine; add them up per phase instead.
  Totals all;
  int allDrops = 0;

  std::printf("soak: monitor on 4 controllers (kx1@1 kx2@2 kx3@3 kx2@4), recorder on %d (1..%d) at 0.5 s, "
              "%s, %g min, %d s phases\n",
              kRecorded, kRecorded, format.c_str(), minutes, phaseSeconds);
  std::printf("%-50s %29s | %s\n", "", "monitor", "recorder");
  std::printf("%-50s %9s %6s %5s %7s | %6s %6s %5s %8s\n", "phase", "exchanges", "failed", "drops", "recover",
              "cycles", "failed", "drops", "restarts");

  auto endPhase = [&] {
    const Totals now = totals();
    const std::uint64_t ex = now.requests - phaseStart.requests;
    const std::uint64_t er = now.errors - phaseStart.errors;
    all.requests += ex;
    all.errors += er;
    allDrops += watcher.drops - dropsAtPhaseStart;
    const long cycles = recorderCycles() - cyclesAtPhaseStart;
    const long recorderDrops = recorderWatcher.drops - recorderDropsAtPhaseStart;
    allRecorderFailures += recorderWatcher.failures - recorderFailuresAtPhaseStart;
    const std::string what = kx::bench::SoakPhaseText(plan, phaseIndex, phaseNames, phaseSeconds);
    std::printf("%-50s %9llu %6llu %5d %7d | %6ld %6ld %5ld %8d\n", what.c_str(),
                static_cast<unsigned long long>(ex), static_cast<unsigned long long>(er),
                watcher.drops - dropsAtPhaseStart, recoveries - recoveriesAtPhaseStart, cycles,
                recorderWatcher.failures - recorderFailuresAtPhaseStart, recorderDrops, restarts - restartsAtPhaseStart);
    std::fflush(stdout);
    // A clean phase after a fault must end with every tile connected and polled,
    // and with the recorder sampling all ten.
    if (plan[phaseIndex].judged) {
      for (int d = 0; d < kDevices; ++d) {
        if (!engine.Device(d).connected) {
          std::printf("  FAIL: device %d not connected at the end of a clean phase\n", d + 1);
          failed = true;
        }
      }
      if (!acquisition.Acquiring() || droppedSlots() != 0 || recorderDrops != 0 || cycles == 0) {
        std::printf("  FAIL: the recorder did not sample all %d controllers in a clean phase\n", kRecorded);
        failed = true;
      }
    }
  };
  // A clean phase starts the recorder again when the fault phase dropped
  // slots (a dropped slot stays dropped for the rest of a run).
  auto restartRecorderIfDropped = [&] {
    if (acquisition.Acquiring() && droppedSlots() == 0) return;
    recordedCycles += acquisition.counter();
    acquisition.Handle(kx::recorder::acquisition_event::Stop{});
    startRecorder();
    ++restarts;
  };

  QTimer everySecond;
  int seconds = 0;
  QObject::connect(&everySecond, &QTimer::timeout, [&] {
    ++seconds;
    // Reconnect what the engine dropped; a recovery is its identification.
    for (int d = 0; d < kDevices; ++d) {
      const auto& dev = engine.Device(d);
      if (!dev.connected) {
        engine.Handle(kx::monitor_event::ToggleConnect{d});
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
      recorderSimRss.emplace_back(m, ResidentKb(recorderSim.pid()));
    }
    if (seconds == plan[phaseIndex].start + plan[phaseIndex].seconds) {
      endPhase();
      command(kPhases[phase].off);
      recorderControl.Send(kPhases[phase].recorderOff);
      if (++phaseIndex == plan.size()) {
        // The run is over: no further phase is begun.
        QCoreApplication::exit(0);
        return;
      }
      phase = plan[phaseIndex].kind;
      phaseStart = totals();
      dropsAtPhaseStart = watcher.drops;
      recoveriesAtPhaseStart = recoveries;
      restartsAtPhaseStart = restarts;
      if (phase == 0) restartRecorderIfDropped();
      cyclesAtPhaseStart = recorderCycles();
      recorderFailuresAtPhaseStart = recorderWatcher.failures;
      recorderDropsAtPhaseStart = recorderWatcher.drops;
      command(kPhases[phase].on);
      recorderControl.Send(kPhases[phase].recorderOn);
    }
  });
  everySecond.start(1000);
  QCoreApplication::exec();

  const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
  const double cpu = kx::test::CpuSeconds() - cpu0;
  const double simCpu = ProcessCpuSeconds(sim.pid()) - simCpu0;
  const double recorderSimCpu = ProcessCpuSeconds(recorderSim.pid()) - recorderSimCpu0;
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  const long allCycles = recorderCycles();
  watcher.expectDisconnect = true;
  engine.Handle(kx::monitor_event::Close{});
  acquisition.Handle(kx::recorder::acquisition_event::Stop{});

  std::printf("\ntotal: %llu exchanges (%.1f/s), %llu failed, %d drops, %d recoveries in %.1f min\n",
              static_cast<unsigned long long>(all.requests), static_cast<double>(all.requests) / elapsed,
              static_cast<unsigned long long>(all.errors), allDrops, recoveries, elapsed / 60);
  std::printf("recorder: %ld cycles (%.2f/s), %ld failed samples, %ld slots dropped, %d restarts\n", allCycles,
              static_cast<double>(allCycles) / elapsed, allRecorderFailures, recorderWatcher.drops, restarts);
  std::printf("cpu: bench %.1f s (%.2f s per minute), kxsim %.1f s (%.2f s per minute), recorder's kxsim %.1f s\n",
              cpu, cpu / (elapsed / 60), simCpu, simCpu / (elapsed / 60), recorderSimCpu);
  std::printf("peak memory: bench %ld kB, kxsim %ld kB, recorder's kxsim %ld kB\n", static_cast<long>(u.ru_maxrss),
              PeakKb(sim.pid()), PeakKb(recorderSim.pid()));
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
  growth("recorder's kxsim", recorderSimRss);
  return failed ? 1 : 0;
}
