#include "comset/search_page.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QFontMetrics>
#include <QStyle>
#include <QFrame>
#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QTableWidget>

#include "core/comset/pc_settings.h"
#include "core/line/network_line.h"
#include "widgets/drop_list.h"
#include "widgets/message_box.h"
#include "widgets/note_label.h"
#include "widgets/qt_text.h"

namespace kx::comset {

namespace {

constexpr int kTableRows = 30;  // row 0 is the heading
constexpr int kNumberedRows = 28;
constexpr std::array<int, 3> kColumnWidths{50, 56, 125};
const QColor kSkyBlue(0x87, 0xCE, 0xEB);
constexpr const char* kTitle1 = "Address            Baud Rate        Bit Length";
constexpr const char* kTitle2 = "Parity                Stop Bit               Protocol";

// A column-head label: its text is the three heads separated by runs of
// blanks, as one caption. Blanks never line up with the lists below in a
// proportional font, so each head is drawn over the left edge of its column's
// control (a sibling of the label); the text itself stays as it is.
class ColumnHeads : public QLabel {
 public:
  ColumnHeads(const QString& text, QWidget* parent) : QLabel(text, parent) {}
  // `alternate` shares the first column's cell and is drawn under when the
  // first control is hidden.
  void setColumns(std::array<const QWidget*, 3> columns, const QWidget* alternate = nullptr) {
    columns_ = columns;
    alternate_ = alternate;
    update();
  }

 protected:
  void paintEvent(QPaintEvent* event) override {
    static const QRegularExpression kGap(" {2,}");
    const QStringList heads = text().split(kGap, Qt::SkipEmptyParts);
    if (heads.size() != 3 || !columns_[0] || !columns_[1] || !columns_[2]) {
      QLabel::paintEvent(event);
      return;
    }
    std::array<const QWidget*, 3> shown = columns_;
    if (alternate_ && shown[0]->isHidden()) shown[0] = alternate_;
    QPainter painter(this);
    const QRect area = contentsRect();
    for (int i = 0; i < 3; ++i) {
      const int left = shown[static_cast<std::size_t>(i)]->x() - x();
      const int right = i < 2 ? shown[static_cast<std::size_t>(i) + 1]->x() - x() : area.right();
      const QRect cell(QPoint(std::max(left, area.left()), area.top()), QPoint(right, area.bottom()));
      style()->drawItemText(&painter, cell, Qt::AlignLeft | Qt::AlignVCenter, palette(), isEnabled(),
                            heads[i], foregroundRole());
    }
  }

 private:
  std::array<const QWidget*, 3> columns_{};
  const QWidget* alternate_ = nullptr;
};

ColumnHeads* Heads(QWidget* parent, const char* name, const QString& text) {
  auto* label = new ColumnHeads(text, parent);
  label->setObjectName(name);
  return label;
}

QLabel* Label(QWidget* parent, const char* name, const QString& text) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(name);
  return label;
}

QPushButton* Button(QWidget* parent, const char* name, const QString& text) {
  auto* b = new QPushButton(text, parent);
  b->setObjectName(name);
  b->setAutoDefault(false);
  QFont f = b->font();
  f.setBold(true);
  b->setFont(f);
  return b;
}

QLineEdit* AddressField(QWidget* parent, const char* name) {
  auto* edit = new QLineEdit("1", parent);
  edit->setObjectName(name);
  edit->setMaxLength(3);
  return edit;
}

}  // namespace

SearchPage::SearchPage(Session& session, MainPortRouting& routing, Mode mode, Link link, QObject* parent)
    : QObject(parent),
      session_(session),
      routing_(routing),
      mode_(mode),
      link_(std::move(link)),
      search_(session, routing,
              BusSearch::Hooks{[this] { ShowSearch(); }, [this](const std::string& text) { ShowErrorLater(text); }}),
      change_(session, routing,
              ProtocolChange::Hooks{[this] { ShowChange(); },
                                    [this](int code) {
                                      // Shown after the change's step has returned: the
                                      // notice's own event loop never runs inside it.
                                      QMetaObject::invokeMethod(
                                          this,
                                          [this, code] {
                                            if (closing_) return;
                                            const QPointer<SearchPage> self(this);
                                            if (session_.showUserMessage) session_.showUserMessage(code);
                                            if (self && !closing_) change_.Handle(change_event::NoticeClosed{});
                                          },
                                          Qt::QueuedConnection);
                                    },
                                    [this](const std::string& text) { ShowErrorLater(text); }}) {
  Build();
}

void SearchPage::ShowErrorLater(const std::string& text) {
  const QString message = app::ToQString(text);
  QMetaObject::invokeMethod(
      this,
      [this, message] {
        if (!closing_) app::ShowErrorBox(link_.detectPanel->window(), message);
      },
      Qt::QueuedConnection);
}

SearchPage::~SearchPage() {
  closing_ = true;
  if (search_.Searching()) search_.Handle(search_event::Leave{});
  change_.Handle(change_event::Leave{});
  // The main port's events must not reach a page that is gone.
  routing_.setup.answerStep = nullptr;
  routing_.setup.lineLost = nullptr;
}

QComboBox* SearchPage::List(QWidget* parent, const PresetList& list) {
  auto* box = new app::DropList(parent);
  box->setObjectName(app::ToQString(list.name));
  for (std::string_view item : list.items) box->addItem(app::ToQString(item));
  box->setCurrentIndex(0);
  connect(box, &app::DropList::Chosen, this, &SearchPage::AddrPreSetCloseUp);
  return box;
}

void SearchPage::Build() {
  QFrame* page = link_.detectPanel;
  QFrame* after = link_.afterPanel;

  LineNoteLb = app::NoteLabel(page, "LineNoteLb");
  auto* title1 = Heads(page, "ProtocolTitle1", kTitle1);
  ProtocolTitle1 = title1;
  AddrPreSet = List(page, AddrPresetList());
  BeforeAddr = AddressField(page, "BeforeAddr");
  BeforeAddr->hide();
  BaudPreSet = List(page, BaudPresetList());
  LengthPreSet = List(page, LengthPresetList());
  auto* title2 = Heads(page, "ProtocolTitle2", kTitle2);
  ProtocolTitle2 = title2;
  ParityPreSet = List(page, ParityPresetList());
  StopPreSet = List(page, StopPresetList());
  ProtocolPreSet = List(page, ProtocolPresetList());

  ResultTable = new QTableWidget(kTableRows, 3, page);
  ResultTable->setObjectName("ResultTable");
  ResultTable->horizontalHeader()->hide();
  ResultTable->verticalHeader()->hide();
  ResultTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
  ResultTable->setSelectionMode(QAbstractItemView::SingleSelection);
  ResultTable->setSelectionBehavior(QAbstractItemView::SelectRows);
  ResultTable->setWordWrap(false);
  ResultTable->installEventFilter(this);
  for (int r = 0; r < kTableRows; ++r) {
    for (int c = 0; c < 3; ++c) {
      auto* item = new QTableWidgetItem;
      if (r == 0) {
        item->setBackground(kSkyBlue);
        item->setFlags(Qt::ItemIsEnabled);
      } else {
        item->setBackground(Qt::white);
      }
      ResultTable->setItem(r, c, item);
    }
  }
  SizeColumns();
  ResultTable->setMinimumHeight(160);

  SetStartBt = Button(page, "SetStartBt", app::QText(Msg::Start));
  SETBt = Button(page, "SETBt", "SET");
  SETBt->setEnabled(false);
  SetCloseBt = Button(page, "SetCloseBt", "CLOSE");

  // Controller mode panel, laid over the result table.
  AFTERLB = Label(after, "AFTERLB", "SET TO KX3");
  AFTERLB->setStyleSheet("color: #0000FF; font-weight: bold;");
  auto* afterTitle1 = Heads(after, "AfterTitle1", kTitle1);
  auto* afterTitle2 = Heads(after, "AfterTitle2", kTitle2);
  AfterAddr = AddressField(after, "AfterAddr");
  AfterBaud = List(after, AfterBaudList());
  AfterLength = List(after, AfterLengthList());
  AfterParity = List(after, AfterParityList());
  AfterStop = List(after, AfterStopList());
  AfterProtocol = List(after, AfterProtocolList());
  SyncChk = new QCheckBox("Communication protocol Auto Synchronize", after);
  SyncChk->setObjectName("SyncChk");
  SyncChk->setToolTip("Check here if you want following device have the same protocol and continue address");
  SyncChk->setStatusTip(SyncChk->toolTip());

  title1->setColumns({AddrPreSet, BaudPreSet, LengthPreSet}, BeforeAddr);
  title2->setColumns({ParityPreSet, StopPreSet, ProtocolPreSet});
  afterTitle1->setColumns({AfterAddr, AfterBaud, AfterLength});
  afterTitle2->setColumns({AfterParity, AfterStop, AfterProtocol});

  // No margins of its own, so its three columns line up with the presets'.
  auto* afterGrid = new QGridLayout(after);
  afterGrid->setContentsMargins(0, 0, 0, 0);
  afterGrid->addWidget(AFTERLB, 0, 0, 1, 3);
  afterGrid->addWidget(afterTitle1, 1, 0, 1, 3);
  afterGrid->addWidget(AfterAddr, 2, 0);
  afterGrid->addWidget(AfterBaud, 2, 1);
  afterGrid->addWidget(AfterLength, 2, 2);
  afterGrid->addWidget(afterTitle2, 3, 0, 1, 3);
  afterGrid->addWidget(AfterParity, 4, 0);
  afterGrid->addWidget(AfterStop, 4, 1);
  afterGrid->addWidget(AfterProtocol, 4, 2);
  afterGrid->addWidget(SyncChk, 5, 0, 1, 3);
  afterGrid->setRowStretch(6, 1);
  for (int c = 0; c < 3; ++c) afterGrid->setColumnStretch(c, 1);

  auto* grid = new QGridLayout(page);
  grid->addWidget(LineNoteLb, 0, 0, 1, 3);
  grid->addWidget(ProtocolTitle1, 1, 0, 1, 3);
  grid->addWidget(AddrPreSet, 2, 0);
  grid->addWidget(BeforeAddr, 2, 0);
  grid->addWidget(BaudPreSet, 2, 1);
  grid->addWidget(LengthPreSet, 2, 2);
  grid->addWidget(ProtocolTitle2, 3, 0, 1, 3);
  grid->addWidget(ParityPreSet, 4, 0);
  grid->addWidget(StopPreSet, 4, 1);
  grid->addWidget(ProtocolPreSet, 4, 2);
  grid->addWidget(ResultTable, 5, 0, 1, 3, Qt::AlignHCenter);
  grid->addWidget(after, 5, 0, 1, 3);
  grid->addWidget(SetStartBt, 6, 0);
  grid->addWidget(SETBt, 6, 1);
  grid->addWidget(SetCloseBt, 6, 2);
  for (int c = 0; c < 3; ++c) grid->setColumnStretch(c, 1);

  connect(SetStartBt, &QPushButton::clicked, this, &SearchPage::SetStartBtClick);
  connect(SETBt, &QPushButton::clicked, this, &SearchPage::SETBtClick);
  connect(SetCloseBt, &QPushButton::clicked, this, &SearchPage::SetCloseBtClick);
  connect(ResultTable, &QTableWidget::cellClicked, this, &SearchPage::ResultTableSelectCell);
  connect(ResultTable, &QTableWidget::currentCellChanged, this,
          [this](int row, int column, int, int) { ResultTableSelectCell(row, column); });
  connect(BeforeAddr, &QLineEdit::textChanged, this, &SearchPage::BeforeAddrChange);
  connect(AfterAddr, &QLineEdit::textChanged, this, &SearchPage::BeforeAddrChange);
}

bool SearchPage::eventFilter(QObject* watched, QEvent* event) {
  if (watched == ResultTable && event->type() == QEvent::FontChange) SizeColumns();
  return QObject::eventFilter(watched, event);
}

void SearchPage::SizeColumns() {
  // The design widths are for a font about 13 pixels high; the window scales
  // its fonts when shown, so the columns grow with the font and never get
  // narrower than their widest text.
  const QFontMetrics fm(ResultTable->font());
  const double k = std::max(1.0, fm.height() / 13.0);
  const std::array<QString, 3> widest{"28", app::QText(Msg::HeadingAddress), app::QText(Msg::HeadingProtocol)};
  int total = 0;
  for (std::size_t c = 0; c < 3; ++c) {
    const int w = std::max(static_cast<int>(kColumnWidths[c] * k), fm.horizontalAdvance(widest[c]) + 10);
    ResultTable->setColumnWidth(static_cast<int>(c), w);
    total += w;
  }
  // Rows as high as a line of text, so more hits show without scrolling.
  ResultTable->verticalHeader()->setMinimumSectionSize(fm.height() + 4);
  ResultTable->verticalHeader()->setDefaultSectionSize(fm.height() + 6);
  ResultTable->setFixedWidth(total + 2 * ResultTable->frameWidth() +
                             ResultTable->style()->pixelMetric(QStyle::PM_ScrollBarExtent) + 2);
}

// ---------------------------------------------------------------------------
// PC mode: the search.

void SearchPage::AutoDetectBtClick() {
  routing_.setup.answerStep = [this](const Answer& answer) { search_.Handle(search_event::Answered{answer}); };
  routing_.setup.lineLost = [this] { search_.Handle(search_event::LineLost{}); };
  link_.status->setText(app::QText(Msg::PressStartToDetect));
  link_.status->show();
  link_.gauge->hide();
  link_.timeLeft->setText(QString());
  link_.timeLeft->show();
  link_.afterPanel->hide();
  BeforeAddr->hide();
  AddrPreSet->show();
  SetStartBt->show();
  ResultTable->show();
  gridUpdate_ = true;
  for (int r = 1; r <= kNumberedRows; ++r) ResultTable->item(r, 0)->setText(QString::number(r));
  ResultTable->item(0, 1)->setText(app::QText(Msg::HeadingAddress));
  ResultTable->item(0, 2)->setText(app::QText(Msg::HeadingProtocol));
  gridUpdate_ = false;
  ShowLineLimits();
  if (link_.showSearchPage) link_.showSearchPage(true);
  link_.detectPanel->show();
}

void SearchPage::ShowLineLimits() {
  const int com = CurrentPort();
  transport_ = TransportOf(session_, com);
  const bool fixed = FormatIsServers(transport_);
  if (fixed) {
    ShowPresets(PresetsOnLine(transport_, ReadPresets(), CurrentFormat()));
  } else if (formatFixed_) {
    // Lists held for a server before: searched again, as on a fresh page.
    for (QComboBox* list : FormatLists()) list->setCurrentIndex(kUnknown);
  }
  formatFixed_ = fixed;
  for (QComboBox* list : FormatLists()) list->setEnabled(!fixed);
  app::SetNote(*LineNoteLb, app::ToQString(SearchNote(session_, com)));
}

std::array<QComboBox*, 5> SearchPage::FormatLists() const {
  return {BaudPreSet, LengthPreSet, ParityPreSet, StopPreSet, ProtocolPreSet};
}

void SearchPage::ClearResults() {
  gridUpdate_ = true;
  // Every result row, the 29th included, so no hit of an earlier search stays listed.
  for (int r = 1; r < kTableRows; ++r) {
    ResultTable->item(r, 1)->setText(QString());
    ResultTable->item(r, 2)->setText(QString());
  }
  ResultTable->clearSelection();
  gridUpdate_ = false;
}

void SearchPage::SetStartBtClick() {
  SETBt->setEnabled(false);
  if (search_.Searching()) {
    search_.Handle(search_event::Cancel{});
    return;
  }
  ClearResults();
  search_.Handle(search_event::Start{CurrentPort(), ReadPresets(), CurrentFormat()});
}

void SearchPage::ShowSearch() {
  if (closing_) return;
  const BusSearch::View& v = search_.view();
  link_.status->setText(app::ToQString(v.status));
  link_.timeLeft->setText(app::ToQString(v.timeLeft));
  link_.gauge->setRange(0, v.gaugeMax);
  link_.gauge->setValue(v.gauge);
  link_.gauge->setVisible(v.gaugeVisible);
  SetStartBt->setText(app::QText(search_.Searching() ? Msg::SearchCancel : Msg::Start));
  gridUpdate_ = true;
  const auto& hits = search_.hits();
  for (std::size_t i = 0; i < hits.size(); ++i) {
    const int row = static_cast<int>(i) + 1;
    ResultTable->item(row, 1)->setText(app::ToQString(hits[i].addressText));
    ResultTable->item(row, 2)->setText(app::ToQString(hits[i].protocolText));
  }
  gridUpdate_ = false;
}

void SearchPage::ResultTableSelectCell(int row, int /*column*/) {
  if (mode_ != Mode::Pc || gridUpdate_) return;
  const auto combination = search_.RowCombination(row);
  if (!combination) return;
  SearchPresets presets = ReadPresets();
  SetPresetsToFormat(presets, CombinationFormat(*combination));
  ShowPresets(presets);
  SETBt->setEnabled(true);
}

void SearchPage::SETBtClick() {
  if (mode_ == Mode::Pc) {
    const auto format = PresetsFormat(ReadPresets());
    if (format && link_.takeSettings) link_.takeSettings(*format);
    return;
  }
  const ChangeOrder order{beforeAccepted_, afterAccepted_, ReadPresets(), ReadAfter(), SyncChk->isChecked()};
  // Asked here, before the change starts: a server in between keeps its own
  // format, so the controller may not be reachable through it afterwards.
  const std::string warning = ChangeWarning(session_, CurrentPort(), order);
  if (!warning.empty() &&
      !app::ConfirmWarning(link_.detectPanel->window(), app::ToQString(warning), "ChangeWarningBox"))
    return;
  change_.Handle(change_event::Set{CurrentPort(), order});
}

void SearchPage::AddrPreSetCloseUp() {
  SearchPresets presets = ReadPresets();
  if (mode_ == Mode::Pc) {
    SETBt->setEnabled(false);
  } else {
    SETBt->setEnabled(PresetsFormat(presets).has_value());
    PresetFormat after = ReadAfter();
    ApplyAfterRules(after);
    ShowAfter(after);
  }
  ApplyPresetRules(presets);
  if (mode_ == Mode::Pc) presets = PresetsOnLine(transport_, presets, CurrentFormat());
  ShowPresets(presets);
}

void SearchPage::SetCloseBtClick() {
  if (mode_ == Mode::Controller) {
    change_.Handle(change_event::Leave{});
    if (link_.closeWindow) link_.closeWindow();
    return;
  }
  search_.Handle(search_event::Leave{});
  link_.detectPanel->hide();
  link_.status->hide();
  link_.gauge->hide();
  link_.timeLeft->hide();
  SetStartBt->setText(app::QText(Msg::Start));
  if (link_.showSearchPage) link_.showSearchPage(false);
}

void SearchPage::CancelWindow() {
  if (search_.Searching()) search_.Handle(search_event::Leave{});
  change_.Handle(change_event::Leave{});
}

// ---------------------------------------------------------------------------
// Controller mode: the protocol change.

void SearchPage::ShowControllerMode() {
  routing_.setup.answerStep = [this](const Answer& answer) { change_.Handle(change_event::Answered{answer}); };
  routing_.setup.lineLost = [this] { change_.Handle(change_event::LineLost{}); };
  beforeAccepted_ = 1;
  afterAccepted_ = 1;
  BeforeAddr->setText("1");
  AfterAddr->setText("1");
  change_.Handle(change_event::Prepare{session_.settingsWord});  // presets and after lists from the stored word
  ShowAfter(change_.order().after);
  AddrPreSet->hide();
  BeforeAddr->show();
  SetStartBt->hide();
  ResultTable->hide();
  link_.afterPanel->show();
  link_.status->show();
  link_.gauge->setRange(0, 3);
  link_.gauge->setValue(0);
  link_.gauge->show();
  link_.timeLeft->hide();
  // The presets are the controller's settings; behind a server the line's own
  // format is the server's, as the settings page says.
  const int com = CurrentPort();
  app::SetNote(*LineNoteLb, app::ToQString(PcControlsFor(session_, com, false).note));
  if (link_.showSearchPage) link_.showSearchPage(true);
  link_.detectPanel->show();
  ShowChange();
}

void SearchPage::ShowChange() {
  if (closing_) return;
  ShowPresets(change_.order().presets);
  if (change_.order().beforeAddress != beforeAccepted_) {
    beforeAccepted_ = change_.order().beforeAddress;
    BeforeAddr->setText(QString::number(beforeAccepted_));
  }
  link_.status->setText(app::ToQString(change_.status()));
  link_.gauge->setValue(change_.step());
  link_.detectPanel->setEnabled(change_.PageEnabled());
  SETBt->setEnabled(change_.SetAllowed());
}

void SearchPage::BeforeAddrChange() {
  auto* field = qobject_cast<QLineEdit*>(sender());
  if (!field) return;
  int& accepted = field == BeforeAddr ? beforeAccepted_ : afterAccepted_;
  const AddressEdit edit = EditAddressField(field->text().toStdString(), accepted);
  accepted = edit.accepted;
  if (edit.text) field->setText(app::ToQString(*edit.text));
}

// ---------------------------------------------------------------------------

SearchPresets SearchPage::ReadPresets() const {
  SearchPresets p;
  p.addr = std::max(AddrPreSet->currentIndex(), 0);
  p.baud = std::max(BaudPreSet->currentIndex(), 0);
  p.length = std::max(LengthPreSet->currentIndex(), 0);
  p.parity = std::max(ParityPreSet->currentIndex(), 0);
  p.stop = std::max(StopPreSet->currentIndex(), 0);
  p.protocol = std::max(ProtocolPreSet->currentIndex(), 0);
  return p;
}

void SearchPage::ShowPresets(const SearchPresets& p) {
  BaudPreSet->setCurrentIndex(p.baud);
  LengthPreSet->setCurrentIndex(p.length);
  ParityPreSet->setCurrentIndex(p.parity);
  StopPreSet->setCurrentIndex(p.stop);
  ProtocolPreSet->setCurrentIndex(p.protocol);
}

PresetFormat SearchPage::ReadAfter() const {
  return PresetFormat{std::max(AfterBaud->currentIndex(), 0), std::max(AfterParity->currentIndex(), 0),
                    std::max(AfterLength->currentIndex(), 0), std::max(AfterStop->currentIndex(), 0),
                    std::max(AfterProtocol->currentIndex(), 0)};
}

void SearchPage::ShowAfter(const PresetFormat& a) {
  AfterBaud->setCurrentIndex(a.baud);
  AfterLength->setCurrentIndex(a.length);
  AfterParity->setCurrentIndex(a.parity);
  AfterStop->setCurrentIndex(a.stop);
  AfterProtocol->setCurrentIndex(a.form);
}

}  // namespace kx::comset
