// What the recorder's parts share: the ten device slots, the time of a
// sample, the value texts and the trace colours.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace kx::recorder {

inline constexpr int kSlots = 10;

// The error marker 0x80, 0xA5 of a dropped slot, held as the unsigned pattern:
// no signed 16-bit sample can equal it.
inline constexpr std::int32_t kErrorMarker = 0x80A5;

struct Slot {
  std::uint8_t address = 0;     // 0: no device (or dropped for the rest of the run)
  std::uint8_t boxAddress = 0;  // what the slot's address box holds
  bool display = true;          // the trace is drawn
  int failures = 0;             // failed requests in a row
  long dropPoint = -1;          // sample at which the slot was dropped; -1 while healthy
};
using Slots = std::array<Slot, kSlots>;

// Local time of a sample as the record keeps it (millisecond: low 8 bits).
struct SampleTime {
  std::uint8_t hour = 0;
  std::uint8_t minute = 0;
  std::uint8_t second = 0;
  std::uint8_t millisecond = 0;
  friend bool operator==(const SampleTime&, const SampleTime&) = default;
};

// 0xRRGGBB.
using Rgb = std::uint32_t;

// Trace and name-panel colour of a slot 0..9.
Rgb SlotColour(int slot);

// A value in tenths with one decimal: 253 -> "25.3", -5 -> "-0.5".
std::string TenthsText(int value);

// Timer interval of a sampling time setting (0 means half a second).
int SampleIntervalMs(int sampleTime);

// LoopCnt's text at a Start, a replay Stop and a file load.
inline constexpr const char* kCounterResetText = " 00000000";

// The counter shown in LoopCnt: a blank and at least seven digits (" 0000001").
std::string CounterText(long counter);

// Hour, minute and second without leading zeros ("9:5:7").
std::string ClockText(const SampleTime& time);

// The recorder window's one timer, shared by sampling, replay and delayed
// jumps: whoever starts it sets its interval.
class RecorderTimer {
 public:
  virtual ~RecorderTimer() = default;
  // (Re)starts the timer with the interval; a running timer starts its wait anew.
  virtual void StartTimer(int intervalMs) = 0;
  virtual void StopTimer() = 0;
};

}  // namespace kx::recorder
