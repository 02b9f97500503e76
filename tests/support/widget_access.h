// For window tests: finds named controls and works them the way a user would.
// Header-only, Qt Widgets.
#pragma once

#include <QComboBox>
#include <QLineEdit>
#include <QObject>
#include <QString>
#include <QTest>

namespace kx::test {

// The child of `root` named `name`; ends the test program when there is none,
// so a renamed control shows up as that rather than as a crash.
template <class T>
T* Child(const QObject& root, const char* name) {
  T* w = root.findChild<T*>(QString::fromLatin1(name));
  if (!w) qFatal("missing control %s", name);
  return w;
}

// Chooses a list entry as a click would: sets it and raises activated().
inline void Activate(QComboBox& box, int index) {
  box.setCurrentIndex(index);
  emit box.activated(index);
}

// Replaces a field's text by typing.
inline void Retype(QLineEdit& edit, const QString& text) {
  edit.clear();
  QTest::keyClicks(&edit, text);
}

}  // namespace kx::test
