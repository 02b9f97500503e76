#include "app/about_window.h"

#include <QFrame>
#include <QLabel>
#include <QVBoxLayout>

#include "widgets/pictures.h"
#include "widgets/scaling.h"

namespace kx::app {

AboutWindow::AboutWindow(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint) {
  setObjectName("ABOUT");
  setWindowTitle("ABOUT");
  setModal(true);

  auto* panel = new QFrame(this);
  panel->setObjectName("Panel1");
  panel->setFrameShape(QFrame::StyledPanel);
  panel->setFrameShadow(QFrame::Sunken);

  auto* title = new QLabel("OSTRA Digital Controller", panel);
  title->setObjectName("ProductName");
  auto* program = new QLabel("Communication Program", panel);
  program->setObjectName("ProgramName");
  auto* version = new QLabel("Version 1.0.0.3", panel);
  version->setObjectName("Version");
  auto* picture = new QLabel(panel);
  picture->setObjectName("ProgramIcon");
  picture->setPixmap(AboutPicture(QSize(64, 64)));
  auto* resolution = new QLabel("Recommanded Display Resolution 800 x 600", panel);
  resolution->setObjectName("Comments");

  QFont big = title->font();
  big.setBold(true);
  big.setPointSize(big.pointSize() + 3);
  title->setFont(big);
  QFont bold = program->font();
  bold.setBold(true);
  program->setFont(bold);

  auto* inner = new QVBoxLayout(panel);
  for (QLabel* label : {title, program, version}) {
    label->setAlignment(Qt::AlignCenter);
    inner->addWidget(label);
  }
  picture->setAlignment(Qt::AlignCenter);
  inner->addSpacing(6);
  inner->addWidget(picture);
  inner->addSpacing(6);
  resolution->setAlignment(Qt::AlignCenter);
  inner->addWidget(resolution);

  auto* outer = new QVBoxLayout(this);
  outer->addWidget(panel);
  outer->setSizeConstraint(QLayout::SetFixedSize);  // fits its texts, also after scaling
  setMinimumWidth(kAboutDesignWidth);
  adjustSize();

  if (parent != nullptr) {
    const QRect pr = parent->frameGeometry();
    move(pr.center() - QPoint(width() / 2, height() / 2));
  }
}

void AboutWindow::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  ScaleWindow(this, width(), kAboutDesignWidth);
}

}  // namespace kx::app
