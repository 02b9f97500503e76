// The firmware update window on the offscreen platform: its named controls,
// OPEN FILE with good and bad files, and UPDATE against kxsim's loader on the
// simulated bus: status texts and colours, progress, buttons, notices, and
// closing mid-update.
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>

#include <fstream>
#include <memory>

#include "core/fwupdate/loader_protocol.h"
#include "core/line/settings.h"
#include "fwupdate/fwupdate_window.h"
#include "kxsim/firmware_gen.h"
#include "support/fake_port.h"
#include "support/modal_watch.h"
#include "support/sim_bus.h"
#include "support/widget_access.h"
#include "support/window_fixture.h"

using kx::fwupdate::FwUpdateWindow;
using kx::test::Child;
using kx::test::FakePort;
using State = kx::FlashUpdate::State;

class FwUpdateWindowTest : public QObject, protected kx::test::WindowFixture<FwUpdateWindow> {
  Q_OBJECT

 private:
  kx::FlashUpdateMemory memory_;
  QString nextFile_;
  std::vector<int> notices_;

  QString WriteFile(const QString& name, const kx::Bytes& bytes) {
    const QString path = dir_.filePath(name);
    std::ofstream(path.toStdString(), std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return path;
  }
  kx::Bytes Firmware(std::uint8_t model, std::size_t records = 4, std::uint16_t version = 0x0120) {
    kxsim::FirmwareRecipe recipe;
    recipe.modelCode = model;
    recipe.records = records;
    recipe.version = version;
    recipe.dataBytes = 8;
    return kxsim::MakeFirmwareFile(recipe);
  }
  void Open(const QString& path) {
    nextFile_ = path;
    kx::test::Click(*Child<QPushButton>(*window_, "OpenBt"));
  }
  QString Text(const char* name) {
    if (auto* label = window_->findChild<QLabel*>(name)) return label->text();
    return Child<QLineEdit>(*window_, name)->text();
  }
  bool Enabled(const char* name) { return Child<QPushButton>(*window_, name)->isEnabled(); }
  int Progress() { return Child<QProgressBar>(*window_, "ProgressBar")->value(); }
  QString StatusStyle() { return Child<QLabel>(*window_, "ErrMess")->styleSheet(); }
  // Runs the bus until the update has reached `state` (and `record` while writing).
  bool RunTo(State state, std::size_t record = 0) {
    const kx::FlashUpdate& update = window_->update();
    return bus_->RunUntil([&] { return update.state() == state && update.record() == record; }, 4000);
  }
  bool RunToEnd() {
    return bus_->RunUntil([&] { return !window_->update().Busy(); }, 4000);
  }
  // A fresh window for COM2 mapped to `path`.
  void ShowOn(const std::string& path) {
    window_.reset();
    session_->portPath[2] = path;
    window_ = std::make_unique<FwUpdateWindow>(*session_, *port_, memory_, [this] { return nextFile_; });
    ShowWindow();
  }
  QLabel* LineNote() { return Child<QLabel>(*window_, "LineNoteLb"); }

  std::unique_ptr<kx::test::SimBus> bus_;

 private slots:
  void init() {
    Start();
    session_->settingsWord = 2 * 256 + 0x24;  // COM2, 9600 7E1 ASCII
    kx::DecodeSettingsWord(session_->settingsWord, session_->params);
    notices_.clear();
    session_->showUserMessage = [this](int code) { notices_.push_back(code); };
    port_ = std::make_unique<FakePort>();
    bus_ = std::make_unique<kx::test::SimBus>(*port_);
    window_ = std::make_unique<FwUpdateWindow>(*session_, *port_, memory_, [this] { return nextFile_; });
    port_->SetOnTrigger([this](kx::ComPort&, const kx::PortEvent& e) { window_->OnPortEvent(e); });
    ShowWindow();
  }
  void cleanup() {
    window_.reset();
    bus_.reset();
    Stop();
  }

  void controlsAtStart() {
    QCOMPARE(window_->windowTitle(), QString("KX2/KX3 Update Program"));
    QCOMPARE(window_->objectName(), QString("FWUpdate"));
    QCOMPARE(Child<QPushButton>(*window_, "OpenBt")->text(), QString("OPEN FILE"));
    QCOMPARE(Child<QPushButton>(*window_, "UpDateBt")->text(), QString("UPDATE"));
    QCOMPARE(Child<QPushButton>(*window_, "CloseBt")->text(), QString("CLOSE"));
    QCOMPARE(Text("ModelLb"), QString("MODEL NAME"));
    QCOMPARE(Text("CheckLb"), QString("CHECKSUM"));
    QCOMPARE(Text("FWLb"), QString("F/W VERSION"));
    QCOMPARE(Text("AddrLb"), QString("ADDRESS"));
    QVERIFY(!Enabled("UpDateBt"));
    for (const char* field : {"ModelN", "ChecksumN", "FWVER"}) QVERIFY(Child<QLineEdit>(*window_, field)->isReadOnly());
    auto* addr = Child<QSpinBox>(*window_, "Addr1");
    QVERIFY(!addr->isVisible());
    QVERIFY(!Child<QLabel>(*window_, "AddrLb")->isVisible());
    QCOMPARE(addr->minimum(), 1);
    QCOMPARE(addr->maximum(), 247);
    QCOMPARE(addr->value(), 1);
    auto* bar = Child<QProgressBar>(*window_, "ProgressBar");
    QCOMPARE(bar->maximum(), 100);
    QCOMPARE(bar->value(), 0);
  }

  void openFileShowsTheFileAndABadOneDisablesUpdate() {
    const QString good = WriteFile("kx3.oc", Firmware(12));
    Open(good);
    QCOMPARE(Text("FileName"), good);
    QCOMPARE(Text("ModelN"), QString("KX3"));
    QCOMPARE(Text("FWVER"), QString("V1.20"));
    const kx::Bytes bytes = Firmware(12);
    const QString checksum = QString("%1 %2").arg(bytes[2], 2, 16, QChar('0')).arg(bytes[3], 2, 16, QChar('0')).toUpper();
    QCOMPARE(Text("ChecksumN"), checksum);
    QVERIFY(Child<QSpinBox>(*window_, "Addr1")->isVisible());
    QVERIFY(Enabled("UpDateBt"));
    QVERIFY(window_->image().has_value());

    // A damaged KX2 file after it: nothing of the good one is left to flash.
    kx::Bytes damaged = Firmware(11, 4, 0x0305);
    damaged[12] ^= 0x10;
    Open(WriteFile("bad.oc", damaged));
    QCOMPARE(Text("FileName"), QString("File data length or content error !"));
    QCOMPARE(Text("ModelN"), QString("KX2"));
    QCOMPARE(Text("FWVER"), QString("V3.05"));
    QCOMPARE(Text("ChecksumN"), checksum);  // only a good file rewrites it
    QVERIFY(!Child<QSpinBox>(*window_, "Addr1")->isVisible());
    QVERIFY(!Enabled("UpDateBt"));
    QVERIFY(!window_->image().has_value());

    kx::Bytes wrongSum = Firmware(11);
    wrongSum[3] ^= 0x01;
    Open(WriteFile("sum.oc", wrongSum));
    QCOMPARE(Text("FileName"), QString("Program checksum incorrect !"));
    QVERIFY(!Enabled("UpDateBt"));

    kx::Bytes unknown = Firmware(11);
    unknown[4] = 7;
    Open(WriteFile("unknown.oc", unknown));
    QCOMPARE(Text("ModelN"), QString("UnKnow"));
    QCOMPARE(Text("FileName"), QString("File data length or content error !"));

    // Cancel in the dialog changes nothing.
    Open(good);
    Open(QString());
    QVERIFY(Enabled("UpDateBt"));
  }

  void aFileThatCannotBeReadShowsTheFileErrorBox() {
    Open(WriteFile("kx2.oc", Firmware(11)));
    QVERIFY(Enabled("UpDateBt"));
    QString text;
    QString caption;
    kx::test::AcceptNextMessageBox(&text, &caption);
    Open(WriteFile("short.oc", kx::Bytes(6, 0)));
    QCOMPARE(text, QString("Can't perform one of the following file operations: Open, Seek, Read"));
    QCOMPARE(caption, QString("File Error"));
    QVERIFY(!Enabled("UpDateBt"));
  }

  void updateOfAKx2ShowsEachStepAndFinishes() {
    bus_->Add("kx2@1:9600-7E1-ascii,loader");
    Open(WriteFile("kx2.oc", Firmware(11, 20)));
    kx::test::Click(*Child<QPushButton>(*window_, "UpDateBt"));
    QCOMPARE(session_->lineOwner, kx::LineOwner::Firmware);
    QCOMPARE(port_->baud, 38400);
    QCOMPARE(Text("ErrMess"), QString("Reading option byte"));
    QVERIFY(StatusStyle().contains("#00FF00"));
    QVERIFY(!Enabled("UpDateBt"));
    QVERIFY(!Enabled("OpenBt"));
    QVERIFY(RunTo(State::Erasing));
    QCOMPARE(Text("ErrMess"), QString("Erase Sector 1/2"));
    QVERIFY(StatusStyle().contains("#FFFF00"));
    QCOMPARE(Progress(), 4 * 100 / 20 + 6);
    QVERIFY(RunTo(State::Writing));
    QCOMPARE(Text("ErrMess"), QString("Write Data to ROM ..."));
    QCOMPARE(Progress(), 6 * 100 / 20 + 6);
    QVERIFY(RunTo(State::Verifying));
    QCOMPARE(Text("ErrMess"), QString("Verify Memory Checksum"));
    QVERIFY(RunToEnd());
    QCOMPARE(Text("ErrMess"), QString("Program update successed"));
    QVERIFY(StatusStyle().contains("#00FF00"));
    QCOMPARE(Progress(), 100);
    QVERIFY(Enabled("UpDateBt"));
    QVERIFY(Enabled("OpenBt"));
    QVERIFY(!port_->IsOpen());
    QCOMPARE(session_->lineOwner, kx::LineOwner::Free);
    QVERIFY(bus_->Controller(1).loader()->verified());
    QTRY_COMPARE(notices_, std::vector<int>{255});
  }

  void failureShowsItsTextInRedAndTheLoaderWaitShowsItsNotice() {
    // Nobody answers the KX3's writes; a loader on the line reads wrong option bytes.
    bus_->Add("kx2@1:9600-7E1-ascii,loader-fault=options-wrong");
    Open(WriteFile("kx3.oc", Firmware(12, 2)));
    kx::test::Retype(*Child<QSpinBox>(*window_, "Addr1"), 7);
    kx::test::Click(*Child<QPushButton>(*window_, "UpDateBt"));
    QCOMPARE(QString::fromLatin1(reinterpret_cast<const char*>(port_->written.back().data()), 7), QString(":070647"));
    bus_->Tick(kx::kEnableWriteTicks);
    // The notice is shown once the step has returned; then the loader is asked.
    QTRY_COMPARE(notices_, std::vector<int>{0});
    QCOMPARE(port_->written.back(), kx::OptionReadFrame());
    QVERIFY(RunToEnd());
    QCOMPARE(Text("ErrMess"), QString("Option byte incorrect"));
    QVERIFY(StatusStyle().contains("#FF0000"));
    QCOMPARE(Progress(), 0);  // failed before any progress
    QVERIFY(Enabled("UpDateBt"));
    QCOMPARE(session_->lineOwner, kx::LineOwner::Free);
  }

  // A failed update never shows a full bar: it stays where the update stopped.
  void aFailedWriteLeavesTheBarWhereItStopped() {
    bus_->Add("kx2@1:9600-7E1-ascii,loader-fault=write-fail");
    Open(WriteFile("kx2.oc", Firmware(11, 20)));
    kx::test::Click(*Child<QPushButton>(*window_, "UpDateBt"));
    QVERIFY(RunTo(State::Writing));
    QCOMPARE(Progress(), 6 * 100 / 20 + 6);
    QVERIFY(RunToEnd());
    QCOMPARE(Text("ErrMess"), QString("Write data fail"));
    QVERIFY(StatusStyle().contains("#FF0000"));
    QCOMPARE(Progress(), 36);
    QVERIFY(Enabled("UpDateBt"));
    QCOMPARE(session_->lineOwner, kx::LineOwner::Free);
    // The next UPDATE starts the bar from nothing again.
    kx::test::Click(*Child<QPushButton>(*window_, "UpDateBt"));
    QCOMPARE(Progress(), 0);
    QCOMPARE(Text("ErrMess"), QString("Reading option byte"));
  }

  void aPortThatDoesNotOpenKeepsUpdateOff() {
    Open(WriteFile("kx2.oc", Firmware(11)));
    port_->failNextOpen = "gone";
    kx::test::Click(*Child<QPushButton>(*window_, "UpDateBt"));
    QCOMPARE(Text("ErrMess"), QString("COM Port 2 not exist !"));
    QVERIFY(!Enabled("UpDateBt"));
    QVERIFY(Enabled("OpenBt"));
    QCOMPARE(session_->lineOwner, kx::LineOwner::Free);
  }

  void closingMidUpdateStopsItAndFreesTheLine() {
    bus_->Add("kx2@1:9600-7E1-ascii,loader");
    Open(WriteFile("kx2.oc", Firmware(11, 20)));
    kx::test::Click(*Child<QPushButton>(*window_, "UpDateBt"));
    QVERIFY(RunTo(State::Command7));
    QVERIFY(port_->IsOpen());
    kx::test::Click(*Child<QPushButton>(*window_, "CloseBt"));
    QVERIFY(!window_->isVisible());
    QVERIFY(!port_->IsOpen());
    QCOMPARE(session_->lineOwner, kx::LineOwner::Free);
    const std::size_t sent = port_->written.size();
    bus_->Tick(kx::kWriteRecordTicks + 1);
    QCOMPARE(port_->written.size(), sent);
  }

  void scalesWithItsWidth() {
    const int base = Child<QPushButton>(*window_, "OpenBt")->font().pointSize();
    window_->hide();
    window_->resize(900, 520);
    ShowWindow();
    QCOMPARE(Child<QPushButton>(*window_, "OpenBt")->font().pointSize(), base * 900 / 450);
  }

  void aLocalPortShowsNoLineNote() { QVERIFY(!LineNote()->isVisible()); }

  // Through a Modbus TCP gateway the loader's frames cannot pass: the window
  // says so from the start and UPDATE stays off, whatever file is loaded.
  void aGatewayRefusesTheUpdate() {
    for (const std::uint8_t model : {std::uint8_t{11}, std::uint8_t{12}}) {
      ShowOn("modbus-tcp://127.0.0.1");
      QVERIFY(LineNote()->isVisible());
      QCOMPARE(LineNote()->text(),
               QString("COM2 (modbus-tcp://127.0.0.1): no firmware update through a Modbus TCP gateway (the loader's "
                       "frames are not Modbus requests)."));
      QVERIFY(LineNote()->styleSheet().contains("#C00000"));  // red: a refusal
      Open(WriteFile("fw.oc", Firmware(model)));
      QVERIFY(window_->image().has_value());  // the file itself is good
      QVERIFY(!Enabled("UpDateBt"));
      QVERIFY(Enabled("OpenBt"));
      QCOMPARE(port_->openCount, 0);
    }
  }

  // Through a transparent server the update runs; the note says what the
  // server must be set to.
  void aServerNeeds38400_8N1() {
    bus_->Add("kx2@1:9600-7E1-ascii,loader");
    ShowOn("tcp://127.0.0.1:5000?echo");
    QCOMPARE(LineNote()->text(),
             QString("COM2 (tcp://127.0.0.1:5000?echo): the server must run at 38400 bit/s, 8 data bits, no parity, 1 "
                     "stop bit (38400 8N1) for the update."));
    QVERIFY(!LineNote()->styleSheet().contains("#C00000"));
    Open(WriteFile("kx2.oc", Firmware(11, 6)));
    QVERIFY(Enabled("UpDateBt"));
    kx::test::Click(*Child<QPushButton>(*window_, "UpDateBt"));
    QVERIFY(RunToEnd());
    QCOMPARE(Text("ErrMess"), QString("Program update successed"));
    QVERIFY(LineNote()->isVisible());
  }
};

QTEST_MAIN(FwUpdateWindowTest)
#include "tst_fwupdate_window.moc"
