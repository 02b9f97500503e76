// Modbus TCP framing: any byte stream in any chunks cut into frames, and
// frames built from any data read back whole.
#include <cstdlib>

#include "core/modbus/mbap.h"
#include "fuzz_input.h"

using namespace kx;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::FuzzInput in(data, size);
  const std::uint16_t transaction = in.Word();
  const std::uint8_t unit = in.Byte();
  const auto pdu = in.Chunk();

  mbap::Reader reader;
  if (const auto frame = mbap::BuildFrame(transaction, unit, pdu)) {
    reader.Add(*frame);
    const auto back = reader.Next();
    if (!back || back->transaction != transaction || back->unit != unit ||
        !std::equal(back->pdu.begin(), back->pdu.end(), pdu.begin(), pdu.end()) || reader.Pending() != 0)
      std::abort();
    if (mbap::SerialOfFrame(*back).size() != pdu.size() + 1) std::abort();
  } else if (!pdu.empty() && pdu.size() <= mbap::kMaxPduLength) {
    std::abort();
  }

  reader.Reset();
  while (!in.empty()) {
    reader.Add(in.Take(in.Byte() % 16 + 1));
    while (const auto frame = reader.Next()) {
      if (frame->pdu.empty() || frame->pdu.size() > mbap::kMaxPduLength) std::abort();
      (void)mbap::IsGatewayFailure(frame->pdu);
    }
    if (reader.broken() && reader.Pending() != 0) std::abort();
    if (reader.Pending() > mbap::kHeaderLength + mbap::kMaxPduLength + 16) std::abort();
  }
  return 0;
}
