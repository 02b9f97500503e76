// A ComPort in front of the real one for the benchmarks: everything passes
// through, and a bench sees each request written, the bytes read and each
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
  bool Open() final { return inner_.Open(); }
  void Close() final { inner_.Close(); }
  bool IsOpen() const final { return inner_.IsOpen(); }
  std::string ErrorText() const final { return inner_.ErrorText(); }
  void PutBlock(std::span<const std::uint8_t> data) final {
    Written(data);
    inner_.PutBlock(data);
  }
  std::size_t Read(std::span<std::uint8_t> out) final {
    const std::size_t n = inner_.Read(out);
    if (n > 0) BytesRead(n);
    return n;
  }
  std::size_t CharsWaiting() const final { return inner_.CharsWaiting(); }
  void FlushInBuffer() final { inner_.FlushInBuffer(); }
  std::uint16_t AddTimerTrigger() final { return inner_.AddTimerTrigger(); }
  void Arm(std::uint16_t h, std::int32_t ticks) final { inner_.Arm(h, ticks); }
  void Disarm(std::uint16_t h) final { inner_.Disarm(h); }

 protected:
  // A request about to be written.
  virtual void Written(std::span<const std::uint8_t> /*data*/) {}
  // Received bytes just taken.
  virtual void BytesRead(std::size_t /*count*/) {}
  // An event of the real port about to be passed on.
  virtual void Raised(const PortEvent& /*event*/) {}

 private:
  std::unique_ptr<ComPort> owned_;
  ComPort& inner_;
};

}  // namespace kx::bench
