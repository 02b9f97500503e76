// A port map with one line: COM `com` on a device or a network line
// ("rfc2217://host:port"), no other port present. Header-only.
#pragma once

#include <cstddef>
#include <string>

#include "serial/line_port.h"

namespace kx::test {

inline serial::PortPaths OnePort(int com, const std::string& path) {
  serial::PortPaths paths{};
  paths[static_cast<std::size_t>(com)] = path;
  return paths;
}

}  // namespace kx::test
