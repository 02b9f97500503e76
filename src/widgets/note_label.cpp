#include "widgets/note_label.h"

namespace kx::app {

QLabel* NoteLabel(QWidget* parent, const char* objectName) {
  auto* note = new QLabel(parent);
  note->setObjectName(objectName);
  note->setWordWrap(true);
  note->setFrameShape(QFrame::Panel);
  note->setFrameShadow(QFrame::Sunken);
  note->setMargin(3);
  note->setTextFormat(Qt::PlainText);
  note->hide();
  return note;
}

void SetNote(QLabel& note, const QString& text, bool refusal) {
  note.setText(text);
  note.setStyleSheet(refusal ? "background: #FFFFFF; color: #C00000;" : "background: #FFFFFF; color: #0000C0;");
  note.setVisible(!text.isEmpty());
}

}  // namespace kx::app
