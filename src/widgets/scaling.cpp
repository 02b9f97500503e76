#include "widgets/scaling.h"

#include <QFont>
#include <QVariant>
#include <QWidget>

#include <algorithm>

namespace kx::app {

namespace {

constexpr const char* kBaseSizeProperty = "kxBaseFontSize";

// Records the font size a widget has before any scaling. A child inherits its
// parent's font, so every size is recorded before any font is changed;
// otherwise a child would take its already scaled parent's size as its own and
// be scaled once more for each level it lies below the root.
void RecordBase(QWidget* w) {
  if (w->property(kBaseSizeProperty).isValid()) return;
  const QFont f = w->font();
  // Point sizes are kept as pixels where the font was given in pixels.
  w->setProperty(kBaseSizeProperty, f.pointSize() > 0 ? f.pointSize() : -f.pixelSize());
}

void ScaleOne(QWidget* w, int width, int designWidth) {
  const int size = w->property(kBaseSizeProperty).toInt();
  QFont f = w->font();
  if (size > 0)
    f.setPointSize(std::max(1, Scaled(size, width, designWidth)));
  else if (size < 0)
    f.setPixelSize(std::max(1, Scaled(-size, width, designWidth)));
  w->setFont(f);
}

}  // namespace

int Scaled(int value, int width, int designWidth) {
  if (designWidth <= 0) return value;
  return value * width / designWidth;
}

int FitWidth(int roomWidth, int roomHeight, int designWidth, int designHeight) {
  if (designHeight <= 0) return roomWidth;
  return std::min(roomWidth, roomHeight * designWidth / designHeight);
}

void ScaleWindow(QWidget* root, int width, int designWidth) {
  if (root == nullptr || width <= 0) return;
  const QList<QWidget*> children = root->findChildren<QWidget*>();
  RecordBase(root);
  for (QWidget* child : children) RecordBase(child);
  ScaleOne(root, width, designWidth);
  for (QWidget* child : children) ScaleOne(child, width, designWidth);
}

}  // namespace kx::app
