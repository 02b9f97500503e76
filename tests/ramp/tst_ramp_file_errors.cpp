// The ramp/soak editor's file errors: the catalogue's text, then the system's
// reason on a line of its own, for a missing file, a folder or a FIFO in place
// of the file, and a save that does not fit.
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

#include <memory>

#include "core/ramp/program_table.h"
#include "ramp/ramp_soak_window.h"
#include "support/file_size_limit.h"
#include "support/modal_watch.h"
#include "support/widget_access.h"
#include "widgets/file_dialogs.h"

using kx::ramp::RampSoakWindow;
using kx::test::Child;

class TestRampFileErrors : public QObject {
  Q_OBJECT
 private slots:
  void cleanup() {
    kx::test::CancelModalWatches();
    kx::app::SetFileChooser({});
  }

  void fileErrorsTellTheSystemsReason_data() {
    QTest::addColumn<QString>("button");  // ReadFBt or SaveFBt
    QTest::addColumn<QString>("place");   // missing, folder, fifo, full, nofolder
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("text");
    const QString open = QStringLiteral("Can't perform one of the following file operations: Open, Seek, Read\n");
    const QString save = QStringLiteral("Fail to save file\n");
    QTest::newRow("open missing") << "ReadFBt" << "missing" << "File Error" << open + "No such file or directory";
    QTest::newRow("open folder") << "ReadFBt" << "folder" << "File Error" << open + "Is a directory";
    QTest::newRow("open fifo") << "ReadFBt" << "fifo" << "File Error" << open + "not a regular file";
    QTest::newRow("save full") << "SaveFBt" << "full" << QApplication::applicationName()
                               << save + "File too large";
    QTest::newRow("save in missing folder") << "SaveFBt" << "nofolder" << QApplication::applicationName()
                                            << save + "No such file or directory";
  }
  void fileErrorsTellTheSystemsReason() {
    QFETCH(QString, button);
    QFETCH(QString, place);
    QFETCH(QString, caption);
    QFETCH(QString, text);
    QTemporaryDir dir;
    QString path = dir.filePath("prog.r$s");
    if (place == "folder") QVERIFY(QDir(dir.path()).mkdir("prog.r$s"));
    if (place == "fifo") QCOMPARE(::mkfifo(path.toLocal8Bit().constData(), 0600), 0);
    if (place == "nofolder") path = dir.filePath("gone/prog.r$s");
    kx::app::SetFileChooser([path](kx::app::FileDialogKind, const QString&) { return path; });

    RampSoakWindow w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    ProgramTableForSave(w);
    std::unique_ptr<kx::test::FileSizeLimit> limit;
    if (place == "full") {
      limit = std::make_unique<kx::test::FileSizeLimit>(100);  // the file takes 285 bytes
      QVERIFY(limit->ok());
    }
    QString shown, shownCaption;
    kx::test::AcceptNextMessageBox(&shown, &shownCaption);
    QTest::mouseClick(Child<QPushButton>(w, button.toUtf8().constData()), Qt::LeftButton);
    limit.reset();
    QCOMPARE(shown, text);
    QCOMPARE(shownCaption, caption);
    QVERIFY(!QFileInfo(path).isFile());  // nothing half-written left behind
  }

 private:
  // A table to save: Save is enabled once the window holds one.
  static void ProgramTableForSave(RampSoakWindow& w) {
    kx::ProgramTable t;
    t.link.fill(kx::kLinkEnd);
    t.setValue[0] = 1000, t.time[0] = 60;
    w.SetTable(t);
  }
};

QTEST_MAIN(TestRampFileErrors)
#include "tst_ramp_file_errors.moc"
