// The poll cycle walked without a port: the order of request types and devices.
#include "core/monitor/poll_cycle.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kx {
namespace {

using T = RequestType;
constexpr RequestType Page(int n) { return static_cast<RequestType>(n); }

PollFacts Connected(std::initializer_list<int> devices, int selected) {
  PollFacts f;
  for (int d : devices) f.devices[static_cast<std::size_t>(d)].connected = true;
  f.selected = selected;
  return f;
}

// Positions visited from `at`, the first included; the facts' one-shot
// requests (refresh, re-identify, pending identification, unlock) are
// consumed as the engine consumes them.
std::vector<PollPosition> Walk(PollPosition at, PollFacts facts, int steps) {
  std::vector<PollPosition> seen{at};
  for (int i = 1; i < steps; ++i) {
    const PollStep step = AdvancePoll(at, facts);
    at = step.next;
    facts.refresh = step.refresh;
    if (step.reidentifyTaken) facts.reidentifySelected = false;
    if (ValidDevice(step.identifyTaken))
      facts.devices[static_cast<std::size_t>(step.identifyTaken)].identifyPending = false;
    facts.unlocked = false;
    seen.push_back(at);
  }
  return seen;
}

struct WalkCase {
  const char* name;
  PollFacts facts;
  PollPosition from;
  std::vector<PollPosition> expected;
};

PollFacts With(PollFacts f, void (*change)(PollFacts&)) {
  change(f);
  return f;
}

TEST(PollCycle, Walks) {
  const std::vector<WalkCase> cases = {
      {"NewDeviceIdentifiedThenCycleWithPages",
       With(Connected({0}, 0), [](PollFacts& f) { f.refresh = true; }),
       {T::Identify, 0},
       {{T::Identify, 0}, {T::ModelDetail, 0}, {T::Status2, 0}, {T::PvSv, 0}, {T::Status4, 0},
        {T::PvSv5, 0}, {T::Status6, 0}, {T::Security, 0}, {T::PageFirst, 0}, {Page(11), 0}}},
      {"TwoDevicesInterleaveAndProgramOnlyWhereItRuns",
       With(Connected({0, 2}, 2), [](PollFacts& f) { f.devices[2].programRunning = true; }),
       {T::Status6, 0},
       {{T::Status6, 0}, {T::Status6, 2}, {T::Security, 0}, {T::Security, 2}, {T::Program, 2},
        {T::Status2, 0}, {T::Status2, 2}}},
      {"PendingIdentificationTakesTheDevicesSlot",
       With(Connected({0, 1}, 0), [](PollFacts& f) { f.devices[1].identifyPending = true; }),
       {T::PvSv, 0},
       {{T::PvSv, 0}, {T::Identify, 1}, {T::ModelDetail, 1}, {T::Status2, 0}, {T::Status2, 1}}},
      {"ReidentifyingTheSelectedGoesFirstAndRefreshes",
       With(Connected({0, 3}, 3), [](PollFacts& f) { f.reidentifySelected = true; }),
       {T::Status4, 0},
       {{T::Status4, 0}, {T::Identify, 3}, {T::ModelDetail, 3}, {T::Status2, 0}, {T::Status2, 3}}},
      {"FactoryPagesFollowThePages",
       With(Connected({1}, 1), [](PollFacts& f) { f.factoryMode = true; }),
       {Page(13), 1},
       {{Page(13), 1}, {T::PageLast, 1}, {T::FactoryFirst, 1}, {T::FactoryLast, 1}, {T::Status2, 1}}},
      {"RestrictedKx3NeverReadsPages",
       With(Connected({0}, 0), [](PollFacts& f) {
         f.selectedRestricted = true;
         f.refresh = true;
       }),
       {T::Security, 0},
       {{T::Security, 0}, {T::Status2, 0}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto seen = Walk(c.from, c.facts, static_cast<int>(c.expected.size()));
    ASSERT_EQ(seen.size(), c.expected.size());
    for (std::size_t i = 0; i < seen.size(); ++i) {
      EXPECT_EQ(TypeNumber(seen[i].type), TypeNumber(c.expected[i].type)) << "step " << i;
      EXPECT_EQ(seen[i].device, c.expected[i].device) << "step " << i;
    }
  }
}

TEST(PollCycle, WhatTheStepsAskOfTheEngine) {
  // End of a cycle with a refresh: the pages, lamp yellow, refresh consumed.
  auto f = Connected({0, 2}, 2);
  f.refresh = true;
  PollStep s = AdvancePoll({T::Security, 2}, f);
  EXPECT_EQ(s.next, (PollPosition{T::PageFirst, 2}));
  EXPECT_FALSE(s.refresh);
  EXPECT_EQ(s.lamp, PagesLamp::ReadingParameters);

  // Factory mode: an unlock write before page 20, unless one was just acknowledged.
  f.factoryMode = true;
  s = AdvancePoll({T::PageLast, 2}, f);
  EXPECT_TRUE(s.unlock);
  EXPECT_EQ(s.lamp, PagesLamp::ReadingFactory);
  f.unlocked = true;
  EXPECT_FALSE(AdvancePoll({T::PageLast, 2}, f).unlock);

  // Pages ended without factory mode: calibration hidden, lamp lime, polling again.
  f.factoryMode = false;
  s = AdvancePoll({T::PageLast, 2}, f);
  EXPECT_TRUE(s.pagesEnded);
  EXPECT_EQ(s.lamp, PagesLamp::Good);
  EXPECT_EQ(s.next, (PollPosition{T::Status2, 0}));

  // A restricted KX3 lays out its panels at the end of each cycle.
  f.selectedRestricted = true;
  EXPECT_TRUE(AdvancePoll({T::Security, 2}, f).panelLayout);

  // Nothing connected any more.
  PollFacts none;
  none.selected = kNoDevice;
  EXPECT_TRUE(AdvancePoll({T::PageLast, 0}, none).noDeviceLeft);
}

}  // namespace
}  // namespace kx
