#include "comset/settings_window.h"

#include <QApplication>
#include <QButtonGroup>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QVBoxLayout>

#include "comset/search_page.h"
#include "core/comset/pc_settings.h"
#include "widgets/message_box.h"
#include "widgets/note_label.h"
#include "widgets/pictures.h"
#include "widgets/qt_text.h"
#include "widgets/radio_group.h"

namespace kx::comset {

namespace {

constexpr int kPortColumns = 4;

QFont Bold(QFont f) {
  f.setBold(true);
  return f;
}

}  // namespace

SettingsWindow::SettingsWindow(Session& session, MainPortRouting& mainPort, Mode mode, QWidget* parent)
    : QDialog(parent, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      session_(session),
      mainPort_(mainPort),
      mode_(mode) {
  setObjectName("Protocol");
  setWindowTitle("OSTRA DIGITAL CONTROLLER");
  setModal(true);
  setAutoFillBackground(true);
  QPalette pal = palette();
  pal.setColor(QPalette::Window, QColor(255, 255, 0));
  setPalette(pal);

  auto* title = new QLabel(this);
  title->setObjectName("TitleImage");
  title->setPixmap(app::SettingsTitlePicture(QSize(420, 44)));
  title->setAlignment(Qt::AlignCenter);

  // Status line, gauge and time-left line sit in the title area.
  AutoDetectLb = new QLabel(this);
  AutoDetectLb->setObjectName("AutoDetectLb");
  AutoDetectLb->setStyleSheet("color: #0000FF;");
  DetectBar = new QProgressBar(this);
  DetectBar->setObjectName("DetectBar");
  DetectBar->setStyleSheet("QProgressBar { background: #FFFF00; }");
  TimeStamp = new QLabel(this);
  TimeStamp->setObjectName("TimeStamp");
  TimeStamp->setStyleSheet("color: #0000FF;");
  for (QWidget* w : std::initializer_list<QWidget*>{AutoDetectLb, DetectBar, TimeStamp}) w->hide();

  pcPage_ = BuildPcPage();

  DetectPL = new QFrame(this);
  DetectPL->setObjectName("DetectPL");
  DetectPL->setAutoFillBackground(true);
  DetectPL->hide();
  KX3AfterPL = new QFrame(DetectPL);
  KX3AfterPL->setObjectName("KX3AfterPL");
  KX3AfterPL->hide();

  // The search page lies over the settings groups: both share one cell.
  auto* pages = new QGridLayout;
  pages->setContentsMargins(0, 0, 0, 0);
  pages->addWidget(pcPage_, 0, 0);
  pages->addWidget(DetectPL, 0, 0);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(6, 6, 6, 6);
  layout->addWidget(title);
  layout->addWidget(AutoDetectLb);
  layout->addWidget(DetectBar);
  layout->addWidget(TimeStamp);
  layout->addLayout(pages);
  layout->addWidget(BuildButtonPanel());
  layout->setSizeConstraint(QLayout::SetFixedSize);

  SearchPage::Link link;
  link.detectPanel = DetectPL;
  link.afterPanel = KX3AfterPL;
  link.status = AutoDetectLb;
  link.gauge = DetectBar;
  link.timeLeft = TimeStamp;
  link.currentPort = [this] { return currentPort_; };
  link.currentFormat = [this] { return ChosenFormat(); };
  link.takeSettings = [this](const PresetFormat& f) {  // SET: the found row's settings
    Baudrate->SetItemIndex(FormatBaudCode(f));
    Parity->SetItemIndex(FormatParityCode(f));
    DataLen->SetItemIndex(f.length);
    StopBit->SetItemIndex(f.stop);
    Format->SetItemIndex(f.form);
  };
  link.showSearchPage = [this](bool shown) { pcPage_->setVisible(!shown); };
  link.closeWindow = [this] { done(kProtocolClosed); };
  page_ = new SearchPage(session_, mainPort_,
                         mode_ == Mode::Controller ? SearchPage::Mode::Controller : SearchPage::Mode::Pc, link, this);
  AutoDetectBt->setVisible(mode_ == Mode::Pc);

  if (QScreen* screen = QApplication::primaryScreen()) {
    adjustSize();
    move(screen->availableGeometry().center() - QPoint(width() / 2, height() / 2));
  }
}

SettingsWindow::~SettingsWindow() {
  // The main port's answers must not reach a window that is gone.
  mainPort_.setup.answerStep = nullptr;
  mainPort_.setup.lineLost = nullptr;
}

QWidget* SettingsWindow::BuildPcPage() {
  auto* page = new QWidget(this);
  page->setObjectName("PcPage");

  auto* comPort = new QGroupBox("Com Port", page);
  comPort->setObjectName("COMPort");
  auto* portGrid = new QGridLayout(comPort);
  auto* portGroup = new QButtonGroup(comPort);
  for (int n = 1; n < Session::kPortSlots; ++n) {
    auto* b = new QRadioButton(QString("COM%1").arg(n), comPort);
    b->setObjectName(QString("COM%1").arg(n));
    b->setProperty("tag", n);
    COM[static_cast<std::size_t>(n)] = b;
    portGroup->addButton(b, n);
    portGrid->addWidget(b, (n - 1) / kPortColumns, (n - 1) % kPortColumns);
  }
  COM[1]->setChecked(true);
  connect(portGroup, &QButtonGroup::idClicked, this, &SettingsWindow::COM1Click);

  Baudrate = new app::RadioGroup("Baudrate", "Baudrate",
                                 {"2400bps", "4800bps", "9600bps", "19200bps", "38400bps"}, page);
  Parity = new app::RadioGroup("Parity", "Parity Bit", {"None", "Even", "Odd"}, page);
  DataLen = new app::RadioGroup("DataLen", "Data Length", {"7 Bits", "8 Bits"}, page);
  StopBit = new app::RadioGroup("StopBit", "Stop Bit", {"1 Bit", "2 Bits"}, page);
  Format = new app::RadioGroup("Format", "Format", {"ASCII", "RTU"}, page);
  for (app::RadioGroup* g : {Baudrate, Parity, DataLen, StopBit, Format}) g->SetItemIndex(0);
  connect(Format, &app::RadioGroup::Changed, this, &SettingsWindow::FormatClick);
  ServerNoteLb = app::NoteLabel(page, "ServerNoteLb");

  auto* grid = new QGridLayout(page);
  grid->setContentsMargins(0, 0, 0, 0);
  grid->addWidget(comPort, 0, 0, 1, 3);
  grid->addWidget(Baudrate, 1, 0, 2, 1);
  grid->addWidget(Parity, 1, 1);
  grid->addWidget(DataLen, 1, 2);
  grid->addWidget(StopBit, 2, 1);
  grid->addWidget(Format, 2, 2);
  grid->addWidget(ServerNoteLb, 3, 0, 1, 3);
  return page;
}

QWidget* SettingsWindow::BuildButtonPanel() {
  auto* panel = new QFrame(this);
  panel->setObjectName("BKGPL");
  panel->setFrameShape(QFrame::StyledPanel);
  AutoDetectBt = new QPushButton("Auto Detect", panel);
  AutoDetectBt->setObjectName("AutoDetectBt");
  OKBt = new QPushButton("OK", panel);
  OKBt->setObjectName("OKBt");
  CancelBt = new QPushButton("Cancel", panel);
  CancelBt->setObjectName("CancelBt");
  auto* row = new QHBoxLayout(panel);
  for (QPushButton* b : {AutoDetectBt, OKBt, CancelBt}) {
    b->setFont(Bold(b->font()));
    b->setAutoDefault(false);
    row->addWidget(b);
  }
  connect(AutoDetectBt, &QPushButton::clicked, this, &SettingsWindow::AutoDetectBtClick);
  connect(OKBt, &QPushButton::clicked, this, &SettingsWindow::OKBtClick);
  connect(CancelBt, &QPushButton::clicked, this, &SettingsWindow::CancelBtClick);
  return panel;
}

void SettingsWindow::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  FormShow();
}

void SettingsWindow::FormShow() {
  ShowPcPage();
  if (mode_ == Mode::Controller) page_->ShowControllerMode();
}

void SettingsWindow::ShowPcPage() {
  const PcSettingsPage page = PcSettingsFromWord(session_.settingsWord, session_.portPresent);
  Format->SetItemIndex(page.items.rtu);  // runs FormatClick
  StopBit->SetItemIndex(page.items.stopBits2);
  Baudrate->SetItemIndex(page.items.baudCode);
  Parity->SetItemIndex(page.items.parityCode);
  DataLen->SetItemIndex(page.items.dataBits8);
  DataLen->setEnabled(page.dataLenEnabled);

  currentPort_ = page.currentPort;
  for (int n = 1; n < Session::kPortSlots; ++n) {
    QRadioButton* b = COM[static_cast<std::size_t>(n)];
    b->setEnabled(session_.portPresent[static_cast<std::size_t>(n)]);
    b->setToolTip(QString::fromStdString(session_.portPath[static_cast<std::size_t>(n)]));
  }
  if (page.noPortExists) {
    QButtonGroup* group = COM[1]->group();
    group->setExclusive(false);
    for (int n = 1; n < Session::kPortSlots; ++n) COM[static_cast<std::size_t>(n)]->setChecked(false);
    group->setExclusive(true);
    // Shown once the window is up, so the message sits over it.
    QMetaObject::invokeMethod(
        this, [this] { app::ShowMessage(this, app::QText(Msg::NoComPortExist)); }, Qt::QueuedConnection);
  } else {
    COM[static_cast<std::size_t>(currentPort_)]->setChecked(true);
  }
  ShowLineControls();
}

void SettingsWindow::COM1Click(int port) {
  currentPort_ = port;
  ShowLineControls();
}

void SettingsWindow::FormatClick() {
  if (Format->ItemIndex() == 1) DataLen->SetItemIndex(1);
  ShowLineControls();
}

void SettingsWindow::ShowLineControls() {
  const PcPageControls controls = PcControlsFor(session_, currentPort_, Format->ItemIndex() == 1);
  for (app::RadioGroup* g : {Baudrate, Parity, StopBit}) g->setEnabled(controls.formatEnabled);
  DataLen->setEnabled(controls.dataLenEnabled);
  Format->setEnabled(controls.formEnabled);
  app::SetNote(*ServerNoteLb, app::ToQString(controls.note));
}

PresetFormat SettingsWindow::ChosenFormat() const {
  SettingsFields fields;
  fields.baudCode = Baudrate->ItemIndex();
  fields.parityCode = Parity->ItemIndex();
  fields.dataBits8 = DataLen->ItemIndex();
  fields.stopBits2 = StopBit->ItemIndex();
  fields.rtu = Format->ItemIndex();
  return FieldsFormat(fields);
}

void SettingsWindow::OKBtClick() {
  SettingsFields chosen;
  chosen.port = currentPort_;
  chosen.baudCode = Baudrate->ItemIndex();
  chosen.parityCode = Parity->ItemIndex();
  chosen.dataBits8 = DataLen->ItemIndex();
  chosen.stopBits2 = StopBit->ItemIndex();
  chosen.rtu = Format->ItemIndex();
  if (StorePcSettings(session_, chosen) == StoreOutcome::WriteFailed) {
    saveFailed_ = true;
    app::ShowMessage(this, app::QText(Msg::DataCannotSave));
  }
  accept();
}

void SettingsWindow::CancelBtClick() {
  page_->CancelWindow();  // a search in progress ends with the line
  if (mainPort_.port().IsOpen()) {
    mainPort_.ReleaseLine();
    mainPort_.Close();
  }
  reject();
}

void SettingsWindow::AutoDetectBtClick() { page_->AutoDetectBtClick(); }

}  // namespace kx::comset
