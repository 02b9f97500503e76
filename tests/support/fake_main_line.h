// A session whose main port is a FakePort, routed as the main window routes
// it: enough to run a panel of the main port without the main window.
// Header-only.
#pragma once

#include "core/routing/main_routing.h"
#include "core/line/session.h"
#include "support/fake_port.h"

namespace kx::test {

struct FakeMainLine {
  Session session;
  FakePort port;
  MainPortRouting routing{session, port};
};

}  // namespace kx::test
