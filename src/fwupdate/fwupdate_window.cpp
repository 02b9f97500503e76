#include "fwupdate/fwupdate_window.h"

#include <QCloseEvent>
#include <QFileInfo>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "widgets/note_label.h"
#include "widgets/qt_text.h"
#include "widgets/scaling.h"

namespace kx::fwupdate {

namespace {

QString PanelStyle(StatusColour colour) {
  switch (colour) {
    case StatusColour::Lime: return "background: #00FF00;";
    case StatusColour::Yellow: return "background: #FFFF00;";
    case StatusColour::Red: return "background: #FF0000;";
    case StatusColour::White: break;
  }
  return "background: #FFFFFF;";
}

QLabel* WhitePanel(QWidget* parent, const char* name) {
  auto* panel = new QLabel(parent);
  panel->setObjectName(name);
  panel->setFrameShape(QFrame::Panel);
  panel->setFrameShadow(QFrame::Sunken);
  panel->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  panel->setStyleSheet(PanelStyle(StatusColour::White));
  panel->setMinimumWidth(40);
  // A long path must not widen the window.
  panel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  return panel;
}

QLineEdit* ReadOnlyField(QWidget* parent, const char* name) {
  auto* field = new QLineEdit(parent);
  field->setObjectName(name);
  field->setReadOnly(true);
  field->setFocusPolicy(Qt::NoFocus);
  QFont f = field->font();
  f.setBold(true);
  f.setItalic(true);
  f.setCapitalization(QFont::AllUppercase);
  field->setFont(f);
  field->setStyleSheet("color: #800000;");  // dark red
  return field;
}

QFrame* SilverPanel(QWidget* parent, const char* name) {
  auto* panel = new QFrame(parent);
  panel->setObjectName(name);
  panel->setFrameShape(QFrame::StyledPanel);
  panel->setAutoFillBackground(true);
  QPalette pal = panel->palette();
  pal.setColor(QPalette::Window, QColor(0xC0, 0xC0, 0xC0));
  panel->setPalette(pal);
  return panel;
}

QLabel* Caption(QWidget* parent, const char* name, const char* text) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(name);
  return label;
}

}  // namespace

FwUpdateWindow::FwUpdateWindow(Session& session, ComPort& line, FlashUpdateMemory& memory, ChooseFile chooseFile,
                               QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowStaysOnTopHint),
      session_(session),
      chooseFile_(std::move(chooseFile)),
      update_(std::make_unique<FlashUpdate>(session, line, memory)) {
  setObjectName("FWUpdate");
  setWindowTitle("KX2/KX3 Update Program");
  setModal(true);

  OpenBt = new QPushButton("OPEN FILE", this);
  OpenBt->setObjectName("OpenBt");
  FileName = WhitePanel(this, "FileName");
  UpDateBt = new QPushButton("UPDATE", this);
  UpDateBt->setObjectName("UpDateBt");
  UpDateBt->setEnabled(false);
  ErrMess = WhitePanel(this, "ErrMess");
  ErrMess->setAlignment(Qt::AlignCenter);

  InfoPl = SilverPanel(this, "InfoPl");
  ModelLb = Caption(InfoPl, "ModelLb", "MODEL NAME");
  ModelN = ReadOnlyField(InfoPl, "ModelN");
  CheckLb = Caption(InfoPl, "CheckLb", "CHECKSUM");
  ChecksumN = ReadOnlyField(InfoPl, "ChecksumN");
  auto* info = new QGridLayout(InfoPl);
  info->addWidget(ModelLb, 0, 0);
  info->addWidget(ModelN, 0, 1);
  info->addWidget(CheckLb, 1, 0);
  info->addWidget(ChecksumN, 1, 1);

  Panel1 = SilverPanel(this, "Panel1");
  FWLb = Caption(Panel1, "FWLb", "F/W VERSION");
  FWVER = ReadOnlyField(Panel1, "FWVER");
  AddrLb = Caption(Panel1, "AddrLb", "ADDRESS");
  Addr1 = new QSpinBox(Panel1);
  Addr1->setObjectName("Addr1");
  Addr1->setRange(1, 247);
  Addr1->setValue(1);
  auto* version = new QGridLayout(Panel1);
  version->addWidget(FWLb, 0, 0);
  version->addWidget(FWVER, 0, 1);
  version->addWidget(AddrLb, 1, 0);
  version->addWidget(Addr1, 1, 1);
  AddrLb->hide();
  Addr1->hide();

  LineNoteLb = app::NoteLabel(this, "LineNoteLb");

  ProgressBar = new QProgressBar(this);
  ProgressBar->setObjectName("ProgressBar");
  ProgressBar->setRange(0, 100);
  ProgressBar->setValue(0);
  CloseBt = new QPushButton("CLOSE", this);
  CloseBt->setObjectName("CloseBt");

  auto* grid = new QGridLayout;
  grid->addWidget(OpenBt, 0, 0);
  grid->addWidget(FileName, 0, 1);
  grid->addWidget(UpDateBt, 1, 0);
  grid->addWidget(ErrMess, 1, 1);
  grid->setColumnStretch(1, 1);
  auto* panels = new QHBoxLayout;
  panels->addWidget(InfoPl, 1);
  panels->addWidget(Panel1, 1);
  auto* bottom = new QHBoxLayout;
  bottom->addWidget(ProgressBar, 1);
  bottom->addWidget(CloseBt);
  auto* column = new QVBoxLayout(this);
  column->addLayout(grid);
  column->addWidget(LineNoteLb);
  column->addLayout(panels);
  column->addLayout(bottom);

  connect(OpenBt, &QPushButton::clicked, this, &FwUpdateWindow::OpenBtClick);
  connect(UpDateBt, &QPushButton::clicked, this, &FwUpdateWindow::UpDateBtClick);
  connect(CloseBt, &QPushButton::clicked, this, &FwUpdateWindow::CloseBtClick);
  update_->SetOnChange([this] { ShowUpdate(); });

  resize(kDesignWidth, 260);
  if (parent != nullptr) move(parent->frameGeometry().center() - QPoint(width() / 2, height() / 2));
}

FwUpdateWindow::~FwUpdateWindow() { FormClose(); }

void FwUpdateWindow::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  FormShow();
}

void FwUpdateWindow::FormShow() {
  ShowLineNote();
  app::ScaleWindow(this, width(), kDesignWidth);
}

void FwUpdateWindow::ShowLineNote() {
  const FirmwareLine line = FirmwareLineOf(session_, session_.params.port);
  lineAllowed_ = line.allowed;
  app::SetNote(*LineNoteLb, app::ToQString(line.note), !line.allowed);
  UpDateBt->setEnabled(UpdateOffered() && !update_->view().portMissing);
}

bool FwUpdateWindow::UpdateOffered() const { return lineAllowed_ && image_.has_value() && !update_->Busy(); }

void FwUpdateWindow::closeEvent(QCloseEvent* event) {
  FormClose();
  QDialog::closeEvent(event);
}

void FwUpdateWindow::done(int result) {
  FormClose();
  QDialog::done(result);
}

void FwUpdateWindow::FormClose() {
  if (closed_) return;
  closed_ = true;
  // An update still running stops here: its port is closed and the line freed.
  update_->SetOnChange(nullptr);
  update_->Handle(FlashUpdate::Stop{});
}

void FwUpdateWindow::CloseBtClick() { close(); }

void FwUpdateWindow::OnPortEvent(const PortEvent& event) {
  if (!closed_) update_->Handle(event);
}

void FwUpdateWindow::OnLineLost() {
  if (!closed_) update_->Handle(FlashUpdate::LineLost{});
}

void FwUpdateWindow::OpenBtClick() {
  ProgressBar->setValue(0);
  ErrMess->setStyleSheet(PanelStyle(StatusColour::White));
  ErrMess->clear();
  const QString path = chooseFile_ ? chooseFile_() : QString();
  if (path.isEmpty()) return;
  session_.lastFileName = QFileInfo(path).fileName().toStdString();
  FileName->setText(path);

  // Nothing of an earlier file is kept once another one is chosen: UPDATE
  // flashes the file named in FileName or nothing.
  image_.reset();
  UpDateBt->setEnabled(false);
  const FirmwareLoad load = LoadFirmwareFile(path.toStdString());
  if (load.result == FirmwareCheck::FileError || load.result == FirmwareCheck::BufferError) {
    const bool file = load.result == FirmwareCheck::FileError;
    QMessageBox box(QMessageBox::NoIcon, app::QText(file ? Msg::FileErrorCaption : Msg::BufferErrorCaption),
                    app::WithReason(app::QText(file ? Msg::FileOperationError : Msg::BufferReadError), load.reason),
                    QMessageBox::Ok | QMessageBox::Cancel, this);
    box.setObjectName("FileErrorBox");
    box.exec();
    return;
  }
  ModelN->setText(app::ToQString(load.modelText));
  FWVER->setText(app::ToQString(load.versionText));
  AddrLb->setVisible(load.kx3);
  Addr1->setVisible(load.kx3);
  switch (load.result) {
    case FirmwareCheck::Ok:
      ChecksumN->setText(app::ToQString(load.checksumText));
      image_ = load.image;
      break;
    case FirmwareCheck::ChecksumIncorrect:
      FileName->setText(app::QText(Msg::ProgramChecksumIncorrect));
      break;
    default:
      FileName->setText(app::QText(Msg::FileLengthOrContentError));
      break;
  }
  UpDateBt->setEnabled(UpdateOffered());
}

void FwUpdateWindow::UpDateBtClick() {
  if (!image_ || update_->Busy()) return;
  update_->Start(*image_, Addr1->value());
  ShowUpdate();
}

void FwUpdateWindow::ShowUpdate() {
  const FlashUpdate::View& view = update_->view();
  ErrMess->setText(app::ToQString(view.status));
  ErrMess->setStyleSheet(PanelStyle(view.colour));
  ProgressBar->setValue(view.progress);
  const bool busy = update_->Busy();
  OpenBt->setEnabled(!busy);
  Addr1->setEnabled(!busy);
  UpDateBt->setEnabled(UpdateOffered() && !view.portMissing && !view.lineRefused);
  // A notice is shown once the engine's own step has returned.
  if (update_->NoticePending()) QMetaObject::invokeMethod(this, &FwUpdateWindow::HandleNotices, Qt::QueuedConnection);
}

void FwUpdateWindow::HandleNotices() {
  while (!closed_) {
    const std::optional<int> code = update_->TakeNotice();
    if (!code) return;
    if (session_.showUserMessage) session_.showUserMessage(*code);
    if (closed_) return;
    update_->Handle(FlashUpdate::NoticeClosed{});
  }
}

}  // namespace kx::fwupdate
