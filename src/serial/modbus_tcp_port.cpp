#include "serial/modbus_tcp_port.h"

#include <utility>

namespace kx::serial {

ModbusTcpPort::ModbusTcpPort(PortPaths paths, QObject* parent)
    : SocketPort(std::move(paths), "Modbus TCP gateway", parent) {}

bool ModbusTcpPort::OpenLine(std::string& error) {
  reader_.Reset();
  awaited_.reset();
  return Connect(error);
}

void ModbusTcpPort::WriteLine(std::span<const std::uint8_t> data) {
  awaited_.reset();  // whatever was awaited is stale now
  const auto serial = mbap::ParseSerialFrame(data);
  if (!serial) return;
  ++transaction_;
  const auto frame = mbap::FrameOfSerial(transaction_, serial->contents);
  if (!frame) return;
  const std::uint8_t unit = serial->contents.front();
  if (unit != 0) awaited_ = Awaited{transaction_, unit, serial->form};
  Send(*frame);
}

// Nothing to drop here: answers to earlier requests are told by their
// transaction id when they come, and dropped then.
void ModbusTcpPort::PurgeLine() {}

void ModbusTcpPort::FromSocket(std::span<const std::uint8_t> bytes) {
  reader_.Add(bytes);
  while (const auto frame = reader_.Next()) {
    if (!awaited_ || frame->transaction != awaited_->transaction || frame->unit != awaited_->unit) continue;
    Received(BuildFrame(awaited_->form, mbap::SerialOfFrame(*frame)));
    if (!IsOpen()) return;  // the event's handler closed the port
  }
  if (reader_.broken()) Broken("the gateway sent data that is not Modbus TCP.");
}

}  // namespace kx::serial
