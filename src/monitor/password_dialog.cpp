#include "monitor/password_dialog.h"

#include <QHideEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>

#include "core/monitor/parameter_panel_rules.h"

namespace kx::monitor {

namespace {

QLabel* NavyBold(QWidget* parent, const char* name, const QString& text) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(QString::fromLatin1(name));
  QFont f = label->font();
  f.setBold(true);
  label->setFont(f);
  label->setStyleSheet(QStringLiteral("color: #000080;"));
  return label;
}

}  // namespace

PasswordDialog::PasswordDialog(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("KX3Password"));
  setWindowTitle(QStringLiteral("Password Dialog"));
  setWindowFlags(Qt::Dialog | Qt::WindowStaysOnTopHint | Qt::WindowCloseButtonHint | Qt::WindowTitleHint);
  setModal(false);

  auto* label1 = NavyBold(this, "Label1", QStringLiteral("Enter 4 digits of password "));
  auto* label2 = NavyBold(this, "Label2", QStringLiteral("with 0~9, A~F"));
  passEdit1_ = new QLineEdit(this);
  passEdit1_->setObjectName(QStringLiteral("PassEdit1"));
  passEdit1_->setMaxLength(4);
  passEdit1_->setEchoMode(QLineEdit::Password);
  // Each character shows as "*".
  passEdit1_->setStyleSheet(QStringLiteral("lineedit-password-character: 42; font-weight: bold;"));
  passBt_ = new QPushButton(QStringLiteral("OK"), this);
  passBt_->setObjectName(QStringLiteral("PassBt"));
  passBt_->setEnabled(false);
  passBt_->setAutoDefault(false);
  cancelBt_ = new QPushButton(QStringLiteral("Cancel"), this);
  cancelBt_->setObjectName(QStringLiteral("CancelBt"));
  cancelBt_->setAutoDefault(false);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(passBt_);
  buttons->addWidget(cancelBt_);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(label1);
  layout->addWidget(label2);
  layout->addWidget(passEdit1_);
  layout->addLayout(buttons);

  connect(passEdit1_, &QLineEdit::textChanged, this, &PasswordDialog::TextChanged);
  connect(passEdit1_, &QLineEdit::returnPressed, this, &QWidget::close);
  connect(passBt_, &QPushButton::clicked, this, &QWidget::close);
  connect(cancelBt_, &QPushButton::clicked, this, [this] {
    passEdit1_->clear();
    close();
  });
}

void PasswordDialog::Ask() {
  if (QWidget* p = parentWidget()) {
    adjustSize();
    const QPoint centre = p->mapToGlobal(p->rect().center());
    move(centre - QPoint(width() / 2, height() / 2));
  }
  show();
  raise();
  activateWindow();
}

void PasswordDialog::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  passEdit1_->setFocus();
}

void PasswordDialog::TextChanged(const QString& text) {
  if (filtering_) return;
  // Letters in upper case; a character that is no hexadecimal digit empties the field.
  const QString filtered = QString::fromStdString(panel::FilterKeyText(text.toStdString()));
  if (filtered != text) {
    filtering_ = true;
    passEdit1_->setText(filtered);
    filtering_ = false;
  }
  passBt_->setEnabled(passEdit1_->text().size() == 4);
}

void PasswordDialog::hideEvent(QHideEvent* event) {
  QDialog::hideEvent(event);
  // Every way of closing (Enter, OK, Cancel, the close box, Escape) hides it.
  if (event->spontaneous()) return;
  if (const auto key = panel::KeyValue(passEdit1_->text().toStdString())) {
    emit KeyEntered(*key);
  } else {
    emit Dismissed();
  }
}

}  // namespace kx::monitor
