// Modbus TCP framing: any byte stream in any chunks cut into frames, frames
// built from any data read back whole, and any block a port is given read as
// a serial frame (what the gateway port sends on) and built back the same.
#include <cstdlib>

#include "core/modbus/mbap.h"
#include "fuzz_input.h"

using namespace kx;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::FuzzInput in(data, size);
  const std::uint16_t transaction = in.Word();
  const std::uint8_t unit = in.Byte();
  const auto pdu = in.Chunk();

  if (const auto serial = mbap::ParseSerialFrame(pdu)) {
    if (serial->contents.size() < 2) std::abort();
    // Built again it reads back to the same bytes.
    const Bytes built = BuildFrame(serial->form, serial->contents);
    const auto again = mbap::ParseSerialFrame(built);
    if (!again || BuildFrame(again->form, again->contents) != built) std::abort();
  }

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
