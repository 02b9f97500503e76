// Which menu and tool-bar actions of the main window may start while a given
// window holds the serial line. An action that is not allowed shows
// "COM Port In Use !!!" and does nothing else; no action sets the line owner
// itself (each window does that when it opens a port).
#pragma once

#include "core/line/session.h"

namespace kx {

enum class MainAction { SetPc, SetKx3, Monitor, Recorder, Tester, FirmwareUpdate, Exit, About };

// True when `action` may start while `owner` holds the line.
bool ActionAllowed(MainAction action, LineOwner owner);

}  // namespace kx
