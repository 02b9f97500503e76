// A line of controllers behind a Modbus TCP gateway ("modbus-tcp://host[:port]").
// The engines write serial frames as on any line; the port reads each one
// (RTU with its CRC, or ASCII ':' .. LRC CR LF, whatever form the settings
// hold), sends its contents as an MBAP frame with a new transaction id and
// the controller's address as unit id, and hands the answer back as a serial
// frame of the same form, check digits added, so the exchange's rules and
// checks work unchanged. The gateway speaks its own line format: the
// program's settings are accepted and not passed on.
//
// What comes back: a frame of another transaction or unit is dropped (a late
// answer to an earlier request); the gateway's own exceptions 0x0A and 0x0B
// (no path, the unit did not answer) are handed on like any answer, and the
// exchange, told by the port's traits that a gateway is in between, ends the
// request on them at once as a time-out; nothing is awaited for a write to
// address 0 (broadcast). A stream that is not Modbus TCP (a protocol id other
// than 0, a length out of range) closes the port with a message. A written
// block that is no checked Modbus frame (a loader frame, a tester's hand-made
// bytes) cannot travel as MBAP: it is not sent, and its request times out.
#pragma once

#include <optional>

#include "core/modbus/mbap.h"
#include "serial/socket_port.h"

namespace kx::serial {

class ModbusTcpPort : public SocketPort {
  Q_OBJECT

 public:
  explicit ModbusTcpPort(PortPaths paths, QObject* parent = nullptr);

  // Transaction id of the last request sent (tests).
  std::uint16_t transaction() const { return transaction_; }

 protected:
  bool OpenLine(std::string& error) override;
  bool ApplySetting(LineSetting, std::string&) override { return true; }
  void WriteLine(std::span<const std::uint8_t> data) override;
  void PurgeLine() override;
  void FromSocket(std::span<const std::uint8_t> bytes) override;

 private:
  struct Awaited {
    std::uint16_t transaction = 0;
    std::uint8_t unit = 0;
    FrameForm form = FrameForm::Rtu;
  };

  mbap::Reader reader_;
  std::uint16_t transaction_ = 0;
  std::optional<Awaited> awaited_;
};

}  // namespace kx::serial
