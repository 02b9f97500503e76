// kxctl under what goes wrong in the field, end to end against kxsim: hang-ups
// and other signals, full disks (a file-size limit stands in for one: the
// write fails the same way, with the system's reason), targets that cannot be
// written, broadcasts onto a line with another model, downloads stopped
// part-way, and malformed ports.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>

#include "core/recorder/record_file.h"
#include "kxctl_run.h"

namespace kx::test {
namespace {

using Kind = KxsimLine::Kind;
using Clock = std::chrono::steady_clock;

std::vector<std::string> Names(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

// The lock file the serial port keeps for the device behind `port`, when the
// system has a lock folder.
std::string LockFileOf(const std::string& port) {
  std::string device = std::filesystem::canonical(port).string();
  if (device.rfind("/dev/", 0) == 0) device.erase(0, 5);
  std::replace(device.begin(), device.end(), '/', '_');
  return "/var/lock/LCK.." + device;
}

// A recording ends the same way on each signal: every whole record taken is
// kept, the CSV is written, the temporary record file and the port's lock go.
TEST(KxctlHostile, EverySignalEndsARecordingWithItsSamplesSaved) {
  KxsimLine sim(Kind::Pty, {"kx2@5:9600-8N1-rtu"});
  ASSERT_TRUE(sim.ok());
  const std::vector<std::string> port = {"--port", sim.port(), "--line", "9600-8N1-rtu"};
  for (const int signal : {SIGHUP, SIGQUIT, SIGTERM, SIGINT}) {
    SCOPED_TRACE(signal);
    KxctlRun run;
    run.interruptAfter = std::chrono::milliseconds(1800);
    run.interruptSignal = signal;
    const std::string csv = sim.dir() / ("run" + std::to_string(signal) + ".csv");
    const KxctlResult r = run(With(port, {"record", "5", "--every", "0.5", "--out", csv}));
    EXPECT_EQ(r.status, 0) << r.err;
    std::ifstream in(csv);
    int lines = 0;
    for (std::string line; std::getline(in, line);) ++lines;
    EXPECT_GE(lines, 1 + 2);  // the heading and at least two samples
    const auto names = Names(sim.dir().path());
    EXPECT_EQ(std::count_if(names.begin(), names.end(),
                            [](const std::string& n) { return n.find(".rec") != std::string::npos; }),
              0);
    EXPECT_FALSE(std::filesystem::exists(LockFileOf(sim.port())));
  }
}

// A hang-up during a backup: no parameter file, no temporary file, no lock
// left; the port opens again at once.
TEST(KxctlHostile, HangUpDuringABackupLeavesNothingBehind) {
  KxsimLine sim(Kind::Pty, {"--timing", "kx2@2:9600-7E1-ascii"});
  ASSERT_TRUE(sim.ok());
  KxctlRun run;
  run.interruptAfter = std::chrono::milliseconds(1500);
  run.interruptSignal = SIGHUP;
  const std::string file = sim.dir() / "kx2.par";
  const KxctlResult r = run({"--port", sim.port(), "backup", "2", file});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "kxctl: interrupted\n");
  EXPECT_EQ(Names(sim.dir().path()), std::vector<std::string>{"line"});
  EXPECT_FALSE(std::filesystem::exists(LockFileOf(sim.port())));
  EXPECT_EQ(KxctlRun{}({"--port", sim.port(), "read", "2", "0x4701"}).status, 0);
}

// The CSV cannot be written (the disk is full): the samples stay in the record
// file, whose name the message gives, and the status is 1. (Over RFC 2217: a
// device's lock file would not fit under the file-size limit either.)
TEST(KxctlHostile, FailedCsvKeepsTheRecordFile) {
  KxsimLine sim(Kind::Rfc2217, {"kx2@5:9600-8N1-rtu"});
  ASSERT_TRUE(sim.ok());
  KxctlRun run;
  run.fileSizeLimit = 40;  // the record file (12 + 25 bytes) fits, the CSV does not
  const std::string csv = sim.dir() / "run.csv";
  const KxctlResult r =
      run({"--port", sim.port(), "--line", "9600-8N1-rtu", "record", "5", "--every", "0.5", "--out", csv, "--count", "1"});
  EXPECT_EQ(r.status, 1);
  std::smatch m;
  ASSERT_TRUE(std::regex_search(r.err, m, std::regex("kxctl: " + csv + ": Cannot write " + csv +
                                                     R"(\.part: File too large; the samples are kept in the record file (\S+)\n)")))
      << r.err;
  const std::string kept = m[1];
  EXPECT_EQ(kept.rfind(csv + ".kxctl-", 0), 0u) << kept;
  recorder::RecordFile file;
  ASSERT_TRUE(file.Open(kept));
  EXPECT_EQ(file.count(), 1u);
  EXPECT_EQ(file.header().addresses[0], 5);
  EXPECT_FALSE(std::filesystem::exists(csv));
  EXPECT_EQ(r.out, "1 cycle recorded into " + kept + "\n");
}

// A record file that stops taking records: the recording stops with the
// system's reason, and the cycles reported are the records the file holds.
TEST(KxctlHostile, CyclesCountTheRecordsWritten) {
  KxsimLine sim(Kind::Rfc2217, {"kx2@5:9600-8N1-rtu"});
  ASSERT_TRUE(sim.ok());
  KxctlRun run;
  run.fileSizeLimit = 12 + 2 * 25;
  const std::string rec = sim.dir() / "run.rec";
  const KxctlResult r = run({"--port", sim.port(), "--line", "9600-8N1-rtu", "--json", "record", "5", "--every", "0.5",
                             "--out", rec, "--count", "5"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "kxctl: " + rec + ": write: File too large\n");
  EXPECT_NE(r.out.find("\"cycles\": 2,"), std::string::npos) << r.out;
  EXPECT_EQ(FileBytes(rec).size(), 12u + 2 * 25u);
}

// Targets that cannot be written are refused at once, with the system's
// reason: record before the first sample, backup before the upload.
TEST(KxctlHostile, UnwritableTargetsFailBeforeTheWork) {
  KxsimLine sim(Kind::Pty, {"kx2@2:9600-7E1-ascii"});
  ASSERT_TRUE(sim.ok());
  std::filesystem::create_directory(sim.dir() / "folder.csv");
  std::filesystem::create_directory(sim.dir() / "folder.par");
  struct Case {
    std::vector<std::string> command;
    std::string error;
  };
  const std::string missing = sim.dir() / "no/such/dir";
  const Case cases[] = {
      {{"record", "2", "--every", "1", "--out", missing + "/x.csv"}, missing + "/x.csv: No such file or directory"},
      {{"record", "2", "--every", "1", "--out", missing + "/x.rec"}, missing + "/x.rec: No such file or directory"},
      {{"record", "2", "--every", "1", "--out", sim.dir() / "folder.csv"}, sim.dir() / "folder.csv: Is a directory"},
      {{"backup", "2", missing + "/x.par"}, "Fail to save file: " + missing + "/x.par: No such file or directory"},
      {{"backup", "2", sim.dir() / "folder.par"}, "Fail to save file: " + sim.dir() / "folder.par: Is a directory"},
      {{"backup", "2", sim.dir() / "line"}, "Fail to save file: " + sim.dir() / "line: not a regular file"},
      {{"restore", "2", missing + "/x.par"},
       missing + "/x.par: Can't perform one of the following file operations: Open, Seek, Read: No such file or directory"},
      {{"restore", "2", sim.dir() / "folder.par"},
       sim.dir() / "folder.par: Can't perform one of the following file operations: Open, Seek, Read: Is a directory"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.command[0] + " " + c.command.back());
    const auto start = Clock::now();
    const KxctlResult r = KxctlRun{}(With({"--port", sim.port()}, c.command));
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(1500));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "kxctl: " + c.error + "\n");
  }
  // A disk too full for the 260 bytes: found before the upload too.
  KxctlRun full;
  full.fileSizeLimit = 100;
  const auto start = Clock::now();
  const KxctlResult r = full({"--port", sim.port(), "backup", "2", sim.dir() / "x.par"});
  EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(1500));
  EXPECT_EQ(r.err, "kxctl: Fail to save file: " + sim.dir() / "x.par: File too large\n");
  EXPECT_EQ(Names(sim.dir().path()), (std::vector<std::string>{"folder.csv", "folder.par", "line"}));
}

// restore --all first identifies the controllers (every address by default):
// a KX3 file is not broadcast onto a line that holds a KX1 unless --force, so
// the KX1's com-write flag (0x471A) keeps its 1.
TEST(KxctlHostile, BroadcastRefusesControllersOfAnotherModel) {
  KxsimLine sim(Kind::Rfc2217, {"kx3@3:38400-8N1-rtu", "kx1@200:38400-8N1-rtu", "kx2@201:38400-8N1-rtu"});
  ASSERT_TRUE(sim.ok());
  const std::vector<std::string> port = {"--port", sim.port(), "--line", "38400-8N1-rtu"};
  const std::string kx3 = sim.dir() / "kx3.par";
  ASSERT_EQ(KxctlRun{}(With(port, {"backup", "3", kx3})).status, 0);
  KxctlResult r = KxctlRun{}(With(port, {"restore", "--all", kx3}));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err,
            "kxctl: the file holds KX3 V1.10 parameters, but address 200 is a KX1, address 201 is a KX2 (--force "
            "broadcasts them all the same)\n");
  EXPECT_EQ(KxctlRun{}(With(port, {"read", "200", "0x471A"})).out, "REGISTER  VALUE  HEX     SIGNED\n0x471A    1      0x0001  1\n");

  r = KxctlRun{}(With(port, {"--json", "restore", "--all", kx3, "--address", "1-199"}));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("\"identified\": [\n    {\n      \"address\": 3,\n      \"model\": \"KX3\"\n    }\n  ]"),
            std::string::npos)
      << r.out;
  r = KxctlRun{}(With(port, {"restore", "--all", kx3, "--address", "200", "--force"}));
  EXPECT_EQ(r.status, 0) << r.err;
}

// A download stopped part-way says that the controller now holds a mix of old
// and new parameters, and how many writes went through: on a hang-up, and when
// the controller falls silent.
TEST(KxctlHostile, RestoreStoppedPartWaySaysWhatItLeft) {
  KxsimLine sim(Kind::Pty, {"--timing", "kx2@2:9600-7E1-ascii", "kx2@12:9600-7E1-ascii", "kx3@3:9600-8N1-rtu",
                            "kx3@13:9600-8N1-rtu,silence-after=14"});
  ASSERT_TRUE(sim.ok());
  const std::string kx2 = sim.dir() / "kx2.par";
  ASSERT_EQ(KxctlRun{}({"--port", sim.port(), "backup", "2", kx2}).status, 0);
  KxctlRun run;
  run.interruptAfter = std::chrono::milliseconds(3000);
  run.interruptSignal = SIGHUP;
  KxctlResult r = run({"--port", sim.port(), "restore", "12", kx2});
  EXPECT_EQ(r.status, 1);
  std::smatch m;
  ASSERT_TRUE(std::regex_match(
      r.err, m,
      std::regex(R"(kxctl: interrupted\. The controller now holds a mix of old and new parameters: (\d+) of 99 writes went through\.\n)")))
      << r.err;
  EXPECT_GT(std::stoi(m[1]), 0);
  EXPECT_LT(std::stoi(m[1]), 99);

  const std::vector<std::string> rtu = {"--port", sim.port(), "--line", "9600-8N1-rtu"};
  const std::string kx3 = sim.dir() / "kx3.par";
  ASSERT_EQ(KxctlRun{}(With(rtu, {"backup", "3", kx3})).status, 0);
  r = KxctlRun{}(With(rtu, {"restore", "13", kx3}));
  EXPECT_EQ(r.status, 1);
  ASSERT_TRUE(std::regex_match(
      r.err, m,
      std::regex(R"(kxctl: address 13: Received data time out error\. The controller now holds a mix of old and new parameters: (\d+) of (25|27) writes went through\.\n)")))
      << r.err;
  EXPECT_GT(std::stoi(m[1]), 0);
}

// Recording messages name the controller by its address; the samples a silent
// controller's time-outs crowd out are counted and reported.
TEST(KxctlHostile, RecordNamesAddressesAndCountsSkippedSamples) {
  KxsimLine sim(Kind::Pty, {"kx2@1:9600-7E1-ascii"});
  ASSERT_TRUE(sim.ok());
  const std::string rec = sim.dir() / "run.rec";
  // Address 9 is silent: each of its three tries waits 15 ticks (825 ms),
  // longer than the 0.5 s between samples.
  KxctlResult r =
      KxctlRun{}({"--port", sim.port(), "record", "1,9", "--every", "0.5", "--out", rec, "--count", "4"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 3) << r.err;
  EXPECT_NE(r.err.find("kxctl: address 9: Received data time out error\n"), std::string::npos) << r.err;
  std::smatch m;
  ASSERT_TRUE(std::regex_match(
      r.out, m,
      std::regex("4 cycles recorded into " + rec +
                 R"(; dropped after failures: 9; (\d+) samples? skipped \(time-outs took the cycle's time\)\n)")))
      << r.out;
  EXPECT_GE(std::stoi(m[1]), 2);
}

// The port as given: a device path is named as itself, a malformed network
// address is a usage error.
TEST(KxctlHostile, PortsAreShownAsGivenAndMalformedAddressesAreUsageErrors) {
  ScratchDir dir;
  const std::string path = dir / "no-such-tty";
  KxctlResult r = KxctlRun{}({"--port", path, "read", "1", "0x4700"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err.rfind("kxctl: Cannot open " + path + ": ", 0), 0u) << r.err;
  EXPECT_EQ(r.err.find("COM1"), std::string::npos) << r.err;
  for (const char* bad : {"rfc2217://", "rfc2217://host", "rfc2217://host:70000", "rfc2217:/host:4001"}) {
    r = KxctlRun{}({"--port", bad, "read", "1", "0x4700"});
    EXPECT_EQ(r.status, 2) << bad;
    EXPECT_NE(r.err.find("is not a network address of the form rfc2217://HOST:PORT"), std::string::npos) << r.err;
  }
}

}  // namespace
}  // namespace kx::test
