// kxctl scan: the normal wait against --fast, over a sweep of every format.
//
// kxsim serves five controllers at different formats on a pseudo-terminal with
// line timing (answers leave after the turnaround plus the time request and
// answer take on the wire). The bench runs `kxctl scan --all-formats` over an
// address range twice, with the bus search's 110 ms wait per silent probe and
// with --fast, checks that both found the same controllers, and reports the
// time per probe, the time a full sweep (247 addresses x 90 formats = 22230
// probes) takes at that rate, and the ratio.
//
// Usage: scan_fast_bench [--addresses A-B] [--kxsim PATH] [--kxctl PATH]
//   --addresses  the range swept (default 1-247: the full sweep, about 41
//                minutes at the normal wait); a smaller range is extrapolated
//                to the full sweep at the measured rate per probe.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "support/kxsim_process.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kFormats = 90;
constexpr int kFullSweep = 247 * kFormats;

struct Run {
  int status = -1;
  std::string out;
  double seconds = 0;
};

// Runs kxctl with `args`, collecting stdout.
Run RunKxctl(const std::string& kxctl, const std::vector<std::string>& args) {
  Run run;
  int out[2];
  if (pipe(out) != 0) return run;
  const auto start = Clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(out[1], STDOUT_FILENO);
    close(out[0]);
    close(out[1]);
    std::vector<char*> argv{const_cast<char*>(kxctl.c_str())};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(kxctl.c_str(), argv.data());
    _exit(127);
  }
  close(out[1]);
  char buf[4096];
  ssize_t n;
  while ((n = read(out[0], buf, sizeof buf)) > 0) run.out.append(buf, static_cast<std::size_t>(n));
  close(out[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  run.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

std::string Beside(const char* self, const char* program) {
  std::error_code ec;
  const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  return (ec ? std::filesystem::path(self) : exe).parent_path() / program;
}

}  // namespace

int main(int argc, char** argv) {
  std::string kxsim = KXSIM_PATH;
  std::string kxctl = Beside(argv[0], "kxctl");
  std::string range = "1-247";
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--kxsim") == 0) kxsim = argv[i + 1];
    else if (std::strcmp(argv[i], "--kxctl") == 0) kxctl = argv[i + 1];
    else if (std::strcmp(argv[i], "--addresses") == 0) range = argv[i + 1];
  }
  int first = 1;
  int last = 247;
  if (std::sscanf(range.c_str(), "%d-%d", &first, &last) != 2 || first < 1 || last > 247 || first > last) {
    std::fprintf(stderr, "scan_fast_bench: bad --addresses %s\n", range.c_str());
    return 2;
  }

  kx::test::ScratchDir dir;
  const std::string link = dir / "line";
  kx::test::KxsimProcess sim;
  // Controllers inside the range, one per baud rate, ASCII and RTU.
  const int span = last - first + 1;
  auto at = [&](int k) { return std::to_string(first + (span * k) / 5); };
  if (!sim.Start(kxsim, {"--link", link, "--timing", "kx1@" + at(0) + ":9600-7E1-ascii",
                         "kx2@" + at(1) + ":19200-8N2-rtu", "kx3@" + at(2) + ":38400-8O1-ascii",
                         "kx2@" + at(3) + ":4800-8N1-rtu", "kx3@" + at(4) + ":2400-8O2-rtu"})) {
    std::fprintf(stderr, "scan_fast_bench: kxsim did not start (%s)\n", kxsim.c_str());
    return 1;
  }

  const int probes = span * kFormats;
  std::printf("kxctl scan --all-formats --address %d-%d: %d probes; kxsim --timing, pseudo-terminal\n\n", first, last,
              probes);
  std::printf("| wait | found | seconds | ms per probe | full sweep (22230 probes), min |\n");
  std::printf("|---|---:|---:|---:|---:|\n");
  std::vector<Run> runs;
  for (const bool fast : {false, true}) {
    std::vector<std::string> args = {"--port", link, "--json", "scan", "--all-formats", "--address", range};
    if (fast) args.push_back("--fast");
    Run run = RunKxctl(kxctl, args);
    const int found = static_cast<int>(std::count(run.out.begin(), run.out.end(), '{'));
    const double perProbe = run.seconds * 1000.0 / probes;
    std::printf("| %s | %d | %.1f | %.1f | %.1f |\n", fast ? "--fast" : "normal (110 ms)", found, run.seconds,
                perProbe, perProbe * kFullSweep / 60000.0);
    std::fflush(stdout);
    runs.push_back(std::move(run));
  }
  const bool same = runs[0].out == runs[1].out && runs[0].status == 0;
  std::printf("\nratio normal / fast: %.2f; same controllers found: %s\n", runs[0].seconds / runs[1].seconds,
              same ? "yes" : "NO");
  if (!same) std::printf("normal:\n%s\nfast:\n%s\n", runs[0].out.c_str(), runs[1].out.c_str());
  return same ? 0 : 1;
}
