// The simulator's RFC 2217 session: settings change exactly where they come
// in the stream, every COM-PORT-OPTION command is answered with the value in
// force, and data bytes 0xFF arrive undoubled.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>

#include "core/line/rfc2217.h"
#include "kxsim/line.h"
#include "kxsim/rfc2217_server.h"
#include "support/frame_bytes.h"

namespace kxsim {
namespace {

namespace rfc = kx::rfc2217;
using kx::Bytes;
using kx::test::Cat;

TEST(Rfc2217Session, AppliesSettingsInStreamOrderAndAnswersEachCommand) {
  Rfc2217Session session;
  const Bytes opening = session.Start();
  const Bytes doComPort = rfc::Negotiation(rfc::kDo, rfc::kOptComPort);
  EXPECT_NE(std::search(opening.begin(), opening.end(), doComPort.begin(), doComPort.end()), opening.end())
      << "the server asks the client to do COM-PORT-OPTION";

  std::vector<std::pair<Bytes, PcSettings>> seen;
  const auto onData = [&](std::span<const std::uint8_t> data) {
    seen.emplace_back(Bytes(data.begin(), data.end()), session.settings());
  };
  const Bytes stream = Cat({
      Bytes{0x01},
      rfc::ComPortRequest(rfc::Command::SetBaudrate, 19200),
      rfc::ComPortRequest(rfc::Command::SetDatasize, 7),
      rfc::ComPortRequest(rfc::Command::SetParity, static_cast<std::uint32_t>(rfc::ParityCode::Odd)),
      rfc::ComPortRequest(rfc::Command::SetStopsize, static_cast<std::uint32_t>(rfc::StopCode::Two)),
      rfc::Escape(Bytes{0xFF, 0x02}),
      rfc::ComPortRequest(rfc::Command::SetBaudrate, 0),           // a query
      rfc::ComPortRequest(rfc::Command::SetBaudrate, 0xDB002580),  // no UART's rate: refused
      rfc::ComPortRequest(rfc::Command::SetParity, static_cast<std::uint32_t>(rfc::ParityCode::Mark)),
      Bytes{0x03},
  });
  const Bytes replies = session.Receive(stream, onData);

  ASSERT_EQ(seen.size(), 3U);
  EXPECT_EQ(seen[0].first, Bytes{0x01});
  EXPECT_EQ(seen[0].second.baud, 9600);
  EXPECT_EQ(seen[0].second.dataBits, 8);
  EXPECT_EQ(seen[1].first, (Bytes{0xFF, 0x02}));
  EXPECT_EQ(seen[1].second.baud, 19200);
  EXPECT_EQ(seen[1].second.dataBits, 7);
  EXPECT_EQ(seen[1].second.parity, ParityKind::Odd);
  EXPECT_FALSE(seen[1].second.parityOddOnly);
  EXPECT_EQ(seen[1].second.stopBits, 2);
  EXPECT_TRUE(Understands(*ParseLineFormat("19200-7O2-rtu"), seen[1].second));
  EXPECT_FALSE(Understands(*ParseLineFormat("19200-7O2-rtu"), seen[2].second)) << "mark parity matches nothing";

  const Bytes expected = Cat({
      rfc::ComPortReply(rfc::Command::SetBaudrate, 19200),
      rfc::ComPortReply(rfc::Command::SetDatasize, 7),
      rfc::ComPortReply(rfc::Command::SetParity, static_cast<std::uint32_t>(rfc::ParityCode::Odd)),
      rfc::ComPortReply(rfc::Command::SetStopsize, static_cast<std::uint32_t>(rfc::StopCode::Two)),
      rfc::ComPortReply(rfc::Command::SetBaudrate, 19200),
      rfc::ComPortReply(rfc::Command::SetBaudrate, 19200),
      rfc::ComPortReply(rfc::Command::SetParity, static_cast<std::uint32_t>(rfc::ParityCode::Mark)),
  });
  EXPECT_EQ(replies, expected);
}

TEST(Rfc2217Session, PurgesTakeEffectWhereTheyComeInTheStream) {
  Rfc2217Session session;
  std::vector<std::string> events;
  const auto onData = [&](std::span<const std::uint8_t> data) {
    events.push_back("data " + std::string(data.begin(), data.end()));
  };
  const auto onPurge = [&](rfc::PurgeCode code) { events.push_back("purge " + std::to_string(int(code))); };
  auto purge = [](rfc::PurgeCode code) {
    return rfc::ComPortRequest(rfc::Command::PurgeData, static_cast<std::uint32_t>(code));
  };
  // The client's flush before a request and the request itself, in one segment.
  session.Receive(Cat({purge(rfc::PurgeCode::Receive), Bytes{'a', 'b'}, purge(rfc::PurgeCode::Transmit),
                       Bytes{'c'}, purge(rfc::PurgeCode::Both), rfc::ComPortRequest(rfc::Command::PurgeData, 7)}),
                  onData, onPurge);
  EXPECT_EQ(events, (std::vector<std::string>{"purge 1", "data ab", "purge 2", "data c", "purge 3"}));
}

// On the line behind the session: a receive purge drops only the answers due,
// a transmit purge only what has not made a frame yet.
TEST(Rfc2217Session, LinePurgeDropsAnswersOrPartialFrames) {
  const LineFormat format = *ParseLineFormat("9600-8N1-ascii");
  Line line([&] { return ExactSettings(format); });
  line.Add(std::make_unique<Controller>(Model::Kx2, 1, format));
  const Bytes request = kx::BuildFrame(kx::FrameForm::Ascii, kx::ReadRequestPdu(1, 3, 0x4701, 1));
  using std::chrono::seconds;
  line.Receive(request, seconds(0));
  line.Purge(true, false);
  EXPECT_TRUE(line.TakeDue(seconds(1)).empty());
  line.Receive(std::span(request).first(5), seconds(2));
  line.Purge(true, false);
  line.Receive(std::span(request).subspan(5), seconds(2));
  EXPECT_FALSE(line.TakeDue(seconds(3)).empty()) << "a receive purge keeps the request being sent";
  line.Receive(std::span(request).first(5), seconds(4));
  line.Purge(false, true);
  line.Receive(std::span(request).subspan(5), seconds(4));
  EXPECT_TRUE(line.TakeDue(seconds(5)).empty());
}

}  // namespace
}  // namespace kxsim
