#include "core/monitor/trend.h"

#include <algorithm>
#include <cstdlib>

namespace kx::trend {

namespace {

constexpr int kDesignWidth = 808;
constexpr int kBandMargin = 15;    // a point this close to the bottom leaves the band
constexpr int kTopMargin = 5;      // ... or this close to the top
constexpr int kShrinkPixels = 50;  // a span shrunk by more than this redraws fully
constexpr int kFirstValueLabel = 40;  // full drawing: no value labels left of this

int ScaledValue(int v, int width) { return v * width / kDesignWidth; }

// Floor division (the grid starts below a negative base value too).
int FloorDiv(int a, int b) {
  int q = a / b;
  if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
  return q;
}

bool MinuteMark(int tick) { return ((tick % kMinuteTicks) + kMinuteTicks) % kMinuteTicks == 0; }

}  // namespace

Geometry Geometry::AtWidth(int w) {
  const Geometry d;
  Geometry g;
  g.width = ScaledValue(d.width, w);
  g.height = ScaledValue(d.height, w);
  g.left = ScaledValue(d.left, w);
  g.right = ScaledValue(d.right, w);
  g.top = ScaledValue(d.top, w);
  g.bottom = ScaledValue(d.bottom, w);
  return g;
}

int Scale::Y(int value, const Geometry& g) const {
  return mode == ScaleMode::Multiply ? g.bottom + 1 - (value - v0) * k : g.bottom + 1 - (value - v0) / k;
}

int Scale::GridStep() const {
  if (mode == ScaleMode::Multiply) return k > 4 ? 10 : 50;
  if (k <= 5) return 100;
  if (k <= 20) return 500;
  if (k <= 40) return 1000;
  return 2000;
}

Scale ComputeScale(int min, int max, int bottom) {
  Scale s;
  s.span = max - min;
  const int room = bottom - 30;
  if (s.span < room) {
    s.mode = ScaleMode::Multiply;
    s.k = 1;
    for (int k = 10; k >= 1; --k) {
      if (s.span * k <= room) {
        s.k = k;
        break;
      }
    }
    s.v0 = (min + s.span / 2) - (bottom / 2) / s.k;
  } else {
    s.mode = ScaleMode::Divide;
    s.k = 1;
    while (s.span / s.k > room) ++s.k;
    s.v0 = (min + s.span / 2) - (bottom / 2) * s.k;
  }
  return s;
}

std::vector<GridLine> Grid(const Scale& s, const Geometry& g) {
  std::vector<GridLine> lines;
  const int step = s.GridStep();
  int v = FloorDiv(s.v0, step) * step;
  for (;;) {
    v += step;
    const int y = s.Y(v, g);
    if (y < 1) break;
    lines.push_back({y, v, std::to_string(v / 10) + ".0"});
  }
  return lines;
}

std::string TenthsText(int value) {
  const int magnitude = std::abs(value);
  return (value < 0 ? "-" : "") + std::to_string(magnitude / 10) + "." + std::to_string(magnitude % 10);
}

// ---------------------------------------------------------------------------

Ring::Ring(int n) : n_(n), samples_(static_cast<std::size_t>(std::max(kMinRing, n + 1))) {}

void Ring::Reset() {
  writeIndex_ = 0;
  tickCount_ = 0;
  wrapped_ = false;
  newest_ = 0;
  newestTick_ = 0;
}

void Ring::Resize(int n) {
  if (n == n_ || n < 1) return;
  std::vector<int> history;
  if (wrapped_) {
    for (int j = 1; j <= n_; ++j) history.push_back(samples_[static_cast<std::size_t>((newest_ + j) % n_)]);
  } else if (HasSample()) {
    history.assign(samples_.begin(), samples_.begin() + newest_ + 1);
  }
  n_ = n;
  samples_.assign(static_cast<std::size_t>(std::max(kMinRing, n + 1)), 0);
  if (static_cast<int>(history.size()) > n) history.erase(history.begin(), history.end() - n);
  std::copy(history.begin(), history.end(), samples_.begin());
  const int count = static_cast<int>(history.size());
  wrapped_ = count == n;
  writeIndex_ = count;
  newest_ = std::max(0, count - 1);
  if (count > 0) {
    const auto [lo, hi] = std::minmax_element(history.begin(), history.end());
    min_ = *lo;
    max_ = *hi;
  }
}

void Ring::Store(int sample) {
  samples_[static_cast<std::size_t>(writeIndex_)] = sample;
  if (writeIndex_ <= 1 && !wrapped_) {
    max_ = min_ = sample;
  } else {
    max_ = std::max(max_, sample);
    min_ = std::min(min_, sample);
  }
  if (writeIndex_ >= n_) {
    writeIndex_ = 0;
    wrapped_ = true;
    samples_[0] = sample;
  }
  newest_ = writeIndex_;
  newestTick_ = tickCount_;
}

bool Ring::Recompute() {
  const auto first = samples_.begin();
  const auto [lo, hi] = std::minmax_element(first, first + n_);
  if (*lo == min_ && *hi == max_) return false;
  min_ = *lo;
  max_ = *hi;
  return true;
}

void Ring::Step() {
  ++writeIndex_;
  if (++tickCount_ == kTickWrapFrom) tickCount_ = kTickWrapTo;
}

// ---------------------------------------------------------------------------

Trend::Trend(Geometry g) : g_(g) {
  for (Ring& r : rings_) r = Ring(g_.Samples());
}

void Trend::SetGeometry(const Geometry& g) {
  if (g == g_) return;
  g_ = g;
  for (Ring& r : rings_) r.Resize(g_.Samples());
  shownDevice_ = kNoDevice;
}

void Trend::ResetDevice(int d) {
  if (d < 0 || d >= kDevices) return;
  rings_[static_cast<std::size_t>(d)].Reset();
  shownDevice_ = kNoDevice;
}

void Trend::ResetAll() {
  for (Ring& r : rings_) r.Reset();
  shownDevice_ = kNoDevice;
}

TickDrawing Trend::Tick(const std::array<bool, kDevices>& connected,
                        const std::array<std::uint16_t, kDevices>& pv, int selected, bool viewShown) {
  TickDrawing out;
  if (std::none_of(connected.begin(), connected.end(), [](bool c) { return c; })) {
    out.kind = TickDrawing::Kind::StopTimer;
    return out;
  }
  for (int d = 0; d < kDevices; ++d) {
    if (!connected[static_cast<std::size_t>(d)]) continue;
    Ring& r = rings_[static_cast<std::size_t>(d)];
    r.Store(static_cast<std::int16_t>(pv[static_cast<std::size_t>(d)]));
    if (r.RecomputeDue() && r.Recompute() && d == selected) {
      const int shrink = scale_.span - (r.max() - r.min());
      const int pixels = scale_.mode == ScaleMode::Multiply ? shrink * scale_.k : shrink / scale_.k;
      if (pixels > kShrinkPixels) shownDevice_ = kNoDevice;
    }
  }
  const bool selectedValid = selected >= 0 && selected < kDevices;
  if (viewShown && selectedValid && connected[static_cast<std::size_t>(selected)] &&
      RingOf(selected).HasSample()) {
    std::optional<IncrementalDrawing> inc;
    if (shownDevice_ == selected) inc = Incremental(selected);
    if (inc) {
      out.kind = TickDrawing::Kind::Incremental;
      out.incremental = *inc;
    } else {
      out.kind = TickDrawing::Kind::Full;
      out.full = Full(selected);
    }
  }
  for (int d = 0; d < kDevices; ++d) {
    if (connected[static_cast<std::size_t>(d)]) rings_[static_cast<std::size_t>(d)].Step();
  }
  return out;
}

FullDrawing Trend::Full(int selected) {
  FullDrawing f;
  shownDevice_ = selected;
  if (selected < 0 || selected >= kDevices) return f;
  const Ring& r = RingOf(selected);
  scale_ = ComputeScale(r.min(), r.max(), g_.bottom);
  f.scale = scale_;
  f.grid = Grid(scale_, g_);
  if (!r.HasSample()) return f;
  const int n = r.n();
  // Wrapped: the whole ring, the newest sample at the right edge. Otherwise
  // positions 1 to the newest, each at its own x (position 0 sits on the axis).
  const int count = r.wrapped() ? n : r.newest();
  const auto positionOf = [&](int j) { return r.wrapped() ? (r.newest() + j) % n : j; };
  if (count < 1) {
    last_ = {g_.left + 1, scale_.Y(r.At(r.newest()), g_)};
    return f;
  }
  last_ = {g_.left + 1, scale_.Y(r.At(positionOf(1)), g_)};
  for (int j = 1; j <= count; ++j) {
    const int sample = r.At(positionOf(j));
    const Point p{g_.left + j, scale_.Y(sample, g_)};
    f.curve.push_back({last_, p});
    last_ = p;
    const int tick = r.newestTick() - (count - j);
    if (MinuteMark(tick)) {
      Marker m{p.x, g_.top + 5, g_.bottom, {}, {p.x - 33, p.y + 3}};
      if (j > kFirstValueLabel) m.label = TenthsText(sample);
      f.markers.push_back(std::move(m));
    }
  }
  return f;
}

std::optional<IncrementalDrawing> Trend::Incremental(int selected) {
  const Ring& r = RingOf(selected);
  const int sample = r.At(r.newest());
  const int y = scale_.Y(sample, g_);
  if (y > g_.bottom - kBandMargin || y <= kTopMargin) return std::nullopt;  // rescale
  IncrementalDrawing inc;
  int x = g_.left + r.newest();
  if (r.wrapped()) {
    inc.scroll = true;
    last_.x = g_.right - 1;
    x = g_.right;
  }
  const Point p{x, y};
  inc.segment = {last_, p};
  last_ = p;
  if (MinuteMark(r.newestTick())) {
    inc.marker = Marker{x, g_.top, g_.bottom, TenthsText(sample), {x - 33, y + 3}};
  }
  return inc;
}

}  // namespace kx::trend
