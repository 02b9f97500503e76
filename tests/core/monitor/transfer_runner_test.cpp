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
  EXPECT_FALSE(writes.unlocked());
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
  writes.AnswerFailed(Failure::TimedOut);
  EXPECT_EQ(writes.NextRequest(), Unlock());
  writes.AnswerTaken({});
  writes.AnswerTaken({});
  EXPECT_EQ(writes.NextRequest(), Write(0x4714, 2));

  // A write with a wrong echo is dropped, those after it go out; so does a
  // refused one (Drop, by its id: a stale id drops nothing).
  writes.Queue({0x4701, 5}, writes.RequestId());
  writes.Queue({0x4702, 6}, 0);
  writes.AnswerFailed(Failure::EchoMismatch);
  EXPECT_FALSE(writes.unlocked());
  writes.Drop(writes.RequestId() + 100);
  writes.Drop(writes.RequestId());
  EXPECT_EQ(Drain(writes), (std::vector<TransferRequest>{Write(0x4702, 6)}));
}

TEST(PanelWrites, TheFactoryUnlockGoesFirstOnlyWhileLocked) {
  PanelWrites writes;
  writes.Queue({0x4701, 9}, 0);
  writes.UnlockFirst();
  EXPECT_EQ(writes.NextRequest(), Unlock());
  writes.AnswerTaken({});
  EXPECT_TRUE(writes.unlocked());
  writes.UnlockFirst();  // unlocked already: nothing more
  EXPECT_EQ(Drain(writes), (std::vector<TransferRequest>{Write(0x4701, 9)}));
  writes.UnlockFirst();
  writes.Clear();
  EXPECT_TRUE(writes.Done());
  EXPECT_FALSE(writes.unlockWanted());
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

// Answers as the exchange hands them over (RTU: two check bytes).
Answer ReadAnswer(std::vector<std::uint16_t> words) {
  Answer a;
  a.end = AnswerEnd::Complete;
  a.failure = Failure::None;
  a.function = kFnRead;
  a.frame = {1, kFnRead, static_cast<std::uint8_t>(2 * words.size())};
  for (std::uint16_t w : words) {
    a.frame.push_back(static_cast<std::uint8_t>(w >> 8));
    a.frame.push_back(static_cast<std::uint8_t>(w & 0xFF));
  }
  a.frame.insert(a.frame.end(), {0, 0});
  a.checkLength = 2;
  return a;
}
Answer Failed(Failure failure, std::uint8_t function = 0, std::uint8_t code = 0) {
  Answer a;
  a.end = failure == Failure::TimedOut ? AnswerEnd::TimedOut : AnswerEnd::Complete;
  a.failure = failure;
  a.function = function;
  a.exceptionCode = code;
  return a;
}

// Records what it is handed; reads `reads` single registers, then is done.
struct Recorder : Transfer {
  explicit Recorder(int reads, bool toAll = false) : left(reads), broadcast(toAll) {}
  TransferKind Kind() const override { return TransferKind::Upload; }
  std::optional<TransferRequest> NextRequest() const override {
    if (left == 0) return std::nullopt;
    return broadcast ? TransferRequest{Action::Write, 0x4701, 5, true} : TransferRequest{Action::Read, 0x474C, 1};
  }
  void AnswerTaken(std::span<const std::uint16_t> words) override {
    taken.emplace_back(words.begin(), words.end());
    --left;
  }
  void AnswerFailed(Failure) override { ++failed; }
  int Progress() const override { return 0; }
  bool Done() const override { return left == 0; }
  int left;
  bool broadcast;
  std::vector<std::vector<std::uint16_t>> taken;
  int failed = 0;
};

TEST(TransferRunner, GoodAnswersAreHandedOverFailedOnesGoAgainAndExceptionsGiveUp) {
  ExceptionLimit limit;
  TransferRunner runner(limit);
  auto upload = std::make_shared<Recorder>(3);
  runner.Start(upload);
  const TransferCall call = *runner.Next();
  const TransferOutcome good = runner.Take(call, ReadAnswer({0x1234}));
  EXPECT_EQ(good.step, TransferStep::Taken);
  EXPECT_EQ(upload->taken, (std::vector<std::vector<std::uint16_t>>{{0x1234}}));

  struct Case {
    const char* name;
    Answer answer;
    Failure failure;
  };
  const Case retried[] = {
      {"a late answer of another length", ReadAnswer({1, 2}), Failure::Format},
      {"no answer", Failed(Failure::TimedOut), Failure::TimedOut},
      {"bad check", Failed(Failure::Checksum), Failure::Checksum},
      {"exception 1", Failed(Failure::Exception, kFnReadError, 2), Failure::Exception},
      {"exception 2", Failed(Failure::Exception, kFnReadError, 2), Failure::Exception},
      {"exception 3", Failed(Failure::Exception, kFnReadError, 2), Failure::Exception},
  };
  for (const Case& c : retried) {
    const TransferOutcome out = runner.Take(*runner.Next(), c.answer);
    EXPECT_EQ(out.step, TransferStep::Retry) << c.name;
    EXPECT_EQ(out.failure, c.failure) << c.name;
  }
  EXPECT_EQ(upload->taken.size(), 1U);
  EXPECT_EQ(upload->failed, 6);
  EXPECT_EQ(runner.Take(*runner.Next(), Failed(Failure::Exception, kFnReadError, 2)).step, TransferStep::GiveUp);

  // An answer to a request of a transfer since stopped belongs to none.
  const TransferCall before = *runner.Next();
  runner.Start(std::make_shared<Recorder>(1));
  EXPECT_EQ(runner.Take(before, ReadAnswer({7})).step, TransferStep::Stale);
  EXPECT_EQ(upload->taken.size(), 1U);
  EXPECT_EQ(runner.Stop()->Done(), false);
  EXPECT_EQ(runner.Next(), std::nullopt);
}

TEST(TransferRunner, BroadcastIsAcknowledgedByTheEndOfItsWait) {
  ExceptionLimit limit;
  TransferRunner runner(limit);
  auto download = std::make_shared<Recorder>(2, true);
  runner.Start(download);
  // Silence, or whatever stray bytes came: nobody answers a broadcast.
  EXPECT_EQ(runner.Take(*runner.Next(), Failed(Failure::TimedOut)).step, TransferStep::Taken);
  EXPECT_EQ(runner.Take(*runner.Next(), Failed(Failure::Format)).step, TransferStep::Taken);
  EXPECT_TRUE(download->Done());

  const LineFormat line{9600, 7, Parity::Even, 1, FrameForm::Ascii};
  const ExchangeRequest r = TransferRunner::Request({Action::Write, 0x4701, 5, true}, line, 1, kModelKx2);
  EXPECT_FALSE(r.expect.has_value());
  EXPECT_EQ(r.frame, BuildFrame(FrameForm::Ascii, WriteRegisterPdu(0, 0x4701, 5)));
  EXPECT_EQ(r.firstWaitTicks, 5);
}

TEST(TransferRunner, RequestsOfEachStep) {
  const LineFormat line{38400, 8, Parity::None, 1, FrameForm::Rtu};
  const ExchangeRequest unlock = TransferRunner::Request(Unlock(), line, 3, kModelKx1);
  EXPECT_EQ(unlock.frame, BuildFrame(FrameForm::Rtu, WriteRegisterPdu(3, 0x471B, kUnlockValue)));
  EXPECT_EQ(unlock.expect->echoOf, unlock.frame);
  const ExchangeRequest read = TransferRunner::Request({Action::Read, 0x474C, 1}, line, 3, kModelKx2);
  EXPECT_EQ(read.frame, BuildFrame(FrameForm::Rtu, ReadRequestPdu(3, kFnRead, 0x474C, 1)));
  // A key write is answered in the controller's own way: no echo, 86 taken too.
  const ExchangeRequest level = TransferRunner::Request(Write(0x106B, 7, true), line, 3, kModelKx3);
  EXPECT_TRUE(level.expect->echoOf.empty());
  EXPECT_EQ(level.expect->functions, (std::vector<std::uint8_t>{kFnWrite, kFnWriteError}));
}

}  // namespace
}  // namespace kx
