// Geometry checks of a shown window, for the layout tests at the screen sizes
// the program is used at: every visible named control lies whole inside the
// window's visible area (not cut off by its parent, a scroll area's viewport,
// the menu or the status bar), no two visible sibling controls overlap unless
// they are stacked on purpose, and a caption fits its control.
// Header-only, Qt Widgets.
#pragma once

#include <QAbstractButton>
#include <QAbstractScrollArea>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QRegularExpression>
#include <QStringList>
#include <QWidget>

#include <functional>

namespace kx::test {

// The part of `w` (in window coordinates) that can be seen: its rectangle
// clipped by every ancestor up to the window.
inline QRect SeenRect(const QWidget& w) {
  QRect seen(w.mapTo(w.window(), QPoint(0, 0)), w.size());
  for (const QWidget* a = w.parentWidget(); a != nullptr; a = a->parentWidget()) {
    if (a->isWindow()) {
      seen &= a->rect();
      break;
    }
    seen &= QRect(a->mapTo(a->window(), QPoint(0, 0)), a->size());
  }
  return seen;
}

inline bool Named(const QWidget& w) {
  return !w.objectName().isEmpty() && !w.objectName().startsWith(QLatin1String("qt_"));
}

// Named, visible controls of `window` that are not whole on screen.
inline QStringList ControlsCutOff(const QWidget& window) {
  QStringList faults;
  for (const QWidget* w : window.findChildren<QWidget*>()) {
    if (!Named(*w) || !w->isVisible() || w->isWindow() || w->window() != &window) continue;
    const QRect full(w->mapTo(&window, QPoint(0, 0)), w->size());
    if (SeenRect(*w) != full) {
      faults << QStringLiteral("%1 at (%2,%3 %4x%5) is cut off in a %6x%7 window")
                    .arg(w->objectName())
                    .arg(full.x())
                    .arg(full.y())
                    .arg(full.width())
                    .arg(full.height())
                    .arg(window.width())
                    .arg(window.height());
    }
  }
  return faults;
}

// A plain widget that only holds others and paints nothing itself: its
// children count as lying on its parent.
inline bool PlainContainer(const QWidget& w) {
  return w.metaObject() == &QWidget::staticMetaObject && !w.autoFillBackground() &&
         !w.testAttribute(Qt::WA_OpaquePaintEvent);
}

struct Placed {
  const QWidget* widget;
  QRect rect;  // in the coordinates of the parent the siblings share
  int z;       // stacking among them: a later one is drawn in front
};

// The visible controls lying on `parent`, plain containers opened up.
inline void CollectSiblings(const QWidget& parent, const QWidget& on, QList<Placed>& out, int z = -1) {
  int index = 0;
  for (QObject* o : parent.children()) {
    auto* w = qobject_cast<QWidget*>(o);
    ++index;
    if (w == nullptr || !w->isVisible() || w->isWindow()) continue;
    const int order = z >= 0 ? z : index;
    if (PlainContainer(*w)) {
      CollectSiblings(*w, on, out, order);
    } else if (Named(*w)) {
      out.push_back({w, QRect(w->mapTo(&on, QPoint(0, 0)), w->size()), order});
    }
  }
}

// Pairs of visible sibling controls that overlap. `stacked(a, b)` says
// whether a pair lies over each other by design (a picture behind its
// displays, the boxes of one place of which one is in front); it is asked
// with the control drawn behind first.
inline QStringList OverlappingSiblings(const QWidget& window,
                                       const std::function<bool(const Placed& behind, const Placed& front)>& stacked) {
  QStringList faults;
  QList<const QWidget*> parents{&window};
  for (const QWidget* w : window.findChildren<QWidget*>()) parents << w;
  for (const QWidget* parent : parents) {
    if (!parent->isVisible() || PlainContainer(*parent)) continue;
    QList<Placed> kids;
    CollectSiblings(*parent, *parent, kids);
    for (int i = 0; i < kids.size(); ++i) {
      for (int j = i + 1; j < kids.size(); ++j) {
        const Placed& a = kids[i];
        const Placed& b = kids[j];
        if (!a.rect.intersects(b.rect)) continue;
        if (a.z < b.z ? stacked(a, b) : b.z < a.z ? stacked(b, a) : false) continue;
        faults << QStringLiteral("%1 overlaps %2").arg(a.widget->objectName(), b.widget->objectName());
      }
    }
  }
  return faults;
}

// Visible labels, buttons and group boxes whose caption is wider than the
// room they have.
inline QStringList CaptionsCut(const QWidget& window) {
  QStringList faults;
  for (const QWidget* w : window.findChildren<QWidget*>()) {
    if (!Named(*w) || !w->isVisible() || w->window() != &window) continue;
    QString text;
    int room = 0;
    if (auto* label = qobject_cast<const QLabel*>(w)) {
      if (label->wordWrap() || !label->pixmap().isNull()) continue;
      text = label->text();
      room = label->contentsRect().width() - 2 * label->margin();
    } else if (auto* button = qobject_cast<const QAbstractButton*>(w)) {
      // A button's frame and, for check and radio boxes, the indicator take room.
      if (button->sizeHint().width() > button->width())
        faults << QStringLiteral("%1 \"%2\" needs %3 pixels, has %4")
                      .arg(w->objectName(), button->text())
                      .arg(button->sizeHint().width())
                      .arg(button->width());
      continue;
    } else if (auto* box = qobject_cast<const QGroupBox*>(w)) {
      text = box->title();
      room = box->width() - 8;
    } else {
      continue;
    }
    const int needed = w->fontMetrics().horizontalAdvance(text.trimmed());
    if (!text.trimmed().isEmpty() && needed > room)
      faults << QStringLiteral("%1 \"%2\" needs %3 pixels, has %4").arg(w->objectName(), text).arg(needed).arg(room);
  }
  return faults;
}

}  // namespace kx::test
