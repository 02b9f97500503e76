// Looks of the monitor's device tiles and front-panel picture: which output
// bars and alarm lamps a controller shows, in which colours, and how the status
// byte lights the lamps. Plain data in, plain data out, so the rules run and are
// tested without widgets; the monitor window only copies the result onto its
// controls.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "core/monitor/monitor_engine.h"
#include "core/device/regmap.h"

namespace kx::looks {

struct Rgb {
  std::uint8_t r = 0;
  std::uint8_t g = 0;
  std::uint8_t b = 0;
  friend constexpr bool operator==(Rgb, Rgb) = default;
};

inline constexpr Rgb kBlack{0x00, 0x00, 0x00};
inline constexpr Rgb kWhite{0xFF, 0xFF, 0xFF};
inline constexpr Rgb kGrey{0x80, 0x80, 0x80};
inline constexpr Rgb kSilver{0xC0, 0xC0, 0xC0};
inline constexpr Rgb kRed{0xFF, 0x00, 0x00};
inline constexpr Rgb kLime{0x00, 0xFF, 0x00};
inline constexpr Rgb kGreen{0x00, 0x80, 0x00};
inline constexpr Rgb kYellow{0xFF, 0xFF, 0x00};
inline constexpr Rgb kBlue{0x00, 0x00, 0xFF};
inline constexpr Rgb kNavy{0x00, 0x00, 0x80};
inline constexpr Rgb kTeal{0x00, 0x80, 0x80};
inline constexpr Rgb kFuchsia{0xFF, 0x00, 0xFF};
inline constexpr Rgb kSkyBlue{0xA6, 0xCA, 0xF0};
inline constexpr Rgb kMoneyGreen{0xC0, 0xDC, 0xC0};
inline constexpr Rgb kCream{0xFF, 0xFB, 0xF0};

// Colour of a tile's run lamp: grey, lime, red, yellow or blue.
Rgb RunLampColour(kx::RunLamp lamp);

// Bars hold 0..1000 (tenths of a percent).
inline constexpr int kBarMax = 1000;

struct OutputLook {
  bool visible = false;
  Rgb label = kRed;  // background of the "Out1"/"Out2" label
  Rgb bar = kFuchsia;
  int value = 0;     // clamped to 0..kBarMax
};

struct OutputsLook {
  std::array<OutputLook, 2> out{};
  std::array<bool, 3> alarmVisible{};  // alarm 1..3 lamp and label
};

// The device values the output and alarm looks depend on.
struct OutputsInput {
  std::uint8_t model = kx::kModelKx2;
  int heatCool = 0;      // heat/cool value (KX1: 1 when output 1 cools)
  int out1Function = 0;  // KX3: 0 heat, 1 cool, 2 alarm, 3 retransmission
  int out2Function = 0;  // KX3: 0 heat, 1 cool, 2 alarm
  int out1 = 0;          // tenths of a percent
  int out2 = 0;
};

// Visibility and colours of both outputs and the alarm lamps. A controller of
// unknown model is shown like a KX2.
OutputsLook ComputeOutputs(const OutputsInput& in);

// Lamps lit by a status byte in the native layout (the KX1 byte rearranged).
struct LedLook {
  std::array<Rgb, 3> tileAlarm{};  // alarm 1..3 lamps of the tile: red or silver
  std::string unit;                // "C", "F" or "EU"
  // Front-panel picture: red, yellow or lime when lit, grey when not.
  Rgb at = kGrey;
  Rgb out1 = kGrey;
  Rgb out2 = kGrey;
  std::array<Rgb, 3> alarm{};  // alarm 1..3
  Rgb degC = kGrey;
  Rgb degF = kGrey;
};
LedLook ComputeLeds(std::uint8_t nativeStatus);

// PV and SV texts of a device after a PV/SV poll: a non-zero PV status shows
// its status text (in the smaller font, centred on the front panel) instead of
// the value; both values are shown with the device's decimal-point code.
struct PvSvLook {
  std::string pv;
  bool pvStatus = false;
  std::string sv;
  int tileFontPt = 10;   // PV field of the tile: 8 for a status text
  int panelFontPt = 32;  // `PVDisp`: 14 for a status text
};
PvSvLook ComputePvSv(const kx::MonitorDevice& device);

// Scales a design measure by width / 808, multiplying first and truncating
// toward zero, the way every control of the monitor is sized.
inline constexpr int kDesignWidth = 808;
constexpr int Scale(int design, int width) { return design * width / kDesignWidth; }

}  // namespace kx::looks
