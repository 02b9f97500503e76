#include <gtest/gtest.h>

#include "core/modbus/mbap.h"

#include <optional>
#include <string_view>

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

// What the gateway port reads from a block the engines write: the form and
// the contents of a whole, checked frame; nothing else goes to the gateway.
TEST(Mbap, SerialFramesAreReadInEitherForm) {
  auto text = [](std::string_view t) { return Bytes(t.begin(), t.end()); };
  const Bytes read{0x05, 0x03, 0x47, 0x00, 0x00, 0x01};
  Bytes badCrc = BuildRtuFrame(read);
  badCrc.back() ^= 0x01;
  struct Case {
    const char* name;
    Bytes block;
    std::optional<FrameForm> form;  // nothing: not a frame
  };
  const Case cases[] = {
      {"RTU", BuildRtuFrame(read), FrameForm::Rtu},
      {"ASCII", BuildFrame(FrameForm::Ascii, read), FrameForm::Ascii},
      {"ASCII in lower case", text(":050347000001b0\r\n"), FrameForm::Ascii},
      {"RTU with a wrong CRC", badCrc, std::nullopt},
      {"ASCII with a wrong LRC", text(":050347000001B1\r\n"), std::nullopt},
      {"ASCII without CR LF", text(":050347000001B0"), std::nullopt},
      {"ASCII with a non-hex digit", text(":05034700G001B0\r\n"), std::nullopt},
      {"ASCII with an odd digit count", text(":050347000001B00\r\n"), std::nullopt},
      {"address and CRC only", BuildRtuFrame(Bytes{0x05}), std::nullopt},
      {"empty", {}, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto serial = mbap::ParseSerialFrame(c.block);
    ASSERT_EQ(serial.has_value(), c.form.has_value());
    if (!serial) continue;
    EXPECT_EQ(serial->form, *c.form);
    EXPECT_EQ(serial->contents, read);
  }
}

}  // namespace
}  // namespace kx
