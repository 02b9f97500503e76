// The notices of the user message window: for each user message code its two
// lines, whether the OK button is shown, and after how long the main window's
// Timer1 closes it (0: it waits for OK).
#pragma once

#include <array>
#include <optional>

#include "core/text/messages.h"

namespace kx {

struct UserMessage {
  int code;
  Msg line1;
  Msg line2;
  int closeAfterMs;  // 0: shown with OK, closed by the user
};

inline constexpr std::array<UserMessage, 5> kUserMessages{{
    {0, Msg::ReadyToUpdateKx3, Msg::WaitForKx3Reinitial, 3000},
    {251, Msg::AutoSyncSuccess, Msg::ConnectKx3eAndRepower, 3000},
    {252, Msg::ChangingProtocol, Msg::PleaseWait, 500},
    {254, Msg::UpdateSucceeded, Msg::EnjoyNewFirmware, 2500},
    {255, Msg::UpdateSucceeded, Msg::RepowerToEnableFirmware, 0},
}};

// The notice of a code, or nothing for a code that has none.
constexpr std::optional<UserMessage> FindUserMessage(int code) {
  for (const UserMessage& m : kUserMessages)
    if (m.code == code) return m;
  return std::nullopt;
}

}  // namespace kx
