#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>

#include "core/device/regmap.h"
#include "core/params/download_sequence.h"

namespace kx {
namespace {

// A buffer whose image byte i is i, so every value names the bytes it came from.
ParameterBuffer Numbered(std::uint8_t model, std::uint16_t version) {
  ParameterBuffer b{};
  for (std::size_t i = 0; i < kParameterImageBytes; ++i) b[i] = static_cast<std::uint8_t>(i);
  FillTrailer(b, model, version);
  return b;
}

constexpr std::uint16_t W(int o) { return static_cast<std::uint16_t>((o << 8) | (o + 1)); }

TEST(DownloadSequenceTest, Kx1WritesTwentyOneRegistersFromTheirBytes) {
  const ParameterBuffer b = Numbered(kModelKx1, 0x0320);
  const std::vector<WriteStep> expected = {
      {0x470F, (10 & 0x0F) | 1}, {0x4710, 12}, {0x4711, 13}, {0x4712, 28}, {0x4713, 30}, {0x470E, 29},
      {0x4715, 14}, {0x4716, 15},
      {0x4701, W(0)}, {0x4702, W(2)}, {0x4703, W(4)}, {0x4704, W(6)}, {0x4705, W(8)}, {0x4706, W(16)},
      {0x4707, W(18)}, {0x4708, W(20)}, {0x4709, W(22)}, {0x470A, W(24)}, {0x470B, W(26)},
      {0x4731, 11}, {0x471A, 0},  // bit 0 of byte 10 is clear
  };
  EXPECT_EQ(DownloadSequence(kModelKx1, b, 0x0320), expected);
}

TEST(DownloadSequenceTest, Kx1LockStatusNeedsVersionThreeBufferAndController) {
  struct Case {
    std::uint16_t bufferVersion;
    std::uint16_t controllerVersion;
    bool sent;
  };
  const Case cases[] = {{0x0320, 0x0320, true}, {0x0320, 0x031F, false}, {0x0320, 0x0401, true},
                        {0x0210, 0x0320, false}, {0x0410, 0x0500, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.controllerVersion);
    const auto steps = DownloadSequence(kModelKx1, Numbered(kModelKx1, c.bufferVersion), c.controllerVersion);
    ASSERT_EQ(steps.size(), 21U);
    EXPECT_EQ(steps[19].reg, 0x4731);
    EXPECT_EQ(steps[19].skip, !c.sent);
  }
}

TEST(DownloadSequenceTest, Kx2MakesThirtyNinePlainAndSixtyUnlockedMemoryWrites) {
  ParameterBuffer b = Numbered(kModelKx2, 0x0105);
  b[10] = 0x12;  // word 10 = 0x120B
  const auto steps = DownloadSequence(kModelKx2, b, 0x0105);
  ASSERT_EQ(steps.size(), 99U);
  EXPECT_EQ(std::count_if(steps.begin(), steps.end(), [](const WriteStep& s) { return s.unlock; }), 60);
  EXPECT_TRUE(std::none_of(steps.begin(), steps.end(), [](const WriteStep& s) { return s.skip; }));

  EXPECT_EQ(steps[0], (WriteStep{0x4717, (12 & 0x7F) | 1}));
  const int bytes[] = {14, 15, 19, 48, 49, 50, 13, 51, 16, 17, 18};
  for (std::size_t i = 0; i < std::size(bytes); ++i)
    EXPECT_EQ(steps[1 + i], (WriteStep{static_cast<std::uint16_t>(0x4718 + i), static_cast<std::uint16_t>(bytes[i])}));
  EXPECT_EQ(steps[12], (WriteStep{0x4701, W(24)}));
  const int words[] = {0, 2, 4, 6, 8, 10, 26, 28, 30, 32, 34, 40, 42, 36, 38};
  for (std::size_t i = 0; i < std::size(words); ++i) EXPECT_EQ(steps[15 + i].reg, 0x4706 + i);
  for (std::size_t i = 0; i < std::size(words); ++i) {
    const std::uint16_t expected = words[i] == 10 ? 0x120B : W(words[i]);
    EXPECT_EQ(steps[15 + i].value, expected) << i;
  }
  EXPECT_EQ(steps[30], (WriteStep{0x1017, 52}));  // input type (byte 14) is 14: byte 52
  const int extended[] = {100, 104, 106, 108, 179, 110, 112};
  for (std::size_t i = 0; i < std::size(extended); ++i)
    EXPECT_EQ(steps[31 + i], (WriteStep{static_cast<std::uint16_t>(0x1018 + i), W(extended[i])}));
  for (std::size_t i = 0; i < 60; ++i) {
    const std::size_t o = i < 20 ? 124 + i : 180 + (i - 20);
    EXPECT_EQ(steps[38 + i], (WriteStep{0x474C, static_cast<std::uint16_t>((o << 8) | o), true})) << o;
  }
  EXPECT_EQ(steps[98], (WriteStep{0x4726, 0}));
}

TEST(DownloadSequenceTest, Kx2RangeLimitsAndInputFlagFollowTheirBits) {
  struct Case {
    const char* name;
    std::uint8_t byte12, byte14, byte52;
    std::uint16_t high, low;  // words 20 and 22
    std::uint16_t wantHigh, wantLow, want1017;
  };
  const Case cases[] = {
      {"bit 4 clear", 0x00, 5, 9, 12000, 0xF000, 12000, 0xF000, 0},
      {"bit 4 set", 0x10, 5, 9, 12000, 0xF000, 9999, 0xFC19, 1},
      {"within limits", 0x10, 5, 9, 9999, 0xFC19, 9999, 0xFC19, 1},
      {"input 13 takes byte 52", 0x10, 13, 9, 100, 0, 100, 0, 9},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ParameterBuffer b = Numbered(kModelKx2, 0x0105);
    b[12] = c.byte12, b[14] = c.byte14, b[52] = c.byte52;
    b[20] = static_cast<std::uint8_t>(c.high >> 8), b[21] = static_cast<std::uint8_t>(c.high);
    b[22] = static_cast<std::uint8_t>(c.low >> 8), b[23] = static_cast<std::uint8_t>(c.low);
    const auto steps = DownloadSequence(kModelKx2, b, 0x0105);
    EXPECT_EQ(steps[13], (WriteStep{0x4704, c.wantHigh}));
    EXPECT_EQ(steps[14], (WriteStep{0x4705, c.wantLow}));
    EXPECT_EQ(steps[30], (WriteStep{0x1017, c.want1017}));
  }
}

TEST(DownloadSequenceTest, Kx3OutputsOnlyInControlModeTwoAndSkipsCountAsDone) {
  ParameterBuffer b = Numbered(kModelKx3, 0x0110);
  b[15] = 2;
  auto steps = DownloadSequence(kModelKx3, b, 0x0110);
  const std::vector<WriteStep> expected = {
      {0x4717, (12 & 0x7F) | 1}, {0x4718, 14}, {0x4719, 2}, {0x471A, 54}, {0x471B, 48}, {0x471C, 49},
      {0x471F, 55}, {0x4720, 16}, {0x4721, 17},
      {0x4701, W(24)},
      {0x4704, W(20)}, {0x4705, W(22)}, {0x4706, W(0)}, {0x4707, W(2)}, {0x4708, W(4)}, {0x4709, W(6)},
      {0x470C, W(26)}, {0x470D, W(28)}, {0x470E, W(30)}, {0x470F, W(32)}, {0x4710, W(34)},
      {0x4711, W(40)}, {0x4712, W(42)}, {0x4713, W(36)}, {0x4714, W(38)},
      {0x4702, W(100)}, {0x4703, W(102)},  // control mode (byte 15) 2: the outputs
  };
  EXPECT_EQ(steps, expected);
  // 0x470B (the KX3's address and format) is never written.
  EXPECT_TRUE(std::none_of(steps.begin(), steps.end(), [](const WriteStep& s) { return s.reg == 0x470B; }));

  // Control mode 1: both output writes are skipped and the run still ends at 1000.
  b[15] = 1;
  WriteSequence run(TransferKind::Download, DownloadSequence(kModelKx3, b, 0x0110));
  int sent = 0;
  while (const auto request = run.NextRequest()) {
    EXPECT_EQ(request->action, TransferRequest::Action::Write);
    ++sent;
    run.AnswerTaken({});
  }
  EXPECT_EQ(sent, 25);
  EXPECT_TRUE(run.Done());
  EXPECT_EQ(run.Progress(), 1000);
}

TEST(DownloadSequenceTest, Kx2MemoryWritesGoOutEachAfterItsOwnUnlock) {
  WriteSequence run(TransferKind::Download, DownloadSequence(kModelKx2, Numbered(kModelKx2, 0x0105), 0x0105));
  int unlocks = 0;
  int writes = 0;
  bool lastWasUnlock = false;
  while (const auto request = run.NextRequest()) {
    if (request->action == TransferRequest::Action::Unlock) {
      ++unlocks;
      EXPECT_FALSE(lastWasUnlock);
      lastWasUnlock = true;
    } else {
      ++writes;
      EXPECT_EQ(lastWasUnlock, request->reg == 0x474C) << std::hex << request->reg;
      lastWasUnlock = false;
    }
    run.AnswerTaken({});
  }
  EXPECT_EQ(writes, 99);
  EXPECT_EQ(unlocks, 60);
  EXPECT_TRUE(DownloadSequence(kModelUnknown, Numbered(kModelKx2, 0), 0).empty());
}

// A download stopped part-way names what it left: skipped steps are neither
// writes nor writes that went through; a broadcast speaks of every controller.
TEST(DownloadSequenceTest, PartWayTextCountsTheWritesThatWentThrough) {
  ParameterBuffer b = Numbered(kModelKx3, 0x0110);
  b[15] = 1;  // the last two KX3 writes are skipped
  WriteSequence download(TransferKind::Download, DownloadSequence(kModelKx3, b, 0x0110));
  EXPECT_EQ(PartWayText(download), "None of the 25 writes went through.");
  for (int i = 0; i < 12; ++i) download.AnswerTaken({});
  EXPECT_EQ(PartWayText(download),
            "The controller now holds a mix of old and new parameters: 12 of 25 writes went through.");
  WriteSequence broadcast(TransferKind::Download, DownloadSequence(kModelKx1, Numbered(kModelKx1, 0x0320), 0x031F),
                          true);  // 0x4731 skipped: 20 writes
  broadcast.AnswerTaken({});
  EXPECT_EQ(PartWayText(broadcast),
            "Every controller on the line now holds a mix of old and new parameters: 1 of 20 writes went through.");
}

}  // namespace
}  // namespace kx
