// State shared by the windows for the whole run: which COM ports exist, the port
// settings word and what it decodes to, and which window holds the serial line.
// One Session is created at start-up and passed to every window.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "core/line/comport.h"

namespace kx {

// Which window holds the serial line.
enum class LineOwner : int { Free = 0, Tester = 1, Setup = 2, Monitor = 3, Recorder = 4, Firmware = 5 };

// Line parameters derived from the port settings word.
struct PortParams {
  int port = 0;        // COM number
  int baud = 2400;     // bit/s
  int dataBits = 7;    // 7 or 8
  int parityCode = 0;  // 0 none, 1 even, 2 odd (3: leave the port's parity as it is)
  int stopBits = 1;    // 1 or 2
  bool rtu = false;    // RTU form when set, ASCII when clear
};

struct Session;

// The right to use the serial line, handed out by the session (TakeLine). The
// holder frees the line by releasing or destroying its lease; a lease the line
// has since been handed on from frees nothing, so an activity that ends late
// cannot free a line another one has taken.
class LineLease {
 public:
  LineLease() = default;
  LineLease(LineLease&& other) noexcept;
  LineLease& operator=(LineLease&& other) noexcept;
  LineLease(const LineLease&) = delete;
  LineLease& operator=(const LineLease&) = delete;
  ~LineLease() { Release(); }

  // True while the line is still held under this lease.
  bool Held() const;
  // Frees the line when it is still held under this lease; empties the lease.
  void Release();

 private:
  friend struct Session;
  LineLease(Session* session, LineOwner owner, std::uint64_t id) : session_(session), owner_(owner), id_(id) {}

  Session* session_ = nullptr;
  LineOwner owner_ = LineOwner::Free;
  std::uint64_t id_ = 0;
};

// Factory for the port objects the windows own (real ports in the program,
// fake ones in tests).
using PortFactory = std::function<std::unique_ptr<ComPort>()>;

struct Session {
  static constexpr int kPortSlots = 13;  // COM0 .. COM12; 1..12 are offered

  std::array<bool, kPortSlots> portPresent{};
  std::array<std::string, kPortSlots> portPath{};  // device behind COMn, for display

  std::int32_t settingsWord = 0;
  bool settingsFileRead = false;
  PortParams params;

  // Which window holds the line (shown and checked by the main window's
  // actions). Written only through leases: TakeLine and LineLease::Release.
  LineOwner lineOwner = LineOwner::Free;

  // Hands the line to `owner`; the caller has checked that it may take it.
  // Whatever lease held it before no longer does.
  [[nodiscard]] LineLease TakeLine(LineOwner owner) {
    lineOwner = owner;
    return LineLease(this, owner, ++leaseCount_);
  }

  // Folder that holds the settings file ("." in the program, a temp dir in tests).
  std::string workDir = ".";

  PortFactory makePort;

  // Which windows are open is the main window's own state; a port's events
  // go where its routing (core/routing) sends them.
  // Name (without folder) of the file chosen in the last file dialog.
  std::string lastFileName;
  // Width of the main window when it was last shown (its scaling uses width ÷ 808).
  int mainWindowWidth = 808;
  // Shows the user message window for a code (0, 251, 252, 254, 255) modally and
  // returns when it has closed. Set by the main window.
  std::function<void(int code)> showUserMessage;

 private:
  friend class LineLease;
  std::uint64_t leaseCount_ = 0;  // id of the last lease handed out
};

inline LineLease::LineLease(LineLease&& other) noexcept
    : session_(other.session_), owner_(other.owner_), id_(other.id_) {
  other.session_ = nullptr;
}

inline LineLease& LineLease::operator=(LineLease&& other) noexcept {
  if (this != &other) {
    Release();
    session_ = other.session_;
    owner_ = other.owner_;
    id_ = other.id_;
    other.session_ = nullptr;
  }
  return *this;
}

inline bool LineLease::Held() const {
  return session_ != nullptr && session_->leaseCount_ == id_ && session_->lineOwner == owner_;
}

inline void LineLease::Release() {
  if (Held()) session_->lineOwner = LineOwner::Free;
  session_ = nullptr;
}

}  // namespace kx
