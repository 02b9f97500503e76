// The application's message boxes: a plain message with OK, and the standard
// error box for errors raised by a window or by the serial component.
#pragma once

#include <QMessageBox>
#include <QString>

class QWidget;

namespace kx::app {

// Modal message with OK, captioned with the application title.
void ShowMessage(QWidget* parent, const QString& text);

// The standard error box: modal, with the error icon and OK.
void ShowErrorBox(QWidget* parent, const QString& text);

// Makes the answer that changes nothing (No, else Cancel) the box's default
// button, so that Enter on a question before something that cannot be undone
// (another model's file, a broadcast, restoring defaults) declines it.
void SetSafeDefault(QMessageBox& box);

// A warning put as a question with Yes and No (No the default); true for Yes.
// For a window's own button handlers, never from inside an engine's step.
bool ConfirmWarning(QWidget* parent, const QString& text, const QString& objectName);

}  // namespace kx::app
