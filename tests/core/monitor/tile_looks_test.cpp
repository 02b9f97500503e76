// Looks of the device tiles: outputs and alarm lamps per model, lamps lit by the
// status byte, PV/SV texts with status codes and decimal-point codes.
#include "core/monitor/tile_looks.h"

#include <gtest/gtest.h>

namespace kx::looks {
namespace {

struct OutputsCase {
  const char* name;
  OutputsInput in;
  bool out1Visible, out2Visible;
  Rgb out1Label, out1Bar, out2Label, out2Bar;
  bool alarm1, alarm2, alarm3;
};

TEST(TileLooks, OutputsAndAlarmsPerModel) {
  const OutputsCase cases[] = {
      {"KX1 heat", {kModelKx1, 0, 0, 0, 500, 0}, true, false, kRed, kFuchsia, kBlue, kSkyBlue,
       true, true, false},
      {"KX1 output 1 cools", {kModelKx1, 1, 0, 0, 500, 0}, true, false, kBlue, kSkyBlue, kRed,
       kFuchsia, true, true, false},
      {"KX2 cool: blue output 1, alarm 3 shown", {kModelKx2, 1, 0, 0, 0, 0}, true, false, kBlue,
       kSkyBlue, kRed, kFuchsia, true, true, true},
      {"KX2 heat/cool: output 2 shown, alarm 3 hidden", {kModelKx2, 2, 0, 0, 0, 0}, true, true,
       kRed, kFuchsia, kBlue, kSkyBlue, true, true, false},
      {"KX2 cool/heat: colours swapped", {kModelKx2, 3, 0, 0, 0, 0}, true, true, kBlue, kSkyBlue,
       kRed, kFuchsia, true, true, false},
      {"KX3 output 1 alarm: no bar, alarm 1 lamp", {kModelKx3, 0, 2, 1, 0, 0}, false, true, kBlue,
       kSkyBlue, kBlue, kSkyBlue, true, false, false},
      {"KX3 heat and alarm", {kModelKx3, 0, 0, 2, 0, 0}, true, false, kRed, kFuchsia, kBlue,
       kSkyBlue, false, true, false},
      {"KX3 retransmission is drawn as not-heat", {kModelKx3, 0, 3, 0, 0, 0}, true, true, kBlue,
       kSkyBlue, kRed, kFuchsia, false, false, false},
      {"unknown model shown like a KX2", {kModelUnknown, 0, 0, 0, 0, 0}, true, false, kRed,
       kFuchsia, kBlue, kSkyBlue, true, true, true},
  };
  for (const OutputsCase& c : cases) {
    SCOPED_TRACE(c.name);
    const OutputsLook look = ComputeOutputs(c.in);
    EXPECT_EQ(look.out[0].visible, c.out1Visible);
    EXPECT_EQ(look.out[1].visible, c.out2Visible);
    EXPECT_EQ(look.out[0].label, c.out1Label);
    EXPECT_EQ(look.out[0].bar, c.out1Bar);
    EXPECT_EQ(look.out[1].label, c.out2Label);
    EXPECT_EQ(look.out[1].bar, c.out2Bar);
    EXPECT_EQ(look.alarmVisible[0], c.alarm1);
    EXPECT_EQ(look.alarmVisible[1], c.alarm2);
    EXPECT_EQ(look.alarmVisible[2], c.alarm3);
  }
}

TEST(TileLooks, BarValuesStayInRangeAndHiddenBarsAreZero) {
  // A word above 1000 (or a negative one) must not leave the bar's range.
  OutputsLook look = ComputeOutputs({kModelKx2, 2, 0, 0, 1500, -20});
  EXPECT_EQ(look.out[0].value, kBarMax);
  EXPECT_EQ(look.out[1].value, 0);
  look = ComputeOutputs({kModelKx2, 2, 0, 0, 345, 678});
  EXPECT_EQ(look.out[0].value, 345);
  EXPECT_EQ(look.out[1].value, 678);
  look = ComputeOutputs({kModelKx1, 0, 0, 0, 345, 678});
  EXPECT_EQ(look.out[1].value, 0);
}

TEST(TileLooks, StatusByteLightsLamps) {
  LedLook none = ComputeLeds(0x00);
  EXPECT_EQ(none.unit, "EU");
  for (Rgb c : none.tileAlarm) EXPECT_EQ(c, kSilver);
  for (Rgb c : {none.at, none.out1, none.out2, none.degC, none.degF}) EXPECT_EQ(c, kGrey);
  for (Rgb c : none.alarm) EXPECT_EQ(c, kGrey);

  LedLook all = ComputeLeds(0xFF);
  EXPECT_EQ(all.unit, "C");  // C wins over F
  for (Rgb c : all.tileAlarm) EXPECT_EQ(c, kRed);
  for (Rgb c : all.alarm) EXPECT_EQ(c, kRed);
  EXPECT_EQ(all.degC, kYellow);
  EXPECT_EQ(all.degF, kYellow);
  EXPECT_EQ(all.at, kLime);
  EXPECT_EQ(all.out1, kLime);
  EXPECT_EQ(all.out2, kLime);

  // One bit at a time: alarm 1 is bit 4, alarm 2 bit 1, alarm 3 bit 0.
  LedLook alarm1 = ComputeLeds(0x10);
  EXPECT_EQ(alarm1.tileAlarm[0], kRed);
  EXPECT_EQ(alarm1.tileAlarm[1], kSilver);
  EXPECT_EQ(alarm1.alarm[0], kRed);
  LedLook alarm3 = ComputeLeds(0x01);
  EXPECT_EQ(alarm3.tileAlarm[2], kRed);
  EXPECT_EQ(alarm3.alarm[2], kRed);
  EXPECT_EQ(ComputeLeds(0x08).unit, "F");
  EXPECT_EQ(ComputeLeds(0x40).out1, kLime);
  EXPECT_EQ(ComputeLeds(0x40).out2, kGrey);
  EXPECT_EQ(ComputeLeds(0x80).at, kLime);

  // The KX1 byte 0x18, rearranged, lights degrees C and alarm 2.
  LedLook kx1 = ComputeLeds(Kx1StatusToNative(0x18));
  EXPECT_EQ(kx1.unit, "C");
  EXPECT_EQ(kx1.degC, kYellow);
  EXPECT_EQ(kx1.alarm[1], kRed);
  EXPECT_EQ(kx1.alarm[0], kGrey);
}

TEST(TileLooks, PvSvTexts) {
  struct Case {
    const char* name;
    std::uint8_t model;
    std::uint16_t pv, sv, kx1Status;
    int dp;
    const char* pvText;
    bool status;
    const char* svText;
  };
  const Case cases[] = {
      {"KX2 over range keeps SV", kModelKx2, 0x8005, 1000, 0, 1, "Over range", true, "100.0"},
      {"KX3 no connect", kModelKx3, 0x8003, 0, 0, 1, "No connect", true, "0.0"},
      {"KX2 rounded whole units", kModelKx2, 235, 240, 0, kDpRounded, "24", false, "24"},
      {"negative tenths", kModelKx2, 0xFF9C, 10, 0, 1, "- 10.0", false, "1.0"},
      {"KX1 status register", kModelKx1, 250, 300, 1, kDpRounded, "Waiting...", true, "30"},
      {"KX1 PV word 0x8005 is a value", kModelKx1, 0x8005, 0, 0, 0, "- 32763", false, "0"},
      {"status without text", kModelKx2, 0x8008, 0, 0, 1, "", true, "0.0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MonitorDevice dev;
    dev.model = c.model;
    dev.decimalPoint = c.dp;
    dev.rec.pv = c.pv;
    dev.rec.sv = c.sv;
    dev.rec.pvStatusCode = c.kx1Status;
    const PvSvLook look = ComputePvSv(dev);
    EXPECT_EQ(look.pv, c.pvText);
    EXPECT_EQ(look.pvStatus, c.status);
    EXPECT_EQ(look.sv, c.svText);
    EXPECT_EQ(look.tileFontPt, c.status ? 8 : 10);
    EXPECT_EQ(look.panelFontPt, c.status ? 14 : 32);
  }
}

TEST(TileLooks, ScaleMultipliesFirstAndTruncates) {
  EXPECT_EQ(Scale(22, 808), 22);
  EXPECT_EQ(Scale(22, 1280), 34);  // 28160 / 808 = 34.85
  EXPECT_EQ(Scale(32, 1920), 76);  // 61440 / 808 = 76.04
  EXPECT_EQ(Scale(1, 800), 0);
}

}  // namespace
}  // namespace kx::looks
