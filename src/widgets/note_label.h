// A note in a window: a framed, word-wrapped line that says why some controls
// are off or what the line needs (a network server's own line format), shown
// only while it has a text.
#pragma once

#include <QLabel>
#include <QString>

namespace kx::app {

// Hidden until SetNote gives it a text.
QLabel* NoteLabel(QWidget* parent, const char* objectName);

// Shows `text` in the note, or hides the note for an empty text. A refusal is
// drawn in red, any other note in blue.
void SetNote(QLabel& note, const QString& text, bool refusal = false);

}  // namespace kx::app
