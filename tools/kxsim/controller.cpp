#include "kxsim/controller.h"

#include "kxsim/faults.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace kxsim {

namespace {

constexpr std::uint16_t Word(std::uint8_t high, std::uint8_t low) {
  return static_cast<std::uint16_t>((high << 8) | low);
}

void PutWord(kx::Bytes& out, std::uint16_t value) {
  out.push_back(static_cast<std::uint8_t>(value >> 8));
  out.push_back(static_cast<std::uint8_t>(value & 0xFF));
}

// Largest register count one read may ask for (an answer's byte count is one byte).
constexpr std::uint16_t kMaxReadCount = 125;

struct FaultNameEntry {
  Fault fault;
  std::string_view name;
};
constexpr FaultNameEntry kFaultNames[] = {
    {Fault::None, "none"},           {Fault::NoAnswer, "noanswer"},
    {Fault::Noise, "noise"},         {Fault::BadCheck, "badcheck"},
    {Fault::Exception, "exception"}, {Fault::WrongAddress, "wrongaddr"},
    {Fault::Garbage, "garbage"},
};

// Bytes put in front of an answer by the noise fault. No ':' and no LF, so an
// ASCII receiver sees a frame that does not start with ':' rather than two frames.
constexpr std::uint8_t kNoise[] = {0x00, 0xFF, 0x13, 0x80};

}  // namespace

std::optional<Fault> ParseFault(std::string_view name) {
  for (const auto& entry : kFaultNames) {
    if (entry.name == name) return entry.fault;
  }
  return std::nullopt;
}

Controller::Controller(Model model, std::uint8_t address, const LineFormat& format,
                       const ControllerOptions& options)
    : model_(model), address_(address), format_(format), options_(options) {
  for (const RegisterDef& def : RegisterTable(model)) slots_.push_back({def, def.value});
  const std::uint16_t unlockReg = model == Model::Kx1 ? 0x471B : 0x472A;
  if (options_.firmware) SetRegister(unlockReg, *options_.firmware);
  if (model == Model::Kx3 && options_.security) SetRegister(0x4751, *options_.security);
  if (model == Model::Kx3 && options_.output1Function) SetRegister(0x471A, *options_.output1Function);
  if (model == Model::Kx3 && options_.output2Function) SetRegister(0x471F, *options_.output2Function);
  pv_ = static_cast<std::int16_t>(Get(kRegPv));
  noiseState_ = 0x9E3779B9U * (address + 1U);
  if (options_.programRunning) StartProgram();
  if (options_.comWriteOff) SetComWrite(false);
  if (model != Model::Kx1 && options_.loader.enabled) {
    loader_ = std::make_unique<Loader>(options_.loader.fault);
    inLoader_ = model == Model::Kx2;  // a KX3 enters it by the flash-enable write
  }
  for (int i = 1; model == Model::Kx3 && i <= options_.followers; ++i) {
    ControllerOptions followerOptions;
    followerOptions.firmware = options_.firmware;
    const int followerAddress = std::min(247, address + i);
    followers_.push_back(std::make_unique<Controller>(
        model, static_cast<std::uint8_t>(followerAddress), format, followerOptions));
  }
}

std::string Controller::Describe() const {
  return std::string(ModelName(model_)) + "@" + std::to_string(address_) + ":" + ToString(format_);
}

Controller::Slot* Controller::Find(std::uint16_t reg) {
  auto it = std::lower_bound(slots_.begin(), slots_.end(), reg,
                             [](const Slot& s, std::uint16_t r) { return s.def.reg < r; });
  return it != slots_.end() && it->def.reg == reg ? &*it : nullptr;
}

const Controller::Slot* Controller::Find(std::uint16_t reg) const {
  return const_cast<Controller*>(this)->Find(reg);  // NOLINT: same lookup, no mutation
}

std::optional<std::uint16_t> Controller::Register(std::uint16_t reg) const {
  const Slot* slot = Find(reg);
  if (slot == nullptr) return std::nullopt;
  if (slot->def.access == Access::CommFormat) return Word(address_, EncodeFormatByte(format_));
  return slot->value;
}

bool Controller::SetRegister(std::uint16_t reg, std::uint16_t value) {
  Slot* slot = Find(reg);
  if (slot == nullptr) return false;
  slot->value = value;
  // KX2 shows its com-write flag in two registers; both say the same.
  if (model_ == Model::Kx2 && (reg == kKx2StatusBits || reg == ComWriteRegister(model_))) {
    Slot* flag = Find(ComWriteRegister(model_));
    Slot* bits = Find(kKx2StatusBits);
    if (reg == kKx2StatusBits) flag->value = value & 1;
    else bits->value = static_cast<std::uint16_t>((bits->value & ~1U) | (value & 1U));
  }
  return true;
}

void Controller::SetProgramRunning(bool running) {
  if (running && !options_.programRunning && model_ != Model::Kx1) {
    options_.programRunning = true;
    StartProgram();
  }
  options_.programRunning = running && model_ != Model::Kx1;
}

void Controller::SetComWrite(bool on) {
  options_.comWriteOff = !on;
  const std::uint16_t bit = on ? 1 : 0;
  const std::uint16_t flag = model_ == Model::Kx1 ? 0x471A : 0x4726;
  const std::uint16_t bits = model_ == Model::Kx1 ? 0x470F : 0x4717;
  if (model_ == Model::Kx3) return;  // no com-write flag: it only refuses
  Set(flag, bit);
  Set(bits, static_cast<std::uint16_t>((Get(bits) & 0xFFFE) | bit));
}

void Controller::SetFault(Fault fault, std::uint8_t exceptionCode) {
  options_.fault = fault;
  options_.exceptionCode = exceptionCode;
}

void Controller::SilenceAfter(std::optional<unsigned> requests) {
  options_.silenceAfter = requests;
  if (!requests) answered_ = 0;
}

std::optional<kx::Bytes> Controller::Handle(std::span<const std::uint8_t> pdu, SimTime now) {
  if (pdu.size() < 2) return std::nullopt;
  const bool broadcast = pdu[0] == 0;
  if (!broadcast && pdu[0] != address_) return std::nullopt;
  if (inLoader_ || (restartingUntil_ && now < *restartingUntil_)) return std::nullopt;
  Advance(now);
  if (options_.silenceAfter && answered_ >= *options_.silenceAfter) return std::nullopt;
  if (options_.fault == Fault::NoAnswer) return std::nullopt;

  if (broadcast) {
    // A broadcast is acted on only when it is a well-formed single write; it is
    // never answered. An address change by broadcast is refused: it would put
    // every controller on the line at the same address.
    const bool write = pdu[1] == 0x06 && pdu.size() == 6;
    const Slot* slot = write ? Find(Word(pdu[2], pdu[3])) : nullptr;
    if (options_.fault == Fault::None && slot != nullptr && slot->def.access != Access::CommFormat) Answer(pdu);
    ApplyPendingChange();
    enterLoader_ = false;  // every unit restarting at once is no update
    return std::nullopt;
  }
  kx::Bytes answer = options_.fault == Fault::Exception ? Exception(pdu[1], options_.exceptionCode)
                                                        : Answer(pdu);
  ++answered_;
  kx::Bytes frame = Frame(std::move(answer));
  ApplyPendingChange();
  if (std::exchange(enterLoader_, false)) {
    loader_ = std::make_unique<Loader>(options_.loader.fault);
    inLoader_ = true;
    restartingUntil_ = now + kRestartPause;
  }
  return frame;
}

bool Controller::ListensAsLoader(SimTime now) const {
  return inLoader_ && (!restartingUntil_ || now >= *restartingUntil_);
}

std::optional<Loader::Reply> Controller::HandleLoaderFrame(std::span<const std::uint8_t> frame, SimTime now) {
  if (!ListensAsLoader(now)) return std::nullopt;
  auto reply = loader_->Handle(frame);
  if (reply && loader_->verified()) {
    // The new program runs after a restart; the re-power a KX2 asks for is spared.
    inLoader_ = false;
    if (const auto version = loader_->ProgramVersion()) Set(0x472A, *version);
    restartingUntil_ = now + reply->delay + kRestartPause;
  }
  return reply;
}

kx::Bytes Controller::Answer(std::span<const std::uint8_t> pdu) {
  const std::uint8_t function = pdu[1];
  if (function != 0x03 && function != 0x06 && function != 0x67) {
    return Exception(function, kExIllegalFunction);
  }
  // Functions 03, 06 and 0x67 carry exactly four data bytes.
  if (pdu.size() < 6) return Exception(function, kExTooFewData);
  if (pdu.size() > 6) return Exception(function, kExTooManyData);
  const std::uint16_t first = Word(pdu[2], pdu[3]);
  const std::uint16_t second = Word(pdu[4], pdu[5]);
  switch (function) {
    case 0x03: return ReadRegisters(function, first, second);
    case 0x67: return Identify(first, second);
    default: return WriteRegister(pdu, first, second);
  }
}

kx::Bytes Controller::Exception(std::uint8_t function, std::uint8_t code) const {
  return {address_, static_cast<std::uint8_t>(function | 0x80), code};
}

std::uint16_t Controller::ReadSlot(Slot& slot) {
  switch (slot.def.access) {
    case Access::Command:
    case Access::WriteOnly:
    case Access::Reserved:
    case Access::Sync:
      return 0;
    case Access::CommFormat:
      return Word(address_, EncodeFormatByte(format_));
    case Access::Upload: {
      // The image is taken when a pass starts, so one upload is consistent.
      if (memoryOffset_ == 0) SnapshotMemory();
      const std::uint8_t offset = memoryOffset_++;
      return Word(offset, memorySnapshot_[offset]);
    }
    case Access::StepUpload: {
      const std::uint8_t offset = stepOffset_++;
      return Word(offset, StepImageByte(offset));
    }
    default:
      return LiveValue(slot.def.reg, slot.value);
  }
}

std::uint16_t Controller::LiveValue(std::uint16_t reg, std::uint16_t stored) const {
  const bool kx1 = model_ == Model::Kx1;
  if (reg == kRegPv && !kx1 && pvStatus_ != 0) return static_cast<std::uint16_t>(0x8000 | (pvStatus_ & 0x0F));
  if (reg == 0x472B) return kx1 ? pvStatus_ : (options_.programRunning ? 1 : 0);
  if (reg == 0x4717 && !kx1) {
    return static_cast<std::uint16_t>(options_.programRunning ? (stored | 0x20) : (stored & ~0x20));
  }
  return stored;
}

kx::Bytes Controller::ReadRegisters(std::uint8_t function, std::uint16_t start, std::uint16_t count) {
  if (count == 0 || count > kMaxReadCount) return Exception(function, kExIllegalData);
  if (static_cast<unsigned>(start) + count > 0x10000U) return Exception(function, kExIllegalAddress);
  for (unsigned i = 0; i < count; ++i) {
    if (Find(static_cast<std::uint16_t>(start + i)) == nullptr) return Exception(function, kExIllegalAddress);
  }
  kx::Bytes out{address_, function, static_cast<std::uint8_t>(2 * count)};
  for (unsigned i = 0; i < count; ++i) PutWord(out, ReadSlot(*Find(static_cast<std::uint16_t>(start + i))));
  return out;
}

kx::Bytes Controller::Identify(std::uint16_t start, std::uint16_t count) {
  if (model_ == Model::Kx1 && options_.kx1IdFunction == 0xE7) return Exception(0x67, kExIllegalFunction);
  if (count == 0 || count > kMaxReadCount) return Exception(0x67, kExIllegalData);
  if (start < kIdStart || static_cast<unsigned>(start) + count > kIdStart + kIdCount) {
    return Exception(0x67, kExIllegalAddress);
  }
  const std::uint8_t function = model_ == Model::Kx1 ? options_.kx1IdFunction : 0x67;
  // Identification block: 2 marks a family controller, then the model index,
  // then a word the PC does not use (the firmware version here).
  const std::uint16_t version = *Register(model_ == Model::Kx1 ? 0x471B : 0x472A);
  const std::uint16_t block[kIdCount] = {2, static_cast<std::uint16_t>(ModelIndex(model_)), version};
  kx::Bytes out{address_, function, static_cast<std::uint8_t>(2 * count)};
  for (unsigned i = 0; i < count; ++i) PutWord(out, block[start - kIdStart + i]);
  return out;
}

kx::Bytes Controller::WriteRegister(std::span<const std::uint8_t> pdu, std::uint16_t reg,
                                    std::uint16_t value) {
  if (options_.comWriteOff) return Exception(0x06, kExIllegalCommand);
  Slot* slot = Find(reg);
  if (slot == nullptr) return Exception(0x06, kExIllegalAddress);
  // The unlock covers the one write that follows it, whatever that write is.
  const bool unlocked = std::exchange(unlocked_, false);
  if (model_ == Model::Kx3 && loader_ && reg == kFlashEnableRegister && value == kFlashEnableValue) {
    if (!unlocked) return Exception(0x06, kExIllegalCommand);
    enterLoader_ = true;  // after the echo has been built
    return kx::Bytes(pdu.begin(), pdu.end());
  }
  // Com-write flag off (KX1, KX2) or a KX3 security mode that keeps the register.
  if (const auto refused = WriteRefusal(model_, reg, [this](std::uint16_t r) { return Get(r); })) {
    return Exception(0x06, *refused);
  }
  switch (slot->def.access) {
    case Access::ReadOnly:
    case Access::Reserved:
      return Exception(0x06, kExIllegalAddress);
    case Access::Factory:
      if (!unlocked) return Exception(0x06, kExIllegalCommand);
      slot->value = value;
      break;
    case Access::Command:
      if (value != kUnlockValue) return Exception(0x06, kExIllegalData);
      if (reg == ProcessRegistersOf(model_).restoreDefault) RestoreDefaults();
      else Set(ProcessRegistersOf(model_).pvOffset, 0);
      break;
    case Access::Unlock:
      if (value != kUnlockValue) return Exception(0x06, kExIllegalData);
      unlocked_ = true;
      break;
    case Access::Upload:
      // Parameter memory byte: offset in the high byte, the byte in the low one.
      if (model_ != Model::Kx1 && !unlocked) return Exception(0x06, kExIllegalCommand);
      WriteMemoryByte(static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value & 0xFF));
      break;
    case Access::StepUpload:
      WriteStepImageByte(static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value & 0xFF));
      break;
    case Access::CommFormat: {
      const std::uint8_t newAddress = static_cast<std::uint8_t>(value >> 8);
      const auto newFormat = DecodeFormatByte(static_cast<std::uint8_t>(value & 0xFF));
      if (newAddress < 1 || newAddress > 247 || !newFormat) return Exception(0x06, kExIllegalData);
      pendingChange_ = {newAddress, *newFormat};
      break;
    }
    case Access::Sync:
      pendingSync_ = value == 1;
      break;
    case Access::ReadWrite:
    case Access::WriteOnly:
      SetRegister(reg, value);
      if (model_ == Model::Kx3 && reg >= kKx3LevelFirst && reg < kKx3KeyChangeFirst + 3) {
        Set(kKx3SecurityWord, Kx3SecurityAfterWrite(kx3Keys_, Get(kKx3SecurityWord), reg, value));
      }
      break;
  }
  return kx::Bytes(pdu.begin(), pdu.end());
}

kx::Bytes Controller::Frame(kx::Bytes pdu) const {
  if (options_.fault == Fault::WrongAddress && !pdu.empty()) {
    pdu[0] = static_cast<std::uint8_t>(address_ >= 247 ? 1 : address_ + 1);
  }
  kx::Bytes frame = kx::BuildFrame(format_.form, pdu);
  if (options_.fault == Fault::BadCheck) {
    if (format_.form == kx::FrameForm::Rtu) {
      frame.back() ^= 0xFF;
    } else {
      // Second LRC digit, just before CR LF: swap for another hexadecimal digit.
      std::uint8_t& digit = frame[frame.size() - 3];
      digit = digit == '0' ? '1' : '0';
    }
  }
  if (options_.fault == Fault::Noise) frame.insert(frame.begin(), std::begin(kNoise), std::end(kNoise));
  if (options_.fault == Fault::Garbage) return GarbledAnswer(format_.form, frame);
  return frame;
}

void Controller::ApplyPendingChange() {
  if (pendingChange_) {
    address_ = pendingChange_->first;
    format_ = pendingChange_->second;
    pendingChange_.reset();
  }
  if (pendingSync_) {
    pendingSync_ = false;
    Synchronise();
  }
}

void Controller::Synchronise() {
  int next = address_;
  for (auto& follower : followers_) {
    next = next >= 247 ? 1 : next + 1;
    follower->address_ = static_cast<std::uint8_t>(next);
    follower->format_ = format_;
  }
}

// --- Simulated process -------------------------------------------------------

namespace {

constexpr std::uint16_t kProgramStart = 0x4767;
constexpr std::uint16_t kProgramMaxStep = 0x4768;
constexpr std::uint16_t kProgramLoops = 0x4770;
constexpr std::uint16_t kProgramLink = 0x4778;
constexpr std::uint16_t kProgramSteps = 0x4780;  // set value and time (minutes) of step k at + 2k, + 2k + 1
// A step whose time is 0 (no program written) lasts this long, so the display still counts down.
constexpr double kDefaultStepSeconds = 600.0;
// Proportional band of the simulated control, register units.
constexpr double kBand = 50.0;

int Signed(std::uint16_t v) { return static_cast<std::int16_t>(v); }

}  // namespace

void Controller::HoldProcess(bool hold) {
  if (processHeld_ && !hold) pv_ = static_cast<std::int16_t>(Get(kRegPv));
  processHeld_ = hold;
}

void Controller::Advance(SimTime now) {
  if (processHeld_) {
    started_ = true;
    last_ = std::max(last_, now);
    return;
  }
  if (!started_) {
    started_ = true;
    last_ = now;
    UpdateOutputs();
    return;
  }
  if (now <= last_) return;
  const double dt = static_cast<double>((now - last_).count()) / 1e6;
  last_ = now;
  if (options_.programRunning) RunProgram(dt);
  const ProcessRegisters& p = ProcessRegistersOf(model_);
  const double target = Get(p.runStop) == 1 ? Signed(RunningSetValue()) : kAmbient;
  pv_ += (target - pv_) * (1.0 - std::exp(-dt / kLagSeconds));
  // Noise of -1, 0 or +1 in the last digit, from a fixed sequence per controller.
  noiseState_ = noiseState_ * 1664525U + 1013904223U;
  const int noise = static_cast<int>((noiseState_ >> 16) % 3) - 1;
  const long pv = std::lround(pv_) + noise + Signed(Get(p.pvOffset));
  Set(kRegPv, static_cast<std::uint16_t>(std::clamp(pv, -32768L, 32767L)));
  UpdateOutputs();
}

std::uint16_t Controller::RunningSetValue() const {
  if (options_.programRunning) {
    const int k = pattern_ * 8 + step_;
    if (Get(static_cast<std::uint16_t>(kProgramSteps + 2 * k + 1)) != 0) {
      return Get(static_cast<std::uint16_t>(kProgramSteps + 2 * k));
    }
  }
  return Get(kRegSv);
}

void Controller::UpdateOutputs() {
  const ProcessRegisters& p = ProcessRegistersOf(model_);
  const bool measuring = pvStatus_ == 0;
  const bool running = Get(p.runStop) == 1 && measuring;
  const double target = Signed(RunningSetValue());
  const auto level = [](double diff) { return static_cast<int>(std::clamp(diff * 1000.0 / kBand, 0.0, 1000.0)); };
  bool out1 = false;
  bool out2 = false;
  // Control mode and output configuration decide which output heats or cools.
  const OutputConfig config = OutputConfigOf(model_, [this](std::uint16_t r) { return Get(r); });
  const int heat = level(target - pv_);
  const int cool = level(pv_ - target);
  if (model_ == Model::Kx1) {
    constexpr std::uint16_t kManualOutput = 0x472A;
    const int percent = config.manual ? Get(kManualOutput)
                        : running     ? OutputLevel(config.out1, heat, cool, config.onOff) / 10
                                      : 0;
    Set(p.output1, static_cast<std::uint16_t>(percent));
    out1 = percent > 0;
  } else {
    // Running: the outputs are the controller's own; stopped or in manual
    // mode, they keep what was written.
    if (running && !config.manual) {
      Set(p.output1, static_cast<std::uint16_t>(OutputLevel(config.out1, heat, cool, config.onOff)));
      Set(p.output2, static_cast<std::uint16_t>(OutputLevel(config.out2, heat, cool, config.onOff)));
    }
    out1 = measuring && Get(p.output1) > 0;
    out2 = measuring && Get(p.output2) > 0;
  }
  bool alarm[3] = {};
  const int pv = Signed(Get(kRegPv));
  for (int i = 0; i < 3; ++i) {
    if (p.alarmHigh[i] == 0 || !measuring || Get(p.alarmMode[i]) == 0) continue;
    alarm[i] = pv > Signed(Get(p.alarmHigh[i])) || pv < Signed(Get(p.alarmLow[i]));
  }
  const std::uint16_t unit = Get(p.unit);
  const bool celsius = unit == 1;
  const bool fahrenheit = unit == 0;
  const bool tuning = Get(p.autoTune) != 0;
  int status = 0;
  if (model_ == Model::Kx1) {
    status = (alarm[2] ? 0x01 : 0) | (fahrenheit ? 0x04 : 0) | (celsius ? 0x08 : 0) | (alarm[1] ? 0x10 : 0) |
             (alarm[0] ? 0x20 : 0) | (out1 ? 0x40 : 0) | (tuning ? 0x80 : 0);
  } else {
    status = (alarm[2] ? 0x01 : 0) | (alarm[1] ? 0x02 : 0) | (celsius ? 0x04 : 0) | (fahrenheit ? 0x08 : 0) |
             (alarm[0] ? 0x10 : 0) | (out2 ? 0x20 : 0) | (out1 ? 0x40 : 0) | (tuning ? 0x80 : 0);
  }
  Set(p.statusByte, static_cast<std::uint16_t>(status));
}

double Controller::StepSeconds() const {
  const int k = pattern_ * 8 + step_;
  const std::uint16_t minutes = Get(static_cast<std::uint16_t>(kProgramSteps + 2 * k + 1));
  return minutes != 0 ? minutes * 60.0 : kDefaultStepSeconds;
}

void Controller::StartProgram() {
  pattern_ = Get(kProgramStart) % 8;
  step_ = 0;
  loops_ = 0;
  secondsLeft_ = StepSeconds();
  RunProgram(0.0);
}

void Controller::RunProgram(double seconds) {
  while (seconds >= secondsLeft_) {
    seconds -= secondsLeft_;
    // Next step; past the pattern's last step it repeats for its loop count,
    // then goes on with its link. A program that ends starts over.
    if (++step_ > std::min<int>(Get(static_cast<std::uint16_t>(kProgramMaxStep + pattern_)), 7)) {
      step_ = 0;
      if (++loops_ > Get(static_cast<std::uint16_t>(kProgramLoops + pattern_))) {
        loops_ = 0;
        const int link = Get(static_cast<std::uint16_t>(kProgramLink + pattern_));
        pattern_ = link < 8 ? link : Get(kProgramStart) % 8;
      }
    }
    secondsLeft_ = StepSeconds();
  }
  secondsLeft_ -= seconds;
  const auto left = static_cast<long>(std::ceil(secondsLeft_));
  Set(0x4763, static_cast<std::uint16_t>(std::min(left, 65535L)));
  Set(0x4764, static_cast<std::uint16_t>(left / 60));
  Set(0x4765, static_cast<std::uint16_t>(step_));
  Set(0x4766, static_cast<std::uint16_t>(pattern_));
  Set(0x472C, RunningSetValue());
}

void Controller::RestoreDefaults() {
  for (Slot& slot : slots_) {
    if (slot.def.access == Access::ReadWrite || slot.def.access == Access::Factory) slot.value = slot.def.value;
  }
}

std::uint8_t Controller::MemoryByte(std::uint8_t offset) const {
  // Control or status bits whose bit 0 is the remote-write enable, kept in a
  // register of its own: the download writes that register from this bit.
  struct ComWriteBit {
    Model model;
    std::uint8_t offset;
    std::uint16_t bits;
    std::uint16_t comWrite;
  };
  static constexpr ComWriteBit kComWriteBits[] = {{Model::Kx1, 10, 0x470F, 0x471A}, {Model::Kx2, 12, 0x4717, 0x4726}};
  for (const ComWriteBit& c : kComWriteBits) {
    if (c.model == model_ && c.offset == offset) {
      return static_cast<std::uint8_t>((LiveValue(c.bits, Get(c.bits)) & 0xFE) | (Get(c.comWrite) & 0x01));
    }
  }
  for (const MemoryField& f : MemoryMap(model_)) {
    if (f.offset == offset) return static_cast<std::uint8_t>(f.word ? Get(f.reg) >> 8 : Get(f.reg) & 0xFF);
    if (f.word && f.offset + 1 == offset) return static_cast<std::uint8_t>(Get(f.reg) & 0xFF);
  }
  return memory_[offset];
}

void Controller::WriteMemoryByte(std::uint8_t offset, std::uint8_t byte) {
  memory_[offset] = byte;
  for (const MemoryField& f : MemoryMap(model_)) {
    const std::uint16_t v = Get(f.reg);
    if (f.offset == offset) {
      Set(f.reg, f.word ? static_cast<std::uint16_t>((byte << 8) | (v & 0xFF)) : byte);
    } else if (f.word && f.offset + 1 == offset) {
      Set(f.reg, static_cast<std::uint16_t>((v & 0xFF00) | byte));
    }
  }
}

void Controller::SnapshotMemory() {
  for (std::size_t i = 0; i < memorySnapshot_.size(); ++i)
    memorySnapshot_[i] = MemoryByte(static_cast<std::uint8_t>(i));
}

// Step image: four bytes per step, set value high, low, time high, low.
std::uint8_t Controller::StepImageByte(std::uint8_t offset) const {
  const std::uint16_t v = Get(static_cast<std::uint16_t>(kProgramSteps + offset / 2));
  return static_cast<std::uint8_t>(offset % 2 == 0 ? v >> 8 : v & 0xFF);
}

void Controller::WriteStepImageByte(std::uint8_t offset, std::uint8_t byte) {
  const auto reg = static_cast<std::uint16_t>(kProgramSteps + offset / 2);
  const std::uint16_t v = Get(reg);
  Set(reg, offset % 2 == 0 ? static_cast<std::uint16_t>((byte << 8) | (v & 0xFF))
                           : static_cast<std::uint16_t>((v & 0xFF00) | byte));
}

}  // namespace kxsim
