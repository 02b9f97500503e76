// A faulty controller among good ones on the simulated bus: whatever its fault,
// it is dropped after four failed exchanges in a row with the message of its
// last failure, and the other tiles keep their share of the line.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/monitor/monitor_engine.h"
#include "support/fake_port.h"
#include "support/sim_bus.h"

namespace kx {
namespace {

struct FaultCase {
  const char* name;
  kxsim::Fault fault;
  const char* asciiText;  // status line after the drop; nullptr: any failure text
  const char* rtuText;
};

struct Form {
  const char* format;
  PortParams params;
};

TEST(MonitorFaults, FaultyControllerIsDroppedAndTheOthersKeepPolling) {
  const std::vector<FaultCase> cases = {
      {"Silent", kxsim::Fault::NoAnswer, "Received data time out error", "Received data time out error"},
      {"NoiseBeforeAnswer", kxsim::Fault::Noise, "Rcv format error !!!", nullptr},
      {"BadCheck", kxsim::Fault::BadCheck, "Received checksum error !!!", "Received checksum error !!!"},
      {"WrongAddress", kxsim::Fault::WrongAddress, "Address not correct", "Address not correct"},
      {"Garbage", kxsim::Fault::Garbage, nullptr, nullptr},
      {"Exception", kxsim::Fault::Exception, nullptr, nullptr},
  };
  const std::vector<Form> forms = {{"9600-7E1-ascii", {3, 9600, 7, 1, 1, false}},
                                   {"19200-8N1-rtu", {3, 19200, 8, 0, 1, true}}};
  for (const auto& form : forms) {
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(c.name) + " " + form.format);
      Session session;
      session.params = form.params;
      test::FakePort port;
      test::SimBus bus(port);
      MonitorEngine engine(port, session);
      engine.Handle(monitor_event::Reset{});
      for (int d = 0; d < 3; ++d) {
        bus.Add("kx2@" + std::to_string(d + 1) + ":" + form.format);
        engine.Handle(monitor_event::ChangeAddress{d, static_cast<std::uint16_t>(d + 1)});
        engine.Handle(monitor_event::ToggleConnect{d});
      }
      ASSERT_TRUE(bus.RunUntil([&] { return engine.Device(1).detailRead; }, 200));

      bus.Controller(2).SetFault(c.fault);
      const std::uint32_t faultyBefore = engine.Device(1).requestCount;
      const std::uint32_t good0 = engine.Device(0).requestCount;
      const std::uint32_t good2 = engine.Device(2).requestCount;
      bus.Tick(182);  // 10 s

      EXPECT_FALSE(engine.Device(1).connected);
      EXPECT_LE(engine.Device(1).requestCount - faultyBefore, 5U);  // four failures, one maybe answered before
      const char* text = form.params.rtu ? c.rtuText : c.asciiText;
      if (text != nullptr) {
        EXPECT_EQ(engine.statusText(), text);
      } else {
        EXPECT_NE(engine.statusText(), "NO Error !!!");
        EXPECT_FALSE(engine.statusText().empty());
      }
      for (int d : {0, 2}) {
        EXPECT_TRUE(engine.Device(d).connected) << d;
        EXPECT_EQ(engine.Device(d).errorCount, 0U) << d;
      }
      EXPECT_GT(engine.Device(0).requestCount - good0, 40U);
      EXPECT_GT(engine.Device(2).requestCount - good2, 40U);
    }
  }
}

}  // namespace
}  // namespace kx
