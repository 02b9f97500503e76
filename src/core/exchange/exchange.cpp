#include "core/exchange/exchange.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "core/modbus/mbap.h"

namespace kx {

ExchangeRequest ExchangeRequest::For(FrameForm form, Bytes frame, int firstWaitTicks,
                                     int rearmTicks, LineTiming timing) {
  ExchangeRequest r;
  r.frame = std::move(frame);
  r.form = form;
  r.end = DefaultFrameEnd(form);
  r.firstWaitTicks = firstWaitTicks;
  r.rearmTicks = rearmTicks;
  r.timing = timing;
  return r;
}

std::string Answer::Text() const { return AnswerText(raw); }

std::span<const std::uint8_t> Answer::Data() const {
  if (frame.size() < 2 + checkLength) return {};
  return std::span<const std::uint8_t>(frame).subspan(2, frame.size() - 2 - checkLength);
}

std::vector<std::uint16_t> Answer::Words() const {
  std::vector<std::uint16_t> words;
  const std::span<const std::uint8_t> data = Data();
  // Byte count, then the registers; a count that does not match gives none.
  if (data.empty() || std::size_t{data[0]} + 1 != data.size() || data[0] % 2 != 0) return words;
  words.reserve(data[0] / 2U);
  for (std::size_t i = 1; i + 1 < data.size(); i += 2)
    words.push_back(static_cast<std::uint16_t>(data[i] << 8 | data[i + 1]));
  return words;
}

std::optional<std::uint16_t> Answer::Word(std::size_t index) const {
  const std::vector<std::uint16_t> words = Words();
  if (index >= words.size()) return std::nullopt;
  return words[index];
}

std::string Answer::FailureText() const { return kx::FailureText(failure, function, exceptionCode); }

bool IsGatewayFailureAnswer(FrameForm form, std::span<const std::uint8_t> received) {
  const std::optional<Bytes> bytes =
      form == FrameForm::Ascii ? AsciiAnswerBytes(received) : std::optional<Bytes>(Bytes(received.begin(), received.end()));
  if (!bytes || bytes->size() != 3 + CheckLength(form) || !AnswerChecksumOk(form, *bytes)) return false;
  return mbap::IsGatewayFailure(std::span<const std::uint8_t>(*bytes).subspan(1, 2));
}

int DeadlineTicks(const ExchangeRequest& r) {
  if (r.deadlineTicks > 0) return r.deadlineTicks;
  const int rearm = std::max(r.rearmTicks, 1);
  const int grace = r.graceBelow > 0 ? rearm : 0;
  return std::max(r.firstWaitTicks, 1) + r.timing.TransmitTicks(LongestAnswer(r.end, r.capacity)) +
         rearm + grace + 1;
}

Exchange::Exchange(ComPort& port) : port_(port) {}

void Exchange::Opened() {
  pending_ = false;
  for (int i = 0; i < 2; ++i) {
    silence_[i] = port_.AddTimerTrigger();
    deadline_[i] = port_.AddTimerTrigger();
  }
}

void Exchange::Disarm() {
  for (int i = 0; i < 2; ++i) {
    port_.Disarm(silence_[i]);
    port_.Disarm(deadline_[i]);
  }
}

std::uint32_t Exchange::Send(ExchangeRequest request) {
  if (++tag_ == 0) ++tag_;
  request_ = std::move(request);
  if (request_.expect) request_.expect->form = request_.form;
  collector_ = FrameCollector(request_.end, request_.capacity);
  graceUsed_ = false;
  traits_ = port_.Traits();
  // Nothing comes back for a broadcast, not even from a gateway.
  const auto serial = traits_.gateway ? mbap::ParseSerialFrame(request_.frame) : std::nullopt;
  const bool awaitsGateway = serial && serial->contents.front() != 0;
  const int allowance =
      (traits_.network ? kNetworkAllowanceTicks : 0) + (awaitsGateway ? kGatewayAllowanceTicks : 0);
  request_.firstWaitTicks += allowance;
  request_.rearmTicks += allowance;
  if (request_.deadlineTicks > 0) request_.deadlineTicks += allowance;
  echoTaken_ = 0;
  echoLength_ = traits_.echoes ? request_.frame.size() : 0;
  deadlineTicks_ = DeadlineTicks(request_);
  if (echoLength_ > 0 && request_.deadlineTicks == 0) deadlineTicks_ += request_.timing.TransmitTicks(echoLength_);
  pending_ = true;
  Disarm();
  if (request_.flushInput) port_.FlushInBuffer();  // bytes of an earlier, abandoned answer
  port_.Arm(SilenceTrigger(), request_.firstWaitTicks);
  port_.Arm(DeadlineTrigger(), deadlineTicks_);
  port_.PutBlock(request_.frame);
  return tag_;
}

std::optional<Answer> Exchange::Handle(const PortEvent& event) {
  if (const auto* timer = std::get_if<port_event::TimerExpired>(&event)) return OnTimer(timer->trigger);
  return OnData();
}

std::optional<Answer> Exchange::OnData() {
  std::vector<std::uint8_t> chunk(port_.CharsWaiting());
  chunk.resize(port_.Read(chunk));
  if (!pending_ || chunk.empty()) return std::nullopt;  // nobody asked: dropped
  port_.Disarm(SilenceTrigger());
  std::span<const std::uint8_t> rest(chunk);
  const bool echoWhole = echoTaken_ == echoLength_;
  if (!TakeEcho(rest)) {
    // What came instead of the echo is kept as received (the tester shows it).
    collector_.Add(rest);
    Answer answer = Finish(AnswerEnd::Complete);
    answer.failure = Failure::LineEcho;
    answer.frame.clear();
    answer.function = answer.exceptionCode = 0;
    answer.checkLength = 0;
    return answer;
  }
  if (rest.empty()) {
    // Only echo so far: the wait for the answer starts when the echo is whole.
    port_.Arm(SilenceTrigger(), !echoWhole && echoTaken_ == echoLength_ ? request_.firstWaitTicks
                                                                        : request_.rearmTicks);
    return std::nullopt;
  }
  if (collector_.Add(rest) == FrameCollector::State::Complete) return Finish(AnswerEnd::Complete);
  port_.Arm(SilenceTrigger(), request_.rearmTicks);
  return std::nullopt;
}

bool Exchange::TakeEcho(std::span<const std::uint8_t>& chunk) {
  while (echoTaken_ < echoLength_ && !chunk.empty()) {
    if (chunk.front() != request_.frame[echoTaken_]) return false;
    ++echoTaken_;
    chunk = chunk.subspan(1);
  }
  return true;
}

std::optional<Answer> Exchange::OnTimer(std::uint16_t handle) {
  if (!pending_ || handle == 0) return std::nullopt;
  if (handle == DeadlineTrigger()) return Finish(AnswerEnd::TimedOut, true);
  if (handle != SilenceTrigger()) return std::nullopt;  // late expiry of an earlier request
  const std::size_t got = collector_.received().size();
  if (got == 0 || !SilenceEnds(request_.end)) return Finish(AnswerEnd::TimedOut);
  // A gap in a network stream ends nothing the rule can end itself: the
  // answer waits for its length up to the deadline.
  if (traits_.network && collector_.EndsByContent()) return std::nullopt;
  if (got < request_.graceBelow && !graceUsed_) {
    // A short answer gets one more wait; the next expiry ends it.
    graceUsed_ = true;
    port_.Arm(SilenceTrigger(), request_.rearmTicks);
    return std::nullopt;
  }
  return Finish(AnswerEnd::Complete);
}

Answer Exchange::Finish(AnswerEnd end, bool deadline) {
  pending_ = false;
  port_.Disarm(SilenceTrigger());
  port_.Disarm(DeadlineTrigger());
  Answer answer;
  answer.tag = tag_;
  answer.end = end;
  answer.raw.assign(collector_.received().begin(), collector_.received().end());
  answer.overflowed = collector_.overflowed();
  answer.deadlineReached = deadline;
  if (end == AnswerEnd::Complete && traits_.gateway && IsGatewayFailureAnswer(request_.form, answer.raw)) {
    // The gateway says no controller answered: a time-out, nothing received.
    answer.end = AnswerEnd::TimedOut;
    answer.raw.clear();
  }
  answer.failure = answer.end == AnswerEnd::Complete ? Failure::None : Failure::TimedOut;
  if (answer.end == AnswerEnd::Complete && request_.expect) {
    AnswerCheck check = CheckAnswer(*request_.expect, answer.raw);
    answer.failure = check.failure;
    answer.frame = std::move(check.bytes);
    answer.function = check.function;
    answer.exceptionCode = check.exceptionCode;
    answer.checkLength = CheckLength(request_.form);
  }
  return answer;
}

std::optional<Answer> Exchange::LineLost() {
  if (!pending_) return std::nullopt;
  pending_ = false;
  Answer answer;
  answer.tag = tag_;
  answer.end = AnswerEnd::LineLost;
  answer.failure = Failure::LineLost;
  answer.raw.assign(collector_.received().begin(), collector_.received().end());
  return answer;
}

void Exchange::Cancel() {
  if (!pending_) return;
  pending_ = false;
  if (port_.IsOpen()) {
    port_.Disarm(SilenceTrigger());
    port_.Disarm(DeadlineTrigger());
  }
}

}  // namespace kx
