#include "widgets/drop_list.h"

#include <QKeyEvent>
#include <QMetaObject>
#include <QWheelEvent>

namespace kx::app {

DropList::DropList(QWidget* parent) : QComboBox(parent) {
  // Focus by click or tab only: the wheel passing over it does not take it.
  setFocusPolicy(Qt::StrongFocus);
  // Qt closes the list before it sets the picked item and reports it, so the
  // pick is taken from activated(), which comes with the item set.
  connect(this, &QComboBox::activated, this, [this](int index) {
    if (!popupOpen_ && !closing_) return;
    popupOpen_ = closing_ = false;
    emit Chosen(index);
    emit ClosedUp();
  });
}

void DropList::showPopup() {
  popupOpen_ = true;
  closing_ = false;
  emit DroppedDown();
  QComboBox::showPopup();
}

// The combo box also calls this when it is disabled or hidden (and so while
// the window is torn down); only a list the user dropped down closes up.
void DropList::hidePopup() {
  const bool wasOpen = popupOpen_;
  popupOpen_ = false;
  QComboBox::hidePopup();
  if (!wasOpen) return;
  // A pick follows at once from the same event; without one (Escape, a click
  // elsewhere) the list closes up empty-handed once that event is done.
  closing_ = true;
  QMetaObject::invokeMethod(
      this,
      [this] {
        if (!closing_) return;
        closing_ = false;
        emit ClosedUp();
      },
      Qt::QueuedConnection);
}

void DropList::wheelEvent(QWheelEvent* event) {
  if (popupOpen_) {
    QComboBox::wheelEvent(event);
    return;
  }
  event->ignore();  // to the page below
}

void DropList::keyPressEvent(QKeyEvent* event) {
  const int key = event->key();
  const bool opens = key == Qt::Key_F4 || key == Qt::Key_Space ||
                     ((key == Qt::Key_Down || key == Qt::Key_Up) && (event->modifiers() & Qt::AltModifier) != 0);
  if (popupOpen_ || opens) {
    QComboBox::keyPressEvent(event);
    return;
  }
  event->ignore();  // arrows and letters would change the closed list
}

}  // namespace kx::app
