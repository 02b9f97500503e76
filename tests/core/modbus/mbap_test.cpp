#include <gtest/gtest.h>

#include "core/modbus/mbap.h"

namespace kx {
namespace {

TEST(Mbap, SerialContentsBecomeAFrameAndBack) {
  // Read of one register at 0x4700 from controller 5, transaction 0x1234.
  const Bytes serial{0x05, 0x03, 0x47, 0x00, 0x00, 0x01};
  const auto frame = mbap::FrameOfSerial(0x1234, serial);
  ASSERT_TRUE(frame);
  EXPECT_EQ(*frame, (Bytes{0x12, 0x34, 0x00, 0x00, 0x00, 0x06, 0x05, 0x03, 0x47, 0x00, 0x00, 0x01}));

  mbap::Reader reader;
  reader.Add(*frame);
  const auto back = reader.Next();
  ASSERT_TRUE(back);
  EXPECT_EQ(back->transaction, 0x1234);
  EXPECT_EQ(back->unit, 0x05);
  EXPECT_EQ(mbap::SerialOfFrame(*back), serial);
  EXPECT_FALSE(reader.Next());
  EXPECT_EQ(reader.Pending(), 0u);
}

TEST(Mbap, FramesOutOfRangeAreNotBuilt) {
  EXPECT_FALSE(mbap::BuildFrame(1, 1, {}));
  EXPECT_FALSE(mbap::FrameOfSerial(1, {}));
  EXPECT_TRUE(mbap::BuildFrame(1, 1, Bytes(mbap::kMaxPduLength, 0x03)));
  EXPECT_FALSE(mbap::BuildFrame(1, 1, Bytes(mbap::kMaxPduLength + 1, 0x03)));
}

TEST(Mbap, StreamInPiecesGivesEachFrameOnce) {
  const Bytes a = *mbap::BuildFrame(1, 2, Bytes{0x06, 0x47, 0x22, 0x00, 0x01});
  const Bytes b = *mbap::BuildFrame(2, 2, Bytes{0x83, 0x02});
  Bytes stream = a;
  stream.insert(stream.end(), b.begin(), b.end());
  for (std::size_t cut = 0; cut <= stream.size(); ++cut) {
    mbap::Reader reader;
    reader.Add(std::span(stream).first(cut));
    std::vector<std::uint16_t> seen;
    while (auto f = reader.Next()) seen.push_back(f->transaction);
    reader.Add(std::span(stream).subspan(cut));
    while (auto f = reader.Next()) seen.push_back(f->transaction);
    EXPECT_EQ(seen, (std::vector<std::uint16_t>{1, 2})) << "cut at " << cut;
    EXPECT_FALSE(reader.broken());
  }
}

TEST(Mbap, BadHeadersBreakTheStreamUntilReset) {
  const Bytes cases[] = {
      {0x00, 0x01, 0x00, 0x01, 0x00, 0x03, 0x01, 0x03, 0x02},  // protocol 1
      {0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x01},              // length 1: no function
      {0x00, 0x01, 0x00, 0x00, 0x00, 0xFF, 0x01},              // length 255: too long
  };
  for (const Bytes& bad : cases) {
    mbap::Reader reader;
    reader.Add(bad);
    EXPECT_FALSE(reader.Next());
    EXPECT_TRUE(reader.broken());
    reader.Add(*mbap::BuildFrame(1, 1, Bytes{0x03, 0x02, 0x00, 0x00}));
    EXPECT_FALSE(reader.Next());
    reader.Reset();
    reader.Add(*mbap::BuildFrame(1, 1, Bytes{0x03, 0x02, 0x00, 0x00}));
    EXPECT_TRUE(reader.Next());
  }
}

TEST(Mbap, OnlyTheGatewayExceptionsMeanTheUnitWasNotReached) {
  EXPECT_TRUE(mbap::IsGatewayFailure(Bytes{0x83, 0x0A}));
  EXPECT_TRUE(mbap::IsGatewayFailure(Bytes{0x86, 0x0B}));
  EXPECT_FALSE(mbap::IsGatewayFailure(Bytes{0x83, 0x02}));
  EXPECT_FALSE(mbap::IsGatewayFailure(Bytes{0x03, 0x0B}));
  EXPECT_FALSE(mbap::IsGatewayFailure(Bytes{0x83, 0x0B, 0x00}));
}

}  // namespace
}  // namespace kx
