// The monitor engine fed through the fake port on the simulated bus: three
// simulated controllers answer, and the input decides the user's actions,
// bytes injected on the line, faults, ticks and lost lines.
#include <cstdlib>

#include "core/monitor/monitor_engine.h"
#include "fuzz_input.h"
#include "support/fake_port.h"
#include "support/sim_bus.h"

using namespace kx;
namespace ev = kx::monitor_event;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::FuzzInput in(data, size);
  const bool rtu = in.Bool();
  Session session;
  session.params = PortParams{3, 9600, 8, 0, 1, rtu};
  test::FakePort port;
  test::SimBus bus(port);
  const std::string format = rtu ? ":9600-8N1-rtu" : ":9600-8N1-ascii";
  bus.Add("kx1@1" + format);
  bus.Add("kx2@2" + format);
  bus.Add("kx3@3" + format);
  MonitorEngine engine(port, session);
  engine.Handle(ev::Reset{});

  for (int steps = 0; steps < 400 && !in.empty(); ++steps) {
    const int device = in.Byte() % 5;  // 4 is out of range on purpose
    switch (in.Byte() % 16) {
      case 0: case 1: engine.Handle(ev::ToggleConnect{device}); break;
      case 2: engine.Handle(ev::Select{device}); break;
      case 3: engine.Handle(ev::ChangeAddress{device, in.Word()}); break;
      case 4: engine.Handle(ev::QueueWrite{in.Word(), in.Word(), in.Bool()}); break;
      case 5: engine.Handle(ev::Refresh{}); break;
      case 6: engine.Handle(ev::FactoryMode{in.Bool()}); break;
      case 7: engine.Handle(ev::LevelWrite{in.Bool()}); break;
      case 8: engine.Handle(ev::DecimalPoint{device, in.Byte() % 6}); break;
      case 9: engine.Handle(ev::ClearCounters{device}); break;
      case 10: port.Feed(in.Chunk()); break;
      case 11: {
        const auto kind = static_cast<kxsim::Fault>(in.Byte() % 7);
        bus.Controller(1 + in.Byte() % 3).SetFault(kind, in.Byte());
        break;
      }
      case 12: port.Fail("line lost"); break;
      case 13: engine.Handle(in.Bool() ? MonitorEvent{ev::CloseRequest{}} : MonitorEvent{ev::Close{}}); break;
      default: bus.Tick(1 + in.Byte() % 40); break;
    }
    for (int d = 0; d < kMonitorDevices; ++d) {
      const MonitorDevice& dev = engine.Device(d);
      if (dev.address < 1 || dev.address > 247) std::abort();
    }
  }
  return 0;
}
