#include "core/traffic/traffic_taps.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "core/exchange/requests.h"
#include "support/fake_port.h"

namespace kx {
namespace {

constexpr LineFormat kRtu{38400, 8, Parity::None, 1, FrameForm::Rtu};
constexpr LineFormat kAscii{9600, 7, Parity::Even, 1, FrameForm::Ascii};

const Bytes kRead = BuildFrame(FrameForm::Rtu, ReadRequestPdu(1, 0x03, 0x4700, 1));
const Bytes kAnswer = BuildFrame(FrameForm::Rtu, Bytes{0x01, 0x03, 0x02, 0x00, 0x64});

// The rows a view keeps follow the log through drops, a clear and a pause:
// each row shows the frame it showed before, or its place is gone.
TEST(TrafficRows, FollowTheKeptFramesThroughDropsClearAndPause) {
  TrafficLog log(4);
  log.SetLine(kRtu);
  TrafficRows rows;
  std::int64_t t = 0;
  auto exchange = [&] {
    log.Sent(kRead, t += 1000);
    log.Received(kAnswer, t += 1000);
  };
  auto follow = [&] {
    const TrafficRows::Change c = rows.Follow(log);
    rows.Apply(log, c);
    return c;
  };
  exchange();
  EXPECT_EQ(follow().append, 2U);
  exchange();
  exchange();  // six frames: the first two dropped
  const TrafficRows::Change c = rows.Follow(log);
  EXPECT_EQ(c.removeFront, 2U);
  EXPECT_EQ(c.append, 4U);
  // Until the view follows, a dropped row's frame is gone, not another one.
  EXPECT_EQ(rows.Frame(log, 0), nullptr);
  rows.Apply(log, c);
  ASSERT_EQ(rows.count(), 4U);
  EXPECT_EQ(rows.Frame(log, 0), &log.Frames().front());
  EXPECT_EQ(rows.Frame(log, 4), nullptr);

  // Paused: the list's front is held, a frame at full capacity is counted, not kept.
  log.HoldFront(true);
  const TrafficFrame* first = rows.Frame(log, 0);
  exchange();
  EXPECT_EQ(log.Added(), 8U);
  EXPECT_EQ(rows.Frame(log, 0), first);
  EXPECT_EQ(rows.Follow(log).append, 0U);
  log.HoldFront(false);

  // Cleared with more frames dropped than shown: the rows start at the log's front.
  log.Clear();
  for (int i = 0; i < 3; ++i) exchange();
  const TrafficRows::Change after = follow();
  EXPECT_EQ(after.removeFront, 4U);
  EXPECT_EQ(after.append, 4U);
  EXPECT_EQ(rows.Frame(log, 0), &log.Frames().front());
  EXPECT_EQ(rows.Frame(log, 3), &log.Frames().back());

  // The rows in the trace form, one a line.
  const std::string text = TraceText(log, rows, 0);
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 4);
  EXPECT_EQ(text.substr(0, text.find('\n')), TraceLine(log.Frames().front(), log.Frames().front().micros));
}

// A request nothing happens to is settled as unanswered after the quiet checks;
// one still receiving is left alone.
TEST(QuietRequestTest, SettlesOnlyAQuietRequest) {
  TrafficLog log;
  log.SetLine(kRtu);
  QuietRequest quiet(3, 3000'000);
  log.Sent(kRead, 1000);
  EXPECT_FALSE(quiet.Check(log));
  EXPECT_FALSE(quiet.Check(log));
  log.Received(std::span(kAnswer).first(2), 5000);  // something came: quiet again from here
  EXPECT_FALSE(quiet.Check(log));
  EXPECT_FALSE(quiet.Check(log));
  EXPECT_FALSE(quiet.Check(log));
  EXPECT_TRUE(quiet.Check(log));
  EXPECT_FALSE(log.PendingSince());
  // An RTU answer ends by silence: what came is judged (two bytes are no frame).
  EXPECT_EQ(log.Frames().back().direction, Direction::Rx);
  EXPECT_EQ(log.Frames().back().bytes.size(), 2U);
  EXPECT_EQ(log.StatsOf(1)->checkErrors, 1U);
  // A request nothing came back for: no answer, stamped the quiet time after it.
  log.Sent(kRead, 100'000);
  for (int i = 0; i < 3; ++i) EXPECT_FALSE(quiet.Check(log));
  EXPECT_TRUE(quiet.Check(log));
  EXPECT_EQ(log.Frames().back().failure, Failure::TimedOut);
  EXPECT_EQ(log.Frames().back().micros, 3'100'000);
  EXPECT_EQ(log.StatsOf(1)->timeouts, 1U);
  EXPECT_FALSE(quiet.Check(log));
}

// The taps feed one log from several ports, each block read in the format its
// port runs with when it is written; a port without a Modbus format is shown
// raw and counted nowhere; detached ports feed nothing.
TEST(TrafficTapsTest, EachPortInItsOwnFormat) {
  test::FakePort main, second;
  ASSERT_TRUE(main.Open());
  ASSERT_TRUE(second.Open());
  std::optional<LineFormat> mainFormat = kRtu;
  TrafficLog log;
  TrafficTaps taps(log, {{[&] { return &main; }, [&] { return mainFormat; }},
                         {[&] { return &second; }, [] { return std::optional<LineFormat>(); }}});
  taps.Attach();
  main.PutBlock(kRead);
  main.Feed(kAnswer);
  mainFormat = kAscii;  // a search tries the next format
  main.PutBlock(BuildFrame(FrameForm::Ascii, ReadRequestPdu(2, 0x03, 0x4700, 1)));
  main.Feed(std::string_view(":020302006495\r\n"));
  second.PutBlock(Bytes{0x55, 0xAA, 0x01});  // a loader command
  second.Feed(Bytes{0x06});
  ASSERT_EQ(log.Frames().size(), 6U);
  EXPECT_EQ(log.Frames()[1].failure, Failure::None);
  EXPECT_EQ(log.Frames()[2].form, FrameForm::Ascii);
  EXPECT_EQ(log.Frames()[2].address, 2);
  EXPECT_EQ(log.Frames()[3].direction, Direction::Rx);
  EXPECT_EQ(log.Frames()[3].failure, Failure::None);
  EXPECT_FALSE(log.Frames()[4].checked);
  EXPECT_FALSE(log.Frames()[5].checked);
  EXPECT_EQ(CheckNote(log.Frames()[5]), "");
  EXPECT_EQ(TraceLine(log.Frames()[5], 0), "00:00:00.000 RX 06");
  ASSERT_EQ(log.Stats().size(), 2U);  // addresses 1 and 2, nothing for the loader

  taps.Detach();
  main.PutBlock(kRead);
  EXPECT_EQ(log.Frames().size(), 6U);
}

}  // namespace
}  // namespace kx
