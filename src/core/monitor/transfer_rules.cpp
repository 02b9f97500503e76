#include "core/monitor/transfer_rules.h"

#include "core/device/regmap.h"
#include "core/text/messages.h"

namespace kx {

namespace {

// Connected and identified; the model's own rule decides the rest.
TransferRefusal Reachable(const TransferFacts& f) {
  if (!f.connected) return TransferRefusal::NoController;
  if (!f.identified) return TransferRefusal::NotIdentified;
  return TransferRefusal::None;
}

TransferRefusal Kx3Readable(const TransferFacts& f) {
  return Kx3UploadAllowed(f.kx3SecurityMode) ? TransferRefusal::None : TransferRefusal::Kx3Locked;
}

TransferRefusal ComWriteEnabled(const TransferFacts& f) {
  return f.comWrite == 1 ? TransferRefusal::None : TransferRefusal::ComWriteOff;
}

}  // namespace

TransferRefusal UploadRefusal(const TransferFacts& f) {
  if (const TransferRefusal r = Reachable(f); r != TransferRefusal::None) return r;
  switch (f.model) {
    case kModelKx1: return ComWriteEnabled(f);
    case kModelKx2: return TransferRefusal::None;
    case kModelKx3: return Kx3Readable(f);
    default: return TransferRefusal::NotIdentified;
  }
}

TransferRefusal DownloadRefusal(const TransferFacts& f) {
  if (!f.connected) return TransferRefusal::NoController;
  return f.model == kModelKx3 ? TransferRefusal::None : ComWriteEnabled(f);
}

TransferRefusal RampRefusal(const TransferFacts& f) {
  if (const TransferRefusal r = Reachable(f); r != TransferRefusal::None) return r;
  switch (f.model) {
    case kModelKx1: return TransferRefusal::NoProgram;
    case kModelKx2: return ComWriteEnabled(f);
    case kModelKx3: return Kx3Readable(f);
    default: return TransferRefusal::NotIdentified;
  }
}

std::string_view RefusalText(TransferRefusal refusal) {
  switch (refusal) {
    case TransferRefusal::None:
    case TransferRefusal::NoController: return {};
    case TransferRefusal::NotIdentified: return "the controller's model is not known yet";
    case TransferRefusal::ComWriteOff: return Text(Msg::EnableComWriteFirst);
    case TransferRefusal::Kx3Locked: return "the controller's security mode does not allow reading its parameters";
    case TransferRefusal::NoProgram: return "the controller has no ramp/soak program";
  }
  return {};
}

bool UploadOffered(const TransferFacts& f) {
  const TransferRefusal r = UploadRefusal(f);
  return r == TransferRefusal::None || r == TransferRefusal::ComWriteOff;
}

bool RampOffered(const TransferFacts& f) { return RampRefusal(f) == TransferRefusal::None; }

}  // namespace kx
