// A local serial port (device node or symlink to one) on Qt Serial Port.
//
// On a pseudo-terminal (simulators, virtual null modems) the kernel forces 8
// data bits and no parity and has no modem lines, so exactly these refusals are
// harmless there and ignored: 7 data bits or even/odd parity refused with
// "Invalid argument", and DTR/RTS refused with "Inappropriate ioctl for
// device". On any other device every refusal is a failure.
#pragma once

#include <QSerialPort>

#include <string>

#include "serial/line_port.h"

namespace kx::serial {

class QtComPort : public LinePort {
  Q_OBJECT

 public:
  explicit QtComPort(PortPaths paths, QObject* parent = nullptr);
  ~QtComPort() override;

 protected:
  bool OpenLine(std::string& error) override;
  void CloseLine() override;
  bool ApplySetting(LineSetting what, std::string& error) override;
  void WriteLine(std::span<const std::uint8_t> data) override;
  void PurgeLine() override;

 private:
  void OnReadyRead();
  void OnError(QSerialPort::SerialPortError code);
  // Runs one QSerialPort setter; a refusal the device may make harmlessly
  // (see above) counts as success.
  template <typename Setter>
  bool Apply(Setter&& setter, bool refusalHarmless, int harmlessErrno, std::string& error);

  QSerialPort port_;
  bool pty_ = false;
  // Set while this class itself calls the device, whose errors it handles at
  // the call; the error signal then reports nothing.
  bool calling_ = false;
};

// True when `path` (after following symlinks) is the slave side of a
// pseudo-terminal (/dev/pts/N, character device major 136..143).
bool IsPseudoTerminal(const std::string& path);

// The message for an opening that failed with `code`/`reason`: the system's
// reason, plus what to do about it where that is clear (a permission error on
// the device file: join the dialout group; a lock held: another program uses it).
std::string OpenFailureText(QSerialPort::SerialPortError code, const std::string& reason, bool accessDenied);

}  // namespace kx::serial
