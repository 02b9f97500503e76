// Reading a fuzz input as a little program: bytes taken one by one as choices
// (what to do next, how many ticks, which device) and as data. Exhausted input
// reads as zeros, so every harness ends.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>

namespace kx::fuzz {

class FuzzInput {
 public:
  FuzzInput(const std::uint8_t* data, std::size_t size) : bytes_(data, size) {}

  bool empty() const { return pos_ >= bytes_.size(); }
  std::uint8_t Byte() { return empty() ? 0 : bytes_[pos_++]; }
  std::uint16_t Word() { return static_cast<std::uint16_t>(Byte() << 8 | Byte()); }
  bool Bool() { return (Byte() & 1) != 0; }
  // Up to n bytes (fewer at the end of the input).
  std::span<const std::uint8_t> Take(std::size_t n) {
    const std::size_t k = std::min(n, bytes_.size() - std::min(pos_, bytes_.size()));
    const auto part = bytes_.subspan(pos_, k);
    pos_ += k;
    return part;
  }
  // A chunk whose length (0 to 255) is the next byte.
  std::span<const std::uint8_t> Chunk() { return Take(Byte()); }
  std::span<const std::uint8_t> Rest() { return Take(bytes_.size()); }

 private:
  std::span<const std::uint8_t> bytes_;
  std::size_t pos_ = 0;
};

}  // namespace kx::fuzz
