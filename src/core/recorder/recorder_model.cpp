#include "core/recorder/recorder_model.h"

#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <utility>

#include "core/recorder/csv_export.h"
#include "core/text/messages.h"

namespace kx::recorder {

namespace {

namespace fs = std::filesystem;

// A scratch file of this process in the temporary folder, one per model.
std::string NewScratchPath() {
  static std::atomic<int> serial{0};
  const auto name = "kxrec-" + std::to_string(::getpid()) + "-" + std::to_string(serial++) + ".rec";
  std::error_code ec;
  const auto dir = fs::temp_directory_path(ec);
  return ((ec ? fs::path(".") : dir) / name).string();
}

std::string FileName(const std::string& path) { return fs::path(path).filename().string(); }

bool Exists(const std::string& path) {
  std::error_code ec;
  return fs::exists(path, ec);
}

// A file error as the recorder shows it: the catalogue's text and, on a line
// of its own, the system's reason when known.
RecorderNotice FileErrorNotice(std::string_view reason, bool afterEvent) {
  std::string text(Text(Msg::FileOperationError));
  if (!reason.empty()) text += "\n" + std::string(reason);
  return {std::move(text), std::string(Text(Msg::FileErrorCaption)), true, afterEvent};
}

}  // namespace

RecorderModel::RecorderModel(Session& session, ComPort& port, RecorderTimer& timer, Clock clock)
    : session_(session), scratchPath_(NewScratchPath()) {
  chart_ = std::make_unique<Chart>(slots_);
  acquisition_ = std::make_unique<Acquisition>(port, session_, slots_, *chart_, timer, std::move(clock));
  acquisition_->SetObserver(this);
  replay_ = std::make_unique<ReplayEngine>(slots_, *chart_, timer);
  replay_->SetObserver(this);
  for (Slot& s : slots_) s.display = true;
}

RecorderModel::~RecorderModel() {
  Close();
  std::error_code ec;
  fs::remove(scratchPath_, ec);
}

RecorderLook RecorderModel::Look() const {
  const bool acquiring = acquisition_->Acquiring();
  RecorderLook look;
  look.acquiring = acquiring;
  look.saveChecked = saveMode_;
  look.saveEnabled = !acquiring && !inReplay_;
  look.inReplay = inReplay_;
  look.replayEnabled = !acquiring && replay_->controls().rePlayBt;
  look.sampleTimeEnabled = !acquiring && !inReplay_;
  look.addressesEnabled = !acquiring;
  look.displayModeEnabled = !acquiring;
  look.scaleEnabled = !acquiring && !chart_->autoMode();
  return look;
}

void RecorderModel::ShowLook() {
  if (observer_) observer_->LookChanged(Look());
}

void RecorderModel::Tell(RecorderNotice notice) {
  if (observer_) observer_->Tell(notice);
}

// ---- Recording ----------------------------------------------------------------

void RecorderModel::StartClicked(int sampleTime) {
  if (acquisition_->Acquiring()) {
    acquisition_->Handle(acquisition_event::Stop{});
    return;
  }
  StatusText("");
  if (!Acquisition::AnyAddressed(slots_) || !CreateRunFile(sampleTime)) {
    ShowLook();
    return;
  }
  // Only a file the user asked for stops the recording when it cannot be
  // written; the scratch file for the export is given up instead.
  acquisition_->Handle(acquisition_event::Start{sampleTime, writer_.IsOpen() ? &writer_ : nullptr, !saveMode_});
}

bool RecorderModel::CreateRunFile(int sampleTime) {
  RecordHeader header;
  for (std::size_t i = 0; i < kSlots; ++i) header.addresses[i] = slots_[i].boxAddress;
  header.sampleTime = static_cast<std::uint8_t>(sampleTime);
  if (!saveMode_) {
    // Not saving: the run still goes to a scratch file, so it can be exported.
    runPath_ = writer_.Create(scratchPath_, header) ? scratchPath_ : std::string();
    return true;
  }
  // Save mode's file holds an earlier run of this save mode: replaced only when confirmed.
  if (fileCreated_ && !(questions_.confirm &&
                        questions_.confirm(std::string(Text(Msg::OverWriteFilePrefix)) + FileName(savePath_)))) {
    saveMode_ = false;
    return false;
  }
  if (!writer_.Create(savePath_, header)) {
    const std::string text = std::string(Text(Msg::RecordFileError)) + writer_.error();
    StatusText(text);
    Tell({text, "", false, false});
    saveMode_ = false;
    return false;
  }
  fileCreated_ = true;
  runPath_ = savePath_;
  return true;
}

void RecorderModel::SaveClicked(bool checked) {
  if (saveMode_ || !checked) {
    EndSaveMode();
    return;
  }
  const std::string path = questions_.saveRecordPath ? questions_.saveRecordPath() : std::string();
  if (!path.empty()) {
    const std::string name = FileName(path);
    session_.lastFileName = name;
    if (!Exists(path) ||
        (questions_.confirm && questions_.confirm(std::string(Text(Msg::OverWriteFilePrefix)) + name))) {
      savePath_ = path;
      saveMode_ = true;
      fileCreated_ = false;
    }
  }
  ShowLook();
}

void RecorderModel::EndSaveMode() {
  saveMode_ = false;
  ShowLook();
}

void RecorderModel::SetBoxAddress(int slot, int address) {
  slots_[static_cast<std::size_t>(slot)].boxAddress = static_cast<std::uint8_t>(address);
}

void RecorderModel::Tick() {
  if (acquisition_->Acquiring())
    acquisition_->Handle(acquisition_event::Tick{});
  else
    replay_->Handle(replay_event::Tick{});
}

void RecorderModel::PortEvent(const kx::PortEvent& event) { acquisition_->Handle(acquisition_event::Port{event}); }

void RecorderModel::LineLost(const std::string& text) { acquisition_->Handle(acquisition_event::LineLost{text}); }

void RecorderModel::Close() {
  acquisition_->Handle(acquisition_event::Close{});
  writer_.Close();
}

void RecorderModel::Started() {
  if (observer_) {
    observer_->RunStarted();
    observer_->CounterText(kCounterResetText);
  }
  ShowLook();
}

void RecorderModel::Stopped(bool) {
  writer_.Close();
  ShowLook();
}

void RecorderModel::StatusText(std::string_view text) {
  if (observer_) observer_->StatusText(text);
}

void RecorderModel::SlotDropped(int slot) {
  if (observer_) observer_->SlotDropped(slot);
}

void RecorderModel::CounterChanged(long counter) {
  if (observer_) observer_->CounterText(kx::recorder::CounterText(counter));
}

void RecorderModel::RecordWriteFailed(std::string_view error) {
  const std::string text = std::string(Text(Msg::RecordFileError)) + std::string(error);
  StatusText(text);
  if (!saveMode_) {
    // The scratch file no longer holds the whole run: no export of it.
    writer_.Close();
    std::error_code ec;
    fs::remove(scratchPath_, ec);
    if (runPath_ == scratchPath_) runPath_.clear();
    return;
  }
  // The recording has stopped and its file keeps the records written so far;
  // save mode ends, so the next Start cannot replace it unasked.
  EndSaveMode();
  Tell({text, "", false, true});
}

void RecorderModel::PortError(std::string_view text) {
  StatusText(text);
  Tell({std::string(text), "", false, true});
}

// ---- Replay -------------------------------------------------------------------

void RecorderModel::ReplayClicked(bool checked) {
  if (!checked) {
    LeaveReplay();
    return;
  }
  writer_.Close();
  saveMode_ = false;
  StatusText("");  // failures of an earlier run do not belong to the file
  ShowLook();
  const std::string path = questions_.openRecordPath ? questions_.openRecordPath() : std::string();
  if (path.empty()) {
    LeaveReplay();
    return;
  }
  session_.lastFileName = FileName(path);
  RecordFile file;
  if (!file.Open(path)) {
    Tell(FileErrorNotice(file.error(), false));
    LeaveReplay();
    return;
  }
  replay_->Load(std::move(file));
  inReplay_ = true;
  if (observer_) observer_->ReplayLoaded();
  ShowLook();
}

void RecorderModel::LeaveReplay() {
  inReplay_ = false;
  ShowLook();
}

void RecorderModel::Replay(const ReplayEvent& event) {
  // Typed positions count only while a file is replayed.
  if (std::holds_alternative<replay_event::LoopCntKey>(event) && !inReplay_) return;
  replay_->Handle(event);
}

void RecorderModel::ControlsChanged(const ReplayControls& controls) {
  if (observer_) observer_->ReplayControlsChanged(controls);
  ShowLook();
}

void RecorderModel::LoopCntText(std::string_view text) {
  if (observer_) observer_->CounterText(text);
}

void RecorderModel::TrackBarPosition(long position) {
  if (observer_) observer_->TrackBarPosition(position);
}

void RecorderModel::RecordTime(std::string_view text) { StatusText(text); }

void RecorderModel::ReplayEnded(bool readFailed) {
  if (readFailed) Tell(FileErrorNotice(replay_->file().error(), true));
}

// ---- CSV ----------------------------------------------------------------------

void RecorderModel::ExportClicked() {
  std::string source;
  if (inReplay_ && replay_->file().isOpen())
    source = replay_->file().path();
  else if (!runPath_.empty() && Exists(runPath_))
    source = runPath_;
  if (source.empty()) {
    Tell({std::string(Text(Msg::NothingToExport)), "", false, false});
    return;
  }
  const std::string target = questions_.saveCsvPath ? questions_.saveCsvPath() : std::string();
  if (target.empty()) return;
  const CsvExportResult result = ExportCsv(source, target);
  if (result.ok)
    Tell({std::string(Text(Msg::CsvExportDone)) + FileName(target), "", false, false});
  else
    Tell({std::string(Text(Msg::CsvExportFailed)) + result.error, "", false, false});
}

// ---- Display ------------------------------------------------------------------

bool RecorderModel::ChartIdle() const {
  return !acquisition_->Acquiring() && replay_->state() == ReplayEngine::State::Stopped;
}

void RecorderModel::FullRedraw() {
  const long newest = inReplay_ ? replay_->position() - 1 : acquisition_->counter() - 1;
  chart_->FullRedraw(newest);
}

bool RecorderModel::ToggleTrace(int slot) {
  // A slot dropped in the run keeps its address cleared.
  for (Slot& s : slots_)
    if (s.dropPoint == -1) s.address = s.boxAddress;
  Slot& clicked = slots_[static_cast<std::size_t>(slot)];
  if (clicked.address == 0) return false;
  clicked.display = !clicked.display;
  const bool draw = chart_->DecideDrawFlag();
  if (acquisition_->Acquiring()) {
    if (draw)
      FullRedraw();
    else
      chart_->Clear();
  } else if (replay_->replaying()) {
    replay_->Handle(replay_event::Redraw{});
  }
  return true;
}

void RecorderModel::SetFixedScale(bool fixed) {
  chart_->SetAutoMode(!fixed);
  ShowLook();
}

void RecorderModel::SetBackground(int index) {
  chart_->SetBackground(index);
  if (chart_->drawFlag())
    FullRedraw();
  else
    chart_->Clear();
}

}  // namespace kx::recorder
