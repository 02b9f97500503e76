// The panels' writes as a transfer, the exception limit, and the runner's
// judgement of answers, without a port.
#include "core/monitor/transfer_runner.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "core/device/regmap.h"

namespace kx {
namespace {

using Action = TransferRequest::Action;

TransferRequest Unlock() { return {Action::Unlock, 0, 0, false, false}; }
TransferRequest Write(std::uint16_t reg, std::uint16_t value, bool level = false) {
  return {Action::Write, reg, value, false, level};
}

// The requests a PanelWrites gives when every one is answered well.
std::vector<TransferRequest> Drain(PanelWrites& writes) {
  std::vector<TransferRequest> sent;
  while (const auto r = writes.NextRequest()) {
    sent.push_back(*r);
    writes.AnswerTaken({});
    if (sent.size() > 20) break;
  }
  return sent;
}

TEST(PanelWrites, QueuedWritesGoInOrderEachAfterTheUnlockItNeeds) {
  PanelWrites writes;
  writes.Queue({0x4701, 300}, 0);
  writes.Queue({0x4725, 2}, 0);
  writes.Queue({0x4725, 3}, 0);          // replaces the value still waiting
  writes.Queue({0x4714, 15, true}, 0);   // factory-protected
  writes.Queue({0x4715, 16, true}, 0);   // its own unlock: the previous write ended the first
  writes.Queue({0x106B, 7, false, true}, 0);
  EXPECT_EQ(Drain(writes), (std::vector<TransferRequest>{Write(0x4701, 300), Write(0x4725, 3), Unlock(),
                                                         Write(0x4714, 15), Unlock(), Write(0x4715, 16),
                                                         Write(0x106B, 7, true)}));
  EXPECT_TRUE(writes.Done());
  EXPECT_FALSE(writes.Unlocked());
}

TEST(PanelWrites, AWriteOnTheLineIsNotReplacedAndAFailedWriteIsUnlockedAgain) {
  PanelWrites writes;
  writes.Queue({0x4714, 1, true}, 0);
  EXPECT_EQ(writes.NextRequest(), Unlock());
  writes.AnswerTaken({});
  const std::uint32_t onTheLine = writes.RequestId();
  EXPECT_EQ(writes.NextRequest(), Write(0x4714, 1));
  writes.Queue({0x4714, 2}, onTheLine);  // the write on the line keeps its value
  EXPECT_EQ(writes.LastId(), onTheLine + 1);
  // The write timed out: it went out, so the controller is locked again.
  writes.AnswerFailed();
  EXPECT_EQ(writes.NextRequest(), Unlock());
  writes.AnswerTaken({});
  writes.AnswerTaken({});
  EXPECT_EQ(writes.NextRequest(), Write(0x4714, 2));

  // A dropped write leaves those after it; a stale id drops nothing.
  writes.Queue({0x4701, 5}, writes.RequestId());
  writes.Drop(writes.RequestId() + 100);
  writes.Drop(writes.RequestId());
  EXPECT_EQ(Drain(writes), (std::vector<TransferRequest>{Write(0x4701, 5)}));
}

TEST(PanelWrites, TheFactoryUnlockGoesFirstOnlyWhileLocked) {
  PanelWrites writes;
  writes.Queue({0x4701, 9}, 0);
  writes.UnlockFirst();
  EXPECT_EQ(writes.NextRequest(), Unlock());
  writes.AnswerTaken({});
  EXPECT_TRUE(writes.Unlocked());
  writes.UnlockFirst();  // unlocked already: nothing more
  EXPECT_EQ(Drain(writes), (std::vector<TransferRequest>{Write(0x4701, 9)}));
  writes.UnlockFirst();
  writes.Clear();
  EXPECT_TRUE(writes.Done());
  EXPECT_FALSE(writes.UnlockWanted());
}

TEST(ExceptionLimit, MoreThanThreeInARowOfReadsOrWritesPassIt) {
  ExceptionLimit limit;
  for (int i = 0; i < 3; ++i) EXPECT_FALSE(limit.Count(kFnReadError));
  for (int i = 0; i < 3; ++i) EXPECT_FALSE(limit.Count(kFnWriteErrorAlt));  // counted apart
  EXPECT_TRUE(limit.Count(kFnWriteError));
  // Passing it starts both counts again; a good answer clears them.
  EXPECT_FALSE(limit.Count(kFnReadError));
  limit.Clear();
  for (int i = 0; i < 3; ++i) EXPECT_FALSE(limit.Count(kFnIdentifyError));
  EXPECT_TRUE(limit.Count(kFnReadError));
}

}  // namespace
}  // namespace kx
