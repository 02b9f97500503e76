// Runs the kxctl program for end-to-end tests: arguments, extra environment
// and working directory in; exit status, stdout and stderr out. Bounded in
// time; a program still running at the limit is killed and reported as -1.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <utility>
#include <vector>

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
  // Sends SIGINT this long after the start (0: never).
  std::chrono::milliseconds interruptAfter{0};

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
        kill(pid, SIGINT);
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

}  // namespace kx::test
