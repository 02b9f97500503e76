#include <gtest/gtest.h>

#include "core/ramp/program_curve.h"

namespace kx {
namespace {

ProgramTable OnePattern() {
  ProgramTable t;
  t.link.fill(kLinkEnd);
  return t;
}

TEST(ProgramCurveTest, TwoStepsThenTheEndLevelInOlive) {
  ProgramTable t = OnePattern();
  t.maxStep[0] = 1;
  t.setValue[0] = 1000, t.time[0] = 60;
  t.setValue[1] = 500, t.time[1] = 30;
  const ProgramCurve c = ComputeCurve(t);
  ASSERT_TRUE(c.drawn);
  // Range 500 > 90 rows: y = (1000 - v) / 6 + 2; total 90 <= 530: x = t * 5.
  const std::vector<CurveSegment> expected = {
      {0, 2, 300, 2, CurvePen::Green},
      {300, 2, 450, 85, CurvePen::Green},
      {450, 85, 558, 85, CurvePen::Olive},
  };
  EXPECT_EQ(c.segments, expected);
}

TEST(ProgramCurveTest, SelfLinkedStartRunsOnInGreyToTheRightEdge) {
  ProgramTable t = OnePattern();
  t.start = 2;
  t.link[2] = 2;
  t.setValue[16] = 100, t.time[16] = 10;
  const ProgramCurve c = ComputeCurve(t);
  ASSERT_EQ(c.segments.size(), 2U);
  EXPECT_EQ(c.segments[0], (CurveSegment{0, 2, 530, 2, CurvePen::Green}));
  EXPECT_EQ(c.segments[1].pen, CurvePen::Grey);
  EXPECT_GE(c.segments[1].x1, kCurveWidth);
}

TEST(ProgramCurveTest, RepetitionsInNavyAndAChainBackInGrey) {
  ProgramTable t = OnePattern();
  t.loops[0] = 1;
  t.link[0] = 1;
  t.link[1] = 0;  // the chain comes back to pattern 0
  t.setValue[0] = 10, t.time[0] = 100;
  t.setValue[8] = 20, t.time[8] = 100;
  const ProgramCurve c = ComputeCurve(t);
  ASSERT_GE(c.segments.size(), 4U);
  EXPECT_EQ(c.segments[0].pen, CurvePen::Green);
  EXPECT_EQ(c.segments[1].pen, CurvePen::Navy);
  EXPECT_EQ(c.segments[2].pen, CurvePen::Green);
  EXPECT_EQ(c.segments[3].pen, CurvePen::Grey);
}

TEST(ProgramCurveTest, NothingForZeroTimeAndOutOfRangeValuesStayBounded) {
  ProgramTable zero = OnePattern();
  zero.setValue[0] = 500;
  EXPECT_FALSE(ComputeCurve(zero).drawn);
  EXPECT_TRUE(ComputeCurve(zero).segments.empty());

  // Max step, link and start beyond the table, loops at their byte's limit,
  // and a cycle whose steps take no time: the curve still ends.
  ProgramTable wild;
  wild.start = 200;
  wild.maxStep.fill(250);
  wild.loops.fill(255);
  wild.link.fill(7);
  wild.link[7] = 6;
  wild.link[6] = 6;
  wild.time[56] = 5;
  wild.setValue[56] = -32768;
  wild.setValue[57] = 32767;
  const ProgramCurve c = ComputeCurve(wild);
  EXPECT_TRUE(c.drawn);
  EXPECT_LT(c.segments.size(), 100000U);
  for (const CurveSegment& s : c.segments) {
    EXPECT_GE(s.y1, 2);
    EXPECT_LE(s.y1, kCurveHeight);
  }
  ProgramTable badLink = OnePattern();
  badLink.link[0] = 99;
  badLink.time[0] = 10;
  EXPECT_EQ(ComputeCurve(badLink).segments.back().pen, CurvePen::Olive);
}

}  // namespace
}  // namespace kx
