// Parameter backups and the ramp/soak program against simulated controllers on
// a pseudo-terminal, through the monitor's menus as a user works them: upload
// a KX2, save the buffer, change the controller, open the file and write it
// back; write a KX1 buffer to two KX1s by broadcast; a download to a
// controller refusing writes; read a ramp/soak program, change it and write it
// back.
#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QStatusBar>
#include <QtTest>

#include <memory>

#include "app/ramp_editor_link.h"
#include "core/device/regmap.h"
#include "core/ramp/program_table.h"
#include "monitor/monitor_window.h"
#include "ramp/ramp_soak_window.h"
#include "serial/port_map.h"
#include "support/kxsim_process.h"
#include "support/modal_watch.h"
#include "support/port_paths.h"
#include "support/widget_access.h"
#include "widgets/file_dialogs.h"

namespace {

// Presses `button` on the next message box; it comes after line work, so
// within a minute.
std::shared_ptr<kx::test::BoxSeen> AnswerNextBox(QMessageBox::StandardButton button) {
  return kx::test::AnswerNextMessageBox(button, 60000);
}

// The monitor on a simulated line with the given controllers connected to tiles 0, 1, ...
class Bench {
 public:
  Bench(bool rtu, const std::vector<std::string>& controllers, const std::vector<int>& addresses) {
    const std::string format = rtu ? ":38400-8N1-rtu" : ":38400-8N1-ascii";
    std::vector<std::string> args = {"--link", dir / "line", "--control", dir / "control"};
    for (const std::string& c : controllers) args.push_back(c + format);
    started = sim.Start(KXSIM_PATH, args);
    kx::serial::ConfigurePorts(session, kx::test::OnePort(1, dir / "line"));
    session.params = {1, 38400, 8, 0, 1, rtu};
    window = std::make_unique<kx::monitor::MonitorWindow>(session);
    kx::app::AttachRampEditor(*window);  // as the program does at start-up
    window->resize(1280, 900);
    window->show();
    for (std::size_t n = 0; n < addresses.size(); ++n) {
      kx::test::Retype(*control<QSpinBox>("ComAddr%1", static_cast<int>(n)), addresses[n]);
      kx::test::Click(*control<QPushButton>("RunBt%1", static_cast<int>(n)));
    }
  }
  template <class T>
  T* control(const char* base, int n) {
    return window->findChild<T*>(QString::fromLatin1(base).arg(n));
  }
  QAction* action(const char* name) { return window->findChild<QAction*>(QString::fromLatin1(name)); }
  const kx::MonitorEngine& engine() { return window->engine(); }
  void command(const std::string& text) { QVERIFY(sim.Control(text)); }
  // A controller's set value as its status polls read it.
  bool svIs(std::uint16_t value, int device = 0) { return engine().Device(device).rec.sv == value; }
  // The selected controller's status polls and parameter pages were read once.
  bool ready() {
    const kx::DeviceRecord& rec = engine().Device(engine().SelectedDevice()).rec;
    return action("UPLOAD1")->isEnabled() && rec.firmwareVersion != 0 && rec.comWrite != 0xFF &&
           engine().ParameterWord(0x4701) == 300;
  }

  kx::test::ScratchDir dir;
  kx::test::KxsimProcess sim;
  bool started = false;
  kx::Session session;
  std::unique_ptr<kx::monitor::MonitorWindow> window;
};

}  // namespace

class TstParamsE2e : public QObject {
  Q_OBJECT
 private slots:
  void cleanup() {
    kx::test::CancelModalWatches();
    kx::app::SetFileChooser({});
  }

  void uploadSaveChangeAndWriteBackAKx2() {
    Bench b(true, {"kx2@1"}, {1});
    QVERIFY(b.started);
    QTRY_VERIFY_WITH_TIMEOUT(b.ready(), 10000);
    QVERIFY(!b.action("SAVEAS1")->isEnabled());

    auto done = AnswerNextBox(QMessageBox::Ok);
    b.action("UPLOAD1")->trigger();
    QVERIFY(b.window->findChild<QWidget*>("ProgressBar")->isVisible());
    QCOMPARE(b.window->findChild<QLabel*>("ProgressLb")->text(), QStringLiteral("UPLOAD"));
    QTRY_VERIFY_WITH_TIMEOUT(done->seen, 60000);
    QCOMPARE(done->text, QStringLiteral("KX2 V1.05 parameters successful upload into buffer"));
    QCOMPARE(done->caption, QStringLiteral("Upload Done"));
    QVERIFY(!b.window->findChild<QWidget*>("ProgressBar")->isVisible());
    QVERIFY(b.action("SAVEAS1")->isEnabled());
    QVERIFY(!b.action("SAVE1")->isEnabled());

    const QString file = QString::fromStdString(b.dir / "kx2.par");
    kx::app::SetFileChooser([file](kx::app::FileDialogKind, const QString&) { return file; });
    auto saved = AnswerNextBox(QMessageBox::Ok);
    b.action("SAVEAS1")->trigger();
    QVERIFY(saved->seen);
    QCOMPARE(saved->text, QStringLiteral("KX2 V1.05 save parameters to file done"));
    QCOMPARE(QFileInfo(file).size(), 260);
    QVERIFY(b.action("SAVE1")->isEnabled());

    // The controller's set value changes (the monitor reads it); the file still holds 30.0.
    b.command("set 1 0x4701 555");
    QTRY_VERIFY_WITH_TIMEOUT(b.svIs(555), 10000);
    auto loaded = AnswerNextBox(QMessageBox::Ok);
    b.action("OPEN1")->trigger();
    QCOMPARE(loaded->text, QStringLiteral("KX2 V1.05 parameters successful load"));

    b.action("DOWNLOAD1")->trigger();  // same model: no question
    QCOMPARE(b.window->findChild<QLabel*>("ProgressLb")->text(), QStringLiteral("WRITE TO SELECTED DEVICE"));
    QTRY_VERIFY_WITH_TIMEOUT(b.engine().RunningTransfer() == nullptr, 60000);
    QVERIFY(!b.window->findChild<QWidget*>("ProgressBar")->isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(b.svIs(300), 10000);
  }

  void writeToAllConnectedByBroadcast() {
    Bench b(false, {"kx1@1", "kx1@2"}, {1, 2});
    QVERIFY(b.started);
    QTRY_VERIFY_WITH_TIMEOUT(b.ready(), 10000);
    auto done = AnswerNextBox(QMessageBox::Ok);
    b.action("UPLOAD1")->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(done->seen, 60000);
    QCOMPARE(done->text, QStringLiteral("KX1 V3.20 parameters successful upload into buffer"));

    b.command("set 1 0x4701 111");
    b.command("set 2 0x4701 222");
    QTRY_VERIFY_WITH_TIMEOUT(b.svIs(111, 0) && b.svIs(222, 1), 10000);
    // Declining the question writes nothing.
    auto no = AnswerNextBox(QMessageBox::No);
    b.action("WRITEALL")->trigger();
    QCOMPARE(no->text, QStringLiteral("All device connected to the communication will be set, do you really want to process ?"));
    QCOMPARE(no->caption, QStringLiteral("Model Name Confirm"));
    QVERIFY(b.engine().RunningTransfer() == nullptr);

    auto yes = AnswerNextBox(QMessageBox::Yes);
    b.action("WRITEALL")->trigger();
    QVERIFY(yes->seen);
    QVERIFY(b.engine().RunningTransfer() != nullptr);
    QTRY_VERIFY_WITH_TIMEOUT(b.engine().RunningTransfer() == nullptr, 60000);
    QTRY_VERIFY_WITH_TIMEOUT(b.svIs(300, 0) && b.svIs(300, 1), 10000);
  }

  // A controller that refuses remote writes: the download is given up after
  // repeated refusals and the reason is told, instead of resending for ever.
  void refusedWritesEndTheDownloadWithTheirMessage() {
    Bench b(false, {"kx3@1"}, {1});
    QVERIFY(b.started);
    // A KX3 has no com-write flag: its parameter pages read are enough.
    QTRY_VERIFY_WITH_TIMEOUT(b.action("UPLOAD1")->isEnabled() && b.engine().ParameterWord(0x4701) == 300, 10000);
    auto done = AnswerNextBox(QMessageBox::Ok);
    b.action("UPLOAD1")->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(done->seen, 60000);

    b.command("comwrite 1 off");
    b.command("set 1 0x4701 555");  // taken after the switch: seen, the switch is in effect
    QTRY_VERIFY_WITH_TIMEOUT(b.svIs(555), 10000);
    auto refused = AnswerNextBox(QMessageBox::Ok);
    b.action("DOWNLOAD1")->trigger();  // KX3: no com-write flag to check first
    QTRY_VERIFY_WITH_TIMEOUT(refused->seen, 30000);
    // The reason, and what the download left in the controller.
    QVERIFY(refused->text.startsWith(QStringLiteral("Write error : illegal command  !!!\n\nNone of the ")));
    QVERIFY(refused->text.endsWith(QStringLiteral(" writes went through.")));
    QVERIFY(b.engine().RunningTransfer() == nullptr);
    QVERIFY(!b.window->findChild<QWidget*>("ProgressBar")->isVisible());
    QVERIFY(b.engine().Device(0).connected);
    QVERIFY(b.svIs(555));
  }

  void readAndWriteARampSoakProgram() {
    Bench b(true, {"kx2@1"}, {1});
    QVERIFY(b.started);
    // A program on the controller: pattern 0 with two steps, -1.5 for 01:30 then 100.0 for 00:45.
    b.command("set 1 0x4768 1");
    b.command("set 1 0x4770 3");
    b.command("set 1 0x4780 0xFFF1");
    b.command("set 1 0x4781 90");
    b.command("set 1 0x4782 1000");
    b.command("set 1 0x4783 45");
    QTRY_VERIFY_WITH_TIMEOUT(b.action("RampSoakprogram1")->isEnabled(), 10000);
    b.action("RampSoakprogram1")->trigger();
    auto* ramp = b.window->findChild<kx::ramp::RampSoakWindow*>("RampSoak");
    QVERIFY(ramp != nullptr && ramp->isVisible());
    kx::test::Click(*ramp->findChild<QPushButton*>("ReadSBt"));
    QVERIFY(ramp->findChild<QLabel*>("UpLoadLabelP")->isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(ramp->filled() && !ramp->findChild<QLabel*>("UpLoadLabelP")->isVisible(), 60000);
    auto* grid = ramp->findChild<QTableWidget*>("ProgTable");
    QCOMPARE(grid->item(2, 1)->text(), QStringLiteral("-1.5"));
    QCOMPARE(grid->item(3, 1)->text(), QStringLiteral("01:30"));
    QCOMPARE(grid->item(4, 1)->text(), QStringLiteral("100.0"));
    QCOMPARE(grid->item(18, 1)->text(), QStringLiteral("3"));
    QCOMPARE(grid->item(19, 1)->text(), QStringLiteral("Prog End"));
    // The read refreshed the monitor's buffer too.
    QVERIFY(b.action("SAVEAS1")->isEnabled());

    kx::ProgramTable changed = ramp->table();
    changed.setValue[1] = 1234;
    changed.time[9] = 900;
    changed.link[0] = 1;
    changed.start = 2;
    // The same changes made on the edit page, as a technician makes them.
    kx::test::Click(*ramp->findChild<QPushButton*>("EditPBt"));
    kx::test::ClickCell(*grid, 4, 1);  // set value 1 of pattern 0
    kx::test::Retype(*ramp->findChild<QLineEdit*>("SPEdit"), "123.4");
    QTest::keyClick(ramp->findChild<QLineEdit*>("SPEdit"), Qt::Key_Return);
    kx::test::ClickCell(*grid, 5, 2);  // time 1 of pattern 1
    kx::test::ChooseInPopup(*ramp->findChild<QComboBox*>("TimeHour"), 15);
    kx::test::ClickCell(*grid, 19, 1);  // link of pattern 0
    kx::test::ClickInPopup(*ramp->findChild<QComboBox*>("StepLink"), 1);
    kx::test::Click(*ramp->findChild<QPushButton*>("POKBt"));
    kx::test::ClickInPopup(*ramp->findChild<QComboBox*>("ProgStart"), 2);
    QCOMPARE(ramp->table(), changed);
    kx::test::Click(*ramp->findChild<QPushButton*>("WrBt"));
    QVERIFY(!ramp->findChild<QPushButton*>("WrBt")->isEnabled());
    QTRY_VERIFY_WITH_TIMEOUT(ramp->findChild<QPushButton*>("WrBt")->isEnabled(), 60000);

    // Reading it back gives the program written.
    ramp->SetTable(kx::ProgramTable{});
    kx::test::Click(*ramp->findChild<QPushButton*>("ReadSBt"));
    QTRY_VERIFY_WITH_TIMEOUT(!ramp->findChild<QLabel*>("UpLoadLabelP")->isVisible(), 60000);
    QCOMPARE(ramp->table(), changed);
  }
};

QTEST_MAIN(TstParamsE2e)
#include "tst_params_e2e.moc"
