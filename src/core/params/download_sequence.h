// The parameter download: the register writes that put a parameter buffer
// back into a controller, one sequence per model of the controller written
// (KX1 21 writes, KX2 99, KX3 27). The sequences are tables; the values come
// from the buffer's image ("byte o" the image byte at o, "word o" byte o
// high and byte o + 1 low).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/monitor/transfer.h"
#include "core/params/parameter_buffer.h"

namespace kx {

// The write sequence for a controller of model code `model` whose firmware
// version word is `controllerVersion`. Empty for a model without a sequence.
// The monitor's WriteSequence carries it out (skipped steps count as done).
std::vector<WriteStep> DownloadSequence(std::uint8_t model, const ParameterBuffer& buffer,
                                           std::uint16_t controllerVersion);

// What a download stopped before its end left in the controller (every
// controller on the line for a broadcast): a mix of old and new parameters,
// and how many of the writes (skipped steps not counted) went through, e.g.
// "The controller now holds a mix of old and new parameters: 12 of 27 writes
// went through."; "None of the 27 writes went through." before the first.
std::string PartWayText(const WriteSequence& download);

}  // namespace kx
