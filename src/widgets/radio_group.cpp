#include "widgets/radio_group.h"

#include <QButtonGroup>
#include <QGridLayout>
#include <QRadioButton>

namespace kx::app {

RadioGroup::RadioGroup(const QString& objectName, const QString& caption, const QStringList& items,
                       QWidget* parent, int columns)
    : QGroupBox(caption, parent), group_(new QButtonGroup(this)) {
  setObjectName(objectName);
  auto* layout = new QGridLayout(this);
  layout->setContentsMargins(8, 4, 8, 4);
  layout->setVerticalSpacing(2);
  const int cols = columns < 1 ? 1 : columns;
  for (int i = 0; i < items.size(); ++i) {
    auto* b = new QRadioButton(items[i], this);
    group_->addButton(b, i);
    layout->addWidget(b, i / cols, i % cols);
  }
  connect(group_, &QButtonGroup::idClicked, this, &RadioGroup::Clicked);
  connect(group_, &QButtonGroup::idToggled, this, [this](int id, bool on) {
    if (on) emit Changed(id);
  });
}

int RadioGroup::ItemIndex() const { return group_->checkedId(); }

void RadioGroup::SetItemIndex(int index) {
  if (QAbstractButton* b = group_->button(index)) {
    b->setChecked(true);
    return;
  }
  group_->setExclusive(false);
  for (QAbstractButton* b : group_->buttons()) b->setChecked(false);
  group_->setExclusive(true);
}

int RadioGroup::Count() const { return static_cast<int>(group_->buttons().size()); }

QRadioButton* RadioGroup::Button(int index) const { return qobject_cast<QRadioButton*>(group_->button(index)); }

}  // namespace kx::app
