// kxsim's control channel: whatever arrives on it (commands, half lines, over-
// long lines, binary noise) split into lines and carried out on a running line.
#include <chrono>
#include <memory>
#include <string_view>

#include "fuzz_input.h"
#include "kxsim/control.h"
#include "kxsim/line.h"

using namespace kxsim;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const LineFormat ascii = *ParseLineFormat("9600-7E1-ascii");
  const LineFormat rtu = *ParseLineFormat("38400-8N1-rtu");
  PcSettings pc = ExactSettings(ascii);
  Line line([&] { return pc; });
  line.Add(std::make_unique<Controller>(Model::Kx1, 1, ascii));
  line.Add(std::make_unique<Controller>(Model::Kx2, 2, ascii));
  line.Add(std::make_unique<Controller>(Model::Kx3, 3, rtu));
  ControlReader reader;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  // Fed in pieces of varying size, as reads from a pipe arrive.
  std::size_t at = 0;
  SimTime now{0};
  while (at < bytes.size()) {
    const std::size_t piece = 1 + static_cast<std::size_t>(bytes[at]) % 61;
    for (const ControlLine& l : reader.Feed(bytes.substr(at, piece))) {
      if (l.tooLong) {
        (void)TooLongText(l);
      } else {
        (void)RunControlCommand(line, l.text);
      }
    }
    at += piece;
    // The line keeps answering after each command.
    line.Receive(kx::BuildFrame(kx::FrameForm::Ascii, kx::ReadRequestPdu(2, 0x03, 0x4700, 4)), now);
    now += std::chrono::milliseconds(100);
    (void)line.TakeDue(now);
  }
  return 0;
}
