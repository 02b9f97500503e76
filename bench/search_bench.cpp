// Time per probe of the bus search on a line where nobody answers.
//
// kxsim serves one controller at 38400 bit/s RTU on a pseudo-terminal (line
// timing on); the search probes one combination, 9600 8N1 ASCII, over all 247
// addresses, so every probe goes unanswered and ends by its 2-tick time-out.
// The bench reports milliseconds per probe next to the search's own estimate
// of 183 ms per probe (which its time-left line uses) and next to what a silent
// probe should cost: its 2-tick wait (2 x 55 ms) plus the frame's time on the
// wire (17 characters x 10 bits / 9600 bit/s); the wire time overlaps the wait,
// since the frame is queued and the timer armed at once.
//
// Usage: search_bench [--kxsim PATH]
#include <QCoreApplication>
#include <QEventLoop>


#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "core/comset/bus_search.h"
#include "core/line/comport.h"
#include "core/routing/main_routing.h"
#include "core/line/session.h"
#include "serial/port_map.h"
#include "support/cpu_time.h"
#include "support/kxsim_process.h"
#include "support/port_paths.h"

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

using kx::test::CpuSeconds;

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  std::string kxsim = KXSIM_PATH;
  for (int i = 1; i + 1 < argc; ++i)
    if (std::strcmp(argv[i], "--kxsim") == 0) kxsim = argv[i + 1];

  kx::test::ScratchDir dir;
  const std::string link = dir / "line";
  kx::test::KxsimProcess sim;
  if (!sim.Start(kxsim, {"--link", link, "--timing", "kx2@1:38400-8N1-rtu"})) {
    std::fprintf(stderr, "search_bench: kxsim did not start (%s)\n", kxsim.c_str());
    return 1;
  }

  kx::Session session;
  kx::serial::ConfigurePorts(session, kx::test::OnePort(1, link));
  std::unique_ptr<kx::ComPort> port = session.makePort();
  kx::MainPortRouting routing(session, *port);

  std::vector<Clock::time_point> steps;
  kx::BusSearch* searchPtr = nullptr;
  int lastCount = -1;
  QEventLoop loop;
  const auto changed = [&] {
    if (!searchPtr) return;
    if (searchPtr->probeCount() != lastCount) {
      lastCount = searchPtr->probeCount();
      steps.push_back(Clock::now());
    }
    if (!searchPtr->Searching()) loop.quit();
  };
  const auto error = [](const std::string& e) { std::fprintf(stderr, "search_bench: %s\n", e.c_str()); };
  kx::BusSearch search(session, routing, kx::BusSearch::Hooks{changed, error});
  searchPtr = &search;
  routing.setup.answerStep = [&](const kx::Answer& answer) { search.Handle(kx::search_event::Answered{answer}); };

  kx::SearchPresets presets;  // all addresses; 9600 8N1 ASCII
  presets.baud = 1;
  presets.length = kx::kLength8;
  presets.parity = kx::kParityNone;
  presets.stop = kx::kStop1;
  presets.protocol = kx::kProtocolAscii;

  const auto start = Clock::now();
  search.Handle(kx::search_event::Start{1, presets, {}});
  if (search.state() == kx::BusSearch::State::Idle) return 1;  // the port did not open
  steps.clear();
  steps.push_back(start);
  const double cpuStart = CpuSeconds();
  if (search.Searching()) loop.exec();
  const auto end = Clock::now();
  const double cpu = CpuSeconds() - cpuStart;

  std::vector<double> per;
  for (std::size_t i = 1; i < steps.size(); ++i) per.push_back(Ms(steps[i] - steps[i - 1]));
  std::sort(per.begin(), per.end());
  const int probes = search.probeCount();
  const double total = Ms(end - start);
  const double wait = 2.0 * kx::kTickMs;
  const double wire = 17.0 * 10.0 / 9600.0 * 1000.0;
  auto pct = [&](double p) { return per.empty() ? 0.0 : per[static_cast<std::size_t>(p * static_cast<double>(per.size() - 1))]; };

  std::printf("bus search, one combination (9600 8N1 ASCII) over 247 addresses, empty line\n");
  std::printf("  probes            %d (hits %zu)\n", probes, search.hits().size());
  std::printf("  total             %.0f ms\n", total);
  std::printf("  per probe         %.1f ms  (min %.1f, median %.1f, p95 %.1f, max %.1f)\n",
              probes ? total / probes : 0.0, pct(0.0), pct(0.5), pct(0.95), pct(1.0));
  std::printf("  estimate          %d ms per probe (time-left line)\n", kx::kProbeEstimateMs);
  std::printf("  2-tick wait       %.0f ms, frame on the wire %.1f ms (overlaps the wait)\n", wait, wire);
  std::printf("  above the wait    %.1f ms per probe\n", probes ? total / probes - wait : 0.0);
  std::printf("  CPU time          %.0f ms (%.2f ms per probe)\n", cpu * 1000.0, probes ? cpu * 1000.0 / probes : 0.0);
  return probes == 247 ? 0 : 1;
}
