// The live process of a simulated controller, driven by explicit instants:
// PV lag, outputs, alarms and status byte, stop, sensor break, a running
// program, parameter memory upload and download, restore default.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>

#include "core/modbus/codec.h"
#include "kxsim/controller.h"
#include "support/sim_line.h"

namespace kxsim {
namespace {

using namespace std::chrono_literals;
using kx::Bytes;

using test::Fmt;

// Talks to one controller directly (no line), RTU so answers are easy to read.
class LiveTest : public ::testing::Test {
 protected:
  std::unique_ptr<Controller> c;

  void Make(Model model, ControllerOptions options = {}) {
    c = std::make_unique<Controller>(model, 1, Fmt("9600-8N1-rtu"), options);
  }
  Bytes Call(const Bytes& pdu, SimTime now) { return c->Handle(pdu, now).value_or(Bytes{}); }
  std::uint16_t Read(std::uint16_t reg, SimTime now) {
    const Bytes a = Call(kx::ReadRequestPdu(1, 3, reg, 1), now);
    EXPECT_EQ(a.size(), 7U);
    return a.size() == 7 ? static_cast<std::uint16_t>(a[3] << 8 | a[4]) : 0xFFFF;
  }
  void Write(std::uint16_t reg, std::uint16_t value, SimTime now) {
    const Bytes pdu = kx::WriteRegisterPdu(1, reg, value);
    EXPECT_EQ(Call(pdu, now), kx::BuildRtuFrame(pdu)) << std::hex << reg;
  }
};

TEST_F(LiveTest, PvFollowsTheSetValueWithALagAndOutputsAlarmsAndStatusFollowPv) {
  Make(Model::Kx2);
  EXPECT_EQ(Read(0x4700, 0s), 253);  // the first request starts the clock
  Write(0x4701, 500, 0s);
  // After 20 s of a 30 s lag: 253 + 247 * (1 - e^(-2/3)) = 373, +-1 noise.
  EXPECT_NEAR(Read(0x4700, 20s), 373, 1);
  // Below SV and below alarm 1's high limit (40.0): output 1 full, output 2 off, no alarm.
  EXPECT_EQ(Read(0x4702, 20s), 1000);
  EXPECT_EQ(Read(0x4703, 20s), 0);
  EXPECT_EQ(Read(0x4728, 20s), 0x40 | 0x04) << "output 1 and degrees C";
  EXPECT_NEAR(Read(0x4700, 600s), 500, 1);
  const std::uint16_t status = Read(0x4728, 600s);
  EXPECT_TRUE(status & 0x10) << "alarm 1: PV above its high limit";
  EXPECT_FALSE(status & 0x02) << "alarm 2 (mode 0 by default) is off";
  EXPECT_FALSE(status & 0x40) << "output 1 off at SV";
}

TEST_F(LiveTest, StatusByteLayoutPerModel) {
  struct Case {
    Model model;
    std::uint16_t unitReg, alarm1High, statusReg;
    std::uint16_t expected;  // PV 25.3 under SV 30.0, alarm 1 high set to 20.0, unit F
  };
  const Case cases[] = {
      {Model::Kx1, 0x4717, 0x4702, 0x471C, 0x20 | 0x40 | 0x04},   // KX1: alarm 1 bit 5, out 1 bit 6, F bit 2
      {Model::Kx2, 0x4724, 0x4706, 0x4728, 0x10 | 0x40 | 0x08},   // native: alarm 1 bit 4, F bit 3
      {Model::Kx3, 0x4724, 0x4706, 0x4728, 0x10 | 0x40 | 0x08},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(ModelName(k.model));
    Make(k.model);
    Read(0x4700, 0s);
    Write(k.unitReg, 0, 0s);
    Write(k.alarm1High, 200, 0s);
    EXPECT_EQ(Read(k.statusReg, 1ms), k.expected);
  }
}

TEST_F(LiveTest, StoppedControllerCoolsDownAndSensorBreakSilencesOutputsAndAlarms) {
  Make(Model::Kx2);
  Read(0x4700, 0s);
  Write(0x4723, 0, 0s);  // stop
  Write(0x4702, 123, 0s);  // stopped: a manual output is kept
  EXPECT_EQ(Read(0x4702, 10s), 123);
  EXPECT_NEAR(Read(0x4700, 900s), 250, 1);

  Make(Model::Kx2);
  Read(0x4700, 0s);
  Write(0x4706, 100, 0s);  // alarm 1 high below PV
  c->SetPvStatus(3);
  EXPECT_EQ(Read(0x4700, 1s), 0x8003);
  EXPECT_EQ(Read(0x4728, 1s) & 0x73, 0) << "no output or alarm bits while the sensor is broken";
  c->SetPvStatus(0);
  EXPECT_NE(Read(0x4700, 2s) & 0xFF00, 0x8000);
}

TEST_F(LiveTest, HeldProcessKeepsWhatWasSetAndGoesOnFromItWhenReleased) {
  Make(Model::Kx2);
  c->HoldProcess(true);
  c->SetRegister(0x4700, 1234);
  c->SetRegister(0x4702, 450);
  c->SetRegister(0x4728, 0x14);
  c->SetProgramRunning(true);
  c->SetRegister(0x4763, 309);
  for (SimTime t : {SimTime(0s), SimTime(1s), SimTime(600s)}) {
    EXPECT_EQ(Read(0x4700, t), 1234);
    EXPECT_EQ(Read(0x4702, t), 450);
    EXPECT_EQ(Read(0x4728, t), 0x14);
    EXPECT_EQ(Read(0x4763, t), 309);
  }
  // Released: PV moves on from 123.4 towards SV 30.0 (a 30 s lag), the program counts down.
  c->HoldProcess(false);
  const std::uint16_t pv = Read(0x4700, 630s);
  EXPECT_LT(pv, 1234);
  EXPECT_GT(pv, 300 + (1234 - 300) / 3 - 2);
  const std::uint16_t left = Read(0x4763, 630s);
  EXPECT_EQ(Read(0x4763, 640s), left - 10);
}

TEST_F(LiveTest, RunningProgramCountsDownThroughItsSteps) {
  Make(Model::Kx3);
  // Pattern 0: steps 0 and 1 (max step 1), step 0 at 80.0 for 2 minutes, step 1 at 60.0 for 1 minute.
  Read(0x4700, 0s);
  Write(0x4768, 1, 0s);
  Write(0x4780, 800, 0s);
  Write(0x4781, 2, 0s);
  Write(0x4782, 600, 0s);
  Write(0x4783, 1, 0s);
  c->SetProgramRunning(true);
  EXPECT_EQ(Read(0x472B, 0s), 1);
  EXPECT_EQ(Read(0x4717, 0s) & 0x20, 0x20);
  EXPECT_EQ(Read(0x472C, 0s), 800);
  EXPECT_EQ(Read(0x4763, 30s), 90);   // seconds left
  EXPECT_EQ(Read(0x4764, 30s), 1);    // minutes left
  EXPECT_EQ(Read(0x4765, 130s), 1);   // step 1
  EXPECT_EQ(Read(0x4763, 130s), 50);
  EXPECT_EQ(Read(0x472C, 130s), 600);
  EXPECT_EQ(Read(0x4765, 185s), 0) << "end of the pattern: link 8 ends the program, which starts over";
  EXPECT_EQ(Read(0x4766, 185s), 0);
  c->SetProgramRunning(false);
  EXPECT_EQ(Read(0x472B, 190s), 0);
}

TEST_F(LiveTest, ParameterMemoryUploadsAndWritesBackThroughTheUploadRegister) {
  Make(Model::Kx2);
  std::array<std::uint8_t, 256> image{};
  for (int i = 0; i < 256; ++i) {
    const std::uint16_t v = Read(0x474C, 0s);
    image[v >> 8] = static_cast<std::uint8_t>(v & 0xFF);
  }
  EXPECT_EQ(image[24] << 8 | image[25], 300) << "word 24 is SV";
  EXPECT_EQ(image[12], 0x01) << "byte 12 holds the status bits with remote writing on";

  // A memory write needs the unlock before it, as every factory-protected write.
  EXPECT_EQ(Call(kx::WriteRegisterPdu(1, 0x474C, 25 << 8 | 0x90), 0s), kx::BuildRtuFrame(Bytes{1, 0x86, 0x04}));
  Write(0x472A, 0x4F1D, 0s);
  Write(0x474C, 25 << 8 | 0x90, 0s);
  EXPECT_EQ(Read(0x4701, 0s), 0x0190);

  // Restore default brings the set value back.
  Write(0x474E, 0x4F1D, 0s);
  EXPECT_EQ(Read(0x4701, 0s), 300);

  // The step image: step 1's set value in bytes 4 and 5.
  Write(0x4782, 0xFFF1, 0s);
  std::array<std::uint8_t, 256> steps{};
  for (int i = 0; i < 256; ++i) {
    const std::uint16_t v = Read(0x474D, 0s);
    steps[v >> 8] = static_cast<std::uint8_t>(v & 0xFF);
  }
  EXPECT_EQ(steps[4], 0xFF);
  EXPECT_EQ(steps[5], 0xF1);
}

TEST_F(LiveTest, Kx3OptionsSetSecurityAndOutputFunctions) {
  ControllerOptions options;
  options.security = 0x27;
  options.output1Function = 2;
  options.output2Function = 3;
  Make(Model::Kx3, options);
  EXPECT_EQ(Read(0x4751, 0s), 0x27);
  EXPECT_EQ(Read(0x471A, 0s), 2);
  EXPECT_EQ(Read(0x471F, 0s), 3);
}

}  // namespace
}  // namespace kxsim
