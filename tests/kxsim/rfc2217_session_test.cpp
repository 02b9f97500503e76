// The simulator's RFC 2217 session: settings change exactly where they come
// in the stream, every COM-PORT-OPTION command is answered with the value in
// force, and data bytes 0xFF arrive undoubled.
#include <gtest/gtest.h>

#include <algorithm>

#include "core/line/rfc2217.h"
#include "kxsim/rfc2217_server.h"

namespace kxsim {
namespace {

namespace rfc = kx::rfc2217;
using kx::Bytes;

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

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
      rfc::ComPortRequest(rfc::Command::SetBaudrate, 0),  // a query
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
      rfc::ComPortReply(rfc::Command::SetParity, static_cast<std::uint32_t>(rfc::ParityCode::Mark)),
  });
  EXPECT_EQ(replies, expected);
}

}  // namespace
}  // namespace kxsim
