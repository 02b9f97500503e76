// The recorder's decisions without its window, against kxsim's controllers on
// the simulated bus: which file a run goes to and when it is replaced, save
// mode, the record file that cannot be written, replay opening, what the CSV
// export reads, which controls are usable, and where ticks and toggles go.
#include "core/recorder/recorder_model.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "fake_timer.h"
#include "recording_surface.h"
#include "support/fake_port.h"
#include "support/file_size_limit.h"
#include "support/kxsim_process.h"
#include "support/sim_bus.h"

namespace kx::recorder {
namespace {

namespace fs = std::filesystem;

struct Observer : RecorderObserver {
  void LookChanged(const RecorderLook& l) override { look = l; }
  void StatusText(std::string_view t) override { status = t; }
  void CounterText(std::string_view t) override { counter = t; }
  void Tell(const RecorderNotice& n) override { notices.push_back(n); }
  void ReplayLoaded() override { ++loaded; }
  RecorderLook look;
  std::string status = "No error";
  std::string counter;
  std::vector<RecorderNotice> notices;
  int loaded = 0;
};

class RecorderModelTest : public ::testing::Test {
 protected:
  RecorderModelTest() {
    session.params = PortParams{3, 9600, 7, 1, 1, false};
    bus.Add("kx2@1:9600-7E1-ascii");
    bus.Controller(1).HoldProcess(true);
    bus.Controller(1).SetRegister(0x4700, 250);
    port.SetOnTrigger([this](ComPort&, const PortEvent& e) { model.PortEvent(e); });
    model.chartModel().SetGeometry(ChartGeometry::ForWidth(808));
    model.chartModel().SetSurface(&surface);
    model.SetObserver(&observer);
    model.SetBoxAddress(0, 1);
    RecorderQuestions& q = model.questions();
    q.saveRecordPath = [this] { return savePath; };
    q.openRecordPath = [this] { return openPath; };
    q.saveCsvPath = [this] { return csvPath; };
    q.confirm = [this](const std::string& question) {
      questions.push_back(question);
      return confirmAnswer;
    };
  }

  // Lets the outstanding cycle's answers come in.
  void Answered() {
    ASSERT_TRUE(bus.RunUntil([&] { return model.acquirer().state() != Acquisition::State::Awaiting; }, 100));
  }
  // A run of `cycles` completed cycles, then Stop.
  void Run(int cycles) {
    model.StartClicked(1);
    ASSERT_TRUE(model.acquirer().Acquiring());
    for (int k = 0; k < cycles; ++k) {
      if (k > 0) model.Tick();
      Answered();
    }
    model.StartClicked(1);
    ASSERT_FALSE(model.acquirer().Acquiring());
  }
  static std::size_t Lines(const std::string& path) {
    std::ifstream in(path);
    std::size_t n = 0;
    for (std::string line; std::getline(in, line);) ++n;
    return n;
  }
  static std::uint64_t Records(const std::string& path) {
    RecordFile file;
    return file.Open(path) ? file.count() : 0;
  }

  test::ScratchDir dir;
  Session session;
  test::FakePort port;
  test::SimBus bus{port};
  FakeTimer timer;
  RecordingSurface surface;
  RecorderModel model{session, port, timer, [] { return SampleTime{8, 9, 10, 0}; }};
  Observer observer;
  std::string savePath = dir / "run.rec";
  std::string openPath;
  std::string csvPath = dir / "out.csv";
  std::vector<std::string> questions;
  bool confirmAnswer = true;
};

// Save mode: a new file is taken without a question and the run goes into it;
// the next Start of the same save mode asks before replacing it (Cancel ends
// save mode, nothing starts; OK starts a new run in it). An existing file is
// asked about when it is chosen.
TEST_F(RecorderModelTest, SaveModeFileIsAskedAboutBeforeItIsReplaced) {
  model.SaveClicked(true);
  EXPECT_TRUE(model.saveMode());
  EXPECT_TRUE(observer.look.saveChecked);
  EXPECT_TRUE(questions.empty());
  EXPECT_EQ(session.lastFileName, "run.rec");
  Run(3);
  EXPECT_EQ(model.runPath(), savePath);
  EXPECT_EQ(Records(savePath), 3u);

  confirmAnswer = false;
  model.StartClicked(1);
  EXPECT_EQ(questions, std::vector<std::string>{"Over write file : run.rec"});
  EXPECT_FALSE(model.acquirer().Acquiring());
  EXPECT_FALSE(port.IsOpen());
  EXPECT_FALSE(model.saveMode());
  EXPECT_FALSE(observer.look.saveChecked);
  EXPECT_EQ(Records(savePath), 3u);

  // Chosen again: it exists now, so the choice asks; OK, and a run replaces it.
  confirmAnswer = true;
  model.SaveClicked(true);
  EXPECT_EQ(questions.size(), 2u);
  EXPECT_TRUE(model.saveMode());
  Run(1);
  EXPECT_EQ(questions.size(), 2u);  // the first run of this save mode does not ask
  EXPECT_EQ(Records(savePath), 1u);

  // A second click ends save mode; a cancelled choice or a refused replacement leaves it off.
  model.SaveClicked(false);
  EXPECT_FALSE(model.saveMode());
  confirmAnswer = false;
  model.SaveClicked(true);
  EXPECT_FALSE(model.saveMode());
  savePath.clear();
  model.SaveClicked(true);
  EXPECT_FALSE(model.saveMode());
  EXPECT_FALSE(observer.look.saveChecked);
}

// Without save mode a run goes to the scratch file, which the export reads;
// the replayed file is exported instead while replaying.
TEST_F(RecorderModelTest, ExportReadsTheReplayedFileOrTheLastRun) {
  model.ExportClicked();
  ASSERT_EQ(observer.notices.size(), 1u);
  EXPECT_EQ(observer.notices[0].text, "No recording data to export");
  EXPECT_FALSE(observer.notices[0].afterEvent);

  Run(2);
  EXPECT_EQ(model.runPath(), model.scratchPath());
  model.ExportClicked();
  EXPECT_EQ(observer.notices.back().text, "CSV export done : out.csv");
  EXPECT_EQ(Lines(csvPath), 3u);  // heading and two rows

  RecordHeader header;
  header.addresses = {5, 6};
  {
    RecordWriter writer;
    ASSERT_TRUE(writer.Create(dir / "other.rec", header));
  }
  openPath = dir / "other.rec";
  model.ReplayClicked(true);
  ASSERT_TRUE(model.inReplay());
  model.ExportClicked();
  EXPECT_EQ(Lines(csvPath), 1u);  // the replayed file: a heading only
}

// A record file that cannot be written: the user's file ends the run and save
// mode, told once the event has returned; the scratch file is given up
// quietly, sampling goes on and nothing is left to export.
TEST_F(RecorderModelTest, RecordFileThatCannotBeWritten) {
  struct Case {
    const char* name;
    bool saving;
  };
  for (const Case c : {Case{"save mode", true}, Case{"scratch", false}}) {
    SCOPED_TRACE(c.name);
    observer.notices.clear();
    if (c.saving) model.SaveClicked(true);
    model.StartClicked(1);
    {
      const test::FileSizeLimit full(12 + 10);
      ASSERT_TRUE(full.ok());
      Answered();
    }
    EXPECT_EQ(observer.status.rfind("Record file error : ", 0), 0u) << observer.status;
    EXPECT_FALSE(model.saveMode());
    if (c.saving) {
      EXPECT_FALSE(model.acquirer().Acquiring());
      EXPECT_FALSE(observer.look.acquiring);
      ASSERT_EQ(observer.notices.size(), 1u);
      EXPECT_EQ(observer.notices[0].text, observer.status);
      EXPECT_TRUE(observer.notices[0].afterEvent);
      EXPECT_EQ(model.runPath(), savePath);
    } else {
      EXPECT_TRUE(model.acquirer().Acquiring());
      EXPECT_TRUE(observer.notices.empty());
      EXPECT_TRUE(model.runPath().empty());
      EXPECT_FALSE(fs::exists(model.scratchPath()));
      model.StartClicked(1);
    }
  }
  // Save mode's file cannot even be created: told at once, nothing starts.
  savePath = dir / "gone/run.rec";
  model.SaveClicked(true);
  ASSERT_TRUE(model.saveMode());
  observer.notices.clear();
  model.StartClicked(1);
  EXPECT_FALSE(model.acquirer().Acquiring());
  EXPECT_FALSE(model.saveMode());
  ASSERT_EQ(observer.notices.size(), 1u);
  EXPECT_FALSE(observer.notices[0].afterEvent);
  EXPECT_EQ(observer.notices[0].text, observer.status);
  EXPECT_NE(observer.status.find("No such file or directory"), std::string::npos) << observer.status;
}

// Which controls are usable: nothing while recording but Stop; in replay no
// save and no sampling time; the scale fields only with a fixed scale.
TEST_F(RecorderModelTest, LookFollowsRecordingReplayAndScale) {
  RecorderLook idle;
  EXPECT_EQ(model.Look(), idle);
  model.SetFixedScale(true);
  EXPECT_TRUE(observer.look.scaleEnabled);

  model.StartClicked(1);
  RecorderLook recording{.acquiring = true, .saveEnabled = false, .replayEnabled = false,
                         .sampleTimeEnabled = false, .addressesEnabled = false, .displayModeEnabled = false,
                         .scaleEnabled = false};
  EXPECT_EQ(observer.look, recording);
  EXPECT_EQ(observer.counter, kCounterResetText);
  Answered();
  EXPECT_EQ(observer.counter, " 0000001");
  model.StartClicked(1);
  idle.scaleEnabled = true;
  EXPECT_EQ(observer.look, idle);

  openPath = model.scratchPath();
  model.ReplayClicked(true);
  RecorderLook replaying{.saveEnabled = false, .inReplay = true, .sampleTimeEnabled = false, .scaleEnabled = true};
  EXPECT_EQ(observer.look, replaying);
  model.Replay(replay_event::Play{});
  EXPECT_FALSE(observer.look.replayEnabled);  // RePlayBt waits for Pause or Stop
  model.Replay(replay_event::Stop{});
  model.ReplayClicked(false);
  EXPECT_EQ(observer.look, idle);
}

// Opening a file for replay: a cancelled choice or a file that cannot be read
// leaves replay (the latter with the File Error box, at once); a good file
// gives its slots, ends save mode, and the timer's ticks play it.
TEST_F(RecorderModelTest, ReplayOpensTheChosenFile) {
  model.ReplayClicked(true);
  EXPECT_FALSE(model.inReplay());
  EXPECT_TRUE(observer.notices.empty());

  openPath = dir / "missing.rec";
  model.ReplayClicked(true);
  EXPECT_FALSE(model.inReplay());
  ASSERT_EQ(observer.notices.size(), 1u);
  EXPECT_EQ(observer.notices[0],
            (RecorderNotice{"Can't perform one of the following file operations: Open, Seek, Read\n"
                            "No such file or directory",
                            "File Error", true, false}));

  Run(3);
  model.SaveClicked(true);
  ASSERT_TRUE(model.saveMode());
  model.SetBoxAddress(0, 0);
  openPath = model.scratchPath();
  observer.status = "DEVICE  1Received data time out error";
  model.ReplayClicked(true);
  EXPECT_TRUE(model.inReplay());
  EXPECT_FALSE(model.saveMode());
  EXPECT_EQ(observer.status, "");  // failures of the run do not belong to the file
  EXPECT_EQ(observer.loaded, 1);
  EXPECT_EQ(model.slotTable()[0].boxAddress, 1);
  EXPECT_EQ(session.lastFileName, fs::path(openPath).filename().string());

  model.Replay(replay_event::LoopCntKey{true, "2"});  // typed positions count in replay
  EXPECT_EQ(model.replayer().position(), 2);
  model.Replay(replay_event::Play{});
  model.Tick();  // the timer plays the last record
  EXPECT_EQ(observer.counter, " 0000003");
  EXPECT_EQ(observer.status, "8:9:10");  // the replayed record's time
  model.Replay(replay_event::Stop{});
  model.ReplayClicked(false);
  model.Replay(replay_event::LoopCntKey{true, "1"});
  EXPECT_EQ(model.replayer().position(), 0);
}

// A slot's trace is toggled only while it has an address and was not dropped.
TEST_F(RecorderModelTest, TraceTogglesOnlyForAnAddressedSlot) {
  EXPECT_FALSE(model.ToggleTrace(3));
  EXPECT_TRUE(model.ToggleTrace(0));
  EXPECT_FALSE(model.slotTable()[0].display);
  EXPECT_TRUE(model.ToggleTrace(0));

  model.SetBoxAddress(1, 2);  // nobody answers at 2: dropped after three time-outs
  model.StartClicked(1);
  Answered();
  for (int k = 0; k < 2; ++k) {
    model.Tick();
    Answered();
  }
  ASSERT_NE(model.slotTable()[1].dropPoint, -1);
  EXPECT_FALSE(model.ToggleTrace(1));
  EXPECT_TRUE(model.slotTable()[1].display);
  EXPECT_TRUE(model.ToggleTrace(0));
}

// A line lost while recording stops the run and is told after the event.
TEST_F(RecorderModelTest, LostLineStopsTheRunAndIsTold) {
  model.StartClicked(1);
  Answered();
  model.LineLost("device gone");
  EXPECT_FALSE(model.acquirer().Acquiring());
  EXPECT_FALSE(observer.look.acquiring);
  EXPECT_EQ(observer.status, "device gone");
  ASSERT_EQ(observer.notices.size(), 1u);
  EXPECT_TRUE(observer.notices[0].afterEvent);
  EXPECT_EQ(Records(model.scratchPath()), 1u);
}

}  // namespace
}  // namespace kx::recorder
