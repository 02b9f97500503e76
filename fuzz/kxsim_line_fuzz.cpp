// kxsim's line: whatever a PC writes (frames, noise, half frames) cut into
// frames and answered by controllers of every model, in both forms.
#include <chrono>
#include <cstdlib>
#include <memory>

#include "fuzz_input.h"
#include "kxsim/line.h"

using namespace kxsim;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  kx::fuzz::FuzzInput in(data, size);
  const LineFormat ascii = *ParseLineFormat("9600-8N1-ascii");
  const LineFormat rtu = *ParseLineFormat("9600-8N1-rtu");
  PcSettings pc = ExactSettings(ascii);
  Line line([&] { return pc; });
  line.SetTiming(true);
  line.Add(std::make_unique<Controller>(Model::Kx1, 1, ascii));
  line.Add(std::make_unique<Controller>(Model::Kx2, 1, rtu));
  ControllerOptions followers;
  followers.followers = 2;
  line.Add(std::make_unique<Controller>(Model::Kx3, 2, ascii, followers));
  line.Add(std::make_unique<Controller>(Model::Kx3, 3, rtu));
  SimTime now{0};
  for (int steps = 0; steps < 500 && !in.empty(); ++steps) {
    switch (in.Byte() % 4) {
      case 0:
      case 1: line.Receive(in.Chunk(), now); break;
      case 2: now += std::chrono::microseconds(in.Word()); break;
      default: pc = ExactSettings(in.Bool() ? rtu : ascii); break;
    }
    (void)line.TakeDue(now);
  }
  return 0;
}
