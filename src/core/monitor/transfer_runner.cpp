#include "core/monitor/transfer_runner.h"

#include <utility>

#include "core/device/regmap.h"
#include "core/exchange/requests.h"

namespace kx {

bool ExceptionLimit::Count(std::uint8_t function) {
  int& count = function == kFnWriteError || function == kFnWriteErrorAlt ? writes_ : reads_;
  if (++count <= kTolerated) return false;
  Clear();
  return true;
}

Failure JudgeAnswer(const Answer& answer, std::size_t words) {
  if (!answer.Ok()) return answer.failure;
  // A late answer to an earlier request of another length is not taken for this one.
  if (words != 0 && answer.Words().size() != words) return Failure::Format;
  return Failure::None;
}

void TransferRunner::Start(std::shared_ptr<Transfer> transfer) {
  transfer_ = std::move(transfer);
  ++run_;
}

std::shared_ptr<Transfer> TransferRunner::Stop() {
  ++run_;
  return std::exchange(transfer_, nullptr);
}

std::optional<TransferCall> TransferRunner::Next() const {
  if (!transfer_) return std::nullopt;
  const std::optional<TransferRequest> step = transfer_->NextRequest();
  if (!step) return std::nullopt;
  return TransferCall{*step, run_};
}

ExchangeRequest TransferRunner::Request(const TransferRequest& step, const LineFormat& line, std::uint8_t address,
                                        std::uint8_t model) {
  using Action = TransferRequest::Action;
  if (step.action == Action::Read) return ReadRequest(line, address, step.reg, step.value);
  const std::uint16_t reg = step.action == Action::Unlock ? UnlockRegister(model) : step.reg;
  const std::uint16_t value = step.action == Action::Unlock ? kUnlockValue : step.value;
  if (step.broadcast) return BroadcastWriteRequest(line, reg, value);
  ExchangeRequest request = WriteRequest(line, address, reg, value);
  if (step.level) {
    // The controller answers a key write in its own way: no echo check.
    request.expect->echoOf.clear();
    request.expect->functions = {kFnWrite, kFnWriteError};
  }
  return request;
}

TransferOutcome TransferRunner::Take(const TransferCall& call, const Answer& answer) {
  const bool read = call.step.action == TransferRequest::Action::Read;
  const Failure failure = JudgeAnswer(answer, read ? call.step.value : 0);
  if (!transfer_ || call.run != run_) return {TransferStep::Stale, failure};
  if (call.step.broadcast) {
    // Nobody answers a broadcast: the end of its wait acknowledges it.
    transfer_->AnswerTaken({});
    return {TransferStep::Taken, Failure::None};
  }
  if (failure == Failure::None) {
    exceptions_.Clear();
    const std::vector<std::uint16_t> words = read ? answer.Words() : std::vector<std::uint16_t>{};
    transfer_->AnswerTaken(words);
    return {TransferStep::Taken, failure};
  }
  transfer_->AnswerFailed(failure);
  if (failure == Failure::Exception && exceptions_.Count(answer.function)) return {TransferStep::GiveUp, failure};
  return {TransferStep::Retry, failure};
}

}  // namespace kx
