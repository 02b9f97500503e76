// The parameter download: the register writes that put a parameter buffer
// back into a controller, one sequence per model of the controller written
// (KX1 21 writes, KX2 99, KX3 27). The sequences are tables; the values come
// from the buffer's image ("byte o" the image byte at o, "word o" byte o
// high and byte o + 1 low).
#pragma once

#include <cstdint>
#include <vector>

#include "core/params/parameter_buffer.h"

namespace kx {

struct DownloadStep {
  std::uint16_t reg = 0;
  std::uint16_t value = 0;
  bool unlock = false;  // preceded by its own unlock write
  bool skip = false;    // not sent; counts as done
  friend bool operator==(const DownloadStep&, const DownloadStep&) = default;
};

// The write sequence for a controller of model code `model` whose firmware
// version word is `controllerVersion`. Empty for a model without a sequence.
std::vector<DownloadStep> DownloadSequence(std::uint8_t model, const ParameterBuffer& buffer,
                                           std::uint16_t controllerVersion);

// Walks a sequence: the next write to send (skipped steps are passed over and
// count as done), acknowledgement and the progress bar value.
class DownloadRun {
 public:
  DownloadRun() = default;
  explicit DownloadRun(std::vector<DownloadStep> steps) : steps_(std::move(steps)) {}

  // The next step to send, nullptr when the sequence is done. Passes skipped
  // steps first.
  const DownloadStep* Next();
  // The step last returned by Next was acknowledged.
  void Acknowledged();
  bool Done() const { return index_ >= steps_.size(); }
  std::size_t Index() const { return index_; }
  std::size_t Length() const { return steps_.size(); }
  // Bar position 0..1000: index × 1000 / length.
  int Progress() const;

 private:
  std::vector<DownloadStep> steps_;
  std::size_t index_ = 0;
};

}  // namespace kx
