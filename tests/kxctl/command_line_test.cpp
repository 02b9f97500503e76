#include <gtest/gtest.h>

#include <sstream>

#include "kxctl/command_line.h"

namespace kxctl {
namespace {

std::vector<std::string> Split(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> words;
  for (std::string w; in >> w;) words.push_back(w);
  return words;
}

ParseResult Parse(const std::string& line) { return ParseCommandLine(Split(line)); }

TEST(CommandLine, GlobalOptionsBeforeOrAfterTheCommand) {
  for (const char* line : {"--port /dev/ttyUSB0 --line 19200-8N2-rtu --json read 1 0x4700",
                           "read 1 0x4700 --json --port=/dev/ttyUSB0 --line=19200-8N2-rtu",
                           "--json read --port /dev/ttyUSB0 1 0x4700 --line 19200-8N2-rtu"}) {
    SCOPED_TRACE(line);
    const ParseResult r = Parse(line);
    ASSERT_TRUE(r.invocation) << r.error;
    const GlobalOptions& g = r.invocation->global;
    EXPECT_TRUE(g.json);
    EXPECT_EQ(g.port, "/dev/ttyUSB0");
    ASSERT_TRUE(g.line);
    EXPECT_EQ(kx::ToString(*g.line), "19200-8N2-rtu");
    const auto& read = std::get<ReadArgs>(r.invocation->args);
    EXPECT_EQ(read.address, 1);
    EXPECT_EQ(read.reg, 0x4700);
    EXPECT_EQ(read.count, 1);
  }
}

TEST(CommandLine, CommandArguments) {
  auto r = Parse("read 0x1A 18200 61");
  ASSERT_TRUE(r.invocation) << r.error;
  EXPECT_EQ(std::get<ReadArgs>(r.invocation->args).address, 26);
  EXPECT_EQ(std::get<ReadArgs>(r.invocation->args).reg, 18200);
  EXPECT_EQ(std::get<ReadArgs>(r.invocation->args).count, 61);

  r = Parse("write 3 0x4701 -5");
  ASSERT_TRUE(r.invocation) << r.error;
  EXPECT_EQ(std::get<WriteArgs>(r.invocation->args).value, 0xFFFB);
  r = Parse("write 3 0x4701 0xFFFF");
  ASSERT_TRUE(r.invocation) << r.error;
  EXPECT_EQ(std::get<WriteArgs>(r.invocation->args).value, 0xFFFF);

  r = Parse("restore --all f.par");
  ASSERT_TRUE(r.invocation) << r.error;
  EXPECT_EQ(std::get<RestoreArgs>(r.invocation->args).address, 0);
  r = Parse("restore 5 f.par --force");
  ASSERT_TRUE(r.invocation) << r.error;
  EXPECT_TRUE(std::get<RestoreArgs>(r.invocation->args).force);

  r = Parse("info 247");
  ASSERT_TRUE(r.invocation) << r.error;
  EXPECT_EQ(std::get<InfoArgs>(r.invocation->args).address, 247);
}

TEST(CommandLine, ScanOptions) {
  auto r = Parse("scan");
  ASSERT_TRUE(r.invocation) << r.error;
  auto s = std::get<ScanArgs>(r.invocation->args);
  EXPECT_EQ(s.first, 1);
  EXPECT_EQ(s.last, 247);
  EXPECT_TRUE(s.formats.empty());
  EXPECT_FALSE(s.allFormats);

  // After scan, --line lists the formats to search (one option or several),
  // and leaves the line's own format alone.
  r = Parse("--line 4800-8O1-ascii scan --address 0x10-32 --line 9600-7E1-ascii 19200-8N2-rtu --line 9600-7E1-ascii --fast");
  ASSERT_TRUE(r.invocation) << r.error;
  s = std::get<ScanArgs>(r.invocation->args);
  EXPECT_EQ(s.first, 16);
  EXPECT_EQ(s.last, 32);
  ASSERT_EQ(s.formats.size(), 2u);  // the repeated format once
  EXPECT_EQ(kx::ToString(s.formats[1]), "19200-8N2-rtu");
  EXPECT_TRUE(s.fast);
  EXPECT_EQ(kx::ToString(*r.invocation->global.line), "4800-8O1-ascii");

  r = Parse("scan --address 5 --all-formats");
  ASSERT_TRUE(r.invocation) << r.error;
  s = std::get<ScanArgs>(r.invocation->args);
  EXPECT_EQ(s.first, 5);
  EXPECT_EQ(s.last, 5);
  EXPECT_TRUE(s.allFormats);
}

TEST(CommandLine, HelpAndVersion) {
  EXPECT_TRUE(Parse("--help").help);
  EXPECT_TRUE(Parse("-h").help);
  EXPECT_TRUE(Parse("read --help").help);
  EXPECT_TRUE(Parse("--version").version);
  const std::string usage = UsageText();
  EXPECT_NE(usage.find("Usage: kxctl [--port COMn|PATH|rfc2217://HOST:PORT|tcp://HOST:PORT|modbus-tcp://HOST[:PORT]]"), std::string::npos);
  EXPECT_NE(usage.find("  info ADDR                      model, firmware version, PV, SV"), std::string::npos);
}

// Each usage error names what was wrong; the command it belongs to is kept so
// that the usage line printed with it is the command's own.
TEST(CommandLine, UsageErrors) {
  struct Case {
    const char* line;
    const char* error;
    const char* command;
  };
  const Case cases[] = {
      {"", "no command given", ""},
      {"--json", "no command given", ""},
      {"frobnicate 1", "unknown command \"frobnicate\"", ""},
      {"--bogus read 1 2", "unknown option --bogus", ""},
      {"--port", "--port needs a value", ""},
      {"--line 9600-7X1-ascii read 1 2", "bad line format \"9600-7X1-ascii\"", ""},
      {"--line 9600-7E1-rtu read 1 2", "RTU needs 8 data bits", ""},
      {"--line 1200-8N1-rtu read 1 2", "bad line format", ""},
      {"read 1", "missing arguments", "read"},
      {"read 1 2 3 4", "unexpected argument \"4\"", "read"},
      {"read 0 0x4700", "address \"0\" is not a number from 1 to 247", "read"},
      {"read 248 0x4700", "address \"248\"", "read"},
      {"read one 0x4700", "address \"one\"", "read"},
      {"read 1 0x10000", "register \"0x10000\"", "read"},
      {"read 1 0x4700 0", "count \"0\" is not a number from 1 to 61", "read"},
      {"read 1 0x4700 62", "count \"62\"", "read"},
      {"read 1 0xFFFF 2", "run past 0xFFFF", "read"},
      {"write 1 0x4701 65536", "value \"65536\"", "write"},
      {"write 1 0x4701 -32769", "value \"-32769\"", "write"},
      {"write 1 0x4701", "missing arguments", "write"},
      {"info 1 --fast", "unknown option --fast", "info"},
      {"info 1 --json=yes", "--json takes no value", "info"},
      {"scan 5", "unexpected argument \"5\"", "scan"},
      {"scan --address 9-3", "runs backwards", "scan"},
      {"scan --address 0-3", "address \"0\"", "scan"},
      {"scan --line", "--line needs a value", "scan"},
      {"scan --line 9600-7E1-ascii --all-formats", "exclude each other", "scan"},
      {"scan --fast=1", "--fast takes no value", "scan"},
      {"restore --all 3 f.par", "unexpected argument \"f.par\"", "restore"},
      {"restore 3 f.par --address 3", "--address is for --all", "restore"},
      {"restore --all f.par --address 9-3", "runs backwards", "restore"},
      {"restore --all f.par --address 248", "address \"248\"", "restore"},
      {"backup 1 --all f.par", "unknown option --all", "backup"},
      {"record 1 --every 0 --out r.rec", "--every \"0\" is neither 0.5 nor a whole number of seconds from 1 to 99",
       "record"},
      {"record 1 --every 1.5 --out r.rec", "neither 0.5 nor", "record"},
      // Malformed network addresses are refused before any port is touched.
      {"--port rfc2217:// read 1 2", "--port \"rfc2217://\" is not a network address of the form rfc2217://HOST:PORT, tcp://HOST:PORT or modbus-tcp://HOST[:PORT]",
       ""},
      {"--port rfc2217://host read 1 2", "is not a network address", ""},
      {"--port rfc2217://host:0 read 1 2", "is not a network address", ""},
      {"--port rfc2217://host:99999 read 1 2", "is not a network address", ""},
      {"--port rfc2217://:4001 read 1 2", "is not a network address", ""},
      {"--port rfc2217:host:4001 read 1 2", "is not a network address", ""},
      {"read 1 2 --port rfc2217://a:b:4001", "is not a network address", "read"},
      {"--port tcp://host read 1 2", "is not a network address", ""},
      {"--port tcp:host:4001 read 1 2", "is not a network address", ""},
      {"--port modbus-tcp://:502?echo read 1 2", "is not a network address", ""},
      {"--port modbus-tcp://h:70000 read 1 2", "is not a network address", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    const ParseResult r = Parse(c.line);
    EXPECT_FALSE(r.invocation);
    EXPECT_FALSE(r.help);
    EXPECT_NE(r.error.find(c.error), std::string::npos) << r.error;
    EXPECT_EQ(r.command, c.command);
  }
}

// restore --all identifies the controllers of a range first (every address by
// default); --force lets a broadcast reach controllers of another model.
TEST(CommandLine, RestoreToAll) {
  auto r = Parse("restore --all f.par");
  ASSERT_TRUE(r.invocation) << r.error;
  auto a = std::get<RestoreArgs>(r.invocation->args);
  EXPECT_EQ(a.address, 0);
  EXPECT_EQ(a.first, 1);
  EXPECT_EQ(a.last, 247);
  EXPECT_FALSE(a.force);
  r = Parse("restore --all f.par --address 3-0x10 --force");
  ASSERT_TRUE(r.invocation) << r.error;
  a = std::get<RestoreArgs>(r.invocation->args);
  EXPECT_EQ(a.file, "f.par");
  EXPECT_EQ(a.first, 3);
  EXPECT_EQ(a.last, 16);
  EXPECT_TRUE(a.force);
  r = Parse("--port rfc2217://[::1]:4001/ restore --all f.par --address=7");
  ASSERT_TRUE(r.invocation) << r.error;
  a = std::get<RestoreArgs>(r.invocation->args);
  EXPECT_EQ(a.first, 7);
  EXPECT_EQ(a.last, 7);
}

TEST(CommandLine, UsageLineOfACommand) {
  EXPECT_NE(UsageLine("read").find("  read ADDR REG [COUNT]\n"), std::string::npos);
  EXPECT_EQ(UsageLine("read").find("  write"), std::string::npos);
  EXPECT_EQ(UsageLine("").rfind("Usage: kxctl ", 0), 0u);
}

TEST(CommandLine, Numbers) {
  EXPECT_EQ(ParseNumber("0x4700"), 0x4700);
  EXPECT_EQ(ParseNumber("0XFf"), 255);
  EXPECT_EQ(ParseNumber("-12"), -12);
  EXPECT_EQ(ParseNumber("18"), 18);
  for (const char* bad : {"", "0x", "12a", "1 ", "+1", "--1", "0x-1", "9999999999"}) {
    EXPECT_FALSE(ParseNumber(bad)) << bad;
  }
}

}  // namespace
}  // namespace kxctl
