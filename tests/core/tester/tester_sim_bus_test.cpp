// The tester's send over the main-port routing against kxsim's simulated
// controllers on the simulated bus.
#include <gtest/gtest.h>

#include <string>

#include "core/tester/tester.h"
#include "support/fake_main_line.h"
#include "support/sim_bus.h"

namespace kx {
namespace {

TEST(TesterOnSimBus, ReadIsAnsweredByTheSimulatedControllerInEachForm) {
  struct Case {
    PortParams params;
    const char* controller;
    const char* shown;  // the answer as the tester shows it (PV and SV vary)
  };
  for (const Case& c : {Case{{3, 9600, 7, 1, 1, false}, "kx2@1:9600-7E1-ascii", ":010304"},
                        Case{{3, 9600, 8, 0, 1, true}, "kx2@1:9600-8N1-rtu", "010304"}}) {
    SCOPED_TRACE(c.controller);
    test::FakeMainLine line;
    test::SimBus bus{line.port};
    bus.Add(c.controller);
    std::string shown;
    line.routing.tester.showReceived = [&shown](const std::string& t) { shown = t; };
    line.session.params = c.params;
    Tester tester{line.session, line.routing, {[](bool) {}, [](bool) {}, [](const std::string&) {}, [] {}}};
    tester.Handle(tester_event::FieldsChanged{{"1", TesterCommand::ReadRegister, "03", "4700", "2", {}}});
    tester.Handle(tester_event::SendClick{});
    ASSERT_TRUE(bus.RunUntil([&] { return !line.port.IsOpen(); }, 40));
    EXPECT_EQ(shown.substr(0, std::string(c.shown).size()), c.shown) << shown;
    EXPECT_EQ(shown.size(), c.params.rtu ? 18U : 17U) << shown;
    EXPECT_EQ(line.session.lineOwner, LineOwner::Free);
  }
}

}  // namespace
}  // namespace kx
