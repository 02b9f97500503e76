// kxctl flash end to end: the program against kxsim's loader over a
// pseudo-terminal with line timing, from firmware files kxsim writes.
#include <gtest/gtest.h>

#include <sstream>
#include <thread>
#include <vector>

#include "kxctl_run.h"
#include "kxsim/firmware_gen.h"
#include "support/kxsim_process.h"

namespace kx::test {
namespace {

// kxsim with one controller on a pseudo-terminal, and a firmware file for it.
class FlashLine {
 public:
  FlashLine(const std::string& controller, std::uint8_t modelCode, std::uint16_t version) {
    link_ = dir_ / "line";
    file_ = dir_ / "update.oc";
    kxsim::FirmwareRecipe recipe;
    recipe.modelCode = modelCode;
    recipe.version = version;
    recipe.records = 150;
    ok_ = kxsim::WriteFirmwareFile(file_, recipe) && sim_.Start(KXSIM_PATH, {"--link", link_, "--timing", controller});
  }
  bool ok() const { return ok_; }
  const std::string& link() const { return link_; }
  const std::string& file() const { return file_; }
  const ScratchDir& dir() const { return dir_; }

 private:
  ScratchDir dir_;
  KxsimProcess sim_;
  std::string link_;
  std::string file_;
  bool ok_ = false;
};

// The firmware `info` reports; the controller restarts into its new program
// after the update, so it is asked a few times.
std::string FirmwareAfterRestart(const std::vector<std::string>& port, const std::string& address) {
  std::vector<std::string> args = port;
  args.insert(args.end(), {"--json", "info", address});
  for (int attempt = 0; attempt < 10; ++attempt) {
    const KxctlResult r = KxctlRun{}(args);
    const auto at = r.out.find("\"firmware\": \"");
    if (r.status == 0 && at != std::string::npos) return r.out.substr(at + 13, r.out.find('"', at + 13) - at - 13);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
  }
  return {};
}

// A KX2 in its loader (addressed directly at 38400 8N1) and a KX3 that gets
// its two writes at the line's format first.
struct FlashCase {
  const char* controller;
  std::uint8_t modelCode;
  const char* model;
  const char* line;
  const char* address;
  const char* notice;
  std::size_t modbusLines;  // traced lines before the loader's: the KX3's two writes and their echoes
};
constexpr FlashCase kFlashCases[] = {
    {"kx2@1:9600-8N1-rtu,loader", 11, "KX2", "9600-8N1-rtu", "1",
     "UPDATE SUCESSED - RE-POWER ON TO ENABLE NEW FIRMWARE", 0},
    {"kx3@4:9600-7E1-ascii,loader", 12, "KX3", "9600-7E1-ascii", "4",
     "UPDATE SUCESSED - YOU CAN ENJOY THE NEW FIRMWARE NOW", 4},
};

// Both report the new version.
TEST(KxctlFlash, FlashesAKx2AndAKx3AndInfoShowsTheNewVersion) {
  for (const FlashCase& c : kFlashCases) {
    SCOPED_TRACE(c.model);
    FlashLine sim(c.controller, c.modelCode, 0x0234);
    ASSERT_TRUE(sim.ok());
    const std::vector<std::string> port = {"--port", sim.link(), "--line", c.line};
    std::vector<std::string> args = port;
    args.insert(args.end(), {"--json", "flash", c.address, sim.file()});
    const KxctlResult r = KxctlRun{}(args);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");  // no progress when stderr is not a terminal
    EXPECT_NE(r.out.find(std::string("\"model\": \"") + c.model + "\""), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\"firmware\": \"2.34\",\n  \"records\": 150,"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(std::string("\"notice\": \"") + c.notice + "\""), std::string::npos) << r.out;
    EXPECT_EQ(FirmwareAfterRestart(port, c.address), "2.34");
  }
}

// --trace during a flash: the KX3's two writes are Modbus frames judged as
// such, every loader frame carries the loader's note (its answers shown with
// what they say), none is judged as Modbus; stdout stays as without --trace.
TEST(KxctlFlash, TraceShowsTheLoaderFramesWithLoaderNotes) {
  for (const FlashCase& c : kFlashCases) {
    SCOPED_TRACE(c.model);
    FlashLine sim(c.controller, c.modelCode, 0x0234);
    ASSERT_TRUE(sim.ok());
    const KxctlResult r =
        KxctlRun{}({"--port", sim.link(), "--line", c.line, "--trace", "flash", c.address, sim.file()});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("written from " + sim.file() + ", checksum verified\n"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("loader"), std::string::npos) << r.out;  // the trace is on stderr only
    std::vector<std::string> lines;
    std::istringstream in(r.err);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    // Options, erase, command 7, 150 records and the verify: each a request and its answer.
    ASSERT_EQ(lines.size(), c.modbusLines + 2 * (3 + 150 + 1)) << r.err;
    for (std::size_t i = 0; i < lines.size(); ++i) {
      SCOPED_TRACE(lines[i]);
      EXPECT_EQ(lines[i].find("failed"), std::string::npos);
      if (i < c.modbusLines) {
        EXPECT_EQ(lines[i].find("loader"), std::string::npos);
      } else {
        EXPECT_NE(lines[i].find("  loader: "), std::string::npos);
      }
      if (i < c.modbusLines && i % 2 == 1) {
        EXPECT_NE(lines[i].find("  good  "), std::string::npos);  // the writes' echoes
      }
    }
    const std::size_t first = c.modbusLines;
    EXPECT_NE(lines[first].find(" TX 01 05 00 06  loader: read options"), std::string::npos);
    EXPECT_NE(lines[first + 1].find(" RX 01 05 02 E5 C7 "), std::string::npos);
    EXPECT_NE(lines[first + 1].find("  loader: read options: E5 C7  "), std::string::npos);
    EXPECT_NE(lines[first + 3].find("  loader: erase: status 00 ok  "), std::string::npos);
    EXPECT_NE(lines[first + 7].find("  loader: write record: status 00 ok  "), std::string::npos);
    EXPECT_NE(lines.back().find("  loader: verify: checksum matches  "), std::string::npos);
  }
}

// Failures end with status 1 and the program's text: a verify the loader
// refuses, a file that fails its checks (nothing is sent), Ctrl-C mid-update
// (the port is closed: a second run flashes the controller still in its loader).
TEST(KxctlFlash, FailuresEndWithStatusOneAndTheirText) {
  FlashLine failing("kx2@1:9600-8N1-rtu,loader-fault=verify-fail", 11, 0x0150);
  ASSERT_TRUE(failing.ok());
  KxctlResult r = KxctlRun{}({"--port", failing.link(), "flash", "1", failing.file()});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "kxctl: address 1: Memory checksum fail\n");

  const std::string bad = failing.dir() / "bad.oc";
  {
    std::FILE* f = std::fopen(bad.c_str(), "wb");
    const unsigned char header[] = {0, 0, 0, 0, 11, 1, 0, 5, 0, 0};  // announces no records
    std::fwrite(header, 1, sizeof header, f);
    std::fclose(f);
  }
  r = KxctlRun{}({"--port", failing.link(), "flash", "1", bad});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "kxctl: " + bad + ": File data length or content error !\n");
  r = KxctlRun{}({"--port", failing.link(), "flash", "1", failing.dir() / "missing.oc"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("Can't perform one of the following file operations: Open, Seek, Read"), std::string::npos);

  FlashLine line("kx2@1:9600-8N1-rtu,loader", 11, 0x0150);
  ASSERT_TRUE(line.ok());
  KxctlRun interrupted;
  interrupted.interruptAfter = std::chrono::milliseconds(1000);
  r = interrupted({"--port", line.link(), "flash", "1", line.file()});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "kxctl: interrupted\n");
  r = KxctlRun{}({"--port", line.link(), "flash", "1", line.file()});
  EXPECT_EQ(r.status, 0) << r.err;

  r = KxctlRun{}({"flash", "1"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("\n  flash ADDR FILE.oc\n"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace kx::test
