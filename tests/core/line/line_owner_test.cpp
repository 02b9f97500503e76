#include "core/line/line_owner.h"

#include <gtest/gtest.h>

#include <array>
#include <set>

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

}  // namespace
}  // namespace kx
