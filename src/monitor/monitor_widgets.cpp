#include "monitor/monitor_widgets.h"

#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <initializer_list>

namespace kx::monitor {

QColor ToQColor(looks::Rgb rgb) { return QColor(rgb.r, rgb.g, rgb.b); }

namespace {

// One colour in each of `roles` of the widget's palette.
void SetRoles(QWidget* widget, std::initializer_list<QPalette::ColorRole> roles, QColor colour) {
  QPalette palette = widget->palette();
  for (const QPalette::ColorRole role : roles) palette.setColor(role, colour);
  widget->setPalette(palette);
}

// Stores a new look of `widget` and repaints it; an unchanged look costs no repaint.
template <typename T>
void Change(QWidget* widget, T& held, const T& value) {
  if (value == held) return;
  held = value;
  widget->update();
}

}  // namespace

void SetBackground(QWidget* widget, QColor colour) {
  SetRoles(widget, {QPalette::Window, QPalette::Base, QPalette::Button}, colour);
  widget->setAutoFillBackground(true);
}

void SetTextColour(QWidget* widget, QColor colour) {
  SetRoles(widget, {QPalette::WindowText, QPalette::Text, QPalette::ButtonText}, colour);
}

QColor Background(const QWidget* widget) { return widget->palette().color(QPalette::Window); }
QColor TextColour(const QWidget* widget) { return widget->palette().color(QPalette::WindowText); }

OneColourWidget::OneColourWidget(QWidget* parent, const QString& name, QColor colour)
    : QWidget(parent), colour_(colour) {
  setObjectName(name);
}

void OneColourWidget::SetColour(QColor colour) { Change(this, colour_, colour); }

void Lamp::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  const int side = std::min(width(), height()) - 2;
  const QRect circle((width() - side) / 2, (height() - side) / 2, side, side);
  painter.setPen(QPen(QColor(0x40, 0x40, 0x40), 1));
  painter.setBrush(colour_);
  painter.drawEllipse(circle);
  // A small highlight makes the lamp read as a lamp rather than a dot.
  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor(255, 255, 255, 90));
  painter.drawEllipse(circle.adjusted(side / 5, side / 6, -side / 2, -side / 2));
}

void LevelBar::SetValue(int value) { Change(this, value_, std::clamp(value, 0, looks::kBarMax)); }

void LevelBar::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const QRect frame = rect().adjusted(0, 0, -1, -1);
  painter.fillRect(rect(), Qt::white);
  const int filled = (width() - 2) * value_ / looks::kBarMax;
  painter.fillRect(QRect(1, 1, filled, height() - 2), colour_);
  painter.setPen(QColor(0x80, 0x80, 0x80));
  painter.drawRect(frame);
}

RoundFrame::RoundFrame(QWidget* parent, const QString& name, QColor pen, int penWidth, QColor fill)
    : QWidget(parent), pen_(pen), penWidth_(penWidth), fill_(fill) {
  setObjectName(name);
}

void RoundFrame::SetPenColour(QColor colour) { Change(this, pen_, colour); }

void RoundFrame::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(QPen(pen_, penWidth_));
  painter.setBrush(fill_.isValid() ? QBrush(fill_) : QBrush(Qt::NoBrush));
  const qreal half = penWidth_ / 2.0;
  const qreal radius = std::min(width(), height()) / 8.0;
  painter.drawRoundedRect(QRectF(rect()).adjusted(half, half, -half, -half), radius, radius);
}

ClickLabel::ClickLabel(QWidget* parent, const QString& name, const QString& text)
    : QLabel(text, parent) {
  setObjectName(name);
  setCursor(Qt::PointingHandCursor);
}

void ClickLabel::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) emit Clicked();
  QLabel::mousePressEvent(event);
}

void ClickLabel::mouseDoubleClickEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) emit DoubleClicked();
  QLabel::mouseDoubleClickEvent(event);
}

QLabel* MakeLabel(QWidget* parent, const QString& name, const QString& text, QColor background,
                  QColor textColour, Qt::Alignment align) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(name);
  label->setAlignment(align);
  if (background.isValid()) SetBackground(label, background);
  if (textColour.isValid()) SetTextColour(label, textColour);
  return label;
}

void DesignScaler::Add(QWidget* widget, QRect design, int fontPt) {
  if (Entry* entry = Find(widget)) {
    entry->rect = design;
    entry->fontPt = fontPt;
    return;
  }
  entries_.push_back({widget, design, fontPt});
}

void DesignScaler::Move(QWidget* widget, QRect design) {
  if (Entry* entry = Find(widget)) entry->rect = design;
}

void DesignScaler::SetFont(QWidget* widget, int fontPt) {
  Entry* entry = Find(widget);
  if (!entry || entry->fontPt == fontPt) return;
  entry->fontPt = fontPt;
  if (width_ > 0) ApplyTo(widget, width_);
}

QRect DesignScaler::Design(const QWidget* widget) const {
  const Entry* entry = Find(widget);
  return entry ? entry->rect : QRect();
}

void DesignScaler::Apply(int width) {
  width_ = width;
  for (const Entry& entry : entries_) {
    if (entry.widget) ApplyTo(entry.widget, width);
  }
}

void DesignScaler::ApplyTo(QWidget* widget, int width) const {
  const Entry* entry = Find(widget);
  if (!entry || !entry->widget) return;
  using looks::Scale;
  const QRect& r = entry->rect;
  widget->setGeometry(Scale(r.x(), width), Scale(r.y(), width), Scale(r.width(), width),
                      Scale(r.height(), width));
  if (entry->fontPt > 0) {
    QFont font = widget->font();
    font.setPointSize(std::max(1, Scale(entry->fontPt, width)));
    widget->setFont(font);
  }
}

DesignScaler::Entry* DesignScaler::Find(const QWidget* widget) {
  auto it = std::find_if(entries_.begin(), entries_.end(),
                         [widget](const Entry& e) { return e.widget == widget; });
  return it == entries_.end() ? nullptr : &*it;
}

const DesignScaler::Entry* DesignScaler::Find(const QWidget* widget) const {
  auto it = std::find_if(entries_.begin(), entries_.end(),
                         [widget](const Entry& e) { return e.widget == widget; });
  return it == entries_.end() ? nullptr : &*it;
}

}  // namespace kx::monitor
