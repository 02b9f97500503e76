// The traffic log while the line carries the controllers' flash loader: its
// frames are traced with the loader protocol's notes, never judged as Modbus.
#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "core/fwupdate/loader_protocol.h"
#include "core/modbus/codec.h"
#include "core/traffic/traffic_log.h"

namespace kx {
namespace {

constexpr LineFormat kAscii{9600, 7, Parity::Even, 1, FrameForm::Ascii};

// As kxctl's flash job hands it in.
LoaderTrace Loader() {
  return LoaderTrace{
      LoaderAnswerRule(), LoaderRequestNote, [](std::span<const std::uint8_t> answer) {
        return std::pair{LoaderSumOk(answer) ? Failure::None : Failure::Checksum, LoaderAnswerNote(answer)};
      }};
}

std::string Notes(const TrafficFrame& frame) {
  const std::string line = TraceLine(frame, 0);
  return line.substr(line.find("  ") + 2);  // after the bytes
}

TEST(TrafficLoader, FramesCarryTheLoaderNotesAndCountInNoFigures) {
  TrafficLog log;
  log.SetLine(kAscii);  // the line's format stays the Modbus one meanwhile
  log.SetLoader(Loader());
  const Bytes options = LoaderFrame(kLoaderReadOptions, Bytes{0xE5, 0xC7});
  Bytes badSum = LoaderFrame(kLoaderErase, Bytes{0x00});
  badSum.back() ^= 0x01;
  const Bytes record{0x02, 0x12, 0x34, 0xAA, 0xBB, 0x00};

  log.Sent(OptionReadFrame(), 0);
  log.Received(Bytes{0xFF}, 1'000);  // noise before the answer's 01 is dropped
  log.Received(std::span(options).first(3), 2'000);
  log.Received(std::span(options).subspan(3), 4'500);
  log.Sent(EraseFrame(), 10'000);
  log.Received(badSum, 30'000);
  log.Sent(WriteRecordFrame(record), 40'000);
  log.Received(LoaderFrame(kLoaderWrite, Bytes{0x81}), 45'000);
  log.Sent(VerifyFrame(0xBEEF), 50'000);
  log.Settle(900'000);  // nothing came

  ASSERT_EQ(log.Frames().size(), 8U);
  for (const TrafficFrame& f : log.Frames()) EXPECT_TRUE(f.loader);
  EXPECT_EQ(Notes(log.Frames()[0]), "loader: read options");
  EXPECT_EQ(log.Frames()[1].bytes, options);
  EXPECT_EQ(log.Frames()[1].failure, Failure::None);
  EXPECT_EQ(Notes(log.Frames()[1]), "loader: read options: E5 C7  4.5 ms");
  EXPECT_EQ(Notes(log.Frames()[2]), "loader: erase");
  EXPECT_EQ(log.Frames()[3].failure, Failure::Checksum);
  EXPECT_EQ(Notes(log.Frames()[3]), "loader: answer sum wrong  20.0 ms");
  EXPECT_EQ(Notes(log.Frames()[4]), "loader: write record at 1234");
  EXPECT_EQ(Notes(log.Frames()[5]), "loader: write record: status 81 failed  5.0 ms");
  EXPECT_EQ(Notes(log.Frames()[6]), "loader: verify checksum BEEF");
  EXPECT_EQ(log.Frames()[7].failure, Failure::TimedOut);
  EXPECT_EQ(TraceLine(log.Frames()[7], 0), "00:00:00.000 RX  loader: no answer");
  EXPECT_TRUE(log.Stats().empty());

  // Modbus again: a request is judged as before.
  log.SetLoader(std::nullopt);
  log.Sent(BuildFrame(FrameForm::Ascii, ReadRequestPdu(1, 0x03, 0x4701, 1)), 1'000'000);
  log.Settle(2'000'000);
  EXPECT_FALSE(log.Frames().back().loader);
  EXPECT_EQ(log.Frames().back().failure, Failure::TimedOut);
  ASSERT_EQ(log.Stats().size(), 1U);
  EXPECT_EQ(log.Stats()[0].timeouts, 1U);
}

}  // namespace
}  // namespace kx
