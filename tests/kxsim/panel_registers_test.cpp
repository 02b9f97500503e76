// The simulated registers behind the parameter panel: the com-write flag that
// refuses writes while off, KX3 security modes and keys, outputs following the
// control mode and output configuration, and restore default.
#include <gtest/gtest.h>

#include <chrono>

#include "core/modbus/codec.h"
#include "kxsim/controller.h"
#include "support/sim_line.h"

namespace kxsim {
namespace {

using namespace std::chrono_literals;
using kx::Bytes;

// Sends one request to a controller and returns its answer without the CRC.
Bytes Ask(Controller& c, const Bytes& pdu, SimTime now = SimTime{0}) {
  const auto frame = c.Handle(pdu, now);
  if (!frame) return {};
  return Bytes(frame->begin(), frame->end() - 2);
}
Bytes Write(Controller& c, std::uint16_t reg, std::uint16_t value) {
  return Ask(c, {1, 0x06, static_cast<std::uint8_t>(reg >> 8), static_cast<std::uint8_t>(reg),
                 static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value)});
}
bool Echoed(const Bytes& answer) { return answer.size() == 6 && answer[1] == 0x06; }
std::uint8_t ExceptionCode(const Bytes& answer) { return answer.size() == 3 ? answer[2] : 0; }

std::unique_ptr<Controller> Make(Model model, ControllerOptions options = {}) {
  return std::make_unique<Controller>(model, 1, test::Fmt("9600-8N1-rtu"), options);
}

TEST(SimComWrite, WritesRefusedWhileOffExceptTheFlagItself) {
  struct Case {
    Model model;
    std::uint16_t flag;
  } cases[] = {{Model::Kx1, 0x471A}, {Model::Kx2, 0x4726}};
  for (const Case& c : cases) {
    SCOPED_TRACE(ModelName(c.model));
    auto ctl = Make(c.model);
    ASSERT_TRUE(Echoed(Write(*ctl, c.flag, 0)));
    EXPECT_EQ(ExceptionCode(Write(*ctl, 0x4701, 123)), 0x04);
    EXPECT_EQ(ctl->Register(0x4701), 300);
    EXPECT_EQ(ExceptionCode(Write(*ctl, c.model == Model::Kx1 ? 0x471B : 0x472A, 0x4F1D)), 0x04)
        << "the unlock write too";
    ASSERT_TRUE(Echoed(Write(*ctl, c.flag, 1)));
    EXPECT_TRUE(Echoed(Write(*ctl, 0x4701, 123)));
  }
}

TEST(SimComWrite, Kx2StatusBitFollowsTheFlag) {
  auto ctl = Make(Model::Kx2);
  Write(*ctl, 0x4726, 0);
  EXPECT_EQ(*ctl->Register(0x4717) & 1, 0);
  Write(*ctl, 0x4726, 1);
  EXPECT_EQ(*ctl->Register(0x4717) & 1, 1);
  ctl->SetRegister(0x4717, 0);  // as the parameter memory writes it
  EXPECT_EQ(ctl->Register(0x4726), 0);
}

TEST(SimSecurity, LevelsAndKeys) {
  ControllerOptions o;
  o.security = 0x0F;  // key 1..3 set, all locked
  auto ctl = Make(Model::Kx3, o);
  EXPECT_EQ(ExceptionCode(Write(*ctl, 0x4701, 100)), 0x04) << "all locked keeps SV";
  ASSERT_TRUE(Echoed(Write(*ctl, 0x106D, 0x3333)));  // level 3: PV and SV
  EXPECT_EQ(ctl->Register(0x4751), 0x17);
  EXPECT_TRUE(Echoed(Write(*ctl, 0x4701, 100)));
  EXPECT_EQ(ExceptionCode(Write(*ctl, 0x4727, 1)), 0x04) << "AT needs read-all";
  ASSERT_TRUE(Echoed(Write(*ctl, 0x106C, 0x2222)));
  EXPECT_EQ(ctl->Register(0x4751), 0x27);
  EXPECT_TRUE(Echoed(Write(*ctl, 0x4727, 1)));
  EXPECT_EQ(ExceptionCode(Write(*ctl, 0x470C, 10)), 0x04);
  ASSERT_TRUE(Echoed(Write(*ctl, 0x106B, 0x1111)));
  EXPECT_EQ(ctl->Register(0x4751), 0x47);
  EXPECT_TRUE(Echoed(Write(*ctl, 0x470C, 10)));
  // Any other value at level 1 locks all.
  ASSERT_TRUE(Echoed(Write(*ctl, 0x106B, 0x0007)));
  EXPECT_EQ(ctl->Register(0x4751), 0x0F);
  // Key change: the right key clears it, a wrong one locks, none set takes the entry.
  ASSERT_TRUE(Echoed(Write(*ctl, 0x106F, 0x2222)));
  EXPECT_EQ(ctl->Register(0x4751), 0x0D);
  ASSERT_TRUE(Echoed(Write(*ctl, 0x106F, 0xBEEF)));
  EXPECT_EQ(ctl->Register(0x4751), 0x0F);
  Write(*ctl, 0x106C, 0xBEEF);
  EXPECT_EQ(ctl->Register(0x4751), 0x27);
}

TEST(SimOutputs, FollowControlModeAndConfiguration) {
  struct Case {
    const char* name;
    Model model;
    std::vector<std::pair<std::uint16_t, std::uint16_t>> regs;
    bool out1, out2;  // output on while PV is below SV
  } cases[] = {
      {"KX2 heat", Model::Kx2, {{0x471A, 0}}, true, false},
      {"KX2 cool", Model::Kx2, {{0x471A, 1}}, false, false},
      {"KX2 cool/heat", Model::Kx2, {{0x471A, 3}}, false, true},
      {"KX3 alarm and heat", Model::Kx3, {{0x471A, 2}, {0x471F, 0}}, false, true},
      {"KX3 heat and cool", Model::Kx3, {{0x471A, 0}, {0x471F, 1}}, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto ctl = Make(c.model);
    for (auto [reg, value] : c.regs) ctl->SetRegister(reg, value);
    ctl->SetRegister(0x4701, 2000);  // far above PV
    ctl->Advance(SimTime{0});
    ctl->Advance(SimTime{1s});
    EXPECT_EQ(*ctl->Register(0x4702) > 0, c.out1);
    EXPECT_EQ(*ctl->Register(0x4703) > 0, c.out2);
  }
  auto kx2 = Make(Model::Kx2);
  kx2->SetRegister(0x4719, 2);  // manual
  ASSERT_TRUE(Echoed(Write(*kx2, 0x4702, 333)));
  kx2->Advance(SimTime{0});
  kx2->Advance(SimTime{1s});
  EXPECT_EQ(kx2->Register(0x4702), 333);
  auto kx1 = Make(Model::Kx1);
  kx1->SetRegister(0x4711, 1);  // ON-OFF: full output
  kx1->SetRegister(0x4701, 2000);
  kx1->Advance(SimTime{0});
  kx1->Advance(SimTime{1s});
  EXPECT_EQ(kx1->Register(0x471E), 100);
}

TEST(SimRestore, DefaultResetsTheParameters) {
  auto ctl = Make(Model::Kx2);
  Write(*ctl, 0x4701, 777);
  ASSERT_TRUE(Echoed(Write(*ctl, 0x472A, 0x4F1D)));
  ASSERT_TRUE(Echoed(Write(*ctl, 0x474E, 0x4F1D)));
  EXPECT_EQ(ctl->Register(0x4701), 300);
}

}  // namespace
}  // namespace kxsim
