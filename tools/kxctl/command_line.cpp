#include "kxctl/command_line.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <functional>
#include <utility>

#include "core/line/port_address.h"

namespace kxctl {
namespace {

constexpr std::string_view kGlobalSynopsis =
    "kxctl [--port COMn|PATH|rfc2217://HOST:PORT|tcp://HOST:PORT|modbus-tcp://HOST[:PORT]] [--line BAUD-<7|8><N|E|O><1|2>-<ascii|rtu>] [--json] [--trace] COMMAND ...";

struct CommandInfo {
  std::string_view name;
  std::string_view synopsis;  // after the command name
  std::string_view summary;
  bool available;
};

// Every command, in the order the usage lists them. A command whose core part
// is not in this build is listed with a note and refused.
constexpr std::array kCommands = {
    CommandInfo{"scan", "[--address A|A-B] [--line FORMAT ...|--all-formats] [--fast]",
                "search the line for controllers", true},
    CommandInfo{"info", "ADDR", "model, firmware version, PV, SV", true},
    CommandInfo{"read", "ADDR REG [COUNT]", "holding registers (REG decimal or 0x hex)", true},
    CommandInfo{"write", "ADDR REG VALUE", "one register, echo checked", true},
    CommandInfo{"backup", "ADDR FILE.par", "upload the parameter memory into a parameter file", true},
    CommandInfo{"restore", "ADDR FILE.par [--force] | --all FILE.par [--address A|A-B] [--force]",
                "download a parameter file to one controller, or by broadcast to all", true},
    CommandInfo{"record", "ADDR[,ADDR...] --every SECONDS --out FILE.rec|FILE.csv [--count N]",
                "sample the PV of up to ten controllers into a record file or CSV", true},
    CommandInfo{"flash", "ADDR FILE.oc", "firmware update (KX2/KX3) from a firmware file", true},
    CommandInfo{"stats", "ADDR [--count N] [--every MS]",
                "poll the PV N times: answers by kind, reply times, a suggested time-out", true},
};

const CommandInfo* FindCommand(std::string_view name) {
  for (const CommandInfo& c : kCommands)
    if (c.name == name) return &c;
  return nullptr;
}

constexpr std::string_view kHelpTail = R"(
Talks Modbus ASCII or RTU to KX1, KX2 and KX3 controllers on one serial line,
with the same frames, waits and checks as the kxcomm program.

Options (before or after the command):
  --port P      COMn (mapped as kxcomm maps it, KXCOMM_PORTS included), a
                device path such as /dev/ttyUSB0, or a line on the network:
                rfc2217://HOST:PORT (a device server that takes the line
                format from kxctl), tcp://HOST:PORT (a transparent TCP server:
                the format is set on the server; --line gives the frame form
                and the baud rate for wire-time figures), modbus-tcp://HOST[:PORT]
                (a Modbus TCP gateway, port 502 by default: the format is the
                gateway's, the ASCII/RTU form does not apply). Any of them may
                end in ?echo: the line echoes each request (a two-wire
                converter), and the echo is checked and dropped.
  --line F      line format BAUD-<7|8><N|E|O><1|2>-<ascii|rtu>, e.g. 9600-7E1-ascii
                (BAUD 2400, 4800, 9600, 19200 or 38400; RTU needs 8 data bits)
  --json        one JSON document on stdout instead of a table
  --trace       every frame sent and received on stderr, one line each:
                HH:MM:SS.mmm TX|RX <bytes in hex> then the ASCII text, the
                answer's check result and its reply time (stdout unchanged)
  --help        this text
  Without --port and --line: the port and line stored in SETKX.$$$ in the
  working directory, else COM1 at 9600-7E1-ascii.

Numbers: decimal, or hexadecimal after 0x. ADDR is 1 to 247.

scan:   probes each address (default 1-247) at the line's format, at each
        --line FORMAT given, or at every format (--all-formats, 90 of them);
        for each controller found reads its model and firmware version. The
        port gets its format back at the end. --fast waits for a silent
        address only as long as the request and the longest answer take on
        the wire plus the controllers' turnaround and a margin, instead of
        the 110 ms the kxcomm bus search waits. Over tcp:// and modbus-tcp://
        the format is the server's: addresses only are searched (over tcp://
        at the line's format or the first --line given).
write:  VALUE is -32768..65535 or 0x0000..0xFFFF. A register the controller
        protects gets the unlock write first, as in kxcomm's monitor.
backup: checks that FILE.par can be written before the upload; the file is
        written whole (a temporary file renamed over it) or not at all.
restore: writes the sequence of the controller's model; a file of another
        model is refused unless --force. With --all the controllers at the
        addresses given (default 1-247, probed with scan --fast's wait) are
        identified first, and a controller of another model than the file's
        refuses the broadcast unless --force; then the writes go to address 0
        (nobody answers; each waits its time) in the sequence of the file's
        model. A restore stopped part-way says how many writes went through:
        the controller then holds a mix of old and new parameters.
record: --every 0.5 or 1..99 seconds; the file is a kxcomm record file (.rec)
        or CSV (.csv: time of day, seconds since the start, one column per
        controller); runs --count cycles, or until Ctrl-C. A target that
        cannot be written is refused before sampling. CSV is exported at the
        end from a record file beside it (FILE.csv.kxctl-PID.rec); when the
        CSV cannot be written (a full disk) that record file is kept and named.
        Samples skipped because time-outs took the cycle's time are counted.
flash:  checks FILE.oc as kxcomm's F/W UPDATE does and writes it through the
        controller's loader. KX3 (model in the file): the unlock and
        flash-enable writes go to ADDR at the line's format, then after a 3 s
        wait the loader steps at 38400-8N1; KX2: its loader is addressed
        directly at 38400-8N1 (ADDR is not used). A failed step ends the run
        with kxcomm's text; Ctrl-C stops it (the controller stays in its loader).
        Refused over modbus-tcp:// (the loader's frames are not Modbus); over
        tcp:// the server's line must run at 38400-8N1.
stats:  polls the PV (two registers from 0x4700) N times (--count, default
        100), waiting --every MS after each answer (default 0), and reports
        requests, good answers, time-outs, check errors, exceptions, other
        failures, the reply times from the request's first byte out to the
        answer's last byte in (min, mean, p50, p95, max, in ms) and a suggested
        time-out: the slowest reply and half of it again (at least 20 ms more),
        never below the exchange's time on the wire plus 20 ms, in 10 ms steps.
        Exit 0 when every request was answered well, 1 otherwise.

Exit status: 0 success, 1 no valid answer or a failed step (message on
stderr), 2 usage error. Progress goes to stderr when it is a terminal.
Signals: SIGINT (Ctrl-C), SIGTERM, SIGHUP (the terminal or SSH session gone)
and SIGQUIT all stop a command the same way, between two exchanges: a
recording keeps every whole record taken (and exports its CSV), a file is
written whole or not at all, temporary files are removed, and the port is
closed, its lock file with it. A recording stopped so ends with status 0;
other commands end with status 1 ("interrupted").
Full disk: backup, record and the CSV export fail with the system's reason
("No space left on device"); a file already there is left as it was.
)";

// ---------------------------------------------------------------------------

struct Cursor {
  const std::vector<std::string>& args;
  std::size_t at = 0;

  bool Done() const { return at >= args.size(); }
  const std::string& Peek() const { return args[at]; }
  std::string Take() { return args[at++]; }
};

bool IsOption(std::string_view token) { return token.size() > 1 && token[0] == '-'; }

// "--name=value" -> {"--name", "value"}; other tokens unchanged.
std::pair<std::string, std::optional<std::string>> SplitOption(const std::string& token) {
  if (token.rfind("--", 0) == 0) {
    const auto eq = token.find('=');
    if (eq != std::string::npos) return {token.substr(0, eq), token.substr(eq + 1)};
  }
  return {token, std::nullopt};
}

class UsageError {
 public:
  explicit UsageError(std::string text) : text_(std::move(text)) {}
  const std::string& text() const { return text_; }

 private:
  std::string text_;
};

std::string OptionValue(Cursor& c, const std::string& name, std::optional<std::string>& inlineValue) {
  if (inlineValue) return *std::exchange(inlineValue, std::nullopt);
  if (c.Done()) throw UsageError(name + " needs a value");
  return c.Take();
}

LineFormat ParseFormatArg(std::string_view text) {
  const auto format = kx::ParseLineFormat(text);
  if (!format) throw UsageError("bad line format \"" + std::string(text) + "\" (expected e.g. 9600-7E1-ascii)");
  if (format->form == kx::FrameForm::Rtu && format->dataBits != 8)
    throw UsageError("line format \"" + std::string(text) + "\": RTU needs 8 data bits");
  return *format;
}

long NumberIn(std::string_view text, long low, long high, std::string_view what) {
  const auto n = ParseNumber(text);
  if (!n || *n < low || *n > high)
    throw UsageError(std::string(what) + " \"" + std::string(text) + "\" is not a number from " +
                     std::to_string(low) + " to " + std::to_string(high));
  return *n;
}

int Address(std::string_view text) {
  return static_cast<int>(NumberIn(text, kFirstAddress, kLastAddress, "address"));
}

// "A" or "A-B" into first and last.
void AddressRange(const std::string& range, int& first, int& last) {
  const auto dash = range.find('-');
  if (dash == std::string::npos) {
    first = last = Address(range);
    return;
  }
  first = Address(std::string_view(range).substr(0, dash));
  last = Address(std::string_view(range).substr(dash + 1));
  if (first > last) throw UsageError("address range \"" + range + "\" runs backwards");
}

// A scheme of a network address starts it, well formed or not ("tcp:host" too).
bool NamesNetwork(const std::string& port) {
  for (const std::string_view scheme : {"rfc2217:", "tcp:", "modbus-tcp:"})
    if (port.rfind(scheme, 0) == 0) return true;
  return false;
}

// Takes one global option if `name` is one; false otherwise.
bool TakeGlobal(Cursor& c, const std::string& name, std::optional<std::string>& value, GlobalOptions& g,
                bool lineIsGlobal) {
  if (name == "--json") {
    if (value) throw UsageError("--json takes no value");
    g.json = true;
    return true;
  }
  if (name == "--trace") {
    if (value) throw UsageError("--trace takes no value");
    g.trace = true;
    return true;
  }
  if (name == "--port") {
    g.port = OptionValue(c, name, value);
    if (g.port->empty()) throw UsageError("--port needs a value");
    const auto address = kx::ParsePortAddress(*g.port);
    if (NamesNetwork(*g.port) && (!address || address->transport == kx::LineTransport::Device))
      throw UsageError("--port \"" + *g.port + "\" is not a network address of the form " +
                       std::string(kx::kNetworkForms));
    return true;
  }
  if (name == "--line" && lineIsGlobal) {
    g.line = ParseFormatArg(OptionValue(c, name, value));
    return true;
  }
  return false;
}

// The rest of the command line after the command word: the command's own
// options (handled by `option`, which returns false for names it does not
// know), global options, and positional arguments (returned).
std::vector<std::string> SplitRest(Cursor& c, GlobalOptions& g, bool lineIsGlobal, bool& help,
                                   const std::function<bool(const std::string&, std::optional<std::string>&)>& option) {
  std::vector<std::string> positional;
  while (!c.Done()) {
    const std::string token = c.Take();
    if (!IsOption(token) || (token.size() > 1 && (std::isdigit(static_cast<unsigned char>(token[1])) != 0))) {
      positional.push_back(token);  // negative numbers are values, not options
      continue;
    }
    auto [name, value] = SplitOption(token);
    if (name == "--help" || name == "-h") {
      help = true;
      continue;
    }
    if (TakeGlobal(c, name, value, g, lineIsGlobal) || option(name, value)) {
      if (value) throw UsageError(name + " takes no value");
      continue;
    }
    throw UsageError("unknown option " + name);
  }
  return positional;
}

void ExpectPositional(const std::vector<std::string>& p, std::size_t min, std::size_t max) {
  if (p.size() < min) throw UsageError("missing arguments");
  if (p.size() > max) throw UsageError("unexpected argument \"" + p[max] + "\"");
}

bool EndsWithNoCase(std::string_view text, std::string_view suffix) {
  if (text.size() < suffix.size()) return false;
  return std::equal(suffix.begin(), suffix.end(), text.end() - static_cast<std::ptrdiff_t>(suffix.size()),
                    [](char a, char b) { return std::tolower(static_cast<unsigned char>(a)) == b; });
}

// --- the commands ----------------------------------------------------------

ScanArgs ParseScan(Cursor& c, GlobalOptions& g, bool& help) {
  ScanArgs s;
  bool lineGiven = false;
  const auto positional = SplitRest(c, g, false, help, [&](const std::string& name, std::optional<std::string>& value) {
    if (name == "--address") {
      AddressRange(OptionValue(c, name, value), s.first, s.last);
      return true;
    }
    if (name == "--line") {
      lineGiven = true;
      s.formats.push_back(ParseFormatArg(OptionValue(c, name, value)));
      while (!c.Done() && !IsOption(c.Peek())) s.formats.push_back(ParseFormatArg(c.Take()));
      return true;
    }
    if (name == "--all-formats") return s.allFormats = true;
    if (name == "--fast") return s.fast = true;
    return false;
  });
  ExpectPositional(positional, 0, 0);
  if (lineGiven && s.allFormats) throw UsageError("--line and --all-formats exclude each other");
  // The same format twice would only probe it twice.
  std::vector<LineFormat> unique;
  for (const LineFormat& f : s.formats)
    if (std::find(unique.begin(), unique.end(), f) == unique.end()) unique.push_back(f);
  s.formats = std::move(unique);
  return s;
}

std::uint16_t Register(std::string_view text) {
  return static_cast<std::uint16_t>(NumberIn(text, 0, 0xFFFF, "register"));
}

CommandArgs ParseSimple(std::string_view command, Cursor& c, GlobalOptions& g, bool& help) {
  bool all = false;
  bool force = false;
  std::optional<std::string> range;
  const auto positional = SplitRest(c, g, true, help, [&](const std::string& name, std::optional<std::string>& value) {
    if (command == "restore" && name == "--all") return all = true;
    if (command == "restore" && name == "--force") return force = true;
    if (command == "restore" && name == "--address") {
      range = OptionValue(c, name, value);
      return true;
    }
    return false;
  });
  if (help) return InfoArgs{};
  if (command == "info") {
    ExpectPositional(positional, 1, 1);
    return InfoArgs{Address(positional[0])};
  }
  if (command == "read") {
    ExpectPositional(positional, 2, 3);
    ReadArgs r{Address(positional[0]), Register(positional[1]), 1};
    if (positional.size() == 3) r.count = static_cast<int>(NumberIn(positional[2], 1, kMaxReadCount, "count"));
    if (r.reg + r.count - 1 > 0xFFFF) throw UsageError("the registers run past 0xFFFF");
    return r;
  }
  if (command == "write") {
    ExpectPositional(positional, 3, 3);
    const long value = positional[2].rfind("-", 0) == 0 ? NumberIn(positional[2], -32768, -1, "value")
                                                        : NumberIn(positional[2], 0, 0xFFFF, "value");
    return WriteArgs{Address(positional[0]), Register(positional[1]), static_cast<std::uint16_t>(value & 0xFFFF)};
  }
  if (command == "backup") {
    ExpectPositional(positional, 2, 2);
    return BackupArgs{Address(positional[0]), positional[1]};
  }
  if (command == "restore") {
    if (all) {
      ExpectPositional(positional, 1, 1);
      RestoreArgs r{0, positional[0], force};
      if (range) AddressRange(*range, r.first, r.last);
      return r;
    }
    if (range) throw UsageError("--address is for --all");
    ExpectPositional(positional, 2, 2);
    return RestoreArgs{Address(positional[0]), positional[1], force};
  }
  // flash
  ExpectPositional(positional, 2, 2);
  return FlashArgs{Address(positional[0]), positional[1]};
}

StatsArgs ParseStats(Cursor& c, GlobalOptions& g, bool& help) {
  StatsArgs s;
  const auto positional = SplitRest(c, g, true, help, [&](const std::string& name, std::optional<std::string>& value) {
    if (name == "--count") {
      s.count = static_cast<int>(NumberIn(OptionValue(c, name, value), 1, 1'000'000, "count"));
      return true;
    }
    if (name == "--every") {
      s.everyMs = static_cast<int>(NumberIn(OptionValue(c, name, value), 0, 3'600'000, "--every (ms)"));
      return true;
    }
    return false;
  });
  if (help) return s;
  ExpectPositional(positional, 1, 1);
  s.address = Address(positional[0]);
  return s;
}

RecordArgs ParseRecord(Cursor& c, GlobalOptions& g, bool& help) {
  RecordArgs r;
  std::optional<std::string> every;
  const auto positional = SplitRest(c, g, true, help, [&](const std::string& name, std::optional<std::string>& value) {
    if (name == "--every") {
      every = OptionValue(c, name, value);
      return true;
    }
    if (name == "--out") {
      r.out = OptionValue(c, name, value);
      return true;
    }
    if (name == "--count") {
      r.count = static_cast<int>(NumberIn(OptionValue(c, name, value), 1, 100000000, "count"));
      return true;
    }
    return false;
  });
  if (help) return r;
  ExpectPositional(positional, 1, 1);
  std::string_view list = positional[0];
  while (true) {
    const auto comma = list.find(',');
    const int address = Address(list.substr(0, comma));
    if (std::find(r.addresses.begin(), r.addresses.end(), address) != r.addresses.end())
      throw UsageError("address " + std::to_string(address) + " is given twice");
    r.addresses.push_back(address);
    if (comma == std::string_view::npos) break;
    list.remove_prefix(comma + 1);
  }
  if (r.addresses.size() > static_cast<std::size_t>(kMaxRecordAddresses))
    throw UsageError("at most " + std::to_string(kMaxRecordAddresses) + " controllers can be recorded");
  if (!every) throw UsageError("--every SECONDS is needed");
  if (*every == "0.5" || *every == ".5") {
    r.sampleSetting = 0;
  } else {
    const auto seconds = ParseNumber(*every);
    if (!seconds || *seconds < 1 || *seconds > 99)
      throw UsageError("--every \"" + *every + "\" is neither 0.5 nor a whole number of seconds from 1 to 99");
    r.sampleSetting = static_cast<int>(*seconds);
  }
  if (r.out.empty()) throw UsageError("--out FILE is needed");
  if (EndsWithNoCase(r.out, ".rec")) {
    r.kind = RecordFileKind::Record;
  } else if (EndsWithNoCase(r.out, ".csv")) {
    r.kind = RecordFileKind::Csv;
  } else {
    throw UsageError("--out must name a .rec or a .csv file");
  }
  return r;
}

}  // namespace

std::optional<long> ParseNumber(std::string_view text) {
  bool negative = false;
  if (!text.empty() && text[0] == '-') {
    negative = true;
    text.remove_prefix(1);
  }
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  }
  if (text.empty() || text.size() > 9 || text[0] == '-') return std::nullopt;
  long value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  if (ec != std::errc{} || end != text.data() + text.size()) return std::nullopt;
  return negative ? -value : value;
}

std::string UsageText() {
  std::string text = "Usage: " + std::string(kGlobalSynopsis) + "\n";
  for (const CommandInfo& c : kCommands) {
    std::string line = "  " + std::string(c.name) + " " + std::string(c.synopsis);
    if (line.size() < 33) {
      line.resize(33, ' ');
    } else {
      line += "\n" + std::string(33, ' ');
    }
    text += line + std::string(c.summary) + (c.available ? "" : " (not in this build)") + "\n";
  }
  return text + std::string(kHelpTail);
}

std::string UsageLine(std::string_view command) {
  std::string text = "Usage: " + std::string(kGlobalSynopsis) + "\n";
  if (const CommandInfo* c = FindCommand(command)) {
    text += "  " + std::string(c->name) + " " + std::string(c->synopsis) + "\n";
  }
  return text + "(kxctl --help lists every command and option)\n";
}

ParseResult ParseCommandLine(const std::vector<std::string>& args) {
  ParseResult result;
  Cursor c{args};
  GlobalOptions g;
  try {
    while (!c.Done() && IsOption(c.Peek())) {
      auto [name, value] = SplitOption(c.Take());
      if (name == "--help" || name == "-h") {
        result.help = true;
        return result;
      }
      if (name == "--version") {
        result.version = true;
        return result;
      }
      if (!TakeGlobal(c, name, value, g, true)) throw UsageError("unknown option " + name);
    }
    if (c.Done()) throw UsageError("no command given");
    const std::string command = c.Take();
    const CommandInfo* info = FindCommand(command);
    if (info == nullptr) throw UsageError("unknown command \"" + command + "\"");
    result.command = command;
    if (!info->available) throw UsageError(command + " is not in this build");

    bool help = false;
    CommandArgs parsed;
    if (command == "scan") {
      parsed = ParseScan(c, g, help);
    } else if (command == "record") {
      parsed = ParseRecord(c, g, help);
    } else if (command == "stats") {
      parsed = ParseStats(c, g, help);
    } else {
      parsed = ParseSimple(command, c, g, help);
    }
    if (help) {
      result.help = true;
      return result;
    }
    result.invocation = Invocation{g, std::move(parsed)};
  } catch (const UsageError& e) {
    result.error = e.text();
    result.invocation.reset();
  }
  return result;
}

}  // namespace kxctl
