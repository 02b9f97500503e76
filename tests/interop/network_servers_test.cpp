// kxctl through independent network servers: reading (and writing) the
// registers of pymodbus's Modbus TCP server over modbus-tcp://, and kxsim's
// pseudo-terminal line behind ser2net's raw TCP mode over tcp://.
// Each is skipped where its program is missing.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "kxctl/kxctl_run.h"

namespace kx::test {
namespace {

constexpr const char* kPython = "/usr/bin/python3";

// A loopback port nobody listens on right now.
int FreePort() {
  const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  ::bind(s, reinterpret_cast<sockaddr*>(&a), len);
  ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
  ::close(s);
  return ntohs(a.sin_port);
}

// Whether something accepts connections on the port (tried for up to 5 s).
bool Listening(int port) {
  for (int i = 0; i < 100; ++i) {
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    const bool up = ::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(s);
    if (up) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

// A server program run for one test, its output in a file; killed at the end.
class ServerProcess {
 public:
  bool Start(const std::vector<std::string>& argv, const std::string& log) {
    if (access(argv.front().c_str(), X_OK) != 0) return false;
    pid_ = fork();
    if (pid_ == 0) {
      setpgid(0, 0);
      const int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(fd, STDOUT_FILENO);
      dup2(fd, STDERR_FILENO);
      std::vector<char*> args;
      for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
      args.push_back(nullptr);
      execv(args.front(), args.data());
      _exit(127);
    }
    return pid_ > 0;
  }
  // Whether it ended already, with this status.
  bool Ended(int& status) const { return waitpid(pid_, &status, WNOHANG) == pid_; }
  ~ServerProcess() {
    if (pid_ <= 0) return;
    kill(-pid_, SIGTERM);
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }

 private:
  pid_t pid_ = -1;
};

TEST(NetworkServers, KxctlReadsAndWritesPymodbusRegistersThroughModbusTcp) {
  ScratchDir dir;
  const int port = FreePort();
  ServerProcess server;
  ASSERT_TRUE(server.Start({kPython, std::string(KX_SOURCE_DIR) + "/tests/interop/pymodbus_tcp_server.py",
                            std::to_string(port), "1", "0x4700", "250", "65535", "7"},
                           dir / "server.log"));
  if (!Listening(port)) {
    int status = 0;
    if (server.Ended(status) && WIFEXITED(status) && WEXITSTATUS(status) == 2)
      GTEST_SKIP() << "python3-pymodbus is not installed";
    FAIL() << "the pymodbus server did not start";
  }
  const std::string address = "modbus-tcp://127.0.0.1:" + std::to_string(port);
  KxctlResult r = KxctlRun{}({"--port", address, "read", "1", "0x4700", "3"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "REGISTER  VALUE  HEX     SIGNED\n"
            "0x4700    250    0x00FA  250\n"
            "0x4701    65535  0xFFFF  -1\n"
            "0x4702    7      0x0007  7\n");
  // In either form of the line settings.
  r = KxctlRun{}({"--port", address, "--line", "19200-8N1-rtu", "read", "1", "0x4702"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("0x4702    7 "), std::string::npos) << r.out;
  // A write is echoed by the server as by a controller (pymodbus refuses the
  // identification, which the write takes as a KX1's answer).
  r = KxctlRun{}({"--port", address, "write", "1", "0x4702", "0x1234"});
  EXPECT_EQ(r.status, 0) << r.err;
  r = KxctlRun{}({"--port", address, "read", "1", "0x4702"});
  EXPECT_NE(r.out.find("0x4702    4660   0x1234"), std::string::npos) << r.out;
}

// ser2net in its raw TCP mode serving the pseudo-terminal of kxsim's line,
// set to 19200 8N1.
std::vector<std::string> Ser2netArgs(const std::string& pty, int port, const std::string& dir) {
  const std::string config = dir + "/ser2net.yaml";
  std::ofstream(config) << "connection: &kx\n  accepter: tcp,127.0.0.1," << port
                        << "\n  enable: on\n  connector: serialdev," << pty << ",19200n81,local\n";
  return {"/usr/sbin/ser2net", "-n", "-u", "-P", dir + "/ser2net.pid", "-c", config};
}

TEST(NetworkServers, KxctlOverTcpThroughSer2netGivesWhatTheLocalLineGives) {
  KxsimLine sim(KxsimLine::Kind::Pty, {"kx2@4:19200-8N1-rtu", "kx3@5:19200-8N1-ascii"});
  ASSERT_TRUE(sim.ok());
  const int port = FreePort();
  const std::vector<std::string> argv = Ser2netArgs(sim.port(), port, sim.dir().path());
  if (access(argv.front().c_str(), X_OK) != 0) GTEST_SKIP() << argv.front() << " is not installed";
  ServerProcess server;
  ASSERT_TRUE(server.Start(argv, sim.dir() / "server.log"));
  ASSERT_TRUE(Listening(port));
  const std::string address = "tcp://127.0.0.1:" + std::to_string(port);
  struct Case {
    const char* line;
    std::vector<std::string> command;
  };
  const Case cases[] = {
      {"19200-8N1-rtu", {"scan", "--address", "3-5"}},
      {"19200-8N1-ascii", {"scan", "--address", "3-5"}},
      {"19200-8N1-rtu", {"write", "4", "0x4701", "321"}},
      {"19200-8N1-rtu", {"read", "4", "0x4701"}},
      {"19200-8N1-ascii", {"read", "5", "0x4701"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.command.front() + " " + c.line);
    // The local line first, then through the server, which opens the line
    // only while its client is connected.
    const KxctlResult local = KxctlRun{}(With({"--port", sim.port(), "--line", c.line}, c.command));
    const KxctlResult far = KxctlRun{}(With({"--port", address, "--line", c.line}, c.command));
    EXPECT_EQ(local.status, 0) << local.err;
    EXPECT_EQ(far.status, 0) << far.err;
    EXPECT_EQ(far.out, local.out);
  }
}

}  // namespace
}  // namespace kx::test
