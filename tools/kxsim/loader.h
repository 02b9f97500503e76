// The flash loader of a simulated KX2 or KX3: the small binary protocol a
// controller speaks at 38400 8N1 while its program is replaced. Frames both
// ways are 0x01, command, length, the data bytes and a sum byte (the sum of
// all bytes before it, modulo 256).
//
//   05 read option bytes   -> 01 05 02 E5 C7 sum
//   03 erase (data 01)     -> 01 03 01 status sum  (takes kEraseTime)
//   07                     -> 01 07 02 00 00 sum
//   01 write (data: N, address high, address low, N bytes)
//                          -> 01 01 01 status sum  (status 10: not erased, 20: malformed)
//   06 verify (data: checksum low, high)
//                          -> 01 06 01 status sum  (FF unless the stored program sums to it)
//
// A frame with a wrong sum byte or an unknown command is not answered. The
// stored program's version word lies at kProgramVersionAddress (major, then the
// two minor digits as one byte); after a good verify the controller reports it.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "core/fwupdate/firmware_file.h"
#include "core/modbus/codec.h"
#include "kxsim/line_format.h"
#include "kxsim/sim_time.h"

namespace kxsim {

enum class LoaderFault {
  None,
  EraseSilent,  // the erase is never answered
  BadSum,       // every answer carries a wrong sum byte
  WriteFail,    // every write is answered with a failure status
  VerifyFail,   // the verify is answered with FF whatever was stored
  Noise,        // bytes without 0x01 in front of every answer
  OptionsWrong,    // the option bytes read are not E5 C7
  EraseFail,       // the erase is answered with a failure status
  Command7Silent,  // command 7 is never answered
  WriteSilent,     // no write is answered
};

std::optional<LoaderFault> ParseLoaderFault(std::string_view name);
std::string_view LoaderFaultName(LoaderFault fault);

struct LoaderOptions {
  // The controller has a loader: a KX2 starts in it, a KX3 enters it after the
  // unlock write and the flash-enable write (0xA3C6 to 0x474F).
  bool enabled = false;
  LoaderFault fault = LoaderFault::None;
};

// The loader listens at 38400 baud, 8 data bits, no parity, 1 stop bit.
inline constexpr LineFormat kLoaderFormat{38400, 8, ParityKind::None, 1, kx::FrameForm::Rtu};
inline constexpr std::uint16_t kProgramVersionAddress = kx::kProgramVersionAddress;
inline constexpr SimTime kEraseTime{200'000};
// A controller restarting (into its loader, or into a new program) hears nothing this long.
inline constexpr SimTime kRestartPause{1'000'000};

// Cuts loader frames out of the bytes the PC sends: from a 0x01 on, length
// byte + 4 bytes. Bytes before a 0x01 are skipped.
class LoaderFramer {
 public:
  std::vector<kx::Bytes> Feed(std::span<const std::uint8_t> bytes);
  void Reset() { frame_.clear(); }

 private:
  kx::Bytes frame_;
};

class Loader {
 public:
  explicit Loader(LoaderFault fault = LoaderFault::None);

  struct Reply {
    kx::Bytes bytes;
    SimTime delay{0};  // time the operation takes before the answer leaves
  };
  // One complete frame from the PC; the answer, or nothing when silent.
  std::optional<Reply> Handle(std::span<const std::uint8_t> frame);

  // The last verify matched the stored program.
  bool verified() const { return verified_; }
  // Version word of the stored program, when both of its bytes were written.
  std::optional<std::uint16_t> ProgramVersion() const;
  // Program memory (0xFF where erased) and what was written since the erase.
  std::uint8_t Byte(std::uint16_t address) const { return flash_[address]; }
  bool Written(std::uint16_t address) const { return written_[address]; }
  std::uint16_t StoredChecksum() const;
  unsigned writes() const { return writes_; }

 private:
  kx::Bytes Answer(std::uint8_t command, std::initializer_list<std::uint8_t> data) const;

  LoaderFault fault_;
  std::array<std::uint8_t, 0x10000> flash_;
  std::array<bool, 0x10000> written_{};
  bool erased_ = false;
  bool verified_ = false;
  unsigned writes_ = 0;
};

// The sum byte of a loader frame: all bytes before it, modulo 256.
std::uint8_t LoaderSum(std::span<const std::uint8_t> bytes);

}  // namespace kxsim
