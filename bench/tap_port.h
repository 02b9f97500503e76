// A ComPort in front of the real one for the benchmarks: everything passes
// through, and a bench sees each request written, each byte read and each
// event raised through the hooks it overrides.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "core/line/comport.h"

namespace kx::bench {

class TapPort : public ComPort {
 public:
  // `inner` outlives the tap.
  explicit TapPort(ComPort& inner) : inner_(inner) {
    inner_.SetOnTrigger([this](ComPort&, const PortEvent& e) {
      Raised(e);
      RaiseTrigger(e);
    });
    inner_.SetOnError([this](const std::string& text) { RaiseError(text); });
  }
  // The tap owns `inner`.
  explicit TapPort(std::unique_ptr<ComPort> inner) : TapPort(*inner) { owned_ = std::move(inner); }

  void SetComNumber(std::uint16_t n) final { inner_.SetComNumber(n); }
  void SetBaud(std::int32_t b) final { inner_.SetBaud(b); }
  void SetDatabits(int b) final { inner_.SetDatabits(b); }
  void SetStopbits(int b) final { inner_.SetStopbits(b); }
  void SetParity(Parity p) final { inner_.SetParity(p); }
  bool SetOpen(bool open) final { return inner_.SetOpen(open); }
  bool Open() const final { return inner_.Open(); }
  std::string ErrorText() const final { return inner_.ErrorText(); }
  void PutBlock(std::span<const std::uint8_t> data) final {
    Written(data);
    inner_.PutBlock(data);
  }
  std::uint8_t GetChar() final {
    if (inner_.CharsWaiting() > 0) ByteRead();
    return inner_.GetChar();
  }
  std::size_t CharsWaiting() const final { return inner_.CharsWaiting(); }
  void FlushInBuffer() final { inner_.FlushInBuffer(); }
  std::uint16_t AddTimerTrigger() final { return inner_.AddTimerTrigger(); }
  void SetTimerTrigger(std::uint16_t h, std::int32_t ticks, bool activate) final {
    inner_.SetTimerTrigger(h, ticks, activate);
  }

 protected:
  // A request about to be written.
  virtual void Written(std::span<const std::uint8_t> /*data*/) {}
  // A received byte about to be taken.
  virtual void ByteRead() {}
  // An event of the real port about to be passed on.
  virtual void Raised(const PortEvent& /*event*/) {}

 private:
  std::unique_ptr<ComPort> owned_;
  ComPort& inner_;
};

}  // namespace kx::bench
