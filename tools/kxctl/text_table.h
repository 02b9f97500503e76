// Readable output: tables with padded columns, register numbers in hex.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kxctl {

// Rows with each column padded to its widest cell, two blanks between columns.
std::string Table(const std::vector<std::vector<std::string>>& rows);

// "0x4700".
std::string Hex4(std::uint16_t value);

}  // namespace kxctl
