// The controller password dialog `KX3Password`: asks for a KX3 key of four
// hexadecimal digits and hands it over when it closes. Shown without blocking
// the monitor; the caller decides which register the key is written to.
#pragma once

#include <QDialog>

#include <cstdint>

class QLabel;
class QLineEdit;
class QPushButton;

namespace kx::monitor {

class PasswordDialog : public QDialog {
  Q_OBJECT
 public:
  explicit PasswordDialog(QWidget* parent = nullptr);

  // Shows the dialog centred over its parent with the focus in the field.
  void Ask();
  QLineEdit* field() const { return passEdit1_; }

 signals:
  // The dialog closed with four digits: the key entry.
  void KeyEntered(std::uint16_t key);
  // It closed without a complete entry.
  void Dismissed();

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  void TextChanged(const QString& text);

  QLineEdit* passEdit1_ = nullptr;
  QPushButton* passBt_ = nullptr;
  QPushButton* cancelBt_ = nullptr;
  bool filtering_ = false;
};

}  // namespace kx::monitor
