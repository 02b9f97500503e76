// The tester inside the real main window: TESTER shows the panel and disables
// the tool bar, Repeat drives Timer1 at 1.5 s and each tick sends again, Stop and
// Close give the line and the tool bar back, other actions are refused while
// Repeat holds the line. The main port is wired to kxsim's controller on the
// simulated bus.
#include <QAction>
#include <QComboBox>
#include <QFrame>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>

#include <memory>
#include <vector>

#include "app/main_window.h"
#include "app/tester_panel.h"
#include "core/line/settings.h"
#include "widgets/scaling.h"
#include "support/fake_port.h"
#include "support/modal_watch.h"
#include "support/sim_bus.h"
#include "support/widget_access.h"
#include "support/window_fixture.h"

using kx::LineOwner;
using kx::app::MainWindow;
using kx::test::FakePort;

class TstTesterWindow : public QObject, protected kx::test::WindowFixture<MainWindow> {
  Q_OBJECT

 private:
  void Type(const char* name, const QString& text) { kx::test::Retype(*Get<QLineEdit>(name), text); }

 private slots:
  void init() {
    Start();
    session_->portPresent[1] = true;
    session_->params = kx::PortParams{1, 9600, 7, 1, 1, false};
    window_ = std::make_unique<MainWindow>(*session_);
  }

  void cleanup() { Stop(); }

  void panelFontsScaleOnceWithTheWindow() {
    // Fields nested three levels below the central widget take the window's
    // factor once, like the labels beside them, not once per level.
    auto* edit = Get<QLineEdit>("Edit5");
    auto* label = Get<QWidget>("AddrSendLb");
    const int base = edit->font().pointSize();
    QCOMPARE(label->font().pointSize(), base);
    kx::app::ScaleWindow(window_->centralWidget(), 2 * 808, 808);
    QCOMPARE(edit->font().pointSize(), 2 * base);
    QCOMPARE(label->font().pointSize(), 2 * base);
    kx::app::ScaleWindow(window_->centralWidget(), 808, 808);  // showing again does not compound
    QCOMPARE(edit->font().pointSize(), base);
  }

  void repeatThroughTimer1AndClose() {
    // The settings file of the line above, so showing the window asks nothing.
    session_->settingsWord = kx::EncodeSettingsWord({.port = 1, .baudCode = 2, .parityCode = 1});
    QVERIFY(kx::WriteSettingsFile(*session_));
    ShowWindow();
    kx::test::Click(*Get<QToolButton>("ToolButton4"));  // Single command
    auto* panel = Get<QFrame>("TESTPL");
    QVERIFY(panel->isVisibleTo(window_.get()));
    QVERIFY(!Get<QToolBar>("ToolBar1")->isEnabled());

    Type("SCOMAddr", "1");
    Type("SFunc", "4700");
    Type("SDataLen", "1");
    kx::test::ClickInPopup(*Get<QComboBox>("SCmdBox"), 0);
    QCOMPARE(Get<QLineEdit>("SendEdit")->text(), QString(":010347000001B4"));

    FakePort& port = *ports_.at(0);
    kx::test::SimBus bus(port);
    kxsim::Controller& controller = bus.Add("kx2@1:9600-7E1-ascii");
    controller.HoldProcess(true);
    controller.SetRegister(0x4700, 100);
    kx::test::Click(*Get<QPushButton>("RSendBt"));
    QCOMPARE(port.written.size(), std::size_t{1});
    QCOMPARE(session_->lineOwner, LineOwner::Tester);
    QTimer* timer1 = window_->timer1();
    QVERIFY(timer1->isActive());
    QCOMPARE(timer1->interval(), 1500);

    QVERIFY(bus.RunUntil([&] { return !window_->tester()->tester().AwaitingAnswer(); }, 40));
    QCOMPARE(Get<QLineEdit>("RcvEdit")->text(), QString(":010302006496"));
    QVERIFY(port.IsOpen());  // repeating: the port stays open
    window_->Timer1Tick();  // a tick sends again
    QCOMPARE(port.written.size(), std::size_t{2});

    // Another window's action is refused while Repeat holds the line.
    QString refusal;
    kx::test::AcceptNextMessageBox(&refusal);
    window_->findChild<QAction*>("SET1")->trigger();  // from the menu: the tool bar is off
    QCOMPARE(refusal, QString("COM Port In Use !!!"));
    QCOMPARE(session_->lineOwner, LineOwner::Tester);

    kx::test::Click(*Get<QPushButton>("RSendBt"));  // Stop
    QVERIFY(!timer1->isActive());
    QVERIFY(Get<QToolBar>("ToolBar1")->isEnabled());
    QVERIFY(port.IsOpen());  // the awaited answer still comes
    QVERIFY(bus.RunUntil([&] { return !port.IsOpen(); }, 40));
    QCOMPARE(Get<QLineEdit>("RcvEdit")->text(), QString(":010302006496"));
    QCOMPARE(session_->lineOwner, LineOwner::Free);

    kx::test::Click(*Get<QPushButton>("SExitBt"));
    QVERIFY(!panel->isVisibleTo(window_.get()));
    QVERIFY(Get<QToolBar>("ToolBar1")->isEnabled());
    QCOMPARE(Get<QLineEdit>("SCOMAddr")->text(), QString("1"));  // fields kept for the next showing
  }
};

QTEST_MAIN(TstTesterWindow)
#include "tst_tester_window.moc"
