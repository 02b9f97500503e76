#include "core/recorder/chart.h"

#include <algorithm>
#include <charconv>

namespace kx::recorder {

namespace {

constexpr int kDesignWidth = 808;

// Largest multiple of step not above value (step > 0).
int FloorMultiple(int value, int step) {
  int q = value / step;
  if (value % step != 0 && value < 0) --q;
  return q * step;
}

}  // namespace

ChartGeometry ChartGeometry::ForWidth(int w) {
  ChartGeometry g;
  g.left = w * 35 / kDesignWidth;
  g.right = w * 755 / kDesignWidth;
  g.top = w * 5 / kDesignWidth;
  g.bottom = w * 345 / kDesignWidth;
  g.width = w * 795 / kDesignWidth;
  g.height = w * 365 / kDesignWidth;
  g.columns = std::clamp(g.right - g.left, 1, kChartMemoryColumns);
  return g;
}

std::optional<int> WholeNumber(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return std::nullopt;
  int value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc{} || end != text.data() + text.size()) return std::nullopt;
  return value;
}

int Scale::ToY(int value, int bottomY) const {
  const long long d = static_cast<long long>(value) - base;
  const long long y = expand ? bottomY - d * factor : bottomY - d / factor;
  return static_cast<int>(std::clamp<long long>(y, -1000000, 1000000));
}

FactorMode ChooseFactor(bool autoMode, int range, int height) {
  FactorMode fm;
  if (range < height) {
    fm.expand = true;
    if (autoMode) {
      fm.factor = 10;
      while (fm.factor > 1 && static_cast<long long>(range) * fm.factor > height) --fm.factor;
    } else {
      fm.factor = range > 0 ? height / range : 1;
    }
  } else {
    fm.expand = false;
    if (autoMode) {
      fm.factor = 1;
      while (range / fm.factor > height) ++fm.factor;
    } else {
      fm.factor = height > 0 ? range / height : 1;
    }
  }
  fm.factor = std::max(fm.factor, 1);
  return fm;
}

Scale ChooseScale(bool autoMode, std::string_view maxText, std::string_view minText,
                  const Extremes& extremes, int bottom) {
  Scale s;
  int max = -32767;
  int min = 32767;
  if (!autoMode) {
    const auto fixMax = WholeNumber(maxText);
    const auto fixMin = WholeNumber(minText);
    if (fixMax && fixMin && *fixMax > *fixMin) {
      max = *fixMax;
      min = *fixMin;
    } else {
      autoMode = true;
      s.fellBackToAuto = true;
    }
  }
  if (autoMode) {
    if (extremes.max > max) {
      max = extremes.max;
      s.autoMoved = true;
    }
    if (extremes.min < min) {
      min = extremes.min;
      s.autoMoved = true;
    }
  }
  const int top = max + 1;
  const int low = min - 1;
  const FactorMode fm = ChooseFactor(autoMode, top - low, bottom - 10);
  s.expand = fm.expand;
  s.factor = fm.factor;
  const int half = bottom / 2;
  const int mid = (min + max) / 2;
  s.base = s.expand ? mid - half / s.factor : mid - half * s.factor;
  s.max = 2 * mid - s.base;
  s.min = s.base;
  if (s.expand)
    s.gridStep = s.factor > 7 ? 5 : s.factor > 3 ? 10 : s.factor > 1 ? 20 : 50;
  else
    s.gridStep = 50 * s.factor;
  return s;
}

std::vector<GridLine> GridLines(const Scale& scale, const ChartGeometry& g) {
  std::vector<GridLine> lines;
  int v = FloorMultiple(scale.base, scale.gridStep);
  for (;;) {
    v += scale.gridStep;
    const int y = scale.ToY(v, g.bottom);
    if (y <= 0) break;
    lines.push_back({y, v, g.top + 6 < y && y < g.bottom - 10});
  }
  return lines;
}

Rgb BackgroundColour(int index) {
  static constexpr std::array<Rgb, kBackgroundColours> kColours = {
      0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080, 0x008080, 0x808080,
      0xC0C0C0, 0xFF0000, 0x00FF00, 0xFFFF00, 0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF};
  return kColours[static_cast<std::size_t>(std::clamp(index, 0, kBackgroundColours - 1))];
}

Rgb ForegroundFor(int index) { return index < 8 ? 0xFFFFFF : 0x000000; }

// ---------------------------------------------------------------------------

Chart::Chart(Slots& slots) : slots_(slots) {
  ResetExtremes();
  prevY_.fill(geometry_.bottom);
}

void Chart::SetFixTexts(std::string maxText, std::string minText) {
  fixMax_ = std::move(maxText);
  fixMin_ = std::move(minText);
}

void Chart::SetBackground(int index) {
  background_ = BackgroundColour(index);
  foreground_ = ForegroundFor(index);
}

bool Chart::DecideDrawFlag() {
  drawFlag_ = std::any_of(slots_.begin(), slots_.end(),
                          [](const Slot& s) { return s.display && s.address != 0; });
  return drawFlag_;
}

std::size_t Chart::Column(long k) const {
  const long n = geometry_.columns;
  return static_cast<std::size_t>(((k % n) + n) % n);
}

void Chart::StoreLiveValue(int slot, long k, int value) {
  values_[static_cast<std::size_t>(slot)][Column(k)] = value;
  if (k == 0) {
    slotMax_[static_cast<std::size_t>(slot)] = slotMin_[static_cast<std::size_t>(slot)] = value;
  } else if (k >= geometry_.columns && k % kTimeLineEvery == 0) {
    // The plot has scrolled: values that left it stop counting.
    RecomputeExtremes();
  } else {
    Widen(slot, value);
  }
}

void Chart::StoreReplayValue(int slot, long k, int value) {
  values_[static_cast<std::size_t>(slot)][Column(k)] = value;
  if (value == kErrorMarker) return;
  if (k == 0)
    slotMax_[static_cast<std::size_t>(slot)] = slotMin_[static_cast<std::size_t>(slot)] = value;
  else
    Widen(slot, value);
}

void Chart::StoreTime(long k, const SampleTime& time) { times_[Column(k)] = time; }

void Chart::ResetExtremes() {
  slotMax_.fill(-32767);
  slotMin_.fill(32767);
}

void Chart::StoreJumpValue(int slot, long k, int value) {
  values_[static_cast<std::size_t>(slot)][Column(k)] = value;
  if (value != kErrorMarker) Widen(slot, value);
}

int Chart::Value(int slot, long k) const { return values_[static_cast<std::size_t>(slot)][Column(k)]; }

SampleTime Chart::Time(long k) const { return times_[Column(k)]; }

void Chart::Widen(int slot, int value) {
  auto& mx = slotMax_[static_cast<std::size_t>(slot)];
  auto& mn = slotMin_[static_cast<std::size_t>(slot)];
  mx = std::max(mx, value);
  mn = std::min(mn, value);
}

void Chart::RecomputeExtremes() {
  const auto n = static_cast<std::size_t>(geometry_.columns);
  for (std::size_t s = 0; s < kSlots; ++s) {
    int mx = -32767;
    int mn = 32767;
    for (std::size_t c = 0; c < n; ++c) {
      const int v = values_[s][c];
      if (v == kErrorMarker) continue;
      mx = std::max(mx, v);
      mn = std::min(mn, v);
    }
    slotMax_[s] = mx;
    slotMin_[s] = mn;
  }
}

bool Chart::Followed(int slot) const {
  const Slot& s = slots_[static_cast<std::size_t>(slot)];
  return s.display && s.address != 0 && s.dropPoint == -1;
}

Extremes Chart::FollowedExtremes() const {
  Extremes e;
  for (int i = 0; i < kSlots; ++i) {
    if (!Followed(i)) continue;
    e.max = std::max(e.max, slotMax_[static_cast<std::size_t>(i)]);
    e.min = std::min(e.min, slotMin_[static_cast<std::size_t>(i)]);
  }
  return e;
}

bool Chart::AutoRangeWouldMove() const {
  const Extremes e = FollowedExtremes();
  return e.max > scale_.max || e.min < scale_.min;
}

int Chart::ClampedY(int value) const {
  return std::clamp(scale_.ToY(value, geometry_.bottom), geometry_.top, geometry_.bottom);
}

void Chart::Clear() {
  if (!surface_) return;
  const ChartGeometry& g = geometry_;
  surface_->FillCanvas(background_);
  surface_->Line(g.left - 20, g.bottom + 1, g.right + 25, g.bottom + 1, foreground_, 1, false);
  surface_->Line(g.left - 1, g.top + 2, g.left - 1, g.height - 5, foreground_, 1, false);
}

void Chart::DrawFrame(long q) {
  const ChartGeometry& g = geometry_;
  Clear();
  const long n = g.columns;
  // The column of the oldest sample still on the plot (kept within the memory).
  const long oldest = q < n ? 0 : (q % n + 1) % n;
  scale_ = ChooseScale(autoMode_, fixMax_, fixMin_, FollowedExtremes(), g.bottom);
  if (scale_.fellBackToAuto) {
    autoMode_ = true;
    if (surface_) surface_->FellBackToAuto();
  }
  if (autoMode_ && surface_) surface_->ScaleFields(scale_.max, scale_.min);
  if (surface_) {
    for (const GridLine& line : GridLines(scale_, g)) {
      surface_->Line(g.left, line.y, g.right + 20, line.y, foreground_, 1, false);
      if (line.labelled) surface_->Text(g.left - 30, line.y - 6, std::to_string(line.value), foreground_);
    }
  }
  for (int i = 0; i < kSlots; ++i) {
    if (slots_[static_cast<std::size_t>(i)].display && slots_[static_cast<std::size_t>(i)].address != 0)
      prevY_[static_cast<std::size_t>(i)] = ClampedY(values_[static_cast<std::size_t>(i)][static_cast<std::size_t>(oldest)]);
    prevY_[static_cast<std::size_t>(i)] = std::clamp(prevY_[static_cast<std::size_t>(i)], g.top, g.bottom);
  }
  x_ = 0;
}

void Chart::DrawSample(long k) {
  const ChartGeometry& g = geometry_;
  const std::size_t col = Column(k);
  const std::string timeText = ClockText(times_[col]);
  if (surface_) surface_->SampleTimeText(timeText);
  for (int i = 0; i < kSlots; ++i) {
    const auto si = static_cast<std::size_t>(i);
    Slot& slot = slots_[si];
    const int v = values_[si][col];
    if (v == kErrorMarker) {
      if (surface_) surface_->ValueBox(i, "Err");
      slot.address = 0;
    } else if (surface_) {
      surface_->ValueBox(i, TenthsText(v));
    }
    if (slot.display && slot.address != 0) {
      const int y = ClampedY(v);
      if (surface_) surface_->Line(g.left + x_, prevY_[si], g.left + x_ + 1, y, SlotColour(i), 2, false);
      prevY_[si] = y;
    }
  }
  if (k % kTimeLineEvery == 0 && surface_) {
    surface_->Line(g.left + x_, g.top, g.left + x_, g.bottom, foreground_, 1, true);
    if (x_ > 30) surface_->Text(g.left + x_ - 35, g.bottom + 4, timeText, foreground_);
    for (int i = 0; i < kSlots; ++i) {
      const auto si = static_cast<std::size_t>(i);
      const Slot& slot = slots_[si];
      const int py = prevY_[si];
      if (slot.display && slot.address != 0 && g.top + 2 < py && py < g.bottom - 16 && x_ > 20)
        surface_->Text(g.left + x_ - 20, py + 2, std::to_string(values_[si][col]), SlotColour(i));
    }
  }
  ++x_;
  if (x_ >= g.columns) {
    if (surface_) surface_->ScrollLeft(g.left, g.top, g.right + 15, g.height);
    x_ = g.columns - 1;
  }
}

void Chart::DrawNewSample(long k) {
  if (!drawFlag_) return;
  if (k == 0)
    DrawFrame(0);
  else if (autoMode_ && AutoRangeWouldMove())
    FullRedraw(k);
  else
    DrawSample(k);
}

void Chart::FullRedraw(long newest) {
  if (newest < 0) {
    DrawFrame(0);
    return;
  }
  const long n = geometry_.columns;
  const long s = newest < n ? 0 : newest - n;
  DrawFrame(newest);
  for (long k = s + 1; k <= newest; ++k) DrawSample(k);
}

}  // namespace kx::recorder
