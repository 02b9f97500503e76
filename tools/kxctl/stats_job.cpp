#include "kxctl/stats_job.h"

#include <cmath>
#include <cstdio>

#include "core/exchange/requests.h"
#include "kxctl/text_table.h"

namespace kxctl {

namespace {

// The block the monitor and the recorder poll: PV and its neighbour from 0x4700.
constexpr std::uint16_t kPvRegister = 0x4700;
constexpr std::uint16_t kPvCount = 2;

std::string Ms(double ms) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", ms);
  return text;
}

Json MsJson(const std::optional<double>& ms) {
  return ms ? Json::Fixed(std::llround(*ms * 1000), 3) : Json::Null();
}

}  // namespace

StatsJob::StatsJob(const JobContext& context, StatsArgs args)
    : line_(context.line), traffic_(*context.traffic), timer_(context.timer), args_(args) {}

void StatsJob::SendNext() {
  if (done_) return;
  line_.Send(kx::ReadRequest(line_.format(), static_cast<std::uint8_t>(args_.address), kPvRegister, kPvCount));
}

void StatsJob::Handle(const kx::PortEvent& event) {
  if (done_) return;
  if (!line_.Handle(event)) return;
  if (++answered_ >= args_.count) {
    Finish({});
  } else if (args_.everyMs > 0) {
    timer_.StartTimer(args_.everyMs);
  } else {
    SendNext();
  }
}

void StatsJob::TimerFired() {
  timer_.StopTimer();
  SendNext();
}

void StatsJob::LineLost(const std::string& text) {
  line_.LineLost();
  Finish(text);
}

void StatsJob::Finish(std::string error) {
  if (done_) return;
  done_ = true;
  timer_.StopTimer();
  error_ = std::move(error);
}

std::string StatsJob::Progress() const {
  return "stats: " + std::to_string(answered_) + " of " + std::to_string(args_.count) + " requests";
}

Outcome StatsJob::Result() const {
  Outcome out;
  kx::LinkStats stats = traffic_.StatsOf(args_.address).value_or(kx::LinkStats{});
  stats.address = args_.address;
  Json doc = Json::Object();
  StatsReport(stats, doc, out.table);
  out.json = std::move(doc);
  if (!error_.empty()) {
    out.status = kExitFailed;
    out.error = error_;
  } else if (stats.good != stats.requests || stats.requests == 0) {
    out.status = kExitFailed;
    out.error = "address " + std::to_string(args_.address) + ": " + std::to_string(stats.requests - stats.good) +
                " of " + std::to_string(stats.requests) + " requests got no good answer";
  }
  return out;
}

void StatsReport(const kx::LinkStats& s, Json& doc, std::string& table) {
  doc.Set("address", Json::Int(s.address));
  doc.Set("requests", Json::Int(static_cast<std::int64_t>(s.requests)));
  doc.Set("good", Json::Int(static_cast<std::int64_t>(s.good)));
  doc.Set("timeouts", Json::Int(static_cast<std::int64_t>(s.timeouts)));
  doc.Set("check_errors", Json::Int(static_cast<std::int64_t>(s.checkErrors)));
  doc.Set("exceptions", Json::Int(static_cast<std::int64_t>(s.exceptions)));
  doc.Set("other_errors", Json::Int(static_cast<std::int64_t>(s.otherErrors)));
  Json& reply = doc.Set("reply_ms", Json::Object());
  reply.Set("min", MsJson(s.minMs));
  reply.Set("mean", MsJson(s.meanMs));
  reply.Set("p50", MsJson(s.p50Ms));
  reply.Set("p95", MsJson(s.p95Ms));
  reply.Set("max", MsJson(s.maxMs));
  doc.Set("suggested_timeout_ms", s.suggestedTimeoutMs ? Json::Int(*s.suggestedTimeoutMs) : Json::Null());

  const std::string replies = s.minMs ? "min " + Ms(*s.minMs) + "  mean " + Ms(*s.meanMs) + "  p50 " + Ms(*s.p50Ms) +
                                            "  p95 " + Ms(*s.p95Ms) + "  max " + Ms(*s.maxMs)
                                      : "-";
  table = Table({{"address", std::to_string(s.address)},
                 {"requests", std::to_string(s.requests)},
                 {"good", std::to_string(s.good)},
                 {"timeouts", std::to_string(s.timeouts)},
                 {"check errors", std::to_string(s.checkErrors)},
                 {"exceptions", std::to_string(s.exceptions)},
                 {"other errors", std::to_string(s.otherErrors)},
                 {"reply ms", replies},
                 {"suggested timeout ms", s.suggestedTimeoutMs ? std::to_string(*s.suggestedTimeoutMs) : "-"}});
}

}  // namespace kxctl
