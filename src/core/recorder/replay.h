// Replay of a record file on the recorder's chart: Play, Pause and Stop, one
// record per 20 ms tick, and jumps to a position typed in LoopCnt or chosen
// with the track bar, applied after a short delay (or at once on Enter). The
// file is read in windows of 4096 records as the position moves.
#pragma once

#include <string>
#include <string_view>
#include <variant>

#include "core/recorder/chart.h"
#include "core/recorder/record_file.h"
#include "core/recorder/recorder_types.h"

namespace kx::recorder {

inline constexpr int kReplayTickMs = 20;
inline constexpr int kTrackBarJumpDelayMs = 1000;
inline constexpr int kTypedJumpDelayMs = 2000;

// Enabled state of the replay controls.
struct ReplayControls {
  bool trackBar = true;
  bool rePlayBt = true;
  bool loopCnt = true;
  bool play = true;
  bool pause = false;
  bool stop = false;
  friend bool operator==(const ReplayControls&, const ReplayControls&) = default;
};

class ReplayObserver {
 public:
  virtual ~ReplayObserver() = default;
  virtual void ControlsChanged(const ReplayControls& /*controls*/) {}
  virtual void LoopCntText(std::string_view /*text*/) {}
  virtual void TrackBarPosition(long /*position*/) {}
  // Time of the record just played, or of the last one a jump drew
  // (ClockText: hour, minute and second without leading zeros).
  virtual void RecordTime(std::string_view /*text*/) {}
  // The last record was played, or the file could no longer be read.
  virtual void ReplayEnded(bool /*readFailed*/) {}
};

namespace replay_event {
struct Play {};
struct Pause {};
struct Stop {};
struct Tick {};                                    // the window timer
struct TrackBarMoved { long position; };           // the user moved the track bar
struct LoopCntKey { bool enter; std::string text; };  // a key released in LoopCnt
struct Redraw {};                                  // a slot was toggled while replaying
}  // namespace replay_event

using ReplayEvent = std::variant<replay_event::Play, replay_event::Pause, replay_event::Stop,
                                 replay_event::Tick, replay_event::TrackBarMoved,
                                 replay_event::LoopCntKey, replay_event::Redraw>;

class ReplayEngine {
 public:
  enum class State { Stopped, Playing, Paused };

  ReplayEngine(Slots& slots, Chart& chart, RecorderTimer& timer);

  void SetObserver(ReplayObserver* observer) { observer_ = observer; }

  // Takes a file opened with RecordFile::Open: the slots take the header's
  // addresses, all shown, none dropped; position 0; the chart is cleared and
  // its draw flag cleared. The play state stays as it was.
  void Load(RecordFile file);

  void Handle(const ReplayEvent& event);

  State state() const { return state_; }
  bool replaying() const { return replaying_; }
  bool jumpPending() const { return jumpPending_; }
  long position() const { return position_; }
  const RecordFile& file() const { return file_; }
  const ReplayControls& controls() const { return controls_; }

 private:
  void OnPlay();
  void OnPause();
  void OnStop();
  void OnTick();
  void OnTrackBar(long position);
  void OnLoopCntKey(bool enter, const std::string& text);
  void OnRedraw();
  void PlayNext();
  void End(bool readFailed);
  void ApplyJump();
  void ShowPosition(long position);
  void ShowReset();
  void SetControls(const ReplayControls& controls);

  Slots& slots_;
  Chart& chart_;
  RecorderTimer& timer_;
  ReplayObserver* observer_ = nullptr;
  RecordFile file_;
  State state_ = State::Stopped;
  bool replaying_ = false;
  bool jumpPending_ = false;
  long position_ = 0;
  std::string loopText_ = kCounterResetText;
  ReplayControls controls_;
};

}  // namespace kx::recorder
