// The monitor's four device tiles: which controllers are connected, which one
// is selected (the one the front panel, the pages and the transfers serve),
// what connecting, disconnecting, selecting and a changed address do to them,
// and what an identification answer names. Pure: the monitor engine applies
// it and tells the window.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "core/exchange/exchange.h"
#include "core/monitor/monitor_device.h"

namespace kx {

// Shown when a controller answers the identification but is none of the known
// models: it has no status blocks to poll, so it is dropped.
inline constexpr std::string_view kUnknownModelText = "Unknown model, device disconnected";

// What an identification answer (asking for `words` registers) names: a model
// (kModelUnknown for none of the known ones) when `failure` is None. A KX1
// answers with function 0x77 or the exception E7.
struct Identification {
  Failure failure = Failure::None;
  std::uint8_t model = kModelUnknown;
};
Identification Identify(const Answer& answer, std::size_t words);

class DeviceSelection {
 public:
  // What a device's disconnection changed.
  struct Left {
    bool wasSelected = false;  // it was the selected device
    int next = kNoDevice;      // the selected device now (kNoDevice: none left), when it was
    bool noneLeft = false;     // it was the last connected device
  };

  // The window was shown: nothing connected, counts and texts cleared, the
  // first tile selected.
  void Reset();
  // Connects `d` (identification pending): true when it is the only
  // connected device, which then becomes the selected one.
  bool Connect(int d);
  // Disconnects `d`; nothing when it was not connected.
  std::optional<Left> Disconnect(int d);
  // `next` (a device or kNoDevice) becomes the selected device; its LEDs are
  // drawn anew. Returns the device selected before.
  int Select(int next);
  // A connected device other than the selected one.
  bool MaySelect(int d) const;
  // The tile's address spin box: true when the device is connected and is to
  // be identified again.
  bool ChangeAddress(int d, std::uint16_t address);
  // The tile's counters cleared: true when no device has an error counted.
  bool ClearCounters(int d);
  // Nothing is connected any more (the poll cycle found none).
  void NoneConnected() { connectedCount_ = 0; }

  // `d` if valid, else device 0.
  const MonitorDevice& Device(int d) const { return devices_[Index(d)]; }
  MonitorDevice& Device(int d) { return devices_[Index(d)]; }
  // The selected device, or nullptr when none is.
  const MonitorDevice* Selected() const { return ValidDevice(selected_) ? &Device(selected_) : nullptr; }
  std::span<const MonitorDevice, kMonitorDevices> devices() const { return devices_; }
  int connectedCount() const { return connectedCount_; }
  int selected() const { return selected_; }

 private:
  static std::size_t Index(int d) { return static_cast<std::size_t>(ValidDevice(d) ? d : 0); }

  std::array<MonitorDevice, kMonitorDevices> devices_{};
  int connectedCount_ = 0;
  int selected_ = 0;
};

}  // namespace kx
