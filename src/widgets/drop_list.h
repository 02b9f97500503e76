// The drop-down list of every window whose list choice acts on something (a
// write, a stored entry, a filled-in request).
#pragma once

#include <QComboBox>

class QKeyEvent;
class QWheelEvent;

namespace kx::app {

// A drop-down list that changes only through its open list: the user opens
// it and picks an item (mouse or keys in the list). The wheel and the arrow
// and letter keys over the closed list change nothing (the wheel scrolls the
// page), so what it shows is what the user chose or what was read.
class DropList : public QComboBox {
  Q_OBJECT
 public:
  explicit DropList(QWidget* parent = nullptr);
  void showPopup() override;
  void hidePopup() override;
  bool popupOpen() const { return popupOpen_; }
 signals:
  void DroppedDown();
  // The user picked item `index` in the open list (the list shows it).
  void Chosen(int index);
  // The list closed, after Chosen when an item was picked.
  void ClosedUp();

 protected:
  void wheelEvent(QWheelEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  bool popupOpen_ = false;
  bool closing_ = false;  // closed; the pick, if any, still to come
};

}  // namespace kx::app
