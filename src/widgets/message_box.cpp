#include "widgets/message_box.h"

#include <QApplication>
#include <QMessageBox>

namespace kx::app {

void ShowMessage(QWidget* parent, const QString& text) {
  QMessageBox box(QMessageBox::NoIcon, QApplication::applicationName(), text, QMessageBox::Ok, parent);
  box.setObjectName("MessageBox");
  box.exec();
}

void ShowErrorBox(QWidget* parent, const QString& text) {
  QMessageBox box(QMessageBox::Critical, QApplication::applicationName(), text, QMessageBox::Ok, parent);
  box.setObjectName("ErrorBox");
  box.exec();
}

void SetSafeDefault(QMessageBox& box) {
  for (const QMessageBox::StandardButton safe : {QMessageBox::No, QMessageBox::Cancel}) {
    if (box.button(safe) != nullptr) {
      box.setDefaultButton(safe);
      return;
    }
  }
}

bool ConfirmWarning(QWidget* parent, const QString& text, const QString& objectName) {
  QMessageBox box(QMessageBox::Warning, QApplication::applicationName(), text, QMessageBox::Yes | QMessageBox::No,
                  parent);
  box.setObjectName(objectName);
  SetSafeDefault(box);
  return box.exec() == QMessageBox::Yes;
}

}  // namespace kx::app
