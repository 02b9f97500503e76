// kxsim as a program over a real pseudo-terminal, talked to with plain termios.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>

#include "core/modbus/codec.h"
#include "support/kxsim_process.h"

namespace {

using namespace std::chrono_literals;
using kx::Bytes;
using kx::FrameForm;

TEST(KxsimPty, AnswersOverThePtyOnlyAtItsSettingsAndCleansUp) {
  kx::test::ScratchDir dir;
  const std::string link = dir / "line";
  const std::string fifo = dir / "control";
  {
    kx::test::KxsimProcess sim;
    ASSERT_TRUE(sim.Start(KXSIM_PATH, {"--link", link, "--control", fifo, "kx2@1:9600-7E1-ascii",
                                       "kx3@26:19200-8N2-rtu"}));
    EXPECT_EQ(sim.output(), "kxsim: line at " + link + "\n");

    kx::test::RawSerialClient client;
    ASSERT_TRUE(client.Open(link, B9600));
    const Bytes asciiRead = kx::BuildFrame(FrameForm::Ascii, kx::ReadRequestPdu(1, 3, 0x4701, 1));
    ASSERT_TRUE(client.Write(asciiRead));
    EXPECT_EQ(client.Read(15, 2s), kx::BuildFrame(FrameForm::Ascii, Bytes{1, 3, 2, 0x01, 0x2C}));

    const Bytes rtuRead = kx::BuildFrame(FrameForm::Rtu, kx::ReadRequestPdu(26, 3, 0x4701, 1));
    ASSERT_TRUE(client.Write(rtuRead));
    EXPECT_TRUE(client.Read(1, 200ms).empty()) << "RTU controller at 19200 8N2 answered at 9600 1 stop bit";

    ASSERT_TRUE(client.Configure(B19200, true));
    ASSERT_TRUE(client.Write(rtuRead));
    EXPECT_EQ(client.Read(7, 2s), kx::BuildFrame(FrameForm::Rtu, Bytes{26, 3, 2, 0x01, 0x2C}));

    // The control channel silences a controller at run time.
    ASSERT_TRUE(sim.Control("silence 26"));
    EXPECT_FALSE(sim.Control("louder 26"));  // refused, and acknowledged as such
    ASSERT_TRUE(client.Write(rtuRead));
    EXPECT_TRUE(client.Read(1, 200ms).empty());

    EXPECT_EQ(sim.Stop(), 0);
  }
  struct stat st {};
  EXPECT_NE(lstat(link.c_str(), &st), 0) << "link left behind";
  EXPECT_NE(lstat(fifo.c_str(), &st), 0) << "control pipe left behind";
}

TEST(KxsimPty, RefusesABadCommandLineAndPrintsUsage) {
  kx::test::KxsimProcess sim;
  EXPECT_FALSE(sim.Start(KXSIM_PATH, {"--link", "/tmp/never", "kx9@1:9600-7E1-ascii"}, 2s));
  const std::string help = std::string(KXSIM_PATH) + " --help > /dev/null";
  EXPECT_EQ(std::system(help.c_str()), 0);
}

}  // namespace
