// Transfers: long jobs the monitor engine carries out on the selected
// controller, one request at a time, in place of its status polls.
//
// A transfer is an object behind one small interface. It owns its buffer and
// is handed what it needs when it is made (the write list, the model's upload
// register); it never calls anything. A TransferRunner (transfer_runner.h)
// carries it out on the line; the monitor runs the panels' writes (PanelWrites)
// before it and the status polls after it. The runner asks it:
//
//   NextRequest()  the request to send now (nothing once Done()). Asked again
//                  without AnswerTaken() in between it returns the same request:
//                  a failed exchange (time-out, bad check, wrong echo) is sent
//                  again.
//   AnswerTaken()  the last request was answered well: a read hands over the
//                  words read; a write hands over nothing (its echo matched, or
//                  the wait after a broadcast write ended).
//   AnswerFailed() the last request failed (how, as a Failure) and goes again
//                  (or is given up).
//   Progress()     0..1000, for the progress bars.
//   Done()         the last request was answered.
//
// The engine drops the transfer when it ends, when the selected device changes
// or is dropped, or after repeated exception answers, and tells the window
// through MonitorObserver::TransferEnded. Whoever started a transfer keeps a
// shared pointer to it and reads its result there (ImageUpload::buffer()).
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <vector>

#include "core/exchange/answer.h"

namespace kx {

// The 260-byte parameter buffer: 256 bytes of parameter memory, then model
// code, firmware major, firmware minor and their 8-bit sum.
using ParameterBuffer = std::array<std::uint8_t, 260>;
using RampStepImage = std::array<std::uint8_t, 256>;

enum class TransferKind : std::uint8_t { Upload, RampUpload, Download, RampDownload, PanelWrites };

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
  bool level = false;       // Write: a KX3 key or lock write, answered in the controller's own way (no echo check)
  friend bool operator==(const TransferRequest&, const TransferRequest&) = default;
};

class Transfer {
 public:
  virtual ~Transfer() = default;
  virtual TransferKind Kind() const = 0;
  virtual std::optional<TransferRequest> NextRequest() const = 0;
  virtual void AnswerTaken(std::span<const std::uint16_t> words) = 0;
  virtual void AnswerFailed(Failure /*failure*/) {}
  // The parameter buffer this transfer has filled (an upload), once it is
  // complete; nullptr for other transfers and before.
  virtual const ParameterBuffer* CompletedBuffer() const { return nullptr; }
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

  bool broadcast() const { return broadcast_; }
  // Steps done (acknowledged or skipped).
  std::size_t stepsDone() const { return index_; }
  const std::vector<WriteStep>& steps() const { return steps_; }

 private:
  void SkipSkipped();

  TransferKind kind_;
  std::vector<WriteStep> steps_;
  bool broadcast_;
  std::size_t index_ = 0;
  bool unlocked_ = false;  // the unlock write of the current step was acknowledged
};


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

  bool withRampSteps() const { return withRampSteps_; }
  std::uint16_t firmwareVersion() const { return firmwareVersion_; }
  // The parameter buffer is complete (trailer filled).
  bool BufferComplete() const { return bufferCount_ >= kImageBytes; }
  int bufferCount() const { return bufferCount_; }
  int stepCount() const { return stepCount_; }
  const ParameterBuffer& buffer() const { return buffer_; }
  const RampStepImage& steps() const { return steps_; }
  const ParameterBuffer* CompletedBuffer() const override { return BufferComplete() ? &buffer_ : nullptr; }

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

// One register write of the user's from the panels.
struct PanelWrite {
  std::uint16_t reg = 0;
  std::uint16_t value = 0;
  bool unlock = false;  // the unlock write goes first (factory-protected register)
  bool level = false;   // a KX3 key or lock write (TransferRequest::level)
};

// The selected controller's writes from the panels, which go before any other
// request: the unlock write the factory pages ask for, then the user's writes
// in the order queued, each after the unlock write when it needs one. The
// controller counts as unlocked from an acknowledged unlock write until the
// next write goes out (a write sent again after a failure is unlocked again).
// Each request has an id, so that an answer is taken only by the request it
// answers.
class PanelWrites final : public Transfer {
 public:
  TransferKind Kind() const override { return TransferKind::PanelWrites; }
  std::optional<TransferRequest> NextRequest() const override;
  void AnswerTaken(std::span<const std::uint16_t> words) override;
  // A write that went out ends the unlock, answered or not; one whose echo
  // is wrong is dropped, its unlock write with it (those queued after it
  // still go out), and the controller counts as locked.
  void AnswerFailed(Failure failure) override;
  int Progress() const override { return Done() ? 1000 : 0; }
  bool Done() const override { return !unlockWanted_ && writes_.empty(); }

  // Queues a write. One for the register of the last write still waiting
  // replaces that one's value (the last choice wins), unless the last write
  // is the request `onTheLine` (its id; 0 for none).
  void Queue(const PanelWrite& write, std::uint32_t onTheLine);
  // The unlock write before the factory pages (nothing while unlocked).
  void UnlockFirst();
  // Drops the write request `id` was for (refused, or its echo was wrong),
  // its unlock write included; the writes queued after it still go out.
  void Drop(std::uint32_t id);
  // Locked again, no unlock write wanted (a refusal, another controller).
  void Relock();
  // Nothing queued, locked (another controller selected, its address changed).
  void Clear();

  // The id of the request NextRequest() gives (0 when done), and of the last
  // queued write (0 when none is queued).
  std::uint32_t RequestId() const;
  std::uint32_t LastId() const { return writes_.empty() ? 0 : writes_.back().id; }
  bool WritesQueued() const { return !writes_.empty(); }
  bool unlocked() const { return unlocked_; }
  bool unlockWanted() const { return unlockWanted_; }

 private:
  struct Entry {
    PanelWrite write;
    std::uint32_t id = 0;
  };
  std::deque<Entry> writes_;
  std::uint32_t lastId_ = 0;
  std::uint32_t unlockId_ = 0;  // the id of the wanted unlock write
  bool unlockWanted_ = false;
  bool unlocked_ = false;
};

// The ramp/soak program write: registers 0x4767.. with the 153 values given.
std::vector<WriteStep> RampWriteSteps(std::span<const std::uint16_t> values);

}  // namespace kx
