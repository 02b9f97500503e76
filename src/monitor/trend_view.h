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
