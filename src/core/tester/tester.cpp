#include "core/tester/tester.h"

#include <vector>

#include "core/exchange/requests.h"
#include "core/text/text.h"

namespace kx {

namespace {

constexpr std::array<TesterCommandInfo, 6> kCommands{{
    {TesterCommand::ReadRegister, "Read Register", "03", Msg::CaptionWordCount, 1},
    {TesterCommand::WriteOneWord, "Write One Word", "06", Msg::CaptionWriteData, 4},
    {TesterCommand::WriteMultiWords, "Write Multi-Words", "10", Msg::CaptionWordCount, 1},
    {TesterCommand::ReadBits, "Read Bits", "02", Msg::CaptionBitCount, 2},
    {TesterCommand::WriteBit, "Write Bit", "05", Msg::CaptionContent, 1},
    {TesterCommand::UserDefine, "User Define", "", Msg::CaptionData, 1},
}};

// Appends HexField(text, width); false when the field is not hexadecimal.
bool AppendField(std::string& out, std::string_view text, int width) {
  const std::string field = HexField(text, width);
  if (field.empty()) return false;
  out += field;
  return true;
}

std::optional<int> DecimalCount(std::string_view text) {
  if (text.empty() || text.size() > 4) return std::nullopt;
  int n = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    n = n * 10 + (c - '0');
  }
  return n;
}

// Bytes of the digit pairs after the first character of a frame text.
Bytes PairsAfterFirst(std::string_view text) {
  if (text.empty()) return {};
  std::vector<char> buf(text.begin(), text.end());
  const std::size_t n = HexTextToBytes(buf, (text.size() - 1) / 2);
  return Bytes(buf.begin(), buf.begin() + static_cast<std::ptrdiff_t>(n));
}

}  // namespace

const std::array<TesterCommandInfo, 6>& TesterCommands() { return kCommands; }

const TesterCommandInfo& TesterCommandAt(TesterCommand command) {
  return kCommands[static_cast<std::size_t>(command)];
}

std::string MultiDataWord(std::string_view fieldText) {
  if (fieldText.empty() || fieldText.size() > 4) return {};
  return HexField(fieldText, 4);
}

ComposedFrame ComposeTesterFrame(const TesterFields& f, bool rtu) {
  ComposedFrame result;
  if (f.address.empty() || !f.command || f.funcAddr.empty()) return result;
  const TesterCommand cmd = *f.command;
  switch (cmd) {
    case TesterCommand::WriteMultiWords:
      if (f.words[0].empty() || f.data.empty()) return result;
      break;
    case TesterCommand::UserDefine:
      if (f.words[0].empty()) return result;
      break;
    default:
      if (f.data.empty()) return result;
      break;
  }

  std::string text = ":";
  bool valid = AppendField(text, f.address, 2);
  if (cmd == TesterCommand::UserDefine)
    valid = valid && AppendField(text, f.userCmd, 2);
  else
    text += TesterCommandAt(cmd).functionCode;
  valid = valid && AppendField(text, f.funcAddr, 4);

  switch (cmd) {
    case TesterCommand::WriteBit:
      text += f.data == "0" ? "0000" : "FF00";
      break;
    case TesterCommand::UserDefine:
      // The words up to the first empty one.
      for (const std::string& word : f.words) {
        if (word.empty()) break;
        text += word;
      }
      break;
    case TesterCommand::WriteMultiWords: {
      valid = valid && AppendField(text, f.data, 4);
      const auto count = DecimalCount(f.data);
      if (!count) {
        result.kind = ComposedFrame::Kind::BadCount;
        result.error = "WORD COUNT '" + f.data + "' is not a decimal number";
        return result;
      }
      const int n = std::min(*count, kTesterWords);
      text += HexByte(2 * n);
      for (int i = 0; i < n; ++i) {
        const std::string& word = f.words[static_cast<std::size_t>(i)];
        text += word.empty() ? std::string("0000") : word;
      }
      break;
    }
    default:
      valid = valid && AppendField(text, f.data, 4);
      break;
  }

  if (!valid) {
    result.kind = ComposedFrame::Kind::Invalid;
    return result;
  }

  result.kind = ComposedFrame::Kind::Composed;
  if (!rtu) {
    const std::string lrc = HexByte(AsciiLrc(text, text.size()));
    result.checkDigits = lrc;
    result.sendText = text + lrc;
  } else {
    const std::uint16_t crc = Crc16(PairsAfterFirst(text));
    result.checkDigits = HexByte(crc & 0xFF) + HexByte(crc >> 8);
    result.sendText = " " + text.substr(1) + result.checkDigits;
  }
  return result;
}

std::optional<Bytes> TesterBlock(std::string_view sendText, bool rtu) {
  if (sendText.empty() || sendText.size() > kTesterMaxSendText) return std::nullopt;
  if (rtu) return PairsAfterFirst(sendText);
  Bytes block(sendText.begin(), sendText.end());
  block.push_back('\r');
  block.push_back('\n');
  return block;
}

// ---------------------------------------------------------------------------

Tester::Tester(Session& session, MainPortRouting& routing, Hooks hooks)
    : session_(session), routing_(routing), hooks_(std::move(hooks)) {
  routing_.tester.answerEnded = [this] { Handle(tester_event::AnswerEnded{}); };
  routing_.tester.lineLost = [this] { Handle(tester_event::LineLost{}); };
}

Tester::~Tester() {
  routing_.tester.answerEnded = nullptr;
  routing_.tester.lineLost = nullptr;
}

void Tester::Handle(const TesterEvent& event) {
  std::visit([this](const auto& e) { On(e); }, event);
}

void Tester::On(const tester_event::FieldsChanged& e) {
  fields_ = e.fields;
  Compose();
}

void Tester::On(const tester_event::SendTextEdited& e) { sendText_ = e.text; }

void Tester::SetRepeat(bool on) {
  if (on)
    state_ = AwaitingAnswer() ? State::RepeatAwaiting : State::Repeating;
  else
    state_ = AwaitingAnswer() ? State::Awaiting : State::Idle;
}

void Tester::CloseLine() {
  routing_.ReleaseLine();
  routing_.Close();
}

void Tester::Changed() const {
  if (hooks_.changed) hooks_.changed();
}

void Tester::Compose() {
  ComposedFrame frame = ComposeTesterFrame(fields_, session_.params.rtu);
  switch (frame.kind) {
    case ComposedFrame::Kind::Unchanged:
      return;
    case ComposedFrame::Kind::BadCount:
      if (hooks_.showError) hooks_.showError(frame.error);
      return;
    case ComposedFrame::Kind::Invalid:
    case ComposedFrame::Kind::Composed:
      sendText_ = std::move(frame.sendText);
      checkDigits_ = std::move(frame.checkDigits);
      Changed();
      return;
  }
}

bool Tester::MayUseLine() const {
  return session_.lineOwner == LineOwner::Free || session_.lineOwner == LineOwner::Tester;
}

bool Tester::TextAcceptable() {
  if (sendText_.empty()) return false;
  if (sendText_.size() > kTesterMaxSendText) {
    if (hooks_.showError)
      hooks_.showError("The SEND text has " + std::to_string(sendText_.size()) +
                       " characters; at most " + std::to_string(kTesterMaxSendText) +
                       " can be sent. Nothing was sent.");
    return false;
  }
  return true;
}

bool Tester::OpenForTester() {
  routing_.HoldLine(LineOwner::Tester);
  if (routing_.port().IsOpen()) return true;
  if (hooks_.setToolBarEnabled) hooks_.setToolBarEnabled(false);
  if (!routing_.Open()) {
    // The line stays held and the tool bar disabled until Close.
    if (hooks_.showError) hooks_.showError(routing_.port().ErrorText());
    return false;
  }
  return true;
}

bool Tester::Transmit() {
  const auto block = TesterBlock(sendText_, session_.params.rtu);
  if (!block) return false;
  if (routing_.tester.showReceived) routing_.tester.showReceived(std::string());
  state_ = Repeating() ? State::RepeatAwaiting : State::Awaiting;
  const LineFormat line = LineFormatOf(session_.params);
  routing_.Send(MainPortRouting::Route::Tester, line.form, *block, WaitTicks(RequestKind::Tester, line));
  return true;
}

void Tester::On(const tester_event::SendClick&) {
  if (AwaitingAnswer() || sendText_.empty()) return;
  if (!MayUseLine()) return;
  if (!TextAcceptable()) return;
  if (!OpenForTester()) return;
  Transmit();
}

void Tester::On(const tester_event::RepeatClick&) {
  switch (state()) {
    case State::Repeating:
    case State::RepeatAwaiting:
      // Stop: an awaited answer still comes, and the port closes after it.
      SetRepeat(false);
      if (hooks_.setRepeatTimer) hooks_.setRepeatTimer(false);
      if (state_ == State::Idle && routing_.port().IsOpen()) CloseLine();
      if (hooks_.setToolBarEnabled) hooks_.setToolBarEnabled(true);
      Changed();
      return;
    case State::Idle:
    case State::Awaiting:
      if (!TextAcceptable()) return;
      // While a Send's answer is awaited the first repeat goes out at the next tick.
      if (state_ == State::Idle && MayUseLine()) {
        if (!OpenForTester()) return;
        Transmit();
      }
      SetRepeat(true);
      if (hooks_.setRepeatTimer) hooks_.setRepeatTimer(true);
      Changed();
      return;
  }
}

void Tester::On(const tester_event::TimerTick&) {
  if (!Repeating() || !routing_.port().IsOpen()) return;
  Transmit();  // a text made too long while repeating is skipped
}

void Tester::On(const tester_event::AnswerEnded&) {
  if (state_ == State::RepeatAwaiting) {
    state_ = State::Repeating;  // the port stays open for the next tick
  } else if (state_ == State::Awaiting) {
    state_ = State::Idle;
    CloseLine();
    if (hooks_.setToolBarEnabled) hooks_.setToolBarEnabled(true);
  }
}

void Tester::On(const tester_event::LineLost&) {
  state_ = State::Idle;
  if (hooks_.setRepeatTimer) hooks_.setRepeatTimer(false);
  if (hooks_.setToolBarEnabled) hooks_.setToolBarEnabled(true);
  Changed();
}

void Tester::On(const tester_event::ClearClick&) {
  routing_.ClearReceiveText();
  if (routing_.tester.showReceived) routing_.tester.showReceived(std::string());
}

void Tester::On(const tester_event::CloseClick&) {
  if (hooks_.setRepeatTimer) hooks_.setRepeatTimer(false);
  // An answer still awaited is dropped with the port; without leaving the
  // awaiting state here the next Send would wait for it for ever.
  state_ = State::Idle;
  if (routing_.port().IsOpen()) routing_.Close();
  if (hooks_.setToolBarEnabled) hooks_.setToolBarEnabled(true);
  if (session_.lineOwner == LineOwner::Tester) routing_.ReleaseLine();
  Changed();
}

}  // namespace kx
