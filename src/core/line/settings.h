// The port settings word (the user's choice of COM port and line format), its
// decoding into the port parameters, the settings file that keeps it between
// runs, the list of COM ports present, and opening a port with the parameters.
//
// Word layout (bit 0 least significant):
//   bit 0 stop bits (0: 1, 1: 2)      bit 1 data bits (0: 7, 1: 8)
//   bits 2-3 parity code (0 none, 1 even, 2 odd)
//   bits 4-6 baud code (0: 2400, 1: 4800, 2: 9600, 3: 19200, 4: 38400)
//   bit 7 form (0 ASCII, 1 RTU)        bits 8 and up: COM port number
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/line/comport.h"
#include "core/line/session.h"

namespace kx {

inline constexpr std::string_view kSettingsFileName = "SETKX.$$$";

// Line bits of the default word: 9600 bit/s, even parity, 7 data bits, 1 stop bit, ASCII.
inline constexpr std::int32_t kDefaultLineBits = 0x24;

// Baud rate of a baud code 0..4; 0 for any other code.
int BaudForCode(int code);

// The word's fields as the settings window's radio groups hold them (item indexes).
struct SettingsFields {
  int port = 0;        // COM number
  int baudCode = 0;    // 0..4 (5..7 can come from a hand-edited file)
  int parityCode = 0;  // 0 none, 1 even, 2 odd (3 can come from a hand-edited file)
  int dataBits8 = 0;   // 1: 8 data bits
  int stopBits2 = 0;   // 1: 2 stop bits
  int rtu = 0;         // 1: RTU form
};

SettingsFields SplitSettingsWord(std::int32_t word);
// port × 256 + rtu × 128 + baud code × 16 + parity code × 4 + data bit × 2 + stop bit.
std::int32_t EncodeSettingsWord(const SettingsFields& fields);

// Derives the port parameters and the RTU flag from the word. Baud codes 5 to 7
// leave p.baud as it was; parity code 3 is kept, and openings then leave the
// port's parity alone.
void DecodeSettingsWord(std::int32_t word, PortParams& p);

// Default word when no settings file exists: the lowest present port 0..12
// (13 when none is present) with kDefaultLineBits.
std::int32_t DefaultSettingsWord(const std::array<bool, Session::kPortSlots>& present);

enum class SettingsReadResult {
  Read,     // the file was read and its number is now the word
  Missing,  // no usable file: default word set; the caller opens the settings window
};

// Largest settings file read; ours holds one number of at most 11 characters.
inline constexpr std::size_t kMaxSettingsFileBytes = 4096;

// The number at the start of a settings file's text as scanf("%d") takes it:
// white space, an optional sign, digits, anything after them ignored. Nothing
// when there are no digits or the value does not fit 32 bits.
std::optional<std::int32_t> ParseSettingsNumber(std::string_view text);

// Reads workDir/"SETKX.$$$" into session.settingsWord and sets
// settingsFileRead. Only a regular file (a link to one included) of at most
// kMaxSettingsFileBytes that starts with a number counts: anything else (no
// file, a folder, a FIFO or device, a larger file, no number, a number beyond
// 32 bits, a read error) counts as missing: the default word is set and the
// flag cleared. Always decodes the word into session.params afterwards (call
// DecodeSettingsWord again once the settings window has closed).
SettingsReadResult ReadSettingsFile(Session& session);

// Stores session.settingsWord in workDir/"SETKX.$$$" as printf "%d" text with no
// line end. The new content is written beside the file and renamed over it, so a
// failed write (disc full, protected) leaves the previous file intact. Returns
// false when the file could not be written; a read-only existing file counts as
// protected and is not replaced.
bool WriteSettingsFile(const Session& session);

// Port-present flags from a listing of port names ("COM1", "COM10", ...), in
// listing order: "COMn" sets flag n; "COMnn" sets flag nn when below 13; other
// lengths and names not starting with "COM" are skipped; a number part that is
// not decimal ends the listing (flags set so far stay set).
std::array<bool, Session::kPortSlots> ParsePortListing(const std::vector<std::string>& names);

// Opens the port with the parameters unless it is already open: SetComNumber,
// SetBaud, SetDatabits, SetStopbits, SetParity (not for parity code 3, which
// keeps the port's previous parity), Open(). Returns whether the port is
// open; on false port.ErrorText() tells why. The caller then adds its timer
// triggers.
bool OpenWithParams(ComPort& port, const PortParams& p);

}  // namespace kx
