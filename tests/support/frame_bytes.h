// Byte strings for tests of the simulator's ways in: pieces joined into one
// stream, and Modbus TCP frames written out in full.
#pragma once

#include <initializer_list>

#include "core/modbus/codec.h"
#include "core/modbus/mbap.h"

namespace kx::test {

inline Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

// An MBAP frame; the PDU is never empty in a test.
inline Bytes Mbap(std::uint16_t transaction, std::uint8_t unit, const Bytes& pdu) {
  return *mbap::BuildFrame(transaction, unit, pdu);
}

}  // namespace kx::test
