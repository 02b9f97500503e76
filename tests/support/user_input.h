// Works lists and wheels the way a user does, so that Qt's own order of events
// reaches the code under test: a list item is picked in the list's open popup
// (the popup closes before the combo box takes the item), the wheel is turned
// over a widget. Header-only, Qt Widgets.
#pragma once

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QSpontaneKeyEvent>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTest>
#include <QWheelEvent>

namespace kx::test {

// Opens `box`, moves to item `index` in its popup and presses Return there.
inline void ChooseInPopup(QComboBox& box, int index) {
  box.showPopup();
  QAbstractItemView* view = box.view();
  view->setCurrentIndex(box.model()->index(index, box.modelColumn(), box.rootModelIndex()));
  QTest::keyClick(view, Qt::Key_Return);
}

// Opens `box` and clicks item `index` in its popup with the mouse.
inline void ClickInPopup(QComboBox& box, int index) {
  box.showPopup();
  QAbstractItemView* view = box.view();
  const QRect item = view->visualRect(box.model()->index(index, box.modelColumn(), box.rootModelIndex()));
  QTest::mouseMove(view->viewport(), item.center());
  QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, item.center());
}

// Clicks a radio button (or check box) on its indicator, where a user aims:
// the middle of a wide button may lie beyond its text and not hit it.
inline void ClickIndicator(QAbstractButton& button) {
  QStyleOptionButton option;
  option.initFrom(&button);
  const QRect indicator = button.style()->subElementRect(QStyle::SE_RadioButtonIndicator, &option, &button);
  QTest::mouseClick(&button, Qt::LeftButton, Qt::NoModifier, indicator.center());
}

// Opens `box` and closes it again with Escape, choosing nothing.
inline void OpenAndEscape(QComboBox& box) {
  box.showPopup();
  QTest::keyClick(box.view(), Qt::Key_Escape);
  QApplication::processEvents();
}

// Turns the mouse wheel by `notches` (positive: away from the user) over the
// middle of `widget`, as the window system delivers it (the event goes on to
// the parents when the widget ignores it; a wheel event made by a program
// would not).
inline void TurnWheel(QWidget& widget, int notches) {
  const QPointF pos(widget.width() / 2.0, widget.height() / 2.0);
  QWheelEvent event(pos, widget.mapToGlobal(pos), QPoint(), QPoint(0, 120 * notches), Qt::NoButton,
                    Qt::NoModifier, Qt::NoScrollPhase, false);
  // Delivered as the window system's (sendEvent would mark it as a program's).
  QSpontaneKeyEvent::setSpontaneous(&event);
  QApplication::instance()->notify(&widget, &event);
}

}  // namespace kx::test
