// The ramp/soak editor on the offscreen platform, by objectName: the grid and
// its headings, files in and out with their refusals, the Edit Page's storing
// rules, the transfer controls and the preview curve.
#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <fstream>

#include "core/ramp/program_table.h"
#include "ramp/ramp_soak_window.h"
#include "support/modal_watch.h"
#include "support/widget_access.h"
#include "widgets/file_dialogs.h"

using kx::ProgramTable;
using kx::ramp::RampSoakWindow;
using kx::test::Child;

namespace {

// Presses `button` on the next message box and keeps its text and caption.
void AnswerNextBox(QMessageBox::StandardButton button, QString* text = nullptr, QString* caption = nullptr) {
  kx::test::WatchFor(
      []() -> QWidget* {
        for (QWidget* w : QApplication::topLevelWidgets())
          if (qobject_cast<QMessageBox*>(w) != nullptr && w->isVisible()) return w;
        return nullptr;
      },
      [button, text, caption](QWidget* w) {
        auto* box = qobject_cast<QMessageBox*>(w);
        if (text != nullptr) *text = box->text();
        if (caption != nullptr) *caption = box->windowTitle();
        QTest::mouseClick(box->button(button), Qt::LeftButton);
      });
}

ProgramTable TwoSteps() {
  ProgramTable t;
  t.link.fill(kx::kLinkEnd);
  t.maxStep[0] = 1;
  t.setValue[0] = 1000, t.time[0] = 60;
  t.setValue[1] = -15, t.time[1] = 90;
  t.loops[0] = 2;
  return t;
}

QString Cell(RampSoakWindow& w, int row, int column) {
  return Child<QTableWidget>(w, "ProgTable")->item(row, column)->text();
}

// The text each listed cell of the grid must show.
struct CellText {
  int row;
  int column;
  const char* text;
};

void ExpectCells(RampSoakWindow& w, std::initializer_list<CellText> cells) {
  for (const CellText& c : cells) {
    QVERIFY2(Cell(w, c.row, c.column) == QString::fromUtf8(c.text),
             qPrintable(QStringLiteral("cell %1,%2 shows \"%3\", not \"%4\"")
                            .arg(c.row)
                            .arg(c.column)
                            .arg(Cell(w, c.row, c.column), QString::fromUtf8(c.text))));
  }
}

// Each named control is enabled (or, with `enabled` false, disabled).
void ExpectEnabled(RampSoakWindow& w, std::initializer_list<const char*> names, bool enabled) {
  for (const char* name : names) QVERIFY2(Child<QWidget>(w, name)->isEnabled() == enabled, name);
}

}  // namespace

class TestRampSoakWindow : public QObject {
  Q_OBJECT
 private slots:
  void init() {
    window = std::make_unique<RampSoakWindow>();
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    kx::app::SetFileChooser([this](kx::app::FileDialogKind, const QString& filter) {
      lastFilter = filter;
      return chosen;
    });
  }
  void cleanup() {
    kx::test::CancelModalWatches();
    kx::app::SetFileChooser({});
    window.reset();
  }

  void startsEmptyWithHeadingsOnly() {
    RampSoakWindow& w = *window;
    QCOMPARE(w.windowTitle(), QStringLiteral("Ramp Soak programer"));
    auto* grid = Child<QTableWidget>(w, "ProgTable");
    QCOMPARE(grid->columnCount(), 9);
    QCOMPARE(grid->rowCount(), 20);
    QCOMPARE(grid->columnWidth(0), 80);
    QCOMPARE(grid->columnWidth(2), 46);
    ExpectCells(w, {{0, 1, "Pattern 0"},
                    {0, 8, "Pattern 7"},
                    {1, 0, "Step Max."},
                    {2, 0, "Set Value 0"},
                    {17, 0, "Execute Time 7"},
                    {18, 0, "Loop Count"},
                    {19, 0, "Link Pattern"},
                    {2, 1, ""}});
    ExpectEnabled(w, {"ProgStart", "SaveFBt", "WrBt", "EditPBt"}, false);
    ExpectEnabled(w, {"ReadSBt", "ReadFBt", "RetBt"}, true);
    QVERIFY(!Child<QWidget>(w, "EditBox")->isVisible());
    QVERIFY(!Child<QWidget>(w, "ProgCurve")->isVisible());
    QCOMPARE(Child<QPushButton>(w, "SaveFBt")->text(), QStringLiteral("Save to ..."));
  }

  // Every heading and the widest values fit their columns whole: the grid
  // draws its text on one line with two pixels either side.
  void gridTextsFitTheirColumns() {
    RampSoakWindow& w = *window;
    ProgramTable t = TwoSteps();
    t.setValue[8] = -10000;  // the lowest value taken: "-1000.0"
    t.time[8] = 900;
    w.SetTable(t);
    auto* grid = Child<QTableWidget>(w, "ProgTable");
    const QFontMetrics metrics(grid->font());
    for (int r = 0; r < grid->rowCount(); ++r) {
      for (int c = 0; c < grid->columnCount(); ++c) {
        const QString text = grid->item(r, c)->text();
        QVERIFY2(metrics.horizontalAdvance(text) + 4 <= grid->columnWidth(c),
                 qPrintable(QStringLiteral("%1 at %2,%3").arg(text).arg(r).arg(c)));
      }
    }
    QCOMPARE(Cell(w, 2, 2), QStringLiteral("-1000.0"));
    QCOMPARE(Cell(w, 19, 1), QStringLiteral("Prog End"));
    QVERIFY(!grid->wordWrap());
  }

  void fileRoundTripAndRefusals() {
    QTemporaryDir dir;
    const QString path = dir.filePath("prog.r$s");
    QVERIFY(kx::SaveRampFile(path.toStdString(), TwoSteps()));
    chosen = path;
    RampSoakWindow& w = *window;
    kx::test::Click(*Child<QPushButton>(w, "ReadFBt"));
    QCOMPARE(lastFilter, QStringLiteral("KX ramp soak table files (*.r$s *.R$S)"));
    ExpectCells(w, {{1, 1, "1"},
                    {2, 1, "100.0"},
                    {4, 1, "-1.5"},
                    {5, 1, "01:30"},
                    {7, 1, "00:00"},
                    {18, 1, "2"},
                    {19, 1, "Prog End"}});
    ExpectEnabled(w, {"ProgStart", "SaveFBt", "WrBt", "EditPBt"}, true);
    QVERIFY(Child<QWidget>(w, "ProgCurve")->isVisible());

    // Signature 0x35 in place of 0x34: refused, the table stays.
    auto bytes = kx::RampFileBytes(ProgramTable{});
    bytes[284] = 0x35;
    const QString bad = dir.filePath("bad.r$s");
    std::ofstream(bad.toStdString(), std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), 285);
    chosen = bad;
    QString text, caption;
    AnswerNextBox(QMessageBox::Ok, &text, &caption);
    kx::test::Click(*Child<QPushButton>(w, "ReadFBt"));
    QCOMPARE(text, QStringLiteral("File data length or content error !"));
    QCOMPARE(caption, QStringLiteral("Data Error"));
    QCOMPARE(w.table(), TwoSteps());

    chosen = dir.filePath("missing.r$s");
    AnswerNextBox(QMessageBox::Cancel, &text, &caption);
    kx::test::Click(*Child<QPushButton>(w, "ReadFBt"));
    QCOMPARE(text, QStringLiteral("Can't perform one of the following file operations: Open, Seek, Read\nNo such file or directory"));
    QCOMPARE(caption, QStringLiteral("File Error"));

    // Save over an existing file: Cancel keeps it, OK writes the table.
    chosen = bad;
    AnswerNextBox(QMessageBox::Cancel, &text);
    kx::test::Click(*Child<QPushButton>(w, "SaveFBt"));
    QCOMPARE(text, QStringLiteral("Over write file : bad.r$s"));
    ProgramTable check;
    QCOMPARE(kx::LoadRampFile(bad.toStdString(), check), kx::RampLoad::BadContent);
    AnswerNextBox(QMessageBox::Ok);
    kx::test::Click(*Child<QPushButton>(w, "SaveFBt"));
    QCOMPARE(kx::LoadRampFile(bad.toStdString(), check), kx::RampLoad::Loaded);
    QCOMPARE(check, TwoSteps());
  }

  void editPageStoresByTheRules() {
    RampSoakWindow& w = *window;
    w.SetTable(TwoSteps());
    auto* grid = Child<QTableWidget>(w, "ProgTable");
    auto* sp = Child<QLineEdit>(w, "SPEdit");
    auto* label = Child<QLabel>(w, "StepLinkLb");
    kx::test::ClickCell(*grid, 2, 1);  // set value 0 of pattern 0
    kx::test::Click(*Child<QPushButton>(w, "EditPBt"));
    QVERIFY(Child<QWidget>(w, "EditBox")->isVisible());
    QVERIFY(sp->isVisible());
    QVERIFY(!Child<QWidget>(w, "MaxStep")->isVisible());
    QCOMPARE(label->text(), QStringLiteral("Set Value "));
    QCOMPARE(sp->text(), QStringLiteral("100.0"));

    struct Case { const char* typed; const char* cell; const char* field; };
    const Case setValues[] = {{"12.3", "12.3", "12.3"}, {"-1000.1", "12.3", "12.3"}, {"oops", "12.3", "12.3"}, {"-1.5", "-1.5", "-1.5"}};
    for (const Case& c : setValues) {
      kx::test::Retype(*sp, QString::fromLatin1(c.typed));
      QTest::keyClick(sp, Qt::Key_Return);
      QCOMPARE(Cell(w, 2, 1), QString::fromLatin1(c.cell));
      QCOMPARE(sp->text(), QString::fromLatin1(c.field));
    }
    QCOMPARE(w.table().setValue[0], -15);

    kx::test::ClickCell(*grid, 18, 3);  // loop count of pattern 2
    QCOMPARE(label->text(), QStringLiteral("Loop Count"));
    kx::test::Retype(*sp, QStringLiteral("250"));
    kx::test::Click(*Child<QPushButton>(w, "POKBt"));
    QCOMPARE(Cell(w, 18, 3), QStringLiteral("99"));

    kx::test::ClickCell(*grid, 5, 1);  // time 1 of pattern 0: 01:30
    QCOMPARE(label->text(), QStringLiteral("Hour"));
    auto* hour = Child<QComboBox>(w, "TimeHour");
    auto* minute = Child<QSpinBox>(w, "TimeMin");
    QCOMPARE(hour->currentIndex(), 1);
    QCOMPARE(minute->value(), 30);
    QCOMPARE(Cell(w, 5, 1), QStringLiteral("01:30"));  // loading stores nothing
    kx::test::Retype(*minute, 45);
    QCOMPARE(Cell(w, 5, 1), QStringLiteral("01:45"));
    kx::test::TurnWheel(*hour, -1);  // scrolling past the closed list stores nothing
    QCOMPARE(hour->currentIndex(), 1);
    QCOMPARE(Cell(w, 5, 1), QStringLiteral("01:45"));
    kx::test::ChooseInPopup(*hour, 15);
    QCOMPARE(Cell(w, 5, 1), QStringLiteral("15:00"));
    QVERIFY(!minute->isEnabled());
    QCOMPARE(minute->value(), 0);
    kx::test::ClickInPopup(*hour, 2);
    QVERIFY(minute->isEnabled());
    QCOMPARE(w.table().time[1], 120);

    kx::test::ClickCell(*grid, 19, 2);
    QCOMPARE(label->text(), QStringLiteral("Link Pattern"));
    auto* link = Child<QComboBox>(w, "StepLink");
    QCOMPARE(link->currentText(), QStringLiteral("Prog End"));
    kx::test::ClickInPopup(*link, 4);
    QCOMPARE(Cell(w, 19, 2), QStringLiteral("Prog End"));  // only Enter stores a list choice
    kx::test::Click(*Child<QPushButton>(w, "POKBt"));
    QCOMPARE(Cell(w, 19, 2), QStringLiteral("Pattern 4"));

    kx::test::ClickCell(*grid, 1, 1);
    QCOMPARE(label->text(), QStringLiteral("Step Count"));
    kx::test::ChooseInPopup(*Child<QComboBox>(w, "MaxStep"), 7);
    kx::test::Click(*Child<QPushButton>(w, "POKBt"));
    QCOMPARE(Cell(w, 1, 1), QStringLiteral("7"));

    auto* start = Child<QComboBox>(w, "ProgStart");
    kx::test::TurnWheel(*start, -2);
    QCOMPARE(w.table().start, 0);
    kx::test::ClickInPopup(*start, 5);
    QCOMPARE(w.table().start, 5);
  }

  void transfersDisableTheControlsUntilTheyEnd() {
    RampSoakWindow& w = *window;
    QSignalSpy reads(&w, &RampSoakWindow::ReadRequested);
    QSignalSpy writes(&w, &RampSoakWindow::WriteRequested);
    auto* label = Child<QLabel>(w, "UpLoadLabelP");
    auto* bar = Child<QProgressBar>(w, "UpLoadBarP");
    QVERIFY(!label->isVisible());
    kx::test::Click(*Child<QPushButton>(w, "ReadSBt"));
    QCOMPARE(reads.count(), 1);
    QVERIFY(label->isVisible() && bar->isVisible());
    QCOMPARE(label->text(), QStringLiteral("Reading Now"));
    ExpectEnabled(w, {"ProgStart", "ReadSBt", "SaveFBt", "ReadFBt", "WrBt"}, false);
    w.TransferProgress(500);
    QCOMPARE(bar->value(), 500);
    w.ReadFinished(TwoSteps());
    QVERIFY(!label->isVisible() && !bar->isVisible());
    QCOMPARE(Cell(w, 4, 1), QStringLiteral("-1.5"));
    ExpectEnabled(w, {"ProgStart", "ReadSBt", "SaveFBt", "ReadFBt", "WrBt", "EditPBt"}, true);

    kx::test::Click(*Child<QPushButton>(w, "WrBt"));
    QCOMPARE(writes.count(), 1);
    QCOMPARE(label->text(), QStringLiteral("Writing Now"));
    QVERIFY(!Child<QWidget>(w, "WrBt")->isEnabled());
    w.TransferEnded();
    QVERIFY(Child<QWidget>(w, "WrBt")->isEnabled());
    QVERIFY(!bar->isVisible());
    kx::test::Click(*Child<QPushButton>(w, "WrBt"));
    w.TransferEnded();
    QVERIFY(Child<QWidget>(w, "ReadSBt")->isEnabled());
    QVERIFY(!label->isVisible());
  }

  void curveShowsTheProgramInItsColours() {
    RampSoakWindow& w = *window;
    ProgramTable t;
    t.link.fill(kx::kLinkEnd);
    t.maxStep[0] = 1;
    t.setValue[0] = 1000, t.time[0] = 60;
    t.setValue[1] = 500, t.time[1] = 30;
    w.SetTable(t);
    const QImage image = Child<QLabel>(w, "ProgCurve")->pixmap().toImage();
    QCOMPARE(image.size(), QSize(560, 95));
    QCOMPARE(image.pixelColor(150, 2), QColor(0x00, 0x80, 0x00));   // first step, green
    QCOMPARE(image.pixelColor(500, 85), QColor(0x80, 0x80, 0x00));  // the end level, olive
    QCOMPARE(image.pixelColor(150, 60), QColor(Qt::white));

    ProgramTable zero;
    w.SetTable(zero);
    const QImage blank = Child<QLabel>(w, "ProgCurve")->pixmap().toImage();
    QCOMPARE(blank.pixelColor(150, 2), QColor(Qt::white));
  }

 private:
  std::unique_ptr<RampSoakWindow> window;
  QString chosen;
  QString lastFilter;
};

QTEST_MAIN(TestRampSoakWindow)
#include "tst_ramp_soak_window.moc"
