// The trend area `DrawIme`: paints the shapes the core trend computes into a
// picture that is kept between ticks, so one new sample costs one line (and a
// one-pixel scroll once the plot is full).
#pragma once

#include <QImage>
#include <QWidget>

#include "core/monitor/trend.h"

namespace kx::monitor {

class TrendView : public QWidget {
  Q_OBJECT
 public:
  explicit TrendView(QWidget* parent);

  // The chart geometry for a paint box of `size`: the design's margins
  // (785 x 250 pixels, plot 35..755 across and 0..225 down) scaled across by
  // the width and down by the height, so the plot fills the box.
  static trend::Geometry GeometryFor(QSize size);

  void DrawFull(const trend::FullDrawing& drawing, const trend::Geometry& g);
  void DrawIncremental(const trend::IncrementalDrawing& drawing, const trend::Geometry& g);
  const QImage& picture() const { return picture_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void EnsurePicture(const trend::Geometry& g);
  QFont LabelFont(const trend::Geometry& g) const;

  QImage picture_;
};

}  // namespace kx::monitor
