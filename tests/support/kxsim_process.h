// Runs the kxsim program for end-to-end tests: starts it with the given
// arguments, waits (bounded) until it reports its line ready, and stops it
// with SIGTERM when the object goes away. Also a scratch directory and a raw
// termios client for talking to the simulated line without Qt.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace kx::test {

// A fresh directory under /tmp, removed with everything in it at the end.
class ScratchDir {
 public:
  ScratchDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "kxtest-XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~ScratchDir() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

class KxsimProcess {
 public:
  KxsimProcess() = default;
  KxsimProcess(const KxsimProcess&) = delete;
  KxsimProcess& operator=(const KxsimProcess&) = delete;
  ~KxsimProcess() { Stop(); }

  // Starts `program` with `args`; true once it printed "kxsim: line at ..."
  // within `timeout`. Its stderr goes to the test's stderr.
  bool Start(const std::string& program, const std::vector<std::string>& args,
             std::chrono::milliseconds timeout = std::chrono::milliseconds(5000)) {
    for (std::size_t i = 0; i + 1 < args.size(); ++i) {
      if (args[i] == "--control") control_ = args[i + 1];
    }
    int out[2];
    if (pipe(out) != 0) return false;
    pid_ = fork();
    if (pid_ < 0) return false;
    if (pid_ == 0) {
      dup2(out[1], STDOUT_FILENO);
      close(out[0]);
      close(out[1]);
      std::vector<char*> argv;
      argv.push_back(const_cast<char*>(program.c_str()));
      for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      execv(program.c_str(), argv.data());
      _exit(127);
    }
    close(out[1]);
    stdout_ = out[0];
    const auto end = std::chrono::steady_clock::now() + timeout;
    std::string text;
    while (text.find("kxsim: line at") == std::string::npos || text.back() != '\n') {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
      if (left.count() <= 0) return false;
      pollfd p{stdout_, POLLIN, 0};
      if (poll(&p, 1, static_cast<int>(left.count())) <= 0) return false;
      char buf[256];
      const ssize_t n = read(stdout_, buf, sizeof buf);
      if (n <= 0) return false;  // exited before it was ready
      text.append(buf, static_cast<std::size_t>(n));
    }
    output_ = text;
    return true;
  }

  // SIGTERM, then waits up to two seconds (SIGKILL after that). Returns the
  // exit status, or -1 when it had to be killed or was not running.
  int Stop() {
    if (pid_ <= 0) return -1;
    kill(pid_, SIGTERM);
    int status = 0;
    int result = -1;
    for (int i = 0; i < 200; ++i) {
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        result = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        pid_ = -1;
        break;
      }
      usleep(10000);
    }
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, &status, 0);
      pid_ = -1;
    }
    if (stdout_ >= 0) close(stdout_);
    stdout_ = -1;
    return result;
  }

  // Writes one command to the control pipe (started with --control) and waits
  // until kxsim acknowledges it: true when it was carried out.
  bool Control(const std::string& command,
               std::chrono::milliseconds timeout = std::chrono::milliseconds(5000)) {
    if (control_.empty() || stdout_ < 0) return false;
    const int fd = open(control_.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const std::string line = command + "\n";
    const bool written = write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size());
    close(fd);
    if (!written) return false;
    const auto end = std::chrono::steady_clock::now() + timeout;
    for (;;) {
      const auto eol = acks_.find('\n');
      if (eol != std::string::npos) {
        const std::string ack = acks_.substr(0, eol);
        acks_.erase(0, eol + 1);
        if (ack == "kxsim: control: done " + command) return true;
        if (ack == "kxsim: control: failed " + command) return false;
        continue;  // an acknowledgement of an earlier command nobody waited for
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
      if (left.count() <= 0) return false;
      pollfd p{stdout_, POLLIN, 0};
      if (poll(&p, 1, static_cast<int>(left.count())) <= 0) return false;
      char buf[256];
      const ssize_t n = read(stdout_, buf, sizeof buf);
      if (n <= 0) return false;
      acks_.append(buf, static_cast<std::size_t>(n));
    }
  }

  const std::string& output() const { return output_; }
  pid_t pid() const { return pid_; }

  // "rfc2217://HOST:PORT" from the ready output of `--listen`; empty without it.
  std::string ListenUrl() const { return LineUrl("rfc2217://"); }
  // The address the ready output gives for a scheme ("tcp://" with
  // --listen-tcp, "modbus-tcp://" with --listen-modbus-tcp); empty without it.
  std::string LineUrl(const std::string& scheme) const {
    const std::string prefix = "kxsim: line at ";
    const auto at = output_.find(prefix + scheme);
    if (at == std::string::npos) return {};
    const auto from = at + prefix.size();
    return output_.substr(from, output_.find('\n', at) - from);
  }

 private:
  pid_t pid_ = -1;
  int stdout_ = -1;
  std::string output_;
  std::string control_;  // the control pipe's path, when started with one
  std::string acks_;     // read from stdout after the ready line
};

// A serial client on plain termios: opens the line raw with the given baud
// rate, stop bits and parity, writes frames and collects answers.
class RawSerialClient {
 public:
  ~RawSerialClient() {
    if (fd_ >= 0) close(fd_);
  }
  bool Open(const std::string& path, speed_t speed, bool twoStopBits = false, bool oddParity = false) {
    fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    return fd_ >= 0 && Configure(speed, twoStopBits, oddParity);
  }
  bool Configure(speed_t speed, bool twoStopBits = false, bool oddParity = false) {
    termios tio{};
    if (tcgetattr(fd_, &tio) != 0) return false;
    cfmakeraw(&tio);
    cfsetispeed(&tio, speed);
    cfsetospeed(&tio, speed);
    tio.c_cflag |= CLOCAL | CREAD;
    if (twoStopBits) tio.c_cflag |= CSTOPB;
    else tio.c_cflag &= ~static_cast<tcflag_t>(CSTOPB);
    // A pty keeps PARODD but drops PARENB; PARODD alone is what it can carry.
    if (oddParity) tio.c_cflag |= PARODD;
    else tio.c_cflag &= ~static_cast<tcflag_t>(PARODD);
    tcflush(fd_, TCIOFLUSH);
    return tcsetattr(fd_, TCSANOW, &tio) == 0;
  }
  bool Write(const std::vector<std::uint8_t>& bytes) {
    return write(fd_, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
  }
  // Reads until `count` bytes arrived or `timeout` passed.
  std::vector<std::uint8_t> Read(std::size_t count, std::chrono::milliseconds timeout) {
    std::vector<std::uint8_t> in;
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (in.size() < count) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
      if (left.count() <= 0) break;
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
      std::uint8_t buf[256];
      const ssize_t n = read(fd_, buf, sizeof buf);
      if (n > 0) in.insert(in.end(), buf, buf + n);
    }
    return in;
  }

 private:
  int fd_ = -1;
};

}  // namespace kx::test
