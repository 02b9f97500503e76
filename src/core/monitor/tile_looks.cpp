#include "core/monitor/tile_looks.h"

#include <algorithm>

namespace kx::looks {

Rgb RunLampColour(kx::RunLamp lamp) {
  switch (lamp) {
    case RunLamp::Good: return kLime;
    case RunLamp::Failed: return kRed;
    case RunLamp::ReadingParameters: return kYellow;
    case RunLamp::ReadingFactory: return kBlue;
    case RunLamp::Off: break;
  }
  return kGrey;
}

namespace {

constexpr OutputLook kHeatLook{true, kRed, kFuchsia, 0};
constexpr OutputLook kCoolLook{true, kBlue, kSkyBlue, 0};

int ClampBar(int value) { return std::clamp(value, 0, kBarMax); }

}  // namespace

OutputsLook ComputeOutputs(const OutputsInput& in) {
  OutputsLook look;
  if (in.model == kModelKx3) {
    // Each output is coloured by its own function; an output that drives an
    // alarm shows no bar but lights its alarm lamp instead.
    look.out[0] = in.out1Function == 0 ? kHeatLook : kCoolLook;
    look.out[1] = in.out2Function == 0 ? kHeatLook : kCoolLook;
    look.out[0].visible = in.out1Function != 2;
    look.out[1].visible = in.out2Function != 2;
    look.alarmVisible = {in.out1Function == 2, in.out2Function == 2, false};
  } else {
    // Bit 0 of the heat/cool value says output 1 cools: the pairs swap colours.
    const bool swapped = (in.heatCool & 1) != 0;
    look.out[0] = swapped ? kCoolLook : kHeatLook;
    look.out[1] = swapped ? kHeatLook : kCoolLook;
    look.out[0].visible = true;
    if (in.model == kModelKx1) {
      look.out[1].visible = false;
      look.alarmVisible = {true, true, false};
    } else {
      // Heat/cool value 2 or 3 uses output 2; 0 or 1 leaves it for alarm 3.
      const bool dual = in.heatCool == 2 || in.heatCool == 3;
      look.out[1].visible = dual;
      look.alarmVisible = {true, true, !dual};
    }
  }
  look.out[0].value = look.out[0].visible ? ClampBar(in.out1) : 0;
  look.out[1].value = look.out[1].visible ? ClampBar(in.out2) : 0;
  return look;
}

LedLook ComputeLeds(std::uint8_t status) {
  auto bit = [status](int n) { return (status >> n & 1) != 0; };
  auto lit = [&](int n, Rgb on) { return bit(n) ? on : kGrey; };
  LedLook look;
  look.tileAlarm = {bit(4) ? kRed : kSilver, bit(1) ? kRed : kSilver, bit(0) ? kRed : kSilver};
  look.unit = bit(2) ? "C" : bit(3) ? "F" : "EU";
  look.alarm = {lit(4, kRed), lit(1, kRed), lit(0, kRed)};
  look.degC = lit(2, kYellow);
  look.degF = lit(3, kYellow);
  look.out2 = lit(5, kLime);
  look.out1 = lit(6, kLime);
  look.at = lit(7, kLime);
  return look;
}

PvSvLook ComputePvSv(const kx::MonitorDevice& device) {
  PvSvLook look;
  const std::uint16_t status = kx::PvStatus(device.model, device.rec.pv, device.rec.pvStatusCode);
  look.pvStatus = status != 0;
  if (look.pvStatus) {
    look.pv = std::string(kx::PvStatusText(status));
    look.tileFontPt = 8;
    look.panelFontPt = 14;
  } else {
    look.pv = kx::ValueText(device.rec.pv, device.decimalPoint);
  }
  look.sv = kx::ValueText(device.rec.sv, device.decimalPoint);
  return look;
}

}  // namespace kx::looks
