// The simulated line's pseudo-terminal: the master side carries the traffic,
// a slave descriptor kept open lets the simulator read back the PC's settings
// (tcgetattr) and keeps the line alive between the PC's openings.
#pragma once

#include <memory>
#include <optional>
#include <span>
#include <string>

#include "core/modbus/codec.h"
#include "kxsim/line_format.h"

namespace kxsim {

class PtyTransport {
 public:
  // Creates the pty and the symlink `link` to its slave (an existing symlink at
  // that path is replaced; any other file is left alone and reported).
  static std::unique_ptr<PtyTransport> Open(const std::string& link, std::string& error);
  ~PtyTransport();
  PtyTransport(const PtyTransport&) = delete;
  PtyTransport& operator=(const PtyTransport&) = delete;

  int fd() const { return master_; }

  // The PC's settings as the pty carries them: baud rate, stop bits and
  // whether odd parity was asked for; data bits and parity enable are unknown.
  PcSettings Settings() const;

  // Reads what the PC sent (empty when nothing is waiting).
  kx::Bytes Read();
  // Queues bytes for the PC and writes as much as the pty takes now.
  void Write(std::span<const std::uint8_t> bytes);
  // Writes queued bytes; true while some remain (wait for POLLOUT).
  bool Flush();
  bool HasOutput() const { return !out_.empty(); }

 private:
  PtyTransport() = default;

  int master_ = -1;
  int slave_ = -1;
  std::string slavePath_;
  std::string link_;
  kx::Bytes out_;
};

// Baud rate of a termios speed constant, 0 when unknown.
int BaudOfSpeed(unsigned speed);

}  // namespace kxsim
