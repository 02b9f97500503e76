// The recorder window offscreen, controls found by objectName, the second
// port wired to kxsim's controllers on the simulated bus: recording, save
// mode, replay, the File Error box, toggles and the CSV export.
#include <QComboBox>
#include <QFileInfo>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <fstream>

#include "core/recorder/record_file.h"
#include "recorder/recorder_window.h"
#include "support/fake_port.h"
#include "support/file_size_limit.h"
#include "support/sim_bus.h"
#include "support/widget_access.h"
#include "widgets/file_dialogs.h"

using namespace kx;
using namespace kx::recorder;
using kx::test::Child;

class TestRecorderWindow : public QObject {
  Q_OBJECT

 private:
  struct Fixture {
    Fixture() : window(session, port) {
      session.params = PortParams{2, 9600, 7, 1, 1, false};
      // KX2s at 1 and 3 reading what the test sets; nobody at 2.
      for (int address : {1, 3}) bus.Add("kx2@" + std::to_string(address) + ":9600-7E1-ascii").HoldProcess(true);
      port.SetOnTrigger([this](ComPort&, const PortEvent& e) { window.PortEvent(e); });
      window.dialogs().confirm = [this](const QString& text) {
        questions << text;
        return confirmAnswer;
      };
      window.dialogs().message = [this](const QString& text, const QString& caption, bool okCancel) {
        messages << caption + "|" + text + (okCancel ? "|OkCancel" : "");
      };
      window.SetClock([] { return SampleTime{8, 9, 10, 0}; });
      window.resize(808, 800);
      window.show();
      window.LayoutChart();
    }
    template <class T>
    T* C(const char* name) {
      return Child<T>(window, name);
    }
    // The controllers at 1 (and 3) read these values and answer the cycle's
    // requests; a silent address times out.
    void Answer(std::uint16_t pv1, std::uint16_t pv3 = 0) {
      bus.Controller(1).SetRegister(0x4700, pv1);
      bus.Controller(3).SetRegister(0x4700, pv3);
      QVERIFY(bus.RunUntil([this] { return window.Acquirer().state() != Acquisition::State::Awaiting; }, 100));
    }
    void Tick() { QMetaObject::invokeMethod(C<QTimer>("Timer1"), "timeout"); }

    Session session;
    kx::test::FakePort port;
    kx::test::SimBus bus{port};
    RecorderWindow window;
    QStringList questions;
    QStringList messages;
    bool confirmAnswer = true;
  };

  QString Temp(const QString& name) { return dir_.filePath(name); }
  QTemporaryDir dir_;

 private slots:
  void cleanup() { app::SetFileChooser(nullptr); }

  void controlsAtOpening() {
    Fixture f;
    QCOMPARE(f.window.windowTitle(), QString("Ostra KX Series Recorder Program"));
    QCOMPARE(f.window.objectName(), QString("PRecord"));
    QCOMPARE(f.C<QToolButton>("SaveBt")->toolTip(), QString("Save recording data"));
    QVERIFY(f.C<QToolButton>("SaveBt")->isCheckable());
    QVERIFY(f.C<QToolButton>("RePlayBt")->isCheckable());
    QCOMPARE(f.C<QToolButton>("ExitBt3")->toolTip(), QString("Exit this window"));
    QCOMPARE(f.C<QLabel>("ExecCntLb")->text(), QString("Counter"));
    QCOMPARE(f.C<QLineEdit>("LoopCnt")->text(), QString(" 00000000"));
    QVERIFY(!f.C<QLineEdit>("LoopCnt")->isEnabled());
    QVERIFY(f.C<QLineEdit>("LoopCnt")->font().bold());
    QCOMPARE(f.C<QSpinBox>("SampleTime")->value(), 1);
    QCOMPARE(f.C<QSpinBox>("SampleTime")->maximum(), 99);
    QCOMPARE(f.C<QLabel>("SecPl")->text(), QString("seconds"));
    QVERIFY(!f.C<QLineEdit>("SampleEdit")->isVisible());
    kx::test::Retype(*f.C<QSpinBox>("SampleTime"), 0);
    QVERIFY(f.C<QLineEdit>("SampleEdit")->isVisible());
    QCOMPARE(f.C<QLineEdit>("SampleEdit")->text(), QString("0.5"));
    QCOMPARE(f.C<QPushButton>("StartBt")->text(), QString("Start"));
    QCOMPARE(f.C<QPushButton>("StartBt")->toolTip(), QString("Start to getting data"));
    QVERIFY(f.C<QFrame>("BackGndP")->styleSheet().contains("#00FF00"));
    for (int i = 0; i < kSlots; ++i) {
      QCOMPARE(f.C<QLabel>(qPrintable(QString("DevicePL%1").arg(i)))->text(), QString("Device %1").arg(i + 1));
      auto* box = f.C<QSpinBox>(qPrintable(QString("ComAddr%1").arg(i)));
      QCOMPARE(box->value(), i == 0 ? 1 : 0);
      QCOMPARE(box->maximum(), 247);
      QCOMPARE(f.C<QLineEdit>(qPrintable(QString("PV%1").arg(i)))->text(), QString("0"));
      QVERIFY(f.C<QLineEdit>(qPrintable(QString("PV%1").arg(i)))->isReadOnly());
    }
    QVERIFY(f.C<QLabel>("DevicePL1")->styleSheet().contains("#000080"));  // navy
    QCOMPARE(f.C<QComboBox>("DisplayMd")->currentText(), QString("Auto"));
    QCOMPARE(f.C<QLineEdit>("MaxScale")->text(), QString("100"));
    QCOMPARE(f.C<QLineEdit>("MinScale")->text(), QString("0"));
    QVERIFY(!f.C<QLineEdit>("MaxScale")->isEnabled());
    QCOMPARE(f.C<QComboBox>("BGColor")->count(), 16);
    QCOMPARE(f.C<QComboBox>("BGColor")->currentText(), QString("White"));
    QVERIFY(!f.C<QFrame>("PlayPL")->isVisible());
    QVERIFY(!f.C<QPushButton>("PauseBt")->isEnabled());
    QVERIFY(!f.C<QPushButton>("StopBt")->isEnabled());
    QCOMPARE(f.C<QLabel>("ErrMess")->text(), QString("No error"));
    QVERIFY(f.C<QLabel>("ErrMess")->isVisible());
    kx::test::TurnWheel(*f.C<QComboBox>("DisplayMd"), -1);  // scrolling past it changes nothing
    QCOMPARE(f.C<QComboBox>("DisplayMd")->currentText(), QString("Auto"));
    QVERIFY(!f.C<QLineEdit>("MaxScale")->isEnabled());
    kx::test::ChooseInPopup(*f.C<QComboBox>("DisplayMd"), 1);
    QVERIFY(f.C<QLineEdit>("MaxScale")->isEnabled());
    QVERIFY(f.window.ChartModel().geometry().columns > 0 && f.window.ChartModel().geometry().columns <= 720);
  }

  void startWithNoAddressChangesOnlyTheCaption() {
    Fixture f;
    kx::test::Retype(*f.C<QSpinBox>("ComAddr0"), 0);
    kx::test::Click(*f.C<QPushButton>("StartBt"));
    QCOMPARE(f.C<QPushButton>("StartBt")->text(), QString("START"));
    QVERIFY(!f.port.IsOpen());
    QVERIFY(f.port.written.empty());
  }

  void recordingShowsValuesAndStops() {
    Fixture f;
    kx::test::Retype(*f.C<QSpinBox>("ComAddr2"), 3);
    kx::test::Click(*f.C<QPushButton>("StartBt"));
    QVERIFY(f.port.IsOpen());
    QCOMPARE(f.session.lineOwner, LineOwner::Recorder);
    QCOMPARE(f.C<QPushButton>("StartBt")->text(), QString("Stop"));
    QCOMPARE(f.C<QPushButton>("StartBt")->toolTip(), QString("End of acquire data"));
    QVERIFY(f.C<QFrame>("BackGndP")->styleSheet().contains("#FF0000"));
    QVERIFY(!f.C<QFrame>("ComAddrPL")->isEnabled());
    QVERIFY(!f.C<QToolButton>("SaveBt")->isEnabled());
    QVERIFY(!f.C<QToolButton>("RePlayBt")->isEnabled());
    QVERIFY(!f.C<QComboBox>("DisplayMd")->isEnabled());
    QVERIFY(f.C<QTimer>("Timer1")->isActive());
    QCOMPARE(f.C<QTimer>("Timer1")->interval(), 1000);
    f.Answer(253, 0xFFCE);
    QCOMPARE(f.C<QLineEdit>("LoopCnt")->text(), QString(" 0000001"));
    f.Tick();
    f.Answer(254, 0xFFCE);
    QCOMPARE(f.C<QLineEdit>("LoopCnt")->text(), QString(" 0000002"));
    QCOMPARE(f.C<QLineEdit>("PV0")->text(), QString("25.4"));
    QCOMPARE(f.C<QLineEdit>("PV2")->text(), QString("-5.0"));
    QCOMPARE(f.C<QLabel>("SampleTimeLb")->text(), QString("8:9:10"));
    kx::test::Click(*f.C<QPushButton>("StartBt"));
    QCOMPARE(f.C<QPushButton>("StartBt")->text(), QString("START"));
    QVERIFY(!f.port.IsOpen());
    QCOMPARE(f.session.lineOwner, LineOwner::Free);
    QVERIFY(f.C<QFrame>("ComAddrPL")->isEnabled());
    QVERIFY(f.C<QToolButton>("SaveBt")->isEnabled());
  }

  void droppedSlotTurnsRedAndFailureIsShown() {
    Fixture f;
    kx::test::Retype(*f.C<QSpinBox>("ComAddr1"), 2);
    kx::test::Click(*f.C<QPushButton>("StartBt"));
    f.Answer(100);  // slot 2 silent
    QCOMPARE(f.C<QLabel>("ErrMess")->text(), QString("DEVICE  2Received data time out error"));
    for (int i = 0; i < 2; ++i) {
      f.Tick();
      f.Answer(100);
    }
    QVERIFY(f.C<QSpinBox>("ComAddr1")->styleSheet().contains("#FF0000"));
    QCOMPARE(f.C<QLineEdit>("LoopCnt")->text(), QString(" 0000001"));
  }

  void saveModeAsksBeforeOverwritingAndReplayLoadsTheRun() {
    const QString path = Temp("run.rec");
    app::SetFileChooser([&](app::FileDialogKind, const QString&) { return path; });
    {
      Fixture f;
      kx::test::Click(*f.C<QToolButton>("SaveBt"));
      QVERIFY(f.C<QToolButton>("SaveBt")->isChecked());
      QVERIFY(f.questions.isEmpty());  // the file does not exist yet
      kx::test::Click(*f.C<QPushButton>("StartBt"));
      for (int k = 0; k < 3; ++k) {
        if (k > 0) f.Tick();
        f.Answer(static_cast<std::uint16_t>(200 + k));
      }
      kx::test::Click(*f.C<QPushButton>("StartBt"));
      RecordFile file;
      QVERIFY(file.Open(path.toStdString()));
      QCOMPARE(file.count(), 3u);
      QCOMPARE(file.header().addresses[0], 1);
      QCOMPARE(file.At(2).values[0], 202);
      // Second Start in the same save mode asks; Cancel leaves the recorder idle.
      f.confirmAnswer = false;
      kx::test::Click(*f.C<QPushButton>("StartBt"));
      QCOMPARE(f.questions, QStringList{"Over write file : run.rec"});
      QVERIFY(!f.port.IsOpen());
      QVERIFY(!f.C<QToolButton>("SaveBt")->isChecked());
      QCOMPARE(f.C<QPushButton>("StartBt")->text(), QString("START"));

      // Replay the file.
      kx::test::Click(*f.C<QToolButton>("RePlayBt"));
      QVERIFY(f.C<QToolButton>("RePlayBt")->isChecked());
      QVERIFY(f.C<QFrame>("PlayPL")->isVisible());
      QVERIFY(!f.C<QFrame>("BackGndP")->isVisible());
      QVERIFY(!f.C<QToolButton>("SaveBt")->isEnabled());
      QCOMPARE(f.C<QSlider>("TrackBar")->maximum(), 3);
      QVERIFY(f.C<QLineEdit>("LoopCnt")->isEnabled());
      QCOMPARE(f.C<QLineEdit>("PV0")->text(), QString());
      kx::test::Click(*f.C<QPushButton>("PlayBt"));
      QVERIFY(f.C<QPushButton>("PauseBt")->isEnabled());
      QCOMPARE(f.C<QTimer>("Timer1")->interval(), 20);
      for (int i = 0; i < 3; ++i) f.Tick();
      QCOMPARE(f.C<QLineEdit>("PV0")->text(), QString("20.2"));
      QCOMPARE(f.C<QLineEdit>("LoopCnt")->text(), QString(" 0000003"));
      QVERIFY(!f.C<QTimer>("Timer1")->isActive());
      QVERIFY(f.C<QPushButton>("PlayBt")->isEnabled());
      // Leaving replay hides the play panel.
      kx::test::Click(*f.C<QToolButton>("RePlayBt"));
      QVERIFY(!f.C<QFrame>("PlayPL")->isVisible());
      QVERIFY(f.C<QFrame>("BackGndP")->isVisible());
      QVERIFY(f.C<QSpinBox>("SampleTime")->isEnabled());
    }
  }

  // A record file that cannot be written (a full disk) stops the recording
  // cleanly: the user is told once the port's event has returned, never from
  // inside it; the file keeps its whole records, save mode ends so the file
  // is not replaced unasked, and Start records again into another file.
  void writeFailureStopsTheRecordingAndStartWorksAgain() {
    const QString full = Temp("full.rec");
    const QString other = Temp("other.rec");
    QString next = full;
    app::SetFileChooser([&](app::FileDialogKind, const QString&) { return next; });
    Fixture f;
    kx::test::Click(*f.C<QToolButton>("SaveBt"));
    kx::test::Click(*f.C<QPushButton>("StartBt"));
    f.Answer(200);
    f.Tick();
    f.Answer(201);
    {
      const kx::test::FileSizeLimit disk(12 + 25 * 2 + 10);
      QVERIFY(disk.ok());
      f.Tick();
      f.Answer(202);
    }
    QVERIFY(f.messages.isEmpty());
    QCOMPARE(f.window.Acquirer().state(), Acquisition::State::Idle);
    QVERIFY(!f.port.IsOpen());
    QCOMPARE(f.session.lineOwner, LineOwner::Free);
    QVERIFY(!f.C<QTimer>("Timer1")->isActive());
    QCOMPARE(f.C<QPushButton>("StartBt")->text(), QString("START"));
    QVERIFY(!f.C<QToolButton>("SaveBt")->isChecked());
    QVERIFY(f.C<QToolButton>("SaveBt")->isEnabled());
    QVERIFY(f.C<QLabel>("ErrMess")->text().startsWith("Record file error : "));
    QTRY_COMPARE(f.messages.size(), 1);
    QCOMPARE(f.messages[0], "|" + f.C<QLabel>("ErrMess")->text());
    const std::size_t sent = f.port.written.size();
    f.Tick();
    QCOMPARE(f.port.written.size(), sent);
    QCOMPARE(QFileInfo(full).size(), qint64{12 + 25 * 2});
    {
      RecordFile file;
      QVERIFY(file.Open(full.toStdString()));
      QCOMPARE(file.count(), 2u);
      QCOMPARE(file.At(1).values[0], 201);
    }

    next = other;
    kx::test::Click(*f.C<QToolButton>("SaveBt"));
    QVERIFY(f.C<QToolButton>("SaveBt")->isChecked());
    kx::test::Click(*f.C<QPushButton>("StartBt"));
    QVERIFY(f.port.IsOpen());
    f.Answer(210);
    kx::test::Click(*f.C<QPushButton>("StartBt"));
    RecordFile again;
    QVERIFY(again.Open(other.toStdString()));
    QCOMPARE(again.count(), 1u);
    QCOMPARE(again.At(0).values[0], 210);
    QCOMPARE(QFileInfo(full).size(), qint64{12 + 25 * 2});
    QCOMPARE(f.messages.size(), 1);
  }

  // Without save mode the run goes to a scratch file only for the CSV export:
  // when that cannot be written, sampling goes on and nothing asks the user.
  void scratchWriteFailureKeepsSampling() {
    Fixture f;
    kx::test::Click(*f.C<QPushButton>("StartBt"));
    {
      const kx::test::FileSizeLimit disk(12 + 10);
      QVERIFY(disk.ok());
      f.Answer(200);
    }
    QVERIFY(f.window.Acquirer().Acquiring());
    QVERIFY(f.C<QLabel>("ErrMess")->text().startsWith("Record file error : "));
    f.Tick();
    f.Answer(201);
    QCOMPARE(f.C<QLineEdit>("LoopCnt")->text(), QString(" 0000002"));
    QCoreApplication::processEvents();
    QVERIFY(f.messages.isEmpty());
    kx::test::Click(*f.C<QToolButton>("CsvBt"));
    QCOMPARE(f.messages, QStringList{"|No recording data to export"});
  }

  // Replay shows each record's time in ErrMess (hour:minute:second without
  // leading zeros), as it plays and after a jump.
  void replayShowsTheRecordTimeInErrMess() {
    const QString path = Temp("times.rec");
    {
      RecordHeader header;
      header.addresses[0] = 1;
      RecordWriter w;
      QVERIFY(w.Create(path.toStdString(), header));
      for (int k = 0; k < 10; ++k) {
        Record r;
        r.values[0] = 200 + k;
        r.time = {9, 5, static_cast<std::uint8_t>(k), 0};
        QVERIFY(w.Append(EncodeRecord(r)));
      }
    }
    app::SetFileChooser([&](app::FileDialogKind, const QString&) { return path; });
    Fixture f;
    kx::test::Click(*f.C<QToolButton>("RePlayBt"));
    QCOMPARE(f.C<QLabel>("ErrMess")->text(), QString());
    QTest::mouseClick(f.C<QPushButton>("PlayBt"), Qt::LeftButton);
    f.Tick();
    QCOMPARE(f.C<QLabel>("ErrMess")->text(), QString("9:5:0"));
    f.Tick();
    QCOMPARE(f.C<QLabel>("ErrMess")->text(), QString("9:5:1"));
    QTest::mouseClick(f.C<QPushButton>("PauseBt"), Qt::LeftButton);
    auto* loop = f.C<QLineEdit>("LoopCnt");
    loop->setFocus();
    kx::test::Retype(*loop, "8");
    QTest::keyClick(loop, Qt::Key_Return);
    QCOMPARE(f.window.Replayer().position(), 8);
    QCOMPARE(f.C<QLabel>("ErrMess")->text(), QString("9:5:7"));
    QCOMPARE(f.C<QLabel>("SampleTimeLb")->text(), QString());  // the time is shown once
  }

  void shortFileGivesFileErrorBox() {
    const QString path = Temp("short.rec");
    { std::ofstream(path.toStdString(), std::ios::binary) << "12345"; }
    app::SetFileChooser([&](app::FileDialogKind, const QString&) { return path; });
    Fixture f;
    kx::test::Click(*f.C<QToolButton>("RePlayBt"));
    QCOMPARE(f.messages, QStringList{"File Error|Can't perform one of the following file operations: Open, Seek, Read|OkCancel"});
    QVERIFY(!f.C<QToolButton>("RePlayBt")->isChecked());
    QVERIFY(!f.C<QFrame>("PlayPL")->isVisible());
  }

  void typedPositionJumpsOnEnter() {
    const QString path = Temp("jump.rec");
    {
      RecordHeader header;
      header.addresses[0] = 1;
      header.sampleTime = 0;
      RecordWriter w;
      QVERIFY(w.Create(path.toStdString(), header));
      for (int k = 0; k < 200; ++k) {
        Record r;
        r.values[0] = k;
        QVERIFY(w.Append(EncodeRecord(r)));
      }
    }
    app::SetFileChooser([&](app::FileDialogKind, const QString&) { return path; });
    Fixture f;
    kx::test::Click(*f.C<QToolButton>("RePlayBt"));
    QCOMPARE(f.C<QSpinBox>("SampleTime")->value(), 0);
    QVERIFY(f.C<QLineEdit>("SampleEdit")->isVisible());
    auto* loop = f.C<QLineEdit>("LoopCnt");
    loop->setFocus();
    kx::test::Retype(*loop, "123");
    QVERIFY(f.C<QTimer>("Timer1")->isActive());
    QCOMPARE(f.C<QTimer>("Timer1")->interval(), 2000);
    QTest::keyClick(loop, Qt::Key_Return);
    QCOMPARE(f.window.Replayer().position(), 123);
    QCOMPARE(f.C<QSlider>("TrackBar")->value(), 123);
    QCOMPARE(f.C<QLineEdit>("PV0")->text(), QString("12.2"));
    // Toggling a trace while paused redraws at the shown position.
    kx::test::Click(*f.C<QPushButton>("PlayBt"));
    kx::test::Click(*f.C<QPushButton>("PauseBt"));
    QTest::mouseClick(f.C<QLabel>("DevicePL0"), Qt::LeftButton);
    QVERIFY(f.C<QSpinBox>("ComAddr0")->styleSheet().contains("#C0C0C0"));
    QVERIFY(!f.window.SlotTable()[0].display);
  }

  void csvExportOfTheRecordingSoFar() {
    const QString csv = Temp("out.csv");
    app::SetFileChooser([&](app::FileDialogKind, const QString&) { return csv; });
    Fixture f;
    kx::test::Click(*f.C<QToolButton>("CsvBt"));
    QCOMPARE(f.messages, QStringList{"|No recording data to export"});
    kx::test::Click(*f.C<QPushButton>("StartBt"));
    f.Answer(215);
    kx::test::Click(*f.C<QToolButton>("CsvBt"));  // while recording
    QCOMPARE(f.messages.last(), QString("|CSV export done : out.csv"));
    std::ifstream in(csv.toStdString());
    std::string heading, row;
    std::getline(in, heading);
    std::getline(in, row);
    QCOMPARE(QString::fromStdString(heading), QString("Time,Elapsed (s),Device 1 (address 1)\r"));
    QCOMPARE(QString::fromStdString(row), QString("08:09:10,0,21.5\r"));
  }
};

QTEST_MAIN(TestRecorderWindow)
#include "tst_recorder_window.moc"
