#include "kxsim/pty_transport.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace kxsim {

int BaudOfSpeed(unsigned speed) {
  struct Entry {
    speed_t speed;
    int baud;
  };
  static constexpr Entry kSpeeds[] = {
      {B300, 300},     {B600, 600},     {B1200, 1200},     {B2400, 2400},     {B4800, 4800},
      {B9600, 9600},   {B19200, 19200}, {B38400, 38400},   {B57600, 57600},   {B115200, 115200},
      {B230400, 230400},
  };
  for (const Entry& e : kSpeeds) {
    if (e.speed == speed) return e.baud;
  }
  return 0;
}

std::unique_ptr<PtyTransport> PtyTransport::Open(const std::string& link, std::string& error) {
  std::unique_ptr<PtyTransport> t(new PtyTransport());
  t->master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (t->master_ < 0 || grantpt(t->master_) != 0 || unlockpt(t->master_) != 0) {
    error = std::string("cannot create a pseudo-terminal: ") + std::strerror(errno);
    return nullptr;
  }
  char name[128] = {};
  if (ptsname_r(t->master_, name, sizeof name) != 0) {
    error = std::string("ptsname: ") + std::strerror(errno);
    return nullptr;
  }
  t->slavePath_ = name;
  t->slave_ = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (t->slave_ < 0) {
    error = "cannot open " + t->slavePath_ + ": " + std::strerror(errno);
    return nullptr;
  }
  // Raw line at 9600 until the PC sets its own settings.
  termios tio{};
  tcgetattr(t->slave_, &tio);
  cfmakeraw(&tio);
  cfsetispeed(&tio, B9600);
  cfsetospeed(&tio, B9600);
  tcsetattr(t->slave_, TCSANOW, &tio);

  struct stat st {};
  if (lstat(link.c_str(), &st) == 0) {
    if (!S_ISLNK(st.st_mode)) {
      error = link + " exists and is not a symlink";
      return nullptr;
    }
    ::unlink(link.c_str());
  }
  if (::symlink(name, link.c_str()) != 0) {
    error = "cannot create the link " + link + ": " + std::strerror(errno);
    return nullptr;
  }
  t->link_ = link;
  return t;
}

PtyTransport::~PtyTransport() {
  if (!link_.empty()) ::unlink(link_.c_str());
  if (slave_ >= 0) ::close(slave_);
  if (master_ >= 0) ::close(master_);
}

PcSettings PtyTransport::Settings() const {
  PcSettings pc;
  termios tio{};
  if (tcgetattr(slave_, &tio) != 0) return pc;
  pc.baud = BaudOfSpeed(cfgetospeed(&tio));
  pc.stopBits = (tio.c_cflag & CSTOPB) ? 2 : 1;
  pc.dataBits = 0;  // a pty always reports 8
  pc.parityOddOnly = true;
  pc.parity = (tio.c_cflag & PARODD) ? ParityKind::Odd : ParityKind::None;
  return pc;
}

kx::Bytes PtyTransport::Read() {
  kx::Bytes in;
  std::uint8_t buf[512];
  for (;;) {
    const ssize_t n = ::read(master_, buf, sizeof buf);
    if (n > 0) {
      in.insert(in.end(), buf, buf + n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    break;  // EAGAIN: drained; EIO: no slave open (cannot happen while ours is)
  }
  return in;
}

void PtyTransport::Write(std::span<const std::uint8_t> bytes) {
  out_.insert(out_.end(), bytes.begin(), bytes.end());
  Flush();
}

bool PtyTransport::Flush() {
  while (!out_.empty()) {
    const ssize_t n = ::write(master_, out_.data(), out_.size());
    if (n > 0) {
      out_.erase(out_.begin(), out_.begin() + n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    break;
  }
  return !out_.empty();
}

}  // namespace kxsim
