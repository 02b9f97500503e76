// Telnet with the COM Port Control Option (RFC 2217): a serial line reached
// over TCP through a device server. Pure byte-level logic, no sockets, shared
// by the client port (src/serial) and the simulator's server (tools/kxsim).
//
//  - Escape()/Decoder: the Telnet stream. Data bytes 0xFF travel doubled
//    (IAC IAC); commands start with IAC. The decoder turns received bytes into
//    an ordered list of items (data runs, option negotiations, subnegotiations)
//    so a server can apply line settings exactly between the data before and
//    after them.
//  - Negotiator: option negotiation that never loops (each side answers only
//    a change of state), for either end.
//  - ComPortRequest()/ComPortReply()/ParseComPort(): the option's commands.
//    A client sends code c (SET-BAUDRATE 1 ...); the server answers c + 100
//    with the value it actually uses.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <span>
#include <vector>

namespace kx::rfc2217 {

using Bytes = std::vector<std::uint8_t>;

// Telnet commands.
inline constexpr std::uint8_t kIac = 255;
inline constexpr std::uint8_t kDont = 254;
inline constexpr std::uint8_t kDo = 253;
inline constexpr std::uint8_t kWont = 252;
inline constexpr std::uint8_t kWill = 251;
inline constexpr std::uint8_t kSb = 250;
inline constexpr std::uint8_t kSe = 240;

// Telnet options.
inline constexpr std::uint8_t kOptBinary = 0;
inline constexpr std::uint8_t kOptEcho = 1;
inline constexpr std::uint8_t kOptSuppressGoAhead = 3;
inline constexpr std::uint8_t kOptComPort = 44;

// COM-PORT-OPTION commands as a client sends them; a server's answer carries
// the code + kServerOffset.
enum class Command : std::uint8_t {
  Signature = 0,
  SetBaudrate = 1,  // 4-byte value, network order; 0 asks for the current one
  SetDatasize = 2,  // 5..8; 0 asks
  SetParity = 3,    // ParityCode
  SetStopsize = 4,  // StopCode
  SetControl = 5,   // ControlCode
  NotifyLinestate = 6,
  NotifyModemstate = 7,
  FlowcontrolSuspend = 8,
  FlowcontrolResume = 9,
  SetLinestateMask = 10,
  SetModemstateMask = 11,
  PurgeData = 12,  // PurgeCode
};
inline constexpr std::uint8_t kServerOffset = 100;

// Value 0 of SET-DATASIZE/-PARITY/-STOPSIZE/-CONTROL asks for the current setting.
inline constexpr std::uint8_t kRequestCurrent = 0;
enum class ParityCode : std::uint8_t { None = 1, Odd = 2, Even = 3, Mark = 4, Space = 5 };
enum class StopCode : std::uint8_t { One = 1, Two = 2, OneAndHalf = 3 };
enum class ControlCode : std::uint8_t {
  NoFlowControl = 1,
  XonXoff = 2,
  Hardware = 3,
  DtrOn = 8,
  DtrOff = 9,
  RtsOn = 11,
  RtsOff = 12,
};
enum class PurgeCode : std::uint8_t { Receive = 1, Transmit = 2, Both = 3 };

// Data for the connection: every 0xFF doubled.
Bytes Escape(std::span<const std::uint8_t> data);

// IAC verb option (verb: kWill, kWont, kDo, kDont).
Bytes Negotiation(std::uint8_t verb, std::uint8_t option);

// IAC SB option payload IAC SE, the payload escaped.
Bytes Subnegotiation(std::uint8_t option, std::span<const std::uint8_t> payload);

// A client's COM-PORT-OPTION command with its value: SET-BAUDRATE takes 4
// bytes, SIGNATURE none (value ignored), every other command 1 byte.
Bytes ComPortRequest(Command command, std::uint32_t value);
// The server's answer to `command`, carrying the value in force.
Bytes ComPortReply(Command command, std::uint32_t value);

// One COM-PORT-OPTION subnegotiation, decoded.
struct ComPortMessage {
  Command command = Command::Signature;
  bool fromServer = false;  // code was command + 100
  std::uint32_t value = 0;  // the number carried (baud, size, code), 0 when absent
  Bytes raw;                // the value bytes as received (signature text)
};
// `payload` is a subnegotiation's payload after the option byte (as Decoder
// gives it). Unknown codes and values of the wrong length give nullopt.
std::optional<ComPortMessage> ParseComPort(std::span<const std::uint8_t> payload);

// What the decoder found in the stream, in order of arrival.
struct Item {
  enum class Kind { Data, Negotiation, Subnegotiation };
  Kind kind = Kind::Data;
  std::uint8_t verb = 0;    // Negotiation: kWill, kWont, kDo or kDont
  std::uint8_t option = 0;  // Negotiation, Subnegotiation
  Bytes bytes;              // Data: the data; Subnegotiation: the payload after the option byte

  bool operator==(const Item&) const = default;
};

// Splits a received Telnet stream, in pieces of any size, into items. IAC IAC
// gives a data 0xFF; other Telnet commands (NOP, GA, BREAK ...) are dropped;
// a subnegotiation longer than kMaxSubnegotiation is dropped whole.
class Decoder {
 public:
  static constexpr std::size_t kMaxSubnegotiation = 64;

  // Appends the items completed by `input` to `items`; data between two
  // commands within one call comes as one item.
  void Feed(std::span<const std::uint8_t> input, std::vector<Item>& items);

 private:
  enum class State { Data, Iac, Verb, Sb, SbIac };

  State state_ = State::Data;
  std::uint8_t verb_ = 0;
  Bytes sb_;
  bool sbOverflow_ = false;
};

// Option negotiation for one end of the connection. `local` are the options
// this end is willing to perform itself (it answers DO with WILL), `remote`
// those it asks of or accepts from the other end (it answers WILL with DO).
// Everything else is refused (WONT / DONT). It answers only a change of state,
// so two ends cannot loop.
class Negotiator {
 public:
  Negotiator(std::set<std::uint8_t> local, std::set<std::uint8_t> remote);

  // The opening offers: WILL for each local and DO for each remote option.
  Bytes Start();
  // The answer (possibly empty) to a received negotiation.
  Bytes Receive(std::uint8_t verb, std::uint8_t option);

  bool LocalEnabled(std::uint8_t option) const;   // this end performs it
  bool RemoteEnabled(std::uint8_t option) const;  // the other end performs it
  // The other end refused an option this end offered or asked for.
  bool LocalRefused(std::uint8_t option) const;
  bool RemoteRefused(std::uint8_t option) const;

 private:
  enum class Q { No, WantYes, Yes, Refused };
  static Q Get(const std::map<std::uint8_t, Q>& m, std::uint8_t option);

  std::set<std::uint8_t> acceptLocal_;
  std::set<std::uint8_t> acceptRemote_;
  std::map<std::uint8_t, Q> local_;
  std::map<std::uint8_t, Q> remote_;
};

}  // namespace kx::rfc2217
