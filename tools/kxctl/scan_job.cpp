#include "kxctl/scan_job.h"

#include <algorithm>

#include "core/comset/bus_search.h"
#include "core/device/regmap.h"
#include "core/exchange/requests.h"
#include "core/text/messages.h"
#include "kxctl/line_choice.h"
#include "kxctl/requests.h"
#include "kxctl/text_table.h"

namespace kxctl {
namespace {

// Milliseconds for `chars` characters on the line at `format`, rounded up.
int WireMs(std::size_t chars, const LineFormat& format) {
  return static_cast<int>((kx::TimingOf(format).WireMicros(chars) + 999) / 1000);
}

}  // namespace

int FastProbeWaitMs(const LineFormat& format) {
  const std::size_t probe = kx::ProbeFrame(1, format.form).size();
  const std::size_t longestId = format.form == kx::FrameForm::Ascii ? kx::AsciiReadAnswerLength(3)
                                                                    : kx::RtuReadAnswerLength(3);
  const int wait = WireMs(probe + longestId, format) + kTurnaroundAllowanceMs + kFastMarginMs;
  return std::min(wait, kx::WaitTicks(kx::RequestKind::Probe, format) * kx::kTickMs);
}

std::vector<LineFormat> ScanFormats(const ScanArgs& args, const LineFormat& lineFormat) {
  if (args.allFormats) {
    std::vector<LineFormat> formats;
    for (const int n : kx::VisitedCombinations(kx::SearchPresets{}))
      formats.push_back(kx::LineFormatOf(kx::CombinationFormat(n)));
    return formats;
  }
  if (!args.formats.empty()) return args.formats;
  return {lineFormat};
}

ScanJob::ScanJob(Line& line, ScanArgs args) : StepJob(line), args_(std::move(args)) {
  formats_ = ScanFormats(args_, line.format());
  address_ = args_.first;
  total_ = static_cast<int>(formats_.size()) * (args_.last - args_.first + 1);
}

void ScanJob::Start() {
  line_.SetFormat(formats_.front());
  QueueProbe();
  StepJob::Start();
}

kx::ExchangeRequest ScanProbe(const Line& line, int address, bool fast) {
  kx::ExchangeRequest probe = kx::ProbeRequest(line.format(), static_cast<std::uint8_t>(address));
  if (!fast) return probe;
  // Milliseconds for ticks: the first wait shortened, the re-arm and the
  // overall deadline kept at the search's.
  probe.deadlineTicks = kx::DeadlineTicks(probe) * kx::kTickMs;
  probe.firstWaitTicks = FastProbeWaitMs(line.format());
  probe.rearmTicks *= kx::kTickMs;
  return probe;
}

void ScanJob::QueueProbe() {
  const bool fast = FastProbes(line_, args_.fast);
  ThenAny(ScanProbe(line_, address_, fast), [this](const kx::Answer& a) { OnProbe(a); }, ProbeTickMs(fast));
}

void ScanJob::OnProbe(const kx::Answer& answer) {
  ++probes_;
  if (!answer.Complete() || !kx::ProbeHit(answer, static_cast<std::uint8_t>(address_), line_.form())) {
    Advance();
    return;
  }
  found_.push_back(Found{address_, line_.format(), {}});
  const std::size_t index = found_.size() - 1;
  LearnDevice(line_, address_, FactsDepth::Firmware, found_[index].facts,
              [this](kx::ExchangeRequest r, std::function<void(const kx::Answer&)> h) { ThenAny(std::move(r), std::move(h)); },
              [this](const kx::Answer*) { Advance(); });
}

void ScanJob::Advance() {
  if (address_ < args_.last) {
    ++address_;
  } else if (formatIndex_ + 1 < formats_.size()) {
    ++formatIndex_;
    address_ = args_.first;
    line_.SetFormat(formats_[formatIndex_]);
  } else {
    completed_ = true;
    return;  // nothing queued: the job is done
  }
  QueueProbe();
}

std::string ScanJob::Progress() const {
  const int percent = total_ > 0 ? probes_ * 100 / total_ : 100;
  return "scan " + kx::ToString(line_.format()) + " address " + std::to_string(address_) + ": " +
         std::to_string(probes_) + "/" + std::to_string(total_) + " probes (" + std::to_string(percent) + "%), " +
         std::to_string(found_.size()) + " found";
}

Outcome ScanJob::Result() const {
  Outcome o{status_, error_, std::nullopt, {}};
  Json list = Json::Array();
  std::vector<std::vector<std::string>> rows{{"ADDRESS", "LINE", "MODEL", "FIRMWARE"}};
  for (const Found& f : found_) {
    const std::string model(kx::ModelName(f.facts.model));
    const std::string firmware = f.facts.firmwareRead ? FirmwareText(f.facts.rec.firmwareVersion) : "";
    Json& item = list.Push(Json::Object());
    item.Set("address", Json::Int(f.address));
    item.Set("line", Json::String(kx::ToString(f.format)));
    item.Set("model", model.empty() ? Json::Null() : Json::String(model));
    item.Set("firmware", firmware.empty() ? Json::Null() : Json::String(firmware));
    rows.push_back({std::to_string(f.address), kx::ToString(f.format), model.empty() ? "?" : model,
                    firmware.empty() ? "-" : firmware});
  }
  o.json = std::move(list);
  o.table = Table(rows);
  if (status_ == kExitOk && completed_ && found_.empty()) {
    o.status = kExitFailed;
    o.error = std::string(kx::Text(kx::Msg::SearchCompletedFound)) + "0" + std::string(kx::Text(kx::Msg::ItemsSuffix));
  }
  return o;
}

}  // namespace kxctl
