// kxsim: a simulated line of KX controllers behind a pseudo-terminal and/or
// an RFC 2217 server.
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "kxsim/control.h"
#include "kxsim/line.h"
#include "kxsim/options.h"
#include "kxsim/pty_transport.h"
#include "kxsim/rfc2217_server.h"

namespace {

int g_signalPipe[2] = {-1, -1};

extern "C" void OnSignal(int) {
  const char c = 1;
  [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &c, 1);
}

kxsim::SimTime Now() {
  return std::chrono::duration_cast<kxsim::SimTime>(std::chrono::steady_clock::now().time_since_epoch());
}

// The control FIFO: created here (unless a FIFO is already there), removed at exit.
class ControlFifo {
 public:
  bool Open(const std::string& path, std::string& error) {
    struct stat st {};
    if (lstat(path.c_str(), &st) == 0) {
      if (!S_ISFIFO(st.st_mode)) {
        error = path + " exists and is not a named pipe";
        return false;
      }
    } else if (mkfifo(path.c_str(), 0600) != 0) {
      error = "cannot create " + path + ": " + std::strerror(errno);
      return false;
    }
    path_ = path;
    fd_ = ::open(path.c_str(), O_RDONLY | O_NONBLOCK);
    // A writer of our own keeps the pipe from reporting end-of-file between commands.
    keep_ = ::open(path.c_str(), O_WRONLY | O_NONBLOCK);
    if (fd_ < 0 || keep_ < 0) {
      error = "cannot open " + path + ": " + std::strerror(errno);
      return false;
    }
    return true;
  }
  ~ControlFifo() {
    if (fd_ >= 0) ::close(fd_);
    if (keep_ >= 0) ::close(keep_);
    if (!path_.empty()) ::unlink(path_.c_str());
  }
  int fd() const { return fd_; }
  std::string Read() {
    std::string text;
    char buf[256];
    ssize_t n;
    while ((n = ::read(fd_, buf, sizeof buf)) > 0) text.append(buf, static_cast<std::size_t>(n));
    return text;
  }

 private:
  std::string path_;
  int fd_ = -1;
  int keep_ = -1;
};

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  const kxsim::ParseResult parsed = kxsim::ParseCommandLine(args);
  if (!parsed.options) {
    std::cerr << "kxsim: " << parsed.error << "\n(kxsim --help shows the usage)\n";
    return 2;
  }
  const kxsim::SimOptions& opts = *parsed.options;
  if (opts.help) {
    std::cout << kxsim::UsageText();
    return 0;
  }
  if (!opts.firmwarePath.empty()) {
    if (!kxsim::WriteFirmwareFile(opts.firmwarePath, opts.firmware)) {
      std::cerr << "kxsim: cannot write " << opts.firmwarePath << "\n";
      return 1;
    }
    return 0;
  }
  if (::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return 1;
  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGINT, &sa, nullptr);
  std::signal(SIGPIPE, SIG_IGN);

  std::string error;
  std::unique_ptr<kxsim::PtyTransport> pty;
  if (!opts.link.empty()) {
    pty = kxsim::PtyTransport::Open(opts.link, error);
    if (!pty) {
      std::cerr << "kxsim: " << error << "\n";
      return 1;
    }
  }
  std::unique_ptr<kxsim::Rfc2217Server> server;
  if (!opts.listen.empty()) {
    server = kxsim::Rfc2217Server::Listen(opts.listen, error);
    if (!server) {
      std::cerr << "kxsim: " << error << "\n";
      return 1;
    }
  }
  // One line, two ways in: the settings and the answers belong to whichever
  // side sent the last bytes.
  bool networkActive = !pty;
  kxsim::Line line([&] { return networkActive ? server->Settings() : pty->Settings(); });
  line.SetTiming(opts.timing);
  line.SetTurnaround(std::chrono::milliseconds(opts.turnaroundMs.value_or(opts.timing ? 2 : 0)));
  if (opts.lineNoise) line.noise().Set(*opts.lineNoise);
  for (const kxsim::ControllerArg& arg : opts.controllers) {
    line.Add(std::make_unique<kxsim::Controller>(arg.model, arg.address, arg.format, arg.options));
  }

  std::unique_ptr<ControlFifo> control;
  kxsim::ControlReader controlReader;
  if (!opts.control.empty()) {
    control = std::make_unique<ControlFifo>();
    if (!control->Open(opts.control, error)) {
      std::cerr << "kxsim: " << error << "\n";
      return 1;
    }
  }

  {
    std::string ready;
    if (server) ready += "kxsim: line at rfc2217://" + server->address() + "\n";
    if (pty) ready += "kxsim: line at " + opts.link + "\n";
    std::cout << ready << std::flush;
  }

  for (;;) {
    std::vector<pollfd> fds;
    fds.push_back({g_signalPipe[0], POLLIN, 0});
    const std::size_t ptyIndex = fds.size();
    if (pty) fds.push_back({pty->fd(), static_cast<short>(POLLIN | (pty->HasOutput() ? POLLOUT : 0)), 0});
    const std::size_t controlIndex = fds.size();
    if (control) fds.push_back({control->fd(), POLLIN, 0});
    const std::size_t serverIndex = fds.size();
    if (server) {
      // While a client is served the next one waits in the backlog.
      if (server->HasClient()) {
        fds.push_back({server->clientFd(), static_cast<short>(POLLIN | (server->HasOutput() ? POLLOUT : 0)), 0});
      } else {
        fds.push_back({server->listenFd(), POLLIN, 0});
      }
    }

    // Wait exactly until the next answer is due: whole-millisecond poll()
    // rounding would send every answer up to 1 ms late, which at 38400 bit/s
    // is a tenth of an exchange.
    timespec timeout{};
    timespec* timeoutPtr = nullptr;
    if (const auto deadline = line.NextDeadline()) {
      const auto waitUs = std::max<std::int64_t>(0, std::chrono::duration_cast<std::chrono::microseconds>(*deadline - Now()).count());
      timeout.tv_sec = static_cast<time_t>(waitUs / 1000000);
      timeout.tv_nsec = static_cast<long>((waitUs % 1000000) * 1000);
      timeoutPtr = &timeout;
    }
    const int ready = ::ppoll(fds.data(), fds.size(), timeoutPtr, nullptr);
    if (ready < 0 && errno != EINTR) {
      std::cerr << "kxsim: poll: " << std::strerror(errno) << "\n";
      return 1;
    }
    if (fds[0].revents & POLLIN) break;
    if (pty && (fds[ptyIndex].revents & POLLIN)) {
      const kx::Bytes in = pty->Read();
      if (!in.empty()) {
        networkActive = false;
        line.Receive(in, Now());
      }
    }
    if (pty && (fds[ptyIndex].revents & POLLOUT)) pty->Flush();
    if (control && (fds[controlIndex].revents & POLLIN)) {
      for (const kxsim::ControlLine& command : controlReader.Feed(control->Read())) {
        const std::string problem =
            command.tooLong ? kxsim::TooLongText(command) : kxsim::RunControlCommand(line, command.text);
        if (!problem.empty()) std::cerr << "kxsim: control: " << problem << "\n";
        // The acknowledgement lets a driving script go on without guessing a delay.
        std::cout << "kxsim: control: " << (problem.empty() ? "done " : "failed ") << command.text
                  << (command.tooLong ? "..." : "") << std::endl;
      }
    }
    if (server && fds[serverIndex].revents != 0) {
      if (!server->HasClient()) {
        server->Accept();
        line.Reset();
      } else {
        if (fds[serverIndex].revents & POLLOUT) server->Flush();
        if (fds[serverIndex].revents & (POLLIN | POLLHUP | POLLERR)) {
          const bool open = server->Read(
              [&](std::span<const std::uint8_t> data) {
                networkActive = true;
                line.Receive(data, Now());
              },
              [&](kx::rfc2217::PurgeCode code) {
                // In stream order: a purge ahead of a request never drops it.
                using kx::rfc2217::PurgeCode;
                line.Purge(code != PurgeCode::Transmit, code != PurgeCode::Receive);
              });
          if (!open) line.Reset();
        }
      }
    }
    const kx::Bytes out = line.TakeDue(Now());
    if (!out.empty()) {
      if (networkActive) {
        server->Write(out);
      } else {
        pty->Write(out);
      }
    }
  }
  return 0;
}
