// Replay: the play state machine, 20 ms ticks, the end of a file, the error
// marker, windows of 4096 records and jumps from LoopCnt and the track bar.
#include "core/recorder/replay.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "fake_timer.h"
#include "recording_surface.h"

namespace kx::recorder {
namespace {

namespace fs = std::filesystem;

struct Observer : ReplayObserver {
  void ControlsChanged(const ReplayControls& c) override { controls = c; }
  void LoopCntText(std::string_view t) override { loopCnt = t; }
  void TrackBarPosition(long p) override { trackBar = p; }
  void RecordTime(std::string_view t) override { time = t; }
  void ReplayEnded(bool failed) override {
    ++ended;
    readFailed = failed;
  }
  ReplayControls controls;
  std::string loopCnt;
  std::string time;  // shown in ErrMess
  long trackBar = -1;
  int ended = 0;
  bool readFailed = false;
};

class ReplayTest : public ::testing::Test {
 protected:
  ReplayTest() : chart(slots), engine(slots, chart, timer) {
    chart.SetGeometry(ChartGeometry::ForWidth(808));
    chart.SetSurface(&surface);
    engine.SetObserver(&observer);
    path = (fs::temp_directory_path() /
            ("kx_replay_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + ".rec"))
               .string();
  }
  ~ReplayTest() override { fs::remove(path); }

  // n records; slot 1 (address 1) holds 200 + k % 50, slot 3 (address 3)
  // holds 100 until `markerFrom`, the error marker from there on.
  void Load(long n, long markerFrom = -1) {
    RecordHeader header;
    header.addresses[0] = 1;
    header.addresses[2] = 3;
    header.sampleTime = 0;
    RecordWriter writer;
    ASSERT_TRUE(writer.Create(path, header));
    for (long k = 0; k < n; ++k) {
      Record r;
      r.values[0] = 200 + static_cast<int>(k % 50);
      r.values[2] = markerFrom >= 0 && k >= markerFrom ? kErrorMarker : 100;
      r.time = {1, static_cast<std::uint8_t>(k / 60 % 60), static_cast<std::uint8_t>(k % 60), 0};
      ASSERT_TRUE(writer.Append(EncodeRecord(r)));
    }
    writer.Close();
    RecordFile file;
    ASSERT_TRUE(file.Open(path));
    engine.Load(std::move(file));
  }
  void Ticks(int n) {
    for (int i = 0; i < n && timer.running; ++i) engine.Handle(replay_event::Tick{});
  }

  Slots slots{};
  RecordingSurface surface;
  Chart chart;
  FakeTimer timer;
  Observer observer;
  ReplayEngine engine;
  std::string path;
};

TEST_F(ReplayTest, PlayPauseStopControlsAndTicks) {
  Load(10);
  EXPECT_EQ(slots[0].address, 1);
  EXPECT_EQ(slots[2].boxAddress, 3);
  EXPECT_EQ(observer.loopCnt, " 00000000");
  EXPECT_FALSE(chart.drawFlag());

  engine.Handle(replay_event::Play{});
  EXPECT_EQ(engine.state(), ReplayEngine::State::Playing);
  EXPECT_EQ(observer.controls, (ReplayControls{false, false, false, false, true, true}));
  EXPECT_TRUE(timer.running);
  EXPECT_EQ(timer.interval, 20);
  Ticks(3);
  EXPECT_EQ(engine.position(), 3);
  EXPECT_EQ(observer.loopCnt, " 0000003");
  EXPECT_EQ(observer.trackBar, 3);
  EXPECT_EQ(surface.valueBoxes[0], "20.2");
  EXPECT_EQ(observer.time, "1:0:2");  // record 2's time, no leading zeros

  engine.Handle(replay_event::Pause{});
  EXPECT_FALSE(timer.running);
  EXPECT_TRUE(engine.replaying());
  EXPECT_EQ(observer.controls, (ReplayControls{true, false, true, true, false, true}));

  engine.Handle(replay_event::Play{});
  Ticks(2);
  EXPECT_EQ(engine.position(), 5);

  engine.Handle(replay_event::Stop{});
  EXPECT_EQ(engine.state(), ReplayEngine::State::Stopped);
  EXPECT_FALSE(engine.replaying());
  EXPECT_FALSE(timer.running);
  EXPECT_EQ(engine.position(), 0);
  EXPECT_EQ(observer.loopCnt, " 00000000");
  EXPECT_EQ(observer.trackBar, 0);
  EXPECT_EQ(observer.controls, ReplayControls{});
}

TEST_F(ReplayTest, LastRecordEndsReplayKeepingTheEndPositionShown) {
  Load(4);
  engine.Handle(replay_event::Play{});
  Ticks(100);
  EXPECT_EQ(observer.ended, 1);
  EXPECT_FALSE(observer.readFailed);
  EXPECT_FALSE(timer.running);
  EXPECT_EQ(engine.state(), ReplayEngine::State::Stopped);
  EXPECT_EQ(engine.position(), 0);
  EXPECT_EQ(observer.loopCnt, " 0000004");
  EXPECT_EQ(observer.trackBar, 4);
  EXPECT_FALSE(chart.drawFlag());
  EXPECT_EQ(observer.controls, ReplayControls{});
}

TEST_F(ReplayTest, HeaderOnlyFileEndsAtFirstTickWithoutDrawing) {
  Load(0);
  engine.Handle(replay_event::Play{});
  ASSERT_TRUE(timer.running);
  const int fills = surface.fills;
  Ticks(1);
  EXPECT_EQ(observer.ended, 1);
  EXPECT_FALSE(observer.readFailed);
  EXPECT_EQ(surface.fills, fills);
}

TEST_F(ReplayTest, ErrorMarkerEndsTraceUntilNextPlay) {
  Load(60, 40);
  engine.Handle(replay_event::Play{});
  Ticks(40);
  EXPECT_EQ(surface.valueBoxes[2], "10.0");
  EXPECT_EQ(slots[2].address, 3);
  Ticks(1);
  EXPECT_EQ(surface.valueBoxes[2], "Err");
  EXPECT_EQ(slots[2].address, 0);
  EXPECT_EQ(slots[2].dropPoint, 40);
  Ticks(100);
  EXPECT_EQ(observer.ended, 1);
  EXPECT_EQ(slots[2].address, 3);
  EXPECT_EQ(slots[2].dropPoint, -1);
}

TEST_F(ReplayTest, WindowsOf4096AndJumpsOutsideReload) {
  Load(5000);
  EXPECT_EQ(engine.file().count(), 5000u);
  EXPECT_EQ(engine.file().WindowEnd(), 4096u);
  // Jump to 4095 by Enter: within the first window.
  engine.Handle(replay_event::LoopCntKey{true, " 0004095"});
  EXPECT_EQ(engine.position(), 4095);
  EXPECT_EQ(engine.file().windowStart(), 0u);
  engine.Handle(replay_event::Play{});
  Ticks(1);
  EXPECT_EQ(engine.file().windowStart(), 0u);
  Ticks(1);  // record 4096 lies past the window: reloaded there
  EXPECT_EQ(engine.file().windowStart(), 4096u);
  EXPECT_EQ(engine.position(), 4097);
  engine.Handle(replay_event::Pause{});
  engine.Handle(replay_event::LoopCntKey{true, "100"});
  EXPECT_EQ(engine.file().windowStart(), 0u);
  EXPECT_EQ(engine.position(), 100);
}

TEST_F(ReplayTest, TypedPositionWaitsTwoSecondsThenShowsRecordsBefore) {
  Load(300);
  engine.Handle(replay_event::Play{});
  Ticks(5);
  engine.Handle(replay_event::Pause{});
  engine.Handle(replay_event::LoopCntKey{false, "12"});
  EXPECT_TRUE(engine.jumpPending());
  EXPECT_EQ(timer.interval, 2000);
  const int starts = timer.starts;
  engine.Handle(replay_event::LoopCntKey{false, "123"});  // each key restarts the wait
  EXPECT_EQ(timer.starts, starts + 1);
  Ticks(1);
  EXPECT_FALSE(engine.jumpPending());
  EXPECT_FALSE(timer.running);
  EXPECT_EQ(engine.position(), 123);
  EXPECT_EQ(observer.loopCnt, " 0000123");
  EXPECT_EQ(surface.Traces().size(), 2u * 123u);  // samples 0..122 of two slots
  EXPECT_EQ(surface.valueBoxes[0], TenthsText(200 + 122 % 50));
  EXPECT_EQ(observer.time, "1:2:2");  // the last record the jump drew, 122
  engine.Handle(replay_event::Play{});
  Ticks(1);
  EXPECT_EQ(surface.valueBoxes[0], TenthsText(200 + 123 % 50));
  EXPECT_EQ(observer.time, "1:2:3");
  EXPECT_EQ(engine.position(), 124);
}

TEST_F(ReplayTest, JumpsThatGoNowhere) {
  Load(50);
  engine.Handle(replay_event::LoopCntKey{true, "20"});
  ASSERT_EQ(engine.position(), 20);
  const int fills = surface.fills;
  // Larger than the record count: position 0, nothing redrawn.
  engine.Handle(replay_event::LoopCntKey{true, "51"});
  EXPECT_EQ(engine.position(), 0);
  EXPECT_EQ(observer.loopCnt, " 0000000");
  EXPECT_EQ(surface.fills, fills);
  // Not a whole number: ignored.
  engine.Handle(replay_event::LoopCntKey{true, "20"});
  engine.Handle(replay_event::LoopCntKey{true, "2x"});
  EXPECT_EQ(engine.position(), 20);
  // No jumps while playing.
  engine.Handle(replay_event::Play{});
  engine.Handle(replay_event::LoopCntKey{true, "5"});
  engine.Handle(replay_event::TrackBarMoved{5});
  EXPECT_FALSE(engine.jumpPending());
  EXPECT_EQ(engine.position(), 20);
}

TEST_F(ReplayTest, TrackBarSchedulesAJumpThatPlayApplies) {
  Load(200);
  engine.Handle(replay_event::TrackBarMoved{150});
  EXPECT_EQ(observer.loopCnt, " 0000150");
  EXPECT_TRUE(engine.jumpPending());
  EXPECT_EQ(timer.interval, 1000);
  // Play before the delay ran out starts from the chosen position.
  engine.Handle(replay_event::Play{});
  EXPECT_FALSE(engine.jumpPending());
  EXPECT_EQ(timer.interval, 20);
  Ticks(1);
  EXPECT_EQ(engine.position(), 151);
  // Stop drops a jump scheduled while paused.
  engine.Handle(replay_event::Pause{});
  engine.Handle(replay_event::TrackBarMoved{10});
  engine.Handle(replay_event::Stop{});
  EXPECT_FALSE(engine.jumpPending());
  engine.Handle(replay_event::TrackBarMoved{30});
  Ticks(1);
  EXPECT_EQ(engine.position(), 30);
}

TEST_F(ReplayTest, FileGoneMidReplayEndsWithReadFailure) {
  Load(5000);
  engine.Handle(replay_event::LoopCntKey{true, "4090"});
  fs::remove(path);
  engine.Handle(replay_event::Play{});
  Ticks(20);
  EXPECT_EQ(observer.ended, 1);
  EXPECT_TRUE(observer.readFailed);
  EXPECT_FALSE(timer.running);
}

}  // namespace
}  // namespace kx::recorder
