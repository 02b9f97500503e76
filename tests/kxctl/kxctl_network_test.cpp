// kxctl over the network forms against kxsim's servers (transparent TCP, Modbus
// TCP gateway) and over lines that echo each request: every command gives
// what it gives on a local pseudo-terminal line, and what cannot work through
// a gateway says so.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "kxctl_run.h"

namespace kx::test {
namespace {

using Kind = KxsimLine::Kind;

struct Way {
  const char* name;
  Kind kind;
  bool echo;
};

class KxctlOnTheNetwork : public ::testing::TestWithParam<Way> {};

const std::vector<std::string> kControllers = {"kx1@1:19200-8N1-rtu", "kx3@2:19200-8N1-rtu"};
const std::vector<std::string> kLine = {"--line", "19200-8N1-rtu"};

// The same commands on a local line and over the way under test: the same
// output, the same files.
TEST_P(KxctlOnTheNetwork, CommandsGiveWhatTheyGiveOnALocalLine) {
  KxsimLine local(Kind::Pty, kControllers);
  KxsimLine far(GetParam().kind, kControllers, GetParam().echo);
  ASSERT_TRUE(local.ok());
  ASSERT_TRUE(far.ok());
  auto run = [](const KxsimLine& sim, std::vector<std::string> args) {
    return KxctlRun{}(With(With({"--port", sim.port()}, kLine), args));
  };
  auto both = [&](const std::vector<std::string>& args) {
    SCOPED_TRACE(args.front());
    const KxctlResult here = run(local, args);
    const KxctlResult there = run(far, args);
    EXPECT_EQ(here.status, 0) << here.err;
    EXPECT_EQ(there.status, 0) << there.err;
    EXPECT_EQ(there.out, here.out);
    return there;
  };
  both({"write", "2", "0x4701", "1234"});
  both({"read", "2", "0x4701", "1"});
  both({"write", "1", "0x4714", "-5"});  // the KX1's unlock write first
  both({"read", "1", "0x4714"});
  both({"scan", "--address", "1-3"});
  const KxctlResult info = run(far, {"--json", "info", "2"});
  EXPECT_EQ(info.status, 0) << info.err;
  EXPECT_NE(info.out.find("\"model\": \"KX3\""), std::string::npos) << info.out;

  // Backup: the same file; restored over the network, read back the same.
  const std::string mine = local.dir() / "local.par";
  const std::string theirs = far.dir() / "far.par";
  EXPECT_EQ(run(local, {"backup", "2", mine}).status, 0);
  const KxctlResult backup = run(far, {"backup", "2", theirs});
  EXPECT_EQ(backup.status, 0) << backup.err;
  EXPECT_EQ(FileBytes(theirs), FileBytes(mine));
  const KxctlResult restore = run(far, {"restore", "2", mine});
  EXPECT_EQ(restore.status, 0) << restore.err;
  EXPECT_EQ(run(far, {"backup", "2", theirs}).status, 0);
  EXPECT_EQ(FileBytes(theirs), FileBytes(mine));

  // Recording: two cycles of two controllers, every sample taken.
  const std::string rec = far.dir() / "run.rec";
  const KxctlResult record = run(far, {"--json", "record", "1,2", "--every", "0.5", "--count", "2", "--out", rec});
  EXPECT_EQ(record.status, 0) << record.err;
  EXPECT_NE(record.out.find("\"cycles\": 2"), std::string::npos) << record.out;
  EXPECT_NE(record.out.find("\"skipped\": 0"), std::string::npos) << record.out;
  EXPECT_EQ(record.err, "");
}

INSTANTIATE_TEST_SUITE_P(Ways, KxctlOnTheNetwork,
                         ::testing::Values(Way{"Tcp", Kind::Tcp, false}, Way{"ModbusTcp", Kind::ModbusTcp, false},
                                           Way{"TcpEcho", Kind::Tcp, true}, Way{"ModbusTcpEcho", Kind::ModbusTcp, true},
                                           Way{"PtyEcho", Kind::Pty, true}, Way{"Rfc2217Echo", Kind::Rfc2217, true}),
                         [](const auto& p) { return std::string(p.param.name); });

// Through a gateway the ASCII/RTU form does not apply: an ASCII line setting
// reads the RTU controllers all the same; a silent address is the gateway's
// 0x0B, told as a time-out.
TEST(KxctlThroughAGateway, TheFormDoesNotApplyAndSilenceIsATimeOut) {
  KxsimLine sim(Kind::ModbusTcp, kControllers);
  ASSERT_TRUE(sim.ok());
  KxctlResult r = KxctlRun{}({"--port", sim.port(), "--line", "9600-7E1-ascii", "write", "2", "0x4701", "77"});
  EXPECT_EQ(r.status, 0) << r.err;
  r = KxctlRun{}({"--port", sim.port(), "--line", "9600-7E1-ascii", "read", "2", "0x4701"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "REGISTER  VALUE  HEX     SIGNED\n0x4701    77     0x004D  77\n");
  r = KxctlRun{}({"--port", sim.port(), "read", "9", "0x4701"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "kxctl: address 9: Received data time out error\n");
}

// A scan over a server searches addresses only; flash is refused through a
// gateway and noted over a transparent server.
TEST(KxctlThroughAGateway, ScanSearchesAddressesOnlyAndFlashIsRefused) {
  KxsimLine sim(Kind::ModbusTcp, kControllers);
  ASSERT_TRUE(sim.ok());
  KxctlResult r = KxctlRun{}({"--port", sim.port(), "scan", "--address", "1-3", "--all-formats"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "kxctl: the line's format is the gateway's: the scan searches addresses only.\n");
  EXPECT_TRUE(std::regex_search(r.out, std::regex("\n1 .* KX1 .*\n2 .* KX3 ")));
  r = KxctlRun{}({"--port", sim.port(), "flash", "2", "kx3.oc"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err.rfind("kxctl: flash cannot run through a Modbus TCP gateway", 0), 0U) << r.err;

  KxsimLine transparent(Kind::Tcp, kControllers);
  ASSERT_TRUE(transparent.ok());
  r = KxctlRun{}({"--port", transparent.port(), "flash", "2", (transparent.dir() / "missing.oc")});
  EXPECT_NE(r.err.find("kxctl: the line's format is the TCP server's: for the loader it must run at 38400-8N1"),
            std::string::npos)
      << r.err;
}

}  // namespace
}  // namespace kx::test
