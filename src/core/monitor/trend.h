// The monitor's PV trend: one ring of samples per device taken once a second,
// the running extremes with their two-minute recomputation, the scale of the
// chart (multiply or divide mode, base value), its grid, and the drawing as a
// list of plain shapes, full or one new sample at a time. The monitor window
// only paints these shapes.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kx::trend {

inline constexpr int kDevices = 4;
inline constexpr int kNoDevice = 255;
inline constexpr int kMinRing = 2000;
inline constexpr int kTickWrapFrom = 12000;  // the tick count goes on at 120 (same minute and
inline constexpr int kTickWrapTo = 120;      // two-minute remainders)
inline constexpr int kMinuteTicks = 60;
inline constexpr int kRecomputeTicks = 120;

// Chart geometry at a window width (design values at width 808).
struct Geometry {
  int width = 785;   // paint box
  int height = 250;
  int left = 35;     // plot edges
  int right = 755;
  int top = 0;
  int bottom = 225;
  int Samples() const { return right - left; }  // N
  static Geometry AtWidth(int windowWidth);
  friend bool operator==(const Geometry&, const Geometry&) = default;
};

enum class ScaleMode : std::uint8_t { Multiply, Divide };

struct Scale {
  int span = 0;  // max - min
  int k = 10;    // multiply: pixels per tenth; divide: tenths per pixel
  ScaleMode mode = ScaleMode::Multiply;
  int v0 = 0;    // value at y = bottom + 1
  int Y(int value, const Geometry& g) const;
  int GridStep() const;  // in tenths
  friend bool operator==(const Scale&, const Scale&) = default;
};

// Scale for the extremes, so that the middle value sits at mid-height.
Scale ComputeScale(int min, int max, int bottom);

struct GridLine {
  int y;
  int value;  // tenths
  std::string label;
};
// Grid lines from the base value upwards while they lie in the plot.
std::vector<GridLine> Grid(const Scale& s, const Geometry& g);

// A sample (tenths) as text: "123.4", "-1.5".
std::string TenthsText(int value);

struct Point {
  int x = 0;
  int y = 0;
  friend bool operator==(const Point&, const Point&) = default;
};
struct Segment {
  Point from, to;
};
// Dotted minute line with the sample's value (label empty: line only).
struct Marker {
  int x;
  int yTop;
  int yBottom;
  std::string label;
  Point labelAt;
};

// The PV history of one device.
class Ring {
 public:
  explicit Ring(int n = 720);
  void Reset();
  // Another number of samples across the plot: keeps the newest samples.
  void Resize(int n);
  // Stores a sample at the write index and widens the extremes.
  void Store(int sample);
  // Every two minutes once wrapped: extremes over the whole ring. True when
  // they changed.
  bool RecomputeDue() const { return wrapped_ && tickCount_ % kRecomputeTicks == 0; }
  bool Recompute();
  // After the tick: write index and tick count move on.
  void Step();

  bool HasSample() const { return writeIndex_ > 0 || wrapped_; }
  int n() const { return n_; }
  int writeIndex() const { return writeIndex_; }
  int tickCount() const { return tickCount_; }
  bool wrapped() const { return wrapped_; }
  int max() const { return max_; }
  int min() const { return min_; }
  int newest() const { return newest_; }         // position of the newest sample
  int newestTick() const { return newestTick_; } // tick count it was taken at
  int At(int position) const { return samples_.at(static_cast<std::size_t>(position)); }

 private:
  int n_;
  std::vector<int> samples_;
  int writeIndex_ = 0;
  int tickCount_ = 0;
  bool wrapped_ = false;
  int max_ = 0;
  int min_ = 0;
  int newest_ = 0;
  int newestTick_ = 0;
};

struct FullDrawing {
  Scale scale;
  std::vector<GridLine> grid;
  std::vector<Segment> curve;
  std::vector<Marker> markers;
};

struct IncrementalDrawing {
  bool scroll = false;  // move the plot one pixel to the left first
  Segment segment;
  std::optional<Marker> marker;
};

// What one timer tick asks the view to do.
struct TickDrawing {
  enum class Kind : std::uint8_t { None, Full, Incremental, StopTimer };
  Kind kind = Kind::None;
  FullDrawing full;
  IncrementalDrawing incremental;
};

class Trend {
 public:
  explicit Trend(Geometry g = {});
  const Geometry& geometry() const { return g_; }
  void SetGeometry(const Geometry& g);
  // A device connected or changed its address: its history starts afresh.
  void ResetDevice(int d);
  void ResetAll();
  // The next drawing is a full one (view switched, selection changed).
  void ForceFull() { shownDevice_ = kNoDevice; }

  // One tick of the one-second timer: samples every connected device's PV
  // (register words, read as signed tenths) and says what to draw for the
  // selected device when the view is shown.
  TickDrawing Tick(const std::array<bool, kDevices>& connected,
                   const std::array<std::uint16_t, kDevices>& pv, int selected, bool viewShown);

  // Full drawing of the selected device's history (also on paint requests).
  FullDrawing Full(int selected);
  const Ring& RingOf(int d) const { return rings_.at(static_cast<std::size_t>(d)); }
  int shownDevice() const { return shownDevice_; }
  const Scale& scale() const { return scale_; }

 private:
  std::optional<IncrementalDrawing> Incremental(int selected);

  Geometry g_;
  std::array<Ring, kDevices> rings_;
  int shownDevice_ = kNoDevice;
  Scale scale_;
  Point last_;
};

}  // namespace kx::trend
