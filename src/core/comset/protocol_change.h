// Controller protocol change: writes a KX3's new bus address and line format
// (register 0x470B) under its present settings, and optionally tells it to pass
// the same format with consecutive addresses on to the units behind it
// (register 0x4722 = 1). Runs on the main window's port through its routing,
// one request at a time in the form of the present settings; the routing calls
// AnswerStep once per answer or time-out.
#pragma once

#include <functional>
#include <span>
#include <optional>
#include <string>
#include <string_view>

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

// Frame of a step's command: function 06 to `address` writing `value` to `reg`.
Bytes ProtocolStepFrame(int address, std::uint16_t reg, std::uint16_t value, FrameForm form);

// The echo check: ASCII, the text received (CR and LF left out) equals the
// first 15 characters of the frame sent; RTU, the first 8 bytes received
// equal the 8 bytes sent.
bool EchoMatches(std::span<const std::uint8_t> received, const Bytes& sent, FrameForm form);

class ProtocolChange {
 public:
  enum class State { Ready, WritingAddress, Synchronising, Succeeded, Failed };

  static constexpr int kFirstWaitTicks = 18;
  // User message codes shown during the change.
  static constexpr int kNoticeChanging = 252;
  static constexpr int kNoticeSyncSuccess = 251;

  struct Hooks {
    std::function<void()> changed;                      // status, gauge, page or fields changed
    // The user message window, shown once the change's own step has
    // returned (never from inside it); call NoticeClosed when it has closed.
    std::function<void(int code)> showNotice;
    std::function<void(const std::string&)> showError;  // the port could not be opened
  };

  ProtocolChange(Session& session, MainPortRouting& routing, Hooks hooks);
  ProtocolChange(const ProtocolChange&) = delete;
  ProtocolChange& operator=(const ProtocolChange&) = delete;

  // What the controller answers to now (before address, presets) and what it
  // is to become (after address, after lists); the window keeps these in step
  // with its fields.
  int beforeAddress = 1;
  int afterAddress = 1;
  SearchPresets presets;  // address range unused
  PresetFormat after;
  bool syncChecked = false;

  // Presets and after lists from the port settings word; both addresses 1.
  void Prepare(std::int32_t settingsWord);

  // SET is enabled exactly when no preset reads "UNKNOW".
  bool SetAllowed() const { return PresetsFormat(presets).has_value(); }

  // SET: runs the change on port `comNumber`.
  void Set(int comNumber);
  // Called by the routing once per answer or time-out.
  void AnswerStep(const Answer& answer);
  // The line failed while a step awaited its echo: the step fails as one
  // that timed out (nothing more will come).
  void LineLost();
  // The notice asked for by showNotice has closed: after "changing the
  // protocol" the synchronisation command goes out now.
  void NoticeClosed();
  // CLOSE: frees the line if the change left the port open.
  void Leave();

  State state() const { return state_; }
  int step() const { return step_; }          // 0..3, shown on the gauge
  bool pageEnabled() const { return pageEnabled_; }
  const std::string& status() const { return status_; }
  bool syncDone() const { return syncDone_; }
  const Bytes& lastFrame() const { return sent_; }

 private:
  void RunSteps(bool justChanged);
  void SendCommand();
  void Fail(std::string_view text);
  void FreeLine();
  void Changed() const;

  Session& session_;
  MainPortRouting& routing_;
  SetupLine line_;
  Hooks hooks_;
  State state_ = State::Ready;
  int step_ = 0;
  bool syncDone_ = false;
  bool pageEnabled_ = true;
  std::string status_;
  int comNumber_ = 0;
  Bytes sent_;
  FrameForm sentForm_ = FrameForm::Ascii;
  bool awaiting_ = false;
  bool awaitingNotice_ = false;  // the next command waits for the notice to close
};

}  // namespace kx
