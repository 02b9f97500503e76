// The soak run's phase plan: whole phases, a cut last phase, never an empty
// one, and only whole clean phases after a fault judged.
#include <gtest/gtest.h>

#include "../../bench/soak_bench_plan.h"

namespace kx::bench {
namespace {

TEST(SoakBenchPlan, PhasesCoverTheRunWithoutAnEmptyOne) {
  struct Case {
    int total;
    int phase;
    std::size_t phases;
    int lastSeconds;
  };
  // The default run (30 min, 30 s) divides evenly: 60 phases, none empty.
  for (const Case& c : {Case{1800, 30, 60, 30}, Case{95, 30, 4, 5}, Case{20, 30, 1, 20}, Case{60, 30, 2, 30}}) {
    SCOPED_TRACE(c.total);
    const auto plan = SoakPlan(c.total, c.phase, 8);
    ASSERT_EQ(plan.size(), c.phases);
    EXPECT_EQ(plan.back().seconds, c.lastSeconds);
    EXPECT_EQ(plan.back().start + plan.back().seconds, c.total);
    for (const SoakPhase& p : plan) EXPECT_GT(p.seconds, 0);
  }
}

TEST(SoakBenchPlan, OnlyWholeCleanPhasesAfterAFaultAreJudged) {
  const auto plan = SoakPlan(5 * 30 + 10, 30, 8);  // clean, fault 1, clean, fault 2, clean, fault 3 (10 s)
  const std::vector<std::size_t> kinds = {0, 1, 0, 2, 0, 3};
  const std::vector<bool> judged = {false, false, true, false, true, false};
  ASSERT_EQ(plan.size(), kinds.size());
  for (std::size_t i = 0; i < plan.size(); ++i) {
    EXPECT_EQ(plan[i].kind, kinds[i]) << i;
    EXPECT_EQ(plan[i].judged, judged[i]) << i;
  }
  // A clean phase cut short at the end is reported, not judged.
  const auto cut = SoakPlan(2 * 30 + 12, 30, 8);
  EXPECT_FALSE(cut.back().judged);
  const std::vector<std::string> names = {"clean", "bad check", "silent"};
  EXPECT_EQ(SoakPhaseText(cut, 0, names, 30), "clean (start, not judged)");
  EXPECT_EQ(SoakPhaseText(cut, 1, names, 30), "bad check");
  EXPECT_EQ(SoakPhaseText(cut, 2, names, 30), "clean after bad check (cut to 12 s, not judged)");
  const auto plan2 = SoakPlan(3 * 30, 30, 2);
  EXPECT_EQ(SoakPhaseText(plan2, 2, names, 30), "clean after bad check");
}

}  // namespace
}  // namespace kx::bench
