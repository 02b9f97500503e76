#include "core/fwupdate/flash_update.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "core/fwupdate/loader_protocol.h"
#include "core/line/settings.h"
#include "support/fake_port.h"

namespace kx {
namespace {

using test::FakePort;
using State = FlashUpdate::State;

enum class Feed { Whole, ByteByByte, Split };

// An image of `records` records of 4 data bytes each.
FirmwareImage Image(FirmwareModel model, std::size_t records) {
  FirmwareImage image;
  image.model = model;
  for (std::size_t r = 0; r < records; ++r) {
    Bytes row{4, static_cast<std::uint8_t>(r >> 8), static_cast<std::uint8_t>(r & 0xFF)};
    std::uint8_t sum = static_cast<std::uint8_t>(4 + (r >> 8) + (r & 0xFF));
    for (std::size_t i = 0; i < 4; ++i) {
      const auto b = static_cast<std::uint8_t>(r * 7 + i);
      row.push_back(b);
      sum = static_cast<std::uint8_t>(sum + b);
      image.checksum = static_cast<std::uint16_t>(image.checksum + b);
    }
    row.push_back(static_cast<std::uint8_t>(-sum));
    image.records.push_back(row);
  }
  return image;
}

Bytes Reply(std::uint8_t command, Bytes data) { return LoaderFrame(command, data); }

// A loader that answers every frame correctly.
Bytes GoodAnswer(const Bytes& frame) {
  switch (frame.at(1)) {
    case kLoaderReadOptions: return Reply(kLoaderReadOptions, {0xE5, 0xC7});
    case kLoaderCommand7: return Reply(kLoaderCommand7, {0x00, 0x00});
    default: return Reply(frame[1], {0x00});
  }
}

std::string AsText(const Bytes& b) { return std::string(b.begin(), b.end()); }

class FlashUpdateTest : public ::testing::Test {
 protected:
  FlashUpdateTest() : update(session, port, memory) {
    port.SetOnTrigger([this](ComPort&, const PortEvent& e) { update.Handle(e); });
    update.SetOnChange([this] { progress.push_back(update.view().progress); });
    // COM3, ASCII, 9600 bit/s, even parity, 7 data bits, 1 stop bit.
    session.settingsWord = 3 * 256 + 0x24;
    DecodeSettingsWord(session.settingsWord, session.params);
  }

  void Answer(const Bytes& bytes, Feed feed = Feed::Whole) {
    switch (feed) {
      case Feed::Whole: port.Feed(bytes); break;
      case Feed::ByteByByte: port.FeedByteByByte(bytes); break;
      case Feed::Split: port.FeedSplit(bytes, {1, 3}); break;
    }
  }
  // Answers loader frames correctly until the update ends or `stopAt` is reached.
  void RunLoader(Feed feed = Feed::Whole, int stopAt = 1 << 30) {
    while (update.Busy() && update.stage() < stopAt && update.state() != State::LoaderWait)
      Answer(GoodAnswer(port.written.back()), feed);
  }
  void CloseNotice() {
    ASSERT_EQ(update.TakeNotice(), kNoticeLoaderWait);
    update.Handle(FlashUpdate::NoticeClosed{});
  }

  Session session;
  FakePort port;
  FlashUpdateMemory memory;
  FlashUpdate update;
  std::vector<int> progress;
};

TEST_F(FlashUpdateTest, Kx2GoesStraightToTheLoaderAt38400AndFinishes) {
  for (Feed feed : {Feed::Whole, Feed::ByteByByte, Feed::Split}) {
    SCOPED_TRACE(static_cast<int>(feed));
    port.written.clear();
    ASSERT_TRUE(update.Start(Image(FirmwareModel::Kx2, 3), 9));
    EXPECT_EQ(session.lineOwner, LineOwner::Firmware);
    EXPECT_EQ(port.comNumber, 3);
    EXPECT_EQ(port.baud, 38400);
    EXPECT_EQ(port.dataBits, 8);
    EXPECT_EQ(port.parity, Parity::None);
    EXPECT_EQ(port.stopBits, 1);
    EXPECT_EQ(port.written.front(), OptionReadFrame());
    EXPECT_EQ(update.view().status, "Reading option byte");
    EXPECT_EQ(update.view().colour, StatusColour::Lime);
    RunLoader(feed);
    EXPECT_EQ(update.state(), State::Done);
    ASSERT_EQ(port.written.size(), 7u);
    EXPECT_EQ(port.written[1], EraseFrame());
    EXPECT_EQ(port.written[2], Command7Frame());
    EXPECT_EQ(port.written[3], WriteRecordFrame(Image(FirmwareModel::Kx2, 3).records[0]));
    EXPECT_EQ(port.written[6], VerifyFrame(Image(FirmwareModel::Kx2, 3).checksum));
    EXPECT_EQ(update.view().status, "Program update successed");
    EXPECT_EQ(update.view().colour, StatusColour::Lime);
    EXPECT_EQ(update.view().progress, 100);
    EXPECT_EQ(update.TakeNotice(), kNoticeKx2Done);
    EXPECT_FALSE(port.IsOpen());
    EXPECT_EQ(session.lineOwner, LineOwner::Free);
    EXPECT_FALSE(update.Busy());
  }
}

TEST_F(FlashUpdateTest, Kx3AsksForItsLoaderAtTheStoredSettingsThenSwitches) {
  ASSERT_TRUE(update.Start(Image(FirmwareModel::Kx3, 2), 1));
  EXPECT_EQ(port.baud, 9600);
  EXPECT_EQ(port.dataBits, 7);
  EXPECT_EQ(port.parity, Parity::Even);
  EXPECT_EQ(AsText(port.written.back()), ":0106472A4F1D1C\r\n");
  EXPECT_EQ(port.Remaining(update.exchange().SilenceTrigger()), kEnableWriteTicks);
  EXPECT_EQ(update.view().status, "");
  port.FeedSplit(port.written.back(), {7});
  EXPECT_EQ(AsText(port.written.back()), ":0106474FA3C6FA\r\n");
  EXPECT_FALSE(update.NoticePending());
  port.Feed(port.written.back());
  // The notice is up while the controller restarts; the line is at the loader's settings.
  EXPECT_EQ(update.state(), State::LoaderWait);
  EXPECT_EQ(port.written.size(), 2u);
  EXPECT_EQ(port.baud, 38400);
  EXPECT_EQ(port.dataBits, 8);
  EXPECT_EQ(port.parity, Parity::None);
  EXPECT_EQ(port.stopBits, 1);
  CloseNotice();
  EXPECT_EQ(port.written.back(), OptionReadFrame());
  RunLoader();
  EXPECT_EQ(update.state(), State::Done);
  EXPECT_EQ(update.TakeNotice(), kNoticeKx3Done);
}

TEST_F(FlashUpdateTest, Kx3ThatDoesNotAnswerTheFirstWriteGoesToTheLoaderWait) {
  ASSERT_TRUE(update.Start(Image(FirmwareModel::Kx3, 2), 1));
  port.Tick(kEnableWriteTicks - 1);
  EXPECT_EQ(update.state(), State::Unlocking);
  port.Tick();
  EXPECT_EQ(update.state(), State::LoaderWait);
  EXPECT_EQ(port.written.size(), 1u);  // the flash-enable write is skipped
  EXPECT_EQ(update.view().status, "");
  CloseNotice();
  EXPECT_EQ(port.written.back(), OptionReadFrame());
}

TEST_F(FlashUpdateTest, Kx3WritesGoOutInTheFormTheSettingsWordSelects) {
  session.settingsWord = 3 * 256 + 0x80 + 0x32;  // RTU, 19200 bit/s, 8N1
  DecodeSettingsWord(session.settingsWord, session.params);
  ASSERT_TRUE(update.Start(Image(FirmwareModel::Kx3, 1), 5));
  const Bytes unlock = BuildRtuFrame(WriteRegisterPdu(5, kUnlockRegister, kUnlockValue));
  EXPECT_EQ(port.written.back(), unlock);
  EXPECT_EQ(port.baud, 19200);
  port.FeedSplit(unlock, {3});
  EXPECT_EQ(port.written.back(), BuildRtuFrame(WriteRegisterPdu(5, kFlashEnableRegister, kFlashEnableValue)));
  // A short echo ends by silence and fails the echo check.
  port.Feed(Bytes{0x05, 0x06});
  port.Tick(kEnableWriteTicks);
  EXPECT_EQ(update.state(), State::Failed);
  EXPECT_EQ(update.view().status, "Enable flash function fail");
}

TEST_F(FlashUpdateTest, NoiseBeforeAnAnswerIsDroppedAndBytesBeyondItAreIgnored) {
  ASSERT_TRUE(update.Start(Image(FirmwareModel::Kx2, 1), 1));
  Bytes noisy{0x7F, 0x00};
  const Bytes options = Reply(kLoaderReadOptions, {0xE5, 0xC7});
  noisy.insert(noisy.end(), options.begin(), options.end());
  port.FeedByteByByte(noisy);
  EXPECT_EQ(update.state(), State::Erasing);
  // An over-long answer: the first five bytes answer, the rest are read and dropped.
  Bytes longAnswer = Reply(kLoaderErase, {0x00});
  longAnswer.insert(longAnswer.end(), 300, 0x01);
  port.Feed(longAnswer);
  EXPECT_EQ(update.state(), State::Command7);
  EXPECT_EQ(port.CharsWaiting(), 0u);
}

TEST_F(FlashUpdateTest, ProgressForOneHundredRecords) {
  ASSERT_TRUE(update.Start(Image(FirmwareModel::Kx2, 100), 1));
  progress.clear();
  RunLoader(Feed::Whole, kStageFirstRecord + 1);
  EXPECT_EQ(progress, (std::vector<int>{10, 11, 12, 13}));
  RunLoader(Feed::Whole, kStageFirstRecord + 88);
  EXPECT_EQ(progress.back(), 100);
  EXPECT_EQ(progress[progress.size() - 2], 99);
  RunLoader();
  EXPECT_EQ(update.state(), State::Done);
}

// A failed update never shows a full bar: it stays where the update stopped,
// whether a step failed or the line was lost.
TEST_F(FlashUpdateTest, FailedUpdateKeepsItsProgress) {
  ASSERT_TRUE(update.Start(Image(FirmwareModel::Kx2, 100), 1));
  RunLoader(Feed::Whole, kStageFirstRecord + 20);
  EXPECT_EQ(update.view().progress, 32);
  port.Feed(Reply(kLoaderWrite, {0x20}));
  EXPECT_EQ(update.state(), State::Failed);
  EXPECT_EQ(update.view().status, "Write data fail");
  EXPECT_EQ(update.view().progress, 32);

  ASSERT_TRUE(update.Start(Image(FirmwareModel::Kx2, 100), 1));
  EXPECT_EQ(update.view().progress, 0);
  RunLoader(Feed::Whole, kStageFirstRecord + 50);
  update.Handle(FlashUpdate::LineLost{});
  EXPECT_EQ(update.state(), State::Failed);
  EXPECT_EQ(update.view().colour, StatusColour::Red);
  EXPECT_EQ(update.view().progress, 62);
}

TEST_F(FlashUpdateTest, EraseTimeOutsGrowFor59_118_And178Seconds) {
  const std::vector<int> waits{1080, 2160, 3240, 3240};
  for (int wait : waits) {
    SCOPED_TRACE(wait);
    ASSERT_TRUE(update.Start(Image(FirmwareModel::Kx2, 1), 1));
    Answer(GoodAnswer(port.written.back()));
    ASSERT_EQ(update.state(), State::Erasing);
    EXPECT_EQ(update.view().status, "Erase Sector 1/2");
    EXPECT_EQ(update.view().colour, StatusColour::Yellow);
    EXPECT_EQ(port.Remaining(update.exchange().SilenceTrigger()), wait);
    port.Tick(wait);
    EXPECT_EQ(update.state(), State::Failed);
    EXPECT_EQ(update.view().status, "Received data time out error");
    EXPECT_EQ(update.view().colour, StatusColour::Red);
  }
  EXPECT_EQ(memory.eraseExtension, kEraseExtensionMax);
}

TEST_F(FlashUpdateTest, EachFailureEndsTheRunWithItsText) {
  struct Case {
    const char* name;
    int stage;         // the stage whose answer is bad
    Bytes answer;      // empty: none
    const char* text;
  };
  Bytes badSum = Reply(kLoaderReadOptions, {0xE5, 0xC7});
  badSum.back() ^= 0x01;
  const std::vector<Case> cases = {
      {"option read unanswered", kStageOptions, {}, "Received data time out error"},
      {"bad sum byte", kStageOptions, badSum, "Rx checksum error"},
      {"other option bytes", kStageOptions, Reply(kLoaderReadOptions, {0xE5, 0xC6}), "Option byte incorrect"},
      {"erase status 10", kStageErase, Reply(kLoaderErase, {0x10}), "Erase sector fail"},
      {"command 7 unanswered", kStageCommand7, {}, "Received data time out error"},
      {"write status 20", kStageFirstRecord + 1, Reply(kLoaderWrite, {0x20}), "Write data fail"},
      {"write unanswered", kStageFirstRecord, {}, "Received data time out error"},
      {"verify status FF", kStageFirstRecord + 2, Reply(kLoaderVerify, {0xFF}), "Memory checksum fail"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(update.Start(Image(FirmwareModel::Kx2, 2), 1));
    RunLoader(Feed::Whole, c.stage);
    ASSERT_EQ(update.stage(), c.stage);
    const int shown = update.view().progress;
    if (c.answer.empty())
      port.RunTimers();
    else
      port.Feed(c.answer);
    EXPECT_EQ(update.state(), State::Failed);
    EXPECT_EQ(update.view().status, c.text);
    EXPECT_EQ(update.view().colour, StatusColour::Red);
    EXPECT_EQ(update.view().progress, shown);  // the bar stays where the update failed
    EXPECT_FALSE(update.Busy());
    EXPECT_FALSE(port.IsOpen());
    EXPECT_EQ(session.lineOwner, LineOwner::Free);
    EXPECT_FALSE(update.NoticePending());
  }
  // A verify status other than FF is success.
  ASSERT_TRUE(update.Start(Image(FirmwareModel::Kx2, 2), 1));
  RunLoader(Feed::Whole, kStageFirstRecord + 2);
  port.Feed(Reply(kLoaderVerify, {0x7E}));
  EXPECT_EQ(update.state(), State::Done);
}

TEST_F(FlashUpdateTest, Kx3WhoseEchoDiffersFails) {
  ASSERT_TRUE(update.Start(Image(FirmwareModel::Kx3, 2), 1));
  port.Feed(":0186020077\r\n");
  EXPECT_EQ(update.state(), State::Failed);
  EXPECT_EQ(update.view().status, "Enable flash function fail");
  EXPECT_EQ(update.view().progress, 0);
}

TEST_F(FlashUpdateTest, PortThatDoesNotOpenLeavesTheLineFree) {
  port.failNextOpen = "no such device";
  EXPECT_FALSE(update.Start(Image(FirmwareModel::Kx2, 2), 1));
  EXPECT_EQ(update.view().status, "COM Port 3 not exist !");
  EXPECT_TRUE(update.view().portMissing);
  EXPECT_EQ(session.lineOwner, LineOwner::Free);
  EXPECT_FALSE(update.Busy());
  EXPECT_TRUE(port.written.empty());
}

TEST_F(FlashUpdateTest, StoppingMidwayClosesThePortAndFreesTheLine) {
  ASSERT_TRUE(update.Start(Image(FirmwareModel::Kx2, 5), 1));
  RunLoader(Feed::Whole, kStageFirstRecord + 2);
  update.Handle(FlashUpdate::Stop{});
  EXPECT_FALSE(port.IsOpen());
  EXPECT_EQ(session.lineOwner, LineOwner::Free);
  EXPECT_FALSE(update.Busy());
  // A late answer or time-out changes nothing.
  const std::size_t sent = port.written.size();
  port.Feed(Reply(kLoaderWrite, {0x00}));
  port.RunTimers();
  EXPECT_EQ(port.written.size(), sent);
}

TEST_F(FlashUpdateTest, StoppingDuringTheLoaderWaitDropsTheNotice) {
  ASSERT_TRUE(update.Start(Image(FirmwareModel::Kx3, 2), 1));
  port.Tick(kEnableWriteTicks);
  ASSERT_TRUE(update.NoticePending());
  update.Handle(FlashUpdate::Stop{});
  EXPECT_FALSE(update.NoticePending());
  update.Handle(FlashUpdate::NoticeClosed{});
  EXPECT_EQ(port.written.size(), 1u);
  EXPECT_EQ(session.lineOwner, LineOwner::Free);
}

}  // namespace
}  // namespace kx

namespace kx {
namespace {

// Random bytes in random chunks as the loader's answers: the update never
// reads past what it stored, never hangs, and ends as done or failed.
TEST(FlashUpdateRandomAnswers, EndsWithinItsTimeOutsWhateverComes) {
  std::mt19937 random(1210);
  for (int round = 0; round < 300; ++round) {
    Session session;
    session.params.port = 1;
    FakePort port;
    FlashUpdateMemory memory;
    FlashUpdate update(session, port, memory);
    port.SetOnTrigger([&](ComPort&, const PortEvent& e) { update.Handle(e); });
    FirmwareImage image;
    image.model = round % 2 == 0 ? FirmwareModel::Kx2 : FirmwareModel::Kx3;
    image.records.assign(3, Bytes{1, 0, 0, 0x55, 0xAA});
    ASSERT_TRUE(update.Start(image, 1));
    for (int step = 0; step < 200 && update.Busy(); ++step) {
      if (update.state() == FlashUpdate::State::LoaderWait) {
        update.TakeNotice();
        update.Handle(FlashUpdate::NoticeClosed{});
        continue;
      }
      Bytes chunk(random() % 9);
      for (auto& b : chunk) b = static_cast<std::uint8_t>(random() % 4 == 0 ? 0x01 : random());
      if (random() % 3 == 0 && chunk.size() > 1) chunk[1] = static_cast<std::uint8_t>(port.written.back().at(1));
      if (chunk.empty())
        port.Tick(200);
      else
        port.Feed(chunk);
    }
    // Silence from here on: every step ends by its time-out.
    for (int i = 0; i < 10 && update.Busy(); ++i) {
      if (update.TakeNotice()) update.Handle(FlashUpdate::NoticeClosed{});
      port.RunTimers(5000);
    }
    EXPECT_FALSE(update.Busy());
    EXPECT_FALSE(port.IsOpen());
    EXPECT_EQ(session.lineOwner, LineOwner::Free);
  }
}

}  // namespace
}  // namespace kx
