#include "core/comset/protocol_change.h"

#include <algorithm>
#include <array>

#include "core/text/messages.h"
#include "core/line/settings.h"

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

Bytes ProtocolStepFrame(int address, std::uint16_t reg, std::uint16_t value, FrameForm form) {
  return BuildFrame(form, WriteRegisterPdu(static_cast<std::uint8_t>(address), reg, value));
}

bool EchoMatches(std::span<const std::uint8_t> received, const Bytes& sent, FrameForm form) {
  if (form == FrameForm::Ascii) {
    constexpr std::size_t kEchoChars = 15;  // ":", six bytes, LRC
    if (sent.size() < kEchoChars) return false;
    return AnswerText(received) == std::string_view(reinterpret_cast<const char*>(sent.data()), kEchoChars);
  }
  constexpr std::size_t kEchoBytes = 8;
  if (sent.size() < kEchoBytes || received.size() < kEchoBytes) return false;
  return std::equal(sent.begin(), sent.begin() + kEchoBytes, received.begin());
}

// ---------------------------------------------------------------------------

ProtocolChange::ProtocolChange(Session& session, MainPortRouting& routing, Hooks hooks)
    : session_(session), routing_(routing), line_(session, routing), hooks_(std::move(hooks)),
      status_(Text(Msg::PressSetToChangeProtocol)) {}

void ProtocolChange::Changed() const {
  if (hooks_.changed) hooks_.changed();
}

void ProtocolChange::Prepare(std::int32_t word) {
  // Baud codes 5 to 7 name no rate: the session's decoded rate stays in force.
  PortParams params = session_.params;
  DecodeSettingsWord(word, params);
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
  after = PresetFormat{digit0(presets.baud), digit0(presets.parity), digit0(presets.length), digit0(presets.stop),
                     digit0(presets.protocol)};
  beforeAddress = 1;
  afterAddress = 1;
  step_ = 0;
  state_ = State::Ready;
  pageEnabled_ = true;
  status_ = std::string(Text(Msg::PressSetToChangeProtocol));
  Changed();
}

void ProtocolChange::Set(int comNumber) {
  if (!SetAllowed() || !pageEnabled_) return;
  comNumber_ = comNumber;
  syncDone_ = false;
  pageEnabled_ = false;
  status_ = std::string(Text(Msg::ProtocolChanging));
  step_ = 0;
  Changed();
  RunSteps(false);
}

void ProtocolChange::RunSteps(bool justChanged) {
  if (step_ == 0) {
    const bool same = beforeAddress == afterAddress && PresetsFormat(presets) == after;
    step_ = same ? 2 : 1;
  } else if (step_ == 1) {
    step_ = 2;
    justChanged = true;
  }
  if (step_ == 2) {
    if (!syncChecked || syncDone_) {
      step_ = 3;
    } else if (justChanged && hooks_.showNotice) {
      // The user is told the protocol is changing; the synchronisation
      // command follows when the notice has closed.
      awaitingNotice_ = true;
      Changed();
      hooks_.showNotice(kNoticeChanging);
      return;
    }
  }
  Changed();
  if (step_ < 3) {
    SendCommand();
    return;
  }
  state_ = State::Succeeded;
  pageEnabled_ = true;
  status_ = std::string(Text(Msg::ProtocolChangeSuccess));
  FreeLine();
  Changed();
  if (syncChecked && syncDone_ && hooks_.showNotice) hooks_.showNotice(kNoticeSyncSuccess);
}

void ProtocolChange::NoticeClosed() {
  if (!awaitingNotice_) return;
  awaitingNotice_ = false;
  SendCommand();
}

void ProtocolChange::SendCommand() {
  const PresetFormat format = *PresetsFormat(presets);
  const FrameForm form = FormatForm(format);
  if (step_ == 1) {
    const auto value = static_cast<std::uint16_t>(afterAddress * 256 + ControllerFormatByte(after));
    sent_ = ProtocolStepFrame(beforeAddress, kAddressFormatRegister, value, form);
    state_ = State::WritingAddress;
  } else {
    sent_ = ProtocolStepFrame(beforeAddress, kAutoSyncRegister, 1, form);
    state_ = State::Synchronising;
  }
  sentForm_ = form;

  if (!line_.Open(comNumber_, format)) {
    // Nothing was sent: the controller is as it was, and the page is usable again.
    state_ = step_ == 1 ? State::Ready : State::Failed;
    if (step_ == 1) step_ = 0;
    pageEnabled_ = true;
    status_ = std::string(Text(Msg::PressSetToChangeProtocol));
    FreeLine();
    Changed();
    if (hooks_.showError) hooks_.showError(routing_.Port().ErrorText());
    return;
  }
  awaiting_ = true;
  routing_.Send(MainPortRouting::Route::Setup, form, sent_, kFirstWaitTicks);
}

void ProtocolChange::AnswerStep(const Answer& answer) {
  if (!awaiting_) return;
  awaiting_ = false;
  // Nothing received, or bytes that never made an answer by the deadline.
  if (answer.raw.empty() || answer.deadlineReached) {
    Fail(Text(Msg::ChangeTimeoutError));
    return;
  }
  if (!EchoMatches(answer.raw, sent_, sentForm_)) {
    Fail(Text(Msg::ChangeDataError));
    return;
  }
  if (step_ == 1) {
    beforeAddress = afterAddress;
    SetPresetsToFormat(presets, after);
  } else {
    syncDone_ = true;
  }
  RunSteps(false);
}

void ProtocolChange::LineLost() {
  if (!awaiting_) return;
  awaiting_ = false;
  Fail(Text(Msg::ChangeTimeoutError));
}

void ProtocolChange::Fail(std::string_view text) {
  state_ = State::Failed;
  pageEnabled_ = true;
  status_ = std::string(text);
  FreeLine();
  Changed();
}

void ProtocolChange::FreeLine() {
  awaiting_ = false;
  awaitingNotice_ = false;
  line_.Free();
}

void ProtocolChange::Leave() {
  if (routing_.Port().IsOpen()) FreeLine();
}

}  // namespace kx
