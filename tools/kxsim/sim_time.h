// Time as the simulator sees it: microseconds on a monotonic clock. The pty
// transport feeds the steady clock; tests feed whatever instants they like, so
// everything time-dependent is deterministic under test.
#pragma once

#include <chrono>

namespace kxsim {

using SimTime = std::chrono::microseconds;

}  // namespace kxsim
