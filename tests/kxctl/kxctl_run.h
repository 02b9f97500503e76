// Runs the kxctl program for end-to-end tests: arguments, extra environment
// and working directory in; exit status, stdout and stderr out. Bounded in
// time; a program still running at the limit is killed and reported as -1.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "support/kxsim_process.h"

namespace kx::test {

struct KxctlResult {
  int status = -1;  // exit status; -1 when killed or not run
  std::string out;
  std::string err;
};

class KxctlRun {
 public:
  std::vector<std::pair<std::string, std::string>> env;  // set for the child
  std::vector<std::string> unsetEnv;                     // removed for the child
  std::string workDir;                                   // empty: the test's own
  std::chrono::milliseconds limit{60000};
  // Sends `interruptSignal` this long after the start (0: never).
  std::chrono::milliseconds interruptAfter{0};
  int interruptSignal = SIGINT;
  // Largest file the child may write, in bytes (0: no limit): a write past it
  // fails with EFBIG, as a full disk fails one with ENOSPC.
  rlim_t fileSizeLimit = 0;

  KxctlResult operator()(const std::vector<std::string>& args) const {
    KxctlResult result;
    int out[2];
    int err[2];
    if (pipe(out) != 0 || pipe(err) != 0) return result;
    const pid_t pid = fork();
    if (pid < 0) return result;
    if (pid == 0) {
      dup2(out[1], STDOUT_FILENO);
      dup2(err[1], STDERR_FILENO);
      close(out[0]);
      close(out[1]);
      close(err[0]);
      close(err[1]);
      for (const auto& name : unsetEnv) unsetenv(name.c_str());
      for (const auto& [name, value] : env) setenv(name.c_str(), value.c_str(), 1);
      if (!workDir.empty() && chdir(workDir.c_str()) != 0) _exit(126);
      if (fileSizeLimit > 0) {
        signal(SIGXFSZ, SIG_IGN);  // kept across exec: the write fails instead
        const rlimit bytes{fileSizeLimit, fileSizeLimit};
        if (setrlimit(RLIMIT_FSIZE, &bytes) != 0) _exit(126);
      }
      std::vector<char*> argv;
      std::string program = KXCTL_PATH;
      argv.push_back(program.data());
      for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      execv(program.c_str(), argv.data());
      _exit(127);
    }
    close(out[1]);
    close(err[1]);
    const auto start = std::chrono::steady_clock::now();
    bool interrupted = false;
    bool outOpen = true;
    bool errOpen = true;
    while (outOpen || errOpen) {
      const auto now = std::chrono::steady_clock::now();
      if (now - start > limit) break;
      if (!interrupted && interruptAfter.count() > 0 && now - start >= interruptAfter) {
        kill(pid, interruptSignal);
        interrupted = true;
      }
      pollfd fds[2] = {{outOpen ? out[0] : -1, POLLIN, 0}, {errOpen ? err[0] : -1, POLLIN, 0}};
      if (poll(fds, 2, 10) <= 0) continue;
      char buf[4096];
      for (int i = 0; i < 2; ++i) {
        if ((fds[i].revents & (POLLIN | POLLHUP)) == 0) continue;
        const ssize_t n = read(fds[i].fd, buf, sizeof buf);
        if (n > 0) {
          (i == 0 ? result.out : result.err).append(buf, static_cast<std::size_t>(n));
        } else {
          (i == 0 ? outOpen : errOpen) = false;
        }
      }
    }
    close(out[0]);
    close(err[0]);
    int status = 0;
    if (outOpen || errOpen) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return result;
    }
    waitpid(pid, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
  }
};

// kxsim with the given controllers on a pseudo-terminal or an RFC 2217 server.
class KxsimLine {
 public:
  enum class Kind { Pty, Rfc2217, Tcp, ModbusTcp };

  // `echo`: the line echoes each request (kxsim --echo), and the port's
  // address says so ("?echo").
  KxsimLine(Kind kind, std::vector<std::string> controllers, bool echo = false) {
    std::vector<std::string> args;
    switch (kind) {
      case Kind::Pty:
        port_ = dir_ / "line";
        args = {"--link", port_};
        break;
      case Kind::Rfc2217: args = {"--listen", "127.0.0.1:0"}; break;
      case Kind::Tcp: args = {"--listen-tcp", "127.0.0.1:0"}; break;
      case Kind::ModbusTcp: args = {"--listen-modbus-tcp", "127.0.0.1:0", "--gateway-timeout", "300"}; break;
    }
    if (echo) args.push_back("--echo");
    args.insert(args.end(), controllers.begin(), controllers.end());
    ok_ = sim_.Start(KXSIM_PATH, args);
    if (kind == Kind::Rfc2217) port_ = sim_.ListenUrl();
    if (kind == Kind::Tcp) port_ = sim_.LineUrl("tcp://");
    if (kind == Kind::ModbusTcp) port_ = sim_.LineUrl("modbus-tcp://");
    if (echo && !port_.empty()) port_ += "?echo";
  }
  bool ok() const { return ok_ && !port_.empty(); }
  const std::string& port() const { return port_; }
  const ScratchDir& dir() const { return dir_; }

 private:
  ScratchDir dir_;
  KxsimProcess sim_;
  std::string port_;
  bool ok_ = false;
};

inline std::vector<std::string> With(std::vector<std::string> head, const std::vector<std::string>& tail) {
  head.insert(head.end(), tail.begin(), tail.end());
  return head;
}

inline std::vector<std::uint8_t> FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace kx::test
