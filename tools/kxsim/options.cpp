#include "kxsim/options.h"

#include <charconv>

namespace kxsim {

namespace {

constexpr std::string_view kUsage = R"(Usage: kxsim --link PATH [options] MODEL@ADDRESS:FORMAT[+N][,OPTION...] ...
       kxsim --listen HOST:PORT [options] MODEL@ADDRESS:FORMAT... (RFC 2217 server)
       kxsim --listen-tcp HOST:PORT [options] MODEL@ADDRESS:FORMAT... (transparent TCP)
       kxsim --listen-modbus-tcp HOST:PORT [options] MODEL@ADDRESS:FORMAT... (gateway)

Simulates one serial line with KX1, KX2 and KX3 controllers on the far side of
a pseudo-terminal and/or of network servers. PATH becomes a symlink to the
line's device; open it as a serial port. Runs until killed; SIGTERM and SIGINT
remove the link and end it. Prints "kxsim: line at PATH" when the line is ready,
and for each server "kxsim: line at rfc2217://HOST:PORT" (--listen),
"kxsim: line at tcp://HOST:PORT" (--listen-tcp) or "kxsim: line at
modbus-tcp://HOST:PORT" (--listen-modbus-tcp), PORT being the one bound.

Controllers:
  MODEL     kx1, kx2 or kx3
  ADDRESS   1 to 247
  FORMAT    BAUD-<7|8><N|E|O><1|2>-<ascii|rtu>, e.g. 9600-7E1-ascii, 19200-8N2-rtu
            (BAUD 2400, 4800, 9600, 19200 or 38400; RTU needs 8 data bits)
  +N        kx3 only: N follower units behind this one, at the next addresses
            (the last at most 247)
            and the same format. Writing 1 to register 0x4722 hands the leader's
            current address + 1, + 2, ... and its format on to them.
  OPTION    per-controller settings that override the global ones:
            fault=KIND, silence-after=N, fw=VERSION, security=WORD, program,
            id=77|e7|67, out1=N, out2=N (kx3 output 1/2 function, 0x471A/0x471F)
            loader, loader-fault=KIND (kx2/kx3 flash loader, see below),
            comwrite=off (remote writing off: every write answered with
            exception 04; kx1/kx2 report their com-write flag as 0)
  Example:  kxsim --link /tmp/kxline kx1@3:9600-7E1-ascii kx3@1:9600-7E1-ascii+2

A controller answers only when the PC's line settings match its format, the
frame is well formed, its check sum is right and it is addressed to it;
otherwise it stays silent, as on a multi-drop line. The settings are read back
from the pseudo-terminal before every frame. A Linux pseudo-terminal keeps the
baud rate, the stop bits and odd parity, but forces 8 data bits and clears the
parity enable flag: over a pseudo-terminal only the baud rate, the stop bits,
odd-or-not parity and the form (ASCII or RTU) can be matched; data bits and
even-versus-none parity cannot be told apart.
ASCII frames run from ':' to CR LF; RTU frames end by their length (functions
01-06, 0x0F, 0x10, 0x67) or after a silence of 3.5 characters (at least 2 ms).

Registers: those of each model's register map, with plausible values. Function
03 reads, 06 writes (answered by an echo), 0x67 reads the identification block
0x0012-0x0014 (2, model index 0/1/2, firmware version). Exceptions: 01 other
functions, 02 unknown or read-only registers, 03 bad count or value, 04 a
factory-protected register written without the unlock write (0x4F1D to 0x471B
on kx1, 0x472A on kx2/kx3) just before it, 0C/0D too few/many data bytes.
A write to address 0 (broadcast) is carried out by every controller and not
answered. Live process: PV (0x4700) follows the set value (or 25.0 when stopped)
with a first-order lag of 30 s and +-1 digit of noise; outputs, alarm bits and
the status byte follow PV, SV and the alarm limits. Parameter writes are read
back; the upload registers (0x472F kx1, 0x474C, 0x474D) hand out the parameter
memory and the ramp/soak steps one byte per read (offset * 256 + byte). kx3: a write of 0x470B (address * 256 + format byte) is echoed under
the old settings, then the controller answers only under the new ones.

Flash loader (option "loader"): a kx2 starts in its loader; a kx3 enters it
when it gets the unlock write and then 0xA3C6 written to 0x474F (both echoed),
hears nothing for a 1 s restart and then listens as a loader. The loader runs
at 38400 8N1 with frames 01, command, length, data, sum (sum of the bytes
before it): 05 option bytes (answer E5 C7), 03 erase (200 ms), 07, 01 write
(N, address high, address low, N bytes), 06 verify (checksum low, high; status
FF unless the bytes written since the erase sum to it). After a good verify the
controller restarts (1 s) into the new program and reports as its firmware
version the word stored at program address 0x0100 (major, minor digits).
loader-fault=KIND: erase-silent (no answer to the erase), badsum (wrong sum
byte on every answer), write-fail (every write refused), verify-fail (status FF),
noise (bytes without 0x01 before every answer), options-wrong (option bytes other
than E5 C7), erase-fail (the erase answered with a failure status),
command7-silent (command 7 never answered), write-silent (no write answered).

Options:
  --link PATH           symlink to create for the line's pseudo-terminal
  --listen HOST:PORT    also (or only) serve the line as an RFC 2217 server, one
                        client at a time (PORT 0 picks a free port). Over it every
                        line setting arrives exactly: baud rate, data bits,
                        parity and stop bits are all matched. With several ways
                        in, the one that sent the last request gets the answer.
  --listen-tcp HOST:PORT
                        also (or only) serve the line as a transparent TCP server
                        (a serial device server in raw mode): what the client
                        sends goes onto the line as it is, what the line sends
                        comes back; the line runs at --server-format. One
                        client at a time: a second connection is closed at
                        once. When a client leaves, what it left half sent and
                        answers not yet sent are dropped.
  --listen-modbus-tcp HOST:PORT
                        also (or only) serve the line through a Modbus TCP
                        gateway, one client at a time as with --listen-tcp.
                        Each request (MBAP: protocol 0, length 2 to 254; any
                        other header closes the connection once the requests
                        before it are answered) goes onto the line as an RTU
                        frame to the address = unit id, at --server-format, one
                        at a time in the order sent; the answer of that address
                        goes back with the request's transaction and unit id.
                        Any function passes through. No clean answer within the
                        time-out: exception 0B; unit 0 (broadcast): no answer
  --server-format BAUD-<7|8><N|E|O><1|2>
                        the serial format of the line behind --listen-tcp and
                        --listen-modbus-tcp (default: the first controller's;
                        for the gateway the first RTU controller's); only
                        controllers at this format hear those clients
  --gateway-timeout MS  how long the gateway waits for an answer (default 1000,
                        10 to 60000)
  --echo                the line echoes every byte the PC sends (a two-wire
                        converter hearing its own transmitter), ahead of any
                        answer, on every way in; the gateway drops the echo on
                        its line and sends the client a copy of each request
                        ahead of its answer
  --timing              line timing: an answer leaves after the turnaround plus
                        (request + answer characters) x bits per character / baud
  --turnaround MS       controller turnaround (default 0, or 2 with --timing)
  --fault KIND          fault of every controller: none, noanswer, noise (bytes
                        before the answer), badcheck (wrong LRC/CRC),
                        exception[:CODE] (every request answered with exception
                        CODE, hexadecimal, default 04), wrongaddr (answer from
                        the next address), garbage (an answer as long as the
                        real one that is no valid frame)
  --line-noise KIND[:RATE]
                        continuous noise towards the PC, RATE bytes per second
                        (default 200, at most 10000) in a chunk every 10 ms:
                        lf (random bytes with CR LF every 6 to 21 bytes), nolf
                        (random bytes, never an LF) or off
  --silence-after N     every controller stops answering after N answers
  --fw VERSION          firmware version, e.g. 1.05 or 0x0105 (defaults: kx1
                        3.20, kx2 1.05, kx3 1.10)
  --security WORD       kx3 security word (register 0x4751, default 0x40: all
                        unlocked); decimal or 0x hexadecimal. Keys set by its
                        bits 0-2 are 1111, 2222 and 3333 (hexadecimal) until
                        changed through 0x106E-0x1070
  --program-running     kx2/kx3 run their ramp/soak program (0x4767-0x47FF; a step
                        of time 0 lasts 10 minutes; a program that ends starts
                        over): 0x472B is 1 and 0x4762-0x4766 count down
  --kx1-id 77|e7|67     kx1 answer to function 0x67: a 0x77 answer (default),
                        the exception 0xE7, or a normal 0x67 answer
  --control FIFO        create a named pipe that takes commands, one per line
                        (ADDR is a controller's current address or "all"):
                          silence ADDR           stop answering
                          answer ADDR            answer again, clear the fault
                          fault ADDR KIND        set a fault (KINDs as above)
                          sensor-break ADDR [N]  PV status code N (default 3,
                                                 no connect); 0 ends it
                          set ADDR REG VALUE     set a register (no rules; VALUE
                                                 -32768 to 65535 or 0x0000 to 0xFFFF)
                          program ADDR on|off    start or stop the program
                          comwrite ADDR on|off   remote writing on or off
                          line-noise KIND[:RATE] line noise on (lf, nolf) or off
                        Each command is acknowledged on stdout, once carried
                        out, by "kxsim: control: done COMMAND"; a command that
                        cannot be carried out is reported on stderr and
                        acknowledged by "kxsim: control: failed COMMAND".
  --make-firmware PATH MODEL VERSION RECORDS
                        write a firmware file of made-up program bytes for a
                        simulated kx2 or kx3 (RECORDS 1 to 1900, 31 bytes each
                        from 0x1000 on, the first record holding VERSION at
                        0x0100) and end; e.g. --make-firmware kx3.oc kx3 1.20 200
  --help                this text
)";

std::optional<unsigned> ParseUnsigned(std::string_view text, int base = 10) {
  unsigned value = 0;
  auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  if (text.empty() || ec != std::errc() || ptr != text.data() + text.size()) return std::nullopt;
  return value;
}

bool ApplyControllerOption(std::string_view option, ControllerOptions& o) {
  const auto eq = option.find('=');
  const std::string_view key = option.substr(0, eq);
  const std::string_view value = eq == std::string_view::npos ? std::string_view{} : option.substr(eq + 1);
  if (key == "comwrite" && (value == "on" || value == "off")) {
    o.comWriteOff = value == "off";
    return true;
  }
  if (key == "program" && eq == std::string_view::npos) {
    o.programRunning = true;
    return true;
  }
  if (key == "loader" && eq == std::string_view::npos) {
    o.loader.enabled = true;
    return true;
  }
  if (key == "loader-fault") {
    const auto fault = ParseLoaderFault(value);
    if (!fault) return false;
    o.loader.enabled = true;
    o.loader.fault = *fault;
    return true;
  }
  if (key == "fault") {
    const auto fault = ParseFaultArg(value);
    if (!fault) return false;
    o.fault = fault->first;
    o.exceptionCode = fault->second;
    return true;
  }
  if (key == "silence-after") {
    const auto n = ParseUnsigned(value);
    if (!n) return false;
    o.silenceAfter = *n;
    return true;
  }
  if (key == "fw") {
    o.firmware = ParseVersion(value);
    return o.firmware.has_value();
  }
  if (key == "security") {
    o.security = ParseWord(value);
    return o.security.has_value();
  }
  if (key == "out1" || key == "out2") {
    const auto v = ParseWord(value);
    if (!v) return false;
    (key == "out1" ? o.output1Function : o.output2Function) = *v;
    return true;
  }
  if (key == "id") {
    if (value == "77") o.kx1IdFunction = 0x77;
    else if (value == "e7" || value == "E7") o.kx1IdFunction = 0xE7;
    else if (value == "67") o.kx1IdFunction = 0x67;
    else return false;
    return true;
  }
  return false;
}

std::optional<ControllerArg> ParseControllerArg(std::string_view text, const ControllerOptions& defaults,
                                                  std::string& error) {
  ControllerArg arg;
  arg.options = defaults;
  const auto comma = text.find(',');
  std::string_view head = text.substr(0, comma);
  std::string_view rest = comma == std::string_view::npos ? std::string_view{} : text.substr(comma + 1);
  const auto at = head.find('@');
  const auto colon = head.find(':');
  if (at == std::string_view::npos || colon == std::string_view::npos || colon < at) {
    error = "controller must be MODEL@ADDRESS:FORMAT: " + std::string(text);
    return std::nullopt;
  }
  const auto model = ParseModel(head.substr(0, at));
  if (!model) {
    error = "unknown model (kx1, kx2, kx3): " + std::string(text);
    return std::nullopt;
  }
  arg.model = *model;
  const auto address = ParseUnsigned(head.substr(at + 1, colon - at - 1));
  if (!address || *address < 1 || *address > 247) {
    error = "address must be 1 to 247: " + std::string(text);
    return std::nullopt;
  }
  arg.address = static_cast<std::uint8_t>(*address);
  std::string_view format = head.substr(colon + 1);
  if (const auto plus = format.find('+'); plus != std::string_view::npos) {
    const auto n = ParseUnsigned(format.substr(plus + 1));
    if (!n || *n > 246 || arg.model != Model::Kx3) {
      error = "followers (+N) need a kx3 and N up to 246: " + std::string(text);
      return std::nullopt;
    }
    if (arg.address + *n > 247) {
      error = "followers (+N) would run past address 247: " + std::string(text);
      return std::nullopt;
    }
    arg.options.followers = static_cast<int>(*n);
    format = format.substr(0, plus);
  }
  const auto lineFormat = ParseLineFormat(format);
  if (!lineFormat) {
    error = "format must be BAUD-<7|8><N|E|O><1|2>-<ascii|rtu>: " + std::string(text);
    return std::nullopt;
  }
  if (lineFormat->form == kx::FrameForm::Rtu && lineFormat->dataBits != 8) {
    error = "RTU needs 8 data bits: " + std::string(text);
    return std::nullopt;
  }
  arg.format = *lineFormat;
  while (!rest.empty()) {
    const auto next = rest.find(',');
    const std::string_view option = rest.substr(0, next);
    if (!ApplyControllerOption(option, arg.options)) {
      error = "bad controller option '" + std::string(option) + "' in " + std::string(text);
      return std::nullopt;
    }
    rest = next == std::string_view::npos ? std::string_view{} : rest.substr(next + 1);
  }
  return arg;
}

}  // namespace

std::optional<std::pair<Fault, std::uint8_t>> ParseFaultArg(std::string_view text) {
  std::uint8_t code = kExIllegalCommand;
  if (const auto colon = text.find(':'); colon != std::string_view::npos) {
    const auto value = ParseUnsigned(text.substr(colon + 1), 16);
    if (!value || *value > 0xFF) return std::nullopt;
    code = static_cast<std::uint8_t>(*value);
    text = text.substr(0, colon);
    if (text != "exception") return std::nullopt;
  }
  const auto fault = ParseFault(text);
  if (!fault) return std::nullopt;
  return std::pair{*fault, code};
}

std::optional<std::uint16_t> ParseWord(std::string_view text) {
  std::optional<unsigned> value;
  if (text.starts_with("0x") || text.starts_with("0X")) {
    value = ParseUnsigned(text.substr(2), 16);
  } else {
    value = ParseUnsigned(text);
  }
  if (!value || *value > 0xFFFF) return std::nullopt;
  return static_cast<std::uint16_t>(*value);
}

std::optional<std::uint16_t> ParseVersion(std::string_view text) {
  if (text.starts_with("0x") || text.starts_with("0X")) return ParseWord(text);
  const auto dot = text.find('.');
  if (dot == std::string_view::npos || text.size() - dot - 1 != 2) return std::nullopt;
  const auto major = ParseUnsigned(text.substr(0, dot));
  const auto minor = ParseUnsigned(text.substr(dot + 1), 16);
  if (!major || *major > 0xFF || !minor) return std::nullopt;
  return static_cast<std::uint16_t>((*major << 8) | *minor);
}

ParseResult ParseCommandLine(const std::vector<std::string>& args) {
  SimOptions opts;
  ControllerOptions defaults;
  std::vector<std::string> controllerArgs;
  ParseResult result;
  auto fail = [&result](std::string error) {
    result.error = std::move(error);
    return result;
  };
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    auto value = [&](std::string& out) {
      if (i + 1 >= args.size()) return false;
      out = args[++i];
      return true;
    };
    std::string v;
    if (arg == "--help" || arg == "-h") {
      opts.help = true;
    } else if (arg == "--timing") {
      opts.timing = true;
    } else if (arg == "--program-running") {
      defaults.programRunning = true;
    } else if (arg == "--link") {
      if (!value(opts.link)) return fail("--link needs a PATH");
    } else if (arg == "--listen" || arg == "--listen-tcp" || arg == "--listen-modbus-tcp") {
      std::string& address = arg == "--listen"       ? opts.listen
                             : arg == "--listen-tcp" ? opts.listenTcp
                                                     : opts.listenModbusTcp;
      if (!value(address)) return fail(arg + " needs HOST:PORT");
      // The port a client is to reach: 0 (any free one, told at start-up) to 65535.
      const auto colon = address.rfind(':');
      const auto port = colon == std::string::npos ? std::nullopt : ParseUnsigned(address.substr(colon + 1));
      if (!port || *port > 65535) return fail(arg + " needs HOST:PORT with PORT 0 to 65535: " + address);
    } else if (arg == "--server-format") {
      // The serial part of a controller's format; the form does not matter.
      if (!value(v) || !(opts.serverFormat = ParseLineFormat(v + "-rtu"))) {
        return fail("--server-format needs BAUD-<7|8><N|E|O><1|2>, e.g. 9600-8N1");
      }
    } else if (arg == "--gateway-timeout") {
      const auto ms = value(v) ? ParseUnsigned(v) : std::nullopt;
      if (!ms || *ms < 10 || *ms > 60000) return fail("--gateway-timeout needs milliseconds (10 to 60000)");
      opts.gatewayTimeoutMs = static_cast<int>(*ms);
    } else if (arg == "--echo") {
      opts.echo = true;
    } else if (arg == "--control") {
      if (!value(opts.control)) return fail("--control needs a FIFO path");
    } else if (arg == "--turnaround") {
      const auto ms = value(v) ? ParseUnsigned(v) : std::nullopt;
      if (!ms || *ms > 10000) return fail("--turnaround needs milliseconds (0 to 10000)");
      opts.turnaroundMs = static_cast<int>(*ms);
    } else if (arg == "--fault") {
      if (!value(v) || !ApplyControllerOption("fault=" + v, defaults)) return fail("--fault needs a KIND");
    } else if (arg == "--line-noise") {
      if (!value(v) || !(opts.lineNoise = ParseNoiseSetting(v))) {
        return fail("--line-noise needs lf, nolf or off, optionally with :RATE (1 to 10000)");
      }
    } else if (arg == "--silence-after") {
      if (!value(v) || !ApplyControllerOption("silence-after=" + v, defaults)) {
        return fail("--silence-after needs a number");
      }
    } else if (arg == "--fw") {
      if (!value(v) || !ApplyControllerOption("fw=" + v, defaults)) return fail("--fw needs a VERSION such as 1.05");
    } else if (arg == "--security") {
      if (!value(v) || !ApplyControllerOption("security=" + v, defaults)) return fail("--security needs a WORD");
    } else if (arg == "--kx1-id") {
      if (!value(v) || !ApplyControllerOption("id=" + v, defaults)) return fail("--kx1-id needs 77, e7 or 67");
    } else if (arg == "--make-firmware") {
      std::string model;
      std::string version;
      std::string records;
      if (!value(opts.firmwarePath) || !value(model) || !value(version) || !value(records)) {
        return fail("--make-firmware needs PATH MODEL VERSION RECORDS");
      }
      const auto parsedModel = ParseModel(model);
      const auto parsedVersion = ParseVersion(version);
      const auto count = ParseUnsigned(records);
      if (!parsedModel || *parsedModel == Model::Kx1 || !parsedVersion || !count || *count < 1 || *count > 1900) {
        return fail("--make-firmware needs kx2 or kx3, a VERSION such as 1.20 and 1 to 1900 RECORDS");
      }
      opts.firmware.modelCode = *parsedModel == Model::Kx2 ? 11 : 12;
      opts.firmware.version = *parsedVersion;
      opts.firmware.records = *count;
    } else if (arg.starts_with("-")) {
      return fail("unknown option " + arg);
    } else {
      controllerArgs.push_back(arg);
    }
  }
  if (opts.help || !opts.firmwarePath.empty()) {
    result.options = std::move(opts);
    return result;
  }
  for (const std::string& text : controllerArgs) {
    std::string error;
    auto arg = ParseControllerArg(text, defaults, error);
    if (!arg) return fail(error);
    opts.controllers.push_back(*arg);
  }
  if (opts.link.empty() && opts.listen.empty() && opts.listenTcp.empty() && opts.listenModbusTcp.empty()) {
    return fail("--link PATH, --listen, --listen-tcp or --listen-modbus-tcp HOST:PORT is required");
  }
  if (opts.controllers.empty()) return fail("no controller given");
  result.options = std::move(opts);
  return result;
}

LineFormat TcpServerFormat(const SimOptions& options) {
  if (options.serverFormat) return *options.serverFormat;
  return options.controllers.empty() ? LineFormat{} : options.controllers.front().format;
}

LineFormat GatewayFormat(const SimOptions& options) {
  if (options.serverFormat) return *options.serverFormat;
  for (const ControllerArg& c : options.controllers) {
    if (c.format.form == kx::FrameForm::Rtu) return c.format;
  }
  return TcpServerFormat(options);
}

std::string_view UsageText() { return kUsage; }

}  // namespace kxsim
