#include <gtest/gtest.h>

#include "kxctl/line.h"
#include "kxctl/scan_job.h"
#include "support/fake_port.h"

namespace kxctl {
namespace {

LineFormat Fmt(const char* text) { return *kx::ParseLineFormat(text); }

// The probe (17 characters ASCII, 8 bytes RTU) and the identification answer
// (23 / 11) on the wire, plus 10 ms turnaround and 15 ms margin; never more
// than the search's 110 ms.
TEST(FastScan, ProbeWaitFollowsTheLineSpeed) {
  const std::pair<const char*, int> cases[] = {
      {"9600-7E1-ascii", 42 + 25},   // 40 x 10 bits
      {"38400-8N1-rtu", 5 + 25},     // 19 x 10 bits
      {"19200-8E2-rtu", 12 + 25},    // 19 x 12 bits
      {"4800-7E1-ascii", 84 + 25},
      {"2400-8N1-rtu", 80 + 25},
      {"2400-7E1-ascii", 110},       // 167 ms on the wire: the normal wait
  };
  for (const auto& [format, ms] : cases) EXPECT_EQ(FastProbeWaitMs(Fmt(format)), ms) << format;
}

TEST(FastScan, FormatsVisited) {
  ScanArgs args;
  EXPECT_EQ(ScanFormats(args, Fmt("4800-8N1-rtu")), std::vector<LineFormat>{Fmt("4800-8N1-rtu")});
  args.formats = {Fmt("9600-7E1-ascii"), Fmt("19200-8N2-rtu")};
  EXPECT_EQ(ScanFormats(args, Fmt("4800-8N1-rtu")), args.formats);
  // The bus search's 90, in its order: 9600 odd 7 bits 1 stop bit ASCII first,
  // never RTU with 7 data bits.
  args.formats.clear();
  args.allFormats = true;
  const auto all = ScanFormats(args, Fmt("4800-8N1-rtu"));
  ASSERT_EQ(all.size(), 90u);
  EXPECT_EQ(kx::ToString(all.front()), "9600-7O1-ascii");
  EXPECT_EQ(kx::ToString(all.back()), "2400-8N2-rtu");
  for (const LineFormat& f : all) EXPECT_FALSE(f.form == kx::FrameForm::Rtu && f.dataBits == 7);
}

// A command that moves the line to other formats leaves it as it found it.
TEST(KxctlLine, ClosingGivesTheOpeningFormatBack) {
  kx::test::FakePort port;
  Line line(port);
  LineChoice choice;
  choice.format = Fmt("9600-7E1-ascii");
  std::string error;
  ASSERT_TRUE(line.Open(choice, error)) << error;
  line.SetFormat(Fmt("19200-8N2-rtu"));
  EXPECT_EQ(port.baud, 19200);
  EXPECT_EQ(port.stopBits, 2);
  line.Close();
  EXPECT_FALSE(port.IsOpen());
  EXPECT_EQ(port.baud, 9600);
  EXPECT_EQ(port.dataBits, 7);
  EXPECT_EQ(port.parity, kx::Parity::Even);
  EXPECT_EQ(port.stopBits, 1);
}

}  // namespace
}  // namespace kxctl
