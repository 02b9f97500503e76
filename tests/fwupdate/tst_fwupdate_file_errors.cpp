// The firmware window's File Error box names the system's reason on a second
// line when a *.oc file cannot be opened: missing, a folder, a FIFO.
#include <QDir>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

#include <memory>

#include "core/fwupdate/loader_protocol.h"
#include "fwupdate/fwupdate_window.h"
#include "support/fake_port.h"
#include "support/modal_watch.h"
#include "support/widget_access.h"
#include "support/window_fixture.h"

using kx::fwupdate::FwUpdateWindow;
using kx::test::Child;
using kx::test::FakePort;

class FwUpdateFileErrorsTest : public QObject, protected kx::test::WindowFixture<FwUpdateWindow> {
  Q_OBJECT
 private:
  kx::FlashUpdateMemory memory_;
  QString nextFile_;

 private slots:
  void init() {
    Start();
    port_ = std::make_unique<FakePort>();
    window_ = std::make_unique<FwUpdateWindow>(*session_, *port_, memory_, [this] { return nextFile_; });
    ShowWindow();
  }
  void cleanup() { Stop(); }

  void openErrorsTellTheSystemsReason_data() {
    QTest::addColumn<QString>("place");
    QTest::addColumn<QString>("reason");
    QTest::newRow("missing") << "missing" << "No such file or directory";
    QTest::newRow("folder") << "folder" << "Is a directory";
    QTest::newRow("fifo") << "fifo" << "not a regular file";
  }
  void openErrorsTellTheSystemsReason() {
    QFETCH(QString, place);
    QFETCH(QString, reason);
    QTemporaryDir dir;
    nextFile_ = dir.filePath("kx2.oc");
    if (place == "folder") QVERIFY(QDir(dir.path()).mkdir("kx2.oc"));
    if (place == "fifo") QCOMPARE(::mkfifo(nextFile_.toLocal8Bit().constData(), 0600), 0);
    QString text;
    QString caption;
    kx::test::AcceptNextMessageBox(&text, &caption);
    QTest::mouseClick(Child<QPushButton>(*window_, "OpenBt"), Qt::LeftButton);
    QCOMPARE(text, "Can't perform one of the following file operations: Open, Seek, Read\n" + reason);
    QCOMPARE(caption, QString("File Error"));
    QVERIFY(!Child<QPushButton>(*window_, "UpDateBt")->isEnabled());
  }
};

QTEST_MAIN(FwUpdateFileErrorsTest)
#include "tst_fwupdate_file_errors.moc"
