// The port kxctl talks through: a port of the program (a local device or an
// RFC 2217 line, chosen by the port map) whose timer triggers run here, at a
// tick length that can be set. At the normal 55 ms every wait is the
// program's; a fast bus search sets a finer tick for its probes and gives
// their waits in that unit.
#pragma once

#include <QObject>

#include <cstdint>
#include <map>
#include <memory>

#include "core/line/comport.h"

namespace kxctl {

class TimedPort final : public QObject, public kx::ComPort {
 public:
  explicit TimedPort(std::unique_ptr<kx::ComPort> inner);
  ~TimedPort() override;

  // Length of one tick for triggers armed from now on (default kx::kTickMs).
  void SetTickMs(int ms) { tickMs_ = ms; }
  int TickMs() const { return tickMs_; }

  void SetComNumber(std::uint16_t number) override { inner_->SetComNumber(number); }
  void SetBaud(std::int32_t baud) override { inner_->SetBaud(baud); }
  void SetDatabits(int bits) override { inner_->SetDatabits(bits); }
  void SetStopbits(int bits) override { inner_->SetStopbits(bits); }
  void SetParity(kx::Parity parity) override { inner_->SetParity(parity); }
  bool SetOpen(bool open) override;
  bool Open() const override { return inner_->Open(); }
  std::string ErrorText() const override { return inner_->ErrorText(); }
  void PutBlock(std::span<const std::uint8_t> data) override { inner_->PutBlock(data); }
  std::uint8_t GetChar() override { return inner_->GetChar(); }
  std::size_t CharsWaiting() const override { return inner_->CharsWaiting(); }
  void FlushInBuffer() override { inner_->FlushInBuffer(); }
  std::uint16_t AddTimerTrigger() override;
  void SetTimerTrigger(std::uint16_t handle, std::int32_t ticks, bool activate) override;

 protected:
  void timerEvent(QTimerEvent* event) override;

 private:
  void DropTriggers();

  std::unique_ptr<kx::ComPort> inner_;
  int tickMs_ = kx::kTickMs;
  // Live triggers: handle -> id of the running Qt timer (0 while disarmed). A
  // timer event whose id no trigger holds is stale and ignored.
  std::map<std::uint16_t, int> triggers_;
  std::uint16_t nextHandle_ = 1;
};

}  // namespace kxctl
