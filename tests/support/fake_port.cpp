#include "support/fake_port.h"

#include <algorithm>
#include <memory>

namespace kx::test {

bool FakePort::Open() {
  if (open_) return true;
  if (failNextOpen) {
    error_ = *failNextOpen;
    failNextOpen.reset();
    return false;
  }
  open_ = true;
  ++openCount;
  return true;
}

void FakePort::Close() {
  if (!open_) return;
  open_ = false;
  ++closeCount;
  triggers_.Clear();
  rx_.Clear();
}

void FakePort::PutBlock(std::span<const std::uint8_t> data) {
  written.emplace_back(data.begin(), data.end());
  TapSent(data);
}

std::uint16_t FakePort::AddTimerTrigger() { return triggers_.Add(); }

void FakePort::Feed(std::span<const std::uint8_t> bytes) {
  if (!open_ || bytes.empty()) return;
  Arrived(bytes);
}

void FakePort::Feed(std::string_view text) {
  Bytes b(text.begin(), text.end());
  Feed(b);
}

void FakePort::FeedSplit(std::span<const std::uint8_t> bytes, const std::vector<std::size_t>& cuts) {
  std::size_t from = 0;
  for (std::size_t cut : cuts) {
    cut = std::min(cut, bytes.size());
    if (cut > from) Feed(bytes.subspan(from, cut - from));
    from = std::max(from, cut);
  }
  if (from < bytes.size()) Feed(bytes.subspan(from));
}

void FakePort::FeedByteByByte(std::span<const std::uint8_t> bytes) {
  for (std::size_t i = 0; i < bytes.size(); ++i) Feed(bytes.subspan(i, 1));
}

void FakePort::Tick(int n) {
  for (int i = 0; i < n; ++i) {
    ++now_;
    // Fire every trigger due now; a handler may re-arm or add triggers, so
    // look the due ones up again after each firing.
    while (const auto due = triggers_.TakeDue(now_)) RaiseTrigger(port_event::TimerExpired{*due});
  }
}

int FakePort::RunTimers(int limit) {
  int ticks = 0;
  while (ticks < limit && triggers_.NextExpiry()) {
    Tick();
    ++ticks;
  }
  return ticks;
}

bool FakePort::Armed(std::uint16_t handle) const { return triggers_.Armed(handle); }

std::optional<std::int64_t> FakePort::Remaining(std::uint16_t handle) const {
  const auto expiry = triggers_.ExpiryOf(handle);
  if (!expiry) return std::nullopt;
  return *expiry - now_;
}

std::string FakePort::LastWrittenText() const {
  if (written.empty()) return {};
  return std::string(written.back().begin(), written.back().end());
}

void FakePort::Fail(const std::string& text) {
  if (!open_) return;
  open_ = false;
  triggers_.Clear();
  rx_.Clear();
  error_ = text;
  RaiseError(text);
}

PortFactory FakePortFactory(std::vector<FakePort*>& made) {
  return [&made]() -> std::unique_ptr<ComPort> {
    auto port = std::make_unique<FakePort>();
    made.push_back(port.get());
    return port;
  };
}

}  // namespace kx::test
