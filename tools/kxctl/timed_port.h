// The port kxctl talks through: a port of the program (a local device or an
// RFC 2217 line, chosen by the port map) whose timer triggers run here, at a
// tick length that can be set. At the normal 55 ms every wait is the
// program's; a fast bus search sets a finer tick for its probes and gives
// their waits in that unit.
#pragma once

#include <QObject>

#include <cstdint>
#include <memory>

#include "core/line/comport.h"
#include "serial/trigger_clock.h"

namespace kxctl {

class TimedPort final : public QObject, public kx::ComPort {
 public:
  explicit TimedPort(std::unique_ptr<kx::ComPort> inner);
  ~TimedPort() override;

  // Length of one tick for triggers armed from now on (default kx::kTickMs).
  void SetTickMs(int ms) { triggers_.SetTickMs(ms); }

  void SetComNumber(std::uint16_t number) override { inner_->SetComNumber(number); }
  void SetBaud(std::int32_t baud) override { inner_->SetBaud(baud); }
  void SetDatabits(int bits) override { inner_->SetDatabits(bits); }
  void SetStopbits(int bits) override { inner_->SetStopbits(bits); }
  void SetParity(kx::Parity parity) override { inner_->SetParity(parity); }
  bool Open() override { return inner_->Open(); }
  void Close() override;
  bool IsOpen() const override { return inner_->IsOpen(); }
  std::string ErrorText() const override { return inner_->ErrorText(); }
  void PutBlock(std::span<const std::uint8_t> data) override { inner_->PutBlock(data); }
  std::size_t Read(std::span<std::uint8_t> out) override { return inner_->Read(out); }
  std::size_t CharsWaiting() const override { return inner_->CharsWaiting(); }
  void FlushInBuffer() override { inner_->FlushInBuffer(); }
  std::uint16_t AddTimerTrigger() override;
  void Arm(std::uint16_t handle, std::int32_t ticks) override { triggers_.Arm(handle, ticks); }
  void Disarm(std::uint16_t handle) override { triggers_.Disarm(handle); }
  void SetTap(kx::PortTap* tap) override { inner_->SetTap(tap); }
  kx::LineTraits Traits() const override { return inner_->Traits(); }

 private:
  std::unique_ptr<kx::ComPort> inner_;
  kx::serial::TriggerClock triggers_;
};

}  // namespace kxctl
