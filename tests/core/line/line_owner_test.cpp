#include "core/line/line_owner.h"

#include <gtest/gtest.h>

#include <array>
#include <set>
#include <utility>

namespace kx {
namespace {

// Every action against every owner, with the owners under which it may start.
TEST(LineOwnerTest, AllowedOwnersPerAction) {
  using O = LineOwner;
  struct Case {
    MainAction action;
    std::set<O> allowed;
  };
  const std::set<O> any{O::Free, O::Tester, O::Setup, O::Monitor, O::Recorder, O::Firmware};
  const std::array<Case, 8> cases{{
      {MainAction::SetPc, {O::Free}},
      {MainAction::SetKx3, {O::Free, O::Setup}},
      {MainAction::Monitor, {O::Free, O::Monitor}},
      {MainAction::Recorder, {O::Free, O::Recorder}},
      {MainAction::Tester, {O::Free, O::Tester}},
      {MainAction::FirmwareUpdate, {O::Free, O::Firmware}},
      {MainAction::Exit, any},
      {MainAction::About, any},
  }};
  for (const Case& c : cases) {
    for (O owner : any) {
      EXPECT_EQ(ActionAllowed(c.action, owner), c.allowed.count(owner) == 1)
          << "action " << static_cast<int>(c.action) << " owner " << static_cast<int>(owner);
    }
  }
}

// A lease frees the line once, and never after the line was handed on.
TEST(LineLeaseTest, FreesOnlyWhileItHoldsTheLine) {
  Session session;
  {
    LineLease monitor = session.TakeLine(LineOwner::Monitor);
    EXPECT_EQ(session.lineOwner, LineOwner::Monitor);
    EXPECT_TRUE(monitor.Held());
  }  // destroyed: freed
  EXPECT_EQ(session.lineOwner, LineOwner::Free);

  LineLease first = session.TakeLine(LineOwner::Tester);
  LineLease second = session.TakeLine(LineOwner::Tester);  // taken again by the same window
  EXPECT_FALSE(first.Held());
  first.Release();  // the older lease frees nothing
  EXPECT_EQ(session.lineOwner, LineOwner::Tester);
  LineLease moved = std::move(second);
  second.Release();  // moved from: empty
  EXPECT_EQ(session.lineOwner, LineOwner::Tester);
  moved = session.TakeLine(LineOwner::Recorder);  // assigning releases nothing it no longer holds
  EXPECT_EQ(session.lineOwner, LineOwner::Recorder);
  moved.Release();
  EXPECT_EQ(session.lineOwner, LineOwner::Free);
  moved.Release();
  EXPECT_EQ(session.lineOwner, LineOwner::Free);
}

}  // namespace
}  // namespace kx
