// The recorder window's file errors name the system's reason: replaying a
// missing file, a folder or a FIFO shows the catalogue's File Error text with
// the reason on a second line; a CSV export that cannot be written or read
// says why after "CSV export failed : ".
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include <sys/stat.h>

#include <filesystem>

#include "core/recorder/record_file.h"
#include "recorder/recorder_window.h"
#include "support/fake_port.h"
#include "support/widget_access.h"
#include "widgets/file_dialogs.h"

using namespace kx;
using namespace kx::recorder;
using kx::test::Child;

class TestRecorderFileErrors : public QObject {
  Q_OBJECT
 private slots:
  void cleanup() { app::SetFileChooser({}); }

  void replayOpenTellsTheSystemsReason_data() {
    QTest::addColumn<QString>("place");
    QTest::addColumn<QString>("reason");
    QTest::newRow("missing") << "missing" << "No such file or directory";
    QTest::newRow("folder") << "folder" << "Is a directory";
    QTest::newRow("fifo") << "fifo" << "not a regular file";
  }
  void replayOpenTellsTheSystemsReason() {
    QFETCH(QString, place);
    QFETCH(QString, reason);
    QTemporaryDir dir;
    const QString path = dir.filePath("run.rec");
    if (place == "folder") QVERIFY(QDir(dir.path()).mkdir("run.rec"));
    if (place == "fifo") QCOMPARE(::mkfifo(path.toLocal8Bit().constData(), 0600), 0);
    app::SetFileChooser([&](app::FileDialogKind, const QString&) { return path; });
    Session session;
    kx::test::FakePort port;
    RecorderWindow window(session, port);
    QStringList messages;
    window.dialogs().message = [&](const QString& text, const QString& caption, bool okCancel) {
      messages << caption + "|" + text + (okCancel ? "|OkCancel" : "");
    };
    window.show();
    QTest::mouseClick(Child<QToolButton>(window, "RePlayBt"), Qt::LeftButton);
    QCOMPARE(messages, QStringList{"File Error|Can't perform one of the following file operations: Open, Seek, Read\n" +
                                   reason + "|OkCancel"});
    QVERIFY(!Child<QToolButton>(window, "RePlayBt")->isChecked());
  }

  // The replayed file is exported; the CSV goes into a folder that is gone,
  // or the record file went before the export read it.
  void csvExportTellsTheSystemsReason_data() {
    QTest::addColumn<bool>("removeRecord");
    QTest::addColumn<QString>("text");
    QTest::newRow("target folder missing") << false << "/gone/out.csv.part: No such file or directory";
    QTest::newRow("record file removed") << true << "/run.rec: No such file or directory";
  }
  void csvExportTellsTheSystemsReason() {
    QFETCH(bool, removeRecord);
    QFETCH(QString, text);
    QTemporaryDir dir;
    const QString record = dir.filePath("run.rec");
    {
      RecordWriter writer;
      QVERIFY(writer.Create(record.toStdString(), RecordHeader{}));
    }
    const QString csv = removeRecord ? dir.filePath("out.csv") : dir.filePath("gone/out.csv");
    app::SetFileChooser([&](app::FileDialogKind kind, const QString&) {
      return kind == app::FileDialogKind::Open ? record : csv;
    });
    Session session;
    kx::test::FakePort port;
    RecorderWindow window(session, port);
    QStringList messages;
    window.dialogs().message = [&](const QString& shown, const QString&, bool) { messages << shown; };
    window.show();
    QTest::mouseClick(Child<QToolButton>(window, "RePlayBt"), Qt::LeftButton);
    QVERIFY(messages.isEmpty());
    if (removeRecord) QVERIFY(QFile::remove(record));
    QTest::mouseClick(Child<QToolButton>(window, "CsvBt"), Qt::LeftButton);
    QCOMPARE(messages.size(), 1);
    QVERIFY2(messages[0].startsWith("CSV export failed : ") && messages[0].endsWith(text), qPrintable(messages[0]));
  }
};

QTEST_MAIN(TestRecorderFileErrors)
#include "tst_recorder_file_errors.moc"
