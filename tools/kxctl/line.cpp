#include "kxctl/line.h"

#include "core/comset/bus_search.h"
#include "core/line/settings.h"

namespace kxctl {

Line::Line(kx::ComPort& port, std::function<void(int)> setTickMs)
    : port_(port), setTickMs_(std::move(setTickMs)), exchange_(port) {}

bool Line::Open(const LineChoice& choice, std::string& error) {
  opened_ = format_ = choice.format;
  if (traffic_ != nullptr) traffic_->SetLine(format_);
  if (!kx::OpenWithParams(port_, ParamsOfFormat(choice.format, choice.com))) {
    error = port_.ErrorText();
    return false;
  }
  exchange_.Opened();
  return true;
}

void Line::Close() {
  exchange_.Cancel();
  if (port_.IsOpen()) {
    if (!(format_ == opened_)) SetFormat(opened_);
    port_.Close();
  }
}

void Line::SetTraffic(kx::TrafficLog* traffic) {
  traffic_ = traffic;
  port_.SetTap(traffic);
  if (traffic_ != nullptr) traffic_->SetLine(format_);
}

void Line::SetFormat(const LineFormat& format) {
  format_ = format;
  if (traffic_ != nullptr) traffic_->SetLine(format);
  kx::ApplyFormat(port_, SearchFormatOf(format));
}

kx::LineTiming Line::Timing() const { return kx::TimingOf(format_); }

std::uint32_t Line::Send(kx::ExchangeRequest request) {
  request.flushInput = false;
  return exchange_.Send(std::move(request));
}

void Line::SetTickMs(int ms) {
  if (setTickMs_) setTickMs_(ms);
}

}  // namespace kxctl
