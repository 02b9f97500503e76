// The monitor engine's poll cycle: which request type goes to which device
// next. Pure: the engine hands in what it knows of the devices and applies the
// step it gets back, so the order of requests is tested without a port.
//
// The cycle, with devices 0 and 2 connected and 2 selected: 2->d0, 2->d2,
// 3->d0, 3->d2, ... 7->d0, 7->d2, 8 to each device whose program runs, then
// either a new cycle or, when a refresh is requested, the selected device's
// parameter pages 10..14 (then the factory pages 20, 21 in factory mode, after
// an unlock write), then a new cycle. A device with its identification pending
// gets 0 and 1 when the cycle reaches it; re-identifying the selected device
// goes first.
#pragma once

#include <array>
#include <cstdint>

namespace kx {

inline constexpr int kMonitorDevices = 4;
inline constexpr int kNoDevice = 255;

constexpr bool ValidDevice(int d) { return d >= 0 && d < kMonitorDevices; }

// Request types of the engine; the numbers are the register map's (regmap.h).
enum class RequestType : std::uint8_t {
  Identify = 0,
  ModelDetail = 1,
  Status2 = 2,
  PvSv = 3,
  Status4 = 4,
  PvSv5 = 5,
  Status6 = 6,
  Security = 7,
  Program = 8,  // only to devices whose program runs
  EndOfCycle = 9,
  PageFirst = 10,
  PageLast = 14,
  FactoryFirst = 20,
  FactoryLast = 21,
};

constexpr int TypeNumber(RequestType t) { return static_cast<int>(t); }
// Status polls (and identification) go to the poll device; pages to the selected one.
constexpr bool IsStatusPoll(RequestType t) { return t < RequestType::PageFirst; }

struct PollPosition {
  RequestType type = RequestType::Identify;
  int device = 0;  // the poll device
  friend bool operator==(const PollPosition&, const PollPosition&) = default;
};

// What the cycle needs to know of one device.
struct PollDeviceFacts {
  bool connected = false;
  bool programRunning = false;
  bool identifyPending = false;
};

struct PollFacts {
  std::array<PollDeviceFacts, kMonitorDevices> devices{};
  int selected = kNoDevice;
  bool selectedRestricted = false;  // the selected device is a KX3 below security mode 4: no pages
  bool reidentifySelected = false;
  bool refresh = false;             // read the selected device's pages at the end of the cycle
  bool factoryMode = false;
  bool unlocked = false;            // the unlock write was just acknowledged
};

// Colour the selected device's run lamp takes at a step.
enum class PagesLamp : std::uint8_t { Keep, ReadingParameters, ReadingFactory, Good };

// One move of the cycle and what the engine does with it.
struct PollStep {
  PollPosition next;
  bool refresh = false;             // the refresh request afterwards
  bool reidentifyTaken = false;     // clear "re-identify selected"
  int identifyTaken = kNoDevice;    // this device's pending identification is being served
  bool unlock = false;              // an unlock write goes before the factory pages
  bool panelLayout = false;         // end of a cycle of a restricted KX3: lay out the panels
  bool pagesEnded = false;          // the parameter pages ended without factory mode
  PagesLamp lamp = PagesLamp::Keep;
  bool noDeviceLeft = false;        // nothing is connected any more
};

// The position after `at` (after a decoded answer, a dropped device or an
// exception abort). Call it only while a device is connected.
PollStep AdvancePoll(PollPosition at, const PollFacts& facts);

}  // namespace kx
