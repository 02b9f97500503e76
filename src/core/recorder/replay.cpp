#include "core/recorder/replay.h"

#include <utility>

#include "core/text/overloaded.h"

namespace kx::recorder {

ReplayEngine::ReplayEngine(Slots& slots, Chart& chart, RecorderTimer& timer)
    : slots_(slots), chart_(chart), timer_(timer) {}

void ReplayEngine::Load(RecordFile file) {
  file_ = std::move(file);
  if (jumpPending_) timer_.StopTimer();
  jumpPending_ = false;
  for (std::size_t i = 0; i < kSlots; ++i) {
    Slot& slot = slots_[i];
    slot.address = slot.boxAddress = file_.header().addresses[i];
    slot.display = true;
    slot.failures = 0;
    slot.dropPoint = -1;
  }
  position_ = 0;
  ShowReset();
  chart_.SetDrawFlag(false);
  chart_.Clear();
}

void ReplayEngine::Handle(const ReplayEvent& event) {
  std::visit(Overloaded{
                 [this](const replay_event::Play&) { OnPlay(); },
                 [this](const replay_event::Pause&) { OnPause(); },
                 [this](const replay_event::Stop&) { OnStop(); },
                 [this](const replay_event::Tick&) { OnTick(); },
                 [this](const replay_event::TrackBarMoved& e) { OnTrackBar(e.position); },
                 [this](const replay_event::LoopCntKey& e) { OnLoopCntKey(e.enter, e.text); },
                 [this](const replay_event::Redraw&) { OnRedraw(); },
             },
             event);
}

void ReplayEngine::OnPlay() {
  if (state_ == State::Playing) return;
  // A position typed or chosen just before Play is where playing starts.
  if (jumpPending_) {
    timer_.StopTimer();
    jumpPending_ = false;
    ApplyJump();
  }
  state_ = State::Playing;
  SetControls({.trackBar = false, .rePlayBt = false, .loopCnt = false, .play = false, .pause = true, .stop = true});
  if (chart_.DecideDrawFlag()) {
    replaying_ = true;
    timer_.StartTimer(kReplayTickMs);
  }
}

void ReplayEngine::OnPause() {
  if (state_ != State::Playing) return;
  state_ = State::Paused;
  timer_.StopTimer();
  ReplayControls c = controls_;
  c.trackBar = c.loopCnt = c.play = true;
  c.pause = false;
  SetControls(c);
  replaying_ = true;
}

void ReplayEngine::OnStop() {
  if (state_ == State::Stopped) return;
  state_ = State::Stopped;
  timer_.StopTimer();
  jumpPending_ = false;
  SetControls({});
  position_ = 0;
  ShowReset();
  replaying_ = false;
}

void ReplayEngine::OnTick() {
  if (jumpPending_) {
    timer_.StopTimer();
    jumpPending_ = false;
    ApplyJump();
    return;
  }
  if (replaying_) PlayNext();
}

void ReplayEngine::PlayNext() {
  if (!file_.Ensure(static_cast<std::uint64_t>(position_))) {
    End(file_.count() > static_cast<std::uint64_t>(position_));
    return;
  }
  const Record& record = file_.At(static_cast<std::uint64_t>(position_));
  if (observer_) observer_->RecordTime(ClockText(record.time));
  chart_.StoreTime(position_, record.time);
  for (int i = 0; i < kSlots; ++i) {
    const int v = record.values[static_cast<std::size_t>(i)];
    chart_.StoreReplayValue(i, position_, v);
    Slot& slot = slots_[static_cast<std::size_t>(i)];
    if (v == kErrorMarker && slot.dropPoint == -1) slot.dropPoint = position_;
  }
  chart_.DrawNewSample(position_);
  ++position_;
  ShowPosition(position_);
  if (static_cast<std::uint64_t>(position_) >= file_.count()) End(false);
}

void ReplayEngine::End(bool readFailed) {
  SetControls({});
  timer_.StopTimer();
  chart_.SetDrawFlag(false);
  position_ = 0;
  replaying_ = false;
  for (Slot& slot : slots_) {
    slot.dropPoint = -1;
    slot.address = slot.boxAddress;
  }
  state_ = State::Stopped;
  if (observer_) observer_->ReplayEnded(readFailed);
}

void ReplayEngine::OnTrackBar(long position) {
  if (state_ == State::Playing) return;
  loopText_ = CounterText(position);
  if (observer_) observer_->LoopCntText(loopText_);
  jumpPending_ = true;
  timer_.StartTimer(kTrackBarJumpDelayMs);
}

void ReplayEngine::OnLoopCntKey(bool enter, const std::string& text) {
  if (state_ == State::Playing) return;
  loopText_ = text;
  if (enter) {
    jumpPending_ = false;
    timer_.StopTimer();
    ApplyJump();
    return;
  }
  jumpPending_ = true;
  timer_.StartTimer(kTypedJumpDelayMs);
}

void ReplayEngine::OnRedraw() {
  if (!replaying_) return;
  if (chart_.drawFlag())
    ApplyJump();
  else
    chart_.Clear();
}

void ReplayEngine::ApplyJump() {
  const auto typed = WholeNumber(loopText_);
  if (!typed || *typed < 0) return;  // not a position: nothing moves
  for (Slot& slot : slots_) {
    slot.address = slot.boxAddress;
    slot.dropPoint = -1;
  }
  const long p = *typed;
  const auto count = static_cast<long>(file_.count());
  if (p > count) {
    position_ = 0;
    ShowPosition(position_);
    return;
  }
  const long n = chart_.geometry().columns;
  const long s = p >= n ? p - n : 0;
  if (p > s) {
    const auto us = static_cast<std::uint64_t>(s);
    if (static_cast<std::uint64_t>(p) >= file_.WindowEnd() || us < file_.windowStart()) {
      if (!file_.LoadWindow(us) || file_.WindowEnd() < static_cast<std::uint64_t>(p)) {
        End(true);
        return;
      }
    }
  }
  chart_.ResetExtremes();
  for (long r = s; r < p; ++r) {
    const Record& record = file_.At(static_cast<std::uint64_t>(r));
    for (int i = 0; i < kSlots; ++i) {
      const int v = record.values[static_cast<std::size_t>(i)];
      chart_.StoreJumpValue(i, r, v);
      Slot& slot = slots_[static_cast<std::size_t>(i)];
      if (v == kErrorMarker && slot.dropPoint == -1) slot.dropPoint = r;
    }
    chart_.StoreTime(r, record.time);
  }
  chart_.DrawFrame(p);
  for (long r = s; r < p; ++r) chart_.DrawSample(r);
  if (p > s && observer_) observer_->RecordTime(ClockText(file_.At(static_cast<std::uint64_t>(p - 1)).time));
  position_ = p;
  ShowPosition(position_);
}

void ReplayEngine::ShowPosition(long position) {
  loopText_ = CounterText(position);
  if (observer_) {
    observer_->LoopCntText(loopText_);
    observer_->TrackBarPosition(position);
  }
}

void ReplayEngine::ShowReset() {
  loopText_ = kCounterResetText;
  if (observer_) {
    observer_->LoopCntText(loopText_);
    observer_->TrackBarPosition(0);
  }
}

void ReplayEngine::SetControls(const ReplayControls& controls) {
  controls_ = controls;
  if (observer_) observer_->ControlsChanged(controls_);
}

}  // namespace kx::recorder
