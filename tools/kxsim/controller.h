// One simulated controller: its registers, its answers to Modbus requests and
// the faults it can be told to show. It knows nothing of the transport: the
// line hands it requests that passed the frame checks and sends what it returns.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/modbus/codec.h"
#include "kxsim/line_format.h"
#include "kxsim/loader.h"
#include "kxsim/panel_registers.h"
#include "kxsim/register_map.h"
#include "kxsim/sim_time.h"

namespace kxsim {

// Faults a controller can show on its answers.
enum class Fault {
  None,
  NoAnswer,      // stays silent
  Noise,         // garbage bytes in front of the answer
  BadCheck,      // answer with a wrong LRC or CRC
  Exception,     // every request answered with an exception (code in exceptionCode)
  WrongAddress,  // answer carries another address
  Garbage,       // answer replaced by bytes of its length that form no valid frame
};

std::optional<Fault> ParseFault(std::string_view name);

// Modbus exception codes used by the controllers.
inline constexpr std::uint8_t kExIllegalFunction = 0x01;
inline constexpr std::uint8_t kExIllegalAddress = 0x02;
inline constexpr std::uint8_t kExIllegalData = 0x03;
inline constexpr std::uint8_t kExIllegalCommand = 0x04;
inline constexpr std::uint8_t kExTooFewData = 0x0C;
inline constexpr std::uint8_t kExTooManyData = 0x0D;

struct ControllerOptions {
  std::optional<std::uint16_t> firmware;  // version word, e.g. 0x0105; model default otherwise
  std::optional<std::uint16_t> security;  // KX3 security word
  bool programRunning = false;
  std::uint8_t kx1IdFunction = 0x77;       // KX1 answer to 0x67: 0x77, 0xE7 or 0x67
  std::optional<unsigned> silenceAfter;    // silent once this many requests were answered
  Fault fault = Fault::None;
  std::uint8_t exceptionCode = kExIllegalCommand;
  int followers = 0;                       // KX3 units behind this one (automatic synchronisation)
  std::optional<std::uint16_t> output1Function;  // KX3 0x471A
  std::optional<std::uint16_t> output2Function;  // KX3 0x471F
  bool comWriteOff = false;                // remote writing off: every write refused
  LoaderOptions loader;                          // flash loader (firmware update)
};

// The KX3's flash-enable write: after the unlock write, this value to this
// register restarts the controller into its loader.
inline constexpr std::uint16_t kFlashEnableRegister = 0x474F;
inline constexpr std::uint16_t kFlashEnableValue = 0xA3C6;

class Controller {
 public:
  Controller(Model model, std::uint8_t address, const LineFormat& format,
             const ControllerOptions& options = {});

  Model model() const { return model_; }
  std::uint8_t address() const { return address_; }
  const LineFormat& format() const { return format_; }
  std::string Describe() const;

  // Handles one request (address, function, data; the check bytes already
  // removed and verified) sent to this controller's address or broadcast (0).
  // Returns the whole answer frame in this controller's form, or nothing when
  // it stays silent. Takes a pending address/format change into effect after
  // the answer has been built, so the echo goes out under the old settings.
  std::optional<kx::Bytes> Handle(std::span<const std::uint8_t> pdu, SimTime now);

  // Moves the simulated process on to `now`: PV follows the set value with a
  // first-order lag (time constant kLagSeconds) and a little noise, outputs,
  // alarms and the status byte follow PV, a running program counts down. The
  // first call only starts the clock. Handle calls it before each answer.
  void Advance(SimTime now);
  static constexpr double kLagSeconds = 30.0;
  static constexpr double kAmbient = 250.0;  // PV of a stopped controller, register units
  // Holds the simulated process still: PV, outputs, the status byte and a
  // running program's clock keep the values they have or are given
  // (SetRegister) until released; released, PV goes on from its register.
  // For tests that check shown values exactly.
  void HoldProcess(bool hold);

  // Register access for tests and the control channel (no protection rules).
  std::optional<std::uint16_t> Register(std::uint16_t reg) const;
  bool SetRegister(std::uint16_t reg, std::uint16_t value);

  // Faults and run-time controls.
  void SetFault(Fault fault, std::uint8_t exceptionCode = kExIllegalCommand);
  Fault fault() const { return options_.fault; }
  void SilenceAfter(std::optional<unsigned> requests);
  void SilenceNow() { options_.silenceAfter = answered_; }
  unsigned answered() const { return answered_; }
  // PV status code (sensor break and the like); 0 is a good measurement.
  void SetPvStatus(std::uint8_t code) { pvStatus_ = code; }
  std::uint8_t pvStatus() const { return pvStatus_; }
  void SetProgramRunning(bool running);
  // Remote writing switched at the front panel: off, every register write is
  // answered with exception 04 and the com-write flag (KX1 0x471A, KX2 0x4726
  // and bit 0 of its status bits) reads 0; on, writes are taken and it reads 1.
  void SetComWrite(bool on);

  // Flash loader. Listening: the controller is in its loader and has finished
  // restarting into it at `now`. A loader frame is handled only then; after a
  // good verify the controller restarts into the new program and reports its
  // version. While in the loader or restarting it hears no Modbus request.
  bool ListensAsLoader(SimTime now) const;
  std::optional<Loader::Reply> HandleLoaderFrame(std::span<const std::uint8_t> frame, SimTime now);
  // The loader of the last update (kept after it ends), or nothing.
  const Loader* loader() const { return loader_.get(); }

  // Follower units configured behind this one (KX3 automatic synchronisation).
  std::span<const std::unique_ptr<Controller>> followers() const { return followers_; }

 private:
  struct Slot {
    RegisterDef def;
    std::uint16_t value;
  };

  Slot* Find(std::uint16_t reg);
  const Slot* Find(std::uint16_t reg) const;
  std::uint16_t ReadSlot(Slot& slot);
  std::uint16_t LiveValue(std::uint16_t reg, std::uint16_t stored) const;
  kx::Bytes Answer(std::span<const std::uint8_t> pdu);
  kx::Bytes ReadRegisters(std::uint8_t function, std::uint16_t start, std::uint16_t count);
  kx::Bytes Identify(std::uint16_t start, std::uint16_t count);
  kx::Bytes WriteRegister(std::span<const std::uint8_t> pdu, std::uint16_t reg, std::uint16_t value);
  kx::Bytes Exception(std::uint8_t function, std::uint8_t code) const;
  kx::Bytes Frame(kx::Bytes pdu) const;
  void ApplyPendingChange();
  void Synchronise();
  std::uint16_t Get(std::uint16_t reg) const { return Register(reg).value_or(0); }
  void Set(std::uint16_t reg, std::uint16_t value) { SetRegister(reg, value); }
  void RunProgram(double seconds);
  void StartProgram();
  double StepSeconds() const;
  std::uint16_t RunningSetValue() const;
  void UpdateOutputs();
  void RestoreDefaults();
  std::uint8_t MemoryByte(std::uint8_t offset) const;
  void WriteMemoryByte(std::uint8_t offset, std::uint8_t byte);
  void SnapshotMemory();
  std::uint8_t StepImageByte(std::uint8_t offset) const;
  void WriteStepImageByte(std::uint8_t offset, std::uint8_t byte);

  Model model_;
  std::uint8_t address_;
  LineFormat format_;
  ControllerOptions options_;
  std::vector<Slot> slots_;
  unsigned answered_ = 0;
  bool unlocked_ = false;
  std::uint8_t pvStatus_ = 0;
  // Simulated process.
  bool started_ = false;
  bool processHeld_ = false;
  SimTime last_{0};
  double pv_ = 0.0;
  std::uint32_t noiseState_ = 1;
  int pattern_ = 0;
  int step_ = 0;
  int loops_ = 0;
  double secondsLeft_ = 0.0;
  std::array<std::uint8_t, 256> memorySnapshot_{};
  std::array<std::uint8_t, 256> memory_{};  // parameter memory bytes that hold no register
  std::uint8_t memoryOffset_ = 0;
  std::uint8_t stepOffset_ = 0;
  std::optional<std::pair<std::uint8_t, LineFormat>> pendingChange_;
  bool pendingSync_ = false;
  std::vector<std::unique_ptr<Controller>> followers_;
  std::unique_ptr<Loader> loader_;
  bool inLoader_ = false;
  bool enterLoader_ = false;                // the flash-enable write was echoed
  std::optional<SimTime> restartingUntil_;  // deaf until then
  std::array<std::uint16_t, 3> kx3Keys_ = kDefaultKx3Keys;
};

}  // namespace kxsim
