// The tester panel's visible rules: controls and captions, the command list
// adapting the panel, upper case, the composed SEND and LRC, the multi-data
// word order, and the Send / Repeat / Close buttons against kxsim's controller
// on the simulated bus.
#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

#include "app/tester_panel.h"
#include "support/fake_main_line.h"
#include "support/sim_bus.h"
#include "support/widget_access.h"

using kx::LineOwner;
using kx::PortParams;
using kx::app::TesterPanel;

class TstTesterPanel : public QObject {
  Q_OBJECT

 private:
  struct Fixture : kx::test::FakeMainLine {
    kx::test::SimBus bus{port};
    kxsim::Controller& controller = bus.Add("kx2@1:9600-7E1-ascii");
    QFrame testpl;
    bool toolBar = true;
    bool timer = false;
    TesterPanel panel{&testpl, session, routing,
                      TesterPanel::Hooks{[this](bool on) { toolBar = on; }, [this](bool on) { timer = on; }}};
    Fixture() {
      session.params = PortParams{1, 9600, 7, 1, 1, false};
      testpl.setObjectName("TESTPL");
      // PV and SV held at 100 and 200.
      controller.HoldProcess(true);
      controller.SetRegister(0x4700, 100);
      controller.SetRegister(0x4701, 200);
      testpl.show();
    }
    template <class T>
    T* Get(const char* name) {
      return kx::test::Child<T>(testpl, name);
    }
    void Choose(int index) { kx::test::ChooseInPopup(*Get<QComboBox>("SCmdBox"), index); }
    void Type(const char* name, const QString& text) { kx::test::Retype(*Get<QLineEdit>(name), text); }
    // Read Register of two words at 4700 from address 1.
    void ComposeRead() {
      Type("SCOMAddr", "1");
      Type("SFunc", "4700");
      Type("SDataLen", "2");
      Choose(0);
    }
    // Nothing sent or repeating: the buttons, the tool bar and the line are free.
    void ExpectIdle() {
      QCOMPARE(Get<QPushButton>("RSendBt")->text(), QString("Repeat"));
      QVERIFY(Get<QPushButton>("SendBt")->isEnabled());
      QVERIFY(!timer);
      QVERIFY(toolBar);
      QCOMPARE(session.lineOwner, LineOwner::Free);
    }
  };

 private slots:
  void controlsAndCaptions() {
    Fixture f;
    QCOMPARE(f.Get<QLabel>("SingleCmdLb")->text(), QString("SINGLE COMMAND TEST (HEX FORMAT)"));
    const std::vector<std::pair<const char*, const char*>> labels{
        {"AddrSendLb", "ADDRESS"}, {"CmdSendLb", "COMMAND"}, {"FuncSendLb", "FUNC ADDR"},
        {"DataLenLb", "WRITE DATA"}, {"CheckSumSendLb", "LRC"}, {"SendLb", "SEND"},
        {"RcvLb", "RECEIVED"},      {"MutiWrLB", "DATA1-4           DATA 5-8"}};
    for (const auto& [name, text] : labels) QCOMPARE(f.Get<QLabel>(name)->text(), QString(text));
    const std::vector<std::pair<const char*, const char*>> buttons{
        {"SendBt", "Send"}, {"RSendBt", "Repeat"}, {"SClearBt", "Clear Result"}, {"SExitBt", "Close"}};
    for (const auto& [name, text] : buttons) QCOMPARE(f.Get<QPushButton>(name)->text(), QString(text));
    QCOMPARE(f.Get<QGroupBox>("MutiWrBox")->title(), QString("MULTI-DATA CONTENT"));
    QVERIFY(!f.Get<QGroupBox>("MutiWrBox")->isVisible());

    auto* box = f.Get<QComboBox>("SCmdBox");
    QCOMPARE(box->currentIndex(), -1);
    const QStringList items{"Read Register", "Write One Word", "Write Multi-Words",
                            "Read Bits",     "Write Bit",      "User Define"};
    QCOMPARE(box->count(), items.size());
    for (int i = 0; i < items.size(); ++i) QCOMPARE(box->itemText(i), items[i]);

    auto* user = f.Get<QLineEdit>("UserCmd");
    QCOMPARE(user->text(), QString("03"));
    QVERIFY(!user->isVisible());
    QCOMPARE(f.Get<QLineEdit>("SCOMAddr")->maxLength(), 2);
    QCOMPARE(f.Get<QLineEdit>("SFunc")->maxLength(), 4);
    QCOMPARE(user->maxLength(), 2);
    for (int i = 1; i <= 8; ++i) QCOMPARE(f.Get<QLineEdit>(qPrintable(QString("Edit%1").arg(i)))->maxLength(), 4);
    QVERIFY(f.Get<QLineEdit>("SChkSum")->isReadOnly());
    QVERIFY(f.Get<QLineEdit>("RcvEdit")->isReadOnly());
    QVERIFY(!f.Get<QLineEdit>("SendEdit")->isReadOnly());
  }

  void commandAdaptsThePanel_data() {
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<int>("maxLength");
    QTest::addColumn<bool>("multi");
    QTest::addColumn<bool>("user");
    QTest::newRow("Read Register") << 0 << "WORD COUNT" << 1 << false << false;
    QTest::newRow("Write One Word") << 1 << "WRITE DATA" << 4 << false << false;
    QTest::newRow("Write Multi-Words") << 2 << "WORD COUNT" << 1 << true << false;
    QTest::newRow("Read Bits") << 3 << "BIT COUNT" << 2 << false << false;
    QTest::newRow("Write Bit") << 4 << "CONTENT" << 1 << false << false;
    QTest::newRow("User Define") << 5 << "DATA" << 1 << true << true;
  }

  void commandAdaptsThePanel() {
    QFETCH(int, index);
    QFETCH(QString, caption);
    QFETCH(int, maxLength);
    QFETCH(bool, multi);
    QFETCH(bool, user);
    Fixture f;
    f.Choose(index);
    QCOMPARE(f.Get<QLabel>("DataLenLb")->text(), caption);
    QCOMPARE(f.Get<QLineEdit>("SDataLen")->maxLength(), maxLength);
    QCOMPARE(f.Get<QGroupBox>("MutiWrBox")->isVisible(), multi);
    QCOMPARE(f.Get<QLabel>("Image2")->isVisible(), !multi);
    QCOMPARE(f.Get<QLineEdit>("UserCmd")->isVisible(), user);
    QCOMPARE(f.Get<QLabel>("DataLenLb")->isVisible(), !user);
    QCOMPARE(f.Get<QLineEdit>("SDataLen")->isVisible(), !user);
    if (user) {
      // The code field lies over the list's text, leaving its drop-down button free.
      auto* box = f.Get<QComboBox>("SCmdBox");
      QVERIFY(f.Get<QLineEdit>("UserCmd")->geometry().right() < box->width() - 8);
    }
  }

  // The wheel over the closed list (scrolling past it) chooses no command.
  void wheelOverTheClosedListChoosesNothing() {
    Fixture f;
    f.Type("SCOMAddr", "1");
    f.Type("SFunc", "4700");
    f.Type("SDataLen", "2");
    auto* box = f.Get<QComboBox>("SCmdBox");
    kx::test::TurnWheel(*box, -2);
    QCOMPARE(box->currentIndex(), -1);
    QCOMPARE(f.Get<QLineEdit>("SendEdit")->text(), QString());
    kx::test::ClickInPopup(*box, 0);
    QCOMPARE(f.Get<QLineEdit>("SendEdit")->text(), QString(":010347000002B3"));
    kx::test::TurnWheel(*box, -1);
    QCOMPARE(box->currentIndex(), 0);
    QCOMPARE(f.Get<QLineEdit>("SendEdit")->text(), QString(":010347000002B3"));
  }

  void typedTextBecomesUpperCaseAndComposes() {
    Fixture f;
    f.Type("SCOMAddr", "1");
    f.Type("SFunc", "47a0");
    f.Type("SDataLen", "2");
    QCOMPARE(f.Get<QLineEdit>("SFunc")->text(), QString("47A0"));
    QCOMPARE(f.Get<QLineEdit>("SendEdit")->text(), QString());  // no command chosen yet
    f.Type("SFunc", "4700");
    f.Choose(0);
    QCOMPARE(f.Get<QLineEdit>("SendEdit")->text(), QString(":010347000002B3"));
    QCOMPARE(f.Get<QLineEdit>("SChkSum")->text(), QString("B3"));
    f.session.params.rtu = true;
    f.Type("SDataLen", "2");
    QCOMPARE(f.Get<QLineEdit>("SendEdit")->text(), QString(" 010347000002D0BF"));
    QCOMPARE(f.Get<QLineEdit>("SChkSum")->text(), QString("D0BF"));
  }

  void multiDataFieldsFollowTheirWordOrder() {
    Fixture f;
    f.Type("SCOMAddr", "1");
    f.Type("SFunc", "4700");
    f.Choose(5);
    f.Type("UserCmd", "41");
    // EditN holds DATA(k): left column DATA1-4, right column Edit6, Edit7, Edit5, Edit8.
    const std::vector<std::pair<const char*, const char*>> typed{
        {"Edit1", "1"}, {"Edit2", "2"}, {"Edit3", "3"}, {"Edit4", "4"},
        {"Edit6", "5"}, {"Edit7", "6"}, {"Edit5", "7"}, {"Edit8", "8"}};
    for (const auto& [name, text] : typed) f.Type(name, text);
    QCOMPARE(f.Get<QLineEdit>("SendEdit")->text(),
             QString(":014147000001000200030004000500060007000853"));
  }

  void sendRepeatAndClose() {
    Fixture f;
    f.ComposeRead();
    QTest::mouseClick(f.Get<QPushButton>("SendBt"), Qt::LeftButton);
    QCOMPARE(f.port.written.size(), std::size_t{1});
    QVERIFY(!f.toolBar);
    QVERIFY(f.bus.RunUntil([&] { return !f.port.IsOpen(); }, 40));
    QCOMPARE(f.Get<QLineEdit>("RcvEdit")->text(), QString(":010304006400C8CC"));
    QVERIFY(f.toolBar);
    QCOMPARE(f.session.lineOwner, LineOwner::Free);

    QTest::mouseClick(f.Get<QPushButton>("SClearBt"), Qt::LeftButton);
    QCOMPARE(f.Get<QLineEdit>("RcvEdit")->text(), QString());

    f.controller.SilenceNow();
    QTest::mouseClick(f.Get<QPushButton>("RSendBt"), Qt::LeftButton);
    QCOMPARE(f.Get<QPushButton>("RSendBt")->text(), QString("Stop"));
    QVERIFY(!f.Get<QPushButton>("SendBt")->isEnabled());
    QVERIFY(f.timer);
    f.bus.Tick(18);
    QCOMPARE(f.Get<QLineEdit>("RcvEdit")->text(), QString("Received Data Timeout !"));
    QVERIFY(f.port.IsOpen());

    QTest::mouseClick(f.Get<QPushButton>("SExitBt"), Qt::LeftButton);
    QVERIFY(!f.testpl.isVisible());
    QVERIFY(!f.port.IsOpen());
    f.ExpectIdle();
  }

  // The adapter is pulled while repeating: the buttons go back to idle at
  // once, and Send then sends a single request, no new repeat.
  void lostLineReturnsTheButtonsToIdle() {
    Fixture f;
    f.ComposeRead();
    QTest::mouseClick(f.Get<QPushButton>("RSendBt"), Qt::LeftButton);
    QCOMPARE(f.Get<QPushButton>("RSendBt")->text(), QString("Stop"));
    QVERIFY(!f.toolBar);

    f.port.Fail("ttyUSB0 was disconnected");
    f.ExpectIdle();
    if (QTest::currentTestFailed()) return;

    f.controller.SilenceNow();
    QTest::mouseClick(f.Get<QPushButton>("SendBt"), Qt::LeftButton);
    QCOMPARE(f.port.written.size(), std::size_t{2});
    QCOMPARE(f.Get<QPushButton>("RSendBt")->text(), QString("Repeat"));
    QVERIFY(!f.timer);
    f.bus.Tick(18);
    QCOMPARE(f.Get<QLineEdit>("RcvEdit")->text(), QString("Received Data Timeout !"));
    QVERIFY(!f.port.IsOpen());
  }
};

QTEST_MAIN(TstTesterPanel)
#include "tst_tester_panel.moc"
