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
#include "core/ramp/program_grid.h"
#include "widgets/drop_list.h"
#include "widgets/file_dialogs.h"
#include "widgets/qt_text.h"

namespace kx::ramp {

namespace {

constexpr int kColumnWidths[] = {80, 47, 46, 47, 47, 48, 48, 48, 47};
constexpr int kRowHeight = 18;
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
  ApplyControls();
}

void RampSoakWindow::BuildGrid() {
  progTable_ = new QTableWidget(kGridRows, kGridColumns, this);
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
  for (int c = 0; c < kGridColumns; ++c) progTable_->setColumnWidth(c, kColumnWidths[c]);
  // Small type drawn with narrow margins, so "Pattern 7", "Execute Time 7"
  // and "Prog End" fit the narrow columns whole.
  QFont font = progTable_->font();
  font.setPointSize(7);
  progTable_->setFont(font);
  progTable_->setWordWrap(false);
  progTable_->setItemDelegate(new TightCellDelegate(progTable_));
  for (int r = 0; r < kGridRows; ++r) {
    for (int c = 0; c < kGridColumns; ++c) {
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

void RampSoakWindow::WriteHeadings() {
  for (int c = 1; c < kGridColumns; ++c) progTable_->item(0, c)->setText(app::ToQString(HeadingText(0, c)));
  for (int r = 1; r < kGridRows; ++r) progTable_->item(r, 0)->setText(app::ToQString(HeadingText(r, 0)));
}

void RampSoakWindow::DisplayCell(int row, int column) {
  progTable_->item(row, column)->setText(app::ToQString(CellText(table_, row, column)));
}

void RampSoakWindow::DisplayTable() {
  for (int r = 1; r < kGridRows; ++r) {
    for (int c = 1; c < kGridColumns; ++c) DisplayCell(r, c);
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
  ApplyControls();
  if (editBox_->isVisible()) LoadEditor();
}

void RampSoakWindow::CellSelected(int row, int column) {
  if (row < 1 || column < 1) return;
  targetRow_ = row;
  targetColumn_ = column;
  LoadEditor();
}

void RampSoakWindow::LoadEditor() {
  const CellEditor editor = EditorFor(table_, targetRow_, targetColumn_);
  loading_ = true;
  maxStep_->setVisible(editor.kind == CellKind::MaxStep);
  spEdit_->setVisible(editor.kind == CellKind::SetValue || editor.kind == CellKind::LoopCount);
  stepLink_->setVisible(editor.kind == CellKind::Link);
  timeHour_->setVisible(editor.kind == CellKind::Time);
  timeMinLb_->setVisible(editor.kind == CellKind::Time);
  timeMin_->setVisible(editor.kind == CellKind::Time);
  if (editor.kind != CellKind::None) stepLinkLb_->setText(app::QText(editor.caption));
  QWidget* focus = nullptr;
  switch (editor.kind) {
    case CellKind::MaxStep:
      maxStep_->setCurrentIndex(editor.item);
      focus = maxStep_;
      break;
    case CellKind::SetValue:
    case CellKind::LoopCount:
      spEdit_->setText(app::ToQString(editor.text));
      focus = spEdit_;
      break;
    case CellKind::Time:
      timeHour_->setCurrentIndex(editor.item);
      timeMin_->setValue(editor.minute);
      timeMin_->setEnabled(editor.minuteEditable);
      focus = pokBt_;
      break;
    case CellKind::Link:
      stepLink_->setCurrentIndex(editor.item);
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
  if (!MinuteEditable(index)) timeMin_->setValue(0);
  timeMin_->setEnabled(MinuteEditable(index));
  loading_ = false;
  if (!timeHour_->currentText().isEmpty()) Store();
}

void RampSoakWindow::Store() {
  if (KindOfRow(targetRow_) == CellKind::None) return;
  const StoreOutcome outcome =
      StoreEditor(table_, targetRow_, targetColumn_,
                  EditorInput{maxStep_->currentIndex(), stepLink_->currentIndex(), spEdit_->text().toStdString(),
                              timeHour_->currentIndex(), timeMin_->value()});
  if (!outcome.editorText.empty()) spEdit_->setText(app::ToQString(outcome.editorText));
  DisplayCell(targetRow_, targetColumn_);
  DrawCurve();
}

void RampSoakWindow::ApplyControls() {
  const EditorControls c = ControlsFor(filled_, transferring_);
  progStart_->setEnabled(c.startList);
  readSBt_->setEnabled(c.readSetting);
  readFBt_->setEnabled(c.readFile);
  saveFBt_->setEnabled(c.saveFile);
  wrBt_->setEnabled(c.write);
  editPBt_->setEnabled(c.edit);
  upLoadLabel_->setVisible(c.progress);
  upLoadBar_->setVisible(c.progress);
}

void RampSoakWindow::StartTransfer(Msg label) {
  transferring_ = true;
  upLoadLabel_->setText(app::QText(label));
  upLoadBar_->setValue(0);
  ApplyControls();
  upLoadLabel_->raise();
  upLoadBar_->raise();
}

void RampSoakWindow::StartRead() {
  StartTransfer(Msg::ReadingNow);
  emit ReadRequested();
}

void RampSoakWindow::StartWrite() {
  StartTransfer(Msg::WritingNow);
  emit WriteRequested();
}

void RampSoakWindow::TransferProgress(int permille) { upLoadBar_->setValue(std::clamp(permille, 0, 1000)); }

void RampSoakWindow::ReadFinished(const ProgramTable& table) {
  upLoadBar_->setValue(1000);
  TransferEnded();
  SetTable(table);
}

void RampSoakWindow::TransferEnded() {
  transferring_ = false;
  upLoadLabel_->clear();
  ApplyControls();
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
