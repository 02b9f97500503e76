// The about box: program name, version and a picture; nothing but a close button.
#pragma once

#include <QDialog>

namespace kx::app {

class AboutWindow : public QDialog {
  Q_OBJECT

 public:
  explicit AboutWindow(QWidget* parent = nullptr);

 protected:
  void showEvent(QShowEvent* event) override;
};

}  // namespace kx::app
