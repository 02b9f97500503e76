// "*.par" parameter backups: any bytes are either taken whole (exactly 260
// with a matching check byte) or refused, leaving the buffer unchanged or, for
// a wrong check byte, cleared; a taken buffer names its model and version
// within bounds and every model's download sequence built from it runs to its
// end through the write transfer.
#include <algorithm>
#include <cstdlib>
#include <span>

#include "core/device/regmap.h"
#include "core/monitor/transfer.h"
#include "core/params/download_sequence.h"
#include "core/params/parameter_buffer.h"

using namespace kx;

namespace {

// Walks a download as the engine would, every request acknowledged.
void RunDownload(std::uint8_t model, const ParameterBuffer& buffer, std::uint16_t version) {
  std::vector<WriteStep> steps = DownloadSequence(model, buffer, version);
  if (steps.empty()) std::abort();
  const std::size_t bound = 2 * steps.size();
  WriteSequence run(TransferKind::Download, std::move(steps));
  std::size_t requests = 0;
  while (const auto request = run.NextRequest()) {
    if (++requests > bound) std::abort();
    run.AnswerTaken({});
  }
  if (!run.Done() || run.Progress() != 1000) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> bytes(data, size);
  ParameterBuffer buffer;
  buffer.fill(0x5A);
  switch (ApplyParameterFile(bytes, buffer)) {
    case ParLoad::Loaded: {
      if (size != kParameterBufferBytes || !std::equal(bytes.begin(), bytes.end(), buffer.begin())) std::abort();
      if (!TrailerValid(buffer) || ModelVersionText(buffer).size() > 16) std::abort();
      const auto version = static_cast<std::uint16_t>(buffer[kTrailerMajor] << 8 | buffer[kTrailerMinor]);
      for (std::uint8_t model : {kModelKx1, kModelKx2, kModelKx3}) RunDownload(model, buffer, version);
      break;
    }
    case ParLoad::WrongLength:
      if (size == kParameterBufferBytes) std::abort();
      if (std::any_of(buffer.begin(), buffer.end(), [](std::uint8_t b) { return b != 0x5A; })) std::abort();
      break;
    case ParLoad::BadCheck:
      if (std::any_of(buffer.begin(), buffer.end(), [](std::uint8_t b) { return b != 0; })) std::abort();
      break;
    default:
      std::abort();  // no file is opened here
  }
  return 0;
}
