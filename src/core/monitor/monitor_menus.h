// The monitor's menu items that follow the engine, as a pure function of what
// the engine knows: the engine recomputes them after every event and tells
// the window when they changed.
#pragma once

#include <cstdint>

namespace kx {

// Enabled/checked state of the monitor's menu items that the engine governs.
struct MonitorMenus {
  bool file = false;       // FILE1
  bool parameter = false;  // PARAMETER1
  bool view = false;       // VIEW1
  bool upload = false;     // UPLOAD1
  bool rampSoak = false;   // RampSoakprogram1
  bool save = false;       // SAVE1
  bool saveAs = false;     // SAVEAS1
  bool download = false;   // DOWNLOAD1
  bool writeAll = false;   // WRITEALL
  bool settingChecked = false;  // SETTING1
  bool recordChecked = false;   // RECORD1
  friend bool operator==(const MonitorMenus&, const MonitorMenus&) = default;
};

struct MenuFacts {
  bool running = false;            // a device is connected and the port is open
  bool selectedDetailRead = false; // the selected device's model detail was read
  std::uint8_t selectedModel = 0xFF;
  std::uint8_t selectedSecurityMode = 0;  // KX3
  std::uint16_t selectedComWrite = 0xFF;  // KX2: remote writing enabled when 1
  bool bufferValid = false;        // the parameter buffer holds an upload or a loaded file
  bool fileChosen = false;         // SAVE AS succeeded since the engine started
};

// FILE, PARAMETERS and VIEW while running, SETTING checked; UPLOAD and RAMP
// SOAK PROGRAM as the transfer rules offer them for the selected device
// (transfer_rules.h: its model detail read, a KX3 only in a security mode that
// allows the upload, the ramp/soak program on a KX2 with remote writing
// enabled); SAVE AS and both write commands while the buffer is valid, SAVE
// when a file was chosen as well.
MonitorMenus MenusFor(const MenuFacts& facts);

}  // namespace kx
