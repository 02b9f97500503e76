// Transfers of the monitor engine against kxsim's controllers on the simulated
// bus: a controller that refuses remote writes ends a download by the
// exception rule instead of being sent the same write for ever, and an upload
// started before the firmware version was polled still names the version.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "core/device/regmap.h"
#include "core/monitor/monitor_engine.h"
#include "core/params/parameter_buffer.h"
#include "support/fake_port.h"
#include "support/sim_bus.h"

namespace kx {
namespace {

struct LineCase {
  const char* name;
  const char* format;  // kxsim's form of the controllers' format
  PortParams params;
};

struct Ends : MonitorObserver {
  std::vector<TransferEnd> ended;
  void TransferEnded(const Transfer&, TransferEnd end) override { ended.push_back(end); }
};

class TransferOnSimBus : public ::testing::TestWithParam<LineCase> {
 protected:
  void SetUp() override {
    session.params = GetParam().params;
    engine.SetObserver(&ends);
    engine.Handle(monitor_event::Reset{});
  }
  // Adds `model` at address 1 with kxsim options, connects tile 0 and waits
  // until it is identified and its model detail read (UPLOAD enabled).
  kxsim::Controller& Connect(const std::string& model, const std::string& options = {}) {
    kxsim::Controller& c = bus.Add(model + "@1:" + GetParam().format + options);
    engine.Handle(monitor_event::ToggleConnect{0});
    EXPECT_TRUE(bus.RunUntil([&] { return engine.menus().upload; }, 200));
    return c;
  }

  // A short download; with `switchOff` remote writing goes off after its
  // first write. Either way it ends by the exception rule with its message,
  // nothing more is written and the controller is polled on.
  void ExpectRefusedDownload(kxsim::Controller& controller, bool switchOff) {
    const std::uint16_t sv = *controller.Register(0x4701);
    std::vector<WriteStep> steps;
    for (std::uint16_t n = 0; n < 40; ++n) steps.push_back({0x4701, static_cast<std::uint16_t>(400 + n)});
    auto download = std::make_shared<WriteSequence>(TransferKind::Download, std::move(steps));
    engine.Handle(monitor_event::StartTransfer{download});
    std::size_t doneAtSwitch = 0;
    if (switchOff) {
      ASSERT_TRUE(bus.RunUntil([&] { return download->stepsDone() >= 1; }, 100));
      controller.SetComWrite(false);
      doneAtSwitch = download->stepsDone();
    }
    ASSERT_TRUE(bus.RunUntil([&] { return engine.RunningTransfer() == nullptr; }, 400));
    EXPECT_EQ(ends.ended, (std::vector<TransferEnd>{TransferEnd::Aborted}));
    EXPECT_EQ(engine.statusText(), "Write error : illegal command  !!!");
    const std::size_t done = download->stepsDone();
    EXPECT_LE(done, doneAtSwitch + 1);  // a write already on the line when switched is taken
    EXPECT_EQ(*controller.Register(0x4701), done == 0 ? sv : 400 + done - 1);
    const std::uint32_t requests = engine.Device(0).requestCount;
    bus.Tick(40);
    EXPECT_TRUE(engine.Device(0).connected);
    EXPECT_GT(engine.Device(0).requestCount, requests + 5);
    EXPECT_FALSE(engine.WritePending());
  }

  // An upload made as UPLOAD makes it before the status poll that carries the
  // firmware version: the trailer still names the controller's version.
  void ExpectUploadNamesTheVersion(std::uint8_t model, const std::string& text) {
    auto upload = std::make_shared<ImageUpload>(model, 0, false);
    engine.Handle(monitor_event::StartTransfer{upload});
    ASSERT_TRUE(bus.RunUntil([&] { return engine.RunningTransfer() == nullptr; }, 2000));
    EXPECT_EQ(ends.ended, (std::vector<TransferEnd>{TransferEnd::Completed}));
    EXPECT_EQ(ModelVersionText(upload->buffer()), text);
    EXPECT_TRUE(TrailerValid(upload->buffer()));
  }

  Ends ends;
  Session session;
  test::FakePort port;
  test::SimBus bus{port};
  MonitorEngine engine{port, session};
};

TEST_P(TransferOnSimBus, Kx3RefusingWritesEndsTheDownloadWithTheExceptionMessage) {
  ExpectRefusedDownload(Connect("kx3", ",comwrite=off"), false);
}

TEST_P(TransferOnSimBus, RemoteWritingSwitchedOffDuringADownloadEndsIt) {
  ExpectRefusedDownload(Connect("kx2"), true);
}

TEST_P(TransferOnSimBus, Kx1UploadBeforeTheVersionWasPolledReadsItFirst) {
  Connect("kx1", ",fw=3.07");
  ExpectUploadNamesTheVersion(kModelKx1, "KX1 V3.07");
}

TEST_P(TransferOnSimBus, Kx2UploadBeforeTheVersionWasPolledReadsItFirst) {
  Connect("kx2", ",fw=2.13");
  ExpectUploadNamesTheVersion(kModelKx2, "KX2 V2.13");
}

INSTANTIATE_TEST_SUITE_P(
    Forms, TransferOnSimBus,
    ::testing::Values(LineCase{"Ascii9600", "9600-7E1-ascii", {3, 9600, 7, 1, 1, false}},
                      LineCase{"Rtu38400", "38400-8N1-rtu", {3, 38400, 8, 0, 1, true}}),
    [](const ::testing::TestParamInfo<LineCase>& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace kx
