// The parameter panel against simulated controllers on a pseudo-terminal: every
// field and list of the KX1, KX2 and KX3 panels is written as a user would
// (type and Enter, or pick an item) and must come back from the controller's
// own re-read; com-write off refuses entries; factory mode unlocks the
// calibration values; restore and clear act; a KX3 is locked and unlocked
// through its security level and key, and a key is switched off. The trend
// view draws the selected controller's PV. Lists are picked in their open
// popup and radios clicked; a field typed into slowly keeps its text while the
// polls go on, and the wheel over closed lists changes nothing.
//
// With KX_SCREENSHOT_DIR set, pictures of each panel, the factory mode and the
// trend are saved there (window width from KX_SCREENSHOT_WIDTH, 1280 if unset).
#include <QComboBox>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QtTest>

#include <vector>

#include "core/device/regmap.h"
#include "monitor/monitor_window.h"
#include "monitor/parameter_panel.h"
#include "monitor/password_dialog.h"
#include "serial/port_map.h"
#include "support/kxsim_process.h"
#include "support/port_paths.h"
#include "support/user_input.h"
#include "support/widget_access.h"
#include "widgets/radio_group.h"

using kx::monitor::MonitorWindow;

namespace {

constexpr int kWait = 10000;

// One user action on the panel and what the controller must hold afterwards.
struct Step {
  enum Kind { Field, List, Code, Restore, Clear };
  Kind kind;
  const char* control;
  const char* typed;        // Field: the text typed; Code: the password text
  int item;                 // List: the item chosen
  std::uint16_t reg;        // register read back (0: not on a parameter page)
  std::uint16_t word;       // its value after the re-read
  const char* shown;        // Field: the text shown after the re-read (nullptr: not checked)
};

Step F(const char* c, const char* typed, std::uint16_t reg, std::uint16_t word, const char* shown) {
  return {Step::Field, c, typed, -1, reg, word, shown};
}
Step L(const char* c, int item, std::uint16_t reg, std::uint16_t word) {
  return {Step::List, c, nullptr, item, reg, word, nullptr};
}
Step Code(const char* text) { return {Step::Code, "PassEdit", text, -1, 0, 0, nullptr}; }
Step Restore(std::uint16_t reg, std::uint16_t word) { return {Step::Restore, "ClearBt1", nullptr, -1, reg, word, nullptr}; }
Step Clear(std::uint16_t reg, std::uint16_t word) { return {Step::Clear, "ClearBt2", nullptr, -1, reg, word, nullptr}; }

const std::vector<Step> kKx1Steps = {
    F("SV", "35", 0x4701, 350, "35.0"),
    F("RangeHi", "400", 0x4706, 4000, "400.0"),
    F("RangeLo", "-5", 0x4707, 0xFFCE, "- 5.0"),
    F("UpLimit1", "45", 0x4702, 450, "45.0"),
    F("DnLimit1", "12", 0x4703, 120, "12.0"),
    F("UpLimit2", "50", 0x4704, 500, "50.0"),
    F("DnLimit2", "-5", 0x4705, 0xFFCE, "- 5.0"),
    F("Pb", "30", 0x4708, 300, "30.0"),
    F("Ti", "100", 0x4709, 100, "100"),
    F("Td", "20", 0x470A, 20, "20"),
    F("IOffset", "5", 0x470E, 5, "5.0"),
    F("HCPeriodPID1", "15", 0x4712, 15, "15"),
    F("PVTune", "1.0", 0x4714, 10, "1.0"),
    L("ALM1Mode", 3, 0x4715, 3),
    L("ALM2Mode", 2, 0x4716, 2),
    L("InputA", 12, 0x4710, 12),
    L("Unit", 0, 0x4717, 0),
    L("LockStatus", 1, 0x4731, 1),
    L("LockStatus", 0, 0x4731, 0),
    L("HeatCool", 1, 0x4718, 1),
    L("RunStop", 0, 0x4719, 0),
    L("AT", 1, 0, 0),  // read with the status polls, not a page
    L("AT", 0, 0, 0),
    F("Ti", "0", 0x4709, 0, "0"),
    F("PDOffset", "3", 0x4713, 3, "3.0"),
    L("CtrlSet", 1, 0x4711, 1),
    F("Hyst1", "2.5", 0x470B, 25, "2.5"),
    L("CtrlSet", 2, 0x4711, 2),
    F("CurrHi", "90", 0x470C, 90, "90"),
    F("CurrLo", "5", 0x470D, 5, "5"),
    F("HCPeriod1", "12", 0x4712, 12, "12"),
    F("OUTQ1", "40", 0, 0, "40"),
    L("CtrlSet", 0, 0x4711, 0),
    Code("QZW"),
    F("RTDOfs", "0.5", 0x4721, 5, "0.5"),
    F("RTDGain", "3", 0x4722, 3, "3"),
    F("TCOfs", "2", 0x4727, 2, "2"),
    F("TCGain", "4", 0x4726, 4, "4"),
    F("ColdJ", "0.3", 0x4723, 3, "0.3"),
    L("OutputType1", 1, 0x4720, 1),
    Restore(0x4701, 300),
    Code("x"),
};

const std::vector<Step> kKx2Steps = {
    F("SV", "-1.5", 0x4701, 0xFFF1, "- 1.5"),
    F("RangeHi", "500", 0x4704, 5000, "500.0"),
    F("RangeLo", "-10", 0x4705, 0xFF9C, "- 10.0"),
    F("UpLimit1", "45", 0x4706, 450, "45.0"),
    F("DnLimit1", "1", 0x4707, 10, "1.0"),
    F("UpLimit2", "46", 0x4708, 460, "46.0"),
    F("DnLimit2", "2", 0x4709, 20, "2.0"),
    F("UpLimit3", "60", 0x470A, 600, "60.0"),
    F("DnLimit3", "3", 0x470B, 30, "3.0"),
    L("ALM1Mode", 13, 0x4720, 13),
    L("ALM2Mode", 4, 0x4721, 4),
    L("ALM3Mode", 2, 0x4722, 2),
    L("SALMode", 1, 0x471F, 1),
    F("Pb", "30", 0x470C, 300, "30.0"),
    F("Ti", "30", 0x470D, 30, "30"),
    F("Td", "7", 0x470E, 7, "7"),
    F("IOffset", "2.5", 0x470F, 25, "2.5"),
    F("HCPeriodPID1", "9", 0x471B, 9, "9"),
    L("HeatCool", 2, 0x471A, 2),
    F("Coeff", "1.25", 0x4711, 125, "1.25"),
    F("DeadBand1", "1.5", 0x4712, 15, "1.5"),
    F("HCPeriodPID2", "10", 0x471C, 10, "10"),
    F("Ti", "0", 0x470D, 0, "0"),
    F("PDOffset", "-0.5", 0x4710, 0xFFFB, "- 0.5"),
    L("CtrlSet", 1, 0x4719, 1),
    F("Hyst1", "1.5", 0x4713, 15, "1.5"),
    F("Hyst2", "2.5", 0x4714, 25, "2.5"),
    F("DeadBand2", "0.5", 0x4712, 5, "0.5"),
    L("CtrlSet", 2, 0x4719, 2),
    F("OUTQ1", "40", 0x4702, 400, "40.0"),
    F("OUTQ2", "10", 0x4703, 100, "10.0"),
    F("CurrHi", "90", 0x4715, 90, "90"),
    F("CurrLo", "5", 0x4716, 5, "5"),
    F("HCPeriod1", "12", 0x471B, 12, "12"),
    F("HCPeriod2", "11", 0x471C, 11, "11"),
    L("CtrlSet", 0, 0x4719, 0),
    L("LockStatus", 2, 0x471E, 11),
    L("LockStatus", 0, 0x471E, 0),
    L("InputB", 3, 0x4718, 3),
    L("Unit", 2, 0x4724, 2),
    L("Pointer", 2, 0x4725, 2),
    L("Pointer", 1, 0x4725, 1),
    L("Unit", 1, 0x4724, 1),
    L("AT", 1, 0x4727, 1),
    L("AT", 0, 0x4727, 0),
    L("RunStop", 0, 0x4723, 0),
    L("RunStop", 1, 0x4723, 1),
    Code("QZW"),
    F("PVTune", "1.2", 0x471D, 12, "1.2"),
    F("RTDOfs", "0.5", 0x4732, 5, "0.5"),
    F("RTDGain", "3", 0x4733, 3, "3"),
    F("TCOfs", "2", 0x4734, 2, "2"),
    F("TCGain", "4", 0x4735, 4, "4"),
    F("ColdJ", "0.3", 0x4736, 3, "0.3"),
    F("mVOfs", "6", 0x4737, 6, "6"),
    F("mVGain", "7", 0x4738, 7, "7"),
    L("OutputType1", 2, 0x4730, 2),
    L("OutputType2", 1, 0x4731, 1),
    Clear(0x471D, 0),
    Restore(0x4701, 300),
    Code("x"),
};

const std::vector<Step> kKx3Steps = {
    F("SV", "45", 0x4701, 450, "45.0"),
    F("RangeHi", "600", 0x4704, 6000, "600.0"),
    F("Pb", "25", 0x470C, 250, "25.0"),
    F("Ti", "50", 0x470D, 50, "50"),
    F("HCPeriodPID1", "8", 0x471B, 8, "8"),
    F("HCPeriodPID2", "6", 0x471C, 6, "6"),
    F("Coeff", "2", 0x4711, 200, "2.00"),
    L("InputB", 12, 0x4718, 12),
    L("Out1Sel", 2, 0x471A, 2),
    F("UpLimit1", "50", 0x4706, 500, "50.0"),
    L("ALM1Mode", 2, 0x4720, 2),
    L("Out2Sel", 2, 0x471F, 2),
    F("UpLimit2", "55", 0x4708, 550, "55.0"),
    L("ALM2Mode", 3, 0x4721, 3),
    L("Out1Sel", 0, 0x471A, 0),
    L("Out2Sel", 1, 0x471F, 1),
    F("DeadBand1", "1", 0x4712, 10, "1.0"),
    L("AT", 1, 0x4727, 1),
    L("AT", 0, 0x4727, 0),
    Code("QZW"),
    F("PVTune", "0.7", 0x471D, 7, "0.7"),
    F("mVGain", "9", 0x4738, 9, "9"),
    Code("x"),
};

}  // namespace

class TstPanelE2e : public QObject {
  Q_OBJECT
 private slots:
  void init();
  void cleanup();
  void everyFieldOfEachModelReadsAndWrites_data();
  void everyFieldOfEachModelReadsAndWrites();
  void comWriteOffRefusesEntries();
  void kx3SecurityLevelAndKeys();
  void trendDrawsTheSelectedPv();
  void typingAndTheWheelWhilePollsRun();

 private:
  template <class T = QWidget>
  T* w(const QString& name) {
    T* c = window_->findChild<T*>(name);
    if (c == nullptr) qFatal("missing control %s", qPrintable(name));
    return c;
  }
  kx::monitor::ParameterPanel* panel() { return window_->parameterPanel(); }
  void connectAll();
  void select(int device);
  void openPanel(int device);
  void run(const Step& s);
  void shot(const QString& name);

  kx::test::ScratchDir dir_;
  kx::test::KxsimProcess sim_;
  kx::Session session_;
  std::unique_ptr<MonitorWindow> window_;
};

void TstPanelE2e::init() {
  const std::string link = dir_ / "line";
  const std::string format = ":9600-8N1-ascii";
  QVERIFY(sim_.Start(KXSIM_PATH, {"--link", link, "kx1@1" + format, "kx2@2" + format, "kx3@3" + format,
                                  "kx3@4" + format + ",security=0x47"}));
  session_ = kx::Session{};
  kx::serial::ConfigurePorts(session_, kx::test::OnePort(1, link));
  session_.params.port = 1;
  session_.params.baud = 9600;
  session_.params.dataBits = 8;
  session_.params.parityCode = 0;
  session_.params.stopBits = 1;
  window_ = std::make_unique<MonitorWindow>(session_);
  const int width = qEnvironmentVariableIsSet("KX_SCREENSHOT_WIDTH") ? qEnvironmentVariableIntValue("KX_SCREENSHOT_WIDTH") : 1280;
  window_->resize(width, width * 3 / 4 + 60);
  window_->show();
}

void TstPanelE2e::cleanup() {
  window_.reset();
  sim_.Stop();
}

void TstPanelE2e::connectAll() {
  for (int n = 0; n < 4; ++n) {
    w<QSpinBox>(QStringLiteral("ComAddr%1").arg(n))->setValue(n + 1);
    w<QPushButton>(QStringLiteral("RunBt%1").arg(n))->click();
  }
  const kx::MonitorEngine& engine = window_->engine();
  QTRY_VERIFY_WITH_TIMEOUT(engine.Device(3).model == kx::kModelKx3 && w("ParaPL")->isVisible(), kWait);
}

void TstPanelE2e::select(int device) {
  if (window_->engine().SelectedDevice() == device) return;
  const int before = panel()->layoutCount();
  QTest::mouseClick(w(QStringLiteral("Adr%1Lb").arg(device)), Qt::LeftButton);
  QCOMPARE(window_->engine().SelectedDevice(), device);
  // Pages of the previous device still under way are dropped: the next
  // layout is the new device's.
  QTRY_VERIFY_WITH_TIMEOUT(panel()->layoutCount() > before, kWait);
}

// Connects the four controllers and shows `device`'s panel.
void TstPanelE2e::openPanel(int device) {
  connectAll();
  QVERIFY(!QTest::currentTestFailed());
  select(device);
}

void TstPanelE2e::run(const Step& s) {
  const QString name = QString::fromLatin1(s.control);
  const kx::MonitorEngine& engine = window_->engine();
  switch (s.kind) {
    case Step::Field: {
      auto* edit = w<QLineEdit>(name);
      QVERIFY2(edit->isVisible() && edit->isEnabled(), s.control);
      kx::test::Retype(*edit, QString::fromLatin1(s.typed));
      QTest::keyClick(edit, Qt::Key_Return);
      break;
    }
    case Step::List: {
      auto* list = w<QComboBox>(name);
      QVERIFY2(list->isVisible() && list->isEnabled(), s.control);
      kx::test::ChooseInPopup(*list, s.item);
      break;
    }
    case Step::Code: {
      auto* edit = w<QLineEdit>(name);
      edit->setText(QString::fromLatin1(s.typed));
      QTest::keyClick(edit, Qt::Key_Return);
      if (QByteArray(s.typed) == "QZW") {
        QTRY_VERIFY_WITH_TIMEOUT(w("RTDOfs")->isVisible(), kWait);
      } else {
        QTRY_VERIFY_WITH_TIMEOUT(!w("RTDOfs")->isVisible(), kWait);
      }
      return;
    }
    case Step::Restore:
    case Step::Clear: {
      QTimer::singleShot(0, this, [this] {
        auto* box = window_->findChild<QMessageBox*>(QStringLiteral("ClearConfirm"));
        if (box) box->button(QMessageBox::Ok)->click();
      });
      w<QPushButton>(name)->click();
      break;
    }
  }
  // The controller's own value comes back with the re-read that follows the
  // write: the page words hold it.
  QTRY_VERIFY_WITH_TIMEOUT(!engine.WritePending(), kWait);
  if (s.reg != 0) {
    QTRY_VERIFY2_WITH_TIMEOUT(engine.ParameterWord(s.reg) == s.word,
                              qPrintable(QStringLiteral("%1: register %2 holds %3")
                                             .arg(s.control)
                                             .arg(s.reg, 4, 16)
                                             .arg(engine.ParameterWord(s.reg))),
                              kWait);
  }
  // One more complete read, so the panel shows a layout made after it.
  const int layouts = panel()->layoutCount();
  window_->engine().Handle(kx::monitor_event::Refresh{});
  QTRY_VERIFY_WITH_TIMEOUT(!engine.refreshRequested() && kx::IsStatusPoll(engine.poll().type) &&
                               panel()->layoutCount() > layouts,
                           kWait);
  if (s.kind == Step::Field && s.shown != nullptr) {
    QTRY_COMPARE_WITH_TIMEOUT(w<QLineEdit>(name)->text(), QString::fromLatin1(s.shown), kWait);
  }
  if (s.kind == Step::List && s.control != QByteArray("Pointer")) {
    QTRY_COMPARE_WITH_TIMEOUT(w<QComboBox>(name)->currentIndex(), s.item, kWait);
  }
}

void TstPanelE2e::shot(const QString& name) {
  const QString dir = qEnvironmentVariable("KX_SCREENSHOT_DIR");
  if (dir.isEmpty()) return;
  QApplication::processEvents();
  window_->grab().save(QStringLiteral("%1/%2-%3.png").arg(dir, name).arg(window_->width()));
}

void TstPanelE2e::everyFieldOfEachModelReadsAndWrites_data() {
  QTest::addColumn<int>("device");
  QTest::newRow("KX1") << 0;
  QTest::newRow("KX2") << 1;
  QTest::newRow("KX3") << 2;
}

void TstPanelE2e::everyFieldOfEachModelReadsAndWrites() {
  QFETCH(int, device);
  openPanel(device);
  QVERIFY(!QTest::currentTestFailed());
  const std::vector<Step>* steps[] = {&kKx1Steps, &kKx2Steps, &kKx3Steps};
  const char* names[] = {"kx1", "kx2", "kx3"};
  shot(QStringLiteral("panel-%1").arg(names[device]));
  for (const Step& s : *steps[device]) {
    run(s);
    if (QTest::currentTestFailed()) {
      qWarning("failed at %s", s.control);
      return;
    }
    if (s.kind == Step::Code && QByteArray(s.typed) == "QZW") shot(QStringLiteral("factory-%1").arg(names[device]));
  }
}

void TstPanelE2e::comWriteOffRefusesEntries() {
  openPanel(1);
  QVERIFY(!QTest::currentTestFailed());
  run(L("ComWrite", 0, 0, 0));
  QTRY_VERIFY_WITH_TIMEOUT(window_->engine().Device(1).rec.comWrite == 0 && !w("PIDBox")->isEnabled(), kWait);
  QVERIFY(!w("PIDBox")->isEnabled());
  QVERIFY(!w("SV")->isEnabled());
  // A field typed anyway is refused and nothing is written.
  auto* sv = w<QLineEdit>("SV");
  sv->setEnabled(true);
  kx::test::Retype(*sv, QStringLiteral("77"));
  QTest::keyClick(sv, Qt::Key_Return);
  QCOMPARE(w<QLabel>("ErrMessage")->text(), QStringLiteral("illegal function on wrong modle"));
  QVERIFY(!window_->engine().WritePending());
  // The factory code has no effect either.
  w<QLineEdit>("PassEdit")->setText(QStringLiteral("QZW"));
  QTest::keyClick(w("PassEdit"), Qt::Key_Return);
  QVERIFY(!window_->engine().factoryModeOn());
  w<QLineEdit>("PassEdit")->clear();
  // Switching it on again is always allowed.
  run(L("ComWrite", 1, 0, 0));
  QTRY_VERIFY_WITH_TIMEOUT(window_->engine().Device(1).rec.comWrite == 1 && w("SV")->isEnabled(), kWait);
  run(F("SV", "32", 0x4701, 320, "32.0"));
}

void TstPanelE2e::kx3SecurityLevelAndKeys() {
  openPanel(3);
  QVERIFY(!QTest::currentTestFailed());
  auto* level = w<kx::app::RadioGroup>("SLevel");
  QVERIFY(w("SecurityPL")->isVisible());
  QVERIFY(level->isEnabled());
  QCOMPARE(level->ItemIndex(), 0);
  QCOMPARE(w<QComboBox>("Pass2")->currentText(), QStringLiteral("Enable"));
  const kx::MonitorEngine& engine = window_->engine();

  // "All Lock": any value that is not the key locks the controller.
  kx::test::ClickIndicator(*level->Button(3));
  QTRY_VERIFY_WITH_TIMEOUT(engine.Device(3).rec.security.mode == 1, kWait);
  QTRY_COMPARE_WITH_TIMEOUT(w<QLineEdit>("Pb")->text(), QStringLiteral("N/A"), kWait);
  QTRY_COMPARE_WITH_TIMEOUT(level->ItemIndex(), 3, kWait);
  QVERIFY(!w("SV")->isEnabled());
  QCOMPARE(w<QComboBox>("LockStatus")->currentIndex(), 1);
  shot(QStringLiteral("kx3-locked"));

  // "Unlock All" asks for the level-1 key.
  auto* dialog = panel()->passwordDialog();
  kx::test::ClickIndicator(*level->Button(0));
  QTRY_VERIFY_WITH_TIMEOUT(dialog->isVisible(), kWait);
  QTest::keyClicks(dialog->field(), QStringLiteral("1111"));
  dialog->findChild<QPushButton*>(QStringLiteral("PassBt"))->click();
  QTRY_VERIFY_WITH_TIMEOUT(engine.Device(3).rec.security.mode == 8, kWait);
  QTRY_VERIFY_WITH_TIMEOUT(w("PIDBox")->isEnabled() && w<QLineEdit>("Pb")->text() != "N/A", kWait);
  dialog->field()->clear();

  // Switching key 2 off: the dialog takes the key, the controller clears it.
  kx::test::ChooseInPopup(*w<QComboBox>("Pass2"), 0);
  QVERIFY(engine.levelWriteOn());
  QVERIFY(dialog->isVisible());
  QTest::keyClicks(dialog->field(), QStringLiteral("2222"));
  QTest::keyClick(dialog->field(), Qt::Key_Return);
  QTRY_VERIFY_WITH_TIMEOUT((engine.Device(3).rec.security.keyBits & 2) == 0, kWait);
  QTRY_COMPARE_WITH_TIMEOUT(w<QComboBox>("Pass2")->currentText(), QStringLiteral("Disable"), kWait);
  QCOMPARE(w<QComboBox>("Pass1")->currentText(), QStringLiteral("Enable"));
  shot(QStringLiteral("kx3-security"));
}

void TstPanelE2e::trendDrawsTheSelectedPv() {
  openPanel(1);
  QVERIFY(!QTest::currentTestFailed());
  run(F("SV", "80", 0x4701, 800, "80.0"));
  window_->findChild<QAction*>(QStringLiteral("RECORD1"))->trigger();
  QVERIFY(window_->trendShown());
  QVERIFY(w("DrawIme")->isVisible());
  QVERIFY(!w("ParaPL")->isVisible());
  QVERIFY(window_->findChild<QAction*>(QStringLiteral("RECORD1"))->isChecked());
  // Samples once a second; drive the timer faster than real time (for the
  // pictures slow enough that the simulated PV moves along the way).
  const bool pictures = qEnvironmentVariableIsSet("KX_SCREENSHOT_DIR");
  for (int i = 0; i < (pictures ? 240 : 150); ++i) {
    if (pictures) QTest::qWait(40);
    window_->SampleTrend();
  }
  QVERIFY(window_->trend().RingOf(1).HasSample());
  QCOMPARE(window_->trend().shownDevice(), 1);
  // Some pixels of the curve are white.
  const QImage picture = window_->trendView()->picture();
  int white = 0;
  for (int y = 1; y < picture.height() - 1; ++y)
    for (int x = window_->trend().geometry().left + 2; x < picture.width() - 2; ++x)
      if (picture.pixel(x, y) == qRgb(255, 255, 255)) ++white;
  QVERIFY(white > 100);
  shot(QStringLiteral("trend"));
  window_->findChild<QAction*>(QStringLiteral("SETTING1"))->trigger();
  QVERIFY(w("ParaPL")->isVisible());
  QVERIFY(!w("DrawIme")->isVisible());
}

void TstPanelE2e::typingAndTheWheelWhilePollsRun() {
  openPanel(3);  // the KX3 with keys: its security display refreshes all the time
  QVERIFY(!QTest::currentTestFailed());
  const kx::MonitorEngine& engine = window_->engine();
  window_->activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(window_.get()));
  // Typed at a slow pace: the text stays through the refreshes, Enter writes it.
  auto* sv = w<QLineEdit>(QStringLiteral("SV"));
  sv->setFocus();
  QTest::keyClick(sv, Qt::Key_A, Qt::ControlModifier);
  for (const char* key : {"6", "2", ".", "5"}) {
    QTest::keyClicks(sv, QString::fromLatin1(key));
    QTest::qWait(300);
  }
  QCOMPARE(sv->text(), QStringLiteral("62.5"));
  QTest::keyClick(sv, Qt::Key_Return);
  QTRY_VERIFY_WITH_TIMEOUT(!engine.WritePending() && engine.ParameterWord(0x4701) == 625, kWait);
  QTRY_COMPARE_WITH_TIMEOUT(sv->text(), QStringLiteral("62.5"), kWait);
  // Escape: the controller's value comes back and nothing is written.
  auto* pb = w<QLineEdit>(QStringLiteral("Pb"));
  const QString pbShown = pb->text();
  pb->setFocus();
  QTest::keyClick(pb, Qt::Key_A, Qt::ControlModifier);
  QTest::keyClicks(pb, QStringLiteral("88"));
  QTest::qWait(600);
  QCOMPARE(pb->text(), QStringLiteral("88"));
  QTest::keyClick(pb, Qt::Key_Escape);
  QCOMPARE(pb->text(), pbShown);
  // The wheel over closed lists: nothing changes, nothing is written.
  const std::uint16_t runStop = engine.ParameterWord(0x4723);
  const std::uint16_t ctrlSet = engine.ParameterWord(0x4719);
  for (const char* name : {"RunStop", "CtrlSet", "ALM1Mode", "Unit"}) {
    auto* list = w<QComboBox>(QString::fromLatin1(name));
    const int before = list->currentIndex();
    kx::test::TurnWheel(*list, -1);
    kx::test::TurnWheel(*list, 1);
    kx::test::TurnWheel(*list, -2);
    QVERIFY2(list->currentIndex() == before, name);
  }
  QTest::qWait(1000);
  QVERIFY(!engine.WritePending());
  QCOMPARE(engine.ParameterWord(0x4723), runStop);
  QCOMPARE(engine.ParameterWord(0x4719), ctrlSet);
}

QTEST_MAIN(TstPanelE2e)
#include "tst_panel_e2e.moc"
