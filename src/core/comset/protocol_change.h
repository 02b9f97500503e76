// Controller protocol change: writes a KX3's new bus address and line format
// (register 0x470B) under its present settings, and optionally tells it to pass
// the same format with consecutive addresses on to the units behind it
// (register 0x4722 = 1). Runs on the main window's port through its routing,
// one request at a time in the form of the present settings; the routing's
// answer or time-out comes back as one Answered event.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "core/comset/bus_search.h"
#include "core/modbus/codec.h"
#include "core/routing/main_routing.h"
#include "core/line/session.h"

namespace kx {

inline constexpr std::uint16_t kAddressFormatRegister = 0x470B;
inline constexpr std::uint16_t kAutoSyncRegister = 0x4722;

// Communication format byte of register 0x470B: bit 7 set for 7 data bits,
// bits 6-4 baud code (0 2400 .. 4 38400), bits 3-2 parity code (0 none, 1 even,
// 2 odd), bit 1 set for RTU, bit 0 set for ONE stop bit.
std::uint8_t ControllerFormatByte(const PresetFormat& format);

// The after lists: the preset lists without "UNKNOW" (after index = digit).
const PresetList& AfterBaudList();
const PresetList& AfterLengthList();
const PresetList& AfterParityList();
const PresetList& AfterStopList();
const PresetList& AfterProtocolList();

// The rules of the after lists: RTU forces 8 bits; 8 bits with parity force
// one stop bit; 7 bits without parity force two.
void ApplyAfterRules(PresetFormat& after);

// An address field (`BeforeAddr`, `AfterAddr`) after an edit. Digits only and a
// value of 1 to 255 are accepted; anything else puts the last accepted value
// back into the field; an empty field keeps the last accepted value in force.
struct AddressEdit {
  int accepted = 1;                 // the address in force after the edit
  std::optional<std::string> text;  // set when the field must be rewritten
};
AddressEdit EditAddressField(std::string_view text, int lastAccepted);

// A step's command: function 06 to `address` writing `value` to `reg`, with the
// setup step's wait. Its answer must be the echo: ASCII, the whole answer (CR
// and LF left out) is the frame sent; RTU, its first 8 bytes are the 8 sent
// (the CRC compared as part of them; what follows is not looked at).
ExchangeRequest ProtocolStepRequest(const LineFormat& line, int address, std::uint16_t reg, std::uint16_t value);

// What a change is to do: what the controller answers to now (before address,
// presets) and what it is to become (after address, after lists), and whether
// it then hands the format on to the units behind it.
struct ChangeOrder {
  int beforeAddress = 1;
  int afterAddress = 1;
  SearchPresets presets;  // address range unused
  PresetFormat after;
  bool sync = false;
};

// Step 1 goes out (register 0x470B, the new address with the whole format
// byte of the after lists): the address or a format field changes.
bool WritesAddressAndFormat(const ChangeOrder& order);

// The question to ask before SET on the line behind COM `comNumber`: a server
// in between keeps its own line format, so a change that writes the
// controller's format may leave it unreachable through the server. Empty when
// there is nothing to ask (a line the program sets, or nothing written but
// the synchronisation).
std::string ChangeWarning(const Session& session, int comNumber, const ChangeOrder& order);

namespace change_event {
struct Prepare {       // controller mode shown: presets and after lists from the port settings word
  std::int32_t settingsWord = 0;
};
struct Set {           // SET: runs the change on port `comNumber`
  int comNumber = 0;
  ChangeOrder order;
};
struct Answered {      // the routing's answer or time-out of the step sent last
  Answer answer;
};
struct LineLost {};    // the line failed while open
struct NoticeClosed {};  // the notice asked for by showNotice has closed
struct Leave {};       // CLOSE or the window goes: frees the line if the change left the port open
}  // namespace change_event

using ChangeEvent = std::variant<change_event::Prepare, change_event::Set, change_event::Answered,
                                 change_event::LineLost, change_event::NoticeClosed, change_event::Leave>;

class ProtocolChange {
 public:
  // Ready: nothing run since Prepare (or the port could not be opened for
  // the first step). WritingAddress / Synchronising: that step's command is
  // out, awaiting its echo. AwaitingNotice: the controller took its new
  // settings and the "changing" notice is up; the synchronisation command
  // goes out when it has closed. Succeeded / Failed: the change ended.
  enum class State { Ready, WritingAddress, AwaitingNotice, Synchronising, Succeeded, Failed };

  // User message codes shown during the change.
  static constexpr int kNoticeChanging = 252;
  static constexpr int kNoticeSyncSuccess = 251;

  struct Hooks {
    std::function<void()> changed;                      // status, gauge, page or fields changed
    // The user message window, shown once the change's own step has
    // returned (never from inside it); send NoticeClosed when it has closed.
    std::function<void(int code)> showNotice;
    std::function<void(const std::string&)> showError;  // the port could not be opened
  };

  ProtocolChange(Session& session, MainPortRouting& routing, Hooks hooks);
  ProtocolChange(const ProtocolChange&) = delete;
  ProtocolChange& operator=(const ProtocolChange&) = delete;

  // Set does nothing while a change runs or when a preset reads "UNKNOW".
  // A lost line while a step awaits its echo fails the step as one that timed
  // out (nothing more will come). A late answer or notice changes nothing.
  void Handle(const ChangeEvent& event);

  // SET is enabled exactly when no preset reads "UNKNOW".
  bool SetAllowed() const { return PresetsFormat(order_.presets).has_value(); }

  State state() const { return state_; }
  // The order in force: after Prepare the word's, during and after a change
  // the one SET gave, its before address and presets moved on to what the
  // controller took.
  const ChangeOrder& order() const { return order_; }
  int step() const { return step_; }          // 0..3, shown on the gauge
  bool Running() const;                       // a step is out or the notice is up
  bool PageEnabled() const { return !Running(); }
  const std::string& status() const { return status_; }
  bool syncDone() const { return syncDone_; }

 private:
  void On(const change_event::Prepare& prepare);
  void On(const change_event::Set& set);
  void On(const change_event::Answered& answered);
  void On(const change_event::LineLost&);
  void On(const change_event::NoticeClosed&);
  void On(const change_event::Leave&);
  void RunSteps();
  void SendCommand();
  void Fail(std::string_view text);
  void Changed() const;

  Session& session_;
  MainPortRouting& routing_;
  SetupLine line_;
  Hooks hooks_;
  State state_ = State::Ready;
  ChangeOrder order_;
  int step_ = 0;
  bool syncDone_ = false;
  std::string status_;
  int comNumber_ = 0;
};

}  // namespace kx
