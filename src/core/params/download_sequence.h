// The parameter download: the register writes that put a parameter buffer
// back into a controller, one sequence per model of the controller written
// (KX1 21 writes, KX2 99, KX3 27). The sequences are tables; the values come
// from the buffer's image ("byte o" the image byte at o, "word o" byte o
// high and byte o + 1 low).
#pragma once

#include <cstdint>
#include <vector>

#include "core/monitor/transfer.h"
#include "core/params/parameter_buffer.h"

namespace kx {

// The write sequence for a controller of model code `model` whose firmware
// version word is `controllerVersion`. Empty for a model without a sequence.
// The monitor's WriteSequence carries it out (skipped steps count as done).
std::vector<WriteStep> DownloadSequence(std::uint8_t model, const ParameterBuffer& buffer,
                                           std::uint16_t controllerVersion);

}  // namespace kx
