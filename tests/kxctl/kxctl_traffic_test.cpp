// kxctl --trace and stats end to end against kxsim, with and without faults.
#include <gtest/gtest.h>

#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "kxctl_run.h"

namespace kx::test {
namespace {

using Kind = KxsimLine::Kind;

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// Every frame on stderr; stdout exactly as without --trace.
TEST(KxctlTrace, EveryFrameOnStderrAndStdoutUnchanged) {
  KxsimLine sim(Kind::Pty, {"kx2@1:9600-7E1-ascii"});
  ASSERT_TRUE(sim.ok());
  const std::vector<std::string> line = {"--port", sim.port(), "--line", "9600-7E1-ascii", "--json"};
  const KxctlResult plain = KxctlRun{}(With(line, {"read", "1", "0x4701"}));
  const KxctlResult traced = KxctlRun{}(With(line, {"--trace", "read", "1", "0x4701"}));
  ASSERT_EQ(plain.status, 0) << plain.err;
  EXPECT_EQ(traced.status, 0) << traced.err;
  EXPECT_EQ(traced.out, plain.out);
  const auto err = Lines(traced.err);
  ASSERT_EQ(err.size(), 2U) << traced.err;
  EXPECT_TRUE(std::regex_match(err[0], std::regex(R"(\d\d:\d\d:\d\d\.\d{3} TX 3A 30 31 30 33 34 37 30 31 30 30 30 31 42 33 0D 0A  ":010347010001B3")")))
      << err[0];
  EXPECT_TRUE(std::regex_match(err[1], std::regex(R"(\d\d:\d\d:\d\d\.\d{3} RX 3A( [0-9A-F]{2})+ 0D 0A  ":010302[0-9A-F]{6}"  good  \d+\.\d ms)")))
      << err[1];

  // An unanswered request is traced too, with why.
  const KxctlResult silent = KxctlRun{}(With(line, {"--trace", "read", "9", "0x4701"}));
  EXPECT_EQ(silent.status, 1);
  const auto lines = Lines(silent.err);
  ASSERT_GE(lines.size(), 3U) << silent.err;
  EXPECT_TRUE(std::regex_match(lines[1], std::regex(R"(\d\d:\d\d:\d\d\.\d{3} RX  no answer: Received data time out error)")))
      << lines[1];
}

TEST(KxctlStats, CountsAndReplyTimesAgainstKxsim) {
  KxsimLine sim(Kind::Pty, {"--timing", "kx2@1:38400-8N1-rtu", "kx2@2:38400-8N1-rtu,fault=badcheck",
                            "kx3@3:38400-8N1-rtu,fault=exception"});
  ASSERT_TRUE(sim.ok());
  const std::vector<std::string> line = {"--port", sim.port(), "--line", "38400-8N1-rtu", "--json"};

  KxctlResult r = KxctlRun{}(With(line, {"stats", "1", "--count", "20"}));
  EXPECT_EQ(r.status, 0) << r.err;
  // 8 + 9 bytes at 38400 bit/s and kxsim's 2 ms turnaround: about 6.4 ms.
  EXPECT_TRUE(std::regex_match(
      r.out, std::regex(R"(\{\n  "address": 1,\n  "requests": 20,\n  "good": 20,\n  "timeouts": 0,\n  "check_errors": 0,\n)"
                        R"(  "exceptions": 0,\n  "other_errors": 0,\n  "reply_ms": \{\n    "min": [\d.]+,\n    "mean": [\d.]+,\n)"
                        R"(    "p50": [\d.]+,\n    "p95": [\d.]+,\n    "max": [\d.]+\n  \},\n  "suggested_timeout_ms": \d+\n\}\n)")))
      << r.out;
  const std::smatch m = [&] {
    std::smatch found;
    std::regex_search(r.out, found, std::regex(R"("min": ([\d.]+))"));
    return found;
  }();
  ASSERT_EQ(m.size(), 2U);
  EXPECT_GE(std::stod(m[1]), 6.0);

  struct Case {
    const char* address;
    const char* field;
  };
  for (const Case& c : {Case{"2", "\"check_errors\": 5"}, Case{"3", "\"exceptions\": 5"}, Case{"9", "\"timeouts\": 5"}}) {
    SCOPED_TRACE(c.address);
    r = KxctlRun{}(With(line, {"stats", c.address, "--count", "5", "--every", "10"}));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find(c.field), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\"good\": 0"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\"suggested_timeout_ms\": null"), std::string::npos) << r.out;
  }

  r = KxctlRun{}(With(line, {"stats", "1", "--count", "0"}));
  EXPECT_EQ(r.status, 2);
}

}  // namespace
}  // namespace kx::test
