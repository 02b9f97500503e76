// For window tests: finds named controls and works them the way a user would
// (lists through their open popup: support/user_input.h). Header-only, Qt Widgets.
#pragma once

#include <QAbstractSpinBox>
#include <QLineEdit>
#include <QObject>
#include <QString>
#include <QTableWidget>
#include <QTest>

#include "support/user_input.h"

namespace kx::test {

// The child of `root` named `name`; ends the test program when there is none,
// so a renamed control shows up as that rather than as a crash.
template <class T>
T* Child(const QObject& root, const char* name) {
  T* w = root.findChild<T*>(QString::fromLatin1(name));
  if (!w) qFatal("missing control %s", name);
  return w;
}

// Clicks the middle of `widget` (a button, a tool button) with the left button.
inline void Click(QWidget& widget) { QTest::mouseClick(&widget, Qt::LeftButton); }

// Scrolls cell (row, column) of `table` into view and clicks it where it is drawn.
inline void ClickCell(QTableWidget& table, int row, int column) {
  const QModelIndex index = table.model()->index(row, column);
  table.scrollTo(index);
  const QRect cell = table.visualRect(index);
  QTest::mouseClick(table.viewport(), Qt::LeftButton, Qt::NoModifier, cell.center());
}

// Replaces a field's text by typing over it (select all, then the keys; no
// Enter). An empty text deletes what was there.
inline void Retype(QLineEdit& edit, const QString& text) {
  QTest::keyClick(&edit, Qt::Key_A, Qt::ControlModifier);
  if (text.isEmpty()) QTest::keyClick(&edit, Qt::Key_Delete);
  QTest::keyClicks(&edit, text);
}

// Replaces a spin box's value by typing over it, without Enter.
inline void Retype(QAbstractSpinBox& box, int value) {
  QTest::keyClick(&box, Qt::Key_A, Qt::ControlModifier);
  QTest::keyClicks(&box, QString::number(value));
}

}  // namespace kx::test
