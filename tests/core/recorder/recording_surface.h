// A ChartSurface that records what the chart draws and writes.
#pragma once

#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "core/recorder/chart.h"

namespace kx::recorder {

struct RecordingSurface : ChartSurface {
  struct LineCall {
    int x1, y1, x2, y2;
    Rgb colour;
    int width;
    bool dotted;
  };
  struct Rect {
    int left, top, right, bottom;
    friend bool operator==(const Rect&, const Rect&) = default;
  };

  void FillCanvas(Rgb colour) override {
    ++fills;
    lastFill = colour;
    lines.clear();
    texts.clear();
  }
  void Line(int x1, int y1, int x2, int y2, Rgb colour, int width, bool dotted) override {
    lines.push_back({x1, y1, x2, y2, colour, width, dotted});
  }
  void Text(int, int, std::string_view text, Rgb) override { texts.emplace_back(text); }
  void ScrollLeft(int left, int top, int right, int bottom) override {
    ++scrolls;
    lastScroll = {left, top, right, bottom};
  }
  void ValueBox(int slot, std::string_view text) override { valueBoxes[static_cast<std::size_t>(slot)] = text; }
  void SampleTimeText(std::string_view text) override { sampleTime = text; }
  void ScaleFields(int max, int min) override {
    scaleMax = max;
    scaleMin = min;
  }
  void FellBackToAuto() override { fellBack = true; }

  // Trace segments (width 2) since the last fill.
  std::vector<LineCall> Traces() const {
    std::vector<LineCall> out;
    for (const auto& l : lines)
      if (l.width == 2) out.push_back(l);
    return out;
  }
  bool HasText(const std::string& t) const { return std::find(texts.begin(), texts.end(), t) != texts.end(); }

  int fills = 0;
  Rgb lastFill = 0;
  int scrolls = 0;
  Rect lastScroll{};
  std::vector<LineCall> lines;
  std::vector<std::string> texts;
  std::array<std::string, kSlots> valueBoxes{};
  std::string sampleTime;
  int scaleMax = 0, scaleMin = 0;
  bool fellBack = false;
};

}  // namespace kx::recorder
