// kxsim as a program behind its network listeners, talked to with plain
// sockets: the transparent TCP server, the Modbus TCP gateway and the line's
// echo on every way in.
#include <gtest/gtest.h>

#include <chrono>

#include "core/modbus/codec.h"
#include "core/modbus/mbap.h"
#include "support/frame_bytes.h"
#include "support/kxsim_process.h"
#include "support/raw_tcp_client.h"

namespace {

using namespace std::chrono_literals;
using kx::Bytes;
using kx::FrameForm;
using kx::test::Cat;
using kx::test::Mbap;
using kx::test::RawTcpClient;

const Bytes kReadSv1 = kx::BuildFrame(FrameForm::Rtu, kx::ReadRequestPdu(1, 3, 0x4701, 1));
const Bytes kSv1 = kx::BuildFrame(FrameForm::Rtu, Bytes{1, 3, 2, 0x01, 0x2C});

TEST(KxsimTcp, CarriesFramesAsOnTheWireToOneClientAtATime) {
  kx::test::KxsimProcess sim;
  // The server's line at 9600 8N1: the 7E1 controller does not hear its
  // clients. Answers take 150 ms, so one can be on its way when a client goes.
  ASSERT_TRUE(sim.Start(KXSIM_PATH, {"--listen-tcp", "127.0.0.1:0", "--server-format", "9600-8N1", "--turnaround",
                                     "150", "kx2@1:9600-8N1-rtu", "kx2@4:9600-8N1-ascii", "kx1@3:9600-7E1-ascii"}));
  const std::string url = sim.LineUrl("tcp://");
  ASSERT_FALSE(url.empty()) << sim.output();

  RawTcpClient first;
  ASSERT_TRUE(first.Connect(url));
  ASSERT_TRUE(first.Write(kReadSv1));
  EXPECT_EQ(first.Read(kSv1.size(), 2s), kSv1);
  const Bytes asciiRead = kx::BuildFrame(FrameForm::Ascii, kx::ReadRequestPdu(4, 3, 0x4701, 1));
  ASSERT_TRUE(first.Write(asciiRead));
  EXPECT_EQ(first.Read(15, 2s), kx::BuildFrame(FrameForm::Ascii, Bytes{4, 3, 2, 0x01, 0x2C}));
  ASSERT_TRUE(first.Write(kx::BuildFrame(FrameForm::Ascii, kx::ReadRequestPdu(3, 3, 0x4701, 1))));
  EXPECT_TRUE(first.Read(1, 200ms).empty()) << "a controller at another format answered";

  // A second client is turned away at once; the first goes on.
  RawTcpClient second;
  ASSERT_TRUE(second.Connect(url));
  EXPECT_TRUE(second.ClosedWithin(2s));
  ASSERT_TRUE(first.Write(kReadSv1));
  EXPECT_EQ(first.Read(kSv1.size(), 2s), kSv1);

  // A client that leaves with its answer still on the way: the next one gets
  // its own answer and nothing of the other's.
  ASSERT_TRUE(first.Write(asciiRead));
  first.Close();
  RawTcpClient next;
  for (int i = 0; i < 100 && !(next.Connect(url) && !next.ClosedWithin(20ms)); ++i) {
  }  // until kxsim has seen the first one go
  ASSERT_TRUE(next.Write(kReadSv1));
  EXPECT_EQ(next.Read(kSv1.size(), 2s), kSv1);
  EXPECT_TRUE(next.Read(1, 100ms).empty());
}

TEST(KxsimModbusTcp, GatewayAnswersEachRequestInOrderWithItsTransactionAndUnit) {
  kx::test::ScratchDir dir;
  kx::test::KxsimProcess sim;
  ASSERT_TRUE(
      sim.Start(KXSIM_PATH, {"--listen-modbus-tcp", "127.0.0.1:0", "--gateway-timeout", "200", "--control",
                             dir / "control", "kx2@1:9600-8N1-rtu", "kx3@2:9600-8N1-rtu", "kx1@3:9600-7E1-ascii"}));
  const std::string url = sim.LineUrl("modbus-tcp://");
  ASSERT_FALSE(url.empty()) << sim.output();
  RawTcpClient client;
  ASSERT_TRUE(client.Connect(url));

  // Pipelined: a read, one to an ASCII controller (which cannot hear RTU), a
  // broadcast write, the identification, and a read of what the broadcast wrote.
  const auto sent = std::chrono::steady_clock::now();
  ASSERT_TRUE(client.Write(Cat({
      Mbap(0x0101, 1, {0x03, 0x47, 0x01, 0x00, 0x01}),
      Mbap(0x0202, 3, {0x03, 0x47, 0x01, 0x00, 0x01}),
      Mbap(0x0303, 0, {0x06, 0x47, 0x01, 0x02, 0x58}),
      Mbap(0x0404, 2, {0x67, 0x00, 0x12, 0x00, 0x02}),
      Mbap(0xF0F0, 2, {0x03, 0x47, 0x01, 0x00, 0x01}),
  })));
  const Bytes expected = Cat({
      Mbap(0x0101, 1, {0x03, 2, 0x01, 0x2C}),
      Mbap(0x0202, 3, {0x83, 0x0B}),
      Mbap(0x0404, 2, {0x67, 4, 0, 2, 0, 2}),
      Mbap(0xF0F0, 2, {0x03, 2, 0x02, 0x58}),
  });
  EXPECT_EQ(client.Read(expected.size(), 3s), expected);
  EXPECT_GE(std::chrono::steady_clock::now() - sent, 200ms) << "0x0B before the gateway's time-out";
  EXPECT_TRUE(client.Read(1, 100ms).empty()) << "the broadcast was answered";

  // A controller silenced through the control channel: the gateway's time-out answers.
  ASSERT_TRUE(sim.Control("silence 1"));
  ASSERT_TRUE(client.Write(Mbap(0x0505, 1, {0x03, 0x47, 0x01, 0x00, 0x01})));
  EXPECT_EQ(client.Read(9, 2s), Mbap(0x0505, 1, {0x83, 0x0B}));

  // A second client is turned away while this one is served.
  RawTcpClient second;
  ASSERT_TRUE(second.Connect(url));
  EXPECT_TRUE(second.ClosedWithin(2s));

  // A header it cannot follow closes the connection; the next client is served.
  ASSERT_TRUE(client.Write(Bytes{0x00, 0x01, 0x00, 0x01, 0x00, 0x06, 0x01, 0x03, 0x47, 0x01, 0x00, 0x01}));
  EXPECT_TRUE(client.ClosedWithin(2s));
  RawTcpClient next;
  for (int i = 0; i < 100 && !(next.Connect(url) && !next.ClosedWithin(20ms)); ++i) {
  }
  ASSERT_TRUE(next.Write(Mbap(7, 2, {0x03, 0x47, 0x01, 0x00, 0x01})));
  EXPECT_EQ(next.Read(11, 2s), Mbap(7, 2, {0x03, 2, 0x02, 0x58}));
}

TEST(KxsimEcho, EveryWayInHearsTheRequestAheadOfTheAnswer) {
  kx::test::ScratchDir dir;
  const std::string link = dir / "line";
  kx::test::KxsimProcess sim;
  ASSERT_TRUE(sim.Start(KXSIM_PATH, {"--echo", "--timing", "--link", link, "--listen-tcp", "127.0.0.1:0",
                                     "--listen-modbus-tcp", "127.0.0.1:0", "kx2@1:9600-8N1-rtu"}));
  const Bytes both = Cat({kReadSv1, kSv1});

  kx::test::RawSerialClient pty;
  ASSERT_TRUE(pty.Open(link, B9600));
  ASSERT_TRUE(pty.Write(kReadSv1));
  EXPECT_EQ(pty.Read(both.size(), 2s), both);
  EXPECT_TRUE(pty.Read(1, 50ms).empty());

  RawTcpClient tcp;
  ASSERT_TRUE(tcp.Connect(sim.LineUrl("tcp://")));
  ASSERT_TRUE(tcp.Write(kReadSv1));
  EXPECT_EQ(tcp.Read(both.size(), 2s), both);
  EXPECT_TRUE(tcp.Read(1, 50ms).empty());

  // The gateway drops the echo on its line and hands its client a copy of the request.
  RawTcpClient gateway;
  ASSERT_TRUE(gateway.Connect(sim.LineUrl("modbus-tcp://")));
  const Bytes request = Mbap(5, 1, {0x03, 0x47, 0x01, 0x00, 0x01});
  ASSERT_TRUE(gateway.Write(request));
  const Bytes answer = Mbap(5, 1, {0x03, 2, 0x01, 0x2C});
  EXPECT_EQ(gateway.Read(request.size() + answer.size(), 2s), Cat({request, answer}));
  EXPECT_TRUE(gateway.Read(1, 50ms).empty());
}

}  // namespace
