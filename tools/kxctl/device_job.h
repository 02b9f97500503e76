// A job on one controller at one address: it learns the controller first where
// it needs to, ends with "address N: <why>" when that fails, and reports a
// result document that starts with the address.
#pragma once

#include <functional>
#include <string>

#include "kxctl/device_facts.h"
#include "kxctl/job.h"

namespace kxctl {

// "address 3": how failures name the controller.
std::string AddressContext(int address);

class DeviceJob : public StepJob {
 public:
  // The failure as it is; after a good end, the document and the table of Report().
  Outcome Result() const final;

 protected:
  DeviceJob(Line& line, int address) : StepJob(line), address_(address) {}

  // Whether a job may go on with a controller whose identification names no
  // model the program knows.
  enum class UnknownModel { Accepted, Fails };
  // Learns the controller into facts_ to `depth`; `then` runs when that went well.
  void Learn(FactsDepth depth, UnknownModel unknown, std::function<void()> then);

  // What a job that ended well adds to its document after "address", and its table.
  virtual void Report(Json& doc, std::string& table) const = 0;

  int address_;
  DeviceFacts facts_;
};

}  // namespace kxctl
