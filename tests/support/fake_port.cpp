#include "support/fake_port.h"

#include <algorithm>
#include <memory>

namespace kx::test {

bool FakePort::SetOpen(bool open) {
  if (open == open_) return true;
  if (open) {
    if (failNextOpen) {
      error_ = *failNextOpen;
      failNextOpen.reset();
      return false;
    }
    open_ = true;
    ++openCount;
    return true;
  }
  open_ = false;
  ++closeCount;
  triggers_.clear();
  rx_.clear();
  return true;
}

void FakePort::PutBlock(std::span<const std::uint8_t> data) {
  written.emplace_back(data.begin(), data.end());
}

std::uint8_t FakePort::GetChar() {
  if (rx_.empty()) return 0;
  const std::uint8_t b = rx_.front();
  rx_.pop_front();
  return b;
}

std::uint16_t FakePort::AddTimerTrigger() {
  while (triggers_.count(nextHandle_) != 0 || nextHandle_ == 0) ++nextHandle_;
  const std::uint16_t h = nextHandle_++;
  triggers_[h] = std::nullopt;
  return h;
}

void FakePort::SetTimerTrigger(std::uint16_t handle, std::int32_t ticks, bool activate) {
  auto it = triggers_.find(handle);
  if (it == triggers_.end()) return;
  if (activate)
    it->second = now_ + std::max<std::int32_t>(ticks, 1);
  else
    it->second = std::nullopt;
}

void FakePort::Feed(std::span<const std::uint8_t> bytes) {
  if (!open_ || bytes.empty()) return;
  rx_.insert(rx_.end(), bytes.begin(), bytes.end());
  const auto n = static_cast<std::uint16_t>(rx_.size());
  RaiseTrigger(PortEvent{kEventDataAvailable, n, n});
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
    for (;;) {
      std::optional<std::uint16_t> due;
      std::int64_t best = 0;
      for (const auto& [h, expiry] : triggers_) {
        if (expiry && *expiry <= now_ && (!due || *expiry < best)) {
          due = h;
          best = *expiry;
        }
      }
      if (!due) break;
      triggers_[*due] = std::nullopt;
      RaiseTrigger(PortEvent{kEventTimer, *due, 0});
    }
  }
}

int FakePort::RunTimers(int limit) {
  int ticks = 0;
  while (ticks < limit &&
         std::any_of(triggers_.begin(), triggers_.end(), [](const auto& t) { return t.second.has_value(); })) {
    Tick();
    ++ticks;
  }
  return ticks;
}

bool FakePort::Armed(std::uint16_t handle) const {
  auto it = triggers_.find(handle);
  return it != triggers_.end() && it->second.has_value();
}

std::optional<std::int64_t> FakePort::Remaining(std::uint16_t handle) const {
  auto it = triggers_.find(handle);
  if (it == triggers_.end() || !it->second) return std::nullopt;
  return *it->second - now_;
}

std::string FakePort::LastWrittenText() const {
  if (written.empty()) return {};
  return std::string(written.back().begin(), written.back().end());
}

void FakePort::Fail(const std::string& text) {
  if (!open_) return;
  open_ = false;
  triggers_.clear();
  rx_.clear();
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
