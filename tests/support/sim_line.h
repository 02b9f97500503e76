// For kxsim tests: line formats written as text ("9600-7E1-ascii") and a
// simulated line whose PC settings the test sets, answered on a clock that
// moves only when the test sends. Header-only; links kxsimlib.
#pragma once

#include <gtest/gtest.h>

#include <chrono>

#include "core/modbus/codec.h"
#include "kxsim/line.h"

namespace kxsim::test {

inline LineFormat Fmt(const char* text) { return *ParseLineFormat(text); }

class SimLineTest : public ::testing::Test {
 protected:
  PcSettings pc;
  Line line{[this] { return pc; }};
  SimTime clock{0};

  // Puts a frame on the line and collects the answers due a second later, so
  // RTU frames ended by silence are included.
  kx::Bytes Send(const kx::Bytes& frame) {
    line.Receive(frame, clock);
    clock += std::chrono::seconds(1);
    return line.TakeDue(clock);
  }
};

}  // namespace kxsim::test
