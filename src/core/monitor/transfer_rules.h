// Whether the selected controller may take an upload, a download or a
// ramp/soak transfer, and why not: one rule for the monitor's menu items and
// commands, the ramp/soak editor's buttons and kxctl's backup and restore.
#pragma once

#include <cstdint>
#include <string_view>

namespace kx {

// What the rules look at, of the controller a transfer would address.
struct TransferFacts {
  bool connected = false;   // connected (and selected, in the monitor)
  bool identified = false;  // its model detail was read
  std::uint8_t model = 0xFF;
  std::uint8_t kx3SecurityMode = 0;
  std::uint16_t comWrite = 0xFF;  // remote writing enabled when 1
};

enum class TransferRefusal : std::uint8_t {
  None,           // allowed
  NoController,   // nothing connected: the command does nothing
  NotIdentified,  // the model is not known (yet)
  ComWriteOff,    // remote writing is disabled on the controller
  Kx3Locked,      // a KX3 whose security mode keeps its parameters
  NoProgram,      // a model without the ramp/soak program (KX1)
};

// UPLOAD: a KX1 needs remote writing (its upload starts with an unlock
// write); a KX3 a security mode that lets its parameters be read.
TransferRefusal UploadRefusal(const TransferFacts& facts);
// WRITE TO SELECTED DEVICE / ALL (and a restore): remote writing enabled,
// except on a KX3, which has no such flag.
TransferRefusal DownloadRefusal(const TransferFacts& facts);
// Read Setting and Write of the ramp/soak program: a KX2 with remote writing
// enabled or a KX3 that allows the upload.
TransferRefusal RampRefusal(const TransferFacts& facts);

// The reason told to the user; empty for None and NoController (nothing
// happens while no controller is connected).
std::string_view RefusalText(TransferRefusal refusal);

// UPLOAD is offered in the menu unless the model is unknown or a KX3 keeps its
// parameters; a refusal for remote writing is told when it is chosen.
bool UploadOffered(const TransferFacts& facts);
// RAMP SOAK PROGRAM is offered exactly while the ramp/soak transfers are allowed.
bool RampOffered(const TransferFacts& facts);

}  // namespace kx
