// Recorder figures:
//
//  acquisition  ten controllers at the 0.5 s sampling time on a 9600 bit/s
//               ASCII line (kxsim with line timing on a pseudo-terminal, the
//               real serial port): cycles completed and ticks that found an
//               answer still outstanding (skipped), over --seconds.
//  replay       a file of --records records (default 1,000,000) replayed tick
//               by tick through the replay engine and the chart (drawing to a
//               surface that only counts): time per tick (mean, p99, max)
//               against the 20 ms schedule, peak resident memory, and the time
//               of a jump to the end of the file.
//
// Usage: recorder_bench [--seconds N] [--records N] [--only acquisition|replay]
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "core/recorder/acquisition.h"
#include "core/recorder/replay.h"
#include "serial/port_map.h"
#include "support/kxsim_process.h"
#include "support/port_paths.h"

using namespace kx;
using namespace kx::recorder;

namespace {

long PeakRssKb() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss;
}

struct CountingSurface : ChartSurface {
  void FillCanvas(Rgb) override { ++calls; }
  void Line(int, int, int, int, Rgb, int, bool) override { ++calls; }
  void Text(int, int, std::string_view, Rgb) override { ++calls; }
  void ScrollLeft(int, int, int, int) override { ++calls; }
  long calls = 0;
};

struct FailureCount : AcquisitionObserver {
  void StatusText(std::string_view) override { ++failures; }
  long failures = 0;
};

struct NullTimer : RecorderTimer {
  void StartTimer(int) override { running = true; }
  void StopTimer() override { running = false; }
  bool running = false;
};

struct QtTimer : RecorderTimer {
  QTimer timer;
  QtTimer() { timer.setTimerType(Qt::PreciseTimer); }
  void StartTimer(int ms) override { timer.start(ms); }
  void StopTimer() override { timer.stop(); }
};

void Replay(long records) {
  const std::string path = (std::filesystem::temp_directory_path() / "kx_recorder_bench.rec").string();
  {
    RecordHeader header;
    for (std::size_t i = 0; i < kSlots; ++i) header.addresses[i] = static_cast<std::uint8_t>(i + 1);
    RecordWriter writer;
    if (!writer.Create(path, header)) {
      std::printf("replay: cannot create %s: %s\n", path.c_str(), writer.error().c_str());
      return;
    }
    for (long k = 0; k < records; ++k) {
      Record r;
      const auto n = static_cast<std::size_t>(k);
      for (std::size_t i = 0; i < kSlots; ++i) r.values[i] = static_cast<int>(200 + i * 30 + (n / 7 + i) % 50);
      r.time = {static_cast<std::uint8_t>(k / 3600 % 24), static_cast<std::uint8_t>(k / 60 % 60),
                static_cast<std::uint8_t>(k % 60), 0};
      writer.Append(EncodeRecord(r));
    }
  }
  const long rssBefore = PeakRssKb();
  Slots table{};
  Chart chart(table);
  CountingSurface surface;
  chart.SetGeometry(ChartGeometry::ForWidth(1920));
  chart.SetSurface(&surface);
  NullTimer timer;
  ReplayEngine engine(table, chart, timer);
  RecordFile file;
  if (!file.Open(path)) {
    std::printf("replay: cannot open %s\n", path.c_str());
    return;
  }
  engine.Load(std::move(file));
  engine.Handle(replay_event::Play{});
  std::vector<double> us;
  us.reserve(static_cast<std::size_t>(records));
  while (timer.running) {
    const auto t0 = std::chrono::steady_clock::now();
    engine.Handle(replay_event::Tick{});
    us.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t0).count());
  }
  std::vector<double> sorted = us;
  std::sort(sorted.begin(), sorted.end());
  double sum = 0;
  for (double v : us) sum += v;
  const auto jump0 = std::chrono::steady_clock::now();
  engine.Handle(replay_event::LoopCntKey{true, std::to_string(records)});
  const double jumpMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - jump0).count();
  std::printf("replay: %ld records, %zu ticks; per tick mean %.1f us, p99 %.1f us, max %.1f us (schedule 20000 us)\n",
              records, us.size(), sum / static_cast<double>(us.size()), sorted[sorted.size() * 99 / 100],
              sorted.back());
  std::printf("replay: jump to the end %.1f ms (position %ld); peak RSS %ld kB before loading, %ld kB after\n",
              jumpMs, engine.position(), rssBefore, PeakRssKb());
  std::filesystem::remove(path);
}

void Acquire(int seconds) {
  kx::test::ScratchDir dir;
  const std::string link = dir / "line";
  std::vector<std::string> args = {"--link", link, "--timing"};
  for (int a = 1; a <= 10; ++a) args.push_back("kx2@" + std::to_string(a) + ":9600-8N1-ascii");
  kx::test::KxsimProcess sim;
  if (!sim.Start(KXSIM_PATH, args)) {
    std::printf("acquisition: kxsim did not start\n");
    return;
  }
  Session session;
  serial::ConfigurePorts(session, kx::test::OnePort(1, link));
  session.params = PortParams{1, 9600, 8, 0, 1, false};
  auto port = session.makePort();
  Slots table{};
  for (int i = 0; i < kSlots; ++i) table[static_cast<std::size_t>(i)].boxAddress = static_cast<std::uint8_t>(i + 1);
  Chart chart(table);
  CountingSurface surface;
  chart.SetGeometry(ChartGeometry::ForWidth(1280));
  chart.SetSurface(&surface);
  QtTimer timer;
  Acquisition acquisition(*port, session, table, chart, timer, [] { return SampleTime{}; });
  FailureCount failures;
  acquisition.SetObserver(&failures);
  port->SetOnTrigger([&](ComPort&, const PortEvent& e) { acquisition.Handle(acquisition_event::Port{e}); });
  long ticks = 0;
  long skipped = 0;
  QObject::connect(&timer.timer, &QTimer::timeout, [&] {
    ++ticks;
    if (acquisition.state() == Acquisition::State::Awaiting) ++skipped;
    acquisition.Handle(acquisition_event::Tick{});
  });
  acquisition.Handle(acquisition_event::Start{0, nullptr});
  QTimer::singleShot(seconds * 1000, [&] {
    acquisition.Handle(acquisition_event::Stop{});
    QCoreApplication::quit();
  });
  QCoreApplication::exec();
  std::printf("acquisition: 10 controllers, 9600 ASCII, 0.5 s: %ld ticks, %ld cycles completed, %ld ticks skipped, "
              "%ld failures\n",
              ticks, acquisition.counter(), skipped, failures.failures);
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  int seconds = 20;
  long records = 1000000;
  std::string only;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (!std::strcmp(argv[i], "--seconds")) seconds = std::atoi(argv[i + 1]);
    if (!std::strcmp(argv[i], "--records")) records = std::atol(argv[i + 1]);
    if (!std::strcmp(argv[i], "--only")) only = argv[i + 1];
  }
  if (only.empty() || only == "acquisition") Acquire(seconds);
  if (only.empty() || only == "replay") Replay(records);
  return 0;
}
