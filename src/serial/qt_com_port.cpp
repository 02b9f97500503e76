#include "serial/qt_com_port.h"

#include "core/line/port_address.h"

#include <QFileInfo>
#include <QString>

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace kx::serial {
namespace {

QSerialPort::DataBits ToDataBits(int bits) {
  switch (bits) {
    case 5: return QSerialPort::Data5;
    case 6: return QSerialPort::Data6;
    case 7: return QSerialPort::Data7;
    default: return QSerialPort::Data8;
  }
}

QSerialPort::Parity ToParity(Parity parity) {
  switch (parity) {
    case Parity::Odd: return QSerialPort::OddParity;
    case Parity::Even: return QSerialPort::EvenParity;
    case Parity::None: break;
  }
  return QSerialPort::NoParity;
}

bool ValidDataBits(int bits) { return bits >= 5 && bits <= 8; }
bool ValidStopBits(int bits) { return bits == 1 || bits == 2; }

}  // namespace

bool IsPseudoTerminal(const std::string& path) {
  if (path.empty()) return false;
  char resolved[PATH_MAX];
  if (::realpath(path.c_str(), resolved) != nullptr && std::strncmp(resolved, "/dev/pts/", 9) == 0) return true;
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISCHR(st.st_mode)) return false;
  const unsigned int major = ::major(st.st_rdev);
  return major >= 136 && major <= 143;
}

std::string OpenFailureText(QSerialPort::SerialPortError code, const std::string& reason, bool accessDenied) {
  if (accessDenied)
    return reason +
           ". To use serial ports, add your user to the dialout group: sudo usermod -aG dialout $USER, "
           "then log in again.";
  if (code == QSerialPort::PermissionError) return "the port is in use by another program (" + reason + ").";
  return reason + ".";
}

QtComPort::QtComPort(PortPaths paths, QObject* parent) : LinePort(std::move(paths), parent) {
  connect(&port_, &QSerialPort::readyRead, this, &QtComPort::OnReadyRead);
  connect(&port_, &QSerialPort::errorOccurred, this, &QtComPort::OnError);
}

QtComPort::~QtComPort() {
  // The error signal must not reach a half-destroyed object.
  port_.disconnect(this);
  if (port_.isOpen()) port_.close();
}

template <typename Setter>
bool QtComPort::Apply(Setter&& setter, bool refusalHarmless, int harmlessErrno, std::string& error) {
  calling_ = true;
  const bool ok = setter();
  calling_ = false;
  if (ok) return true;
  const QString reason = port_.errorString();
  port_.clearError();
  if (pty_ && refusalHarmless && reason == QString::fromLocal8Bit(std::strerror(harmlessErrno))) return true;
  error = reason.toStdString();
  return false;
}

bool QtComPort::OpenLine(std::string& error) {
  if (port_.isOpen()) port_.close();
  const LineSettings& s = settings();
  if (!ValidDataBits(s.dataBits) || !ValidStopBits(s.stopBits) || s.baud <= 0) {
    error = "unsupported line settings.";
    return false;
  }
  // Open the device itself rather than a symlink to it: the lock file is
  // then named after the device, as other programs name theirs, so every way
  // to reach one device shares one lock.
  const auto address = ParsePortAddress(MappedPath());  // without a trailing "?echo"
  std::string path = address ? address->device : MappedPath();
  char resolved[PATH_MAX];
  if (::realpath(path.c_str(), resolved) != nullptr) path = resolved;
  // QSerialPort takes a name without a leading '/' for one under /dev.
  if (path.front() != '/') path = QFileInfo(QString::fromStdString(path)).absoluteFilePath().toStdString();
  pty_ = IsPseudoTerminal(path);

  // Open with settings every device takes (a pseudo-terminal refuses 7 data
  // bits and parity in some orders of calls), then make the rest one by one.
  port_.setPortName(QString::fromStdString(path));
  port_.setBaudRate(s.baud);
  port_.setDataBits(QSerialPort::Data8);
  port_.setParity(QSerialPort::NoParity);
  port_.setStopBits(s.stopBits == 2 ? QSerialPort::TwoStop : QSerialPort::OneStop);
  port_.setFlowControl(QSerialPort::NoFlowControl);
  port_.setReadBufferSize(0);
  calling_ = true;
  const bool opened = port_.open(QIODevice::ReadWrite);
  calling_ = false;
  if (!opened) {
    const QSerialPort::SerialPortError code = port_.error();
    const std::string reason = port_.errorString().toStdString();
    port_.clearError();
    const bool accessDenied = ::access(path.c_str(), R_OK | W_OK) != 0 && errno == EACCES;
    error = OpenFailureText(code, reason, accessDenied);
    return false;
  }
  // RS-485 converters often draw their power from DTR and RTS: raise both.
  if (!ApplySetting(LineSetting::DataBits, error) || !ApplySetting(LineSetting::Parity, error) ||
      !Apply([this] { return port_.setDataTerminalReady(true); }, true, ENOTTY, error) ||
      !Apply([this] { return port_.setRequestToSend(true); }, true, ENOTTY, error)) {
    error += ".";
    port_.close();
    return false;
  }
  port_.clear(QSerialPort::Input);
  return true;
}

void QtComPort::CloseLine() {
  if (port_.isOpen()) port_.close();
  port_.clearError();
}

bool QtComPort::ApplySetting(LineSetting what, std::string& error) {
  const LineSettings& s = settings();
  switch (what) {
    case LineSetting::Baud:
      if (s.baud <= 0) break;
      return Apply([&] { return port_.setBaudRate(s.baud); }, false, 0, error);
    case LineSetting::DataBits:
      if (!ValidDataBits(s.dataBits)) break;
      return Apply([&] { return port_.setDataBits(ToDataBits(s.dataBits)); }, s.dataBits == 7, EINVAL, error);
    case LineSetting::StopBits:
      if (!ValidStopBits(s.stopBits)) break;
      return Apply([&] { return port_.setStopBits(s.stopBits == 2 ? QSerialPort::TwoStop : QSerialPort::OneStop); },
                   false, 0, error);
    case LineSetting::Parity:
      return Apply([&] { return port_.setParity(ToParity(s.parity)); }, s.parity != Parity::None, EINVAL, error);
  }
  error = "unsupported line settings";
  return false;
}

void QtComPort::WriteLine(std::span<const std::uint8_t> data) {
  // QSerialPort only queues what it is given and writes it when the event loop
  // next finds the line writable: one round through the loop before every
  // request leaves. With nothing queued, the bytes go straight to the device;
  // what it does not take at once (or a failure, which QSerialPort then
  // reports) goes through QSerialPort, after them.
  std::size_t written = 0;
  if (port_.bytesToWrite() == 0) {
    const ssize_t n = ::write(static_cast<int>(port_.handle()), data.data(), data.size());
    if (n > 0) written = static_cast<std::size_t>(n);
  }
  if (written < data.size())
    port_.write(reinterpret_cast<const char*>(data.data() + written), static_cast<qint64>(data.size() - written));
}

void QtComPort::PurgeLine() {
  calling_ = true;
  port_.clear(QSerialPort::Input);
  calling_ = false;
  port_.clearError();
}

void QtComPort::OnReadyRead() {
  const QByteArray bytes = port_.readAll();
  Received(std::span(reinterpret_cast<const std::uint8_t*>(bytes.constData()), static_cast<std::size_t>(bytes.size())));
}

void QtComPort::OnError(QSerialPort::SerialPortError code) {
  if (calling_ || !IsOpen()) return;
  switch (code) {
    case QSerialPort::NoError:
    case QSerialPort::TimeoutError:
    case QSerialPort::NotOpenError:
      return;
    case QSerialPort::ResourceError:
    case QSerialPort::ReadError:
    case QSerialPort::DeviceNotFoundError:
      // The reason Qt gives here can be a stale one (a pseudo-terminal whose
      // other side closed reads end-of-file without setting errno).
      LineLost(LineName() + " was disconnected: the device was removed or its other side closed.");
      return;
    default:
      LineLost(LineName() + " failed: " + port_.errorString().toStdString() + ".");
      return;
  }
}

}  // namespace kx::serial
