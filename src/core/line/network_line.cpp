#include "core/line/network_line.h"

namespace kx {

namespace {

const std::string* PathOf(const Session& session, int comNumber) {
  if (comNumber < 0 || comNumber >= Session::kPortSlots) return nullptr;
  return &session.portPath[static_cast<std::size_t>(comNumber)];
}

}  // namespace

LineTransport TransportOf(const Session& session, int comNumber) {
  const std::string* path = PathOf(session, comNumber);
  if (!path) return LineTransport::Device;
  const auto address = ParsePortAddress(*path);
  return address ? address->transport : LineTransport::Device;
}

std::string PortShown(const Session& session, int comNumber) {
  std::string shown = std::to_string(comNumber);
  const std::string* path = PathOf(session, comNumber);
  if (!path) return shown;
  const auto address = ParsePortAddress(*path);
  if (address && (address->transport != LineTransport::Device || address->echo)) shown += " (" + *path + ")";
  return shown;
}

std::string LineName(const Session& session, int comNumber) { return "COM" + PortShown(session, comNumber); }

LineControl ControlOf(LineTransport transport) {
  return LineControl{!FormatIsServers(transport), transport != LineTransport::ModbusTcp};
}

}  // namespace kx
