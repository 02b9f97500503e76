#include "ramp/ramp_soak_window.h"

#include <QApplication>
#include <QFileInfo>
#include <QHeaderView>
#include <QMessageBox>
#include <QPainter>
#include <QPixmap>
#include <QShowEvent>
#include <QStyledItemDelegate>

#include <algorithm>

#include "core/ramp/program_curve.h"
#include "widgets/drop_list.h"
#include "widgets/file_dialogs.h"
#include "widgets/qt_text.h"

namespace kx::ramp {

namespace {

constexpr int kColumnWidths[] = {80, 47, 46, 47, 47, 48, 48, 48, 47};
constexpr int kColumns = 9;
constexpr int kRows = 20;
constexpr int kRowHeight = 18;
constexpr int kRowMaxStep = 1;
constexpr int kRowLoopCount = 18;
constexpr int kRowLink = 19;
constexpr QRect kGridRect{108, 4, 462, 364};
constexpr QRect kEditRect{578, 4, 156, 196};
constexpr QRect kCurveRect{108, 374, kCurveWidth, kCurveHeight};

const QColor kHeadingColour(0xD4, 0xD0, 0xC8);

QColor PenColour(CurvePen pen) {
  switch (pen) {
    case CurvePen::Green: return QColor(0x00, 0x80, 0x00);
    case CurvePen::Navy: return QColor(0x00, 0x00, 0x80);
    case CurvePen::Grey: return QColor(0x80, 0x80, 0x80);
    case CurvePen::Olive: return QColor(0x80, 0x80, 0x00);
  }
  return Qt::black;
}

int PatternOf(int column) { return column - 1; }
// Step index (0..63) of a set-value or time row in a pattern column.
int StepOf(int row, int column) { return PatternOf(column) * kStepsPerPattern + (row - 2) / 2; }

QPushButton* Button(QWidget* parent, const char* name, const QString& text, QRect rect) {
  auto* b = new QPushButton(text, parent);
  b->setObjectName(QString::fromLatin1(name));
  b->setGeometry(rect);
  return b;
}

// Message box with the given buttons; returns the button pressed.
QMessageBox::StandardButton Ask(QWidget* parent, const char* name, const QString& caption, const QString& text,
                                QMessageBox::StandardButtons buttons) {
  QMessageBox box(QMessageBox::NoIcon, caption, text, buttons, parent);
  box.setObjectName(QString::fromLatin1(name));
  return static_cast<QMessageBox::StandardButton>(box.exec());
}

// Draws a grid cell's text on one line with a one-pixel margin: the style's
// own text margins and word wrap would cut "Pattern 0" to "Pattern" in the
// 46- and 47-pixel pattern columns.
class TightCellDelegate final : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
    const bool selected = (opt.state & QStyle::State_Selected) != 0;
    painter->save();
    if (selected)
      painter->fillRect(opt.rect, opt.palette.highlight());
    else if (opt.backgroundBrush.style() != Qt::NoBrush)
      painter->fillRect(opt.rect, opt.backgroundBrush);
    painter->setFont(opt.font);
    painter->setPen(selected ? opt.palette.color(QPalette::HighlightedText) : opt.palette.color(QPalette::Text));
    const Qt::Alignment align = opt.displayAlignment & Qt::AlignHorizontal_Mask;
    const Qt::Alignment shown = (align != 0 ? align : Qt::AlignLeft) | Qt::AlignVCenter;
    // drawText takes the alignment and text flags as one int.
    painter->drawText(opt.rect.adjusted(2, 0, -2, 0), static_cast<int>(shown.toInt()) | Qt::TextSingleLine, opt.text);
    painter->restore();
  }
};

}  // namespace

RampSoakWindow::RampSoakWindow(QWidget* parent) : QWidget(parent, Qt::Window | Qt::WindowStaysOnTopHint) {
  setObjectName(QStringLiteral("RampSoak"));
  setWindowTitle(QStringLiteral("Ramp Soak programer"));
  setFixedSize(kDesignWidth, kDesignHeight);
  BuildGrid();
  BuildButtons();
  BuildEditPage();

  progCurve_ = new QLabel(this);
  progCurve_->setObjectName(QStringLiteral("ProgCurve"));
  progCurve_->setGeometry(kCurveRect);
  progCurve_->hide();

  upLoadLabel_ = new QLabel(this);
  upLoadLabel_->setObjectName(QStringLiteral("UpLoadLabelP"));
  upLoadLabel_->setGeometry(kCurveRect.x(), kCurveRect.y() + 8, 160, 20);
  upLoadLabel_->setAlignment(Qt::AlignCenter);
  upLoadLabel_->setStyleSheet(QStringLiteral("QLabel { color: white; background: #008000; font-weight: bold; }"));
  upLoadLabel_->hide();
  upLoadBar_ = new QProgressBar(this);
  upLoadBar_->setObjectName(QStringLiteral("UpLoadBarP"));
  upLoadBar_->setRange(0, 1000);
  upLoadBar_->setTextVisible(false);
  upLoadBar_->setGeometry(kCurveRect.x(), kCurveRect.y() + 32, 260, 18);
  upLoadBar_->hide();

  WriteHeadings();
}

void RampSoakWindow::BuildGrid() {
  progTable_ = new QTableWidget(kRows, kColumns, this);
  progTable_->setObjectName(QStringLiteral("ProgTable"));
  progTable_->setGeometry(kGridRect);
  progTable_->horizontalHeader()->hide();
  progTable_->verticalHeader()->hide();
  progTable_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  progTable_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  progTable_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  progTable_->setSelectionMode(QAbstractItemView::SingleSelection);
  progTable_->verticalHeader()->setMinimumSectionSize(kRowHeight);
  progTable_->verticalHeader()->setDefaultSectionSize(kRowHeight);
  for (int c = 0; c < kColumns; ++c) progTable_->setColumnWidth(c, kColumnWidths[c]);
  // Small type drawn with narrow margins, so "Pattern 7", "Execute Time 7"
  // and "Prog End" fit the narrow columns whole.
  QFont font = progTable_->font();
  font.setPointSize(7);
  progTable_->setFont(font);
  progTable_->setWordWrap(false);
  progTable_->setItemDelegate(new TightCellDelegate(progTable_));
  for (int r = 0; r < kRows; ++r) {
    for (int c = 0; c < kColumns; ++c) {
      auto* item = new QTableWidgetItem;
      if (r == 0 || c == 0) {
        item->setFlags(Qt::ItemIsEnabled);
        item->setBackground(kHeadingColour);
      } else {
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
        item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
      }
      progTable_->setItem(r, c, item);
    }
  }
  connect(progTable_, &QTableWidget::currentCellChanged, this,
          [this](int row, int column, int, int) { CellSelected(row, column); });
  connect(progTable_, &QTableWidget::cellClicked, this, &RampSoakWindow::CellSelected);
}

void RampSoakWindow::BuildButtons() {
  startPlb_ = new QLabel(QStringLiteral("Start Pattern"), this);
  startPlb_->setObjectName(QStringLiteral("StartPLB"));
  startPlb_->setAlignment(Qt::AlignCenter);
  startPlb_->setFrameShape(QFrame::Panel);
  startPlb_->setFrameShadow(QFrame::Raised);
  startPlb_->setGeometry(4, 4, 98, 22);
  progStart_ = new app::DropList(this);
  progStart_->setObjectName(QStringLiteral("ProgStart"));
  for (int p = 0; p < kPatterns; ++p) progStart_->addItem(app::QText(Msg::PatternPrefix) + QString::number(p));
  progStart_->setGeometry(4, 28, 98, 24);
  progStart_->setEnabled(false);
  connect(progStart_, &app::DropList::Chosen, this, [this](int index) {
    table_.start = static_cast<std::uint8_t>(index);
    DrawCurve();
  });

  readSBt_ = Button(this, "ReadSBt", QStringLiteral("Read Setting"), {4, 70, 98, 28});
  readFBt_ = Button(this, "ReadFBt", QStringLiteral("Read File"), {4, 104, 98, 28});
  saveFBt_ = Button(this, "SaveFBt", QStringLiteral("Save to ..."), {4, 138, 98, 28});
  wrBt_ = Button(this, "WrBt", QStringLiteral("Write"), {4, 172, 98, 28});
  editPBt_ = Button(this, "EditPBt", QStringLiteral("Edit"), {4, 206, 98, 28});
  retBt_ = Button(this, "RetBt", QStringLiteral("Back"), {4, 340, 98, 28});
  saveFBt_->setEnabled(false);
  wrBt_->setEnabled(false);
  editPBt_->setEnabled(false);

  connect(readSBt_, &QPushButton::clicked, this, &RampSoakWindow::StartRead);
  connect(readFBt_, &QPushButton::clicked, this, &RampSoakWindow::ReadFile);
  connect(saveFBt_, &QPushButton::clicked, this, &RampSoakWindow::SaveFile);
  connect(wrBt_, &QPushButton::clicked, this, &RampSoakWindow::StartWrite);
  connect(editPBt_, &QPushButton::clicked, this, [this] {
    editBox_->show();
    LoadEditor();
  });
  connect(retBt_, &QPushButton::clicked, this, &QWidget::close);
}

void RampSoakWindow::BuildEditPage() {
  editBox_ = new QGroupBox(QStringLiteral("Edit Page"), this);
  editBox_->setObjectName(QStringLiteral("EditBox"));
  editBox_->setGeometry(kEditRect);

  stepLinkLb_ = new QLabel(editBox_);
  stepLinkLb_->setObjectName(QStringLiteral("StepLinkLb"));
  stepLinkLb_->setAlignment(Qt::AlignCenter);
  stepLinkLb_->setFrameShape(QFrame::Panel);
  stepLinkLb_->setFrameShadow(QFrame::Raised);
  stepLinkLb_->setGeometry(8, 24, 140, 22);
  const QRect editorRect{8, 52, 140, 24};

  maxStep_ = new app::DropList(editBox_);
  maxStep_->setObjectName(QStringLiteral("MaxStep"));
  for (int s = 0; s < kStepsPerPattern; ++s) maxStep_->addItem(QString::number(s));
  maxStep_->setGeometry(editorRect);

  spEdit_ = new QLineEdit(editBox_);
  spEdit_->setObjectName(QStringLiteral("SPEdit"));
  spEdit_->setGeometry(editorRect);
  connect(spEdit_, &QLineEdit::returnPressed, this, &RampSoakWindow::Store);

  stepLink_ = new app::DropList(editBox_);
  stepLink_->setObjectName(QStringLiteral("StepLink"));
  for (int p = 0; p <= kPatterns; ++p) stepLink_->addItem(app::ToQString(LinkText(static_cast<std::uint8_t>(p))));
  stepLink_->setGeometry(editorRect);

  timeHour_ = new app::DropList(editBox_);
  timeHour_->setObjectName(QStringLiteral("TimeHour"));
  for (int h = 0; h <= kLongestHour; ++h) timeHour_->addItem(QString::number(h));
  timeHour_->setGeometry(editorRect);
  connect(timeHour_, &app::DropList::Chosen, this, &RampSoakWindow::HourChanged);

  timeMinLb_ = new QLabel(QStringLiteral("Minute"), editBox_);
  timeMinLb_->setObjectName(QStringLiteral("TimeMinLb"));
  timeMinLb_->setAlignment(Qt::AlignCenter);
  timeMinLb_->setFrameShape(QFrame::Panel);
  timeMinLb_->setFrameShadow(QFrame::Raised);
  timeMinLb_->setGeometry(8, 84, 140, 22);
  timeMin_ = new QSpinBox(editBox_);
  timeMin_->setObjectName(QStringLiteral("TimeMin"));
  timeMin_->setRange(0, 59);
  timeMin_->setGeometry(8, 110, 140, 24);
  connect(timeMin_, &QSpinBox::valueChanged, this, [this] {
    if (!loading_ && !timeMin_->text().isEmpty()) Store();
  });

  pokBt_ = Button(editBox_, "POKBt", QStringLiteral("Enter"), {8, 152, 140, 30});
  connect(pokBt_, &QPushButton::clicked, this, &RampSoakWindow::Store);
  editBox_->hide();
}

void RampSoakWindow::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (event->spontaneous()) return;
  WriteHeadings();
  editBox_->hide();
}

RampSoakWindow::CellKind RampSoakWindow::KindOf(int row) {
  if (row == kRowMaxStep) return CellKind::MaxStep;
  if (row == kRowLoopCount) return CellKind::LoopCount;
  if (row == kRowLink) return CellKind::Link;
  if (row >= 2 && row < kRowLoopCount) return row % 2 == 0 ? CellKind::SetValue : CellKind::Time;
  return CellKind::None;
}

void RampSoakWindow::WriteHeadings() {
  for (int p = 0; p < kPatterns; ++p) {
    progTable_->item(0, p + 1)->setText(app::QText(Msg::PatternPrefix) + QString::number(p));
  }
  progTable_->item(kRowMaxStep, 0)->setText(app::QText(Msg::StepMax));
  for (int s = 0; s < kStepsPerPattern; ++s) {
    progTable_->item(2 + 2 * s, 0)->setText(app::QText(Msg::SetValuePrefix) + QString::number(s));
    progTable_->item(3 + 2 * s, 0)->setText(app::QText(Msg::ExecuteTimePrefix) + QString::number(s));
  }
  progTable_->item(kRowLoopCount, 0)->setText(app::QText(Msg::LoopCount));
  progTable_->item(kRowLink, 0)->setText(app::QText(Msg::LinkPattern));
}

void RampSoakWindow::DisplayCell(int row, int column) {
  const auto p = static_cast<std::size_t>(PatternOf(column));
  QString text;
  switch (KindOf(row)) {
    case CellKind::MaxStep: text = QString::number(table_.maxStep[p]); break;
    case CellKind::SetValue:
      text = app::ToQString(SetValueText(table_.setValue[static_cast<std::size_t>(StepOf(row, column))]));
      break;
    case CellKind::Time:
      text = app::ToQString(TimeText(table_.time[static_cast<std::size_t>(StepOf(row, column))]));
      break;
    case CellKind::LoopCount: text = QString::number(table_.loops[p]); break;
    case CellKind::Link: text = app::ToQString(LinkText(table_.link[p])); break;
    case CellKind::None: break;
  }
  progTable_->item(row, column)->setText(text);
}

void RampSoakWindow::DisplayTable() {
  for (int r = 1; r < kRows; ++r) {
    for (int c = 1; c < kColumns; ++c) DisplayCell(r, c);
  }
  progStart_->setCurrentIndex(std::min<int>(table_.start, kPatterns - 1));
  DrawCurve();
}

void RampSoakWindow::DrawCurve() {
  QPixmap picture(kCurveWidth, kCurveHeight);
  picture.fill(Qt::white);
  QPainter painter(&picture);
  painter.setPen(QPen(Qt::black, 1));
  painter.drawRect(0, 0, kCurveWidth - 1, kCurveHeight - 1);
  const ProgramCurve curve = ComputeCurve(table_);
  if (curve.drawn) {
    painter.setRenderHint(QPainter::Antialiasing, false);
    for (const CurveSegment& s : curve.segments) {
      painter.setPen(QPen(PenColour(s.pen), 2, Qt::SolidLine, Qt::FlatCap));
      painter.drawLine(s.x0, s.y0, s.x1, s.y1);
    }
  }
  painter.end();
  progCurve_->setPixmap(picture);
  // Blank until some curve has been drawn; a blank curve area stays shown after.
  if (curve.drawn) progCurve_->show();
}

void RampSoakWindow::SetTable(const ProgramTable& table) {
  table_ = table;
  filled_ = true;
  DisplayTable();
  for (QWidget* w : std::initializer_list<QWidget*>{progStart_, readSBt_, readFBt_, saveFBt_, editPBt_, wrBt_}) {
    w->setEnabled(true);
  }
  if (editBox_->isVisible()) LoadEditor();
}

void RampSoakWindow::CellSelected(int row, int column) {
  if (row < 1 || column < 1) return;
  targetRow_ = row;
  targetColumn_ = column;
  LoadEditor();
}

void RampSoakWindow::LoadEditor() {
  const CellKind kind = KindOf(targetRow_);
  const auto p = static_cast<std::size_t>(PatternOf(targetColumn_));
  loading_ = true;
  maxStep_->setVisible(kind == CellKind::MaxStep);
  spEdit_->setVisible(kind == CellKind::SetValue || kind == CellKind::LoopCount);
  stepLink_->setVisible(kind == CellKind::Link);
  timeHour_->setVisible(kind == CellKind::Time);
  timeMinLb_->setVisible(kind == CellKind::Time);
  timeMin_->setVisible(kind == CellKind::Time);
  QWidget* focus = nullptr;
  switch (kind) {
    case CellKind::MaxStep:
      stepLinkLb_->setText(app::QText(Msg::StepCount));
      maxStep_->setCurrentIndex(std::min<int>(table_.maxStep[p], kStepsPerPattern - 1));
      focus = maxStep_;
      break;
    case CellKind::SetValue:
      stepLinkLb_->setText(app::QText(Msg::SetValuePrefix));
      spEdit_->setText(progTable_->item(targetRow_, targetColumn_)->text());
      focus = spEdit_;
      break;
    case CellKind::Time: {
      stepLinkLb_->setText(app::QText(Msg::Hour));
      const int minutes = table_.time[static_cast<std::size_t>(StepOf(targetRow_, targetColumn_))];
      const int hour = std::min(minutes / 60, kLongestHour);
      timeHour_->setCurrentIndex(hour);
      timeMin_->setValue(hour == kLongestHour ? 0 : minutes % 60);
      timeMin_->setEnabled(hour != kLongestHour);
      focus = pokBt_;
      break;
    }
    case CellKind::LoopCount:
      stepLinkLb_->setText(app::QText(Msg::LoopCount));
      spEdit_->setText(progTable_->item(targetRow_, targetColumn_)->text());
      focus = spEdit_;
      break;
    case CellKind::Link:
      stepLinkLb_->setText(app::QText(Msg::LinkPattern));
      stepLink_->setCurrentIndex(std::min<int>(table_.link[p], kLinkEnd));
      focus = stepLink_;
      break;
    case CellKind::None: break;
  }
  loading_ = false;
  if (editBox_->isVisible() && focus != nullptr) focus->setFocus();
}

void RampSoakWindow::HourChanged(int index) {
  if (loading_) return;
  loading_ = true;
  if (index == kLongestHour) timeMin_->setValue(0);
  timeMin_->setEnabled(index != kLongestHour);
  loading_ = false;
  if (!timeHour_->currentText().isEmpty()) Store();
}

void RampSoakWindow::Store() {
  const auto p = static_cast<std::size_t>(PatternOf(targetColumn_));
  switch (KindOf(targetRow_)) {
    case CellKind::MaxStep: table_.maxStep[p] = static_cast<std::uint8_t>(maxStep_->currentIndex()); break;
    case CellKind::LoopCount: StoreLoopCount(table_, static_cast<int>(p), spEdit_->text().toStdString()); break;
    case CellKind::Link: table_.link[p] = static_cast<std::uint8_t>(stepLink_->currentIndex()); break;
    case CellKind::Time:
      table_.time[static_cast<std::size_t>(StepOf(targetRow_, targetColumn_))] =
          TimeFromEditor(timeHour_->currentIndex(), timeMin_->value());
      break;
    case CellKind::SetValue: {
      const int k = StepOf(targetRow_, targetColumn_);
      if (!StoreSetValue(table_, k, spEdit_->text().toStdString())) {
        spEdit_->setText(app::ToQString(SetValueText(table_.setValue[static_cast<std::size_t>(k)])));
      }
      break;
    }
    case CellKind::None: return;
  }
  DisplayCell(targetRow_, targetColumn_);
  DrawCurve();
}

void RampSoakWindow::SetBusy(bool busy, const QString& label) {
  for (QWidget* w : std::initializer_list<QWidget*>{progStart_, readSBt_, saveFBt_, readFBt_, wrBt_}) {
    w->setEnabled(!busy);
  }
  if (!busy) editPBt_->setEnabled(true);
  upLoadLabel_->setText(label);
  upLoadLabel_->setVisible(busy);
  upLoadBar_->setVisible(busy);
  if (busy) {
    upLoadBar_->setValue(0);
    upLoadLabel_->raise();
    upLoadBar_->raise();
  }
}

void RampSoakWindow::StartRead() {
  SetBusy(true, app::QText(Msg::ReadingNow));
  emit ReadRequested();
}

void RampSoakWindow::StartWrite() {
  SetBusy(true, app::QText(Msg::WritingNow));
  emit WriteRequested();
}

void RampSoakWindow::TransferProgress(int permille) { upLoadBar_->setValue(std::clamp(permille, 0, 1000)); }

void RampSoakWindow::ReadFinished(const ProgramTable& table) {
  upLoadBar_->setValue(1000);
  SetBusy(false, QString());
  SetTable(table);
}

void RampSoakWindow::WriteFinished() {
  SetBusy(false, QString());
  // Buttons of a table never filled (a write cannot start without one) stay as they are.
  if (!filled_) {
    saveFBt_->setEnabled(false);
    wrBt_->setEnabled(false);
    editPBt_->setEnabled(false);
    progStart_->setEnabled(false);
  }
}

void RampSoakWindow::TransferStopped() {
  SetBusy(false, QString());
  if (!filled_) {
    saveFBt_->setEnabled(false);
    wrBt_->setEnabled(false);
    editPBt_->setEnabled(false);
    progStart_->setEnabled(false);
  }
}

void RampSoakWindow::ReadFile() {
  const QString path = app::ChooseFile(this, app::FileDialogKind::Open, Msg::FilterRampSoak);
  if (path.isEmpty()) return;
  ProgramTable loaded = table_;
  std::string reason;
  switch (LoadRampFile(path.toStdString(), loaded, &reason)) {
    case RampLoad::Loaded:
      SetTable(loaded);
      break;
    case RampLoad::OpenFailed:
      Ask(this, "FileErrorBox", app::QText(Msg::FileErrorCaption),
          app::WithReason(app::QText(Msg::FileOperationError), reason),
          QMessageBox::Ok | QMessageBox::Cancel);
      break;
    case RampLoad::BadContent:
      Ask(this, "DataErrorBox", app::QText(Msg::DataErrorCaption), app::QText(Msg::FileLengthOrContentError),
          QMessageBox::Ok | QMessageBox::Cancel);
      break;
  }
}

void RampSoakWindow::SaveFile() {
  const QString path = app::ChooseFile(this, app::FileDialogKind::Save, Msg::FilterRampSoak);
  if (path.isEmpty()) return;
  if (QFileInfo::exists(path) &&
      Ask(this, "OverwriteBox", QApplication::applicationName(),
          app::QText(Msg::OverWriteFilePrefix) + app::FileNameOnly(path),
          QMessageBox::Ok | QMessageBox::Cancel) != QMessageBox::Ok) {
    return;
  }
  std::string reason;
  if (!SaveRampFile(path.toStdString(), table_, &reason)) {
    Ask(this, "SaveFailedBox", QApplication::applicationName(), app::WithReason(app::QText(Msg::FailToSaveFile), reason),
        QMessageBox::Ok);
  }
}

}  // namespace kx::ramp
