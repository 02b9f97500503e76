// Transfers: long jobs the monitor engine carries out on the selected
// controller, one request at a time, in place of its status polls.
//
// A transfer is an object behind one small interface. It owns its buffer and
// is handed what it needs when it is made (the write list, the model's upload
// register); it never calls anything. The engine asks it, before each request
// and after the unlock write and the queued write of the panels:
//
//   NextRequest()  the request to send now (nothing once Done()). Asked again
//                  without AnswerTaken() in between it returns the same request:
//                  a failed exchange (time-out, bad check, wrong echo) is sent
//                  again.
//   AnswerTaken()  the last request was answered well: a read hands over the
//                  words read; a write hands over nothing (its echo matched, or
//                  the wait after a broadcast write ended).
//   Progress()     0..1000, for the progress bars.
//   Done()         the last request was answered.
//
// The engine drops the transfer when it ends, when the selected device changes
// or is dropped, or after repeated exception answers, and tells the window
// through MonitorObserver::TransferEnded. Whoever started a transfer keeps a
// shared pointer to it and reads its result there (ImageUpload::Buffer()).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace kx {

enum class TransferKind : std::uint8_t { Upload, RampUpload, Download, RampDownload };

// One request a transfer asks for.
struct TransferRequest {
  enum class Action : std::uint8_t {
    Read,    // function 03 of `count` registers from `reg`
    Write,   // function 06 of `value` to `reg`
    Unlock,  // the unlock write of the selected controller's model
  };
  Action action = Action::Read;
  std::uint16_t reg = 0;
  std::uint16_t value = 0;  // Write: the value; Read: the number of registers
  bool broadcast = false;   // to address 0: nobody answers, the end of the wait acknowledges it
  friend bool operator==(const TransferRequest&, const TransferRequest&) = default;
};

class Transfer {
 public:
  virtual ~Transfer() = default;
  virtual TransferKind Kind() const = 0;
  virtual std::optional<TransferRequest> NextRequest() const = 0;
  virtual void AnswerTaken(std::span<const std::uint16_t> words) = 0;
  virtual int Progress() const = 0;
  virtual bool Done() const = 0;
};

// One register write of a download sequence.
struct WriteStep {
  std::uint16_t reg = 0;
  std::uint16_t value = 0;
  bool unlock = false;  // the unlock write goes first (factory-protected register)
  bool skip = false;    // counts as done without a request
  friend bool operator==(const WriteStep&, const WriteStep&) = default;
};

// Writes a list of registers in order: the parameter download to the selected
// controller, the same sent by broadcast to address 0, and the ramp/soak
// program. Each acknowledged write moves on; the unlock write before a step is
// acknowledged the same way and does not move on. Progress is the share of
// steps done, skipped steps included.
class WriteSequence final : public Transfer {
 public:
  WriteSequence(TransferKind kind, std::vector<WriteStep> steps, bool broadcast = false);

  TransferKind Kind() const override { return kind_; }
  std::optional<TransferRequest> NextRequest() const override;
  void AnswerTaken(std::span<const std::uint16_t> words) override;
  int Progress() const override;
  bool Done() const override { return index_ >= steps_.size(); }

  bool Broadcast() const { return broadcast_; }
  // Steps done (acknowledged or skipped).
  std::size_t StepsDone() const { return index_; }
  const std::vector<WriteStep>& Steps() const { return steps_; }

 private:
  void SkipSkipped();

  TransferKind kind_;
  std::vector<WriteStep> steps_;
  bool broadcast_;
  std::size_t index_ = 0;
  bool unlocked_ = false;  // the unlock write of the current step was acknowledged
};

// The 260-byte parameter buffer: 256 bytes of parameter memory, then model
// code, firmware major, firmware minor and their 8-bit sum.
using ParameterBuffer = std::array<std::uint8_t, 260>;
using RampStepImage = std::array<std::uint8_t, 256>;

inline constexpr int kImageBytes = 256;

// Reads the controller's parameter memory byte by byte through its upload
// register (each answer: high byte the offset, low byte the byte) into the
// parameter buffer and fills its trailer; with `withRampSteps` it goes on with
// the ramp/soak step image through register 0x474D. A KX1 gets its unlock
// write first. The count of answers, not their offsets, ends each part. A
// firmware version not read yet (0: the upload may start before the status
// poll that carries it) is read first from the model's version register, so
// the trailer names the version the controller has.
class ImageUpload final : public Transfer {
 public:
  // `model` and `firmwareVersion` of the selected controller: the upload
  // register, the unlock write and the buffer's trailer.
  ImageUpload(std::uint8_t model, std::uint16_t firmwareVersion, bool withRampSteps);

  TransferKind Kind() const override {
    return withRampSteps_ ? TransferKind::RampUpload : TransferKind::Upload;
  }
  std::optional<TransferRequest> NextRequest() const override;
  void AnswerTaken(std::span<const std::uint16_t> words) override;
  // Upload: count x 1000 / 256. With the step image: over both parts (500
  // when the parameter part ends).
  int Progress() const override;
  bool Done() const override;

  bool WithRampSteps() const { return withRampSteps_; }
  std::uint16_t FirmwareVersion() const { return firmwareVersion_; }
  // The parameter buffer is complete (trailer filled).
  bool BufferComplete() const { return bufferCount_ >= kImageBytes; }
  int BufferCount() const { return bufferCount_; }
  int StepCount() const { return stepCount_; }
  const ParameterBuffer& Buffer() const { return buffer_; }
  const RampStepImage& Steps() const { return steps_; }

 private:
  std::uint8_t model_;
  std::uint16_t firmwareVersion_;
  bool withRampSteps_;
  bool versionPending_;
  bool unlockPending_;
  int bufferCount_ = 0;
  int stepCount_ = 0;
  ParameterBuffer buffer_{};
  RampStepImage steps_{};
};

// The ramp/soak program write: registers 0x4767.. with the 153 values given.
std::vector<WriteStep> RampWriteSteps(std::span<const std::uint16_t> values);

}  // namespace kx
