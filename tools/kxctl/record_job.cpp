#include "kxctl/record_job.h"

#include <unistd.h>

#include <chrono>
#include <ctime>

#include "core/files/whole_file.h"
#include "core/recorder/csv_export.h"
#include "kxctl/device_job.h"

namespace kxctl {
namespace {

namespace ev = kx::recorder::acquisition_event;

kx::recorder::SampleTime LocalTime() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t t = std::chrono::system_clock::to_time_t(now);
  std::tm tm{};
  localtime_r(&t, &tm);
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  return {static_cast<std::uint8_t>(tm.tm_hour), static_cast<std::uint8_t>(tm.tm_min),
          static_cast<std::uint8_t>(tm.tm_sec), static_cast<std::uint8_t>(ms & 0xFF)};
}

}  // namespace

RecordJob::RecordJob(const JobContext& context, RecordArgs args)
    : PortJob(context), args_(std::move(args)), chart_(slots_) {
  for (std::size_t i = 0; i < args_.addresses.size(); ++i)
    slots_[i].boxAddress = static_cast<std::uint8_t>(args_.addresses[i]);
  acquisition_ = std::make_unique<kx::recorder::Acquisition>(context.port, session_, slots_, chart_, context.timer,
                                                             LocalTime);
  acquisition_->SetObserver(this);
  recordPath_ = args_.kind == RecordFileKind::Record ? args_.out : args_.out + ".kxctl-" + std::to_string(::getpid()) + ".rec";
}

RecordJob::~RecordJob() {
  if (args_.kind == RecordFileKind::Csv && !keepRecord_) ::unlink(recordPath_.c_str());
}

void RecordJob::Start() {
  // A recording that could not be saved is refused before the first sample.
  if (const std::string problem = kx::WriteProblem(args_.out); !problem.empty()) {
    status_ = kExitFailed;
    error_ = args_.out + ": " + problem;
    done_ = true;
    return;
  }
  // The recorder opens the port itself, with the line's parameters.
  ReleaseLine();
  kx::recorder::RecordHeader header;
  for (std::size_t i = 0; i < kx::recorder::kSlots; ++i) header.addresses[i] = slots_[i].boxAddress;
  header.sampleTime = static_cast<std::uint8_t>(args_.sampleSetting);
  if (!writer_.Create(recordPath_, header)) {
    status_ = kExitFailed;
    error_ = args_.out + ": " + writer_.error();
    done_ = true;
    return;
  }
  Feed(ev::Start{args_.sampleSetting, &writer_});
}

void RecordJob::Feed(const kx::recorder::AcquisitionEvent& event) {
  acquisition_->Handle(event);
  // Stopping is asked for from the observer's calls, and done after them.
  if (stopWanted_ && acquisition_->Acquiring()) {
    stopWanted_ = false;
    acquisition_->Handle(ev::Stop{});
  }
}

void RecordJob::Handle(const kx::PortEvent& event) {
  if (!done_) Feed(ev::Port{event});
}

void RecordJob::TimerFired() {
  if (done_) return;
  // The cycle of the last tick still waits for an answer: this sample is skipped.
  if (acquisition_->state() == kx::recorder::Acquisition::State::Awaiting) ++skipped_;
  Feed(ev::Tick{});
}

void RecordJob::LineLost(const std::string& text) {
  if (done_) return;
  Feed(ev::LineLost{text});
  if (!done_) PortError(text);
}

void RecordJob::Interrupt() {
  // Ctrl-C is the normal end of a recording without --count.
  if (done_) return;
  if (acquisition_->Acquiring()) {
    Feed(ev::Stop{});
  } else {
    Finish();
  }
}

void RecordJob::Stopped(bool automatic) {
  automaticStop_ = automatic;
  Finish();
}

void RecordJob::Finish() {
  if (done_) return;
  done_ = true;
  writer_.Close();
  if (automaticStop_ && status_ == kExitOk) {
    status_ = kExitFailed;
    error_ = notes_.empty() ? "every controller failed" : notes_.back();
  }
  if (args_.kind == RecordFileKind::Csv) {
    const kx::recorder::CsvExportResult exported = kx::recorder::ExportCsv(recordPath_, args_.out);
    if (exported.ok) {
      ::unlink(recordPath_.c_str());
    } else {
      // The samples are not thrown away with the failed CSV.
      keepRecord_ = true;
      status_ = kExitFailed;
      error_ = args_.out + ": " + exported.error + "; the samples are kept in the record file " + recordPath_;
    }
  }
}

void RecordJob::StatusText(std::string_view) {
  // The recorder names the slot; kxctl names the controller by its address.
  const int slot = acquisition_->currentSlot();
  notes_.push_back(AddressContext(args_.addresses[static_cast<std::size_t>(slot)]) + ": " +
                   kx::recorder::SampleStatusText(acquisition_->lastStatus()));
}

void RecordJob::CounterChanged(long counter) {
  cycles_ = counter;
  if (args_.count && counter >= *args_.count) stopWanted_ = true;
}

void RecordJob::RecordWriteFailed(std::string_view error) {
  status_ = kExitFailed;
  error_ = args_.out + ": " + std::string(error);
  stopWanted_ = true;
}

void RecordJob::PortError(std::string_view text) {
  status_ = kExitFailed;
  error_ = std::string(text);
  if (!acquisition_->Acquiring()) Finish();
}

std::string RecordJob::TakeNote() {
  if (notesShown_ >= notes_.size()) return {};
  return notes_[notesShown_++];
}

void RecordJob::SlotDropped(int slot) { dropped_.push_back(args_.addresses[static_cast<std::size_t>(slot)]); }

std::string RecordJob::Progress() const {
  return "record " + args_.out + ": " + std::to_string(cycles_) + (args_.count ? "/" + std::to_string(*args_.count) : "") +
         " cycles";
}

Outcome RecordJob::Result() const {
  Outcome o{status_, error_, std::nullopt, {}};
  Json doc = Json::Object();
  // Where the samples are: the record file kept when the CSV could not be written.
  const std::string& file = keepRecord_ ? recordPath_ : args_.out;
  doc.Set("file", Json::String(file));
  Json& addresses = doc.Set("addresses", Json::Array());
  for (const int a : args_.addresses) addresses.Push(Json::Int(a));
  // The records written, which a failed write or a stop mid-cycle may leave
  // below the cycles sampled.
  const auto records = static_cast<std::int64_t>(writer_.records());
  doc.Set("cycles", Json::Int(records));
  doc.Set("skipped", Json::Int(skipped_));
  Json& dropped = doc.Set("dropped", Json::Array());
  std::string droppedText;
  for (const int a : dropped_) {
    dropped.Push(Json::Int(a));
    droppedText += " " + std::to_string(a);
  }
  o.json = std::move(doc);
  o.table = std::to_string(records) + (records == 1 ? " cycle" : " cycles") + " recorded into " + file +
            (droppedText.empty() ? "" : "; dropped after failures:" + droppedText) +
            (skipped_ == 0 ? ""
                           : "; " + std::to_string(skipped_) + (skipped_ == 1 ? " sample" : " samples") +
                                 " skipped (time-outs took the cycle's time)") +
            "\n";
  return o;
}

}  // namespace kxctl
