#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "core/ramp/program_table.h"

namespace kx {
namespace {

namespace fs = std::filesystem;

ProgramTable Sample() {
  ProgramTable t;
  t.start = 3;
  for (std::size_t p = 0; p < t.maxStep.size(); ++p) {
    t.maxStep[p] = static_cast<std::uint8_t>(p % 8);
    t.loops[p] = static_cast<std::uint8_t>(p * 10);
    t.link[p] = static_cast<std::uint8_t>((p + 1) % 9);
  }
  for (std::size_t k = 0; k < t.setValue.size(); ++k) {
    const int n = static_cast<int>(k);
    t.setValue[k] = static_cast<std::int16_t>(n * 37 - 900);
    t.time[k] = static_cast<std::uint16_t>(n * 14);
  }
  return t;
}

TEST(ProgramTextTest, CellsShowTheirDisplayForm) {
  EXPECT_EQ(SetValueText(-15), "-1.5");
  EXPECT_EQ(SetValueText(-5), "-0.5");
  EXPECT_EQ(SetValueText(1234), "123.4");
  EXPECT_EQ(SetValueText(-32768), "-3276.8");
  EXPECT_EQ(TimeText(90), "01:30");
  EXPECT_EQ(TimeText(0), "00:00");
  EXPECT_EQ(TimeText(900), "15:00");
  EXPECT_EQ(TimeText(65535), "1092:15");
  EXPECT_EQ(LinkText(3), "Pattern 3");
  EXPECT_EQ(LinkText(8), "Prog End");
}

TEST(ProgramStoreTest, EditedValuesFollowTheStoringRules) {
  struct Case {
    const char* text;
    bool stored;
    int value;
  };
  ProgramTable t;
  const Case loops[] = {{"250", true, 99}, {"7", true, 7}, {"-3", false, 7}, {"x1", false, 7}, {"99", true, 99}};
  for (const Case& c : loops) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(StoreLoopCount(t, 2, c.text), c.stored);
    EXPECT_EQ(t.loops[2], c.value);
  }
  const Case setValues[] = {{"12", true, 120},        {"12.3", true, 123},     {"-1.5", true, -15},
                            {"-1000.0", true, -10000}, {"-1000.1", false, -10000}, {"abc", false, -10000},
                            {"3276.7", true, 32767},   {"3276.8", false, 32767}};
  for (const Case& c : setValues) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(StoreSetValue(t, 9, c.text), c.stored);
    EXPECT_EQ(t.setValue[9], c.value);
  }
  EXPECT_EQ(TimeFromEditor(1, 30), 90);
  EXPECT_EQ(TimeFromEditor(15, 30), 900);  // hour 15 forces 15:00
  EXPECT_EQ(TimeFromEditor(14, 59), 899);
}

TEST(ProgramWriteTest, OneHundredFiftyThreeWritesInRegisterOrder) {
  ProgramTable t = Sample();
  t.setValue[0] = -15;
  EXPECT_EQ(RampWriteRegister(0), 0x4767);
  EXPECT_EQ(RampWriteRegister(kRampWrites - 1), 0x47FF);
  EXPECT_EQ(RampWriteValue(t, 0), 3);
  EXPECT_EQ(RampWriteValue(t, 1), t.maxStep[0]);
  EXPECT_EQ(RampWriteValue(t, 16), t.loops[7]);
  EXPECT_EQ(RampWriteValue(t, 17), t.link[0]);
  EXPECT_EQ(RampWriteRegister(25), 0x4780);
  EXPECT_EQ(RampWriteValue(t, 25), 0xFFF1);  // -1.5
  EXPECT_EQ(RampWriteValue(t, 26), t.time[0]);
  EXPECT_EQ(RampWriteValue(t, 151), static_cast<std::uint16_t>(t.setValue[63]));
  EXPECT_EQ(RampWriteValue(t, 152), t.time[63]);
}

TEST(ProgramWriteTest, ControllerImagesGiveBackTheTableTheWritesCarry) {
  const ProgramTable t = Sample();
  std::array<std::uint8_t, 256> parameters{};
  for (std::size_t n = 0; n < 25; ++n)
    parameters[231 + n] = static_cast<std::uint8_t>(RampWriteValue(t, static_cast<int>(n)));
  const StepImage steps = EncodeSteps(t);
  EXPECT_EQ(steps[0], static_cast<std::uint16_t>(t.setValue[0]) >> 8);
  EXPECT_EQ(steps[3], t.time[0] & 0xFF);
  EXPECT_EQ(TableFromController(parameters, steps), t);
}

class RampFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("kx_rs_" + std::to_string(::getpid()));
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  fs::path dir_;
};

TEST_F(RampFileTest, RoundTripAndRefusals) {
  const ProgramTable t = Sample();
  const fs::path path = dir_ / "p.r$s";
  ASSERT_TRUE(SaveRampFile(path, t));
  EXPECT_EQ(fs::file_size(path), 285U);
  ProgramTable loaded;
  EXPECT_EQ(LoadRampFile(path, loaded), RampLoad::Loaded);
  EXPECT_EQ(loaded, t);

  const auto good = RampFileBytes(t);
  EXPECT_EQ(good[280], 3);
  EXPECT_EQ(good[281], 0x55);
  EXPECT_EQ(good[284], 0x34);
  auto wrongSignature = std::vector<std::uint8_t>(good.begin(), good.end());
  wrongSignature[284] = 0x35;
  const std::vector<std::vector<std::uint8_t>> refused = {
      wrongSignature, {}, std::vector<std::uint8_t>(good.begin(), good.end() - 1),
      [&] { std::vector<std::uint8_t> v(good.begin(), good.end()); v.push_back(0); return v; }()};
  for (const auto& bytes : refused) {
    ProgramTable kept = Sample();
    kept.start = 6;
    EXPECT_EQ(ApplyRampFile(bytes, kept), RampLoad::BadContent);
    EXPECT_EQ(kept.start, 6);
  }
  EXPECT_EQ(LoadRampFile(dir_ / "none.r$s", loaded), RampLoad::OpenFailed);
  EXPECT_EQ(LoadRampFile(dir_, loaded), RampLoad::OpenFailed);
}

}  // namespace
}  // namespace kx
