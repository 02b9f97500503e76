// Bus search: probes every address of a range under every line setting the user
// left open, and lists the controllers that answer with the settings they
// answered under. Also the preset lists and line formats that the controller
// protocol change (protocol_change.h) shares with it.
//
// The search runs on the main window's port through its routing: each probe is
// one request on the setup route, sent in the form being searched; the routing's
// answer or time-out comes back as one Answered event, and the search then
// sends the next probe.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "core/exchange/exchange.h"
#include "core/line/comport.h"
#include "core/line/port_address.h"
#include "core/line/session.h"
#include "core/line/settings.h"
#include "core/modbus/codec.h"
#include "core/routing/main_routing.h"

namespace kx {

// ---------------------------------------------------------------------------
// Line formats.
//
// One line format as five digits, each the index of its value in the preset
// lists without their leading "UNKNOW" item:
//   baud   0..4  9600, 19200, 38400, 4800, 2400 bit/s
//   parity 0..2  odd, even, none
//   length 0..1  7 bits, 8 bits
//   stop   0..1  1, 2 stop bits
//   form   0..1  ASCII, RTU
struct PresetFormat {
  int baud = 0;
  int parity = 0;
  int length = 0;
  int stop = 0;
  int form = 0;

  friend bool operator==(const PresetFormat&, const PresetFormat&) = default;
};

// The search numbers the 120 formats as baud + 5 parity + 15 length + 30 stop + 60 form.
inline constexpr int kCombinationCount = 120;
int CombinationNumber(const PresetFormat& format);
PresetFormat CombinationFormat(int number);

int FormatBaud(const PresetFormat& format);        // bit/s
Parity FormatParity(const PresetFormat& format);
int FormatDataBits(const PresetFormat& format);    // 7 or 8
int FormatStopBits(const PresetFormat& format);    // 1 or 2
inline bool FormatRtu(const PresetFormat& format) { return format.form == 1; }
FrameForm FormatForm(const PresetFormat& format);
// Codes of the port settings word (and of the controller's format byte):
// baud 0 2400, 1 4800, 2 9600, 3 19200, 4 38400; parity 0 none, 1 even, 2 odd.
int FormatBaudCode(const PresetFormat& format);
int FormatParityCode(const PresetFormat& format);
// The format of the settings word's fields (port unused); codes the lists do
// not have (baud 5-7, parity 3) give the first item.
PresetFormat FieldsFormat(const SettingsFields& fields);

// Port parameters that put a port on `format` (port number `comNumber`).
PortParams FormatParams(const PresetFormat& format, int comNumber);
// The line format the five digits name: the one rule from the digits to a
// LineFormat, through the port parameters (kxctl's text forms use it too).
LineFormat LineFormatOf(const PresetFormat& format);
// Applies the format's baud, data bits, parity and stop bits to a port (at once
// when it is open).
void ApplyFormat(ComPort& port, const PresetFormat& format);

// ---------------------------------------------------------------------------
// Preset lists (item 0 is "UNKNOW"; item k > 0 is the format digit k - 1).
struct PresetList {
  std::string_view name;  // objectName of the list
  std::vector<std::string_view> items;
};
const PresetList& AddrPresetList();
const PresetList& BaudPresetList();
const PresetList& LengthPresetList();
const PresetList& ParityPresetList();
const PresetList& StopPresetList();
const PresetList& ProtocolPresetList();

inline constexpr int kUnknown = 0;

// Item index chosen in each preset list.
struct SearchPresets {
  int addr = kUnknown;  // 0 UNKNOW (1..247) or k: 16k-15 .. 16k (item 16 ends at 247)
  int baud = kUnknown;
  int length = kUnknown;
  int parity = kUnknown;
  int stop = kUnknown;
  int protocol = kUnknown;

  friend bool operator==(const SearchPresets&, const SearchPresets&) = default;
};

// Preset list indexes of the value items.
inline constexpr int kLength7 = 1;
inline constexpr int kLength8 = 2;
inline constexpr int kParityOdd = 1;
inline constexpr int kParityEven = 2;
inline constexpr int kParityNone = 3;
inline constexpr int kStop1 = 1;
inline constexpr int kStop2 = 2;
inline constexpr int kProtocolAscii = 1;
inline constexpr int kProtocolRtu = 2;

// The rules applied after any preset list closes: RTU forces "8 BITS"; 8 bits
// with odd or even parity force one stop bit; 7 bits without parity force two.
void ApplyPresetRules(SearchPresets& presets);

// Presets that fix every field to `format` (the address range is kept).
void SetPresetsToFormat(SearchPresets& presets, const PresetFormat& format);
// The format the presets fix, or nullopt when a field is "UNKNOW".
std::optional<PresetFormat> PresetsFormat(const SearchPresets& presets);

// Address range of the address preset.
struct AddressRange {
  int first = 1;
  int last = 247;
  int Count() const { return last - first + 1; }
};
AddressRange PresetAddressRange(int addrPreset);

// The formats a search with these presets visits, in increasing combination
// number: every fixed field has its value and RTU occurs only with 8 data bits.
std::vector<int> VisitedCombinations(const SearchPresets& presets);

// Status-line label of a combination on a port: "COM01, 9600,7,O,1,ASCII".
// The label made at the start writes the RTU form as "  RTU"; the label
// rewritten on a change of combination writes it as "RTU  " (RewriteLabel).
std::string CombinationLabel(int comNumber, int combination);
void RewriteLabel(std::string& label, int combination);

// A line whose format a server sets (tcp://, modbus-tcp://) is searched on one
// format, the one chosen in PC settings (`pcFormat`: for tcp:// its form is the
// one the frames take, for modbus-tcp:// only what the port is handed), over
// the address range of `chosen`. Any other line: `chosen` as it is.
SearchPresets PresetsOnLine(LineTransport transport, const SearchPresets& chosen, const PresetFormat& pcFormat);
// The search page's note for the line behind COM `comNumber`: why only
// addresses are searched; empty on a line the program sets itself.
std::string SearchNote(const Session& session, int comNumber);
// How a hit over a server is listed: the form ("ASCII", "RTU") through a
// transparent server, "Modbus TCP" through a gateway.
std::string ServedFormText(LineTransport transport, const PresetFormat& format);

// Time-left line after `done` of `total` probes at 183 ms per probe.
inline constexpr int kProbeEstimateMs = 183;
std::string TimeLeftText(int total, int done);

// The probe and its hit rule are core/exchange/requests.h's ProbeRequest and
// ProbeHit: one register at 0x4701, answered with function 03 and byte count 2.

// ---------------------------------------------------------------------------
// The main port while the settings window's search or protocol change owns it,
// running on the owner's format (each request carries that format's frame form).
class SetupLine {
 public:
  SetupLine(Session& session, MainPortRouting& routing) : session_(session), routing_(routing) {}
  SetupLine(const SetupLine&) = delete;
  SetupLine& operator=(const SetupLine&) = delete;

  // Takes the line on `format` and COM `comNumber`: the owner becomes Setup,
  // the port opens with the format, and a port that was open already takes it
  // too. False when the port cannot be opened (the owner is still Setup; the
  // port's ErrorText tells why).
  bool Open(int comNumber, const PresetFormat& format);
  // The open line changes to `format`.
  void UseFormat(const PresetFormat& format);
  // Frees the line when the port was open or the owner is Setup, and closes
  // the port.
  void Free();

 private:
  Session& session_;
  MainPortRouting& routing_;
  int comNumber_ = 0;
};

// ---------------------------------------------------------------------------
// The search.

namespace search_event {
struct Start {       // START: searches port `comNumber` with the presets
  int comNumber = 0;
  SearchPresets presets;
  PresetFormat pcFormat;  // chosen in PC settings: the one format searched behind a server
};
struct Cancel {};    // CANCEL: ends the running search with "Search abort,Found n items"
struct Leave {};     // CLOSE or the window's Cancel: ends a running search quietly, frees the line
struct Answered {    // the routing's answer or time-out of the probe sent last
  Answer answer;
};
struct LineLost {};  // the line failed while open
}  // namespace search_event

using SearchEvent = std::variant<search_event::Start, search_event::Cancel, search_event::Leave,
                                 search_event::Answered, search_event::LineLost>;

class BusSearch {
 public:
  // Idle: nothing searched since the page opened (or left). Probing: a probe
  // is out. The other three: the last search ended, and how ("Search
  // Completed", "Search abort", "Line lost"); START runs a new one.
  enum class State { Idle, Probing, Completed, Aborted, LineLost };

  static constexpr int kMaxHits = 29;  // rows of the result table

  struct Hit {
    int address = 0;
    int combination = 0;
    std::string addressText;   // "1AH"
    std::string protocolText;  // "19200,8,N,2,RTU  "
  };

  // What the search page shows; Changed() is called after every update.
  // `SetStartBt` reads "CANCEL" while Searching(), else "START".
  struct View {
    std::string status;      // `AutoDetectLb`
    std::string timeLeft;    // `TimeStamp`
    int gauge = 0;           // `DetectBar` position
    int gaugeMax = 1;        // `DetectBar` maximum
    bool gaugeVisible = false;
  };

  struct Hooks {
    std::function<void()> changed;                        // view or hits changed
    std::function<void(const std::string&)> showError;    // the port could not be opened
  };

  BusSearch(Session& session, MainPortRouting& routing, Hooks hooks);
  BusSearch(const BusSearch&) = delete;
  BusSearch& operator=(const BusSearch&) = delete;

  // Start on a port that cannot be opened shows the port's reason and leaves
  // the search Idle with the line free. A late answer, a Cancel or a lost line
  // while no probe is out change nothing.
  void Handle(const SearchEvent& event);

  // Combination under which the hit in result row `row` (1-based) answered;
  // nullopt for an empty row or while a search runs.
  std::optional<int> RowCombination(int row) const;

  State state() const { return state_; }
  const View& view() const { return view_; }
  const std::vector<Hit>& hits() const { return hits_; }
  bool Searching() const { return state_ == State::Probing; }
  int total() const { return total_; }
  int probeCount() const { return probeCount_; }
  int probeAddress() const { return probeAddress_; }
  int Combination() const { return visited_.empty() ? kCombinationCount : visited_[comboIndex_]; }

 private:
  void On(const search_event::Start& start);
  void On(const search_event::Cancel&);
  void On(const search_event::Leave&);
  void On(const search_event::Answered& answered);
  void On(const search_event::LineLost&);
  void SendProbe();
  void Step();
  void Finish(State end);
  void Changed() const;

  Session& session_;
  MainPortRouting& routing_;
  SetupLine line_;
  Hooks hooks_;
  State state_ = State::Idle;
  View view_;
  std::vector<Hit> hits_;
  std::vector<int> visited_;
  std::size_t comboIndex_ = 0;
  AddressRange range_;
  int probeAddress_ = 0;
  int probeCount_ = 0;
  int total_ = 0;
  int comNumber_ = 0;
  LineTransport transport_ = LineTransport::Device;
};

}  // namespace kx
