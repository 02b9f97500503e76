// The application's message boxes: a plain message with OK, and the standard
// error box for errors raised by a window or by the serial component.
#pragma once

#include <QString>

class QWidget;

namespace kx::app {

// Modal message with OK, captioned with the application title.
void ShowMessage(QWidget* parent, const QString& text);

// The standard error box: modal, with the error icon and OK.
void ShowErrorBox(QWidget* parent, const QString& text);

}  // namespace kx::app
