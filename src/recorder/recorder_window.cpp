#include "recorder/recorder_window.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QFileInfo>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QSlider>
#include <QSpinBox>
#include <QStyle>
#include <QTime>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

#include "widgets/drop_list.h"
#include "widgets/file_dialogs.h"
#include "widgets/qt_text.h"
#include "widgets/scaling.h"

namespace kx::recorder {

using app::QText;
using app::ToQString;

namespace {

constexpr int kDesignWidth = 808;
constexpr int kDesignHeight = 600;

// The chart geometry in a box of `box` pixels in a window `windowWidth` wide:
// across as designed for the window's width (plot 35..755 and canvas 795 at
// 808, the columns limited to the chart memory), down scaled to the box's
// height (canvas 365, plot 5..345), so the plot takes the height it has.
ChartGeometry ChartGeometryFor(int windowWidth, QSize box) {
  const ChartGeometry design;
  ChartGeometry g = ChartGeometry::ForWidth(windowWidth);
  g.width = std::max(1, std::min(g.width, box.width()));
  g.height = std::max(1, box.height());
  g.top = design.top * g.height / design.height;
  g.bottom = design.bottom * g.height / design.height;
  return g;
}

QColor ToQColor(Rgb rgb) { return QColor::fromRgb(static_cast<QRgb>(rgb)); }

QString ColourName(Rgb rgb) { return ToQColor(rgb).name(); }

struct NamedColour {
  const char* name;
};
constexpr NamedColour kBackgroundNames[kBackgroundColours] = {
    {"Black"}, {"Maroon"}, {"Green"},   {"Olive"},   {"Navy"}, {"Purple"}, {"Teal"},  {"Gray"},
    {"Silver"}, {"Red"},   {"Lime"},    {"Yellow"},  {"Blue"}, {"Fuchsia"}, {"Aqua"}, {"White"}};

constexpr const char* kBoxWhite = "#FFFFFF";
constexpr const char* kBoxSilver = "#C0C0C0";
constexpr const char* kBoxRed = "#FF0000";

// A panel with a caption on its left, holding further controls.
QFrame* CaptionPanel(const char* name, const QString& caption, QWidget* parent, QHBoxLayout** row) {
  auto* panel = new QFrame(parent);
  panel->setObjectName(name);
  panel->setFrameShape(QFrame::StyledPanel);
  // As wide as caption and control need: a maximised window's spare width
  // goes to the play panel or stays at the row's end.
  panel->setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Preferred);
  *row = new QHBoxLayout(panel);
  (*row)->setContentsMargins(4, 2, 4, 2);
  auto* label = new QLabel(caption, panel);
  (*row)->addWidget(label);
  return panel;
}

QString WithSuffix(QString path, const char* suffix) {
  if (!path.isEmpty() && QFileInfo(path).suffix().isEmpty()) path += QString(".") + suffix;
  return path;
}

}  // namespace

// The paint box RecdIme: the chart canvas kept in a pixmap, so drawing one
// column and scrolling by one pixel never repaints the rest.
class ChartView : public QWidget {
 public:
  explicit ChartView(QWidget* parent) : QWidget(parent) {
    setObjectName("RecdIme");
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    setMinimumSize(200, 100);
  }
  void SetCanvasSize(int w, int h, int fontPixels) {
    canvas_ = QPixmap(std::max(w, 1), std::max(h, 1));
    canvas_.fill(Qt::white);
    font_ = font();
    font_.setPixelSize(std::max(fontPixels, 8));
    update();
  }
  void Fill(const QColor& c) {
    canvas_.fill(c);
    update();
  }
  void DrawLine(int x1, int y1, int x2, int y2, const QColor& c, int width, bool dotted) {
    QPainter p(&canvas_);
    p.setPen(QPen(c, width, dotted ? Qt::DotLine : Qt::SolidLine, Qt::FlatCap));
    p.drawLine(x1, y1, x2, y2);
    update();
  }
  void DrawText(int x, int y, const QString& text, const QColor& c) {
    QPainter p(&canvas_);
    p.setFont(font_);
    p.setPen(c);
    p.drawText(QRect(x, y, 400, QFontMetrics(font_).height()), Qt::AlignLeft | Qt::AlignTop, text);
    update();
  }
  void Scroll(int left, int top, int right, int bottom) {
    canvas_.scroll(-1, 0, QRect(left, top, right - left, bottom - top));
    update();
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    // A canvas kept through a resize during a run may be smaller than the box.
    if (canvas_.width() < width() || canvas_.height() < height()) p.fillRect(rect(), palette().window());
    p.drawPixmap(0, 0, canvas_);
  }

 private:
  QPixmap canvas_;
  QFont font_;
};

RecorderWindow::RecorderWindow(Session& session, ComPort& port, QWidget* parent) : QDialog(parent) {
  setObjectName("PRecord");
  setWindowTitle("Ostra KX Series Recorder Program");
  setModal(true);
  resize(kDesignWidth, 600);
  setWindowState(Qt::WindowMaximized);

  dialogs_.saveRecordPath = [this] { return app::ChooseFile(this, app::FileDialogKind::Save, Msg::FilterRecord); };
  dialogs_.openRecordPath = [this] { return app::ChooseFile(this, app::FileDialogKind::Open, Msg::FilterRecord); };
  dialogs_.saveCsvPath = [this] { return app::ChooseFile(this, app::FileDialogKind::Save, Msg::FilterCsv); };
  dialogs_.confirm = [this](const QString& text) {
    return QMessageBox::question(this, QString(), text, QMessageBox::Ok | QMessageBox::Cancel) ==
           QMessageBox::Ok;
  };
  dialogs_.message = [this](const QString& text, const QString& caption, bool okCancel) {
    QMessageBox box(QMessageBox::NoIcon, caption, text,
                    okCancel ? QMessageBox::Ok | QMessageBox::Cancel : QMessageBox::Ok, this);
    box.exec();
  };
  clock_ = [] {
    const QTime now = QTime::currentTime();
    return kx::recorder::SampleTime{static_cast<std::uint8_t>(now.hour()), static_cast<std::uint8_t>(now.minute()),
                      static_cast<std::uint8_t>(now.second()), static_cast<std::uint8_t>(now.msec() & 0xFF)};
  };

  RecorderTimer& timer = *this;
  model_ = std::make_unique<RecorderModel>(session, port, timer, [this] { return clock_(); });
  model_->chartModel().SetSurface(this);
  model_->SetObserver(this);
  // The model asks through the window's dialogs, which tests replace; a file
  // typed without a suffix gets the filter's.
  RecorderQuestions& questions = model_->questions();
  questions.saveRecordPath = [this] { return WithSuffix(dialogs_.saveRecordPath(), "rec").toStdString(); };
  questions.openRecordPath = [this] { return dialogs_.openRecordPath().toStdString(); };
  questions.saveCsvPath = [this] { return WithSuffix(dialogs_.saveCsvPath(), "csv").toStdString(); };
  questions.confirm = [this](const std::string& question) { return dialogs_.confirm(ToQString(question)); };

  Timer1 = new QTimer(this);
  Timer1->setObjectName("Timer1");
  Timer1->setTimerType(Qt::PreciseTimer);
  connect(Timer1, &QTimer::timeout, this, &RecorderWindow::SampleTick);

  BuildControls();
  for (int i = 0; i < kSlots; ++i) model_->SetBoxAddress(i, ComAddr[static_cast<std::size_t>(i)]->value());
}

RecorderWindow::~RecorderWindow() { model_->Close(); }

void RecorderWindow::BuildControls() {
  auto* root = new QVBoxLayout(this);
  root->setContentsMargins(4, 4, 4, 4);
  root->setSpacing(3);

  // Tool bar and the acquisition controls.
  auto* top = new QHBoxLayout();
  auto toolButton = [this, top](QToolButton*& button, const char* name, const QString& text,
                                QStyle::StandardPixmap icon, const QString& hint, bool checkable) {
    button = new QToolButton(this);
    button->setObjectName(name);
    button->setText(text);
    button->setIcon(style()->standardIcon(icon));
    button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    button->setToolTip(hint);
    button->setCheckable(checkable);
    top->addWidget(button);
  };
  toolButton(SaveBt, "SaveBt", "Save", QStyle::SP_DialogSaveButton, "Save recording data", true);
  toolButton(RePlayBt, "RePlayBt", "Replay", QStyle::SP_MediaPlay, "Replay recording data", true);
  toolButton(CsvBt, "CsvBt", "Export CSV", QStyle::SP_FileDialogDetailedView,
             "Export the loaded or the current recording to a CSV file", false);
  toolButton(ExitBt3, "ExitBt3", "Exit", QStyle::SP_DialogCloseButton, "Exit this window", false);
  connect(SaveBt, &QToolButton::clicked, this, [this] { model_->SaveClicked(SaveBt->isChecked()); });
  connect(RePlayBt, &QToolButton::clicked, this, &RecorderWindow::RePlayBtClick);
  connect(CsvBt, &QToolButton::clicked, this, [this] { model_->ExportClicked(); });
  connect(ExitBt3, &QToolButton::clicked, this, &QDialog::close);
  top->addSpacing(12);

  ExecCntLb = new QLabel("Counter", this);
  ExecCntLb->setObjectName("ExecCntLb");
  top->addWidget(ExecCntLb);
  LoopCnt = new QLineEdit(kCounterResetText, this);
  LoopCnt->setObjectName("LoopCnt");
  QFont bold = LoopCnt->font();
  bold.setBold(true);
  LoopCnt->setFont(bold);
  LoopCnt->setMaxLength(9);
  LoopCnt->setFixedWidth(LoopCnt->fontMetrics().horizontalAdvance(" 000000000") + 12);
  LoopCnt->setEnabled(false);
  LoopCnt->installEventFilter(this);
  top->addWidget(LoopCnt);

  QHBoxLayout* row = nullptr;
  PSampleTime = CaptionPanel("PSampleTime", "Sampling time", this, &row);
  SampleTime = new QSpinBox(PSampleTime);
  SampleTime->setObjectName("SampleTime");
  SampleTime->setRange(0, 99);
  SampleTime->setValue(1);
  row->addWidget(SampleTime);
  SampleEdit = new QLineEdit("0.5", SampleTime);
  SampleEdit->setObjectName("SampleEdit");
  SampleEdit->setReadOnly(true);
  SampleEdit->setFrame(false);
  SampleEdit->hide();
  SampleTime->installEventFilter(this);
  SecPl = new QLabel("seconds", PSampleTime);
  SecPl->setObjectName("SecPl");
  row->addWidget(SecPl);
  connect(SampleTime, &QSpinBox::valueChanged, this, &RecorderWindow::SampleTimeChange);
  top->addWidget(PSampleTime);

  BackGndP = new QFrame(this);
  BackGndP->setObjectName("BackGndP");
  auto* startRow = new QHBoxLayout(BackGndP);
  startRow->setContentsMargins(6, 3, 6, 3);
  StartBt = new QPushButton("Start", BackGndP);
  StartBt->setObjectName("StartBt");
  StartBt->setToolTip(QText(Msg::StartGettingData));
  startRow->addWidget(StartBt);
  connect(StartBt, &QPushButton::clicked, this, [this] { model_->StartClicked(SampleTime->value()); });
  top->addWidget(BackGndP);
  top->addStretch(1);
  root->addLayout(top);

  // Display controls and the play panel.
  auto* second = new QHBoxLayout();
  DisplayPL = CaptionPanel("DisplayPL", "Display", this, &row);
  DisplayMd = new app::DropList(DisplayPL);
  DisplayMd->setObjectName("DisplayMd");
  DisplayMd->addItems({"Auto", "Fix"});
  row->addWidget(DisplayMd);
  connect(DisplayMd, &app::DropList::Chosen, this, [this] { model_->SetFixedScale(DisplayMd->currentIndex() == 1); });
  second->addWidget(DisplayPL);

  auto scaleField = [this, second](QFrame*& panel, QLineEdit*& edit, const char* panelName,
                                   const char* editName, const QString& caption, const char* text) {
    QHBoxLayout* r = nullptr;
    panel = CaptionPanel(panelName, caption, this, &r);
    edit = new QLineEdit(text, panel);
    edit->setObjectName(editName);
    edit->setMaxLength(6);
    edit->setFixedWidth(edit->fontMetrics().horizontalAdvance("0000000") + 10);
    edit->setEnabled(false);
    r->addWidget(edit);
    second->addWidget(panel);
    connect(edit, &QLineEdit::textChanged, this,
            [this] { model_->chartModel().SetFixTexts(MaxScale->text().toStdString(), MinScale->text().toStdString()); });
  };
  scaleField(MaxPL, MaxScale, "MaxPL", "MaxScale", "Max. scale", "100");
  scaleField(MinPL, MinScale, "MinPL", "MinScale", "Min. scale", "0");

  BGColorPL = CaptionPanel("BGColorPL", "Background", this, &row);
  BGColor = new app::DropList(BGColorPL);
  BGColor->setObjectName("BGColor");
  for (int i = 0; i < kBackgroundColours; ++i) {
    QPixmap swatch(14, 14);
    swatch.fill(ToQColor(BackgroundColour(i)));
    BGColor->addItem(QIcon(swatch), kBackgroundNames[i].name);
  }
  BGColor->setCurrentIndex(kBackgroundColours - 1);
  model_->chartModel().SetBackground(kBackgroundColours - 1);
  row->addWidget(BGColor);
  connect(BGColor, &app::DropList::Chosen, this, &RecorderWindow::BGColorChange);
  second->addWidget(BGColorPL);

  PlayPL = new QFrame(this);
  PlayPL->setObjectName("PlayPL");
  PlayPL->setFrameShape(QFrame::StyledPanel);
  auto* playRow = new QHBoxLayout(PlayPL);
  playRow->setContentsMargins(4, 2, 4, 2);
  auto playButton = [this, playRow](QPushButton*& b, const char* name, const QString& text,
                                    QStyle::StandardPixmap icon) {
    b = new QPushButton(style()->standardIcon(icon), text, PlayPL);
    b->setObjectName(name);
    playRow->addWidget(b);
  };
  playButton(PlayBt, "PlayBt", "Play", QStyle::SP_MediaPlay);
  playButton(PauseBt, "PauseBt", "Pause", QStyle::SP_MediaPause);
  playButton(StopBt, "StopBt", "Stop", QStyle::SP_MediaStop);
  PauseBt->setEnabled(false);
  StopBt->setEnabled(false);
  connect(PlayBt, &QPushButton::clicked, this, [this] { model_->Replay(replay_event::Play{}); });
  connect(PauseBt, &QPushButton::clicked, this, [this] { model_->Replay(replay_event::Pause{}); });
  connect(StopBt, &QPushButton::clicked, this, [this] { model_->Replay(replay_event::Stop{}); });
  TrackBar = new QSlider(Qt::Horizontal, PlayPL);
  TrackBar->setObjectName("TrackBar");
  TrackBar->setTickPosition(QSlider::NoTicks);
  TrackBar->setRange(0, 0);
  TrackBar->setMinimumWidth(160);
  playRow->addWidget(TrackBar, 1);
  connect(TrackBar, &QSlider::valueChanged, this,
          [this](int position) { model_->Replay(replay_event::TrackBarMoved{position}); });
  PlayPL->hide();
  second->addWidget(PlayPL, 1);
  second->addStretch(0);
  root->addLayout(second);

  // The chart.
  RecdIme = new ChartView(this);
  RecdIme->installEventFilter(this);
  root->addWidget(RecdIme, 1);

  // Device names, address boxes and value boxes.
  auto* names = new QGridLayout();
  names->setSpacing(3);
  for (int i = 0; i < kSlots; ++i) {
    auto* name = new QLabel(QString("Device %1").arg(i + 1), this);
    name->setObjectName(QString("DevicePL%1").arg(i));
    name->setAlignment(Qt::AlignCenter);
    name->setAutoFillBackground(true);
    name->setStyleSheet(QString("QLabel { color: white; background: %1; padding: 2px; }")
                            .arg(ColourName(SlotColour(i))));
    name->setCursor(Qt::PointingHandCursor);
    name->setToolTip("Show or hide this device's trace");
    name->installEventFilter(this);
    DevicePL[static_cast<std::size_t>(i)] = name;
    names->addWidget(name, 0, i);
  }
  root->addLayout(names);
  ComAddrPL = new QFrame(this);
  ComAddrPL->setObjectName("ComAddrPL");
  auto* boxes = new QGridLayout(ComAddrPL);
  boxes->setContentsMargins(0, 0, 0, 0);
  boxes->setSpacing(3);
  for (int i = 0; i < kSlots; ++i) {
    const auto si = static_cast<std::size_t>(i);
    auto* address = new QSpinBox(ComAddrPL);
    address->setObjectName(QString("ComAddr%1").arg(i));
    address->setRange(0, 247);
    address->setValue(i == 0 ? 1 : 0);
    ComAddr[si] = address;
    connect(address, &QSpinBox::valueChanged, this, [this, i](int v) { model_->SetBoxAddress(i, v); });
    boxes->addWidget(address, 0, i);
    auto* value = new QLineEdit("0", ComAddrPL);
    value->setObjectName(QString("PV%1").arg(i));
    value->setReadOnly(true);
    value->setAlignment(Qt::AlignRight);
    // The newest values stay readable while the boxes are locked for a run.
    QPalette readable = value->palette();
    readable.setColor(QPalette::Disabled, QPalette::Text, readable.color(QPalette::Active, QPalette::Text));
    value->setPalette(readable);
    PV[si] = value;
    boxes->addWidget(value, 1, i);
    SetBoxColour(i, kBoxWhite);
  }
  if (auto* edit = ComAddr[1]->findChild<QLineEdit*>()) edit->installEventFilter(this);
  root->addWidget(ComAddrPL);

  // Status line: failure texts, and the time of the newest drawn sample.
  auto* status = new QHBoxLayout();
  ErrMess = new QLabel("No error", this);
  ErrMess->setObjectName("ErrMess");
  ErrMess->setStyleSheet("QLabel { color: red; }");
  status->addWidget(ErrMess, 1);
  SampleTimeLb = new QLabel(this);
  SampleTimeLb->setObjectName("SampleTimeLb");
  SampleTimeLb->setToolTip("Time of the newest sample drawn");
  status->addWidget(SampleTimeLb);
  root->addLayout(status);

  LookChanged(model_->Look());
  StartBt->setText("Start");
}

void RecorderWindow::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  // Opened maximised; without a window manager the request alone does
  // nothing, so the geometry follows the screen as well.
  if (!event->spontaneous() && isMaximized() && screen() != nullptr) setGeometry(screen()->availableGeometry());
  if (chartLaidOut_) return;
  StopTimer();
  QTimer::singleShot(0, this, [this] {
    if (!chartLaidOut_) LayoutChart();
  });
}

int RecorderWindow::ScaleWidth() const {
  // The width that fits the window both across and down.
  return std::max(1, app::FitWidth(width(), height(), kDesignWidth, kDesignHeight));
}

void RecorderWindow::ScaleControls() {
  app::ScaleWindow(this, ScaleWidth(), kDesignWidth);
  LoopCnt->setFixedWidth(LoopCnt->fontMetrics().horizontalAdvance(" 000000000") + 16);
  if (layout()) layout()->activate();
}

void RecorderWindow::LayoutChart() {
  chartLaidOut_ = true;
  ScaleControls();
  for (Slot& s : model_->slotTable()) s.display = true;
  FitChart();
}

void RecorderWindow::FitChart() {
  // The chart takes the room the rows above and below leave it.
  const ChartGeometry g = ChartGeometryFor(width(), RecdIme->size());
  model_->chartModel().SetGeometry(g);
  RecdIme->SetCanvasSize(g.width, g.height, 8 * ScaleWidth() / kDesignWidth);
  model_->chartModel().Clear();
}

void RecorderWindow::resizeEvent(QResizeEvent* event) {
  QDialog::resizeEvent(event);
  if (chartLaidOut_) ScaleControls();
}

void RecorderWindow::closeEvent(QCloseEvent* event) {
  model_->Close();
  StopTimer();
  QDialog::closeEvent(event);
}

bool RecorderWindow::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::MouseButtonPress) {
    for (int i = 0; i < kSlots; ++i) {
      if (watched == DevicePL[static_cast<std::size_t>(i)]) {
        DevicePL0Click(i);
        return true;
      }
    }
    if (watched == ComAddr[1]->findChild<QLineEdit*>()) DevicePL0Click(1);
  } else if (event->type() == QEvent::Resize && watched == RecdIme) {
    // The chart follows its box while nothing is drawn into it: a sample
    // goes to column k mod N, so N stays while a run or a replay goes on.
    if (chartLaidOut_ && model_->ChartIdle()) FitChart();
  } else if (event->type() == QEvent::KeyRelease && watched == LoopCnt) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    LoopCntKeyUp(key == Qt::Key_Return || key == Qt::Key_Enter);
  } else if (event->type() == QEvent::Resize && watched == SampleTime) {
    // "0.5" covers the number, not the arrows.
    const int arrows = SampleTime->style()->pixelMetric(QStyle::PM_ScrollBarExtent) + 4;
    SampleEdit->setGeometry(2, 2, std::max(10, SampleTime->width() - arrows - 4), SampleTime->height() - 4);
  }
  return QDialog::eventFilter(watched, event);
}

// ---- What the model says --------------------------------------------------------

void RecorderWindow::LookChanged(const RecorderLook& look) {
  BackGndP->setStyleSheet(look.acquiring ? "QFrame#BackGndP { background: #FF0000; }"
                                         : "QFrame#BackGndP { background: #00FF00; }");
  StartBt->setText(QText(look.acquiring ? Msg::Stop : Msg::Start));
  StartBt->setToolTip(QText(look.acquiring ? Msg::EndOfAcquireData : Msg::StartGettingData));
  SaveBt->setChecked(look.saveChecked);
  SaveBt->setEnabled(look.saveEnabled);
  RePlayBt->setChecked(look.inReplay);
  RePlayBt->setEnabled(look.replayEnabled);
  PlayPL->setVisible(look.inReplay);
  BackGndP->setVisible(!look.inReplay);
  SampleTime->setEnabled(look.sampleTimeEnabled);
  ComAddrPL->setEnabled(look.addressesEnabled);
  DisplayMd->setEnabled(look.displayModeEnabled);
  MaxScale->setEnabled(look.scaleEnabled);
  MinScale->setEnabled(look.scaleEnabled);
}

void RecorderWindow::SetBoxColour(int slot, const char* colour) {
  ComAddr[static_cast<std::size_t>(slot)]->setStyleSheet(QString("QSpinBox { background: %1; }").arg(colour));
}

void RecorderWindow::RunStarted() {
  for (int i = 0; i < kSlots; ++i)
    SetBoxColour(i, model_->slotTable()[static_cast<std::size_t>(i)].display ? kBoxWhite : kBoxSilver);
}

void RecorderWindow::SampleTimeChange() { SampleEdit->setVisible(SampleTime->value() == 0); }

void RecorderWindow::SampleTick() { model_->Tick(); }

void RecorderWindow::PortEvent(const kx::PortEvent& event) { model_->PortEvent(event); }

void RecorderWindow::LineLost(const std::string& text) { model_->LineLost(text); }

void RecorderWindow::StatusText(std::string_view text) { ErrMess->setText(ToQString(text)); }

void RecorderWindow::SlotDropped(int slot) { SetBoxColour(slot, kBoxRed); }

void RecorderWindow::CounterText(std::string_view text) { LoopCnt->setText(ToQString(text)); }

void RecorderWindow::Tell(const RecorderNotice& notice) {
  const QString text = ToQString(notice.text);
  const QString caption = ToQString(notice.caption);
  if (notice.afterEvent)
    TellLater(text, caption, notice.okCancel);
  else
    dialogs_.message(text, caption, notice.okCancel);
}

void RecorderWindow::TellLater(const QString& text, const QString& caption, bool okCancel) {
  QTimer::singleShot(0, this, [this, text, caption, okCancel] { dialogs_.message(text, caption, okCancel); });
}

// ---- Replay -------------------------------------------------------------------

void RecorderWindow::RePlayBtClick() {
  if (RePlayBt->isChecked()) {
    for (QLineEdit* pv : PV) pv->clear();
    SampleTimeLb->clear();
  }
  model_->ReplayClicked(RePlayBt->isChecked());
}

void RecorderWindow::ReplayLoaded() {
  const RecordFile& file = model_->ReplayFile();
  const RecordHeader& header = file.header();
  {
    const QSignalBlocker block(TrackBar);
    TrackBar->setRange(0, static_cast<int>(std::min<std::uint64_t>(file.count(), INT32_MAX)));
    TrackBar->setValue(0);
  }
  LoopCnt->setEnabled(true);
  for (int i = 0; i < kSlots; ++i) {
    ComAddr[static_cast<std::size_t>(i)]->setValue(header.addresses[static_cast<std::size_t>(i)]);
    SetBoxColour(i, kBoxWhite);
  }
  SampleTime->setValue(std::min<int>(header.sampleTime, 99));
  SampleEdit->setVisible(header.sampleTime == 0);
}

void RecorderWindow::LoopCntKeyUp(bool enter) {
  model_->Replay(replay_event::LoopCntKey{enter, LoopCnt->text().toStdString()});
}

void RecorderWindow::ReplayControlsChanged(const ReplayControls& c) {
  TrackBar->setEnabled(c.trackBar);
  LoopCnt->setEnabled(c.loopCnt);
  PlayBt->setEnabled(c.play);
  PauseBt->setEnabled(c.pause);
  StopBt->setEnabled(c.stop);
}

void RecorderWindow::TrackBarPosition(long position) {
  const QSignalBlocker block(TrackBar);
  TrackBar->setValue(static_cast<int>(position));
}

// ---- Display controls ---------------------------------------------------------

void RecorderWindow::DevicePL0Click(int slot) {
  if (!model_->ToggleTrace(slot)) return;
  SetBoxColour(slot, model_->slotTable()[static_cast<std::size_t>(slot)].display ? kBoxWhite : kBoxSilver);
}

void RecorderWindow::BGColorChange() { model_->SetBackground(BGColor->currentIndex()); }

// ---- Timer and chart surface ---------------------------------------------------

void RecorderWindow::StartTimer(int intervalMs) { Timer1->start(intervalMs); }

void RecorderWindow::StopTimer() { Timer1->stop(); }

void RecorderWindow::FillCanvas(Rgb colour) { RecdIme->Fill(ToQColor(colour)); }

void RecorderWindow::Line(int x1, int y1, int x2, int y2, Rgb colour, int width, bool dotted) {
  RecdIme->DrawLine(x1, y1, x2, y2, ToQColor(colour), width, dotted);
}

void RecorderWindow::Text(int x, int y, std::string_view text, Rgb colour) {
  RecdIme->DrawText(x, y, ToQString(text), ToQColor(colour));
}

void RecorderWindow::ScrollLeft(int left, int top, int right, int bottom) { RecdIme->Scroll(left, top, right, bottom); }

void RecorderWindow::ValueBox(int slot, std::string_view text) { PV[static_cast<std::size_t>(slot)]->setText(ToQString(text)); }

void RecorderWindow::SampleTimeText(std::string_view text) {
  // In replay ErrMess shows the time of the replayed record.
  if (!model_->inReplay()) SampleTimeLb->setText(ToQString(text));
}

void RecorderWindow::ScaleFields(int max, int min) {
  MaxScale->setText(QString::number(max));
  MinScale->setText(QString::number(min));
}

void RecorderWindow::FellBackToAuto() {
  const QSignalBlocker block(DisplayMd);
  DisplayMd->setCurrentIndex(0);
}

}  // namespace kx::recorder
