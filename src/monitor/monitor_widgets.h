// Small drawn controls of the monitor window: round lamps, output bars, rounded
// frames, clickable label panels, and the design-size bookkeeping that scales
// every control by the window width / 808.
#pragma once

#include <QColor>
#include <QLabel>
#include <QPointer>
#include <QRect>
#include <QWidget>

#include <vector>

#include "core/monitor/tile_looks.h"

namespace kx::monitor {

QColor ToQColor(looks::Rgb rgb);

// Sets the background (and optionally the text colour) of a widget through its
// palette, so tests can read them back with palette().color(...).
void SetBackground(QWidget* widget, QColor colour);
void SetTextColour(QWidget* widget, QColor colour);
QColor Background(const QWidget* widget);
QColor TextColour(const QWidget* widget);

// A drawn control in one colour that can change; a change repaints it.
class OneColourWidget : public QWidget {
  Q_OBJECT
 public:
  OneColourWidget(QWidget* parent, const QString& name, QColor colour);
  void SetColour(QColor colour);
  QColor colour() const { return colour_; }

 protected:
  QColor colour_;
};

// A round lamp filled with one colour.
class Lamp : public OneColourWidget {
  Q_OBJECT
 public:
  using OneColourWidget::OneColourWidget;

 protected:
  void paintEvent(QPaintEvent* event) override;
};

// A horizontal level bar, 0..1000, in one colour.
class LevelBar : public OneColourWidget {
  Q_OBJECT
 public:
  using OneColourWidget::OneColourWidget;
  void SetValue(int value);
  int value() const { return value_; }
  int Maximum() const { return looks::kBarMax; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  int value_ = 0;
};

// A rounded rectangle: outline in a pen colour and width, optionally filled.
class RoundFrame : public QWidget {
  Q_OBJECT
 public:
  RoundFrame(QWidget* parent, const QString& name, QColor pen, int penWidth, QColor fill);
  void SetPenColour(QColor colour);
  QColor penColour() const { return pen_; }
  int penWidth() const { return penWidth_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QColor pen_;
  int penWidth_;
  QColor fill_;
};

// A label panel that reports mouse clicks.
class ClickLabel : public QLabel {
  Q_OBJECT
 public:
  ClickLabel(QWidget* parent, const QString& name, const QString& text);

 signals:
  void Clicked();
  void DoubleClicked();

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
};

// A label that shows a text on a coloured background: the panels, display fields
// and counters of the monitor.
QLabel* MakeLabel(QWidget* parent, const QString& name, const QString& text, QColor background,
                  QColor textColour, Qt::Alignment align = Qt::AlignCenter);

// Remembers each control's design geometry and font size (at width 808) and
// applies them scaled to a given window width.
class DesignScaler {
 public:
  // fontPt 0 keeps the widget's font size as it is.
  void Add(QWidget* widget, QRect design, int fontPt = 0);
  // Changes the design geometry of a control already added (the front-panel
  // lamps move between the two models).
  void Move(QWidget* widget, QRect design);
  // Changes the design font size of a control (the PV field switches sizes) and
  // applies it at once at the width last applied.
  void SetFont(QWidget* widget, int fontPt);
  int width() const { return width_; }
  QRect Design(const QWidget* widget) const;
  void Apply(int width);
  void ApplyTo(QWidget* widget, int width) const;

 private:
  struct Entry {
    QPointer<QWidget> widget;
    QRect rect;
    int fontPt = 0;
  };
  Entry* Find(const QWidget* widget);
  const Entry* Find(const QWidget* widget) const;
  std::vector<Entry> entries_;
  int width_ = 0;
};

}  // namespace kx::monitor
