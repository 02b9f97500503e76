// kxsim: a simulated line of KX controllers behind a pseudo-terminal and/or
// network servers (RFC 2217, transparent TCP, Modbus TCP gateway).
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "kxsim/control.h"
#include "kxsim/line.h"
#include "kxsim/modbus_gateway.h"
#include "kxsim/options.h"
#include "kxsim/pty_transport.h"
#include "kxsim/rfc2217_server.h"
#include "kxsim/tcp_server.h"

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

  // Each way in that was asked for, opened; nothing runs unless all of them are.
  std::string error;
  const auto openWay = [&error]<typename T>(const std::string& where, auto opener, std::unique_ptr<T>& into) {
    if (where.empty()) return true;
    into = opener(where, error);
    if (!into) std::cerr << "kxsim: " << error << "\n";
    return into != nullptr;
  };
  const auto tcpServer = [](const char* option) {
    return
        [option](const std::string& hostPort, std::string& e) { return kxsim::TcpServer::Listen(hostPort, option, e); };
  };
  std::unique_ptr<kxsim::PtyTransport> pty;
  std::unique_ptr<kxsim::Rfc2217Server> rfc2217;
  std::unique_ptr<kxsim::TcpServer> tcp;
  std::unique_ptr<kxsim::TcpServer> gatewayServer;
  if (!openWay(opts.link, kxsim::PtyTransport::Open, pty) ||
      !openWay(opts.listen, kxsim::Rfc2217Server::Listen, rfc2217) ||
      !openWay(opts.listenTcp, tcpServer("--listen-tcp"), tcp) ||
      !openWay(opts.listenModbusTcp, tcpServer("--listen-modbus-tcp"), gatewayServer)) {
    return 1;
  }

  // One line, several ways in: the settings and the answers belong to
  // whichever way sent the last bytes.
  enum class Side { Pty, Rfc2217, Tcp, Gateway };
  Side side = pty ? Side::Pty : rfc2217 ? Side::Rfc2217 : tcp ? Side::Tcp : Side::Gateway;
  const kxsim::PcSettings tcpSettings = kxsim::ExactSettings(kxsim::TcpServerFormat(opts));
  const kxsim::LineFormat gatewayFormat = kxsim::GatewayFormat(opts);
  kxsim::Line line([&] {
    switch (side) {
      case Side::Pty:
        return pty->Settings();
      case Side::Rfc2217:
        return rfc2217->Settings();
      case Side::Tcp:
        return tcpSettings;
      case Side::Gateway:
        break;
    }
    return kxsim::ExactSettings(gatewayFormat);
  });
  line.SetTiming(opts.timing);
  line.SetTurnaround(std::chrono::milliseconds(opts.turnaroundMs.value_or(opts.timing ? 2 : 0)));
  line.SetEcho(opts.echo);
  if (opts.lineNoise) line.noise().Set(*opts.lineNoise);
  for (const kxsim::ControllerArg& arg : opts.controllers) {
    line.Add(std::make_unique<kxsim::Controller>(arg.model, arg.address, arg.format, arg.options));
  }
  kxsim::ModbusGateway gateway(
      {std::chrono::milliseconds(opts.gatewayTimeoutMs), kxsim::Line::RtuSilence(gatewayFormat.baud), opts.echo});

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
    if (rfc2217) ready += "kxsim: line at rfc2217://" + rfc2217->address() + "\n";
    if (tcp) ready += "kxsim: line at tcp://" + tcp->address() + "\n";
    if (gatewayServer) ready += "kxsim: line at modbus-tcp://" + gatewayServer->address() + "\n";
    if (pty) ready += "kxsim: line at " + opts.link + "\n";
    std::cout << ready << std::flush;
  }

  // Each descriptor waited on, with what to do when it is ready.
  struct Watch {
    int fd;
    short events;
    std::function<void(short revents)> onReady;
  };
  // A client of the transparent or the gateway server comes or goes: nothing
  // half sent or still to be answered reaches the next one.
  const auto clientChanged = [&](Side which) {
    line.Reset();
    if (which == Side::Gateway) gateway.Reset();
  };
  bool stop = false;
  while (!stop) {
    std::vector<Watch> watches;
    watches.push_back({g_signalPipe[0], POLLIN, [&](short) { stop = true; }});
    if (pty) {
      watches.push_back({pty->fd(), static_cast<short>(POLLIN | (pty->HasOutput() ? POLLOUT : 0)), [&](short ev) {
                           if (ev & POLLIN) {
                             const kx::Bytes in = pty->Read();
                             if (!in.empty()) {
                               side = Side::Pty;
                               line.Receive(in, Now());
                             }
                           }
                           if (ev & POLLOUT) pty->Flush();
                         }});
    }
    if (control) {
      watches.push_back({control->fd(), POLLIN, [&](short) {
                           for (const kxsim::ControlLine& command : controlReader.Feed(control->Read())) {
                             const std::string problem = command.tooLong ? kxsim::TooLongText(command)
                                                                         : kxsim::RunControlCommand(line, command.text);
                             if (!problem.empty()) std::cerr << "kxsim: control: " << problem << "\n";
                             // The acknowledgement lets a driving script go on without guessing a delay.
                             std::cout << "kxsim: control: " << (problem.empty() ? "done " : "failed ") << command.text
                                       << (command.tooLong ? "..." : "") << std::endl;
                           }
                         }});
    }
    if (rfc2217) {
      // While a client is served the next one waits in the backlog.
      if (!rfc2217->HasClient()) {
        watches.push_back({rfc2217->listenFd(), POLLIN, [&](short) {
                             rfc2217->Accept();
                             line.Reset();
                           }});
      } else {
        watches.push_back(
            {rfc2217->clientFd(), static_cast<short>(POLLIN | (rfc2217->HasOutput() ? POLLOUT : 0)), [&](short ev) {
               if (ev & POLLOUT) rfc2217->Flush();
               if (!(ev & (POLLIN | POLLHUP | POLLERR))) return;
               const bool open = rfc2217->Read(
                   [&](std::span<const std::uint8_t> data) {
                     side = Side::Rfc2217;
                     line.Receive(data, Now());
                   },
                   [&](kx::rfc2217::PurgeCode code) {
                     // In stream order: a purge ahead of a request never drops it.
                     using kx::rfc2217::PurgeCode;
                     line.Purge(code != PurgeCode::Transmit, code != PurgeCode::Receive);
                   });
               if (!open) line.Reset();
             }});
      }
    }
    // The transparent and the gateway server take one client and close any
    // other connection at once, so their listening sockets are always watched.
    const auto watchServer = [&](kxsim::TcpServer& server, Side which, std::size_t room,
                                 std::function<void(std::span<const std::uint8_t>)> onData) {
      // A client that sends without reading its answers is not read either.
      if (server.Backlog() > kxsim::TcpServer::kMaxBacklog) room = 0;
      // The client first: one that leaves and connects again at once finds
      // its old connection gone, not refused as a second one.
      if (server.HasClient()) {
        const short events = static_cast<short>((room > 0 ? POLLIN : 0) | (server.HasOutput() ? POLLOUT : 0));
        watches.push_back({server.clientFd(), events, [&server, which, room, onData, clientChanged](short ev) {
                             if (ev & POLLOUT) server.Flush();
                             if (room == 0 && (ev & (POLLHUP | POLLERR))) {
                               server.Drop();  // gone while its requests still fill the gateway
                             } else if (!(ev & (POLLIN | POLLHUP | POLLERR)) || room == 0) {
                               return;
                             } else {
                               server.Read(onData, room);
                             }
                             if (!server.HasClient()) clientChanged(which);
                           }});
      }
      watches.push_back({server.listenFd(), POLLIN, [&server, which, clientChanged](short) {
                           if (server.Accept()) clientChanged(which);
                         }});
    };
    if (tcp) {
      // A few kilobytes at a time: requests of a few bytes can ask for answers a
      // hundred times longer, all queued before the client is written to.
      constexpr std::size_t kTcpReadChunk = 4096;
      watchServer(*tcp, Side::Tcp, kTcpReadChunk, [&](std::span<const std::uint8_t> data) {
        side = Side::Tcp;
        line.Receive(data, Now());
      });
    }
    if (gatewayServer) {
      watchServer(*gatewayServer, Side::Gateway, gateway.ClientRoom(),
                  [&](std::span<const std::uint8_t> data) { gateway.Handle(kxsim::ModbusGateway::ClientBytes{data}); });
    }

    // Wait exactly until the next answer is due: whole-millisecond poll()
    // rounding would send every answer up to 1 ms late, which at 38400 bit/s
    // is a tenth of an exchange.
    std::optional<kxsim::SimTime> deadline = line.NextDeadline();
    if (const auto next = gateway.NextDeadline()) deadline = deadline ? std::min(*deadline, *next) : *next;
    timespec timeout{};
    timespec* timeoutPtr = nullptr;
    if (deadline) {
      const auto waitUs = std::max<std::int64_t>(0, std::chrono::duration_cast<std::chrono::microseconds>(*deadline - Now()).count());
      timeout.tv_sec = static_cast<time_t>(waitUs / 1000000);
      timeout.tv_nsec = static_cast<long>((waitUs % 1000000) * 1000);
      timeoutPtr = &timeout;
    }
    std::vector<pollfd> fds;
    for (const Watch& w : watches) fds.push_back({w.fd, w.events, 0});
    const int ready = ::ppoll(fds.data(), fds.size(), timeoutPtr, nullptr);
    if (ready < 0 && errno != EINTR) {
      std::cerr << "kxsim: poll: " << std::strerror(errno) << "\n";
      return 1;
    }
    for (std::size_t i = 0; i < fds.size() && !stop; ++i) {
      if (fds[i].revents != 0) watches[i].onReady(fds[i].revents);
    }
    if (stop) break;

    // The gateway puts its next request on the line, ends an answer or times out.
    gateway.Handle(kxsim::ModbusGateway::Tick{Now()});
    if (const kx::Bytes request = gateway.TakeForLine(); !request.empty()) {
      side = Side::Gateway;
      line.Receive(request, Now());
    }
    const kxsim::SimTime now = Now();
    const kx::Bytes out = line.TakeDue(now);
    if (!out.empty()) {
      switch (side) {
        case Side::Pty:
          pty->Write(out);
          break;
        case Side::Rfc2217:
          rfc2217->Write(out);
          break;
        case Side::Tcp:
          tcp->Send(out);
          break;
        case Side::Gateway:
          gateway.Handle(kxsim::ModbusGateway::LineBytes{out, now});
          break;
      }
    }
    if (gatewayServer) {
      if (const kx::Bytes answers = gateway.TakeForClient(); !answers.empty()) gatewayServer->Send(answers);
      if (gateway.Finished() && gatewayServer->HasClient()) {
        // A stream it cannot follow: the client's requests before it are answered, then it is closed.
        gatewayServer->Drop();
        clientChanged(Side::Gateway);
      }
    }
  }
  return 0;
}
