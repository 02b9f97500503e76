// Keeps every CPU busy with a spinning child process of the idle scheduling
// class while a benchmark runs. On a virtual machine an idle virtual CPU is
// halted, and waking it for the next byte costs 0.2 to 1.9 ms per exchange,
// changing from minute to minute; the spinners give way at once to any other
// process, so they keep the CPUs awake without taking time from the programs
// measured. Each benchmark's --let-cpus-sleep measures without them.
#pragma once

#include <sched.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string_view>
#include <vector>

// One spinning child process of the idle scheduling class per CPU, for as long
// as this lives.
class AwakeCpus {
 public:
  explicit AwakeCpus(bool spin = true) {
    if (!spin) return;
    const long cpus = std::max(1L, sysconf(_SC_NPROCESSORS_ONLN));
    for (long i = 0; i < cpus; ++i) {
      const pid_t pid = fork();
      if (pid == 0) {
        sched_param none{};
        if (sched_setscheduler(0, SCHED_IDLE, &none) != 0) _exit(1);  // never spin at normal priority
        for (;;) {
        }
      }
      if (pid > 0) children_.push_back(pid);
    }
  }
  ~AwakeCpus() {
    for (pid_t pid : children_) kill(pid, SIGKILL);
    for (pid_t pid : children_) waitpid(pid, nullptr, 0);
  }
  AwakeCpus(const AwakeCpus&) = delete;
  AwakeCpus& operator=(const AwakeCpus&) = delete;

 private:
  std::vector<pid_t> children_;
};

// Whether the command line lets the CPUs sleep (--let-cpus-sleep); says
// which on stdout. Use: const AwakeCpus awake(CpusKeptAwake(argc, argv));
inline bool CpusKeptAwake(int argc, char** argv) {
  bool keep = true;
  for (int i = 1; i < argc; ++i) {
    if (std::string_view(argv[i]) == "--let-cpus-sleep") keep = false;
  }
  std::printf("CPUs %s\n", keep ? "kept awake by idle-class spinners" : "left to sleep when idle");
  return keep;
}
