#include "core/recorder/recorder_types.h"

#include <cstdio>
#include <cstdlib>

namespace kx::recorder {

Rgb SlotColour(int slot) {
  static constexpr std::array<Rgb, kSlots> kColours = {
      0x808000,  // olive
      0x000080,  // navy
      0x800080,  // purple
      0x008080,  // teal
      0x808080,  // grey
      0x0000FF,  // blue
      0x800000,  // maroon
      0x008000,  // green
      0xA0A0A4,  // medium grey
      0xA6CAF0,  // sky blue
  };
  return slot >= 0 && slot < kSlots ? kColours[static_cast<std::size_t>(slot)] : 0;
}

std::string TenthsText(int value) {
  const int magnitude = std::abs(value);
  std::string text = value < 0 ? "-" : "";
  text += std::to_string(magnitude / 10);
  text += '.';
  text += std::to_string(magnitude % 10);
  return text;
}

int SampleIntervalMs(int sampleTime) { return sampleTime == 0 ? 500 : sampleTime * 1000; }

std::string CounterText(long counter) {
  char text[32];
  std::snprintf(text, sizeof text, " %07ld", counter);
  return text;
}

std::string ClockText(const SampleTime& time) {
  return std::to_string(time.hour) + ":" + std::to_string(time.minute) + ":" +
         std::to_string(time.second);
}

}  // namespace kx::recorder
