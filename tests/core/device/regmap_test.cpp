#include "core/device/regmap.h"

#include <gtest/gtest.h>

#include <climits>
#include <initializer_list>
#include <utility>
#include <vector>

namespace kx {
namespace {

TEST(RegMap, RequestBlocksPerModelAndSecurityMode) {
  struct Case {
    int type;
    std::uint8_t model;
    std::uint8_t mode;
    std::optional<RegBlock> block;
  };
  const std::vector<Case> cases{
      {0, kModelKx1, 0, RegBlock{0x0012, 3, kFnIdentify}},
      {0, kModelUnknown, 0, RegBlock{0x0012, 3, kFnIdentify}},
      {1, kModelKx1, 0, RegBlock{0x470F, 2}},
      {1, kModelKx2, 0, RegBlock{0x4724, 2}},
      {1, kModelKx3, 1, RegBlock{0x4751, 1}},
      {2, kModelKx3, 8, RegBlock{0x471A, 6}},
      {2, kModelKx3, 2, RegBlock{0x4728, 1}},
      {3, kModelKx2, 0, RegBlock{0x4700, 4}},
      {3, kModelKx3, 1, RegBlock{0x4700, 2}},
      {4, kModelKx1, 0, RegBlock{0x4718, 8}},
      {6, kModelKx2, 0, RegBlock{0x4723, 7}},
      {6, kModelKx3, 4, RegBlock{0x4723, 6}},
      {8, kModelKx1, 0, RegBlock{0x4762, 5}},
      {10, kModelKx1, 0, RegBlock{0x4731, 1}},
      {14, kModelKx3, 8, RegBlock{0x4701, 7}},
      {20, kModelKx1, 0, RegBlock{0x4720, 8}},
      {20, kModelKx2, 0, RegBlock{0x4730, 7}},
      {21, kModelKx1, 0, std::nullopt},
      {21, kModelKx3, 4, RegBlock{0x4737, 2}},
      {10, kModelKx3, 2, std::nullopt},
      // An unknown model has no status blocks; its pages are a KX2's.
      {1, kModelUnknown, 0, std::nullopt},
      {7, kModelUnknown, 0, std::nullopt},
      {8, kModelUnknown, 0, RegBlock{0x4762, 5}},
      {11, kModelUnknown, 0, RegBlock{0x4710, 8}},
      // Types never sent in normal operation.
      {9, kModelKx2, 0, RegBlock{0x4700, 2}},
      {17, kModelKx1, 0, RegBlock{0x4700, 2}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "type " << c.type << " model " << int{c.model} << " mode " << int{c.mode});
    EXPECT_EQ(RequestBlock(c.type, c.model, c.mode), c.block);
  }
}

TEST(RegMap, IdentifiesModels) {
  const std::vector<std::uint16_t> kx2{2, 0x0001, 0};
  const std::vector<std::uint16_t> kx3{2, 0x1202, 0};  // only the low byte is the index
  const std::vector<std::uint16_t> notTwo{3, 1, 0};
  const std::vector<std::uint16_t> badIndex{2, 5, 0};
  EXPECT_EQ(IdentifyModel(kFnIdentify, kx2), kModelKx2);
  EXPECT_EQ(IdentifyModel(kFnIdentify, kx3), kModelKx3);
  EXPECT_EQ(IdentifyModel(kFnIdentify, notTwo), kModelUnknown);
  EXPECT_EQ(IdentifyModel(kFnIdentify, badIndex), kModelUnknown);
  EXPECT_EQ(IdentifyModel(kFnIdentify, std::span<const std::uint16_t>{}), kModelUnknown);
  EXPECT_EQ(IdentifyModel(kFnKx1Identify, notTwo), kModelKx1);
  EXPECT_EQ(IdentifyModel(kFnIdentifyError, std::span<const std::uint16_t>{}), kModelKx1);
}

TEST(RegMap, DecimalPointCodes) {
  for (std::uint16_t t : std::initializer_list<std::uint16_t>{1, 3, 5, 11, 12, 14, 15})
    EXPECT_EQ(Kx1DecimalPoint(t), 1) << t;
  for (std::uint16_t t : std::initializer_list<std::uint16_t>{0, 2, 4, 13, 16, 18})
    EXPECT_EQ(Kx1DecimalPoint(t), kDpRounded) << t;
  EXPECT_EQ(Kx2DecimalPoint(0, 0), kDpRounded);
  EXPECT_EQ(Kx2DecimalPoint(1, 0), kDpRounded);
  EXPECT_EQ(Kx2DecimalPoint(2, 0), 0);
  EXPECT_EQ(Kx2DecimalPoint(1, 2), 2);
}

// The decimal point follows the registers read or queued: the block must hold
// the model's own registers, and a KX3 only rounds a whole-unit code.
TEST(RegMap, DecimalPointFollowsTheRegistersThatSetIt) {
  struct Case {
    const char* name;
    std::uint8_t model;
    int current;
    RegBlock changed;
    std::vector<std::pair<std::uint16_t, std::uint16_t>> words;  // register, value
    int expected;
  };
  const Case cases[] = {
      {"KX1 page 11: input type 3", kModelKx1, kDpRounded, {0x4710, 8}, {{0x4710, 3}}, 1},
      {"KX1 page 11: input type 2", kModelKx1, 1, {0x4710, 8}, {{0x4710, 2}}, kDpRounded},
      {"KX1 factory page holds 0x4724, not its point", kModelKx1, 1, {0x4720, 8}, {{0x4724, 0}}, 1},
      {"KX1 queued input type", kModelKx1, kDpRounded, {0x4710, 1}, {{0x4710, 11}}, 1},
      {"KX2 page 10", kModelKx2, 1, {0x4720, 8}, {{0x4724, 2}, {0x4725, 3}}, 3},
      {"KX2 page 10, whole with a temperature unit", kModelKx2, 1, {0x4720, 8}, {{0x4724, 1}, {0x4725, 0}},
       kDpRounded},
      {"KX2 queued code with the unit as read", kModelKx2, 1, {0x4725, 1}, {{0x4724, 2}, {0x4725, 0}}, 0},
      {"KX2 queued unit with the code as read", kModelKx2, 0, {0x4724, 1}, {{0x4724, 0}, {0x4725, 0}},
       kDpRounded},
      {"KX2 page 11 leaves it", kModelKx2, 2, {0x4710, 8}, {{0x4724, 0}, {0x4725, 0}}, 2},
      {"KX3 whole units rounded with a temperature unit", kModelKx3, 0, {0x4720, 8}, {{0x4724, 1}}, kDpRounded},
      {"KX3 whole units kept with another unit", kModelKx3, 0, {0x4720, 8}, {{0x4724, 2}}, 0},
      {"KX3 chosen code kept", kModelKx3, 2, {0x4720, 8}, {{0x4724, 0}, {0x4725, 1}}, 2},
  };
  for (const Case& c : cases) {
    ParameterWords page{};
    for (const auto& [reg, value] : c.words) page[reg - kParameterFirst] = value;
    EXPECT_EQ(DecimalPointAfter(c.model, c.current, c.changed, page), c.expected) << c.name;
  }
}

TEST(RegMap, ValueDisplay) {
  struct Case {
    std::int32_t v;
    int code;
    const char* text;
  };
  const std::vector<Case> cases{
      {235, kDpRounded, "24"}, {234, kDpRounded, "23"}, {235, 0, "235"},
      {0xFF9C, 1, "- 10.0"},   {1234, 2, "12.34"},      {5, 2, "0.05"},
      {1005, 3, "1.005"},      {-15, 1, "- 1.5"},       {0x8000, 0, "- 32768"},
      {INT32_MIN, 0, "- 2147483648"}, {INT32_MIN, 1, "- 214748364.8"},
      {0x7FFF, 0, "32767"},    {100, 4, ""},            {0xFFFF, kDpRounded, "- 0"},
  };
  for (const auto& c : cases) EXPECT_EQ(ValueText(c.v, c.code), c.text) << c.v << " code " << c.code;
}

TEST(RegMap, Kx1StatusByteRearrangedAndUnit) {
  const std::uint8_t native = Kx1StatusToNative(0x18);  // KX1 bits 3 and 4
  EXPECT_TRUE(StatusBit(native, statusbit::kUnitC));
  EXPECT_TRUE(StatusBit(native, statusbit::kAlarm2));
  EXPECT_EQ(native, 0x06);
  EXPECT_EQ(Kx1StatusToNative(0x02), 0x00);  // bit 1 dropped
  EXPECT_EQ(Kx1StatusToNative(0x20), 0x30);  // bit 5: alarm 1 and output 2
  EXPECT_EQ(Kx1StatusToNative(0xC1), 0xC1);
  EXPECT_EQ(Kx1StatusToNative(0x04), 0x08);  // KX1 bit 2 is F
  EXPECT_EQ(UnitText(0x04), "C");
  EXPECT_EQ(UnitText(0x08), "F");
  EXPECT_EQ(UnitText(0x00), "EU");
}

TEST(RegMap, PvStatus) {
  EXPECT_EQ(PvStatusText(PvStatus(kModelKx2, 0x8003, 0)), "No connect");
  EXPECT_EQ(PvStatusText(PvStatus(kModelKx3, 0x8005, 0)), "Over range");
  EXPECT_EQ(PvStatus(kModelKx2, 0x8103, 0), 0);   // high byte not exactly 0x80
  EXPECT_EQ(PvStatus(kModelKx2, 0x8000, 0), 0x8000);  // a status, with no text
  EXPECT_EQ(PvStatusText(0x8000), "");
  EXPECT_EQ(PvStatus(kModelKx1, 0x8003, 0), 0);    // KX1 uses its status register
  EXPECT_EQ(PvStatus(kModelKx1, 100, 7), 7);
  const std::vector<std::pair<int, const char*>> texts{
      {1, "Waiting..."}, {2, "Waiting..."}, {3, "No connect"},  {4, "Input error"},
      {5, "Over range"}, {6, "Input error"}, {7, "Memory fail"}, {8, ""}, {15, ""}};
  for (const auto& [code, text] : texts) EXPECT_EQ(PvStatusText(static_cast<std::uint16_t>(code)), text);
}

TEST(RegMap, Kx3SecurityWord) {
  const auto s27 = DecodeKx3Security(0x27);
  EXPECT_EQ(s27.keyBits, 7);
  EXPECT_EQ(s27.mode, 4);
  EXPECT_TRUE(Kx3FullPoll(s27.mode));
  EXPECT_FALSE(Kx3Editable(s27.mode));
  EXPECT_TRUE(Kx3Editable(DecodeKx3Security(0x47).mode));
  const std::vector<std::tuple<std::uint8_t, int, int, bool>> modes{
      // mode, SLevel item, LockStatus item, upload allowed
      {1, 3, 1, false}, {2, 2, 2, false}, {4, 1, 2, true}, {8, 0, 0, true}, {0, 0, 0, false}};
  for (const auto& [m, level, lock, upload] : modes) {
    EXPECT_EQ(Kx3SecurityLevelItem(m), level) << int{m};
    EXPECT_EQ(Kx3LockStatusItem(m), lock) << int{m};
    EXPECT_EQ(Kx3UploadAllowed(m), upload) << int{m};
  }
}

TEST(RegMap, Texts) {
  EXPECT_EQ(FirmwareVersionText(0x0105), "F/W Version 1.05");
  EXPECT_EQ(FirmwareVersionText(0x0A2F), "F/W Version 10.2F");
  EXPECT_EQ(ProgramDisplayText({0, 0, 0, 5, 3}, 0, 1), "03-05");
  EXPECT_EQ(ProgramDisplayText({2, 309, 65, 0, 0}, 0, 1), "01:05:09");
  EXPECT_EQ(ProgramDisplayText({1, 0, 0, 0, 0}, 1234, 1), "123.4");
  EXPECT_EQ(ProgramDisplayText({3, 0, 0, 0, 0}, 1234, 1), "");
  EXPECT_EQ(ModelName(kModelKx3), "KX3");
  EXPECT_EQ(UnlockRegister(kModelKx1), 0x471B);
  EXPECT_EQ(UnlockRegister(kModelKx3), 0x472A);
  EXPECT_EQ(UploadRegister(kModelKx1), 0x472F);
  EXPECT_EQ(UploadRegister(kModelKx2), 0x474C);
  EXPECT_TRUE(FactoryProtected(kModelKx1, 0x4714));
  EXPECT_FALSE(FactoryProtected(kModelKx1, 0x4701));
  EXPECT_TRUE(FactoryProtected(kModelKx2, 0x471D));
  EXPECT_FALSE(FactoryProtected(kModelKx2, 0x4714));
}

TEST(RegMap, DecodesKx1StatusPolls) {
  DeviceRecord rec;
  // Type 4: heat/cool, run/stop, com-write, firmware, status byte, flags, output 1 %, cold junction.
  const std::vector<std::uint16_t> w4{1, 1, 1, 0x0320, 0x18, 0x0001, 45, 253};
  auto fx = DecodePoll(4, kModelKx1, w4, true, rec);
  EXPECT_EQ(rec.heatCool, 1);
  EXPECT_EQ(rec.runStop, 1);
  EXPECT_EQ(rec.comWrite, 1);
  EXPECT_EQ(rec.firmwareVersion, 0x0320);
  EXPECT_EQ(rec.statusByte, 0x06);  // rearranged
  EXPECT_EQ(rec.out1, 450);         // whole percent kept in tenths
  EXPECT_EQ(rec.coldJunction, 253);
  EXPECT_TRUE(fx.statusByteRead);
  EXPECT_TRUE(fx.refresh);  // run/stop changed on the selected device
  fx = DecodePoll(4, kModelKx1, w4, true, rec);
  EXPECT_FALSE(fx.refresh);  // nothing changed, flags bit 0 set
  const std::vector<std::uint16_t> flagsClear{1, 1, 1, 0x0320, 0x18, 0x0000, 45, 253};
  EXPECT_TRUE(DecodePoll(4, kModelKx1, flagsClear, true, rec).refresh);
  EXPECT_FALSE(DecodePoll(4, kModelKx1, flagsClear, false, rec).refresh);

  // Type 1: heat/cool from bit 2, decimal point from the input type.
  const std::vector<std::uint16_t> w1{0x0004, 3};
  fx = DecodePoll(1, kModelKx1, w1, false, rec);
  EXPECT_EQ(rec.heatCool, 1);
  EXPECT_TRUE(fx.decimalPointSet);
  EXPECT_EQ(fx.decimalPoint, 1);
}

TEST(RegMap, DecodesKx2AndKx3StatusPolls) {
  DeviceRecord rec;
  const std::vector<std::uint16_t> w2{0x0021, 0, 0, 2};  // com-write and program running
  DecodePoll(2, kModelKx2, w2, false, rec);
  EXPECT_EQ(rec.comWrite, 1);
  EXPECT_EQ(rec.programRunning, 1);
  EXPECT_EQ(rec.heatCool, 2);

  const std::vector<std::uint16_t> w3{250, 300, 455, 12};
  DecodePoll(3, kModelKx2, w3, false, rec);
  EXPECT_EQ(rec.pv, 250);
  EXPECT_EQ(rec.sv, 300);
  EXPECT_EQ(rec.out1, 455);
  EXPECT_EQ(rec.out2, 12);

  // Type 6 on the selected device: run/stop (w0) and auto-tuning (w4) changes refresh.
  const std::vector<std::uint16_t> w6{1, 0, 0, 0, 0, 0x40, 0x0001};
  EXPECT_TRUE(DecodePoll(6, kModelKx2, w6, true, rec).refresh);
  EXPECT_EQ(rec.statusByte, 0x40);
  EXPECT_FALSE(DecodePoll(6, kModelKx2, w6, true, rec).refresh);

  // KX3: the security word decides what the polls carry.
  DeviceRecord kx3;
  const std::vector<std::uint16_t> sec{0x11};  // mode 2
  EXPECT_TRUE(DecodePoll(1, kModelKx3, sec, true, kx3).securityRead);
  EXPECT_EQ(kx3.security.mode, 2);
  const std::vector<std::uint16_t> pvsv{250, 300};
  DecodePoll(3, kModelKx3, pvsv, false, kx3);
  EXPECT_EQ(kx3.out1, 0);
  const std::vector<std::uint16_t> st{0x44};
  DecodePoll(4, kModelKx3, st, false, kx3);
  EXPECT_EQ(kx3.statusByte, 0x44);

  // Fewer words than the block: nothing read past the end.
  DeviceRecord shortRec;
  const std::vector<std::uint16_t> one{7};
  DecodePoll(4, kModelKx2, one, false, shortRec);
  EXPECT_EQ(shortRec.statusByte, 7);
  EXPECT_EQ(shortRec.firmwareVersion, 0);
}

}  // namespace
}  // namespace kx
