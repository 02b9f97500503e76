#include "core/monitor/monitor_select.h"

#include <algorithm>

#include "core/monitor/transfer_runner.h"

namespace kx {

Identification Identify(const Answer& answer, std::size_t words) {
  const bool kx1 = (answer.function == kFnKx1Identify || answer.function == kFnIdentifyError) &&
                   (answer.Ok() || answer.failure == Failure::Exception);
  if (kx1) return {Failure::None, kModelKx1};
  const Failure failure = JudgeAnswer(answer, words);
  if (failure != Failure::None) return {failure, kModelUnknown};
  return {Failure::None, IdentifyModel(answer.function, answer.Words())};
}

void DeviceSelection::Reset() {
  for (MonitorDevice& dev : devices_) DeviceReset(dev);
  connectedCount_ = 0;
  selected_ = 0;
}

bool DeviceSelection::Connect(int d) {
  if (!ValidDevice(d) || Device(d).connected) return false;
  DeviceConnected(Device(d));
  return ++connectedCount_ == 1;
}

std::optional<DeviceSelection::Left> DeviceSelection::Disconnect(int d) {
  if (!ValidDevice(d) || !Device(d).connected) return std::nullopt;
  DeviceDisconnected(Device(d));
  connectedCount_ = std::max(0, connectedCount_ - 1);
  Left left;
  left.wasSelected = d == selected_;
  if (left.wasSelected) left.next = NextConnectedAfter(devices_, d);
  left.noneLeft = connectedCount_ == 0;
  return left;
}

int DeviceSelection::Select(int next) {
  const int old = selected_;
  selected_ = next;
  if (ValidDevice(next)) Device(next).lastStatusByte = 0xFF;  // its LEDs are drawn anew
  return old;
}

bool DeviceSelection::MaySelect(int d) const { return ValidDevice(d) && d != selected_ && Device(d).connected; }

bool DeviceSelection::ChangeAddress(int d, std::uint16_t address) {
  if (!ValidDevice(d)) return false;
  MonitorDevice& dev = Device(d);
  dev.address = std::clamp<std::uint16_t>(address, 1, 247);
  if (!dev.connected) return false;
  dev.identifyPending = true;
  dev.detailRead = false;
  return true;
}

bool DeviceSelection::ClearCounters(int d) {
  Device(d).requestCount = Device(d).errorCount = 0;
  return std::all_of(devices_.begin(), devices_.end(), [](const MonitorDevice& x) { return x.errorCount == 0; });
}

}  // namespace kx
