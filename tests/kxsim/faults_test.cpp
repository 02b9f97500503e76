// Line faults of the simulator: continuous noise towards the PC, garbled
// answers, and switching them through the command line and the control channel.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>

#include "core/modbus/codec.h"
#include "kxsim/control.h"
#include "kxsim/faults.h"
#include "kxsim/line.h"
#include "kxsim/options.h"
#include "support/sim_line.h"

namespace kxsim {
namespace {

using namespace std::chrono_literals;
using kx::Bytes;
using kx::FrameForm;
using test::Fmt;

bool IsHexDigit(std::uint8_t c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

TEST(NoiseSettingTest, ParsesKindAndRate) {
  EXPECT_EQ(ParseNoiseSetting("lf"), (NoiseSetting{NoiseKind::WithLineFeeds, 200}));
  EXPECT_EQ(ParseNoiseSetting("nolf:5000"), (NoiseSetting{NoiseKind::NoLineFeeds, 5000}));
  EXPECT_EQ(ParseNoiseSetting("off"), (NoiseSetting{NoiseKind::Off, 200}));
  for (const char* bad : {"", "on", "lf:", "lf:0", "lf:10001", "lf:12x", "nolf:-1", ":100"}) {
    EXPECT_FALSE(ParseNoiseSetting(bad)) << bad;
  }
  EXPECT_EQ(ToString(*ParseNoiseSetting("nolf:300")), "nolf:300");
}

// Collects what the line sends for `span`, recording the longest gap between
// two deliveries.
struct Collected {
  Bytes bytes;
  SimTime longestGap{0};
};
Collected Listen(Line& line, SimTime from, SimTime span) {
  Collected c;
  SimTime last = from;
  for (SimTime now = from; now <= from + span;) {
    const Bytes out = line.TakeDue(now);
    if (!out.empty()) {
      c.longestGap = std::max(c.longestGap, now - last);
      last = now;
      c.bytes.insert(c.bytes.end(), out.begin(), out.end());
    }
    const auto next = line.NextDeadline();
    if (!next) break;
    now = std::max(now + 1us, *next);
  }
  return c;
}

class LineNoiseTest : public test::SimLineTest {};

TEST_F(LineNoiseTest, NoiseFlowsAtItsRateWithOrWithoutLineFeeds) {
  struct Case {
    const char* setting;
    bool lineFeeds;
  };
  for (const Case& c : {Case{"lf:1000", true}, Case{"nolf:1000", false}}) {
    SCOPED_TRACE(c.setting);
    Line fresh{[this] { return pc; }};
    fresh.noise().Set(*ParseNoiseSetting(c.setting));
    const Collected got = Listen(fresh, 0s, 1s);
    // 10 bytes every 10 ms, the first chunk at once: 101 chunks in the closed second.
    EXPECT_EQ(got.bytes.size(), 1010U);
    EXPECT_LE(got.longestGap, LineNoise::kPeriod);  // no silence long enough to end a wait
    const auto lineFeeds = std::count(got.bytes.begin(), got.bytes.end(), '\n');
    if (c.lineFeeds) {
      EXPECT_GE(lineFeeds, 1010 / 23);
      // Every LF comes after a CR, at most 21 other bytes apart.
      std::size_t since = 0;
      for (std::size_t i = 0; i < got.bytes.size(); ++i) {
        if (got.bytes[i] == '\n') {
          EXPECT_EQ(got.bytes[i - 1], '\r');
          since = 0;
        } else {
          EXPECT_LE(++since, 22U);
        }
      }
    } else {
      EXPECT_EQ(lineFeeds, 0);
    }
  }
}

TEST_F(LineNoiseTest, AnswersStillFlowAndNoiseStopsWhenSwitchedOff) {
  pc = ExactSettings(Fmt("9600-7E1-ascii"));
  line.Add(std::make_unique<Controller>(Model::Kx2, 1, Fmt("9600-7E1-ascii")));
  EXPECT_EQ(RunControlCommand(line, "line-noise nolf:100"), "");
  EXPECT_EQ(line.noise().setting(), (NoiseSetting{NoiseKind::NoLineFeeds, 100}));
  const Bytes answer = kx::BuildFrame(FrameForm::Ascii, Bytes{1, 3, 2, 0x01, 0x2C});
  line.Receive(kx::BuildFrame(FrameForm::Ascii, kx::ReadRequestPdu(1, 3, 0x4701, 1)), 0s);
  const Collected got = Listen(line, 0s, 100ms);
  EXPECT_NE(std::search(got.bytes.begin(), got.bytes.end(), answer.begin(), answer.end()), got.bytes.end());
  EXPECT_EQ(got.bytes.size(), answer.size() + 11);  // a byte every 10 ms besides

  EXPECT_EQ(RunControlCommand(line, "line-noise off"), "");
  EXPECT_TRUE(line.TakeDue(200ms).empty());
  EXPECT_FALSE(line.NextDeadline());
  for (const char* bad : {"line-noise", "line-noise loud", "line-noise lf:0"}) {
    EXPECT_NE(RunControlCommand(line, bad), "") << bad;
  }
}

TEST_F(LineNoiseTest, StalledClockGetsOneChunkNotTheBacklog) {
  line.noise().Set(*ParseNoiseSetting("nolf:1000"));
  EXPECT_EQ(line.TakeDue(0s).size(), 10U);
  EXPECT_EQ(line.TakeDue(5s).size(), 10U);
  EXPECT_EQ(line.NextDeadline(), SimTime(5s) + LineNoise::kPeriod);
}

TEST_F(LineNoiseTest, GarbageAnswerHasTheRealLengthAndIsNoFrame) {
  for (const char* format : {"9600-7E1-ascii", "9600-8N1-rtu"}) {
    SCOPED_TRACE(format);
    const LineFormat f = Fmt(format);
    pc = ExactSettings(f);
    Line fresh{[this] { return pc; }};
    ControllerOptions options;
    options.fault = *ParseFault("garbage");
    fresh.Add(std::make_unique<Controller>(Model::Kx2, 4, f, options));
    fresh.Receive(kx::BuildFrame(f.form, kx::ReadRequestPdu(4, 3, 0x4700, 4)), 0s);
    const Bytes got = fresh.TakeDue(1s);
    ASSERT_EQ(got.size(), kx::BuildFrame(f.form, Bytes(3 + 8, 0)).size());
    if (f.form == FrameForm::Ascii) {
      EXPECT_EQ(got.front(), ':');
      EXPECT_EQ(got[got.size() - 2], '\r');
      EXPECT_EQ(got.back(), '\n');
      EXPECT_TRUE(std::none_of(got.begin() + 1, got.end() - 2, IsHexDigit));
    } else {
      EXPECT_FALSE(kx::RtuChecksumOk(got));
    }
  }
}

TEST(FaultOptionsTest, LineNoiseAndGarbageOnTheCommandLine) {
  const auto r = ParseCommandLine({"--link", "/tmp/x", "--line-noise", "lf:50", "kx2@1:9600-7E1-ascii,fault=garbage"});
  ASSERT_TRUE(r.options) << r.error;
  EXPECT_EQ(r.options->lineNoise, (NoiseSetting{NoiseKind::WithLineFeeds, 50}));
  EXPECT_EQ(r.options->controllers[0].options.fault, Fault::Garbage);
  EXPECT_FALSE(ParseCommandLine({"--link", "/tmp/x", "--line-noise", "hiss", "kx2@1:9600-7E1-ascii"}).options);
  EXPECT_FALSE(ParseCommandLine({"--link", "/tmp/x", "kx2@1:9600-7E1-ascii", "--line-noise"}).options);
}

}  // namespace
}  // namespace kxsim
