// The chart: geometry, the scale and grid rules as a table, and what the
// drawing puts on the surface (one column per sample, scroll, time lines,
// value boxes, full redraw when the automatic scale must grow).
#include "core/recorder/chart.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "recording_surface.h"

namespace kx::recorder {
namespace {

TEST(ChartGeometry, FromWindowWidth) {
  const ChartGeometry g = ChartGeometry::ForWidth(808);
  EXPECT_EQ(g.left, 35);
  EXPECT_EQ(g.right, 755);
  EXPECT_EQ(g.top, 5);
  EXPECT_EQ(g.bottom, 345);
  EXPECT_EQ(g.width, 795);
  EXPECT_EQ(g.height, 365);
  EXPECT_EQ(g.columns, 720);
  EXPECT_EQ(ChartGeometry::ForWidth(1280).columns, 1141);
  // Wider windows would need more columns than the chart memory holds.
  EXPECT_EQ(ChartGeometry::ForWidth(2560).columns, kChartMemoryColumns);
}

TEST(ChartScale, FactorAndModeRules) {
  struct Case {
    const char* name;
    bool autoMode;
    int range;
    int height;
    FactorMode expected;
  };
  const Case cases[] = {
      {"auto expand largest factor fitting", true, 62, 335, {true, 5}},
      {"auto expand capped at 10", true, 3, 335, {true, 10}},
      {"auto expand down to 1", true, 300, 335, {true, 1}},
      {"auto compress", true, 1000, 335, {false, 3}},
      {"auto compress exact", true, 670, 335, {false, 2}},
      {"fix expand", false, 62, 335, {true, 5}},
      {"fix expand small range", false, 3, 335, {true, 111}},
      {"fix compress", false, 1000, 335, {false, 2}},
      {"range equal to height compresses", true, 335, 335, {false, 1}},
  };
  for (const Case& c : cases) EXPECT_EQ(ChooseFactor(c.autoMode, c.range, c.height), c.expected) << c.name;
}

TEST(ChartScale, FrameScaleTable) {
  struct Case {
    const char* name;
    bool autoMode;
    const char* maxText;
    const char* minText;
    Extremes extremes;
    bool expand;
    int factor, base, max, step;
    bool fellBack;
  };
  const Case cases[] = {
      {"auto 200..260", true, "", "", {260, 200}, true, 5, 196, 264, 10, false},
      {"fix 0..100", false, "100", "0", {260, 200}, true, 3, -7, 107, 20, false},
      {"fix equal values falls back to auto", false, "100", "100", {260, 200}, true, 5, 196, 264, 10, true},
      {"fix letters fall back to auto", false, "abc", "0", {260, 200}, true, 5, 196, 264, 10, true},
      {"fix max below min falls back", false, "0", "100", {260, 200}, true, 5, 196, 264, 10, true},
      {"auto wide range compresses", true, "", "", {3000, -500}, false, 11, -642, 3142, 550, false},
      {"auto negative", true, "", "", {-200, -260}, true, 5, -264, -196, 10, false},
      {"fix blanks around numbers", false, " 50 ", " -50", {0, 0}, true, 3, -57, 57, 20, false},
  };
  for (const Case& c : cases) {
    const Scale s = ChooseScale(c.autoMode, c.maxText, c.minText, c.extremes, 345);
    EXPECT_EQ(s.expand, c.expand) << c.name;
    EXPECT_EQ(s.factor, c.factor) << c.name;
    EXPECT_EQ(s.base, c.base) << c.name;
    EXPECT_EQ(s.min, c.base) << c.name;
    EXPECT_EQ(s.max, c.max) << c.name;
    EXPECT_EQ(s.gridStep, c.step) << c.name;
    EXPECT_EQ(s.fellBackToAuto, c.fellBack) << c.name;
  }
}

TEST(ChartScale, GridLinesOfTheExample) {
  const ChartGeometry g = ChartGeometry::ForWidth(808);
  const Scale s = ChooseScale(true, "", "", {260, 200}, g.bottom);
  std::vector<int> values;
  for (const GridLine& line : GridLines(s, g)) {
    values.push_back(line.value);
    EXPECT_TRUE(line.labelled) << line.value;
    EXPECT_EQ(line.y, g.bottom - (line.value - 196) * 5);
  }
  EXPECT_EQ(values, (std::vector<int>{200, 210, 220, 230, 240, 250, 260}));
  // Compress mode: y by truncating division, labels only clear of the edges.
  const Scale c = ChooseScale(true, "", "", {3000, -500}, g.bottom);
  const auto lines = GridLines(c, g);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.front().value, -550);
  EXPECT_EQ(lines.front().y, 345 - (-550 + 642) / 11);
  for (const GridLine& line : lines) EXPECT_EQ(line.labelled, line.y > 11 && line.y < 335) << line.value;
}

TEST(ChartScale, WholeNumbers) {
  EXPECT_EQ(WholeNumber("123"), 123);
  EXPECT_EQ(WholeNumber(" 00000123"), 123);
  EXPECT_EQ(WholeNumber("-5"), -5);
  EXPECT_EQ(WholeNumber(""), std::nullopt);
  EXPECT_EQ(WholeNumber("12a"), std::nullopt);
  EXPECT_EQ(WholeNumber("1.5"), std::nullopt);
  EXPECT_EQ(WholeNumber("99999999999"), std::nullopt);
}

TEST(ChartColours, ForegroundFollowsBackground) {
  EXPECT_EQ(BackgroundColour(4), 0x000080u);  // navy
  EXPECT_EQ(ForegroundFor(4), 0xFFFFFFu);
  EXPECT_EQ(BackgroundColour(11), 0xFFFF00u);  // yellow
  EXPECT_EQ(ForegroundFor(11), 0x000000u);
  EXPECT_EQ(BackgroundColour(15), 0xFFFFFFu);
}

class ChartDrawing : public ::testing::Test {
 protected:
  ChartDrawing() : chart(slots) {
    chart.SetGeometry(ChartGeometry::ForWidth(808));
    chart.SetSurface(&surface);
    slots[0].address = slots[0].boxAddress = 1;
  }
  // Stores and draws sample k with the live rule, as a completed cycle does.
  void Sample(long k, int value) {
    chart.StoreLiveValue(0, k, value);
    chart.StoreTime(k, {static_cast<std::uint8_t>(k / 3600 % 24), static_cast<std::uint8_t>(k / 60 % 60),
                        static_cast<std::uint8_t>(k % 60), 0});
    chart.DrawNewSample(k);
  }
  Slots slots{};
  RecordingSurface surface;
  Chart chart;
};

TEST_F(ChartDrawing, EmptyFrameBeforeAnything) {
  chart.FullRedraw(-1);
  EXPECT_EQ(surface.fills, 1);
  EXPECT_EQ(surface.scrolls, 0);
  EXPECT_TRUE(surface.Traces().empty());
}

TEST_F(ChartDrawing, OneColumnPerSampleAndScrollAt721st) {
  ASSERT_TRUE(chart.DecideDrawFlag());
  Sample(0, 230);
  EXPECT_EQ(surface.fills, 1);  // sample 0 draws the frame only
  for (long k = 1; k < 720; ++k) Sample(k, 230);
  EXPECT_EQ(surface.fills, 1);  // constant values never grow the scale
  EXPECT_EQ(surface.scrolls, 0);
  // The 721st sample fills the last column and scrolls by one pixel.
  Sample(720, 230);
  EXPECT_EQ(surface.scrolls, 1);
  EXPECT_EQ(surface.lastScroll, (RecordingSurface::Rect{35, 5, 770, 365}));
  const auto traces = surface.Traces();
  ASSERT_EQ(traces.size(), 720u);
  EXPECT_EQ(traces.front().x1, 35);
  EXPECT_EQ(traces.back().x2, 755);
  Sample(721, 230);
  EXPECT_EQ(surface.scrolls, 2);
  EXPECT_EQ(surface.Traces().back().x1, 35 + 719);
  EXPECT_EQ(chart.x(), 719);
  EXPECT_EQ(surface.valueBoxes[0], "23.0");
}

TEST_F(ChartDrawing, TimeLinesEverySixtySamplesWithLabels) {
  chart.DecideDrawFlag();
  for (long k = 0; k <= 120; ++k) Sample(k, 230);
  std::vector<int> dottedX;
  for (const auto& line : surface.lines)
    if (line.dotted) dottedX.push_back(line.x1);
  EXPECT_EQ(dottedX, (std::vector<int>{35 + 59, 35 + 119}));
  EXPECT_TRUE(surface.HasText("0:1:0"));
  EXPECT_TRUE(surface.HasText("0:2:0"));
  EXPECT_EQ(surface.sampleTime, "0:2:0");
  EXPECT_TRUE(surface.HasText("230"));  // value label beside the trace, in tenths
}

TEST_F(ChartDrawing, GrowingValuesRedrawTheWholeChart) {
  chart.DecideDrawFlag();
  Sample(0, 230);
  Sample(1, 231);
  const int fillsBefore = surface.fills;
  Sample(2, 900);  // above the scale: full redraw
  EXPECT_EQ(surface.fills, fillsBefore + 1);
  EXPECT_GE(chart.scale().max, 900);
  EXPECT_EQ(surface.scaleMax, chart.scale().max);
  // Fix mode never redraws for values outside its scale.
  chart.SetAutoMode(false);
  chart.SetFixTexts("100", "0");
  chart.FullRedraw(2);
  const int fillsFix = surface.fills;
  Sample(3, 5000);
  EXPECT_EQ(surface.fills, fillsFix);
  EXPECT_EQ(surface.Traces().back().y2, 5);  // clamped to the top
}

TEST_F(ChartDrawing, FixWithUnusableFieldsFallsBackToAuto) {
  chart.SetAutoMode(false);
  chart.SetFixTexts("100", "100");
  chart.DecideDrawFlag();
  Sample(0, 230);
  EXPECT_TRUE(chart.autoMode());
  EXPECT_TRUE(surface.fellBack);
}

TEST_F(ChartDrawing, ErrorMarkerShowsErrAndEndsTheTrace) {
  chart.DecideDrawFlag();
  slots[2].address = 3;
  chart.StoreReplayValue(0, 0, -5);
  chart.StoreReplayValue(2, 0, -250);
  chart.DrawNewSample(0);
  chart.StoreReplayValue(0, 1, -5);
  chart.StoreReplayValue(2, 1, kErrorMarker);
  chart.DrawNewSample(1);
  EXPECT_EQ(surface.valueBoxes[0], "-0.5");
  EXPECT_EQ(surface.valueBoxes[2], "Err");
  EXPECT_EQ(slots[2].address, 0);
  for (const auto& line : surface.Traces()) EXPECT_NE(line.colour, SlotColour(2));
}

TEST_F(ChartDrawing, HiddenSlotsAreNotDrawnAndBackgroundSetsForeground) {
  chart.SetBackground(4);  // navy
  slots[0].display = false;
  EXPECT_FALSE(chart.DecideDrawFlag());
  Sample(0, 1);
  EXPECT_EQ(surface.fills, 0);
  chart.Clear();
  EXPECT_EQ(surface.lastFill, 0x000080u);
  EXPECT_EQ(surface.lines.back().colour, 0xFFFFFFu);  // axes in white
}

TEST_F(ChartDrawing, LiveExtremesForgetScrolledValuesAtTimeLines) {
  chart.DecideDrawFlag();
  Sample(0, 900);
  for (long k = 1; k < 720; ++k) Sample(k, 200);
  EXPECT_EQ(chart.SlotMax(0), 900);
  Sample(720, 200);  // overwrites column 0, on a time line: recomputed
  EXPECT_EQ(chart.SlotMax(0), 200);
  EXPECT_EQ(chart.SlotMin(0), 200);
}

}  // namespace
}  // namespace kx::recorder
