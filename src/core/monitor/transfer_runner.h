// Carries out a transfer (transfer.h) on the line, one request at a time, for
// the monitor engine and kxctl's jobs alike: builds the request the transfer
// asks for and judges its answer.
//
//   - A good answer is handed to the transfer, which moves on; a read answer
//     must carry exactly the words asked for (else Failure::Format).
//   - A failed one leaves the transfer where it was: the same request goes
//     again (Retry). Whoever runs it counts failures in a row as it must (the
//     monitor drops the controller after four, kxctl ends the job).
//   - Exception answers count in an ExceptionLimit shared with the caller's
//     other requests; one more than three in a row gives the transfer up.
//   - A broadcast write goes to address 0 and nobody answers it: the end of
//     its wait acknowledges it, whatever the line did meanwhile.
// An answer to a request of a transfer stopped or replaced since is Stale.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "core/exchange/answer.h"
#include "core/exchange/exchange.h"
#include "core/line/line_format.h"
#include "core/monitor/transfer.h"

namespace kx {

// Exception answers in a row, reads and writes counted apart: one more than
// three of either gives up what is being tried. A good answer clears both.
class ExceptionLimit {
 public:
  static constexpr int kTolerated = 3;
  void Clear() { reads_ = writes_ = 0; }
  // Counts an exception answer to function `function` (86/E8 a write, others
  // a read): true when the limit is passed (both counts then start again).
  bool Count(std::uint8_t function);

 private:
  int reads_ = 0;
  int writes_ = 0;
};

// The failure of an answer to a request that reads `words` registers (0: not
// a read): the exchange's, or Format when a read answer carries another count.
Failure JudgeAnswer(const Answer& answer, std::size_t words);

// One request of a transfer on its way.
struct TransferCall {
  TransferRequest step;
  std::uint32_t run = 0;  // which run of the runner asked
};

enum class TransferStep : std::uint8_t {
  Taken,   // acknowledged and handed to the transfer
  Retry,   // failed: the same request goes again
  GiveUp,  // an exception answer past the limit
  Stale,   // the transfer that asked has stopped since: dropped
};

struct TransferOutcome {
  TransferStep step = TransferStep::Stale;
  Failure failure = Failure::None;
};

class TransferRunner {
 public:
  explicit TransferRunner(ExceptionLimit& exceptions) : exceptions_(exceptions) {}

  // Starts `transfer`, replacing the one running.
  void Start(std::shared_ptr<Transfer> transfer);
  // Stops the running transfer and hands it back (nullptr when none ran).
  std::shared_ptr<Transfer> Stop();
  const Transfer* running() const { return transfer_.get(); }

  // The running transfer's next request; nothing when none runs or it is done.
  std::optional<TransferCall> Next() const;
  // The exchange request of `step` on `line` for the controller at `address`
  // of `model` (its unlock register): the line's waits, the echo rule of a
  // write (none for a level write, which may also be answered 86), a
  // broadcast to address 0 ended by its wait.
  static ExchangeRequest Request(const TransferRequest& step, const LineFormat& line, std::uint8_t address,
                                 std::uint8_t model);
  // The answer to `call`.
  TransferOutcome Take(const TransferCall& call, const Answer& answer);

 private:
  ExceptionLimit& exceptions_;
  std::shared_ptr<Transfer> transfer_;
  std::uint32_t run_ = 0;
};

}  // namespace kx
