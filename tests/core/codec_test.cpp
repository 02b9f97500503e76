#include <gtest/gtest.h>

#include "core/codec.h"

namespace kx {
namespace {

TEST(Codec, ReadRequestFramesInBothForms) {
  const Bytes pdu = ReadRequestPdu(1, 0x03, 0x4701, 1);
  EXPECT_EQ(BuildAsciiFrame(pdu), ":010347010001B3\r\n");
  EXPECT_EQ(BuildRtuFrame(pdu), (Bytes{0x01, 0x03, 0x47, 0x01, 0x00, 0x01, 0xC1, 0x7E}));
}

TEST(Codec, CheckSumsOfKnownFrames) {
  struct Case {
    Bytes bytes;
    std::uint16_t crc;
    int lrc;  // -1: not checked
  };
  const Case cases[] = {
      {{0x01, 0x03, 0x47, 0x01, 0x00, 0x01}, 0x7EC1, 0xB3},
      {{0x01, 0x03, 0x00, 0x00, 0x00, 0x01}, 0x0A84, -1},
      {{0x01, 0x06, 0x47, 0x22, 0x00, 0x01}, 0xB4FC, 0x8F},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Crc16(c.bytes), c.crc);
    if (c.lrc >= 0) {
      EXPECT_EQ(ByteLrc(c.bytes), c.lrc);
    }
  }
}
}  // namespace
}  // namespace kx
