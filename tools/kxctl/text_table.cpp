#include "kxctl/text_table.h"

#include <algorithm>
#include <cstdio>

namespace kxctl {

std::string Table(const std::vector<std::vector<std::string>>& rows) {
  std::vector<std::size_t> widths;
  for (const auto& row : rows)
    for (std::size_t c = 0; c < row.size(); ++c) {
      if (widths.size() <= c) widths.push_back(0);
      widths[c] = std::max(widths[c], row[c].size());
    }
  std::string out;
  for (const auto& row : rows) {
    for (std::size_t c = 0; c < row.size(); ++c) {
      out += row[c];
      if (c + 1 < row.size()) out += std::string(widths[c] - row[c].size() + 2, ' ');
    }
    out += "\n";
  }
  return out;
}

std::string Hex4(std::uint16_t value) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "0x%04X", value);
  return buf;
}

}  // namespace kxctl
