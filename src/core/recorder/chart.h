// The recorder's strip chart: geometry from the window width, the chart memory
// (one column per sample, kept modulo the column count), the Auto/Fix value
// scale with its grid, and the drawing of the frame and of one sample column,
// with a one-pixel scroll once the plot is full. Drawing goes to a
// ChartSurface, which the window implements on a pixmap and tests record.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/recorder/recorder_types.h"

namespace kx::recorder {

inline constexpr int kChartMemoryColumns = 1800;
inline constexpr int kTimeLineEvery = 60;  // a dotted time line every 60 samples

struct ChartGeometry {
  int left = 35;      // L: x of column 0
  int right = 755;    // R
  int top = 5;        // T
  int bottom = 345;   // B: y of the scale base
  int width = 795;    // W: canvas width
  int height = 365;   // H: canvas height
  int columns = 720;  // N: R - L, at most the chart memory

  // Scaled from the 808-pixel design; N is limited to the chart memory, so a
  // very wide window leaves the plot's right part unused.
  static ChartGeometry ForWidth(int windowWidth);
};

// An integer typed in a field: blanks around it, an optional sign, decimal digits.
std::optional<int> WholeNumber(std::string_view text);

// Extremes over the slots the automatic scale follows.
struct Extremes {
  int max = -32767;
  int min = 32768;
};

struct Scale {
  bool expand = true;  // expand: pixels per value unit; compress: value units per pixel
  int factor = 10;
  int base = 0;        // value drawn at y = B
  int max = 0;         // value at the top of the scale
  int min = 0;         // value at the bottom (= base)
  int gridStep = 5;
  bool fellBackToAuto = false;  // Fix mode with unusable fields: Auto was used
  bool autoMoved = false;       // the automatic range widened the scale

  // y of a value, not clamped.
  int ToY(int value, int bottom) const;
};

struct FactorMode {
  bool expand = true;
  int factor = 1;
  friend bool operator==(const FactorMode&, const FactorMode&) = default;
};

// Factor and mode for a value range shown on `height` pixels.
FactorMode ChooseFactor(bool autoMode, int range, int height);

// The frame's scale: Fix takes the two fields (falling back to Auto when
// either is not a whole number or max <= min), Auto starts empty and follows
// `extremes`; then the range is centred on the plot and the grid step chosen.
Scale ChooseScale(bool autoMode, std::string_view maxText, std::string_view minText,
                  const Extremes& extremes, int bottom);

struct GridLine {
  int y = 0;
  int value = 0;
  bool labelled = false;
  friend bool operator==(const GridLine&, const GridLine&) = default;
};

// Grid lines from the first multiple of the step above the base up to the top.
std::vector<GridLine> GridLines(const Scale& scale, const ChartGeometry& geometry);

// Background colours in the order of the colour box; the first eight take a
// white foreground, the others black.
inline constexpr int kBackgroundColours = 16;
Rgb BackgroundColour(int index);
Rgb ForegroundFor(int index);

// What the chart draws on and writes to.
class ChartSurface {
 public:
  virtual ~ChartSurface() = default;
  virtual void FillCanvas(Rgb colour) = 0;  // (0, 0) to (W, H)
  virtual void Line(int x1, int y1, int x2, int y2, Rgb colour, int width, bool dotted) = 0;
  // Text with its top-left corner at (x, y).
  virtual void Text(int x, int y, std::string_view text, Rgb colour) = 0;
  // Copies (left + 1, top)..(right, bottom) one pixel to the left.
  virtual void ScrollLeft(int left, int top, int right, int bottom) = 0;
  // The value box PVn of a slot.
  virtual void ValueBox(int /*slot*/, std::string_view /*text*/) {}
  // Time of the newest drawn sample.
  virtual void SampleTimeText(std::string_view /*text*/) {}
  // Auto mode shows its scale in MaxScale and MinScale.
  virtual void ScaleFields(int /*max*/, int /*min*/) {}
  // Fix mode could not be used: DisplayMd shows "Auto".
  virtual void FellBackToAuto() {}
};

class Chart {
 public:
  explicit Chart(Slots& slots);

  void SetGeometry(const ChartGeometry& geometry) { geometry_ = geometry; }
  const ChartGeometry& geometry() const { return geometry_; }
  void SetSurface(ChartSurface* surface) { surface_ = surface; }

  // ---- Display settings ----
  void SetAutoMode(bool on) { autoMode_ = on; }
  bool autoMode() const { return autoMode_; }
  void SetFixTexts(std::string maxText, std::string minText);
  void SetBackground(int index);
  Rgb background() const { return background_; }
  // Draw flag := some slot is displayed and has a nonzero address.
  bool DecideDrawFlag();
  void SetDrawFlag(bool on) { drawFlag_ = on; }
  bool drawFlag() const { return drawFlag_; }

  // ---- Chart memory ----
  // Acquisition: value of slot for sample k, with the live extremes rule.
  void StoreLiveValue(int slot, long k, int value);
  // Replay: value of slot for record k (error markers never count).
  void StoreReplayValue(int slot, long k, int value);
  void StoreTime(long k, const SampleTime& time);
  // Jump: extremes start empty and are widened by the values stored with
  // StoreJumpValue.
  void ResetExtremes();
  void StoreJumpValue(int slot, long k, int value);
  int Value(int slot, long k) const;
  SampleTime Time(long k) const;
  int SlotMax(int slot) const { return slotMax_[static_cast<std::size_t>(slot)]; }
  int SlotMin(int slot) const { return slotMin_[static_cast<std::size_t>(slot)]; }

  // ---- Drawing ----
  void Clear();
  void DrawFrame(long q);
  void DrawSample(long k);
  // After a completed cycle or a replayed record: the frame for sample 0, a
  // full redraw when the automatic scale must grow, else one column.
  void DrawNewSample(long k);
  // Frame and the last N samples up to `newest`; the frame only when newest < 0.
  void FullRedraw(long newest);

  const Scale& scale() const { return scale_; }
  int x() const { return x_; }

 private:
  std::size_t Column(long k) const;
  bool Followed(int slot) const;  // displayed, addressed, not dropped
  Extremes FollowedExtremes() const;
  bool AutoRangeWouldMove() const;
  int ClampedY(int value) const;
  void Widen(int slot, int value);
  void RecomputeExtremes();

  Slots& slots_;
  ChartSurface* surface_ = nullptr;
  ChartGeometry geometry_;
  std::array<std::array<int, kChartMemoryColumns>, kSlots> values_{};
  std::array<SampleTime, kChartMemoryColumns> times_{};
  std::array<int, kSlots> slotMax_{};
  std::array<int, kSlots> slotMin_{};
  std::array<int, kSlots> prevY_{};
  int x_ = 0;
  Scale scale_;
  bool autoMode_ = true;
  std::string fixMax_ = "100";
  std::string fixMin_ = "0";
  bool drawFlag_ = false;
  Rgb background_ = 0xFFFFFF;
  Rgb foreground_ = 0x000000;
};

}  // namespace kx::recorder
