#include "kxsim/line.h"

#include <algorithm>
#include <utility>

namespace kxsim {

namespace {

// Longest frame kept: a function-0x10 request of 123 registers in ASCII is
// 513 characters, in RTU 255 bytes. Anything longer is dropped unread.
constexpr std::size_t kMaxAsciiFrame = 513;
constexpr std::size_t kMaxRtuFrame = 256;

std::optional<int> HexDigit(std::uint8_t c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return std::nullopt;
}

// Length of an RTU request whose function gives it one, from what has arrived.
std::optional<std::size_t> RtuRequestLength(std::span<const std::uint8_t> bytes) {
  if (bytes.size() < 2) return std::nullopt;
  switch (bytes[1]) {
    case 0x01: case 0x02: case 0x03: case 0x04: case 0x05: case 0x06: case 0x67:
      return 8;
    case 0x0F: case 0x10:
      if (bytes.size() < 7) return std::nullopt;
      return 9 + static_cast<std::size_t>(bytes[6]);
    default:
      return std::nullopt;
  }
}

SimTime WireTime(std::size_t chars, const LineFormat& format) { return SimTime(kx::TimingOf(format).WireMicros(chars)); }

}  // namespace

Line::Line(SettingsSource settings) : settings_(std::move(settings)) {}

Controller& Line::Add(std::unique_ptr<Controller> controller) {
  controllers_.push_back(std::move(controller));
  return *controllers_.back();
}

std::vector<Controller*> Line::Controllers() const {
  std::vector<Controller*> all;
  for (const auto& c : controllers_) {
    all.push_back(c.get());
    for (const auto& f : c->followers()) all.push_back(f.get());
  }
  return all;
}

SimTime Line::RtuSilence(int baud) {
  const SimTime charTimes(baud > 0 ? 3'500'000LL * 11 / baud : 0);
  return std::max(charTimes, SimTime(2000));
}

void Line::Receive(std::span<const std::uint8_t> bytes, SimTime now) {
  if (bytes.empty()) return;
  if (echo_) {
    // Heard back once on the wire; scheduled before any answer these bytes complete.
    const PcSettings pc = settings_();
    const LineFormat sent{pc.baud, pc.dataBits != 0 ? pc.dataBits : 8, pc.parity, pc.stopBits, kx::FrameForm::Rtu};
    Schedule(timing_ && pc.baud > 0 ? now + WireTime(bytes.size(), sent) : now, kx::Bytes(bytes.begin(), bytes.end()));
  }
  // RTU: the frame ends after a silence at the PC's baud rate, or earlier when
  // the request's own length rule says it is complete.
  if (rtu_.size() + bytes.size() <= kMaxRtuFrame) {
    rtu_.insert(rtu_.end(), bytes.begin(), bytes.end());
  } else {
    rtu_.assign(kMaxRtuFrame + 1, 0);  // overlong: kept as a marker, never valid
  }
  rtuLast_ = now;
  rtuSilence_ = RtuSilence(settings_().baud);
  for (std::uint8_t b : bytes) ScanAscii(b, now);
  TryRtuByLength(now);
  ScanLoader(bytes, now);
}

void Line::ScanLoader(std::span<const std::uint8_t> bytes, SimTime now) {
  std::vector<Controller*> loaders;
  for (Controller* c : Controllers())
    if (c->ListensAsLoader(now)) loaders.push_back(c);
  if (loaders.empty() || !Understands(kLoaderFormat, settings_())) {
    loaderFramer_.Reset();
    return;
  }
  for (const kx::Bytes& frame : loaderFramer_.Feed(bytes)) {
    for (Controller* c : loaders) {
      auto reply = c->HandleLoaderFrame(frame, now);
      if (!reply) continue;
      SimTime due = now + turnaround_ + reply->delay;
      if (timing_) due += WireTime(frame.size() + reply->bytes.size(), kLoaderFormat);
      Schedule(due, std::move(reply->bytes));
    }
  }
}

void Line::Schedule(SimTime due, kx::Bytes bytes) {
  if (!pending_.empty()) due = std::max(due, pending_.back().due);
  pending_.push_back({due, std::move(bytes)});
}

void Line::ScanAscii(std::uint8_t byte, SimTime now) {
  if (byte == ':') {
    ascii_.assign(1, byte);
    inAscii_ = true;
    return;
  }
  if (!inAscii_) return;
  if (ascii_.size() >= kMaxAsciiFrame) {
    ascii_.clear();
    inAscii_ = false;
    return;
  }
  ascii_.push_back(byte);
  if (byte == '\n') {
    inAscii_ = false;
    const std::vector<std::uint8_t> frame = std::exchange(ascii_, {});
    // A good ASCII frame is no RTU frame: it need not wait for the RTU silence.
    if (Dispatch(kx::FrameForm::Ascii, frame, now)) rtu_.clear();
  }
}

void Line::TryRtuByLength(SimTime now) {
  const auto length = RtuRequestLength(rtu_);
  if (!length || rtu_.size() != *length) return;
  if (!kx::RtuChecksumOk(rtu_)) return;  // wait for the silence: maybe more is coming
  const std::vector<std::uint8_t> frame = std::exchange(rtu_, {});
  Dispatch(kx::FrameForm::Rtu, frame, now);
}

std::optional<SimTime> Line::NextDeadline() const {
  std::optional<SimTime> next;
  if (!rtu_.empty()) next = rtuLast_ + rtuSilence_;
  if (!pending_.empty()) {
    const SimTime due = pending_.front().due;
    next = next ? std::min(*next, due) : due;
  }
  if (const auto noise = noise_.NextDue()) next = next ? std::min(*next, *noise) : *noise;
  return next;
}

kx::Bytes Line::TakeDue(SimTime now) {
  if (!rtu_.empty() && now >= rtuLast_ + rtuSilence_) {
    const std::vector<std::uint8_t> frame = std::exchange(rtu_, {});
    if (frame.size() <= kMaxRtuFrame) Dispatch(kx::FrameForm::Rtu, frame, rtuLast_ + rtuSilence_);
  }
  kx::Bytes out;
  while (!pending_.empty() && pending_.front().due <= now) {
    const kx::Bytes& bytes = pending_.front().bytes;
    out.insert(out.end(), bytes.begin(), bytes.end());
    pending_.pop_front();
  }
  noise_.Take(now, out);
  return out;
}

void Line::Reset() { Purge(true, true); }

void Line::Purge(bool answers, bool partial) {
  if (partial) {
    ascii_.clear();
    inAscii_ = false;
    rtu_.clear();
    loaderFramer_.Reset();
  }
  if (answers) pending_.clear();
}

bool Line::Dispatch(kx::FrameForm form, std::span<const std::uint8_t> frame, SimTime now) {
  kx::Bytes pdu;
  if (form == kx::FrameForm::Ascii) {
    // ':' + pairs of hexadecimal digits + CR LF; address, function and LRC at least.
    if (frame.size() < 9 || frame[frame.size() - 2] != '\r') return false;
    const std::size_t digits = frame.size() - 3;
    if (digits % 2 != 0) return false;
    for (std::size_t i = 1; i < 1 + digits; i += 2) {
      const auto high = HexDigit(frame[i]);
      const auto low = HexDigit(frame[i + 1]);
      if (!high || !low) return false;
      pdu.push_back(static_cast<std::uint8_t>(*high * 16 + *low));
    }
    if (!kx::AsciiChecksumOk(pdu)) return false;
    pdu.pop_back();
  } else {
    if (frame.size() < 4 || !kx::RtuChecksumOk(frame)) return false;
    pdu.assign(frame.begin(), frame.end() - 2);
  }

  const PcSettings pc = settings_();
  std::vector<Controller*> listeners;
  for (Controller* c : Controllers()) {
    if (c->format().form != form || !Understands(c->format(), pc)) continue;
    if (pdu[0] != 0 && pdu[0] != c->address()) continue;
    listeners.push_back(c);
  }
  for (Controller* c : listeners) {
    const LineFormat format = c->format();  // the answer leaves under the settings it was asked with
    auto answer = c->Handle(pdu, now);
    if (!answer || answer->empty()) continue;
    SimTime due = now + turnaround_;
    if (timing_) due += WireTime(frame.size() + answer->size(), format);
    Schedule(due, std::move(*answer));
  }
  return true;
}

}  // namespace kxsim
