#include "kxctl/job.h"

#include "core/exchange/requests.h"
#include "kxctl/requests.h"

namespace kxctl {

void StepJob::Then(kx::ExchangeRequest request, std::string context, Handler onGood) {
  ThenAny(std::move(request), [this, context = std::move(context), onGood = std::move(onGood)](const kx::Answer& a) {
    if (a.Ok()) {
      onGood(a);
    } else {
      Fail(context + ": " + a.FailureText());
    }
  });
}

void StepJob::ThenAny(kx::ExchangeRequest request, Handler onAnswer, int tickMs) {
  steps_.push_back(Step{std::move(request), std::move(onAnswer), tickMs});
}

void StepJob::Handle(const kx::PortEvent& event) {
  if (const auto answer = line_.Handle(event)) Take(*answer);
}

void StepJob::LineLost(const std::string& text) {
  line_.LineLost();  // the request in flight ends with the line
  Fail(text);
}

void StepJob::Take(const kx::Answer& answer) {
  if (done_ || steps_.empty()) return;
  Step step = std::move(steps_.front());
  steps_.pop_front();
  step.handler(answer);
  Next();
}

void StepJob::Next() {
  if (done_) return;
  if (steps_.empty()) {
    done_ = true;
    Finished();
    return;
  }
  line_.SetTickMs(steps_.front().tickMs);
  line_.Send(steps_.front().request);
}

void StepJob::Fail(std::string message) {
  if (done_) return;
  status_ = kExitFailed;
  error_ = std::move(message);
  steps_.clear();
  done_ = true;
}

}  // namespace kxctl
