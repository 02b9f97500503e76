// A ramp/soak program as a controller hands it over: the answers of a
// ramp/soak read (each word an offset and a byte, in whatever order and with
// whatever repeats the controller sends) through the upload transfer, then
// decoded into the program table. The read ends on its count, never beyond
// its buffers, and the decoded program passes the program checks.
#include <cstdlib>
#include <span>

#include "core/device/regmap.h"
#include "core/monitor/transfer.h"
#include "core/ramp/program_table.h"
#include "fuzz_input.h"
#include "ramp_checks.h"

using namespace kx;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::FuzzInput in(data, size);
  const std::uint8_t model = in.Bool() ? kModelKx3 : kModelKx2;
  const std::uint16_t version = in.Word();
  ImageUpload upload(model, version, true);
  int answers = 0;
  while (const auto request = upload.NextRequest()) {
    if (++answers > 2 * kImageBytes + 1) std::abort();
    const std::uint16_t word = in.Word();
    upload.AnswerTaken(std::span<const std::uint16_t>(&word, 1));
    if (upload.Progress() < 0 || upload.Progress() > 1000) std::abort();
  }
  if (!upload.Done() || upload.Progress() != 1000 || upload.stepCount() != kImageBytes) std::abort();
  const ProgramTable table =
      TableFromController(std::span<const std::uint8_t, 256>(upload.buffer().data(), 256), upload.steps());
  fuzz::CheckProgram(table);
  return 0;
}
