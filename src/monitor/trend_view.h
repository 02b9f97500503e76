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

  void drawFull(const trend::FullDrawing& drawing, const trend::Geometry& g);
  void drawIncremental(const trend::IncrementalDrawing& drawing, const trend::Geometry& g);
  const QImage& picture() const { return picture_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void ensurePicture(const trend::Geometry& g);
  QFont labelFont(const trend::Geometry& g) const;

  QImage picture_;
};

}  // namespace kx::monitor
