// Time of the parameter transfers over a real pseudo-terminal against kxsim
// with line timing on, next to the line limit of the same frames.
//
// Per line setting (9600 ASCII 7E1 and 38400 RTU 8N1) kxsim serves a KX2; the
// monitor engine connects it, and once its status polls and parameter pages
// were read the bench runs, as the PARAMETERS menu does:
//
//   upload      256 reads of the upload register into the parameter buffer
//   download    WRITE TO SELECTED DEVICE of that buffer: the KX2 sequence of
//               99 writes, 60 of them after their own unlock write (159 frames)
//   broadcast   WRITE TO ALL CONNECTED DEVICE with four KX2s connected: the
//               same 159 frames to address 0, each followed by its fixed wait
//
// Before a download the set value (0x4701) of every controller is changed
// through kxsim's control pipe; the run counts only when the polls then read
// the buffer's value back from every controller.
//
//   elapsed      from the transfer's first frame written to its end
//   line limit   for every frame of the transfer: (request + answer characters)
//                x 10 bits / baud plus kxsim's 2 ms turnaround; a broadcast
//                frame is never answered and costs its fixed wait instead
//                (5 ticks of 55 ms in ASCII, 2 in RTU at 9600 baud and above)
//   ratio        elapsed / line limit
//
// Usage: params_bench [--runs N] [--only TEXT] [--kxsim PATH]
// TEXT filters the cases by name ("rtu", "broadcast", "9600 ascii upload").
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "awake_cpus.h"
#include "core/device/regmap.h"
#include "core/line/comport.h"
#include "core/line/session.h"
#include "core/monitor/monitor_engine.h"
#include "core/params/download_sequence.h"
#include "core/params/parameter_buffer.h"
#include "serial/qt_com_port.h"
#include "support/cpu_time.h"
#include "support/kxsim_process.h"
#include "support/port_paths.h"
#include "tap_port.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr double kTurnaround = 0.002;
constexpr double kTick = 0.055;
constexpr std::uint16_t kChangedSv = 555;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

struct Line {
  int baud;
  bool rtu;
  std::string Name() const { return std::to_string(baud) + (rtu ? " rtu" : " ascii"); }
  std::string Format() const { return std::to_string(baud) + (rtu ? "-8N1-rtu" : "-7E1-ascii"); }
  double Wire(std::size_t chars) const { return static_cast<double>(chars) * 10.0 / baud; }
  // Frame sizes: a single-register read answer, a write echo.
  std::size_t ReadAnswer() const { return rtu ? 7 : 15; }
  double BroadcastWait() const { return (rtu ? (baud >= 9600 ? 2 : 3) : 5) * kTick; }
};

// The real port with the moment and bytes of every frame written.
class RecordingPort final : public kx::bench::TapPort {
 public:
  explicit RecordingPort(kx::ComPort& inner) : TapPort(inner) {}

  struct Frame {
    Clock::time_point at;
    kx::Bytes bytes;
  };
  std::vector<Frame> frames;

 private:
  void Written(std::span<const std::uint8_t> data) override {
    frames.push_back({Clock::now(), kx::Bytes(data.begin(), data.end())});
  }
};

struct Ends final : kx::MonitorObserver {
  bool ended = false;
  kx::TransferEnd end = kx::TransferEnd::Stopped;
  Clock::time_point at;
  void TransferEnded(const kx::Transfer&, kx::TransferEnd e) override {
    ended = true;
    end = e;
    at = Clock::now();
  }
};

// Runs the event loop until `done` holds or `seconds` passed; false on the latter.
bool RunUntil(const std::function<bool()>& done, double seconds) {
  QElapsedTimer timer;
  timer.start();
  // Wakes the loop now and then to look at the clock; otherwise it sleeps
  // until the port or its timers have something.
  QTimer wake;
  wake.start(20);
  while (!done()) {
    if (timer.hasExpired(static_cast<qint64>(seconds * 1000))) return false;
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  }
  return true;
}

// Line limit of the frames [first, end).
double LineLimit(const Line& line, const std::vector<RecordingPort::Frame>& frames, std::size_t first,
                 std::size_t end) {
  double limit = 0;
  for (std::size_t i = first; i < end; ++i) {
    const kx::Bytes& f = frames[i].bytes;
    // Address: the first byte in RTU, the first hexadecimal pair in ASCII.
    const bool broadcast = line.rtu ? f[0] == 0 : (f.size() > 2 && f[1] == '0' && f[2] == '0');
    const bool read = line.rtu ? f[1] == kx::kFnRead : (f.size() > 4 && f[3] == '0' && f[4] == '3');
    if (broadcast) {
      limit += std::max(line.Wire(f.size()), line.BroadcastWait());
      continue;
    }
    limit += line.Wire(f.size() + (read ? line.ReadAnswer() : f.size())) + kTurnaround;
  }
  return limit;
}

struct Options {
  int runs = 1;
  std::string only;
  std::string kxsim = KXSIM_PATH;
};

struct Row {
  std::string name;
  std::size_t frames = 0;
  double elapsed = 0;
  double limit = 0;
  double cpu = 0;
};

class Bench {
 public:
  Bench(const Options& o, const Line& line, int controllers) : line_(line), controllers_(controllers) {
    std::vector<std::string> args{"--link", dir_ / "line", "--control", dir_ / "control", "--timing"};
    for (int d = 0; d < controllers; ++d) args.push_back("kx2@" + std::to_string(d + 1) + ":" + line.Format());
    started_ = sim_.Start(o.kxsim, args);
    session_.params = kx::PortParams{1, line.baud, line.rtu ? 8 : 7, line.rtu ? 0 : 1, 1, line.rtu};
    real_ = std::make_unique<kx::serial::QtComPort>(kx::test::OnePort(1, dir_ / "line"));
    port_ = std::make_unique<RecordingPort>(*real_);
    engine_ = std::make_unique<kx::MonitorEngine>(*port_, session_);
    engine_->SetObserver(&ends_);
  }
  ~Bench() {
    if (engine_) engine_->Handle(kx::monitor_event::Close{});
  }

  // Connects every controller; true once the selected one's status polls and
  // parameter pages were read.
  bool Connect() {
    if (!started_) return Fail("kxsim did not start");
    engine_->Handle(kx::monitor_event::Reset{});
    for (int d = 0; d < controllers_; ++d) {
      engine_->Handle(kx::monitor_event::ChangeAddress{d, static_cast<std::uint16_t>(d + 1)});
      engine_->Handle(kx::monitor_event::ToggleConnect{d});
    }
    const bool ready = RunUntil(
        [&] {
          const kx::MonitorDevice& dev = engine_->Device(0);
          return engine_->menus().upload && dev.rec.firmwareVersion != 0 && dev.rec.comWrite == 1 &&
                 engine_->ParameterWord(0x4701) != 0;
        },
        20);
    return ready || Fail("the controllers were not ready: " + engine_->statusText());
  }

  // Runs `transfer` from its first frame to its end.
  bool Run(const std::string& name, std::shared_ptr<kx::Transfer> transfer, Row& row) {
    ends_.ended = false;
    const std::size_t first = port_->frames.size();
    const double cpu0 = kx::test::CpuSeconds();
    engine_->Handle(kx::monitor_event::StartTransfer{transfer});
    if (!RunUntil([&] { return ends_.ended; }, 300)) return Fail(name + ": did not end");
    row.cpu = kx::test::CpuSeconds() - cpu0;
    if (ends_.end != kx::TransferEnd::Completed) return Fail(name + ": ended early: " + engine_->statusText());
    // The poll in flight when the transfer was started was written before it:
    // the transfer's first frame is the next one.
    const std::size_t start = first;
    row.name = line_.Name() + " " + name;
    // Frames written after the end (the polls that follow) are not the transfer's.
    std::size_t end = start;
    while (end < port_->frames.size() && port_->frames[end].at <= ends_.at) ++end;
    row.frames = end - start;
    row.elapsed = Seconds(ends_.at - port_->frames[start].at);
    row.limit = LineLimit(line_, port_->frames, start, end);
    return true;
  }

  // Changes every controller's set value, so the download's effect shows.
  bool ChangeSetValues() {
    for (int d = 0; d < controllers_; ++d) {
      std::ofstream fifo(dir_ / "control");
      fifo << "set " << d + 1 << " 0x4701 " << kChangedSv << "\n";
    }
    return RunUntil([&] { return AllSv(kChangedSv); }, 20) || Fail("the set values did not change");
  }
  bool ExpectSetValues(std::uint16_t sv) {
    return RunUntil([&] { return AllSv(sv); }, 20) || Fail("a controller did not take the download");
  }

  kx::MonitorEngine& engine() { return *engine_; }
  const std::string& problem() const { return problem_; }

 private:
  bool AllSv(std::uint16_t sv) const {
    for (int d = 0; d < controllers_; ++d)
      if (engine_->Device(d).rec.sv != sv) return false;
    return true;
  }
  bool Fail(std::string text) {
    problem_ = std::move(text);
    return false;
  }

  Line line_;
  int controllers_;
  kx::test::ScratchDir dir_;
  kx::test::KxsimProcess sim_;
  bool started_ = false;
  kx::Session session_;
  std::unique_ptr<kx::serial::QtComPort> real_;
  std::unique_ptr<RecordingPort> port_;
  std::unique_ptr<kx::MonitorEngine> engine_;
  Ends ends_;
  std::string problem_;
};

bool Wanted(const Options& o, const std::string& name) {
  return o.only.empty() || name.find(o.only) != std::string::npos;
}

void Print(const Row& r) {
  std::printf("%-26s %6zu  %9.3f  %12.3f  %5.3f  %5.2f\n", r.name.c_str(), r.frames, r.elapsed, r.limit,
              r.elapsed / r.limit, r.cpu);
}

// Upload from the first controller, then download of the uploaded buffer: to
// that one controller, or (`broadcast`) by broadcast to four.
bool RunTransfers(const Options& o, const Line& line, bool broadcast) {
  const std::string downloadName = broadcast ? "broadcast x4" : "download";
  const bool upload = !broadcast && Wanted(o, line.Name() + " upload");
  const bool download = Wanted(o, line.Name() + " " + downloadName);
  if (!upload && !download) return true;
  Bench b(o, line, broadcast ? 4 : 1);
  if (!b.Connect()) {
    std::fprintf(stderr, "%s%s: %s\n", line.Name().c_str(), broadcast ? " broadcast" : "", b.problem().c_str());
    return false;
  }
  const auto failed = [&b] {
    std::fprintf(stderr, "%s\n", b.problem().c_str());
    return false;
  };
  const kx::MonitorDevice& dev = b.engine().Device(0);
  auto up = std::make_shared<kx::ImageUpload>(dev.model, dev.rec.firmwareVersion, false);
  Row row;
  if (!b.Run("upload", up, row)) return failed();
  if (upload) Print(row);
  if (!download) return true;
  const kx::ParameterBuffer buffer = up->buffer();
  const std::uint16_t sv = static_cast<std::uint16_t>(buffer[24] << 8 | buffer[25]);  // KX2 SV: word 24
  if (!b.ChangeSetValues()) return failed();
  auto down = std::make_shared<kx::WriteSequence>(
      kx::TransferKind::Download, kx::DownloadSequence(dev.model, buffer, dev.rec.firmwareVersion), broadcast);
  if (!b.Run(downloadName, down, row) || !b.ExpectSetValues(sv)) return failed();
  Print(row);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  Options o;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--runs") == 0) o.runs = std::atoi(argv[i + 1]);
    else if (std::strcmp(argv[i], "--only") == 0) o.only = argv[i + 1];
    else if (std::strcmp(argv[i], "--kxsim") == 0) o.kxsim = argv[i + 1];
  }

  const AwakeCpus awake(CpusKeptAwake(argc, argv));
  const Line lines[] = {{9600, false}, {38400, true}};
  std::printf("%-26s %6s  %9s  %12s  %5s  %5s\n", "case", "frames", "elapsed s", "line limit s", "ratio", "cpu s");
  bool ok = true;
  for (int run = 0; run < o.runs; ++run) {
    for (bool broadcast : {false, true})
      for (const Line& line : lines) ok = RunTransfers(o, line, broadcast) && ok;
  }
  std::printf("\nratio: elapsed / line limit (1.00 is the line's limit, above is slower)\n");
  return ok ? 0 : 1;
}
