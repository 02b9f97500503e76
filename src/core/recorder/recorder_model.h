// The recorder's decisions, apart from its window: which file a run goes to
// (the file chosen in save mode, asked before it is replaced; otherwise a
// scratch file kept for the CSV export), when that file is started and closed,
// what a record file that cannot be written ends, opening a file for replay,
// what the CSV export reads, which controls are usable (Look), and where the
// one timer's ticks and the trace toggles go. The window binds its controls to
// this model and shows what it says; questions and file choices come through
// RecorderQuestions, so the model runs without widgets.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "core/line/comport.h"
#include "core/line/session.h"
#include "core/recorder/acquisition.h"
#include "core/recorder/chart.h"
#include "core/recorder/record_file.h"
#include "core/recorder/replay.h"

namespace kx::recorder {

// What the controls show of the model's state.
struct RecorderLook {
  bool acquiring = false;          // StartBt says Stop, BackGndP red; otherwise START and green
  bool saveChecked = false;        // SaveBt: save mode is on
  bool saveEnabled = true;
  bool inReplay = false;           // RePlayBt checked, PlayPL shown, BackGndP hidden
  bool replayEnabled = true;       // RePlayBt
  bool sampleTimeEnabled = true;   // SampleTime
  bool addressesEnabled = true;    // ComAddrPL
  bool displayModeEnabled = true;  // DisplayMd
  bool scaleEnabled = false;       // MaxScale, MinScale: a fixed scale, not while recording
  friend bool operator==(const RecorderLook&, const RecorderLook&) = default;
};

// A message for the user in a box (caption empty: the application's).
struct RecorderNotice {
  std::string text;
  std::string caption;
  bool okCancel = false;
  // Raised from inside an engine's event (a port event, a timer tick): shown
  // once that event has returned, never from inside it.
  bool afterEvent = false;
  friend bool operator==(const RecorderNotice&, const RecorderNotice&) = default;
};

// File choices and questions (an empty path: cancelled).
struct RecorderQuestions {
  std::function<std::string()> saveRecordPath;
  std::function<std::string()> openRecordPath;
  std::function<std::string()> saveCsvPath;
  std::function<bool(const std::string& question)> confirm;  // OK (true) or Cancel
};

class RecorderObserver {
 public:
  virtual ~RecorderObserver() = default;
  virtual void LookChanged(const RecorderLook& /*look*/) {}
  // A run started: the boxes take their slots' colours.
  virtual void RunStarted() {}
  // The status line ErrMess (failures, file errors, a replayed record's time).
  virtual void StatusText(std::string_view /*text*/) {}
  virtual void SlotDropped(int /*slot*/) {}
  // LoopCnt's text: the cycles recorded, or the replay position.
  virtual void CounterText(std::string_view /*text*/) {}
  virtual void Tell(const RecorderNotice& /*notice*/) {}
  // A file was loaded for replay (File() holds it).
  virtual void ReplayLoaded() {}
  virtual void ReplayControlsChanged(const ReplayControls& /*controls*/) {}
  virtual void TrackBarPosition(long /*position*/) {}
};

class RecorderModel : private AcquisitionObserver, private ReplayObserver {
 public:
  using Clock = Acquisition::Clock;

  // `clock` stamps each completed cycle; the chart draws on the surface given
  // to chartModel().SetSurface.
  RecorderModel(Session& session, ComPort& port, RecorderTimer& timer, Clock clock);
  ~RecorderModel() override;
  RecorderModel(const RecorderModel&) = delete;
  RecorderModel& operator=(const RecorderModel&) = delete;

  void SetObserver(RecorderObserver* observer) { observer_ = observer; }
  RecorderQuestions& questions() { return questions_; }

  // ---- Recording ----
  // StartBt: stops a run; otherwise starts one into the run file (nothing
  // when no slot is addressed, or when save mode's file may not or cannot be
  // created).
  void StartClicked(int sampleTime);
  // SaveBt clicked, now `checked`: turns save mode on with a chosen file
  // (asked before an existing file is replaced), or off.
  void SaveClicked(bool checked);
  void SetBoxAddress(int slot, int address);
  // The one timer: a sampling period while recording, a replay step otherwise.
  void Tick();
  void PortEvent(const kx::PortEvent& event);
  void LineLost(const std::string& text);
  // The window closes: sampling ends, the run file is closed.
  void Close();

  // ---- Replay ----
  // RePlayBt clicked, now `checked`: asks for a file and loads it, or leaves replay.
  void ReplayClicked(bool checked);
  void Replay(const ReplayEvent& event);
  const RecordFile& ReplayFile() const { return replay_->file(); }

  // ---- CSV ----
  // CsvBt: exports the replayed file, or else the current or last run.
  void ExportClicked();

  // ---- Display ----
  // A slot's name clicked: its trace is shown or hidden. False (nothing
  // changed) for a slot without an address or dropped in the run.
  bool ToggleTrace(int slot);
  void SetFixedScale(bool fixed);
  void SetBackground(int index);
  // The chart may follow its box: nothing is recorded or replayed into it.
  bool ChartIdle() const;

  RecorderLook Look() const;
  bool inReplay() const { return inReplay_; }
  bool saveMode() const { return saveMode_; }
  // The file holding the current or last run; empty when none can be exported.
  const std::string& runPath() const { return runPath_; }
  const std::string& scratchPath() const { return scratchPath_; }

  Chart& chartModel() { return *chart_; }
  const Chart& chartModel() const { return *chart_; }
  const Acquisition& acquirer() const { return *acquisition_; }
  const ReplayEngine& replayer() const { return *replay_; }
  const Slots& slotTable() const { return slots_; }
  Slots& slotTable() { return slots_; }

 private:
  bool CreateRunFile(int sampleTime);
  void EndSaveMode();
  void LeaveReplay();
  void FullRedraw();
  void Tell(RecorderNotice notice);
  void ShowLook();

  // AcquisitionObserver
  void Started() override;
  void Stopped(bool automatic) override;
  void StatusText(std::string_view text) override;
  void SlotDropped(int slot) override;
  void CounterChanged(long counter) override;
  void RecordWriteFailed(std::string_view error) override;
  void PortError(std::string_view text) override;
  // ReplayObserver
  void ControlsChanged(const ReplayControls& controls) override;
  void LoopCntText(std::string_view text) override;
  void TrackBarPosition(long position) override;
  void RecordTime(std::string_view text) override;
  void ReplayEnded(bool readFailed) override;

  Session& session_;
  RecorderQuestions questions_;
  RecorderObserver* observer_ = nullptr;
  Slots slots_{};
  std::unique_ptr<Chart> chart_;
  std::unique_ptr<Acquisition> acquisition_;
  std::unique_ptr<ReplayEngine> replay_;
  RecordWriter writer_;

  bool saveMode_ = false;
  bool fileCreated_ = false;  // save mode's file was written by a run: the next Start asks first
  std::string savePath_;
  std::string scratchPath_;   // the run's records when not saving (for the CSV export)
  std::string runPath_;
  bool inReplay_ = false;
};

}  // namespace kx::recorder
