#include "core/ramp/program_curve.h"

#include <algorithm>
#include <array>

namespace kx {

namespace {

int MaxStep(const ProgramTable& t, int p) { return std::min<int>(t.maxStep[static_cast<std::size_t>(p)], 7); }
int Link(const ProgramTable& t, int p) { return std::min<int>(t.link[static_cast<std::size_t>(p)], kLinkEnd); }
int SetValue(const ProgramTable& t, int p, int s) { return t.setValue[static_cast<std::size_t>(p * 8 + s)]; }
long Time(const ProgramTable& t, int p, int s) { return t.time[static_cast<std::size_t>(p * 8 + s)]; }

int CeilDiv(long a, long b) { return static_cast<int>((a + b - 1) / b); }

}  // namespace

ProgramCurve ComputeCurve(const ProgramTable& table, int width, int height) {
  ProgramCurve curve;
  const int start = std::min<int>(table.start, kPatterns - 1);

  // Extent pass: total time, set value range and the pattern the chain stops at.
  std::array<bool, kPatterns> visited{};
  long total = 0;
  int largest = SetValue(table, start, 0);
  int smallest = largest;
  for (int p = start; p < kLinkEnd && !visited[static_cast<std::size_t>(p)]; p = Link(table, p)) {
    visited[static_cast<std::size_t>(p)] = true;
    long sum = 0;
    for (int s = 0; s <= MaxStep(table, p); ++s) {
      sum += Time(table, p, s);
      largest = std::max(largest, SetValue(table, p, s));
      smallest = std::min(smallest, SetValue(table, p, s));
    }
    total += sum * (table.loops[static_cast<std::size_t>(p)] + 1L);
  }
  if (total == 0) return curve;
  curve.drawn = true;
  const int range = largest == smallest ? 1 : largest - smallest;

  const int rows = height - 5;
  const int columns = width - 30;
  const auto y = [&](int v) {
    return range <= rows ? (largest - v) * (rows / range) + 2 : (largest - v) / CeilDiv(range, rows) + 2;
  };
  const auto x = [&](long t) {
    return static_cast<int>(total <= columns ? t * (columns / total) : t / CeilDiv(total, columns));
  };

  // Drawing pass.
  visited.fill(false);
  int px = 0;
  int py = y(SetValue(table, start, 0));
  long t = 0;
  bool grey = false;
  int p = start;
  for (int drawnPatterns = 0; drawnPatterns < width; ++drawnPatterns) {
    visited[static_cast<std::size_t>(p)] = true;
    for (int run = 0; run <= table.loops[static_cast<std::size_t>(p)] && px < width; ++run) {
      const CurvePen pen = grey ? CurvePen::Grey : run == 0 ? CurvePen::Green : CurvePen::Navy;
      for (int s = 0; s <= MaxStep(table, p) && px < width; ++s) {
        if (Time(table, p, s) == 0) continue;
        t += Time(table, p, s);
        const int nx = x(t);
        const int ny = y(SetValue(table, p, s));
        curve.segments.push_back({px, py, nx, ny, pen});
        px = nx;
        py = ny;
      }
    }
    if (px >= width) break;
    const int next = Link(table, p);
    if (next == kLinkEnd) {
      curve.segments.push_back({px, py, width - 2, py, CurvePen::Olive});
      break;
    }
    // Coming back to a pattern already drawn: the rest repeats, in grey.
    if (visited[static_cast<std::size_t>(next)]) grey = true;
    p = next;
  }
  return curve;
}

}  // namespace kx
