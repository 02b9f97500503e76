#include "kxsim/faults.h"

#include <algorithm>
#include <charconv>

namespace kxsim {

namespace {

struct NoiseName {
  NoiseKind kind;
  std::string_view name;
};
constexpr NoiseName kNoiseNames[] = {
    {NoiseKind::Off, "off"}, {NoiseKind::WithLineFeeds, "lf"}, {NoiseKind::NoLineFeeds, "nolf"}};

std::uint32_t XorShift(std::uint32_t& state) {
  state ^= state << 13;
  state ^= state >> 17;
  state ^= state << 5;
  return state;
}

}  // namespace

std::optional<NoiseSetting> ParseNoiseSetting(std::string_view text) {
  NoiseSetting setting;
  const auto colon = text.find(':');
  if (colon != std::string_view::npos) {
    const std::string_view rate = text.substr(colon + 1);
    int value = 0;
    const auto [ptr, ec] = std::from_chars(rate.data(), rate.data() + rate.size(), value);
    if (rate.empty() || ec != std::errc() || ptr != rate.data() + rate.size()) return std::nullopt;
    if (value < 1 || value > kMaxNoiseRate) return std::nullopt;
    setting.bytesPerSecond = value;
    text = text.substr(0, colon);
  }
  for (const auto& entry : kNoiseNames) {
    if (entry.name == text) {
      setting.kind = entry.kind;
      return setting;
    }
  }
  return std::nullopt;
}

std::string ToString(const NoiseSetting& setting) {
  for (const auto& entry : kNoiseNames) {
    if (entry.kind == setting.kind) {
      if (setting.kind == NoiseKind::Off) return std::string(entry.name);
      return std::string(entry.name) + ":" + std::to_string(setting.bytesPerSecond);
    }
  }
  return "?";
}

void LineNoise::Set(const NoiseSetting& setting) {
  setting_ = setting;
  next_.reset();
  owed_ = 0.0;
}

std::optional<SimTime> LineNoise::NextDue() const {
  if (!IsOn()) return std::nullopt;
  return next_.value_or(SimTime{0});
}

std::uint8_t LineNoise::NextByte() {
  if (lineFeedNext_) {
    lineFeedNext_ = false;
    sinceLineFeed_ = 0;
    return '\n';
  }
  if (setting_.kind == NoiseKind::WithLineFeeds && sinceLineFeed_ >= lineLength_) {
    lineFeedNext_ = true;
    lineLength_ = 6 + static_cast<int>(XorShift(random_) % 16);
    return '\r';
  }
  ++sinceLineFeed_;
  const auto byte = static_cast<std::uint8_t>(XorShift(random_) >> 11);
  return byte == '\n' ? std::uint8_t{0x0B} : byte;  // line feeds only where placed above
}

void LineNoise::Take(SimTime now, kx::Bytes& out) {
  if (!IsOn()) return;
  if (!next_) next_ = now;
  if (now < *next_) return;
  if (now - *next_ > kPeriod) next_ = now;  // stalled: no backlog
  owed_ += setting_.bytesPerSecond * (static_cast<double>(kPeriod.count()) / 1e6);
  const int count = static_cast<int>(owed_);
  owed_ -= count;
  for (int i = 0; i < count; ++i) out.push_back(NextByte());
  *next_ += kPeriod;
}

kx::Bytes GarbledAnswer(kx::FrameForm form, std::span<const std::uint8_t> frame) {
  std::uint32_t state = 0x9E3779B9U;
  for (std::uint8_t b : frame) state = (state ^ b) * 0x01000193U;
  if (state == 0) state = 1;
  kx::Bytes out;
  if (form == kx::FrameForm::Ascii) {
    // ':' + printable characters that are no hexadecimal digits + CR LF.
    constexpr std::string_view kChars = "GHIJKLMNOPQRSTUVWXYZghijklmnopqrstuvwxyz#%&*+-/<=>?@";
    out.push_back(':');
    const std::size_t body = frame.size() >= 3 ? frame.size() - 3 : 0;
    for (std::size_t i = 0; i < body; ++i) out.push_back(static_cast<std::uint8_t>(kChars[XorShift(state) % kChars.size()]));
    out.push_back('\r');
    out.push_back('\n');
    return out;
  }
  out.assign(frame.begin(), frame.end());
  for (auto& b : out) b = static_cast<std::uint8_t>(XorShift(state) >> 7);
  if (out.size() >= 4 && kx::RtuChecksumOk(out)) out.back() ^= 0x5A;
  return out;
}

}  // namespace kxsim
