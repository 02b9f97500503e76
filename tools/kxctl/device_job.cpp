#include "kxctl/device_job.h"

#include "core/exchange/requests.h"
#include "kxctl/requests.h"

namespace kxctl {

std::string AddressContext(int address) { return "address " + std::to_string(address); }

Outcome DeviceJob::Result() const {
  Outcome o{status_, error_, std::nullopt, {}};
  if (status_ != kExitOk) return o;
  Json doc = Json::Object();
  doc.Set("address", Json::Int(address_));
  Report(doc, o.table);
  o.json = std::move(doc);
  return o;
}

void DeviceJob::Learn(FactsDepth depth, UnknownModel unknown, std::function<void()> then) {
  LearnDevice(line_, address_, depth, facts_,
              [this](kx::ExchangeRequest r, Handler h) { ThenAny(std::move(r), std::move(h)); },
              [this, unknown, then = std::move(then)](const kx::Answer* failed) {
                if (failed != nullptr) {
                  Fail(AddressContext(address_) + ": " + failed->FailureText());
                  return;
                }
                if (unknown == UnknownModel::Fails && facts_.model == kx::kModelUnknown) {
                  Fail(AddressContext(address_) + ": the identification names no known model");
                  return;
                }
                then();
              });
}

}  // namespace kxctl
