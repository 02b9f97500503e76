// The ramp/soak editor of the monitor: app makes it and wires it to the
// monitor's parameter files, which carry its transfers on the monitor's engine.
#pragma once

namespace kx::monitor {
class MonitorWindow;
}
namespace kx::ramp {
class RampSoakWindow;
}

namespace kx::app {

// Makes the editor as a window of the monitor (it lives as long as the
// monitor, keeps its contents when closed and reopened): RAMP SOAK PROGRAM
// shows it, Read Setting and Write run as the monitor's transfers and report
// back to it.
ramp::RampSoakWindow* AttachRampEditor(monitor::MonitorWindow& monitor);

}  // namespace kx::app
