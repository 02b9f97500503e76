// Trend: the scale (multiply and divide modes, base value, grid), the ring with
// its extremes, wrap and two-minute recomputation, and what each timer tick
// draws (full or incremental, scrolling, minute markers).
#include "core/monitor/trend.h"

#include <gtest/gtest.h>

namespace kx::trend {
namespace {

TEST(TrendScale, Examples) {
  struct Case {
    const char* name;
    int min, max;
    ScaleMode mode;
    int k, grid;
  } cases[] = {
      {"constant PV", 250, 250, ScaleMode::Multiply, 10, 10},
      {"span 1000 with room 195", 0, 1000, ScaleMode::Divide, 6, 500},
      {"span 19 still fits ten pixels per tenth", 0, 19, ScaleMode::Multiply, 10, 10},
      {"span 20 takes nine", 0, 20, ScaleMode::Multiply, 9, 10},
      {"span 100 takes one", 0, 100, ScaleMode::Multiply, 1, 50},
      {"span 195 divides by one", 0, 195, ScaleMode::Divide, 1, 100},
      {"span 8000 divides by 41", 0, 8000, ScaleMode::Divide, 41, 2000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Scale s = ComputeScale(c.min, c.max, 225);
    EXPECT_EQ(s.mode, c.mode);
    EXPECT_EQ(s.k, c.k);
    EXPECT_EQ(s.GridStep(), c.grid);
  }
}

TEST(TrendScale, MiddleValueAtMidHeight) {
  const Geometry g;
  const Scale flat = ComputeScale(250, 250, g.bottom);
  EXPECT_NEAR(flat.Y(250, g), g.bottom / 2, 10);
  const Scale wide = ComputeScale(-500, 500, g.bottom);
  EXPECT_NEAR(wide.Y(0, g), g.bottom / 2, 6);
  EXPECT_GT(wide.Y(-500, g), wide.Y(500, g));
}

TEST(TrendScale, GridLabelsAndNegativeBase) {
  const Geometry g;
  const Scale s = ComputeScale(-800, 200, g.bottom);  // divide by 6, grid 50.0
  const auto grid = Grid(s, g);
  ASSERT_FALSE(grid.empty());
  EXPECT_EQ(grid.front().value % 500, 0);
  EXPECT_LE(grid.front().value - 500, s.v0) << "starts from the multiple below the base";
  EXPECT_GT(grid.front().value, s.v0);
  for (const GridLine& line : grid) EXPECT_GE(line.y, 1);
  bool sawNegative = false;
  for (const GridLine& line : grid) {
    if (line.value == -500) {
      sawNegative = true;
      EXPECT_EQ(line.label, "-50.0");
    }
  }
  EXPECT_TRUE(sawNegative);
  EXPECT_EQ(TenthsText(1234), "123.4");
  EXPECT_EQ(TenthsText(-5), "-0.5");
}

std::array<bool, kDevices> Only(int d) {
  std::array<bool, kDevices> c{};
  c[static_cast<std::size_t>(d)] = true;
  return c;
}
std::array<std::uint16_t, kDevices> Pv(int d, int value) {
  std::array<std::uint16_t, kDevices> p{};
  p[static_cast<std::size_t>(d)] = static_cast<std::uint16_t>(value);
  return p;
}

TEST(TrendTick, FirstDrawingIsFullThenIncremental) {
  Trend t;
  // The first sample lies on the axis: nothing to draw yet.
  EXPECT_EQ(t.Tick(Only(0), Pv(0, 250), 0, true).kind, TickDrawing::Kind::None);
  EXPECT_EQ(t.Tick(Only(0), Pv(0, 250), 0, true).kind, TickDrawing::Kind::Full);
  const TickDrawing second = t.Tick(Only(0), Pv(0, 251), 0, true);
  ASSERT_EQ(second.kind, TickDrawing::Kind::Incremental);
  EXPECT_EQ(second.incremental.segment.to.x, t.geometry().left + 2);
  EXPECT_FALSE(second.incremental.scroll);
  // A value far outside the band rescales with a full drawing.
  EXPECT_EQ(t.Tick(Only(0), Pv(0, 900), 0, true).kind, TickDrawing::Kind::Full);
  // Hidden view: samples are taken, nothing drawn.
  EXPECT_EQ(t.Tick(Only(0), Pv(0, 900), 0, false).kind, TickDrawing::Kind::None);
  EXPECT_EQ(t.RingOf(0).writeIndex(), 5);
  // No device: the timer stops.
  EXPECT_EQ(t.Tick({}, {}, 0, true).kind, TickDrawing::Kind::StopTimer);
}

TEST(TrendTick, NegativePvIsPlottedBelowZero) {
  Trend t;
  t.Tick(Only(1), Pv(1, 0xFF9C), 1, false);  // -10.0
  t.Tick(Only(1), Pv(1, 0xFF9C), 1, false);
  EXPECT_EQ(t.RingOf(1).min(), -100);
  EXPECT_EQ(t.RingOf(1).max(), -100);
}

TEST(TrendTick, WrapScrollsAndFullDrawingShowsOldestAtLeft) {
  Geometry g;
  g.left = 10;
  g.right = 40;  // 30 samples
  Trend t(g);
  for (int i = 0; i < 30; ++i) t.Tick(Only(0), Pv(0, 1000 + i), 0, false);
  EXPECT_FALSE(t.RingOf(0).wrapped());
  t.Tick(Only(0), Pv(0, 1030), 0, false);
  EXPECT_TRUE(t.RingOf(0).wrapped());
  // Oldest kept sample (1001) at left + 1, the newest at the right edge.
  const FullDrawing full = t.Full(0);
  ASSERT_EQ(full.curve.size(), 30U);
  EXPECT_EQ(full.curve.front().to.x, g.left + 1);
  EXPECT_EQ(full.curve.back().to.x, g.right);
  EXPECT_EQ(full.curve.front().to.y, full.scale.Y(1001, g));
  EXPECT_EQ(full.curve.back().to.y, full.scale.Y(1030, g));
  const TickDrawing next = t.Tick(Only(0), Pv(0, 1015), 0, true);
  ASSERT_EQ(next.kind, TickDrawing::Kind::Incremental);
  EXPECT_TRUE(next.incremental.scroll);
  EXPECT_EQ(next.incremental.segment.to.x, g.right);
}

TEST(TrendTick, MinuteMarkersCarryValuesPastFortyPixels) {
  Trend t;
  for (int i = 0; i < 130; ++i) t.Tick(Only(0), Pv(0, 200), 0, false);
  const FullDrawing full = t.Full(0);
  ASSERT_EQ(full.markers.size(), 2U);  // ticks 60 and 120
  EXPECT_EQ(full.markers[0].x, t.geometry().left + 60);
  EXPECT_EQ(full.markers[0].label, "20.0");
  Geometry g;
  g.right = g.left + 100;
  Trend early(g);
  for (int i = 0; i < 62; ++i) early.Tick(Only(0), Pv(0, 200), 0, false);
  // After a wrap the minute at tick 60 sits within the first 40 pixels.
  for (int i = 0; i < 70; ++i) early.Tick(Only(0), Pv(0, 200), 0, false);
  const FullDrawing wrapped = early.Full(0);
  ASSERT_FALSE(wrapped.markers.empty());
  for (const Marker& m : wrapped.markers) EXPECT_EQ(m.label.empty(), m.x - g.left <= 40) << m.x;
  const TickDrawing inc = [&] {
    Trend u;
    u.Tick(Only(0), Pv(0, 200), 0, true);
    TickDrawing d;
    for (int i = 1; i <= 60; ++i) d = u.Tick(Only(0), Pv(0, 200), 0, true);
    return d;
  }();
  ASSERT_EQ(inc.kind, TickDrawing::Kind::Incremental);
  ASSERT_TRUE(inc.incremental.marker.has_value());
  EXPECT_EQ(inc.incremental.marker->label, "20.0");
}

TEST(TrendTick, TwoMinuteRecomputationShrinksTheScale) {
  Geometry g;
  g.right = g.left + 100;
  Trend t(g);
  t.Tick(Only(0), Pv(0, 0), 0, true);
  t.Tick(Only(0), Pv(0, 0), 0, true);
  t.Tick(Only(0), Pv(0, 1000), 0, true);  // span 1000: full drawing, divide mode
  for (int i = 0; i < 200; ++i) t.Tick(Only(0), Pv(0, 500), 0, false);
  // Wrapped and at a multiple of 120 ticks the extremes shrank to nothing.
  while (!(t.RingOf(0).wrapped() && t.RingOf(0).tickCount() % 120 == 0)) t.Tick(Only(0), Pv(0, 500), 0, false);
  EXPECT_EQ(t.Tick(Only(0), Pv(0, 500), 0, true).kind, TickDrawing::Kind::Full);
  EXPECT_EQ(t.RingOf(0).max() - t.RingOf(0).min(), 0);
  EXPECT_EQ(t.scale().mode, ScaleMode::Multiply);
}

TEST(TrendRing, TickCountWrapsKeepingMinutes) {
  Ring r(5);
  for (int i = 0; i < 12000; ++i) {
    r.Store(0);
    r.Step();
  }
  EXPECT_EQ(r.tickCount(), 120);
}

TEST(TrendRing, ResizeKeepsTheNewestSamples) {
  Ring r(10);
  for (int i = 0; i < 25; ++i) {
    r.Store(i);
    r.Step();
  }
  r.Resize(4);
  EXPECT_TRUE(r.wrapped());
  EXPECT_EQ(r.At(r.newest()), 24);
  EXPECT_EQ(r.min(), 21);
  r.Resize(40);
  EXPECT_FALSE(r.wrapped());
  EXPECT_EQ(r.At(r.newest()), 24);
  r.Store(25);
  EXPECT_EQ(r.At(r.newest()), 25);
  EXPECT_EQ(r.newest(), 4);
}

}  // namespace
}  // namespace kx::trend
