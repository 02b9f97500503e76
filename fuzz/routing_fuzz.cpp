// The main port's routing fed through the fake port on the simulated bus: the
// tester's sends and repeats, the bus search's probes and any bytes on the
// line, ticks and lost lines, in the order the input gives.
#include <string>

#include "core/comset/bus_search.h"
#include "core/tester/tester.h"
#include "fuzz_input.h"
#include "support/fake_main_line.h"
#include "support/sim_bus.h"

using namespace kx;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::FuzzInput in(data, size);
  test::FakeMainLine line;
  line.session.portPresent[1] = true;
  line.session.params = PortParams{1, 9600, 8, 0, 1, in.Bool()};
  test::SimBus bus(line.port);
  bus.Add("kx2@1:9600-8N1-ascii");
  bus.Add("kx3@17:9600-8N1-rtu");
  line.port.SetOnError([&](const std::string&) { line.routing.LineLost(); });
  std::string shown;
  line.routing.tester.showReceived = [&](const std::string& t) { shown = t; };
  Tester tester(line.session, line.routing, {[](bool) {}, [](bool) {}, [](const std::string&) {}, [] {}});
  line.routing.tester.send = [&] { tester.Handle(tester_event::SendClick{}); };
  BusSearch search(line.session, line.routing, {[] {}, [](const std::string&) {}});
  line.routing.setup.answerStep = [&](const Answer& answer) { search.Handle(search_event::Answered{answer}); };

  for (int steps = 0; steps < 400 && !in.empty(); ++steps) {
    switch (in.Byte() % 12) {
      case 0: {
        TesterFields fields = tester.fields();
        fields.address = std::to_string(in.Byte());
        fields.command = static_cast<TesterCommand>(in.Byte() % 6);
        fields.funcAddr = std::to_string(in.Word());
        fields.data = std::to_string(in.Byte() % 12);
        tester.Handle(tester_event::FieldsChanged{fields});
        tester.Handle(tester_event::SendClick{});
        break;
      }
      case 1: {
        const auto text = in.Chunk();
        tester.Handle(tester_event::SendTextEdited{std::string(text.begin(), text.end())});
        tester.Handle(tester_event::SendClick{});
        break;
      }
      case 2: tester.Handle(tester_event::RepeatClick{}); break;
      case 3: tester.Handle(tester_event::TimerTick{}); break;
      case 4: tester.Handle(tester_event::CloseClick{}); break;
      case 5: {
        SearchPresets presets;
        presets.addr = in.Byte() % 17;
        presets.baud = in.Byte() % 6;
        presets.length = in.Byte() % 3;
        presets.parity = in.Byte() % 4;
        presets.stop = in.Byte() % 3;
        presets.protocol = in.Byte() % 3;
        search.Handle(search_event::Start{1, presets, {}});
        break;
      }
      case 6: search.Handle(search_event::Cancel{}); break;
      case 7: line.port.Feed(in.Chunk()); break;
      case 8: line.port.Fail("line lost"); break;
      default: bus.Tick(1 + in.Byte() % 40); break;
    }
  }
  search.Handle(search_event::Leave{});
  return 0;
}
