#include "monitor/trend_view.h"

#include <QPainter>

namespace kx::monitor {

namespace {

const QColor kSilver(0xC0, 0xC0, 0xC0);

QString Q(const std::string& text) { return QString::fromStdString(text); }

QPoint P(const trend::Point& p) { return {p.x, p.y}; }

}  // namespace

trend::Geometry TrendView::GeometryFor(QSize size) {
  const trend::Geometry design;
  trend::Geometry g;
  g.width = std::max(1, size.width());
  g.height = std::max(1, size.height());
  g.left = design.left * g.width / design.width;
  g.right = design.right * g.width / design.width;
  g.top = design.top * g.height / design.height;
  g.bottom = design.bottom * g.height / design.height;
  return g;
}

TrendView::TrendView(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("DrawIme"));
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void TrendView::EnsurePicture(const trend::Geometry& g) {
  const QSize size(std::max(1, g.width), std::max(1, g.height));
  if (picture_.size() != size) {
    picture_ = QImage(size, QImage::Format_RGB32);
    picture_.fill(Qt::black);
  }
}

QFont TrendView::LabelFont(const trend::Geometry& g) const {
  QFont f = font();
  // 9 pixels in the design's 785 x 250 box, scaled with the box's smaller
  // side, so the minute labels 60 samples apart stay clear of each other.
  const trend::Geometry design;
  f.setPixelSize(std::max(6, std::min(g.height * 9 / design.height, g.width * 9 / design.width)));
  return f;
}

void TrendView::DrawFull(const trend::FullDrawing& d, const trend::Geometry& g) {
  EnsurePicture(g);
  picture_.fill(Qt::black);
  QPainter p(&picture_);
  p.setFont(LabelFont(g));
  p.setPen(Qt::white);
  p.drawRect(0, 0, g.width - 1, g.height - 1);
  p.drawLine(g.left - 15, g.bottom, g.right + 10, g.bottom);
  p.drawLine(g.left, g.top, g.left, g.bottom + 15);
  for (const trend::GridLine& line : d.grid) {
    p.setPen(kSilver);
    p.drawLine(g.left, line.y, g.right + 5, line.y);
    p.setPen(Qt::white);
    // Value labels end just left of the axis, whatever their length and the
    // font size the chart's height gives them.
    const QString label = Q(line.label);
    const int x = std::max(1, g.left - 4 - p.fontMetrics().horizontalAdvance(label));
    p.drawText(QPoint(x, line.y - 4 + p.fontMetrics().ascent() / 2), label);
  }
  p.setPen(Qt::white);
  for (const trend::Segment& s : d.curve) p.drawLine(P(s.from), P(s.to));
  for (const trend::Marker& m : d.markers) {
    p.setPen(QPen(Qt::white, 1, Qt::DotLine));
    p.drawLine(m.x, m.yTop, m.x, m.yBottom);
    if (!m.label.empty()) {
      p.setPen(Qt::white);
      p.drawText(QPoint(m.labelAt.x, m.labelAt.y + p.fontMetrics().ascent()), Q(m.label));
    }
  }
  update();
}

void TrendView::DrawIncremental(const trend::IncrementalDrawing& d, const trend::Geometry& g) {
  EnsurePicture(g);
  QPainter p(&picture_);
  if (d.scroll) {
    const QRect from(QPoint(g.left + 2, g.top), QPoint(g.right + 4, g.bottom));
    const QImage strip = picture_.copy(from);
    p.drawImage(QPoint(g.left + 1, g.top), strip);
  }
  p.setPen(Qt::white);
  p.drawLine(P(d.segment.from), P(d.segment.to));
  if (d.marker) {
    p.setFont(LabelFont(g));
    p.setPen(QPen(Qt::white, 1, Qt::DotLine));
    p.drawLine(d.marker->x, d.marker->yTop, d.marker->x, d.marker->yBottom);
    p.setPen(Qt::white);
    p.drawText(QPoint(d.marker->labelAt.x, d.marker->labelAt.y + p.fontMetrics().ascent()), Q(d.marker->label));
  }
  update();
}

void TrendView::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), Qt::black);
  p.drawImage(QPoint(0, 0), picture_);
}

}  // namespace kx::monitor
