// The kxctl command line: global options, the commands and their arguments,
// and the usage texts. Parsing only; nothing here touches a port or a file.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "core/line/line_format.h"

namespace kxctl {

using kx::LineFormat;

// Options that apply to every command.
struct GlobalOptions {
  std::optional<std::string> port;   // --port COMn | PATH | a network address (port_address.h)
  std::optional<LineFormat> line;    // --line FORMAT
  bool json = false;                 // --json
  bool trace = false;                // --trace: every frame on stderr
};

inline constexpr int kFirstAddress = 1;
inline constexpr int kLastAddress = 247;

struct ScanArgs {
  int first = kFirstAddress;
  int last = kLastAddress;
  std::vector<LineFormat> formats;  // --line FORMAT ...; empty: the line's own format
  bool allFormats = false;          // --all-formats
  bool fast = false;                // --fast
};

struct InfoArgs {
  int address = 0;
};

struct ReadArgs {
  int address = 0;
  std::uint16_t reg = 0;
  int count = 1;
};

struct WriteArgs {
  int address = 0;
  std::uint16_t reg = 0;
  std::uint16_t value = 0;
};

struct BackupArgs {
  int address = 0;
  std::string file;
};

struct RestoreArgs {
  int address = 0;  // 0 with --all: every controller by broadcast
  std::string file;
  bool force = false;  // --force: write a file of another model all the same
  // --all: the addresses identified before the broadcast (--address A|A-B).
  int first = kFirstAddress;
  int last = kLastAddress;
};

enum class RecordFileKind { Record, Csv };

struct RecordArgs {
  std::vector<int> addresses;    // 1 to 10 controllers, in slot order
  int sampleSetting = 1;         // the recorder's sampling time: 1..99 s, 0 for 0.5 s
  std::string out;
  RecordFileKind kind = RecordFileKind::Record;
  std::optional<int> count;      // cycles; none: until interrupted
};

struct FlashArgs {
  int address = 0;
  std::string file;
};

struct StatsArgs {
  int address = 0;
  int count = 100;   // --count N: polls, at least 1
  int everyMs = 0;   // --every MS: pause after each answer
};

using CommandArgs = std::variant<ScanArgs, InfoArgs, ReadArgs, WriteArgs, BackupArgs, RestoreArgs,
                                 RecordArgs, FlashArgs, StatsArgs>;

// Most registers one read may ask for: the longest answer (ASCII, 11 + 4 n
// characters) must fit the answer buffer of 256 bytes.
inline constexpr int kMaxReadCount = 61;
// Controllers one recording samples (the recorder's ten slots).
inline constexpr int kMaxRecordAddresses = 10;

struct Invocation {
  GlobalOptions global;
  CommandArgs args;
};

struct ParseResult {
  std::optional<Invocation> invocation;
  bool help = false;     // --help: print UsageText() and succeed
  bool version = false;  // --version
  std::string error;     // a usage error: what was wrong
  std::string command;   // the command the error belongs to, when known
};

ParseResult ParseCommandLine(const std::vector<std::string>& args);

// The full help text.
std::string UsageText();
// The usage line(s) printed with a usage error: the command's own line when
// the command is known, else the general one.
std::string UsageLine(std::string_view command);

// Number arguments: decimal, or hexadecimal after "0x"/"0X".
std::optional<long> ParseNumber(std::string_view text);

}  // namespace kxctl
