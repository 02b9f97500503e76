// The monitor engine against kxsim's simulated controllers on the simulated
// bus: the same controllers as the end-to-end tests, on the fake tick clock.
#include <gtest/gtest.h>

#include <string>

#include "core/monitor/monitor_engine.h"
#include "support/fake_port.h"
#include "support/sim_bus.h"

namespace kx {
namespace {

struct LineCase {
  const char* name;
  const char* format;  // kxsim's form of the controllers' format
  PortParams params;
};

class MonitorOnSimBus : public ::testing::TestWithParam<LineCase> {
 protected:
  void SetUp() override {
    session.params = GetParam().params;
    engine.Handle(monitor_event::Reset{});
  }
  std::string At(int address) const {
    return "@" + std::to_string(address) + ":" + GetParam().format;
  }

  Session session;
  test::FakePort port;
  test::SimBus bus{port};
  MonitorEngine engine{port, session};
};

TEST_P(MonitorOnSimBus, IdentifiesAndPollsEveryController) {
  bus.Add("kx2" + At(1));
  bus.Add("kx1" + At(2));
  bus.Add("kx3" + At(3));
  for (int d = 0; d < 3; ++d) {
    engine.Handle(monitor_event::ChangeAddress{d, static_cast<std::uint16_t>(d + 1)});
    engine.Handle(monitor_event::ToggleConnect{d});
  }
  bus.Tick(20 * 18);  // 20 s
  const std::uint8_t models[] = {kModelKx2, kModelKx1, kModelKx3};
  for (int d = 0; d < 3; ++d) {
    SCOPED_TRACE(d);
    const MonitorDevice& dev = engine.Device(d);
    EXPECT_TRUE(dev.connected);
    EXPECT_EQ(dev.model, models[d]);
    EXPECT_EQ(dev.errorCount, 0U);
    EXPECT_GT(dev.requestCount, 20U);
  }
  // Every request was answered (one may be in flight).
  EXPECT_GE(bus.requests(), engine.Device(0).requestCount + engine.Device(1).requestCount +
                                engine.Device(2).requestCount - 1);
}

TEST_P(MonitorOnSimBus, SilentControllerIsDroppedWhileTheOtherKeepsPolling) {
  bus.Add("kx2" + At(1));
  bus.Add("kx2" + At(2));
  engine.Handle(monitor_event::ChangeAddress{1, 2});
  engine.Handle(monitor_event::ToggleConnect{0});
  engine.Handle(monitor_event::ToggleConnect{1});
  ASSERT_TRUE(bus.RunUntil([&] { return engine.Device(1).model == kModelKx2; }, 100));
  bus.Controller(2).SilenceNow();
  ASSERT_TRUE(bus.RunUntil([&] { return !engine.Device(1).connected; }, 18 * 30));
  const std::uint32_t before = engine.Device(0).requestCount;
  bus.Tick(18 * 5);
  EXPECT_TRUE(engine.Device(0).connected);
  EXPECT_GT(engine.Device(0).requestCount, before + 10);
  EXPECT_EQ(engine.Device(0).errorCount, 0U);
}

INSTANTIATE_TEST_SUITE_P(
    Forms, MonitorOnSimBus,
    ::testing::Values(LineCase{"Ascii9600", "9600-7E1-ascii", {3, 9600, 7, 1, 1, false}},
                      LineCase{"Rtu19200", "19200-8N1-rtu", {3, 19200, 8, 0, 1, true}},
                      LineCase{"Rtu38400TwoStop", "38400-8O2-rtu", {3, 38400, 8, 2, 2, true}}),
    [](const ::testing::TestParamInfo<LineCase>& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace kx
