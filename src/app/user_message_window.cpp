#include "app/user_message_window.h"

#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "widgets/qt_text.h"
#include "widgets/scaling.h"
#include "core/text/user_message.h"

namespace kx::app {

UserMessageWindow::UserMessageWindow(int code, QTimer& timer1, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
      code_(code),
      timer1_(timer1) {
  setObjectName("DISPUPDATE");
  setWindowTitle("USER MESSAGE");
  setModal(true);
  resize(449, 102);
  setAutoFillBackground(true);
  QPalette pal = palette();
  pal.setColor(QPalette::Window, QColor(255, 251, 240));  // cream
  setPalette(pal);

  PWRLB1 = new QLabel(this);
  PWRLB1->setObjectName("PWRLB1");
  PWRLB2 = new QLabel(this);
  PWRLB2->setObjectName("PWRLB2");
  for (QLabel* label : {PWRLB1, PWRLB2}) {
    label->setAlignment(Qt::AlignCenter);
    QFont f = label->font();
    f.setBold(true);
    label->setFont(f);
  }
  PWRLB1->setStyleSheet("color: #0000FF;");
  PWRLB2->setStyleSheet("color: #FF0000;");

  Button1 = new QPushButton("OK", this);
  Button1->setObjectName("Button1");
  QFont bf = Button1->font();
  bf.setBold(true);
  Button1->setFont(bf);
  Button1->setStyleSheet("color: #800080;");
  connect(Button1, &QPushButton::clicked, this, &UserMessageWindow::OkClick);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(PWRLB1);
  layout->addWidget(PWRLB2);
  layout->addWidget(Button1, 0, Qt::AlignHCenter);

  if (parent != nullptr) {
    const QRect pr = parent->frameGeometry();
    move(pr.center() - QPoint(width() / 2, height() / 2));
  }
}

void UserMessageWindow::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  FormShow();
}

void UserMessageWindow::FormShow() {
  ScaleWindow(this, width(), kUserMessageDesignWidth);
  const std::optional<UserMessage> notice = FindUserMessage(code_);
  PWRLB1->setText(notice ? QText(notice->line1) : QString());
  PWRLB2->setText(notice ? QText(notice->line2) : QString());
  if (notice && notice->closeAfterMs > 0) {
    Button1->hide();
    timer1_.setInterval(notice->closeAfterMs);
    timer1_.start();
  } else {
    // The notice after a KX2 update, and any code without a timed notice, waits
    // for OK: a notice without either could never be closed.
    Button1->show();
    Button1->setFocus();
  }
}

bool UserMessageWindow::Timed() const {
  const std::optional<UserMessage> notice = FindUserMessage(code_);
  return notice && notice->closeAfterMs > 0;
}

void UserMessageWindow::OkClick() { accept(); }

}  // namespace kx::app
