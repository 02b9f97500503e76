#include "kxsim/register_map.h"

#include <algorithm>
#include <array>
#include <vector>

namespace kxsim {

namespace {

using A = Access;

// Starting values: a controller at 25.3 degrees C, set to 30.0, K thermocouple
// in tenths, PID control, alarm 1 at 40.0 / 10.0, remote writing enabled.
constexpr RegisterDef kKx1[] = {
    {0x4700, 253, A::ReadOnly},     // PV
    {0x4701, 300, A::ReadWrite},    // SV
    {0x4702, 400, A::ReadWrite},    // alarm 1 high
    {0x4703, 100, A::ReadWrite},    // alarm 1 low
    {0x4704, 450, A::ReadWrite},    // alarm 2 high
    {0x4705, 50, A::ReadWrite},     // alarm 2 low
    {0x4706, 4000, A::ReadWrite},   // range high
    {0x4707, 0, A::ReadWrite},      // range low
    {0x4708, 47, A::ReadWrite},     // proportional band, tenths
    {0x4709, 260, A::ReadWrite},    // integral time
    {0x470A, 41, A::ReadWrite},     // derivative time
    {0x470B, 10, A::ReadWrite},     // hysteresis 1
    {0x470C, 100, A::ReadWrite},    // tune output high
    {0x470D, 0, A::ReadWrite},      // tune output low
    {0x470E, 0, A::ReadWrite},      // integral offset
    {0x470F, 0x0001, A::ReadWrite}, // bit 2: output 1 cools
    {0x4710, 1, A::ReadWrite},      // input type (K thermocouple, tenths)
    {0x4711, 0, A::ReadWrite},      // control mode
    {0x4712, 20, A::ReadWrite},     // control period 1
    {0x4713, 0, A::ReadWrite},      // PD offset
    {0x4714, 0, A::Factory},        // PV offset
    {0x4715, 1, A::ReadWrite},      // alarm 1 mode
    {0x4716, 0, A::ReadWrite},      // alarm 2 mode
    {0x4717, 1, A::ReadWrite},      // unit: 0 F, 1 C, 2 EU
    {0x4718, 0, A::ReadWrite},      // heat/cool
    {0x4719, 1, A::ReadWrite},      // run/stop: 0 stop, 1 run
    {0x471A, 1, A::ReadWrite},      // communication write enable
    {0x471B, 0x0320, A::Unlock},    // firmware version / unlock
    {0x471C, 0, A::ReadOnly},       // status byte
    {0x471D, 1, A::ReadOnly},       // status flags
    {0x471E, 0, A::ReadOnly},       // output 1, whole percent
    {0x471F, 235, A::ReadOnly},     // cold junction, tenths
    {0x4720, 0, A::Factory},        // output type 1
    {0x4721, 0, A::Factory},        // RTD offset
    {0x4722, 0, A::Factory},        // RTD gain
    {0x4723, 0, A::Factory},        // cold-junction offset
    {0x4724, 0, A::Command},        // restore default
    {0x4725, 0, A::Command},        // clear PV adjustment
    {0x4726, 0, A::Factory},        // TC gain
    {0x4727, 0, A::Factory},        // TC offset
    {0x4728, 1650, A::ReadOnly},    // voltage reading
    {0x4729, 0, A::ReadWrite},      // auto-tuning
    {0x472A, 0, A::WriteOnly},      // manual output 1
    {0x472B, 0, A::ReadOnly},       // PV status code
    {0x472C, 0, A::Reserved},
    {0x472D, 0, A::Reserved},
    {0x472E, 0, A::Reserved},
    {0x472F, 0, A::Upload},         // parameter memory
    {0x4730, 0, A::Reserved},
    {0x4731, 0, A::ReadWrite},      // lock status
    {0x4732, 0, A::Reserved},
    {0x4733, 0, A::ReadOnly},       // read by the status poll, unused
};

// KX2 and KX3 share most of their map; the differences are patched in below.
constexpr RegisterDef kKx2[] = {
    {0x4700, 253, A::ReadOnly},     // PV
    {0x4701, 300, A::ReadWrite},    // SV
    {0x4702, 0, A::ReadWrite},      // output 1, tenths of percent
    {0x4703, 0, A::ReadWrite},      // output 2, tenths of percent
    {0x4704, 4000, A::ReadWrite},   // range high
    {0x4705, 0, A::ReadWrite},      // range low
    {0x4706, 400, A::ReadWrite},    // alarm 1 high
    {0x4707, 100, A::ReadWrite},    // alarm 1 low
    {0x4708, 450, A::ReadWrite},    // alarm 2 high
    {0x4709, 50, A::ReadWrite},     // alarm 2 low
    {0x470A, 500, A::ReadWrite},    // alarm 3 high
    {0x470B, 0, A::ReadWrite},      // alarm 3 low
    {0x470C, 47, A::ReadWrite},     // proportional band, tenths
    {0x470D, 260, A::ReadWrite},    // integral time
    {0x470E, 41, A::ReadWrite},     // derivative time
    {0x470F, 0, A::ReadWrite},      // integral offset
    {0x4710, 0, A::ReadWrite},      // PD offset
    {0x4711, 100, A::ReadWrite},    // P coefficient, hundredths
    {0x4712, 0, A::ReadWrite},      // dead band
    {0x4713, 10, A::ReadWrite},     // hysteresis 1
    {0x4714, 10, A::ReadWrite},     // hysteresis 2
    {0x4715, 100, A::ReadWrite},    // tune output high
    {0x4716, 0, A::ReadWrite},      // tune output low
    {0x4717, 0x0001, A::ReadWrite}, // status bits: com-write, program running
    {0x4718, 0, A::ReadWrite},      // input type
    {0x4719, 0, A::ReadWrite},      // control mode
    {0x471A, 0, A::ReadWrite},      // heat/cool
    {0x471B, 20, A::ReadWrite},     // control period 1
    {0x471C, 20, A::ReadWrite},     // control period 2
    // PV offset: the panel unlocks before writing it, but the parameter
    // download writes it plainly, so a plain write is taken as well.
    {0x471D, 0, A::ReadWrite},      // PV offset
    {0x471E, 0, A::ReadWrite},      // lock status
    {0x471F, 0, A::ReadWrite},      // system alarm
    {0x4720, 1, A::ReadWrite},      // alarm 1 mode
    {0x4721, 0, A::ReadWrite},      // alarm 2 mode
    {0x4722, 0, A::ReadWrite},      // alarm 3 mode
    {0x4723, 1, A::ReadWrite},      // run/stop
    {0x4724, 1, A::ReadWrite},      // unit: 0 F, 1 C, 2 EU
    {0x4725, 1, A::ReadWrite},      // decimal point
    {0x4726, 1, A::ReadWrite},      // communication write enable
    {0x4727, 0, A::ReadWrite},      // auto-tuning
    {0x4728, 0, A::ReadOnly},       // status byte
    {0x4729, 1, A::ReadOnly},       // status flags
    {0x472A, 0x0105, A::Unlock},    // firmware version / unlock
    {0x472B, 0, A::ReadOnly},       // program running
    {0x472C, 0, A::ReadOnly},       // set value of the running pattern
    {0x472D, 0, A::Reserved},
    {0x472E, 235, A::ReadOnly},     // cold junction, tenths
    {0x472F, 1650, A::ReadOnly},    // voltage reading
    {0x4730, 0, A::Factory},        // output type 1
    {0x4731, 0, A::Factory},        // output type 2
    {0x4732, 0, A::Factory},        // RTD offset
    {0x4733, 0, A::Factory},        // RTD gain
    {0x4734, 0, A::Factory},        // TC offset
    {0x4735, 0, A::Factory},        // TC gain
    {0x4736, 0, A::Factory},        // cold-junction offset
    {0x4737, 0, A::Factory},        // linear offset
    {0x4738, 0, A::Factory},        // linear gain
    {0x474C, 0, A::Upload},         // parameter memory
    {0x474D, 0, A::StepUpload},     // ramp/soak step image
    {0x474E, 0, A::Command},        // restore default
    {0x474F, 0, A::Command},        // clear PV adjustment
    {0x4751, 0, A::ReadOnly},       // security word (KX3)
    {0x4762, 0, A::ReadWrite},      // program display mode
    {0x4763, 0, A::ReadOnly},       // time left, seconds
    {0x4764, 0, A::ReadOnly},       // time left, minutes
    {0x4765, 0, A::ReadOnly},       // step
    {0x4766, 0, A::ReadOnly},       // pattern
};

// KX3 differences from KX2.
constexpr RegisterDef kKx3Patch[] = {
    {0x4717, 0x0001, A::ReadWrite},  // kept for the parameter download
    {0x471A, 0, A::ReadWrite},       // output 1 function
    {0x471D, 0, A::Factory},         // PV offset (the download leaves it alone)
    {0x471E, 0, A::WriteOnly},       // lock status
    {0x471F, 1, A::ReadWrite},       // output 2 function: cools
    {0x4722, 0, A::Sync},            // automatic synchronisation of followers
    {0x4725, 0, A::Reserved},        // no decimal-point register
    {0x4726, 1, A::ReadOnly},        // com-write flag
    {0x4729, 1, A::Reserved},
    {0x470B, 0, A::CommFormat},      // address and communication format
    {0x4751, 0x0040, A::ReadOnly},   // security word: mode 8, no keys
    {0x472A, 0x0110, A::Unlock},     // firmware version / unlock
};

std::vector<RegisterDef> Build(std::span<const RegisterDef> base,
                               std::span<const RegisterDef> patch, bool program) {
  std::vector<RegisterDef> regs(base.begin(), base.end());
  for (const RegisterDef& p : patch) {
    auto it = std::find_if(regs.begin(), regs.end(), [&](const RegisterDef& r) { return r.reg == p.reg; });
    if (it != regs.end()) *it = p;
  }
  if (program) {
    // Gaps inside the block read as reserved zeros.
    for (std::uint16_t reg = 0x4739; reg <= 0x474B; ++reg) regs.push_back({reg, 0, A::Reserved});
    regs.push_back({0x4750, 0, A::Reserved});
    for (std::uint16_t reg = 0x4752; reg <= 0x4761; ++reg) regs.push_back({reg, 0, A::Reserved});
    // Ramp/soak table: start pattern, max steps, loop counts, links (8 = end),
    // then set value and time of each of the 64 steps.
    regs.push_back({0x4767, 0, A::ReadWrite});
    for (std::uint16_t reg = 0x4768; reg <= 0x476F; ++reg) regs.push_back({reg, 0, A::ReadWrite});
    for (std::uint16_t reg = 0x4770; reg <= 0x4777; ++reg) regs.push_back({reg, 0, A::ReadWrite});
    for (std::uint16_t reg = 0x4778; reg <= 0x477F; ++reg) regs.push_back({reg, 8, A::ReadWrite});
    for (std::uint32_t reg = 0x4780; reg <= 0x47FF; ++reg) {
      regs.push_back({static_cast<std::uint16_t>(reg), 0, A::ReadWrite});
    }
    // Extended parameters written by the KX2 parameter download.
    for (std::uint16_t reg = 0x1017; reg <= 0x101E; ++reg) regs.push_back({reg, 0, A::ReadWrite});
  }
  std::sort(regs.begin(), regs.end(), [](const RegisterDef& a, const RegisterDef& b) { return a.reg < b.reg; });
  return regs;
}

}  // namespace

std::string_view ModelName(Model model) {
  switch (model) {
    case Model::Kx1: return "kx1";
    case Model::Kx2: return "kx2";
    case Model::Kx3: return "kx3";
  }
  return "kx?";
}

std::optional<Model> ParseModel(std::string_view name) {
  if (name == "kx1") return Model::Kx1;
  if (name == "kx2") return Model::Kx2;
  if (name == "kx3") return Model::Kx3;
  return std::nullopt;
}

int ModelIndex(Model model) { return static_cast<int>(model); }

std::span<const RegisterDef> RegisterTable(Model model) {
  static const std::vector<RegisterDef> kx1 = Build(kKx1, {}, false);
  static const std::vector<RegisterDef> kx2 = Build(kKx2, {}, true);
  static const std::vector<RegisterDef> kx3 = [] {
    std::vector<RegisterDef> regs = Build(kKx2, kKx3Patch, true);
    // KX3 keeps its keys at 0x106B..0x106D and the key lists at 0x106E..0x1070;
    // it has no extended parameters of the KX2 download.
    std::erase_if(regs, [](const RegisterDef& r) { return r.reg >= 0x1017 && r.reg <= 0x101E; });
    for (std::uint16_t reg = 0x106B; reg <= 0x1070; ++reg) regs.push_back({reg, 0, A::WriteOnly});
    std::sort(regs.begin(), regs.end(), [](const RegisterDef& a, const RegisterDef& b) { return a.reg < b.reg; });
    return regs;
  }();
  switch (model) {
    case Model::Kx1: return kx1;
    case Model::Kx2: return kx2;
    case Model::Kx3: return kx3;
  }
  return {};
}

}  // namespace kxsim

namespace kxsim {

namespace {

constexpr MemoryField B(std::uint8_t offset, std::uint16_t reg) { return {offset, reg, false}; }
constexpr MemoryField W(std::uint8_t offset, std::uint16_t reg) { return {offset, reg, true}; }

// The same places the parameter download writes from, so an uploaded image
// written back gives the same registers.
constexpr MemoryField kKx1Memory[] = {
    B(10, 0x470F), B(11, 0x4731), B(12, 0x4710), B(13, 0x4711), B(28, 0x4712), B(30, 0x4713),
    B(29, 0x470E), B(14, 0x4715), B(15, 0x4716),
    W(0, 0x4701),  W(2, 0x4702),  W(4, 0x4703),  W(6, 0x4704),  W(8, 0x4705),  W(16, 0x4706),
    W(18, 0x4707), W(20, 0x4708), W(22, 0x4709), W(24, 0x470A), W(26, 0x470B),
};

constexpr MemoryField kKx2Memory[] = {
    B(12, 0x4717), B(14, 0x4718), B(15, 0x4719), B(19, 0x471A), B(48, 0x471B), B(49, 0x471C),
    B(50, 0x471D), B(13, 0x471E), B(51, 0x471F), B(16, 0x4720), B(17, 0x4721), B(18, 0x4722),
    W(24, 0x4701), W(20, 0x4704), W(22, 0x4705),
    W(0, 0x4706),  W(2, 0x4707),  W(4, 0x4708),  W(6, 0x4709),  W(8, 0x470A),  W(10, 0x470B),
    W(26, 0x470C), W(28, 0x470D), W(30, 0x470E), W(32, 0x470F), W(34, 0x4710), W(40, 0x4711),
    W(42, 0x4712), W(36, 0x4713), W(38, 0x4714),
    B(52, 0x1017), W(100, 0x1018), W(104, 0x1019), W(106, 0x101A), W(108, 0x101B), W(179, 0x101C),
    W(110, 0x101D), W(112, 0x101E),
};

constexpr MemoryField kKx3Memory[] = {
    B(12, 0x4717), B(14, 0x4718), B(15, 0x4719), B(54, 0x471A), B(48, 0x471B), B(49, 0x471C),
    B(55, 0x471F), B(16, 0x4720), B(17, 0x4721),
    W(24, 0x4701), W(20, 0x4704), W(22, 0x4705), W(0, 0x4706),  W(2, 0x4707),  W(4, 0x4708),
    W(6, 0x4709),  W(26, 0x470C), W(28, 0x470D), W(30, 0x470E), W(32, 0x470F), W(34, 0x4710),
    W(40, 0x4711), W(42, 0x4712), W(36, 0x4713), W(38, 0x4714), W(100, 0x4702), W(102, 0x4703),
};

std::vector<MemoryField> WithProgramHeader(std::span<const MemoryField> fields) {
  std::vector<MemoryField> all(fields.begin(), fields.end());
  // Program header: start pattern, then max step, loop count and link of the 8 patterns.
  for (int i = 0; i < 25; ++i) all.push_back(B(static_cast<std::uint8_t>(231 + i), static_cast<std::uint16_t>(0x4767 + i)));
  return all;
}

constexpr ProcessRegisters kKx1Process = {
    0x4719, 0x4717, 0x471C, 0x4729, 0x4714, 0x471E, 0,
    {0x4702, 0x4704, 0}, {0x4703, 0x4705, 0}, {0x4715, 0x4716, 0},
    0x4724, 0x4725, 0x471B, 0x471B,
};
constexpr ProcessRegisters kKx2Process = {
    0x4723, 0x4724, 0x4728, 0x4727, 0x471D, 0x4702, 0x4703,
    {0x4706, 0x4708, 0x470A}, {0x4707, 0x4709, 0x470B}, {0x4720, 0x4721, 0x4722},
    0x474E, 0x474F, 0x472A, 0x472A,
};
// KX3: no third alarm (0x470B holds the address and format).
constexpr ProcessRegisters kKx3Process = {
    0x4723, 0x4724, 0x4728, 0x4727, 0x471D, 0x4702, 0x4703,
    {0x4706, 0x4708, 0}, {0x4707, 0x4709, 0}, {0x4720, 0x4721, 0},
    0x474E, 0x474F, 0x472A, 0x472A,
};

}  // namespace

std::span<const MemoryField> MemoryMap(Model model) {
  static const std::vector<MemoryField> kx2 = WithProgramHeader(kKx2Memory);
  static const std::vector<MemoryField> kx3 = WithProgramHeader(kKx3Memory);
  switch (model) {
    case Model::Kx1: return kKx1Memory;
    case Model::Kx2: return kx2;
    case Model::Kx3: return kx3;
  }
  return {};
}

const ProcessRegisters& ProcessRegistersOf(Model model) {
  switch (model) {
    case Model::Kx1: return kKx1Process;
    case Model::Kx2: return kKx2Process;
    case Model::Kx3: return kKx3Process;
  }
  return kKx2Process;
}

}  // namespace kxsim
