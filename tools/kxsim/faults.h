// Faults of the simulated line beyond a controller's own answer faults:
// continuous noise on the line (with or without line feeds in it) and the
// garbled answer of a controller with the `garbage` fault. Each one stands for
// a bad day on a real line: a failing transceiver, a noisy RS-485 pair.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "core/modbus/codec.h"
#include "kxsim/sim_time.h"

namespace kxsim {

enum class NoiseKind {
  Off,
  WithLineFeeds,  // "lf": random bytes with CR LF every few bytes (an ASCII receiver sees bad frames)
  NoLineFeeds,    // "nolf": random bytes, never an LF (an ASCII frame never ends)
};

struct NoiseSetting {
  NoiseKind kind = NoiseKind::Off;
  int bytesPerSecond = 200;
  friend bool operator==(const NoiseSetting&, const NoiseSetting&) = default;
};

inline constexpr int kMaxNoiseRate = 10000;

// "off", "lf", "nolf", optionally with ":RATE" (bytes per second, 1 to 10000).
std::optional<NoiseSetting> ParseNoiseSetting(std::string_view text);
std::string ToString(const NoiseSetting& setting);

// Continuous noise towards the PC: a few bytes every 10 ms at the set rate,
// for as long as it is on, whatever the controllers do. Deterministic: the
// same setting gives the same bytes.
class LineNoise {
 public:
  // Takes effect at the next Take (no instant is known here).
  void Set(const NoiseSetting& setting);
  const NoiseSetting& setting() const { return setting_; }
  bool IsOn() const { return setting_.kind != NoiseKind::Off; }

  // When the next bytes are due (at once after Set), or nothing while off.
  std::optional<SimTime> NextDue() const;
  // Appends the bytes due by `now`. A clock that jumped ahead (a stalled
  // transport) gets one chunk, not the whole backlog.
  void Take(SimTime now, kx::Bytes& out);

  static constexpr SimTime kPeriod{10'000};

 private:
  std::uint8_t NextByte();

  NoiseSetting setting_;
  std::optional<SimTime> next_;  // unset: start at the next Take
  std::uint32_t random_ = 0x2545F491U;
  double owed_ = 0.0;  // fractional bytes carried to the next chunk
  int sinceLineFeed_ = 0;
  int lineLength_ = 12;  // bytes before the next CR LF ("lf" noise)
  bool lineFeedNext_ = false;
};

// The answer a controller with the garbage fault sends instead of `frame`: as
// long as the real one, in the same form, but no valid frame (ASCII: ':' then
// characters that are no hexadecimal digits, then CR LF; RTU: the bytes
// scrambled so the CRC fails). Deterministic for a given frame.
kx::Bytes GarbledAnswer(kx::FrameForm form, std::span<const std::uint8_t> frame);

}  // namespace kxsim
