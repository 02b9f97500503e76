#include "app/tester_panel.h"

#include <QComboBox>
#include <QEvent>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <QValidator>
#include <QVBoxLayout>

#include "widgets/drop_list.h"
#include "widgets/message_box.h"
#include "widgets/qt_text.h"

namespace kx::app {

namespace {

// Every text field of the tester takes upper case only: typed letters are
// turned to upper case as they are entered.
class UpperCaseValidator : public QValidator {
 public:
  using QValidator::QValidator;
  State validate(QString& input, int& /*pos*/) const override {
    input = input.toUpper();
    return Acceptable;
  }
};

// A field for a few hexadecimal digits: as wide as its characters need in the
// font it has (the window scales fonts when shown), not a default text width.
class ShortField : public QLineEdit {
 public:
  using QLineEdit::QLineEdit;
  QSize sizeHint() const override {
    const int chars = std::min(std::max(maxLength(), 4), 8) + 1;
    QSize size = QLineEdit::sizeHint();
    size.setWidth(fontMetrics().horizontalAdvance(QLatin1Char('W')) * chars + 12);
    return size;
  }
  QSize minimumSizeHint() const override { return sizeHint(); }
};

QLineEdit* Field(QWidget* parent, const char* name, int maxLength, QValidator* upper) {
  QLineEdit* edit = maxLength <= 4 ? new ShortField(parent) : new QLineEdit(parent);
  edit->setObjectName(name);
  edit->setMaxLength(maxLength);
  edit->setValidator(upper);
  return edit;
}

QLabel* Label(QWidget* parent, const char* name, const QString& text) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(name);
  return label;
}

// Decorative picture in the place of the multi-data group: a hexadecimal frame
// running from a PC to a controller.
QPixmap TesterPicture(QSize size) {
  QPixmap pixmap(size);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  const int w = size.width();
  const int h = size.height();
  p.setPen(QPen(QColor(0, 0, 128), 2));
  p.setBrush(QColor(240, 248, 255));
  p.drawRoundedRect(QRectF(4, h * 0.25, w * 0.22, h * 0.5), 4, 4);
  p.drawRoundedRect(QRectF(w * 0.74, h * 0.2, w * 0.22, h * 0.6), 4, 4);
  p.setPen(QPen(QColor(0, 0, 128), 2, Qt::DashLine));
  p.drawLine(QPointF(w * 0.26 + 4, h * 0.5), QPointF(w * 0.74 - 4, h * 0.5));
  p.setPen(QColor(0, 0, 160));
  QFont font = p.font();
  font.setBold(true);
  font.setPointSize(std::max(7, h / 8));
  p.setFont(font);
  p.drawText(QRectF(w * 0.26, h * 0.22, w * 0.48, h * 0.25), Qt::AlignCenter, ":0103...");
  p.drawText(QRectF(4, h * 0.25, w * 0.22, h * 0.5), Qt::AlignCenter, "PC");
  p.drawText(QRectF(w * 0.74, h * 0.2, w * 0.22, h * 0.6), Qt::AlignCenter, "KX");
  return pixmap;
}

}  // namespace

TesterPanel::TesterPanel(QFrame* testpl, Session& session, MainPortRouting& routing, Hooks hooks)
    : QObject(testpl),
      TESTPL(testpl),
      session_(session),
      routing_(routing),
      hooks_(std::move(hooks)),
      tester_(session, routing,
              Tester::Hooks{[this](bool on) {
                              if (hooks_.setToolBarEnabled) hooks_.setToolBarEnabled(on);
                            },
                            [this](bool on) {
                              if (hooks_.setRepeatTimer) hooks_.setRepeatTimer(on);
                            },
                            [this](const std::string& text) { ShowErrorBox(TESTPL->window(), ToQString(text)); },
                            [this] { ShowState(); }}) {
  Build();
  routing_.tester.showReceived = [this](const std::string& text) { RcvEdit->setText(ToQString(text)); };
  routing_.tester.send = [this] { tester_.Handle(tester_event::TimerTick{}); };
  ShowState();
}

TesterPanel::~TesterPanel() {
  routing_.tester.showReceived = nullptr;
  routing_.tester.send = nullptr;
}

void TesterPanel::Build() {
  auto* upper = new UpperCaseValidator(this);

  SingleCmdLb = Label(TESTPL, "SingleCmdLb", "SINGLE COMMAND TEST (HEX FORMAT)");
  QFont title = SingleCmdLb->font();
  title.setBold(true);
  SingleCmdLb->setFont(title);

  AddrSendLb = Label(TESTPL, "AddrSendLb", "ADDRESS");
  SCOMAddr = Field(TESTPL, "SCOMAddr", 2, upper);
  CmdSendLb = Label(TESTPL, "CmdSendLb", "COMMAND");
  SCmdBox = new DropList(TESTPL);
  SCmdBox->setObjectName("SCmdBox");
  for (const TesterCommandInfo& info : TesterCommands()) SCmdBox->addItem(ToQString(info.item));
  SCmdBox->setCurrentIndex(-1);
  UserCmd = Field(SCmdBox, "UserCmd", 2, upper);
  UserCmd->setText(ToQString(tester_.fields().userCmd));
  UserCmd->hide();
  SCmdBox->installEventFilter(this);
  FuncSendLb = Label(TESTPL, "FuncSendLb", "FUNC ADDR");
  SFunc = Field(TESTPL, "SFunc", 4, upper);
  DataLenLb = Label(TESTPL, "DataLenLb", QText(Msg::CaptionWriteData));
  SDataLen = Field(TESTPL, "SDataLen", 4, upper);
  CheckSumSendLb = Label(TESTPL, "CheckSumSendLb", "LRC");
  SChkSum = Field(TESTPL, "SChkSum", 4, upper);
  SChkSum->setReadOnly(true);
  SChkSum->setFocusPolicy(Qt::NoFocus);

  SendLb = Label(TESTPL, "SendLb", "SEND");
  SendEdit = Field(TESTPL, "SendEdit", 32767, upper);
  RcvLb = Label(TESTPL, "RcvLb", "RECEIVED");
  RcvEdit = new QLineEdit(TESTPL);
  RcvEdit->setObjectName("RcvEdit");
  RcvEdit->setReadOnly(true);

  MutiWrBox = new QGroupBox("MULTI-DATA CONTENT", TESTPL);
  MutiWrBox->setObjectName("MutiWrBox");
  MutiWrLB = Label(MutiWrBox, "MutiWrLB", "DATA1-4           DATA 5-8");
  auto* words = new QGridLayout(MutiWrBox);
  words->addWidget(MutiWrLB, 0, 0, 1, 2);
  for (int i = 0; i < kTesterWords; ++i) {
    const QByteArray name = "Edit" + QByteArray::number(i + 1);
    Edit[static_cast<std::size_t>(i)] = Field(MutiWrBox, name.constData(), 4, upper);
  }
  // Left column DATA1-4 (Edit1-Edit4); right column DATA5-8 (Edit6, Edit7, Edit5, Edit8).
  constexpr std::array<int, 4> kRight{6, 7, 5, 8};
  for (int row = 0; row < 4; ++row) {
    words->addWidget(Edit[static_cast<std::size_t>(row)], row + 1, 0);
    words->addWidget(Edit[static_cast<std::size_t>(kRight[static_cast<std::size_t>(row)] - 1)], row + 1, 1);
  }
  MutiWrBox->hide();
  Image2 = new QLabel(TESTPL);
  Image2->setObjectName("Image2");
  Image2->setPixmap(TesterPicture(QSize(220, 110)));
  Image2->setAlignment(Qt::AlignCenter);

  SendBt = new QPushButton("Send", TESTPL);
  SendBt->setObjectName("SendBt");
  RSendBt = new QPushButton(QText(Msg::Repeat), TESTPL);
  RSendBt->setObjectName("RSendBt");
  SClearBt = new QPushButton("Clear Result", TESTPL);
  SClearBt->setObjectName("SClearBt");
  SExitBt = new QPushButton("Close", TESTPL);
  SExitBt->setObjectName("SExitBt");

  // Label and field pairs, two to a row, then the frame, the answer, and the
  // multi-data words (or the picture) beside the buttons.
  auto* grid = new QGridLayout(TESTPL);
  grid->addWidget(SingleCmdLb, 0, 0, 1, 4, Qt::AlignHCenter);
  grid->addWidget(AddrSendLb, 1, 0);
  grid->addWidget(SCOMAddr, 1, 1, Qt::AlignLeft);
  grid->addWidget(CmdSendLb, 1, 2);
  grid->addWidget(SCmdBox, 1, 3);
  grid->addWidget(FuncSendLb, 2, 0);
  grid->addWidget(SFunc, 2, 1, Qt::AlignLeft);
  grid->addWidget(DataLenLb, 2, 2);
  grid->addWidget(SDataLen, 2, 3, Qt::AlignLeft);
  grid->addWidget(CheckSumSendLb, 3, 0);
  grid->addWidget(SChkSum, 3, 1, Qt::AlignLeft);
  grid->addWidget(SendLb, 4, 0);
  grid->addWidget(SendEdit, 4, 1, 1, 3);
  grid->addWidget(RcvLb, 5, 0);
  grid->addWidget(RcvEdit, 5, 1, 1, 3);
  grid->addWidget(MutiWrBox, 6, 0, 1, 3);
  grid->addWidget(Image2, 6, 0, 1, 3);
  auto* buttons = new QVBoxLayout;
  for (QPushButton* b : {SendBt, RSendBt, SClearBt, SExitBt}) buttons->addWidget(b);
  grid->addLayout(buttons, 6, 3);

  connect(SCmdBox, &DropList::Chosen, this, &TesterPanel::SCmdBoxSelect);
  for (QLineEdit* f : {SCOMAddr, SFunc, SDataLen, UserCmd})
    connect(f, &QLineEdit::textChanged, this, &TesterPanel::SCOMAddrChange);
  for (QLineEdit* e : Edit) connect(e, &QLineEdit::textChanged, this, &TesterPanel::Edit1Change);
  connect(SendEdit, &QLineEdit::textEdited, this,
          [this](const QString& text) { tester_.Handle(tester_event::SendTextEdited{text.toStdString()}); });
  connect(SendBt, &QPushButton::clicked, this, &TesterPanel::SendBtClick);
  connect(RSendBt, &QPushButton::clicked, this, &TesterPanel::RSendBtClick);
  connect(SClearBt, &QPushButton::clicked, this, &TesterPanel::SClearBtClick);
  connect(SExitBt, &QPushButton::clicked, this, &TesterPanel::SExitBtClick);
}

bool TesterPanel::eventFilter(QObject* watched, QEvent* event) {
  if (watched == SCmdBox && (event->type() == QEvent::Resize || event->type() == QEvent::Show)) PlaceUserCmd();
  return QObject::eventFilter(watched, event);
}

void TesterPanel::PlaceUserCmd() {
  // Over the text part of the list, leaving its drop-down button reachable.
  QStyleOptionComboBox opt;
  opt.initFrom(SCmdBox);
  opt.editable = false;
  const QRect field = SCmdBox->style()->subControlRect(QStyle::CC_ComboBox, &opt,
                                                       QStyle::SC_ComboBoxEditField, SCmdBox);
  UserCmd->setGeometry(field);
}

void TesterPanel::SCmdBoxSelect(int index) {
  if (index < 0 || index >= static_cast<int>(TesterCommands().size())) return;
  const TesterCommandInfo& info = TesterCommands()[static_cast<std::size_t>(index)];
  SDataLen->setMaxLength(info.dataMaxLength);
  const bool user = info.command == TesterCommand::UserDefine;
  if (user) {
    PlaceUserCmd();
    UserCmd->show();
    UserCmd->raise();
  } else {
    UserCmd->hide();
  }
  const bool multi = info.command == TesterCommand::WriteMultiWords || user;
  MutiWrBox->setVisible(multi);
  Image2->setVisible(!multi);
  DataLenLb->setVisible(!user);
  SDataLen->setVisible(!user);
  DataLenLb->setText(QText(info.caption));
  SCOMAddrChange();
}

TesterFields TesterPanel::ReadFields() const {
  TesterFields f;
  f.address = SCOMAddr->text().toStdString();
  const int index = SCmdBox->currentIndex();
  f.command = index >= 0 ? std::optional(TesterCommands()[static_cast<std::size_t>(index)].command) : std::nullopt;
  f.userCmd = UserCmd->text().toStdString();
  f.funcAddr = SFunc->text().toStdString();
  f.data = SDataLen->text().toStdString();
  for (std::size_t i = 0; i < Edit.size(); ++i)
    f.words[static_cast<std::size_t>(kEditWordIndex[i])] = MultiDataWord(Edit[i]->text().toStdString());
  return f;
}

void TesterPanel::SCOMAddrChange() { tester_.Handle(tester_event::FieldsChanged{ReadFields()}); }
void TesterPanel::Edit1Change() { tester_.Handle(tester_event::FieldsChanged{ReadFields()}); }

void TesterPanel::SendBtClick() { tester_.Handle(tester_event::SendClick{}); }
void TesterPanel::RSendBtClick() { tester_.Handle(tester_event::RepeatClick{}); }
void TesterPanel::SClearBtClick() { tester_.Handle(tester_event::ClearClick{}); }

void TesterPanel::SExitBtClick() {
  tester_.Handle(tester_event::CloseClick{});
  TESTPL->hide();
}

void TesterPanel::ShowState() {
  const QString send = ToQString(tester_.sendText());
  if (SendEdit->text() != send) SendEdit->setText(send);
  SChkSum->setText(ToQString(tester_.checkDigits()));
  RSendBt->setText(ToQString(tester_.RepeatCaption()));
  SendBt->setEnabled(tester_.SendEnabled());
}

}  // namespace kx::app
