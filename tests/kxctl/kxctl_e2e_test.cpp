// kxctl end to end: the program itself against kxsim, over a pseudo-terminal
// (--link) and over RFC 2217 (--listen).
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>

#include "core/recorder/csv_export.h"
#include "core/recorder/record_file.h"
#include "kxctl_run.h"

namespace kx::test {
namespace {

using Kind = KxsimLine::Kind;

class KxctlOverBothLines : public ::testing::TestWithParam<Kind> {};

// Three models at three formats the pseudo-terminal can tell apart (baud rate,
// form, stop bits); the scan names each at its own format, with model and
// firmware, and the fast scan finds the same.
TEST_P(KxctlOverBothLines, ScanFindsControllersAtTheirFormats) {
  KxsimLine sim(GetParam(), {"kx1@3:9600-7E1-ascii", "kx2@5:19200-8N2-rtu", "kx3@2:38400-8O1-rtu"});
  ASSERT_TRUE(sim.ok());
  const std::string expected = R"([
  {
    "address": 3,
    "line": "9600-7E1-ascii",
    "model": "KX1",
    "firmware": "3.20"
  },
  {
    "address": 5,
    "line": "19200-8N2-rtu",
    "model": "KX2",
    "firmware": "1.05"
  },
  {
    "address": 2,
    "line": "38400-8O1-rtu",
    "model": "KX3",
    "firmware": "1.10"
  }
]
)";
  for (const char* fast : {"", "--fast"}) {
    SCOPED_TRACE(fast);
    std::vector<std::string> args = {"--port", sim.port(), "--json", "scan", "--address", "1-6", "--line",
                                     "9600-7E1-ascii", "19200-8N2-rtu", "38400-8O1-rtu"};
    if (*fast) args.push_back(fast);
    const KxctlResult r = KxctlRun{}(args);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, expected);
  }
}

TEST_P(KxctlOverBothLines, WriteIsEchoCheckedAndReadsBack) {
  KxsimLine sim(GetParam(), {"kx2@7:9600-8N1-rtu", "kx1@8:9600-8N1-rtu"});
  ASSERT_TRUE(sim.ok());
  const std::vector<std::string> line = {"--port", sim.port(), "--line", "9600-8N1-rtu"};
  KxctlResult r = KxctlRun{}(With(line, {"write", "7", "0x4701", "1234"}));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "address 7: 0x4701 := 1234 (0x04D2), echo checked\n");

  r = KxctlRun{}(With(line, {"--json", "read", "7", "0x4701", "2"}));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(std::regex_match(r.out, std::regex(R"(\{\n  "address": 7,\n  "register": 18177,\n  "values": \[\n    1234,\n    \d+\n  \]\n\}\n)")))
      << r.out;

  // A register the KX1 protects (PV offset): the unlock write goes first.
  r = KxctlRun{}(With(line, {"--json", "write", "8", "0x4714", "-5"}));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "{\n  \"address\": 8,\n  \"register\": 18196,\n  \"value\": 65531,\n  \"unlocked\": true\n}\n");
  r = KxctlRun{}(With(line, {"read", "8", "0x4714"}));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "REGISTER  VALUE  HEX     SIGNED\n0x4714    65531  0xFFFB  -5\n");
}

INSTANTIATE_TEST_SUITE_P(Lines, KxctlOverBothLines, ::testing::Values(Kind::Pty, Kind::Rfc2217),
                         [](const auto& p) { return p.param == Kind::Pty ? "Pty" : "Rfc2217"; });

// Over RFC 2217 every setting arrives, so formats that differ only in data
// bits and parity are told apart.
TEST(Kxctl, ScanOverRfc2217TellsDataBitsAndParityApart) {
  KxsimLine sim(Kind::Rfc2217, {"kx1@1:9600-7E1-ascii", "kx2@2:9600-8N1-ascii"});
  ASSERT_TRUE(sim.ok());
  const KxctlResult r = KxctlRun{}({"--port", sim.port(), "scan", "--fast", "--address", "1-2", "--line",
                                    "9600-7E1-ascii", "9600-8N1-ascii"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "ADDRESS  LINE            MODEL  FIRMWARE\n"
            "1        9600-7E1-ascii  KX1    3.20\n"
            "2        9600-8N1-ascii  KX2    1.05\n");
}

TEST(Kxctl, InfoOfEachModel) {
  KxsimLine sim(Kind::Pty, {"kx1@1:9600-7E1-ascii", "kx2@2:9600-7E1-ascii", "kx3@3:9600-7E1-ascii"});
  ASSERT_TRUE(sim.ok());
  struct Case {
    const char* address;
    const char* model;
    const char* firmware;
  };
  for (const Case& c : {Case{"1", "KX1", "3.20"}, Case{"2", "KX2", "1.05"}, Case{"3", "KX3", "1.10"}}) {
    SCOPED_TRACE(c.model);
    const KxctlResult r = KxctlRun{}({"--port", sim.port(), "--json", "info", c.address});
    EXPECT_EQ(r.status, 0) << r.err;
    const std::string head = std::string("\\{\n  \"address\": ") + c.address + ",\n  \"model\": \"" + c.model +
                             "\",\n  \"firmware\": \"" + c.firmware + "\",\n";
    EXPECT_TRUE(std::regex_match(
        r.out, std::regex(head + R"re(  "pv": -?\d+(\.\d+)?,\n  "sv": -?\d+(\.\d+)?,\n  "unit": "(C|F|EU)"\n\}\n)re")))
        << r.out;
  }
}

// No answer: status 1 and the program's time-out message.
TEST(Kxctl, SilentLineFailsWithTheTimeOutMessage) {
  KxsimLine sim(Kind::Pty, {"kx1@1:9600-7E1-ascii"});
  ASSERT_TRUE(sim.ok());
  for (const std::vector<std::string>& command :
       {std::vector<std::string>{"read", "9", "0x4700"}, std::vector<std::string>{"info", "9"},
        std::vector<std::string>{"write", "9", "0x4701", "1"}}) {
    SCOPED_TRACE(command[0]);
    const KxctlResult r = KxctlRun{}(With({"--port", sim.port(), "--json"}, command));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "kxctl: address 9: Received data time out error\n");
  }
  const KxctlResult r = KxctlRun{}({"--port", sim.port(), "--json", "scan", "--fast", "--address", "5-6"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "[]\n");
  EXPECT_EQ(r.err, "kxctl: Search Completed,Found 0 items\n");
}

TEST(Kxctl, ExceptionAnswerIsReportedWithTheProgramsText) {
  KxsimLine sim(Kind::Pty, {"kx2@1:9600-7E1-ascii"});
  ASSERT_TRUE(sim.ok());
  const KxctlResult r = KxctlRun{}({"--port", sim.port(), "read", "1", "0x0100"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "kxctl: address 1:  Read error : illegal address  !!!\n");
}

// Usage errors: status 2, the error and the usage line of the command.
TEST(Kxctl, UsageErrors) {
  struct Case {
    std::vector<std::string> args;
    const char* error;
  };
  const Case cases[] = {
      {{}, "kxctl: no command given\nUsage: kxctl [--port"},
      {{"read", "1"}, "kxctl: missing arguments\nUsage: kxctl [--port"},
      {{"scan", "--address", "300"}, "kxctl: address \"300\" is not a number from 1 to 247\n"},
      {{"--line", "9600-7E1", "info", "1"}, "kxctl: bad line format \"9600-7E1\""},
  };
  for (const Case& c : cases) {
    const KxctlResult r = KxctlRun{}(c.args);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find(c.error), std::string::npos) << r.err;
  }
  const KxctlResult r = KxctlRun{}({"read", "1"});
  EXPECT_NE(r.err.find("\n  read ADDR REG [COUNT]\n"), std::string::npos) << r.err;
  const KxctlResult help = KxctlRun{}({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.rfind("Usage: kxctl ", 0), 0u);
}

// Without --port and --line: the settings file of the working directory,
// its COM number mapped through KXCOMM_PORTS; a COM port not present fails.
TEST(Kxctl, PortAndLineFromTheSettingsFile) {
  KxsimLine sim(Kind::Pty, {"kx2@4:19200-8N2-rtu"});
  ASSERT_TRUE(sim.ok());
  {
    std::ofstream settings(sim.dir() / "SETKX.$$$");
    settings << 3 * 256 + 128 + 3 * 16 + 2 + 1;  // COM3, 19200, no parity, 8 bits, 2 stop bits, RTU
  }
  KxctlRun run;
  run.workDir = sim.dir().path();
  run.env = {{"KXCOMM_PORTS", "COM3=" + sim.port()}};
  KxctlResult r = run({"read", "4", "0x4701"});
  EXPECT_EQ(r.status, 0) << r.err;

  run.env = {{"KXCOMM_PORTS", "COM1=" + sim.port()}};
  r = run({"read", "4", "0x4701"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "kxctl: COM Port 3 not exist !\n");

  // --port COMn with the file's line.
  r = run({"--port", "com1", "read", "4", "0x4701"});
  EXPECT_EQ(r.status, 0) << r.err;
}

TEST(Kxctl, InterruptedScanEndsCleanly) {
  KxsimLine sim(Kind::Pty, {"kx1@1:9600-7E1-ascii"});
  ASSERT_TRUE(sim.ok());
  KxctlRun run;
  run.workDir = sim.dir().path();  // no settings file there: the default line, 9600-7E1-ascii
  run.interruptAfter = std::chrono::milliseconds(1500);
  run.limit = std::chrono::milliseconds(10000);
  const auto start = std::chrono::steady_clock::now();
  const KxctlResult r = run({"--port", sim.port(), "--json", "scan"});
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "kxctl: interrupted\n");
  // What was found before the interrupt is still reported.
  EXPECT_NE(r.out.find("\"address\": 1,"), std::string::npos) << r.out;
  // The port is free again.
  EXPECT_EQ(KxctlRun{}({"--port", sim.port(), "read", "1", "0x4701"}).status, 0);
}

}  // namespace
}  // namespace kx::test

namespace kx::test {
namespace {

// backup writes the 260-byte parameter file: the controller's memory and the
// trailer of model, firmware version and check byte.
TEST(Kxctl, BackupWritesTheParameterFile) {
  KxsimLine sim(Kind::Pty, {"kx1@1:9600-7E1-ascii", "kx2@2:9600-7E1-ascii", "kx3@3:9600-7E1-ascii"});
  ASSERT_TRUE(sim.ok());
  struct Case {
    const char* address;
    std::vector<std::uint8_t> trailer;
  };
  for (const Case& c : {Case{"1", {0x41, 0x03, 0x20, 0x64}}, Case{"2", {0x42, 0x01, 0x05, 0x48}},
                        Case{"3", {0x43, 0x01, 0x10, 0x54}}}) {
    SCOPED_TRACE(c.address);
    const std::string file = sim.dir() / (std::string("kx") + c.address + ".par");
    const KxctlResult r = KxctlRun{}({"--port", sim.port(), "backup", c.address, file});
    EXPECT_EQ(r.status, 0) << r.err;
    const auto bytes = FileBytes(file);
    ASSERT_EQ(bytes.size(), 260u);
    EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin() + 256, bytes.end()), c.trailer);
    EXPECT_NE(r.out.find(" save parameters to file done: " + file), std::string::npos) << r.out;
  }
}

// backup from one controller, restore onto another of the same model: a
// backup of the second then holds the same parameters, the changed SV among them.
TEST(Kxctl, BackupThenRestoreOntoAnotherController) {
  KxsimLine sim(Kind::Pty, {"kx1@1:9600-7E1-ascii", "kx1@11:9600-7E1-ascii", "kx2@2:9600-7E1-ascii",
                            "kx2@12:9600-7E1-ascii", "kx3@3:9600-7E1-ascii", "kx3@13:9600-7E1-ascii"});
  ASSERT_TRUE(sim.ok());
  const std::vector<std::string> port = {"--port", sim.port()};
  for (const std::string from : {"1", "2", "3"}) {
    SCOPED_TRACE(from);
    const std::string to = "1" + from;
    const std::string a = sim.dir() / ("a" + from + ".par");
    const std::string b = sim.dir() / ("b" + from + ".par");
    ASSERT_EQ(KxctlRun{}(With(port, {"write", from, "0x4701", "777"})).status, 0);
    ASSERT_EQ(KxctlRun{}(With(port, {"backup", from, a})).status, 0);
    const KxctlResult r = KxctlRun{}(With(port, {"--json", "restore", to, a}));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("\"address\": " + to + ",\n  \"model\": \"KX" + from + "\""), std::string::npos) << r.out;
    ASSERT_EQ(KxctlRun{}(With(port, {"backup", to, b})).status, 0);
    EXPECT_EQ(FileBytes(a), FileBytes(b));
    EXPECT_EQ(KxctlRun{}(With(port, {"read", to, "0x4701"})).out, "REGISTER  VALUE  HEX     SIGNED\n0x4701    777    0x0309  777\n");
  }
}

// A file of another model is refused unless --force; a broken file is refused
// with the program's message; --all writes every controller by broadcast.
TEST(Kxctl, RestoreRefusals) {
  KxsimLine sim(Kind::Pty, {"kx2@1:9600-7E1-ascii", "kx3@3:9600-7E1-ascii", "kx3@4:9600-7E1-ascii"});
  ASSERT_TRUE(sim.ok());
  const std::vector<std::string> port = {"--port", sim.port()};
  const std::string kx2 = sim.dir() / "kx2.par";
  ASSERT_EQ(KxctlRun{}(With(port, {"backup", "1", kx2})).status, 0);

  KxctlResult r = KxctlRun{}(With(port, {"restore", "3", kx2}));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "kxctl: address 3: the file holds KX2 V1.05 parameters, the controller is a KX3 (--force writes them all the same)\n");

  const std::string broken = sim.dir() / "broken.par";
  {
    auto bytes = FileBytes(kx2);
    bytes.pop_back();
    std::ofstream(broken, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }
  r = KxctlRun{}(With(port, {"restore", "1", broken}));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "kxctl: " + broken + ": File data length or content error !\n");

  // Broadcast: each of the 27 writes waits its 5 ticks, nobody answers. The
  // KX2 at address 1 keeps the KX3 file from going to all unless --force; the
  // range 3-4 holds only KX3s.
  const std::string kx3 = sim.dir() / "kx3.par";
  ASSERT_EQ(KxctlRun{}(With(port, {"write", "3", "0x4701", "555"})).status, 0);
  ASSERT_EQ(KxctlRun{}(With(port, {"backup", "3", kx3})).status, 0);
  r = KxctlRun{}(With(port, {"restore", "--all", kx3, "--address", "1-4"}));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "kxctl: the file holds KX3 V1.10 parameters, but address 1 is a KX2 (--force broadcasts them all the same)\n");
  EXPECT_EQ(r.out, "");
  r = KxctlRun{}(With(port, {"restore", "--all", kx3, "--address", "3-4"}));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "all controllers (broadcast): KX3 V1.10 parameters written from " + kx3 + "\n");
  EXPECT_EQ(KxctlRun{}(With(port, {"read", "4", "0x4701"})).out, "REGISTER  VALUE  HEX     SIGNED\n0x4701    555    0x022B  555\n");
}

// Ctrl-C during the upload: no file, not even half of one.
TEST(Kxctl, InterruptedBackupLeavesNoFile) {
  KxsimLine sim(Kind::Pty, {"--timing", "kx2@2:9600-7E1-ascii"});
  ASSERT_TRUE(sim.ok());
  KxctlRun run;
  run.interruptAfter = std::chrono::milliseconds(1500);
  const std::string file = sim.dir() / "kx2.par";
  const KxctlResult r = run({"--port", sim.port(), "backup", "2", file});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "kxctl: interrupted\n");
  std::vector<std::string> left;
  for (const auto& entry : std::filesystem::directory_iterator(sim.dir().path())) left.push_back(entry.path().filename());
  EXPECT_EQ(std::count_if(left.begin(), left.end(), [](const std::string& n) { return n.find(".par") != std::string::npos; }), 0);
}

// record writes the recorder's record file: the header names the slots and
// the sampling time, and each cycle appends one whole 25-byte record.
TEST(Kxctl, RecordWritesTheRecordFileAndCsv) {
  KxsimLine sim(Kind::Rfc2217, {"kx1@1:9600-8N1-rtu", "kx2@5:9600-8N1-rtu"});
  ASSERT_TRUE(sim.ok());
  const std::vector<std::string> port = {"--port", sim.port(), "--line", "9600-8N1-rtu"};
  const std::string rec = sim.dir() / "run.rec";
  KxctlResult r = KxctlRun{}(With(port, {"--json", "record", "1,5", "--every", "0.5", "--out", rec, "--count", "3"}));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "{\n  \"file\": \"" + rec + "\",\n  \"addresses\": [\n    1,\n    5\n  ],\n  \"cycles\": 3,\n  \"skipped\": 0,\n  \"dropped\": []\n}\n");
  recorder::RecordFile file;
  ASSERT_TRUE(file.Open(rec));
  EXPECT_EQ(FileBytes(rec).size(), 12u + 3 * 25u);
  EXPECT_EQ(file.header().addresses[0], 1);
  EXPECT_EQ(file.header().addresses[1], 5);
  EXPECT_EQ(file.header().addresses[2], 0);
  EXPECT_EQ(file.header().sampleTime, 0);  // half a second
  ASSERT_EQ(file.count(), 3u);
  for (std::uint64_t k = 0; k < 3; ++k) {
    EXPECT_GT(file.At(k).values[0], 100);  // PV in tenths, about 25.0
    EXPECT_GT(file.At(k).values[1], 100);
    EXPECT_EQ(file.At(k).values[2], 0);
  }

  // CSV: the recorder's export of the same kind of run.
  const std::string csv = sim.dir() / "run.csv";
  r = KxctlRun{}(With(port, {"record", "5,1", "--every", "1", "--out", csv, "--count", "2"}));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "2 cycles recorded into " + csv + "\n");
  std::ifstream in(csv);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line.substr(0, line.find('\r')));  // CR LF lines
  recorder::RecordHeader header;
  header.addresses = {5, 1, 0, 0, 0, 0, 0, 0, 0, 0};
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], recorder::CsvHeading(header));
  EXPECT_EQ(lines[0].substr(0, 21), "Time,Elapsed (s),Devi");
  // Time of day, then the seconds since the start (cycle number x --every).
  EXPECT_TRUE(std::regex_match(lines[1], std::regex(R"(\d\d:\d\d:\d\d,0,-?\d+\.\d,-?\d+\.\d)"))) << lines[1];
  EXPECT_TRUE(std::regex_match(lines[2], std::regex(R"(\d\d:\d\d:\d\d,1,-?\d+\.\d,-?\d+\.\d)"))) << lines[2];
  // Nothing but the CSV is left behind.
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(sim.dir().path())) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"run.csv", "run.rec"}));
}

// A controller that never answers is dropped after three failures; with no
// controller left the recording stops with status 1 and the recorder's text.
// Ctrl-C ends a recording without --count normally.
TEST(Kxctl, RecordStopsWhenEveryControllerFailedAndOnCtrlC) {
  KxsimLine sim(Kind::Pty, {"kx2@5:9600-8N1-rtu"});
  ASSERT_TRUE(sim.ok());
  const std::vector<std::string> port = {"--port", sim.port(), "--line", "9600-8N1-rtu"};
  const std::string rec = sim.dir() / "silent.rec";
  KxctlResult r = KxctlRun{}(With(port, {"record", "9", "--every", "0.5", "--out", rec, "--count", "5"}));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("kxctl: address 9: Received data time out error\n"), std::string::npos) << r.err;
  EXPECT_EQ(r.out, "1 cycle recorded into " + rec + "; dropped after failures: 9\n");

  KxctlRun run;
  run.interruptAfter = std::chrono::milliseconds(1800);
  const std::string ctrlc = sim.dir() / "ctrlc.rec";
  r = run(With(port, {"record", "5", "--every", "0.5", "--out", ctrlc}));
  EXPECT_EQ(r.status, 0) << r.err;
  const auto size = FileBytes(ctrlc).size();
  EXPECT_GE(size, 12u + 2 * 25u);
  EXPECT_EQ((size - 12) % 25, 0u);
}

}  // namespace
}  // namespace kx::test
