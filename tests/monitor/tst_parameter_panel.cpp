// The parameter panel and the password dialog on the offscreen platform, over
// kxsim's controllers on the simulated bus: controls by name with their captions and items, the panel filled
// from a KX2's pages, the writes an entry and a list queue (with the unlock for
// a factory-protected field), the KX3 "N/A" state, the password field commands,
// and the dialog's typing and closing rules.
#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>

#include <functional>
#include <memory>

#include "core/modbus/codec.h"
#include "monitor/monitor_window.h"
#include "monitor/parameter_panel.h"
#include "monitor/password_dialog.h"
#include "support/monitor_fixture.h"

using kx::monitor::MonitorWindow;
using kx::monitor::PasswordDialog;
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
  void viewSwitchesBetweenPanelAndTrend();
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
  kx::test::Activate(*f.w<QComboBox>("LockStatus"), 2);
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
  QVERIFY(f.window->engine().FactoryModeOn());
  f.Run(60);
  QVERIFY(f.w("RTDOfs")->isVisible());
  QVERIFY(f.w("mVGain")->isVisible());
  QVERIFY(f.w("OutputType2")->isVisible());
  type("nothing");
  QVERIFY(!f.window->engine().FactoryModeOn());
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
  // The list changed and disabled by the program is no user's close-up.
  pass1->setCurrentIndex(0);
  f.w("SecurityPL")->setEnabled(false);
  QVERIFY(!dialog->isVisible());
  QVERIFY(!f.window->engine().LevelWriteOn());
  f.w("SecurityPL")->setEnabled(true);
  // Dropped down and closed up by the user on another item: the key is asked.
  pass1->showPopup();
  QVERIFY(f.window->engine().LevelWriteOn());
  pass1->hidePopup();
  QVERIFY(dialog->isVisible());
  // The window goes with a list still dropped down and the dialog open.
  f.w<QComboBox>("Pass2")->showPopup();
}

void TstParameterPanel::viewSwitchesBetweenPanelAndTrend() {
  Fixture f(Kx2());
  f.window->findChild<QAction*>(QStringLiteral("RECORD1"))->trigger();
  QVERIFY(f.w("DrawIme")->isVisible());
  // The paint box takes the room below the tiles: at least its design size,
  // 785 x 250 at the design width of 808.
  const int width = f.window->scaleWidth();
  QVERIFY(f.w("DrawIme")->width() >= 785 * width / 808);
  QVERIFY(f.w("DrawIme")->height() >= 250 * width / 808);
  QVERIFY(!f.w("ParaPL")->isVisible());
  for (int i = 0; i < 5; ++i) f.window->SampleTrend();
  QVERIFY(f.window->trend().ring(0).HasSample());
  f.window->findChild<QAction*>(QStringLiteral("SETTING1"))->trigger();
  QVERIFY(f.w("ParaPL")->isVisible());
  QVERIFY(!f.w("DrawIme")->isVisible());
  QVERIFY(f.window->findChild<QAction*>(QStringLiteral("SETTING1"))->isChecked());
  QVERIFY(!f.window->findChild<QAction*>(QStringLiteral("RECORD1"))->isChecked());
}

QTEST_MAIN(TstParameterPanel)
#include "tst_parameter_panel.moc"
