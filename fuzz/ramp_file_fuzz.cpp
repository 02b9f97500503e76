// "*.r$s" ramp/soak tables: any bytes are either taken (exactly 285 with the
// signature) or refused with the table unchanged; a taken table saves back to
// the same bytes, and whatever it holds (max steps, links and start patterns
// out of range included) its preview curve stays on the picture and its grid
// texts and register writes are made.
#include <algorithm>
#include <cstdlib>
#include <span>

#include "core/ramp/program_curve.h"
#include "core/ramp/program_table.h"
#include "ramp_checks.h"

using namespace kx;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> bytes(data, size);
  ProgramTable table;
  table.start = 9;  // marks the table as it was
  ProgramTable before = table;
  const RampLoad result = ApplyRampFile(bytes, table);
  if (result == RampLoad::BadContent) {
    if (!(table == before)) std::abort();
    return 0;
  }
  if (result != RampLoad::Loaded || size != kRampFileBytes) std::abort();
  const auto again = RampFileBytes(table);
  if (!std::equal(again.begin(), again.end(), bytes.begin())) std::abort();
  fuzz::CheckProgram(table);
  return 0;
}
