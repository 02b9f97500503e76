#include "traffic/traffic_window.h"

#include <QApplication>
#include <QFileInfo>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QHideEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QShowEvent>
#include <QSplitter>
#include <QTableView>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <array>
#include <span>
#include <string>

#include "core/files/whole_file.h"
#include "core/modbus/codec.h"
#include "widgets/file_dialogs.h"
#include "widgets/qt_text.h"

namespace kx::traffic {

namespace {

constexpr std::array<const char*, TrafficModel::kColumns> kViewHeaders{
    "Time", "Dir", "Addr", "Func", "Bytes (hexadecimal)", "ASCII text", "Check", "Reply ms"};
// Widths in characters of the columns that do not stretch (at least their captions').
constexpr std::array<int, TrafficModel::kColumns> kViewWidths{12, 2, 3, 2, 0, 24, 30, 6};

struct StatsColumn {
  const char* header;
  const char* hint;
};
constexpr std::array<StatsColumn, 13> kStatsColumns{{
    {"Address", "Controller address"},
    {"Requests", "Requests sent to the address"},
    {"Good", "Good answers"},
    {"Time-outs", "Requests that got no whole answer in time"},
    {"Check errors", "Answers with wrong check digits, or not a frame"},
    {"Exceptions", "Exception answers"},
    {"Other", "Answers from another address, echoes that differ, unknown functions"},
    {"Min ms", "Shortest reply, from the request's first byte out to the answer's last byte in"},
    {"Mean ms", "Mean reply time"},
    {"p50 ms", "Median reply time"},
    {"p95 ms", "95th percentile of the reply times"},
    {"Max ms", "Longest reply"},
    {"Suggested time-out ms", "Covers the measured replies with a margin, never below the line's own time"},
}};

QString Q(const std::string& text) { return QString::fromStdString(text); }

QString MsCell(const std::optional<double>& ms) { return ms ? Q(MsText(*ms)) : QStringLiteral("-"); }

QMessageBox::StandardButton Ask(QWidget* parent, const char* name, const QString& text,
                                QMessageBox::StandardButtons buttons) {
  QMessageBox box(QMessageBox::NoIcon, QApplication::applicationName(), text, buttons, parent);
  box.setObjectName(QString::fromLatin1(name));
  return static_cast<QMessageBox::StandardButton>(box.exec());
}

}  // namespace

// --- TrafficModel ---------------------------------------------------------------

TrafficModel::TrafficModel(const TrafficLog& log, std::int64_t toTimeOfDay, QObject* parent)
    : QAbstractTableModel(parent), log_(log), toTimeOfDay_(toTimeOfDay) {}

int TrafficModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.count());
}

int TrafficModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : kColumns; }

QVariant TrafficModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid()) return {};
  // A frame the log dropped since the last batch shows empty until then.
  const TrafficFrame* frame = rows_.Frame(log_, static_cast<std::size_t>(index.row()));
  if (frame == nullptr) return {};
  const bool failed = frame->direction == Direction::Rx && frame->checked && frame->failure != Failure::None;
  switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
      switch (index.column()) {
        case kTime:
          return Q(TraceTime(frame->micros + toTimeOfDay_));
        case kDirection:
          return frame->direction == Direction::Tx ? QStringLiteral("TX") : QStringLiteral("RX");
        case kAddress:
          return frame->checked && !frame->bytes.empty() ? QString::number(frame->address) : QString();
        case kFunction:
          return frame->checked && frame->function != 0 ? Q(HexByte(frame->function)) : QString();
        case kBytes:
          return Q(HexText(frame->bytes));
        case kText:
          return Q(FrameText(*frame));
        case kCheck:
          return Q(CheckNote(*frame));
        case kReply:
          return frame->replyMs ? Q(MsText(*frame->replyMs)) : QString();
        default:
          return {};
      }
    case Qt::ForegroundRole:
      if (failed) return QColor(0xC0, 0x00, 0x00);
      if (frame->direction == Direction::Tx) return QColor(0x00, 0x30, 0x90);
      return {};
    case Qt::TextAlignmentRole:
      if (index.column() == kAddress || index.column() == kFunction || index.column() == kDirection)
        return QVariant::fromValue(Qt::AlignHCenter | Qt::AlignVCenter);
      if (index.column() == kReply) return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
      return QVariant::fromValue(Qt::AlignLeft | Qt::AlignVCenter);
    default:
      return {};
  }
}

QVariant TrafficModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= kColumns) return {};
  return QString::fromLatin1(kViewHeaders[static_cast<std::size_t>(section)]);
}

bool TrafficModel::Follow() {
  const TrafficRows::Change change = rows_.Follow(log_);
  if (change.removeFront == 0 && change.append == 0) return false;
  if (change.removeFront > 0) {
    beginRemoveRows({}, 0, static_cast<int>(change.removeFront) - 1);
    rows_.Apply(log_, {change.removeFront, 0});
    endRemoveRows();
  }
  if (change.append > 0) {
    const int first = static_cast<int>(rows_.count());
    beginInsertRows({}, first, first + static_cast<int>(change.append) - 1);
    rows_.Apply(log_, {0, change.append});
    endInsertRows();
  }
  return change.append > 0;
}

// --- TrafficWindow --------------------------------------------------------------

TrafficWindow::TrafficWindow(std::vector<TrafficSource> sources, QWidget* parent)
    : QWidget(parent, Qt::Window),
      taps_(log_, std::move(sources)),
      quiet_(kQuietRefreshes, std::int64_t{kRefreshMs} * kQuietRefreshes * 1000) {
  setObjectName("TrafficLog");
  setWindowTitle("LINE TRAFFIC");
  setAttribute(Qt::WA_DeleteOnClose);

  model_ = new TrafficModel(log_, TimeOfDayOffsetMicros(), this);

  TrafficPauseBt = new QPushButton("PAUSE", this);
  TrafficPauseBt->setObjectName("TrafficPauseBt");
  TrafficPauseBt->setToolTip("Stops the list where it is; frames go on being counted");
  TrafficClearBt = new QPushButton("CLEAR", this);
  TrafficClearBt->setObjectName("TrafficClearBt");
  TrafficClearBt->setToolTip("Empties the list; the figures below stay");
  TrafficSaveBt = new QPushButton("SAVE", this);
  TrafficSaveBt->setObjectName("TrafficSaveBt");
  TrafficSaveBt->setToolTip("Saves the frames in the list as text, one frame a line");
  TrafficCountLb = new QLabel(this);
  TrafficCountLb->setObjectName("TrafficCountLb");
  for (QPushButton* b : {TrafficPauseBt, TrafficClearBt, TrafficSaveBt})
    b->setMinimumWidth(b->fontMetrics().horizontalAdvance(QStringLiteral("RESUME")) + 32);
  connect(TrafficPauseBt, &QPushButton::clicked, this, &TrafficWindow::PauseBtClick);
  connect(TrafficClearBt, &QPushButton::clicked, this, &TrafficWindow::ClearBtClick);
  connect(TrafficSaveBt, &QPushButton::clicked, this, &TrafficWindow::SaveBtClick);

  TrafficView = new QTableView(this);
  TrafficView->setObjectName("TrafficView");
  TrafficView->setModel(model_);
  TrafficView->setSelectionBehavior(QAbstractItemView::SelectRows);
  TrafficView->setWordWrap(false);
  TrafficView->setShowGrid(false);
  TrafficView->setAlternatingRowColors(true);
  TrafficView->verticalHeader()->hide();
  // Every row one line high: the view lays out 100,000 rows without measuring them.
  TrafficView->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  TrafficView->verticalHeader()->setDefaultSectionSize(TrafficView->fontMetrics().height() + 4);
  QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  TrafficView->setFont(fixed);
  QHeaderView* header = TrafficView->horizontalHeader();
  const int charWidth = QFontMetrics(fixed).horizontalAdvance(QLatin1Char('0'));
  for (int c = 0; c < TrafficModel::kColumns; ++c) {
    const int chars = kViewWidths[static_cast<std::size_t>(c)];
    if (chars == 0) continue;
    const int captionWidth =
        header->fontMetrics().horizontalAdvance(model_->headerData(c, Qt::Horizontal, Qt::DisplayRole).toString());
    header->resizeSection(c, std::max(chars * charWidth, captionWidth) + 14);
  }
  header->setSectionResizeMode(TrafficModel::kBytes, QHeaderView::Stretch);
  header->setMinimumSectionSize(charWidth * 3);

  TrafficStats = new QTableWidget(0, static_cast<int>(kStatsColumns.size()), this);
  TrafficStats->setObjectName("TrafficStats");
  TrafficStats->verticalHeader()->hide();
  TrafficStats->setEditTriggers(QAbstractItemView::NoEditTriggers);
  TrafficStats->setSelectionMode(QAbstractItemView::NoSelection);
  for (std::size_t c = 0; c < kStatsColumns.size(); ++c) {
    auto* item = new QTableWidgetItem(QString::fromLatin1(kStatsColumns[c].header));
    item->setToolTip(QString::fromLatin1(kStatsColumns[c].hint));
    TrafficStats->setHorizontalHeaderItem(static_cast<int>(c), item);
  }
  TrafficStats->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
  TrafficStats->horizontalHeader()->setStretchLastSection(true);
  // Room for the four controllers the monitor polls.
  TrafficStats->setMinimumHeight(TrafficStats->horizontalHeader()->sizeHint().height() +
                                 4 * TrafficStats->verticalHeader()->defaultSectionSize() +
                                 2 * TrafficStats->frameWidth() + 2);

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(TrafficPauseBt);
  buttons->addWidget(TrafficClearBt);
  buttons->addWidget(TrafficSaveBt);
  buttons->addSpacing(16);
  buttons->addWidget(TrafficCountLb, 1);
  auto* split = new QSplitter(Qt::Vertical, this);
  split->setObjectName("TrafficSplit");
  split->setChildrenCollapsible(false);
  split->addWidget(TrafficView);
  split->addWidget(TrafficStats);
  split->setStretchFactor(0, 4);
  split->setStretchFactor(1, 1);
  auto* column = new QVBoxLayout(this);
  column->addLayout(buttons);
  column->addWidget(split, 1);

  TrafficTimer = new QTimer(this);
  TrafficTimer->setObjectName("TrafficTimer");
  TrafficTimer->setInterval(kRefreshMs);
  connect(TrafficTimer, &QTimer::timeout, this, &TrafficWindow::Tick);

  // Beside the window that holds the line: the right part of the screen,
  // with room left for a window frame.
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    constexpr int kFrame = 8;
    const QRect room = screen->availableGeometry();
    const QSize size(std::min(room.width() - 2 * kFrame, std::max(980, room.width() * 3 / 5)), room.height() * 3 / 4);
    setGeometry(QRect(QPoint(room.right() - kFrame - size.width() + 1, room.top() + room.height() / 8), size));
  }
  ShowStats();
  ShowCount();
}

TrafficWindow::~TrafficWindow() { taps_.Detach(); }

void TrafficWindow::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  taps_.Attach();
  TrafficTimer->start();
}

void TrafficWindow::hideEvent(QHideEvent* event) {
  QWidget::hideEvent(event);
  // A minimised window keeps listening; a closed one costs the line nothing.
  if (event->spontaneous()) return;
  TrafficTimer->stop();
  taps_.Detach();
}

void TrafficWindow::Tick() {
  quiet_.Check(log_);
  FollowLog();
  if (++ticks_ % kFiguresEvery == 0) {
    ShowStats();
    ShowCount();
  }
}

void TrafficWindow::Refresh() {
  quiet_.Check(log_);
  FollowLog();
  ShowStats();
  ShowCount();
}

void TrafficWindow::FollowLog() {
  if (paused_) return;
  QScrollBar* bar = TrafficView->verticalScrollBar();
  // The list follows the newest frame unless the user scrolled up.
  const bool atEnd = bar->value() >= bar->maximum();
  if (model_->Follow() && atEnd) TrafficView->scrollToBottom();
}

void TrafficWindow::ShowStats() {
  if (figuresAt_ == log_.Added()) return;  // nothing new to count
  figuresAt_ = log_.Added();
  const std::vector<LinkStats> all = log_.Stats();
  TrafficStats->setRowCount(static_cast<int>(all.size()));
  for (std::size_t r = 0; r < all.size(); ++r) {
    const LinkStats& s = all[r];
    const std::array<QString, kStatsColumns.size()> cells{
        QString::number(s.address),
        QString::number(s.requests),
        QString::number(s.good),
        QString::number(s.timeouts),
        QString::number(s.checkErrors),
        QString::number(s.exceptions),
        QString::number(s.otherErrors),
        MsCell(s.minMs),
        MsCell(s.meanMs),
        MsCell(s.p50Ms),
        MsCell(s.p95Ms),
        MsCell(s.maxMs),
        s.suggestedTimeoutMs ? QString::number(*s.suggestedTimeoutMs) : QStringLiteral("-")};
    for (std::size_t c = 0; c < cells.size(); ++c) {
      QTableWidgetItem* item = TrafficStats->item(static_cast<int>(r), static_cast<int>(c));
      if (item == nullptr) {
        item = new QTableWidgetItem;
        item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
        TrafficStats->setItem(static_cast<int>(r), static_cast<int>(c), item);
      }
      if (item->text() != cells[c]) item->setText(cells[c]);
    }
  }
}

void TrafficWindow::ShowCount() {
  QString text = QStringLiteral("Frames: %1    in the list: %2").arg(log_.Added()).arg(model_->rows().count());
  if (paused_) text += QStringLiteral("    PAUSED");
  TrafficCountLb->setText(text);
}

void TrafficWindow::PauseBtClick() {
  paused_ = !paused_;
  // While paused the list's frames stay in the log as they are.
  log_.HoldFront(paused_);
  TrafficPauseBt->setText(paused_ ? "RESUME" : "PAUSE");
  if (!paused_) Refresh();
  ShowCount();
}

void TrafficWindow::ClearBtClick() {
  log_.Clear();
  model_->Follow();
  ShowCount();
}

void TrafficWindow::SaveBtClick() {
  const QString path = app::ChooseFile(this, app::FileDialogKind::Save, Msg::FilterTrace);
  if (path.isEmpty()) return;
  if (QFileInfo::exists(path) &&
      Ask(this, "OverwriteBox", app::QText(Msg::OverWriteFilePrefix) + app::FileNameOnly(path),
          QMessageBox::Ok | QMessageBox::Cancel) != QMessageBox::Ok) {
    return;
  }
  // What the list holds now (it may have grown while the dialog was open).
  const std::string text = TraceText(log_, model_->rows(), model_->toTimeOfDay());
  std::string reason;
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
  if (!WriteWholeFile(path.toStdString(), std::span(bytes, text.size()), &reason))
    Ask(this, "SaveFailedBox", app::WithReason(app::QText(Msg::FailToSaveFile), reason), QMessageBox::Ok);
}

}  // namespace kx::traffic
