#include "core/traffic/traffic_log.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <numeric>
#include <tuple>
#include <utility>

#include "core/device/regmap.h"

namespace kx {

namespace {

constexpr double kMarginMs = 20;

// The request as bytes (ASCII converted, LRC included).
Bytes RequestBytes(FrameForm form, const Bytes& request) {
  if (form == FrameForm::Rtu) return request;
  return AsciiAnswerBytes(request).value_or(Bytes{});
}

// What a good answer to `request` looks like.
AnswerExpectation ExpectationOf(FrameForm form, const Bytes& request) {
  AnswerExpectation e;
  e.form = form;
  const Bytes b = RequestBytes(form, request);
  if (b.size() < 2) return e;
  e.address = b[0];
  e.functions = {b[1]};
  if (b[1] == kFnIdentify) e.functions.push_back(kFnKx1Identify);
  if (b[1] == kFnWrite) e.echoOf = request;
  return e;
}

}  // namespace

int SuggestedTimeoutMs(double maxReplyMs, double lineMs) {
  const double covering = std::max(maxReplyMs * 1.5, maxReplyMs + kMarginMs);
  const double floor = lineMs + kMarginMs;
  return static_cast<int>(std::ceil(std::max(covering, floor) / 10.0)) * 10;
}

std::optional<double> Percentile(std::vector<double> values, double p) {
  if (values.empty()) return std::nullopt;
  const auto rank = static_cast<std::size_t>(std::ceil(p / 100.0 * static_cast<double>(values.size())));
  // Only the value of that rank is wanted: a partial sort (the figures are
  // redrawn while 10,000 replies per address are kept).
  const auto nth = values.begin() + static_cast<std::ptrdiff_t>(std::clamp<std::size_t>(rank, 1, values.size()) - 1);
  std::nth_element(values.begin(), nth, values.end());
  return *nth;
}

TrafficLog::TrafficLog(std::size_t capacity) : capacity_(std::max<std::size_t>(capacity, 1)) {}

void TrafficLog::SetLine(const std::optional<LineFormat>& format) { line_ = format; }

void TrafficLog::Sent(std::span<const std::uint8_t> bytes, std::int64_t micros) {
  if (bytes.empty()) return;
  Settle(micros);
  TrafficFrame frame;
  frame.micros = micros;
  frame.direction = Direction::Tx;
  frame.bytes.assign(bytes.begin(), bytes.end());
  if (loader_) {
    // A loader request: its command in `function`, its answer collected by the loader's rule.
    frame.loader = true;
    frame.form = FrameForm::Rtu;
    if (bytes.size() >= 2) frame.function = bytes[1];
    if (loader_->requestNote) frame.note = loader_->requestNote(bytes);
    pending_ = Pending{frame.bytes, micros, FrameCollector(loader_->answerEnd, 512), micros, true};
    Add(std::move(frame));
    return;
  }
  frame.form = line_ ? line_->form : FrameForm::Rtu;
  frame.checked = line_.has_value();
  const Bytes b = RequestBytes(frame.form, frame.bytes);
  if (line_ && b.size() >= 2) {
    frame.address = b[0];
    frame.function = b[1];
  }
  // A broadcast (address 0) has no answer to wait for.
  if (line_ && b.size() >= 2 && frame.address != 0) {
    pending_ = Pending{frame.bytes, micros, FrameCollector(DefaultFrameEnd(frame.form), 512), micros};
    ++figures_[frame.address].requests;
  }
  Add(std::move(frame));
}

void TrafficLog::Received(std::span<const std::uint8_t> bytes, std::int64_t micros) {
  if (bytes.empty()) return;
  if (!pending_) {
    // Bytes nobody asked for: shown as they came, counted nowhere.
    TrafficFrame frame;
    frame.micros = micros;
    frame.direction = Direction::Rx;
    frame.bytes.assign(bytes.begin(), bytes.end());
    frame.form = line_ && !loader_ ? line_->form : FrameForm::Rtu;
    frame.failure = Failure::Format;
    frame.loader = loader_.has_value();
    if (frame.loader) frame.note = "not asked for";
    frame.checked = line_.has_value();
    Add(std::move(frame));
    return;
  }
  pending_->lastMicros = micros;
  if (pending_->collector.Add(bytes) == FrameCollector::State::Complete) FinishAnswer(micros, true);
}

void TrafficLog::Settle(std::int64_t micros) {
  if (!pending_) return;
  const bool got = !pending_->collector.received().empty();
  // An answer the rule cannot end by itself (one ended by silence) ends here.
  FinishAnswer(got ? pending_->lastMicros : micros, got && SilenceEnds(pending_->collector.rule()));
}

void TrafficLog::FinishAnswer(std::int64_t micros, bool complete) {
  Pending pending = std::move(*pending_);
  pending_.reset();
  TrafficFrame frame;
  frame.micros = micros;
  frame.direction = Direction::Rx;
  frame.form = line_ ? line_->form : FrameForm::Rtu;
  frame.bytes.assign(pending.collector.received().begin(), pending.collector.received().end());
  if (pending.loader) {
    FinishLoaderAnswer(frame, pending, complete);
    return;
  }
  if (complete) {
    const AnswerCheck check = CheckAnswer(ExpectationOf(frame.form, pending.request), frame.bytes);
    frame.failure = check.failure;
    frame.function = check.function;
    frame.exceptionCode = check.exceptionCode;
    if (!check.bytes.empty()) frame.address = check.bytes[0];
    frame.replyMs = static_cast<double>(micros - pending.sentMicros) / 1000.0;
  } else {
    frame.failure = Failure::TimedOut;
  }
  Count(frame, pending);
  Add(std::move(frame));
}

void TrafficLog::FinishLoaderAnswer(TrafficFrame& frame, const Pending& pending, bool complete) {
  frame.loader = true;
  frame.form = FrameForm::Rtu;
  if (frame.bytes.size() >= 2) frame.function = frame.bytes[1];
  if (complete) {
    if (loader_ && loader_->answerNote) std::tie(frame.failure, frame.note) = loader_->answerNote(frame.bytes);
    frame.replyMs = static_cast<double>(frame.micros - pending.sentMicros) / 1000.0;
  } else {
    frame.failure = Failure::TimedOut;
  }
  Add(std::move(frame));
}

void TrafficLog::Count(const TrafficFrame& answer, const Pending& pending) {
  const Bytes request = RequestBytes(answer.form, pending.request);
  Figures& f = figures_[request.empty() ? 0 : request[0]];
  switch (answer.failure) {
    case Failure::None: {
      ++f.good;
      const double ms = *answer.replyMs;
      f.minMs = f.replies == 0 ? ms : std::min(f.minMs, ms);
      f.maxMs = f.replies == 0 ? ms : std::max(f.maxMs, ms);
      f.sumMs += ms;
      ++f.replies;
      f.recent.push_back(ms);
      if (f.recent.size() > kRepliesKept) f.recent.pop_front();
      if (line_) {
        const double lineMs =
            static_cast<double>(TimingOf(*line_).WireMicros(pending.request.size() + answer.bytes.size())) / 1000.0;
        f.lineMs = std::max(f.lineMs, lineMs);
      }
      break;
    }
    case Failure::TimedOut:
    case Failure::LineLost: ++f.timeouts; break;
    case Failure::Checksum:
    case Failure::Format: ++f.checkErrors; break;
    case Failure::Exception: ++f.exceptions; break;
    case Failure::WrongAddress:
    case Failure::EchoMismatch:
    case Failure::UnknownFunction:
    case Failure::LineEcho: ++f.otherErrors; break;
  }
}

std::optional<std::int64_t> TrafficLog::PendingSince() const {
  if (!pending_) return std::nullopt;
  return pending_->lastMicros;
}

void TrafficLog::Add(TrafficFrame frame) {
  ++added_;
  if (holdFront_ && frames_.size() >= capacity_) {
    // A paused view reads the kept frames: this one is counted, not kept.
    if (onFrame_) onFrame_(frame);
    return;
  }
  frames_.push_back(std::move(frame));
  if (frames_.size() > capacity_) {
    frames_.pop_front();
    ++removed_;
  }
  if (onFrame_) onFrame_(frames_.back());
}

void TrafficLog::Clear() {
  removed_ += frames_.size();
  frames_.clear();
}

void TrafficLog::ClearStats() { figures_.clear(); }

std::vector<LinkStats> TrafficLog::Stats() const {
  std::vector<LinkStats> all;
  for (const auto& [address, f] : figures_) {
    if (auto s = StatsOf(address)) all.push_back(*s);
  }
  return all;
}

std::optional<LinkStats> TrafficLog::StatsOf(int address) const {
  const auto it = figures_.find(address);
  if (it == figures_.end()) return std::nullopt;
  const Figures& f = it->second;
  LinkStats s;
  s.address = address;
  s.requests = f.requests;
  s.good = f.good;
  s.timeouts = f.timeouts;
  s.checkErrors = f.checkErrors;
  s.exceptions = f.exceptions;
  s.otherErrors = f.otherErrors;
  if (f.replies > 0) {
    std::vector<double> recent(f.recent.begin(), f.recent.end());
    s.minMs = f.minMs;
    s.maxMs = f.maxMs;
    s.meanMs = f.sumMs / static_cast<double>(f.replies);
    s.p50Ms = Percentile(recent, 50);
    s.p95Ms = Percentile(std::move(recent), 95);
    s.suggestedTimeoutMs = SuggestedTimeoutMs(f.maxMs, f.lineMs);
  }
  return s;
}

std::string TraceTime(std::int64_t timeOfDayMicros) {
  constexpr std::int64_t kDay = 86'400'000'000;
  const std::int64_t t = ((timeOfDayMicros % kDay) + kDay) % kDay;
  const std::int64_t ms = t / 1000;
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%02d:%02d:%02d.%03d", static_cast<int>(ms / 3'600'000),
                static_cast<int>(ms / 60'000 % 60), static_cast<int>(ms / 1000 % 60), static_cast<int>(ms % 1000));
  return stamp;
}

std::string HexText(std::span<const std::uint8_t> bytes) {
  std::string text;
  text.reserve(bytes.size() * 3);
  for (const std::uint8_t b : bytes) {
    if (!text.empty()) text += ' ';
    text += HexByte(b);
  }
  return text;
}

std::string FrameText(const TrafficFrame& frame) {
  if (frame.form != FrameForm::Ascii || frame.bytes.empty()) return {};
  return AnswerText(frame.bytes);
}

std::string CheckNote(const TrafficFrame& frame) {
  if (frame.loader) {
    if (frame.failure == Failure::TimedOut) return frame.bytes.empty() ? "loader: no answer" : "loader: incomplete answer";
    return frame.note.empty() ? "loader" : "loader: " + frame.note;
  }
  if (frame.direction == Direction::Tx || !frame.checked) return {};
  if (frame.failure == Failure::None) return "good";
  if (frame.failure == Failure::TimedOut)
    return (frame.bytes.empty() ? "no answer: " : "incomplete: ") + FailureText(Failure::TimedOut);
  return "failed: " + FailureText(frame.failure, frame.function, frame.exceptionCode);
}

std::string MsText(double ms) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", ms);
  return text;
}

std::string TraceLine(const TrafficFrame& frame, std::int64_t timeOfDayMicros) {
  std::string line = TraceTime(timeOfDayMicros);
  line += frame.direction == Direction::Tx ? " TX" : " RX";
  if (!frame.bytes.empty()) line += ' ' + HexText(frame.bytes);
  if (frame.form == FrameForm::Ascii && !frame.bytes.empty()) line += "  \"" + FrameText(frame) + '"';
  if (const std::string check = CheckNote(frame); !check.empty()) line += "  " + check;
  if (frame.direction == Direction::Rx && frame.replyMs) line += "  " + MsText(*frame.replyMs) + " ms";
  return line;
}

std::int64_t TimeOfDayOffsetMicros() {
  const auto wall = std::chrono::system_clock::now();
  const auto steady = std::chrono::steady_clock::now();
  const std::time_t t = std::chrono::system_clock::to_time_t(wall);
  std::tm local{};
  localtime_r(&t, &local);
  const std::int64_t wallMicros =
      std::chrono::duration_cast<std::chrono::microseconds>(wall.time_since_epoch()).count() +
      static_cast<std::int64_t>(local.tm_gmtoff) * 1'000'000;
  return wallMicros - std::chrono::duration_cast<std::chrono::microseconds>(steady.time_since_epoch()).count();
}

}  // namespace kx
