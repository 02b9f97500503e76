#include "core/line/port_address.h"

#include <charconv>

namespace kx {
namespace {

struct Scheme {
  std::string_view prefix;
  LineTransport transport;
  std::uint16_t defaultPort;  // 0: the port must be given
};

constexpr Scheme kSchemes[] = {
    {"rfc2217://", LineTransport::Rfc2217, 0},
    {"tcp://", LineTransport::Tcp, 0},
    {"modbus-tcp://", LineTransport::ModbusTcp, 502},
};

const Scheme* SchemeOf(std::string_view path) {
  for (const Scheme& s : kSchemes)
    if (path.substr(0, s.prefix.size()) == s.prefix) return &s;
  return nullptr;
}

std::optional<std::uint16_t> PortNumber(std::string_view text) {
  unsigned int number = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), number);
  if (text.empty() || ec != std::errc{} || end != text.data() + text.size() || number == 0 || number > 65535)
    return std::nullopt;
  return static_cast<std::uint16_t>(number);
}

}  // namespace

bool IsNetworkPath(std::string_view path) { return SchemeOf(path) != nullptr; }

LineTraits TraitsOf(const PortAddress& address) {
  return LineTraits{address.echo, address.transport != LineTransport::Device,
                    address.transport == LineTransport::ModbusTcp};
}

LineTraits TraitsOfPath(std::string_view path) {
  const auto address = ParsePortAddress(path);
  return address ? TraitsOf(*address) : LineTraits{};
}

std::optional<PortAddress> ParsePortAddress(std::string_view path) {
  PortAddress address;
  if (path.size() >= kEchoSuffix.size() && path.substr(path.size() - kEchoSuffix.size()) == kEchoSuffix) {
    address.echo = true;
    path.remove_suffix(kEchoSuffix.size());
  }
  const Scheme* scheme = SchemeOf(path);
  if (!scheme) {
    if (path.empty()) return std::nullopt;
    address.device = std::string(path);
    return address;
  }
  address.transport = scheme->transport;
  std::string_view rest = path.substr(scheme->prefix.size());
  if (!rest.empty() && rest.back() == '/') rest.remove_suffix(1);
  std::string_view host;
  std::optional<std::string_view> port;
  if (!rest.empty() && rest.front() == '[') {
    const std::size_t close = rest.find(']');
    if (close == std::string_view::npos) return std::nullopt;
    host = rest.substr(1, close - 1);
    const std::string_view after = rest.substr(close + 1);
    if (!after.empty()) {
      if (after.front() != ':') return std::nullopt;
      port = after.substr(1);
    }
  } else {
    const std::size_t colon = rest.rfind(':');
    if (colon == std::string_view::npos) {
      host = rest;
    } else {
      host = rest.substr(0, colon);
      port = rest.substr(colon + 1);
      if (host.find(':') != std::string_view::npos) return std::nullopt;
    }
  }
  if (host.empty() || host.find_first_of("/?#@ ") != std::string_view::npos) return std::nullopt;
  if (port) {
    const auto number = PortNumber(*port);
    if (!number) return std::nullopt;
    address.port = *number;
  } else if (scheme->defaultPort != 0) {
    address.port = scheme->defaultPort;
  } else {
    return std::nullopt;
  }
  address.host = std::string(host);
  return address;
}

}  // namespace kx
