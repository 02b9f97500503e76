#include "core/traffic/traffic_taps.h"

#include <algorithm>
#include <utility>

namespace kx {

TrafficTaps::TrafficTaps(TrafficLog& log, std::vector<TrafficSource> sources)
    : log_(log), sources_(std::move(sources)) {
  for (const TrafficSource& s : sources_) feeds_.push_back(std::make_unique<Feed>(log_, s.format));
}

void TrafficTaps::Attach() {
  for (std::size_t i = 0; i < sources_.size(); ++i)
    if (ComPort* port = sources_[i].port()) port->SetTap(feeds_[i].get());
  attached_ = true;
}

void TrafficTaps::Detach() {
  if (!attached_) return;
  for (const TrafficSource& s : sources_)
    if (ComPort* port = s.port()) port->SetTap(nullptr);
  attached_ = false;
}

void TrafficTaps::Feed::Sent(std::span<const std::uint8_t> bytes, std::int64_t micros) {
  log_.SetLine(format_ ? format_() : std::nullopt);
  log_.Sent(bytes, micros);
}

void TrafficTaps::Feed::Received(std::span<const std::uint8_t> bytes, std::int64_t micros) {
  // The answer to a request written before the taps came is read in its port's format too.
  log_.SetLine(format_ ? format_() : std::nullopt);
  log_.Received(bytes, micros);
}

TrafficRows::Change TrafficRows::Follow(const TrafficLog& log) const {
  const std::uint64_t logFirst = log.Removed();
  const std::uint64_t logEnd = logFirst + log.Frames().size();
  const std::uint64_t end = first_ + count_;
  Change c;
  if (logFirst > first_) c.removeFront = static_cast<std::size_t>(std::min<std::uint64_t>(count_, logFirst - first_));
  const std::uint64_t from = std::max(end, logFirst);
  if (logEnd > from) c.append = static_cast<std::size_t>(logEnd - from);
  return c;
}

void TrafficRows::Apply(const TrafficLog& log, const Change& change) {
  const std::uint64_t end = first_ + count_;
  first_ += change.removeFront;
  count_ -= change.removeFront;
  // Rows all gone and more dropped than were shown: the next row is the
  // log's first kept frame.
  if (count_ == 0) first_ = std::max(end, log.Removed());
  count_ += change.append;
}

const TrafficFrame* TrafficRows::Frame(const TrafficLog& log, std::size_t row) const {
  const std::uint64_t n = first_ + row;
  if (row >= count_ || n < log.Removed()) return nullptr;
  const std::uint64_t index = n - log.Removed();
  if (index >= log.Frames().size()) return nullptr;
  return &log.Frames()[static_cast<std::size_t>(index)];
}

std::string TraceText(const TrafficLog& log, const TrafficRows& rows, std::int64_t toTimeOfDay) {
  std::string text;
  for (std::size_t row = 0; row < rows.count(); ++row) {
    if (const TrafficFrame* frame = rows.Frame(log, row)) {
      text += TraceLine(*frame, frame->micros + toTimeOfDay);
      text += '\n';
    }
  }
  return text;
}

bool QuietRequest::Check(TrafficLog& log) {
  const std::optional<std::int64_t> since = log.PendingSince();
  if (!since || since != seen_) {
    seen_ = since;
    quiet_ = 0;
    return false;
  }
  if (++quiet_ < checks_) return false;
  log.Settle(*since + quietMicros_);
  seen_.reset();
  quiet_ = 0;
  return true;
}

}  // namespace kx
