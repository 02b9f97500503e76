#include "core/fwupdate/loader_protocol.h"

#include <gtest/gtest.h>

namespace kx {
namespace {

TEST(LoaderProtocol, FramesCarryStartCommandLengthDataAndSum) {
  EXPECT_EQ(OptionReadFrame(), (Bytes{0x01, 0x05, 0x00, 0x06}));
  EXPECT_EQ(EraseFrame(), (Bytes{0x01, 0x03, 0x01, 0x01, 0x06}));
  EXPECT_EQ(Command7Frame(), (Bytes{0x01, 0x07, 0x00, 0x08}));
  EXPECT_EQ(VerifyFrame(0x1F3C), (Bytes{0x01, 0x06, 0x02, 0x3C, 0x1F, 0x64}));
  // A record's count byte, address and data go out; its own check byte does not.
  const Bytes record{0x02, 0x80, 0x10, 0xAA, 0x55, 0x7F};
  EXPECT_EQ(WriteRecordFrame(record), (Bytes{0x01, 0x01, 0x05, 0x02, 0x80, 0x10, 0xAA, 0x55, 0x98}));
}

TEST(LoaderProtocol, AnswerLengthFollowsTheCommandByte) {
  EXPECT_EQ(LoaderAnswerLength(Bytes{0x01, 0x05}), 6u);
  EXPECT_EQ(LoaderAnswerLength(Bytes{0x01, 0x07, 0x02}), 6u);
  EXPECT_EQ(LoaderAnswerLength(Bytes{0x01, 0x02}), 5u);
  EXPECT_EQ(LoaderAnswerLength(Bytes{0x01}), 5u);
  EXPECT_TRUE(LoaderSumOk(Bytes{0x01, 0x03, 0x01, 0x00, 0x05}));
  EXPECT_FALSE(LoaderSumOk(Bytes{0x01, 0x03, 0x01, 0x00, 0x06}));
  EXPECT_FALSE(LoaderSumOk(Bytes{}));
}

TEST(LoaderProtocol, ProgressForOneHundredRecords) {
  struct Case {
    const char* after;
    int stage;
    int progress;
  };
  const Case cases[] = {
      {"option bytes", 4, 10}, {"erase", 5, 11},       {"command 7", 6, 12},
      {"first record", 7, 13}, {"87th record", 93, 99}, {"88th record", 94, 100},
      {"last record", 106, 100},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.after);
    EXPECT_EQ(LoaderProgress(c.stage, 100), c.progress);
  }
  EXPECT_EQ(LoaderProgress(4, 1), 100);
  EXPECT_EQ(LoaderProgress(5124, 5119), 100);
}

}  // namespace
}  // namespace kx
