// A captioned group of radio buttons addressed by item index, with one
// `clicked(index)` signal when the user picks an item.
#pragma once

#include <QGroupBox>
#include <QStringList>

class QButtonGroup;
class QRadioButton;

namespace kx::app {

class RadioGroup : public QGroupBox {
  Q_OBJECT

 public:
  RadioGroup(const QString& objectName, const QString& caption, const QStringList& items,
             QWidget* parent = nullptr, int columns = 1);

  // Index of the checked item, -1 when none is checked.
  int ItemIndex() const;
  // Checks item `index` (nothing checked for an index out of range). Emits
  // `changed` but not `clicked`.
  void SetItemIndex(int index);
  int Count() const;
  QRadioButton* Button(int index) const;

 signals:
  void Clicked(int index);  // the user picked an item
  void Changed(int index);  // the checked item changed, by the user or by code

 private:
  QButtonGroup* group_;
};

}  // namespace kx::app
