// One monitored controller as the monitor engine knows it, and what the
// answers of the poll cycle do to it: the identification, the status polls
// and the selected controller's parameter pages. Pure: the engine hands in
// the words read and tells the window the changes returned.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "core/device/regmap.h"
#include "core/monitor/monitor_menus.h"
#include "core/monitor/poll_cycle.h"

namespace kx {

// What a tile's run lamp tells.
enum class RunLamp : std::uint8_t {
  Off,                // not connected (grey)
  Good,               // last exchange good (lime)
  Failed,             // last exchange failed (red)
  ReadingParameters,  // reading the parameter pages (yellow)
  ReadingFactory,     // reading the factory pages (blue)
};

// One device tile's controller.
struct MonitorDevice {
  std::uint16_t address = 1;  // 1..247
  bool connected = false;
  bool identifyPending = false;
  std::uint8_t model = kModelUnknown;
  int decimalPoint = 1;
  DeviceRecord rec;
  std::uint8_t lastStatusByte = 0xFF;  // last status byte shown; 0xFF forces a redraw
  std::uint32_t requestCount = 0;
  std::uint32_t errorCount = 0;
  RunLamp lamp = RunLamp::Off;
  bool detailRead = false;  // the model detail (request type 1) was read since it was connected
  int failuresInRow = 0;    // failed exchanges since its last good answer; four drop it
  std::string programText;  // last program display text (request type 8)
};

// Which part of a device changed (bit set passed to DeviceUpdated).
enum DeviceChange : unsigned {
  kChangeIdentified = 1U << 0,   // model code set (front-panel layout when selected)
  kChangePvSv = 1U << 1,         // PV/SV display (types 3, 5)
  kChangeOutputs = 1U << 2,      // output bars and alarm lamps (types 3, 5; not KX3 below mode 4)
  kChangeLeds = 1U << 3,         // status byte differs from the last shown: redraw LEDs
  kChangeProgram = 1U << 4,      // program display text (type 8)
  kChangeCounters = 1U << 5,     // request or error count
  kChangeLamp = 1U << 6,         // run lamp colour
  kChangeDiagnostics = 1U << 7,  // cold junction and voltage of the selected device (type 6)
  kChangeRecord = 1U << 8,       // other values of the device record
  kChangeSecurity = 1U << 9,     // KX3 security word (types 1, 7)
  kChangeAddress = 1U << 10,
};

// The device was (re)connected: its identification is pending.
void DeviceConnected(MonitorDevice& dev);
// The device was disconnected: lamp off, no program shown as running.
void DeviceDisconnected(MonitorDevice& dev);
// The engine started afresh: nothing connected, counts and texts cleared.
void DeviceReset(MonitorDevice& dev);
// The identification named `model` (kModelUnknown: none of the known ones): a KX3 starts at tenths.
void DeviceIdentified(MonitorDevice& dev, std::uint8_t model);

// A failed exchange charged to the device (its error count aside): true when
// it is the fourth failure in a row of a connected device, which drops it. An exception
// answer shows the controller alive: only refused status polls (`poll`) count
// towards dropping it, other refusals clear the count.
bool CountFailure(MonitorDevice& dev, bool exception, bool poll);

// The next connected device after `d` in cyclic order (kNoDevice: none).
int NextConnectedAfter(std::span<const MonitorDevice, kMonitorDevices> devices, int d);
// What the menus need to know of the selected device (nullptr: none).
MenuFacts MenuFactsOf(const MonitorDevice* selected);

// A write queued for the device: one that sets its decimal point sets it at
// once (and is kept in `page`), so that entries made after it are read with
// the point the controller will have when they reach it; the pages read after
// the write confirm it. True when it did.
bool TakeQueuedWrite(MonitorDevice& dev, std::uint16_t reg, std::uint16_t value, ParameterWords& page);

// The selected device's lamp colour at a step of the poll cycle (nothing: kept).
std::optional<RunLamp> PagesLampColour(PagesLamp lamp);

// What the poll cycle needs to know of the devices (the rest is the engine's).
PollFacts PollFactsOf(std::span<const MonitorDevice, kMonitorDevices> devices, int selected);

// What a status poll's answer changed.
struct StatusTaken {
  unsigned changes = 0;  // DeviceChange bits
  bool refresh = false;  // the selected device asks for its parameter pages again
};
// The words of a status poll or model-detail answer (request types 1 to 8);
// `selected`: the device is the selected one; `factoryMode`: the program
// display shows the running pattern's SV.
StatusTaken TakeStatusPoll(MonitorDevice& dev, RequestType type, std::span<const std::uint16_t> words,
                           bool selected, bool factoryMode);

// The words of a parameter or factory page of the selected device: kept in
// `page`, the decimal point and the record values the page holds follow them.
void TakeParameterPage(MonitorDevice& dev, RegBlock block, std::span<const std::uint16_t> words, ParameterWords& page);

}  // namespace kx
