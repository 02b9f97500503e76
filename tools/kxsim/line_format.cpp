#include "kxsim/line_format.h"

namespace kxsim {

PcSettings ExactSettings(const LineFormat& f) {
  return PcSettings{f.baud, f.dataBits, f.parity, false, f.stopBits, false};
}

bool Understands(const LineFormat& f, const PcSettings& pc) {
  if (pc.unmatched || f.baud != pc.baud || f.stopBits != pc.stopBits) return false;
  if (pc.dataBits != 0 && pc.dataBits != f.dataBits) return false;
  if (pc.parityOddOnly) return (f.parity == ParityKind::Odd) == (pc.parity == ParityKind::Odd);
  return f.parity == pc.parity;
}

}  // namespace kxsim
