// The parameter panel and the password dialog on the offscreen platform, over
// kxsim's controllers on the simulated bus: controls by name with their captions and items, the panel filled
// from a KX2's pages, the writes an entry and a list queue (with the unlock for
// a factory-protected field), the KX3 "N/A" state, the password field commands,
// and the dialog's typing and closing rules. Lists are picked in their open
// popup, radios clicked, the wheel turned and fields typed into while the
// polls go on, as a user does; what counts is what kxsim's controller holds.
#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QtTest>

#include <functional>
#include <memory>
#include <random>

#include "core/modbus/codec.h"
#include "monitor/monitor_window.h"
#include "monitor/parameter_panel.h"
#include "monitor/password_dialog.h"
#include "core/monitor/parameter_panel_rules.h"
#include "support/monitor_fixture.h"
#include "support/user_input.h"
#include "widgets/radio_group.h"

using kx::monitor::MonitorWindow;
using kx::monitor::PasswordDialog;
using kx::test::ChooseInPopup;
using kx::test::ClickInPopup;
using kx::test::MonitorFixture;

namespace {

// Puts the controller the monitor connects to at address 1.
using Setup = std::function<void(MonitorFixture&)>;

Setup Kx2() {
  return [](MonitorFixture& f) {
    MonitorFixture::Set(f.Add("kx2@1"), {{0x4700, 250}, {0x4701, 0xFFF1}, {0x4704, 4000}, {0x470C, 47}, {0x470D, 0},
                          {0x4711, 125}, {0x4712, 15},     {0x4717, 0x01}, {0x471A, 2},  {0x471E, 11},
                          {0x4720, 3},   {0x4723, 1},      {0x4724, 1},    {0x4725, 1},  {0x4726, 1},
                          {0x4729, 1},   {0x472A, 0x0105}});
  };
}

// A KX1 with communication writing on.
Setup Kx1() {
  return [](MonitorFixture& f) {
    MonitorFixture::Set(f.Add("kx1@1"), {{0x4700, 250}, {0x4701, 300}, {0x4708, 47}, {0x4709, 20}, {0x471A, 1}});
  };
}

// A KX2 whose communication writing is off.
Setup Kx2ComWriteOff() {
  return [](MonitorFixture& f) { MonitorFixture::Set(f.Add("kx2@1"), {{0x4700, 250}, {0x4701, 300}, {0x4726, 0}}); };
}

Setup Kx3(std::uint16_t security) {
  return [security](MonitorFixture& f) {
    MonitorFixture::Set(f.Add("kx3@1"), {{0x4700, 250}, {0x4701, 300}, {0x4751, security}, {0x472A, 0x0110}});
  };
}

// A decoded request the engine wrote: function, register, value.
struct Request {
  std::uint8_t function;
  std::uint16_t reg;
  std::uint16_t value;
};

// The monitor connected to one controller at address 1.
class Fixture : public MonitorFixture {
 public:
  explicit Fixture(const Setup& setup) {
    setup(*this);
    w<QPushButton>("RunBt0")->click();
    Run(60);
  }
  // Requests written since `from` (ASCII frames).
  std::vector<Request> Writes(std::size_t from) const {
    std::vector<Request> out;
    for (std::size_t i = from; i < fake->written.size(); ++i) {
      const kx::Bytes& f = fake->written[i];
      if (f.size() < 17 || f[0] != ':') continue;
      auto byte = [&](std::size_t k) {
        return static_cast<std::uint8_t>(kx::HexPairValue(static_cast<char>(f[1 + 2 * k]), static_cast<char>(f[2 + 2 * k])));
      };
      if (byte(1) != 0x06) continue;
      out.push_back({byte(1), static_cast<std::uint16_t>(byte(2) << 8 | byte(3)),
                     static_cast<std::uint16_t>(byte(4) << 8 | byte(5))});
    }
    return out;
  }
  void enter(const char* field, const char* text) {
    auto* edit = w<QLineEdit>(field);
    kx::test::Retype(*edit, QString::fromLatin1(text));
    QTest::keyClick(edit, Qt::Key_Return);
  }
  // Types into a field without Enter, replacing what it shows.
  void typeOver(const char* field, const char* text) {
    auto* edit = w<QLineEdit>(field);
    QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(edit, QString::fromLatin1(text));
  }
  // Lets the exchanges go on until no write is waiting and the pages read
  // after the last one are shown.
  void settle() {
    const kx::MonitorEngine& engine = window->engine();
    bus->RunUntil([&] { return !engine.WritePending(); }, 2000);
    Run(30);
  }
  // The controller's own register.
  std::uint16_t reg(std::uint16_t r) { return Controller(1).Register(r).value_or(0); }
  // The KX3's security mode as the controller holds it.
  std::uint8_t securityMode() { return kx::DecodeKx3Security(reg(0x4751)).mode; }
  kx::app::RadioGroup* level() { return w<kx::app::RadioGroup>("SLevel"); }
  // Whether the panel's enabled controls are what the selected device's record allows.
  bool accessAgrees() {
    const kx::MonitorEngine& engine = window->engine();
    const kx::MonitorDevice& dev = engine.Device(engine.SelectedDevice());
    const kx::panel::Access access = kx::panel::AccessFor(dev.model, dev.rec);
    return w("PIDBox")->isEnabled() == access.editable && w("AlmBox")->isEnabled() == access.editable &&
           w("SV")->isEnabled() == access.sv;
  }
};

}  // namespace

class TstParameterPanel : public QObject {
  Q_OBJECT
 private slots:
  void controlsCaptionsAndItems();
  void kx2PagesFillThePanel();
  void entriesAndListsQueueWrites();
  void kx3BelowModeFourShowsNotAvailable();
  void passwordFieldCommands();
  void passwordDialogRules();
  void keyListsAnswerOnlyTheUser();
  void keyListsAndLevelUnderRealInput();
  void typedTextSurvivesPollsUntilEnterOrLeft_data();
  void typedTextSurvivesPollsUntilEnterOrLeft();
  void wheelAndKeysOverAClosedListWriteNothing();
  void enabledControlsAreWrittenAtOnce();
  void choicesEntriesAndPointChangesAllReachTheController_data();
  void choicesEntriesAndPointChangesAllReachTheController();
  void viewSwitchesBetweenPanelAndTrend();
  void restoreAndClearQuestionsDefaultToCancel();
};

void TstParameterPanel::controlsCaptionsAndItems() {
  Fixture f(Kx2());
  for (const char* name : {"CtrlBox", "TempBox", "PIDBox", "OnOffBox", "ManuBox", "AlmBox", "AdjustBox", "SecurityPL",
                           "FWVersion", "PassLb", "PassEdit", "SLevel", "Pass1",
                           "Pass2", "Pass3", "ClearBt1", "ClearBt2", "ComWLb", "ALM1MLb", "UP1LLb", "DN1LLb",
                           "SAlmLb", "PointerLb", "CPeriod1Lb", "PERIOD1Lb", "OUTQ1Lb", "Hyst1Lb", "DeadLb1",
                           "CoeffLb", "OutType1LB", "OutType2LB", "RTDOfsLb", "mVGainLb", "Timer1"}) {
    QVERIFY2(f.window->findChild<QObject*>(QString::fromLatin1(name)), name);
  }
  QCOMPARE(f.w<QGroupBox>("CtrlBox")->title(), QStringLiteral("Control"));
  QCOMPARE(f.w<QGroupBox>("AdjustBox")->title(), QStringLiteral("PV tuning"));
  QCOMPARE(f.w<QLabel>("Hyst2Lb")->text(), QStringLiteral("Hysterisis 2"));
  QCOMPARE(f.w<QLabel>("CurrHiLb")->text(), QStringLiteral("Tune Out High "));
  QCOMPARE(f.w<QPushButton>("ClearBt2")->text(), QStringLiteral("Clear PV Adjust Value "));
  auto* alarm = f.w<QComboBox>("ALM3Mode");
  QCOMPARE(alarm->count(), 14);
  QCOMPARE(alarm->itemText(11), QStringLiteral("Hysterics Up Limit"));
  QCOMPARE(f.w<QComboBox>("InputB")->itemText(17), QStringLiteral("0~50mV"));
  QCOMPARE(f.w<QComboBox>("OutputType1")->itemText(2), QStringLiteral("4~20mA"));
  QCOMPARE(f.w<QLineEdit>("Ti")->maxLength(), 5);
  QVERIFY(f.w("RTDOfs")->isHidden());
}

void TstParameterPanel::kx2PagesFillThePanel() {
  Fixture f(Kx2());
  QVERIFY(f.w("ParaPL")->isVisible());
  QCOMPARE(f.w<QLineEdit>("SV")->text(), QStringLiteral("- 1.5"));
  QCOMPARE(f.w<QLineEdit>("Coeff")->text(), QStringLiteral("1.25"));
  QCOMPARE(f.w<QLineEdit>("DeadBand2")->text(), QStringLiteral("1.5"));
  QCOMPARE(f.w<QComboBox>("LockStatus")->currentText(), QStringLiteral("Not SV"));
  QCOMPARE(f.w<QComboBox>("HeatCool")->currentText(), QStringLiteral("Heat/Cool"));
  QCOMPARE(f.w<QComboBox>("ALM1Mode")->currentText(), QStringLiteral("Down Limit"));
  QCOMPARE(f.w<QLabel>("FWVersion")->text(), QStringLiteral("F/W Version 1.05"));
  // Heat/cool: output 2 controls and the coefficient; alarm 3 hidden; Ti = 0: PD offset.
  QVERIFY(f.w("Coeff")->isVisible());
  QVERIFY(f.w("HCPeriodPID2")->isVisible());
  QVERIFY(!f.w("UpLimit3")->isVisible());
  QVERIFY(f.w("PDOffset")->isVisible());
  QVERIFY(!f.w("IOffset")->isVisible());
  QVERIFY(f.w("PIDBox")->isVisible());
  QVERIFY(!f.w("OnOffBox")->isVisible());
  QVERIFY(!f.w("SecurityPL")->isVisible());
  QVERIFY(f.w("PIDBox")->isEnabled());
}

void TstParameterPanel::entriesAndListsQueueWrites() {
  Fixture f(Kx2());
  std::size_t mark = f.fake->written.size();
  f.enter("SV", "-1.5");
  f.Run(3);
  auto writes = f.Writes(mark);
  QVERIFY(!writes.empty());
  QCOMPARE(writes[0].reg, std::uint16_t{0x4701});
  QCOMPARE(writes[0].value, std::uint16_t{0xFFF1});

  // Factory-protected: the unlock write first.
  mark = f.fake->written.size();
  f.enter("PVTune", "1.2");
  f.Run(4);
  writes = f.Writes(mark);
  QVERIFY(writes.size() >= 2);
  QCOMPARE(writes[0].reg, std::uint16_t{0x472A});
  QCOMPARE(writes[0].value, std::uint16_t{0x4F1D});
  QCOMPARE(writes[1].reg, std::uint16_t{0x471D});
  QCOMPARE(writes[1].value, std::uint16_t{12});

  // "Not SV" writes 11.
  mark = f.fake->written.size();
  ChooseInPopup(*f.w<QComboBox>("LockStatus"), 2);
  f.Run(3);
  writes = f.Writes(mark);
  QVERIFY(!writes.empty());
  QCOMPARE(writes[0].reg, std::uint16_t{0x471E});
  QCOMPARE(writes[0].value, std::uint16_t{11});

  // Not a number: nothing written.
  mark = f.fake->written.size();
  f.enter("Pb", "abc");
  f.Run(40);
  QVERIFY(f.Writes(mark).empty());
  // Read again from the controller.
  QCOMPARE(f.w<QLineEdit>("Pb")->text(), QStringLiteral("4.7"));
}

void TstParameterPanel::kx3BelowModeFourShowsNotAvailable() {
  Fixture f(Kx3(0x17));  // keys 1..3, security mode 2 (PV and SV)
  f.Run(40);
  QVERIFY(f.w("ParaPL")->isVisible());
  QCOMPARE(f.w<QLineEdit>("Pb")->text(), QStringLiteral("N/A"));
  QCOMPARE(f.w<QLineEdit>("RangeHi")->text(), QString());
  QCOMPARE(f.w<QComboBox>("ALM1Mode")->placeholderText(), QStringLiteral("N/A"));
  QCOMPARE(f.w<QComboBox>("CtrlSet")->currentIndex(), -1);
  QCOMPARE(f.w<QComboBox>("LockStatus")->currentText(), QStringLiteral("Not SV"));
  QVERIFY(f.w("SV")->isEnabled());
  QVERIFY(!f.w("AT")->isEnabled());
  QVERIFY(!f.w("PIDBox")->isEnabled());
  QVERIFY(f.w("SecurityPL")->isVisible());
  QVERIFY(f.w("SLevel")->isEnabled());
  QVERIFY(f.w("Out1Sel")->isVisible());
  QVERIFY(!f.w("HeatCool")->isVisible());
  QCOMPARE(f.w<QLabel>("HCLb")->text(), QStringLiteral("Out1"));
}

void TstParameterPanel::passwordFieldCommands() {
  Fixture f(Kx2());
  auto* pass = f.w<QLineEdit>("PassEdit");
  auto type = [&](const char* text) {
    pass->setText(QString::fromLatin1(text));
    QTest::keyClick(pass, Qt::Key_Return);
  };
  type("probe on");
  QVERIFY(f.window->diagnosticsVisible());
  type("probe off");
  QVERIFY(!f.window->diagnosticsVisible());
  type("QZW");
  QVERIFY(f.window->engine().factoryModeOn());
  f.Run(60);
  QVERIFY(f.w("RTDOfs")->isVisible());
  QVERIFY(f.w("mVGain")->isVisible());
  QVERIFY(f.w("OutputType2")->isVisible());
  type("nothing");
  QVERIFY(!f.window->engine().factoryModeOn());
  QVERIFY(!f.w("RTDOfs")->isVisible());
  QVERIFY(!f.w("SecurityPL")->isVisible());  // the security group is a KX3's
}

void TstParameterPanel::passwordDialogRules() {
  PasswordDialog dialog;
  QSignalSpy keys(&dialog, &PasswordDialog::KeyEntered);
  QSignalSpy dismissed(&dialog, &PasswordDialog::Dismissed);
  auto* field = dialog.findChild<QLineEdit*>(QStringLiteral("PassEdit1"));
  auto* ok = dialog.findChild<QPushButton*>(QStringLiteral("PassBt"));
  QCOMPARE(dialog.windowTitle(), QStringLiteral("Password Dialog"));
  QCOMPARE(dialog.findChild<QLabel*>(QStringLiteral("Label1"))->text(), QStringLiteral("Enter 4 digits of password "));
  QCOMPARE(field->echoMode(), QLineEdit::Password);
  dialog.Ask();
  QVERIFY(!ok->isEnabled());
  QTest::keyClicks(field, QStringLiteral("1a2"));
  QCOMPARE(field->text(), QStringLiteral("1A2"));
  QVERIFY(!ok->isEnabled());
  QTest::keyClicks(field, QStringLiteral("g"));
  QCOMPARE(field->text(), QString());  // a letter after F empties the field
  // Three digits: Enter closes without a key.
  QTest::keyClicks(field, QStringLiteral("123"));
  QTest::keyClick(field, Qt::Key_Return);
  QVERIFY(!dialog.isVisible());
  QCOMPARE(keys.count(), 0);
  QCOMPARE(dismissed.count(), 1);
  // Four digits in lower case: the upper-case key, first pair high.
  dialog.Ask();
  field->clear();
  QTest::keyClicks(field, QStringLiteral("beef"));
  QVERIFY(ok->isEnabled());
  ok->click();
  QCOMPARE(keys.count(), 1);
  QCOMPARE(keys.at(0).at(0).value<std::uint16_t>(), std::uint16_t{0xBEEF});
  // Cancel clears the field and writes nothing.
  dialog.Ask();
  dialog.findChild<QPushButton*>(QStringLiteral("CancelBt"))->click();
  QCOMPARE(field->text(), QString());
  QCOMPARE(keys.count(), 1);
  QCOMPARE(dismissed.count(), 2);
}

void TstParameterPanel::keyListsAnswerOnlyTheUser() {
  Fixture f(Kx3(0x47));  // keys 1..3, unlocked
  f.Run(40);
  auto* dialog = f.window->parameterPanel()->passwordDialog();
  auto* pass1 = f.w<QComboBox>("Pass1");
  QCOMPARE(pass1->currentText(), QStringLiteral("Enable"));
  // The list changed and disabled by the program is no user's choice.
  pass1->setCurrentIndex(0);
  f.w("SecurityPL")->setEnabled(false);
  QApplication::processEvents();
  QVERIFY(!dialog->isVisible());
  QVERIFY(!f.window->engine().levelWriteOn());
  f.w("SecurityPL")->setEnabled(true);
  f.Run(40);
  QCOMPARE(pass1->currentText(), QStringLiteral("Enable"));
  // Opened and closed with Escape: nothing asked, the display refreshes again.
  kx::test::OpenAndEscape(*pass1);
  QVERIFY(!dialog->isVisible());
  QVERIFY(!f.window->engine().levelWriteOn());
  // The window goes with a list still dropped down.
  f.w<QComboBox>("Pass2")->showPopup();
}

void TstParameterPanel::keyListsAndLevelUnderRealInput() {
  Fixture f(Kx3(0x47));  // keys 1..3, unlocked
  f.Run(40);
  auto* dialog = f.window->parameterPanel()->passwordDialog();
  const kx::MonitorEngine& engine = f.window->engine();

  // Key 2 off with the keys (Down, Return in the open list): the item stays,
  // the key is asked, written, and the controller clears the key.
  auto* pass2 = f.w<QComboBox>("Pass2");
  ChooseInPopup(*pass2, 0);
  QCOMPARE(pass2->currentText(), QStringLiteral("Disable"));
  QVERIFY(dialog->isVisible());
  f.Run(30);
  QCOMPARE(pass2->currentText(), QStringLiteral("Disable"));
  QTest::keyClicks(dialog->field(), QStringLiteral("2222"));
  QTest::keyClick(dialog->field(), Qt::Key_Return);
  QVERIFY(!dialog->isVisible());
  f.settle();
  QCOMPARE(f.reg(0x4751) & 2, 0);
  QCOMPARE(pass2->currentText(), QStringLiteral("Disable"));
  QCOMPARE(f.w<QComboBox>("Pass1")->currentText(), QStringLiteral("Enable"));

  // Key 3 with the mouse, then Cancel: nothing written, the list shows the
  // controller's item again.
  auto* pass3 = f.w<QComboBox>("Pass3");
  ClickInPopup(*pass3, 0);
  QVERIFY(dialog->isVisible());
  QCOMPARE(pass3->currentText(), QStringLiteral("Disable"));
  dialog->findChild<QPushButton*>(QStringLiteral("CancelBt"))->click();
  QVERIFY(!engine.levelWriteOn());
  f.Run(40);
  QCOMPARE(pass3->currentText(), QStringLiteral("Enable"));
  QCOMPARE(f.reg(0x4751) & 4, 4);

  // "All Lock" clicked: the radio keeps the choice while the polls go on,
  // and the controller locks.
  auto* level = f.level();
  kx::test::ClickIndicator(*level->Button(3));
  QCOMPARE(level->ItemIndex(), 3);
  f.settle();
  QCOMPARE(f.securityMode(), std::uint8_t{1});
  QCOMPARE(level->ItemIndex(), 3);
  QCOMPARE(f.w<QLineEdit>("Pb")->text(), QStringLiteral("N/A"));

  // "Unlock All" clicked: the level-1 key is asked and unlocks it.
  kx::test::ClickIndicator(*level->Button(0));
  QVERIFY(f.bus->RunUntil([&] { return dialog->isVisible(); }, 400));
  QCOMPARE(level->ItemIndex(), 0);
  QTest::keyClicks(dialog->field(), QStringLiteral("1111"));
  QTest::keyClick(dialog->field(), Qt::Key_Return);
  f.settle();
  QCOMPARE(f.securityMode(), std::uint8_t{8});
  QCOMPARE(level->ItemIndex(), 0);
  QVERIFY(f.w("PIDBox")->isEnabled());
}

void TstParameterPanel::typedTextSurvivesPollsUntilEnterOrLeft_data() {
  QTest::addColumn<int>("model");
  QTest::newRow("KX1") << 1;
  QTest::newRow("KX2") << 2;
  QTest::newRow("KX3") << 3;
}

void TstParameterPanel::typedTextSurvivesPollsUntilEnterOrLeft() {
  QFETCH(int, model);
  Fixture f(model == 1 ? Kx1() : model == 2 ? Kx2() : Kx3(0x47));
  f.window->activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(f.window.get()));
  const kx::MonitorEngine& engine = f.window->engine();
  const std::uint16_t pbReg = model == 1 ? 0x4708 : 0x470C;
  const std::uint16_t tiReg = model == 1 ? 0x4709 : 0x470D;
  // The panel is read again while the user types (a KX3 refreshes its
  // security display all the time; the others after any write or when the
  // controller asks).
  auto readAgain = [&] {
    f.window->engine().Handle(kx::monitor_event::Refresh{});
    f.Run(40);
  };

  // Typed slowly, with reads in between, then Enter: the typed value is written.
  auto* sv = f.w<QLineEdit>("SV");
  sv->setFocus();
  f.typeOver("SV", "12");
  readAgain();
  QCOMPARE(sv->text(), QStringLiteral("12"));
  QTest::keyClicks(sv, QStringLiteral("3"));
  readAgain();
  QCOMPARE(sv->text(), QStringLiteral("123"));
  QTest::keyClick(sv, Qt::Key_Return);
  f.settle();
  QCOMPARE(f.reg(0x4701), std::uint16_t{1230});
  QCOMPARE(sv->text(), QStringLiteral("123.0"));

  // Escape puts the controller's value back; nothing is written.
  auto* pb = f.w<QLineEdit>("Pb");
  const QString pbShown = pb->text();
  const std::uint16_t pbBefore = f.reg(pbReg);
  pb->setFocus();
  f.typeOver("Pb", "99");
  readAgain();
  QCOMPARE(pb->text(), QStringLiteral("99"));
  QTest::keyClick(pb, Qt::Key_Escape);
  QCOMPARE(pb->text(), pbShown);

  // Leaving the field without Enter does the same.
  auto* ti = f.w<QLineEdit>("Ti");
  const QString tiShown = ti->text();
  const std::uint16_t tiBefore = f.reg(tiReg);
  ti->setFocus();
  f.typeOver("Ti", "77");
  QTest::keyClick(ti, Qt::Key_Tab);
  QVERIFY(!ti->hasFocus());
  QCOMPARE(ti->text(), tiShown);
  readAgain();
  QCOMPARE(ti->text(), tiShown);
  QCOMPARE(f.reg(pbReg), pbBefore);
  QCOMPARE(f.reg(tiReg), tiBefore);
  QVERIFY(!engine.WritePending());
}

void TstParameterPanel::wheelAndKeysOverAClosedListWriteNothing() {
  Fixture f(Kx2());
  // Small enough that the page scrolls.
  f.window->resize(900, 420);
  f.Run(10);
  auto* scroll = f.window->findChild<QScrollArea*>();
  const std::size_t mark = f.fake->written.size();
  for (const char* name : {"RunStop", "CtrlSet", "Unit", "ALM1Mode", "ComWrite", "AT", "HeatCool", "Pointer"}) {
    auto* list = f.w<QComboBox>(name);
    const int before = list->currentIndex();
    QScrollBar* bar = scroll != nullptr ? scroll->verticalScrollBar() : nullptr;
    const bool scrolls = bar != nullptr && bar->maximum() > 0;
    if (scrolls) bar->setValue(bar->maximum() / 2);
    kx::test::TurnWheel(*list, 1);
    QVERIFY2(list->currentIndex() == before, name);
    // The wheel went to the page instead.
    if (scrolls) QVERIFY2(bar->value() < bar->maximum() / 2, name);
    kx::test::TurnWheel(*list, -2);
    QVERIFY2(list->currentIndex() == before, name);
    QTest::keyClick(list, Qt::Key_Down);
    QTest::keyClick(list, Qt::Key_U);
    QVERIFY2(list->currentIndex() == before, name);
    f.Run(3);
  }
  f.Run(40);
  QVERIFY(f.Writes(mark).empty());
  QCOMPARE(f.reg(0x4723), std::uint16_t{1});  // still running
}

void TstParameterPanel::enabledControlsAreWrittenAtOnce() {
  // Com write switched on: the moment the panel enables the controls, a
  // choice in them is written.
  {
    Fixture f(Kx2ComWriteOff());
    f.Run(40);
    QVERIFY(!f.w("PIDBox")->isEnabled());
    QVERIFY(!f.w("CtrlBox")->isEnabled());
    ChooseInPopup(*f.w<QComboBox>("ComWrite"), 1);
    QVERIFY(f.bus->RunUntil([&] { return !f.accessAgrees() || f.w("CtrlBox")->isEnabled(); }, 2000));
    QVERIFY(f.accessAgrees());
    ChooseInPopup(*f.w<QComboBox>("CtrlSet"), 1);
    f.settle();
    QCOMPARE(f.reg(0x4719), std::uint16_t{1});
    // Switched off again: refused aloud, and nothing goes out.
    ChooseInPopup(*f.w<QComboBox>("ComWrite"), 0);
    QVERIFY(f.bus->RunUntil([&] { return !f.accessAgrees() || !f.w("CtrlBox")->isEnabled(); }, 2000));
    QVERIFY(f.accessAgrees());
    QCOMPARE(f.reg(0x4726), std::uint16_t{0});
  }
  // The right KX3 key: the controls come on with the unlocked mode.
  {
    Fixture f(Kx3(0x0F));  // keys 1..3, all locked
    f.Run(40);
    QVERIFY(!f.w("PIDBox")->isEnabled());
    auto* dialog = f.window->parameterPanel()->passwordDialog();
    kx::test::ClickIndicator(*f.level()->Button(0));
    QVERIFY(f.bus->RunUntil([&] { return dialog->isVisible(); }, 400));
    QTest::keyClicks(dialog->field(), QStringLiteral("1111"));
    QTest::keyClick(dialog->field(), Qt::Key_Return);
    const kx::MonitorEngine& engine = f.window->engine();
    QVERIFY(f.bus->RunUntil([&] { return !f.accessAgrees() || engine.Device(0).rec.security.mode == 8; }, 2000));
    QVERIFY(f.accessAgrees());
    QVERIFY(f.w("PIDBox")->isEnabled());
    ChooseInPopup(*f.w<QComboBox>("CtrlSet"), 2);
    f.settle();
    QCOMPARE(f.reg(0x4719), std::uint16_t{2});
  }
}

// A longer session: list choices, entries typed while the polls go on and
// decimal-point changes (written to a KX2, kept by the monitor for a KX3), in
// a random order and at random moments; after each round the controller holds
// every one of them.
void TstParameterPanel::choicesEntriesAndPointChangesAllReachTheController_data() {
  QTest::addColumn<int>("model");
  QTest::newRow("KX2") << 2;
  QTest::newRow("KX3") << 3;
}

void TstParameterPanel::choicesEntriesAndPointChangesAllReachTheController() {
  QFETCH(int, model);
  const bool kx2 = model == 2;
  Fixture f([kx2](MonitorFixture& m) {
    MonitorFixture::Set(m.Add(kx2 ? "kx2@1" : "kx3@1"),
                        {{0x4700, 250}, {0x4701, 300}, {0x4704, 9999}, {0x4705, 0}, {0x4724, 2}, {0x4725, 1}});
  });
  f.Run(40);
  // The list chosen each round: a KX3 with heating outputs shows no alarm rows.
  const char* list = kx2 ? "ALM1Mode" : "AT";
  const std::uint16_t listReg = kx2 ? 0x4720 : 0x4727;
  const int listItems = kx2 ? 14 : 2;
  std::mt19937 rng(20);
  auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  for (int round = 0; round < 12; ++round) {
    const int point = pick(4);
    const int sv = 10 + pick(990);  // register value, shown with `point` decimals
    const int alarm = pick(listItems);
    const int pb = 1 + pick(999);  // tenths
    QString svText = QString::number(sv);
    if (point > 0) {
      svText = svText.rightJustified(point + 1, QLatin1Char('0'));
      svText.insert(svText.size() - point, QLatin1Char('.'));
    }
    const QString pbText = QStringLiteral("%1.%2").arg(pb / 10).arg(pb % 10);
    auto* svEdit = f.w<QLineEdit>("SV");

    ChooseInPopup(*f.w<QComboBox>("Pointer"), point);
    f.Run(pick(3));
    f.typeOver("SV", svText.left(2).toLatin1().constData());
    for (int n = pick(40); n > 0; --n) {
      f.Run(1);
      QVERIFY(f.accessAgrees());
    }
    QTest::keyClicks(svEdit, svText.mid(2));
    QTest::keyClick(svEdit, Qt::Key_Return);
    f.Run(pick(3));
    ChooseInPopup(*f.w<QComboBox>(list), alarm);
    f.Run(pick(2));
    f.enter("Pb", pbText.toLatin1().constData());
    f.settle();
    const QString where = QStringLiteral("round %1: point %2, SV %3 (%4), list item %5, Pb %6")
                              .arg(round).arg(point).arg(svText).arg(sv).arg(alarm).arg(pbText);
    if (kx2) QVERIFY2(f.reg(0x4725) == point, qPrintable(where));
    QVERIFY2(f.reg(0x4701) == sv, qPrintable(where));
    QVERIFY2(f.reg(listReg) == alarm, qPrintable(where));
    QVERIFY2(f.reg(0x470C) == pb, qPrintable(where));
    QCOMPARE(svEdit->text(), svText);
  }
}

void TstParameterPanel::viewSwitchesBetweenPanelAndTrend() {
  Fixture f(Kx2());
  f.window->findChild<QAction*>(QStringLiteral("RECORD1"))->trigger();
  QVERIFY(f.w("DrawIme")->isVisible());
  // The paint box takes the room below the tiles: at least its design size,
  // 785 x 250 at the design width of 808.
  const int width = f.window->ScaleWidth();
  QVERIFY(f.w("DrawIme")->width() >= 785 * width / 808);
  QVERIFY(f.w("DrawIme")->height() >= 250 * width / 808);
  QVERIFY(!f.w("ParaPL")->isVisible());
  for (int i = 0; i < 5; ++i) f.window->SampleTrend();
  QVERIFY(f.window->trend().RingOf(0).HasSample());
  f.window->findChild<QAction*>(QStringLiteral("SETTING1"))->trigger();
  QVERIFY(f.w("ParaPL")->isVisible());
  QVERIFY(!f.w("DrawIme")->isVisible());
  QVERIFY(f.window->findChild<QAction*>(QStringLiteral("SETTING1"))->isChecked());
  QVERIFY(!f.window->findChild<QAction*>(QStringLiteral("RECORD1"))->isChecked());
}

// Enter on the restore-default (and clear-adjust) question declines it: Cancel
// is the default button, and nothing is written.
void TstParameterPanel::restoreAndClearQuestionsDefaultToCancel() {
  Fixture f(Kx2());
  f.enter("PassEdit", "QZW");  // factory mode shows both buttons
  f.Run(60);
  for (const char* name : {"ClearBt1", "ClearBt2"}) {
    QVERIFY2(f.w(name)->isVisible(), name);
    const std::size_t from = f.fake->written.size();
    QTest::mouseClick(f.w<QPushButton>(name), Qt::LeftButton);
    auto* box = f.window->findChild<QMessageBox*>(QStringLiteral("ClearConfirm"));
    QVERIFY2(box != nullptr && box->isVisible(), name);
    QCOMPARE(box->defaultButton(), box->button(QMessageBox::Cancel));
    QTest::keyClick(box, Qt::Key_Return);
    QTRY_VERIFY(f.window->findChild<QMessageBox*>(QStringLiteral("ClearConfirm")) == nullptr);
    f.Run(30);
    QVERIFY2(f.Writes(from).empty(), name);
  }
}

QTEST_MAIN(TstParameterPanel)
#include "tst_parameter_panel.moc"
