// The preview curve of a ramp/soak program: the set value over time from the
// start pattern, following the links, as line segments on a W × H picture.
// Plain geometry; the window draws the segments.
#pragma once

#include <cstdint>
#include <vector>

#include "core/ramp/program_table.h"

namespace kx {

enum class CurvePen : std::uint8_t {
  Green,  // first run of a pattern (#008000)
  Navy,   // its repetitions (#000080)
  Grey,   // once the chain comes back to a pattern already drawn (#808080)
  Olive,  // the level after the program ends (#808000)
};

struct CurveSegment {
  int x0, y0, x1, y1;
  CurvePen pen;
  friend bool operator==(const CurveSegment&, const CurveSegment&) = default;
};

struct ProgramCurve {
  // False when the program's total time is zero: nothing is drawn and the
  // picture stays as cleared.
  bool drawn = false;
  std::vector<CurveSegment> segments;
};

inline constexpr int kCurveWidth = 560;
inline constexpr int kCurveHeight = 95;

// Values out of range are taken as the table's bounds for drawing: a max step
// above 7 as 7, a link above 8 as the end, a start pattern above 7 as 7.
ProgramCurve ComputeCurve(const ProgramTable& table, int width = kCurveWidth, int height = kCurveHeight);

}  // namespace kx
