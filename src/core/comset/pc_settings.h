// The PC-mode page of the communication settings window without its widgets:
// which radio items and port button the page shows for a port settings word,
// and storing the user's choice in the settings file.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "core/line/session.h"
#include "core/line/settings.h"

namespace kx {

struct PcSettingsPage {
  // Item indexes of Baudrate, Parity, DataLen, StopBit and Format (port unused).
  SettingsFields items;
  // The checked port button; 0 when no port exists (no button checked).
  int currentPort = 0;
  // No port is present: the page reports "No COM Port Exist".
  bool noPortExists = false;
  // DataLen can be changed (ASCII); RTU always uses 8 data bits.
  bool dataLenEnabled = true;
};

// The page for a word. A stored port that is not present gives way to the
// lowest present port 1..12. Field values the radio groups do not have (baud
// codes 5-7, parity code 3 from a hand-edited file) show the group's first item.
// RTU shows "8 Bits", whatever the word's data bit says, since RTU frames need
// all eight bits.
PcSettingsPage PcSettingsFromWord(std::int32_t word, const std::array<bool, Session::kPortSlots>& present);

// Which groups of the page the user may change for the line behind the chosen
// port, and the note that says why the others are off (empty on a line the
// program sets itself). Only the controls follow the line: the stored values
// stay as they are, since other lines and the settings file use them.
struct PcPageControls {
  bool formatEnabled = true;   // Baudrate, Parity, StopBit
  bool dataLenEnabled = true;  // DataLen: the format is the program's and the form is ASCII
  bool formEnabled = true;     // Format
  std::string note;
};
PcPageControls PcControlsFor(const Session& session, int comNumber, bool rtu);

enum class StoreOutcome {
  Unchanged,    // same word and the file was read: nothing written
  Written,      // the word was taken and written to the settings file
  WriteFailed,  // the word was taken for this run but the file could not be written
};

// OK on the page: the word made of `chosen` (its port is the current port)
// becomes the port settings word and is written to "SETKX.$$$" when it differs
// from the word in force or the settings file was not read.
StoreOutcome StorePcSettings(Session& session, const SettingsFields& chosen);

}  // namespace kx
