#include "core/monitor/poll_cycle.h"

namespace kx {

namespace {

constexpr RequestType Following(RequestType t) { return static_cast<RequestType>(TypeNumber(t) + 1); }

int FirstConnected(const PollFacts& facts) {
  for (int d = 0; d < kMonitorDevices; ++d)
    if (facts.devices[static_cast<std::size_t>(d)].connected) return d;
  return kNoDevice;
}

}  // namespace

PollStep AdvancePoll(PollPosition at, const PollFacts& facts) {
  PollStep out;
  out.next = at;
  out.refresh = facts.refresh;
  RequestType& type = out.next.type;
  int& device = out.next.device;
  const int selected = facts.selected;
  auto fact = [&facts](int d) -> const PollDeviceFacts& {
    return facts.devices[static_cast<std::size_t>(d)];
  };
  // Status polls restart at the first connected device.
  auto backToPolling = [&] {
    type = RequestType::Status2;
    device = FirstConnected(facts);
    if (device == kNoDevice) {
      out.noDeviceLeft = true;
      device = 0;
    }
  };
  bool identifySelected = false;

  if (facts.reidentifySelected && ValidDevice(selected)) {
    out.reidentifyTaken = true;
    identifySelected = true;
    device = selected;
    type = RequestType::Identify;
  } else if (type <= RequestType::Program) {
    if (type == RequestType::Identify) {
      type = RequestType::ModelDetail;
    } else {
      if (type == RequestType::ModelDetail) {
        type = RequestType::Status2;
        device = 0;
      } else {
        ++device;
      }
      // Skip devices not connected (and, for the program display, those whose
      // program does not run); past the last one the next type starts.
      for (;;) {
        while (device < kMonitorDevices &&
               !(fact(device).connected && (type != RequestType::Program || fact(device).programRunning)))
          ++device;
        if (device < kMonitorDevices) break;
        type = Following(type);
        device = 0;
        if (type >= RequestType::EndOfCycle) break;
      }
    }
    if (type == RequestType::EndOfCycle) {
      if (facts.selectedRestricted) {
        out.refresh = false;
        out.panelLayout = true;
        backToPolling();
      } else if (out.refresh && ValidDevice(selected)) {
        device = selected;
        out.refresh = false;
        type = RequestType::PageFirst;
        out.lamp = PagesLamp::ReadingParameters;
      } else {
        backToPolling();
      }
    }
  } else if (type == RequestType::PageLast) {
    if (facts.factoryMode) {
      type = RequestType::FactoryFirst;
      out.unlock = !facts.unlocked;
      out.lamp = PagesLamp::ReadingFactory;
    } else {
      out.pagesEnded = true;
      out.lamp = PagesLamp::Good;
      backToPolling();
    }
  } else if (type >= RequestType::FactoryLast) {
    out.lamp = PagesLamp::Good;
    backToPolling();
  } else {
    type = Following(type);
  }

  // A device whose identification is pending gets it when the cycle reaches it.
  if (ValidDevice(device) && (fact(device).identifyPending || (identifySelected && device == selected))) {
    type = RequestType::Identify;
    out.identifyTaken = device;
    if (device == selected) out.refresh = true;
  }
  return out;
}

}  // namespace kx
