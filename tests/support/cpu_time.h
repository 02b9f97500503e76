// Processor time this process has used so far (user and system), in seconds:
// for checks that a port does not keep the processor busy, and for benchmark
// figures. Header-only.
#pragma once

#include <sys/resource.h>
#include <sys/time.h>

namespace kx::test {

inline double CpuSeconds() {
  rusage u{};
  ::getrusage(RUSAGE_SELF, &u);
  auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; };
  return seconds(u.ru_utime) + seconds(u.ru_stime);
}

}  // namespace kx::test
