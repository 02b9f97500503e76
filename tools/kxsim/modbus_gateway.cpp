#include "kxsim/modbus_gateway.h"

#include <algorithm>
#include <array>
#include <utility>

#include "core/text/overloaded.h"

namespace kxsim {

namespace {

constexpr std::size_t kMaxRtuFrame = 256;

kx::FrameCollector NewCollector() { return kx::FrameCollector(kx::frame_end::RtuByFunction{}, kMaxRtuFrame); }

}  // namespace

ModbusGateway::ModbusGateway(Settings settings) : settings_(settings), collector_(NewCollector()) {}

void ModbusGateway::Handle(const Event& event) {
  std::visit(kx::Overloaded{
                 [&](const ClientBytes& e) { ClientData(e.bytes); },
                 [&](const LineBytes& e) { LineData(e.bytes, e.now); },
                 [&](const Tick& e) { Advance(e.now); },
             },
             event);
}

void ModbusGateway::ClientData(std::span<const std::uint8_t> bytes) {
  reader_.Add(bytes);
  while (auto frame = reader_.Next()) {
    queuedBytes_ += kx::mbap::kHeaderLength + frame->pdu.size();
    queue_.push_back(std::move(*frame));
  }
}

std::size_t ModbusGateway::ClientRoom() const {
  const std::size_t held = queuedBytes_ + reader_.Pending();
  return reader_.broken() || held >= kMaxBuffered ? 0 : kMaxBuffered - held;
}

void ModbusGateway::Advance(SimTime now) {
  switch (state_) {
    case State::Idle:
      Start(now);
      break;
    case State::Awaiting:
      if (lastByte_ && now >= *lastByte_ + settings_.gap) {
        // The line fell silent: whatever came is the answer or is dropped.
        if (Answer(collector_.received())) break;
        collector_ = NewCollector();
        lastByte_.reset();
      }
      if (now >= deadline_) {
        const std::uint8_t function = request_.pdu[0];
        Reply(std::array<std::uint8_t, 2>{static_cast<std::uint8_t>(function | 0x80), kx::mbap::kGatewayTargetFailed});
      }
      break;
    case State::Broadcast:
      if (now >= deadline_) {
        state_ = State::Idle;
        Start(now);
      }
      break;
  }
}

void ModbusGateway::Start(SimTime now) {
  if (queue_.empty()) return;
  request_ = std::move(queue_.front());
  queue_.pop_front();
  queuedBytes_ -= kx::mbap::kHeaderLength + request_.pdu.size();
  const kx::Bytes frame = kx::BuildRtuFrame(kx::mbap::SerialOfFrame(request_));
  forLine_.insert(forLine_.end(), frame.begin(), frame.end());
  if (settings_.lineEchoes) {
    const auto copy = kx::mbap::BuildFrame(request_.transaction, request_.unit, request_.pdu);
    forClient_.insert(forClient_.end(), copy->begin(), copy->end());
  }
  echoLeft_ = settings_.lineEchoes ? frame.size() : 0;
  collector_ = NewCollector();
  lastByte_.reset();
  if (request_.unit == 0) {
    state_ = State::Broadcast;
    deadline_ = now + settings_.gap;
  } else {
    state_ = State::Awaiting;
    deadline_ = now + settings_.timeout;
  }
}

void ModbusGateway::LineData(std::span<const std::uint8_t> bytes, SimTime now) {
  if (state_ != State::Awaiting) return;  // echoes of a broadcast, noise, late answers
  const std::size_t echo = std::min(echoLeft_, bytes.size());
  echoLeft_ -= echo;
  bytes = bytes.subspan(echo);
  if (bytes.empty()) return;
  lastByte_ = now;
  while (!bytes.empty()) {
    // The collector takes bytes up to the end of an answer; what follows a
    // frame that was not the answer starts the next try.
    const std::size_t before = collector_.received().size();
    if (collector_.Add(bytes) != kx::FrameCollector::State::Complete) return;
    if (Answer(collector_.received())) return;
    const std::size_t used = std::max<std::size_t>(collector_.received().size() - before, 1);
    bytes = bytes.subspan(std::min(used, bytes.size()));
    collector_ = NewCollector();
  }
}

bool ModbusGateway::Answer(std::span<const std::uint8_t> frame) {
  if (frame.size() < 4 || frame[0] != request_.unit || !kx::RtuChecksumOk(frame)) return false;
  Reply(frame.subspan(1, frame.size() - 3));
  return true;
}

void ModbusGateway::Reply(std::span<const std::uint8_t> pdu) {
  if (const auto frame = kx::mbap::BuildFrame(request_.transaction, request_.unit, pdu)) {
    forClient_.insert(forClient_.end(), frame->begin(), frame->end());
  }
  state_ = State::Idle;
  collector_ = NewCollector();
  lastByte_.reset();
}

std::optional<SimTime> ModbusGateway::NextDeadline() const {
  switch (state_) {
    case State::Idle:
      if (!queue_.empty()) return SimTime{0};  // at once
      return std::nullopt;
    case State::Awaiting:
      return lastByte_ ? std::min(deadline_, *lastByte_ + settings_.gap) : deadline_;
    case State::Broadcast:
      return deadline_;
  }
  return std::nullopt;
}

kx::Bytes ModbusGateway::TakeForLine() { return std::exchange(forLine_, {}); }
kx::Bytes ModbusGateway::TakeForClient() { return std::exchange(forClient_, {}); }

void ModbusGateway::Reset() {
  reader_.Reset();
  queue_.clear();
  queuedBytes_ = 0;
  state_ = State::Idle;
  collector_ = NewCollector();
  lastByte_.reset();
  echoLeft_ = 0;
  forLine_.clear();
  forClient_.clear();
}

}  // namespace kxsim
