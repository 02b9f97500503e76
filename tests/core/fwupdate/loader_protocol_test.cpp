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

TEST(LoaderProtocol, AnswersAreTakenApart) {
  struct Case {
    const char* name;
    Bytes answer;
    bool sumOk;
    bool statusOk;
    bool optionsOk;
    bool verifyFailed;
  };
  Bytes badSum = LoaderFrame(kLoaderReadOptions, Bytes{0xE5, 0xC7});
  badSum.back() ^= 0x01;
  const Case cases[] = {
      {"option bytes", LoaderFrame(kLoaderReadOptions, Bytes{0xE5, 0xC7}), true, false, true, false},
      {"other option bytes", LoaderFrame(kLoaderReadOptions, Bytes{0xE5, 0xC6}), true, false, false, false},
      {"bad sum", badSum, false, false, true, false},
      {"status 0F passes", LoaderFrame(kLoaderWrite, Bytes{0x0F}), true, true, false, false},
      {"status 10 fails", LoaderFrame(kLoaderErase, Bytes{0x10}), true, false, false, false},
      {"status 20 fails", LoaderFrame(kLoaderWrite, Bytes{0x20}), true, false, false, false},
      {"verify FF", LoaderFrame(kLoaderVerify, Bytes{0xFF}), true, false, false, true},
      {"verify 7E is success", LoaderFrame(kLoaderVerify, Bytes{0x7E}), true, false, false, false},
      // Five bytes hold no option bytes: the fifth is the sum.
      {"five bytes", Bytes{0x01, 0xE0, 0x01, 0xE5, 0xC7}, true, false, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const LoaderAnswer parsed = ParseLoaderAnswer(c.answer);
    EXPECT_EQ(parsed.sumOk, c.sumOk);
    EXPECT_EQ(parsed.StatusOk(), c.statusOk);
    EXPECT_EQ(parsed.OptionsOk(), c.optionsOk);
    EXPECT_EQ(parsed.VerifyFailed(), c.verifyFailed);
  }
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
