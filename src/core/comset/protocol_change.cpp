#include "core/comset/protocol_change.h"

#include <algorithm>
#include <array>

#include "core/exchange/requests.h"
#include "core/line/network_line.h"
#include "core/line/settings.h"
#include "core/text/messages.h"

namespace kx {

namespace {

// Baud digit (preset list item - 1) of a baud rate; nullopt for other rates.
std::optional<int> BaudDigit(int baud) {
  static constexpr std::array<int, 5> kRates{9600, 19200, 38400, 4800, 2400};
  for (std::size_t i = 0; i < kRates.size(); ++i)
    if (kRates[i] == baud) return static_cast<int>(i);
  return std::nullopt;
}

PresetList WithoutUnknown(const PresetList& list, std::string_view name) {
  PresetList out{name, {}};
  out.items.assign(list.items.begin() + 1, list.items.end());
  return out;
}

}  // namespace

std::uint8_t ControllerFormatByte(const PresetFormat& f) {
  unsigned byte = 0;
  if (f.length == 0) byte |= 0x80U;
  byte |= static_cast<unsigned>(FormatBaudCode(f)) << 4;
  byte |= static_cast<unsigned>(FormatParityCode(f)) << 2;
  if (FormatRtu(f)) byte |= 0x02U;
  if (f.stop == 0) byte |= 0x01U;
  return static_cast<std::uint8_t>(byte);
}

const PresetList& AfterBaudList() {
  static const PresetList list = WithoutUnknown(BaudPresetList(), "AfterBaud");
  return list;
}
const PresetList& AfterLengthList() {
  static const PresetList list = WithoutUnknown(LengthPresetList(), "AfterLength");
  return list;
}
const PresetList& AfterParityList() {
  static const PresetList list = WithoutUnknown(ParityPresetList(), "AfterParity");
  return list;
}
const PresetList& AfterStopList() {
  static const PresetList list = WithoutUnknown(StopPresetList(), "AfterStop");
  return list;
}
const PresetList& AfterProtocolList() {
  static const PresetList list = WithoutUnknown(ProtocolPresetList(), "AfterProtocol");
  return list;
}

void ApplyAfterRules(PresetFormat& after) {
  // The same rules as the presets, on lists without "UNKNOW".
  SearchPresets p;
  SetPresetsToFormat(p, after);
  ApplyPresetRules(p);
  after = *PresetsFormat(p);
}

AddressEdit EditAddressField(std::string_view text, int lastAccepted) {
  AddressEdit edit{lastAccepted, std::nullopt};
  if (text.empty()) return edit;
  int value = 0;
  bool inRange = text.size() <= 3;
  for (char c : text) {
    if (c < '0' || c > '9') {
      edit.text = std::to_string(lastAccepted);
      return edit;
    }
    if (inRange) value = value * 10 + (c - '0');
  }
  if (inRange && value >= 1 && value <= 255) {
    edit.accepted = value;
  } else {
    edit.text = std::to_string(lastAccepted);
  }
  return edit;
}

ExchangeRequest ProtocolStepRequest(const LineFormat& line, int address, std::uint16_t reg, std::uint16_t value) {
  ExchangeRequest r = WriteRequest(line, static_cast<std::uint8_t>(address), reg, value);
  r.firstWaitTicks = r.rearmTicks = WaitTicks(RequestKind::SetupStep, line);
  if (line.form == FrameForm::Rtu) {
    r.expect->echoBytes = r.frame.size();
    r.expect->checkDigits = false;  // an answer longer than the echo is not cut at its CRC
  }
  return r;
}

bool WritesAddressAndFormat(const ChangeOrder& order) {
  return order.beforeAddress != order.afterAddress || PresetsFormat(order.presets) != order.after;
}

std::string ChangeWarning(const Session& session, int comNumber, const ChangeOrder& order) {
  const LineControl control = ControlOf(TransportOf(session, comNumber));
  if (control.format || !WritesAddressAndFormat(order)) return {};
  const Msg warning = control.form ? Msg::ServerChangeWarning : Msg::GatewayChangeWarning;
  return LineName(session, comNumber) + std::string(Text(warning));
}

// ---------------------------------------------------------------------------

ProtocolChange::ProtocolChange(Session& session, MainPortRouting& routing, Hooks hooks)
    : session_(session), routing_(routing), line_(session, routing), hooks_(std::move(hooks)),
      status_(Text(Msg::PressSetToChangeProtocol)) {}

void ProtocolChange::Changed() const {
  if (hooks_.changed) hooks_.changed();
}

void ProtocolChange::Handle(const ChangeEvent& event) {
  std::visit([this](const auto& e) { On(e); }, event);
}

bool ProtocolChange::Running() const {
  return state_ == State::WritingAddress || state_ == State::AwaitingNotice || state_ == State::Synchronising;
}

void ProtocolChange::On(const change_event::Prepare& prepare) {
  if (Running()) return;
  // Baud codes 5 to 7 name no rate: the session's decoded rate stays in force.
  PortParams params = session_.params;
  DecodeSettingsWord(prepare.settingsWord, params);
  SearchPresets& presets = order_.presets;
  presets.addr = kUnknown;
  presets.protocol = params.rtu ? kProtocolRtu : kProtocolAscii;
  presets.stop = params.stopBits == 2 ? kStop2 : kStop1;
  const auto digit = BaudDigit(params.baud);
  presets.baud = digit ? *digit + 1 : kUnknown;
  switch (params.parityCode) {
    case 0: presets.parity = kParityNone; break;
    case 1: presets.parity = kParityEven; break;
    case 2: presets.parity = kParityOdd; break;
    default: presets.parity = kUnknown; break;  // code 3 names no parity: the user picks one
  }
  presets.length = params.dataBits == 8 ? kLength8 : kLength7;
  // Each after list shows its preset; a preset at "UNKNOW" leaves its list at
  // the first item.
  const auto digit0 = [](int preset) { return preset == kUnknown ? 0 : preset - 1; };
  order_.after = PresetFormat{digit0(presets.baud), digit0(presets.parity), digit0(presets.length),
                              digit0(presets.stop), digit0(presets.protocol)};
  order_.beforeAddress = 1;
  order_.afterAddress = 1;
  step_ = 0;
  state_ = State::Ready;
  status_ = std::string(Text(Msg::PressSetToChangeProtocol));
  Changed();
}

void ProtocolChange::On(const change_event::Set& set) {
  if (Running() || !PresetsFormat(set.order.presets)) return;
  order_ = set.order;
  comNumber_ = set.comNumber;
  syncDone_ = false;
  status_ = std::string(Text(Msg::ProtocolChanging));
  step_ = 0;
  RunSteps();
}

// Goes on after the step that has just ended (step_ 0: none yet).
void ProtocolChange::RunSteps() {
  bool justChanged = false;  // the controller has just taken its new settings
  if (step_ == 0) {
    step_ = WritesAddressAndFormat(order_) ? 1 : 2;
  } else if (step_ == 1) {
    step_ = 2;
    justChanged = true;
  }
  if (step_ == 2) {
    if (!order_.sync || syncDone_) {
      step_ = 3;
    } else if (justChanged && hooks_.showNotice) {
      // The user is told the protocol is changing; the synchronisation
      // command follows when the notice has closed.
      state_ = State::AwaitingNotice;
      Changed();
      hooks_.showNotice(kNoticeChanging);
      return;
    }
  }
  if (step_ < 3) {
    state_ = step_ == 1 ? State::WritingAddress : State::Synchronising;
    Changed();
    SendCommand();
    return;
  }
  state_ = State::Succeeded;
  status_ = std::string(Text(Msg::ProtocolChangeSuccess));
  line_.Free();
  Changed();
  if (order_.sync && syncDone_ && hooks_.showNotice) hooks_.showNotice(kNoticeSyncSuccess);
}

void ProtocolChange::On(const change_event::NoticeClosed&) {
  if (state_ != State::AwaitingNotice) return;
  state_ = State::Synchronising;
  SendCommand();
}

void ProtocolChange::SendCommand() {
  const PresetFormat format = *PresetsFormat(order_.presets);
  const LineFormat line = LineFormatOf(format);
  const auto addressFormat = static_cast<std::uint16_t>(order_.afterAddress * 256 + ControllerFormatByte(order_.after));
  ExchangeRequest request =
      step_ == 1 ? ProtocolStepRequest(line, order_.beforeAddress, kAddressFormatRegister, addressFormat)
                 : ProtocolStepRequest(line, order_.beforeAddress, kAutoSyncRegister, 1);

  if (!line_.Open(comNumber_, format)) {
    // Nothing was sent: the controller is as it was, and the page is usable again.
    state_ = step_ == 1 ? State::Ready : State::Failed;
    if (step_ == 1) step_ = 0;
    status_ = std::string(Text(Msg::PressSetToChangeProtocol));
    line_.Free();
    Changed();
    if (hooks_.showError) hooks_.showError(routing_.port().ErrorText());
    return;
  }
  // The setup route ends answers and re-arms its wait by its own rule.
  routing_.Send(MainPortRouting::Route::Setup, std::move(request));
}

void ProtocolChange::On(const change_event::Answered& answered) {
  if (state_ != State::WritingAddress && state_ != State::Synchronising) return;
  switch (answered.answer.failure) {
    case Failure::None: break;
    case Failure::TimedOut:
    case Failure::LineLost: Fail(Text(Msg::ChangeTimeoutError)); return;
    default: Fail(Text(Msg::ChangeDataError)); return;
  }
  if (step_ == 1) {
    order_.beforeAddress = order_.afterAddress;
    SetPresetsToFormat(order_.presets, order_.after);
  } else {
    syncDone_ = true;
  }
  RunSteps();
}

void ProtocolChange::On(const change_event::LineLost&) {
  if (state_ == State::WritingAddress || state_ == State::Synchronising) Fail(Text(Msg::ChangeTimeoutError));
}

void ProtocolChange::Fail(std::string_view text) {
  state_ = State::Failed;
  status_ = std::string(text);
  line_.Free();
  Changed();
}

void ProtocolChange::On(const change_event::Leave&) {
  // A change left half way is over: a late echo or notice does nothing more.
  if (Running()) state_ = State::Failed;
  if (routing_.port().IsOpen()) line_.Free();
}

}  // namespace kx
