#include "core/line/line_owner.h"

#include <array>
#include <cstdint>

namespace kx {

namespace {

constexpr std::uint32_t Bit(LineOwner owner) { return 1U << static_cast<int>(owner); }
constexpr std::uint32_t kAnyOwner = 0xFFFFFFFFU;

struct ActionRule {
  MainAction action;
  std::uint32_t allowedOwners;
};

// Every window may start while the line is free or while it holds the line itself;
// SET KX3 may also resume after a protocol change that left the line with the
// settings window (owner 2).
constexpr std::array<ActionRule, 8> kRules{{
    {MainAction::SetPc, Bit(LineOwner::Free)},
    {MainAction::SetKx3, Bit(LineOwner::Free) | Bit(LineOwner::Setup)},
    {MainAction::Monitor, Bit(LineOwner::Free) | Bit(LineOwner::Monitor)},
    {MainAction::Recorder, Bit(LineOwner::Free) | Bit(LineOwner::Recorder)},
    {MainAction::Tester, Bit(LineOwner::Free) | Bit(LineOwner::Tester)},
    {MainAction::FirmwareUpdate, Bit(LineOwner::Free) | Bit(LineOwner::Firmware)},
    {MainAction::Exit, kAnyOwner},
    {MainAction::About, kAnyOwner},
}};

}  // namespace

bool ActionAllowed(MainAction action, LineOwner owner) {
  for (const ActionRule& rule : kRules) {
    if (rule.action == action) return (rule.allowedOwners & Bit(owner)) != 0;
  }
  return false;
}

}  // namespace kx
