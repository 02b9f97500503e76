#include "app/scaling.h"

#include <QFont>
#include <QVariant>
#include <QWidget>

#include <algorithm>

namespace kx::app {

namespace {

constexpr const char* kBaseSizeProperty = "kxBaseFontSize";

void ScaleOne(QWidget* w, int width, int designWidth) {
  QVariant base = w->property(kBaseSizeProperty);
  if (!base.isValid()) {
    const QFont f = w->font();
    // Point sizes are kept as pixels where the font was given in pixels.
    base = f.pointSize() > 0 ? f.pointSize() : -f.pixelSize();
    w->setProperty(kBaseSizeProperty, base);
  }
  const int size = base.toInt();
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

void ScaleWindow(QWidget* root, int width, int designWidth) {
  if (root == nullptr || width <= 0) return;
  ScaleOne(root, width, designWidth);
  for (QWidget* child : root->findChildren<QWidget*>()) ScaleOne(child, width, designWidth);
}

}  // namespace kx::app
