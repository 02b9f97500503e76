// Checks every ramp/soak harness makes on a program it has taken in: the
// preview curve stays on the picture and ends, the grid texts are bounded,
// the 153 register writes and the file bytes are made and the file reads back
// as the same program.
#pragma once

#include <cstdlib>

#include "core/ramp/program_curve.h"
#include "core/ramp/program_table.h"

namespace kx::fuzz {

inline void CheckProgram(const ProgramTable& table) {
  const ProgramCurve curve = ComputeCurve(table);
  if (curve.drawn == curve.segments.empty()) std::abort();
  for (const CurveSegment& s : curve.segments) {
    if (s.x0 < 0 || s.x0 >= kCurveWidth) std::abort();
    if (s.pen != CurvePen::Olive && s.x1 < s.x0) std::abort();
    if (s.y0 < 0 || s.y1 < 0 || s.y0 > kCurveHeight || s.y1 > kCurveHeight) std::abort();
  }
  for (int k = 0; k < kSteps; ++k) {
    if (SetValueText(table.setValue[static_cast<std::size_t>(k)]).size() > 8) std::abort();
    if (TimeText(table.time[static_cast<std::size_t>(k)]).size() > 8) std::abort();
  }
  for (std::uint8_t link : table.link)
    if (LinkText(link).size() > 10) std::abort();
  for (int n = 0; n < kRampWrites; ++n) (void)RampWriteValue(table, n);
  ProgramTable back;
  if (ApplyRampFile(RampFileBytes(table), back) != RampLoad::Loaded || !(back == table)) std::abort();
}

}  // namespace kx::fuzz
