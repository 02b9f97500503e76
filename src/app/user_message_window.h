// The user message window: a two-line notice without title bar, centred on the
// main window, shown modally while a long operation waits. Timed notices are
// closed by the main window's Timer1, which this window starts when shown; the
// notice after a KX2 update waits for OK.
#pragma once

#include <QDialog>

class QLabel;
class QPushButton;
class QTimer;

namespace kx::app {

class UserMessageWindow : public QDialog {
  Q_OBJECT

 public:
  // `timer1` is the main window's Timer1.
  UserMessageWindow(int code, QTimer& timer1, QWidget* parent = nullptr);

  int code() const { return code_; }
  // The notice closes by Timer1 (false: it waits for OK).
  bool Timed() const;

 protected:
  void showEvent(QShowEvent* event) override;

 private slots:
  void OkClick();  // Button1

 private:
  void FormShow();

  int code_;
  QTimer& timer1_;
  QLabel* PWRLB1 = nullptr;
  QLabel* PWRLB2 = nullptr;
  QPushButton* Button1 = nullptr;
};

}  // namespace kx::app
