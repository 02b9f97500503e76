// The main window on the offscreen platform, with fake ports: its named menu
// and tool bar, the line-owner check of every action, the settings file read at
// activation, Timer1 closing the user message window, a lost line, and errors
// escaping a handler.
#include <QAction>
#include <QFile>
#include <QFileDialog>
#include <QFrame>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>

#include <memory>
#include <stdexcept>
#include <vector>

#include "app/kx_application.h"
#include "app/main_window.h"
#include "widgets/radio_group.h"
#include "core/line/settings.h"
#include "support/fake_port.h"
#include "support/modal_watch.h"
#include "support/window_fixture.h"

using kx::LineOwner;
using kx::app::MainWindow;
using kx::test::AcceptNextMessageBox;
using kx::test::OnNextModal;

namespace {

// Throws from its event handler, as a faulty window handler would.
class ThrowingObject : public QObject {
 public:
  bool event(QEvent* e) override {
    if (e->type() == QEvent::User) throw std::runtime_error("Disc read failed");
    return QObject::event(e);
  }
};

}  // namespace

class MainWindowTest : public QObject, protected kx::test::WindowFixture<MainWindow> {
  Q_OBJECT

 private:
  void WriteSettings(const char* text) {
    QFile f(dir_.filePath("SETKX.$$$"));
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(text);
  }

 private slots:
  void init() {
    QFile::remove(dir_.filePath("SETKX.$$$"));
    Start();
    session_->portPresent[2] = true;
    session_->portPresent[5] = true;
    session_->portPath[2] = "/dev/ttyUSB0";
    session_->portPath[5] = "/dev/ttyUSB1";
    window_ = std::make_unique<MainWindow>(*session_);
  }

  void cleanup() { Stop(); }

  void captionsAndNames() {
    QCOMPARE(window_->objectName(), QString("MainForm"));
    QCOMPARE(window_->windowTitle(), QString("OSTRA CONTROLLER COMMUNICATION PROGRAM (V1.00)"));
    QCOMPARE(window_->palette().color(QPalette::Window), QColor(Qt::white));
    QCOMPARE(qApp->applicationName(), QString("Ostra controller communication utility"));
    QCOMPARE(qApp->property("helpFile").toString(),
             QString("For Ostra temperature controller (KX1,KX2,KX3) use only"));
    QVERIFY(window_->findChild<QLabel*>("KX1") != nullptr);
    auto* testpl = window_->findChild<QFrame*>("TESTPL");
    QVERIFY(testpl != nullptr);
    QVERIFY(testpl->isHidden());

    auto* timer = window_->findChild<QTimer*>("Timer1");
    QVERIFY(timer != nullptr);
    QCOMPARE(timer->interval(), 1500);
    QVERIFY(!timer->isActive());
    auto* open = window_->findChild<QFileDialog*>("OpenDialog1");
    auto* save = window_->findChild<QFileDialog*>("SaveDialog1");
    QVERIFY(open != nullptr && save != nullptr);
    QCOMPARE(open->defaultSuffix(), QString("txt"));
    QCOMPARE(save->defaultSuffix(), QString("rec"));
    QCOMPARE(ports_.size(), std::size_t{2});
  }

  void menu() {
    auto* bar = window_->findChild<QMenuBar*>("MainMenu1");
    QVERIFY(bar != nullptr);
    QStringList top;
    for (QAction* a : bar->actions()) top << a->text();
    QCOMPARE(top, QStringList({"PROTOCOL", "PROGRAM", "EXIT", "ABOUT"}));
    QCOMPARE(bar->actions()[2]->objectName(), QString("EXIT1"));
    QCOMPARE(bar->actions()[3]->objectName(), QString("ABOUT1"));

    struct Menu {
      const char* name;
      QStringList items;
      QStringList captions;
    };
    const std::vector<Menu> menus = {
        {"PROTOCOL1", {"SET1", "KX3SET1"}, {"SET PC", "SET KX3"}},
        {"PROGRAM1",
         {"MONITOR1", "RECODER1", "TESTER1", "FWUPDATE1", "TRAFFIC1"},
         {"MONITOR", "RECODER", "TESTER", "F/W UPDATE", "LINE TRAFFIC"}},
    };
    for (const Menu& m : menus) {
      auto* menu = window_->findChild<QMenu*>(m.name);
      QVERIFY2(menu != nullptr, m.name);
      QStringList names;
      QStringList captions;
      for (QAction* a : menu->actions()) {
        names << a->objectName();
        captions << a->text();
      }
      QCOMPARE(names, m.items);
      QCOMPARE(captions, m.captions);
    }
  }

  void toolBar() {
    auto* bar = window_->findChild<QToolBar*>("ToolBar1");
    QVERIFY(bar != nullptr);
    // Buttons in order with "|" for the separators.
    QStringList order;
    QStringList hints;
    for (QAction* a : bar->actions()) {
      if (a->isSeparator()) {
        order << "|";
        continue;
      }
      auto* b = qobject_cast<QToolButton*>(bar->widgetForAction(a));
      QVERIFY(b != nullptr);
      order << b->objectName();
      QCOMPARE(b->toolTip(), b->statusTip());
      QVERIFY(!b->icon().isNull());
      hints << b->toolTip();
    }
    QCOMPARE(order, QStringList({"ToolButton1", "ToolButton11", "|", "ToolButton2", "ToolButton3", "ToolButton4",
                                 "ToolButton10", "|", "ToolButton5", "|", "ToolButton6"}));
    QCOMPARE(hints, QStringList({"Set communication protocol of PC", "KX3 communication protocol setting",
                                 "Monitor program", "Recorder program", "Single command",
                                 "KX2/3 firmware update program", "Exit this program", "About this program"}));
    QCOMPARE(bar->iconSize(), QSize(32, 32));
  }

  // While the tester repeats, every action that would start another window is
  // refused with "COM Port In Use !!!"; TESTER, ABOUT and EXIT are not.
  void comPortInUse_data() {
    QTest::addColumn<int>("owner");
    QTest::addColumn<QString>("action");
    QTest::addColumn<bool>("refused");
    const QStringList actions = {"SET1", "KX3SET1", "MONITOR1", "RECODER1", "FWUPDATE1"};
    for (const QString& a : actions) QTest::newRow(qPrintable("tester " + a)) << 1 << a << true;
    QTest::newRow("setup SET1") << 2 << "SET1" << true;
    QTest::newRow("monitor RECODER1") << 3 << "RECODER1" << true;
    QTest::newRow("recorder MONITOR1") << 4 << "MONITOR1" << true;
    QTest::newRow("firmware TESTER1") << 5 << "TESTER1" << true;
    QTest::newRow("setup KX3SET1") << 2 << "KX3SET1" << false;
    QTest::newRow("tester TESTER1") << 1 << "TESTER1" << false;
    QTest::newRow("monitor ABOUT1") << 3 << "ABOUT1" << false;
  }

  void comPortInUse() {
    QFETCH(int, owner);
    QFETCH(QString, action);
    QFETCH(bool, refused);
    session_->lineOwner = static_cast<LineOwner>(owner);
    auto* a = window_->findChild<QAction*>(action);
    QVERIFY(a != nullptr);

    QString seen;
    OnNextModal([&seen](QWidget* w) {
      auto* box = qobject_cast<QMessageBox*>(w);
      seen = box != nullptr ? box->text() : w->objectName();
      if (auto* d = qobject_cast<QDialog*>(w)) d->reject();
    });
    a->trigger();
    if (refused) {
      QCOMPARE(seen, QString("COM Port In Use !!!"));
    } else if (action == "TESTER1") {
      QCOMPARE(seen, QString());  // no window, the panel shows
      QVERIFY(!window_->findChild<QFrame*>("TESTPL")->isHidden());
      QVERIFY(!window_->findChild<QToolBar*>("ToolBar1")->isEnabled());
      QVERIFY(window_->menuBar()->isEnabled());
    } else {
      QVERIFY(seen != "COM Port In Use !!!");
      QVERIFY(!seen.isEmpty());  // the window opened
    }
    QCOMPARE(static_cast<int>(session_->lineOwner), owner);  // no action sets the owner
  }

  // SET PC clears the controller mode; SET KX3 sets it, and it stays set
  // after the window closes until the window's own CLOSE leaves it.
  void settingsWindowsSetTheControllerMode() {
    WriteSettings("292");
    window_->SetControllerMode(true);
    bool controllerWhileOpen = true;
    QString name;
    OnNextModal([&](QWidget* w) {
      name = w->objectName();
      controllerWhileOpen = window_->openWindows().controllerMode;
      qobject_cast<QDialog*>(w)->reject();
    });
    window_->findChild<QAction*>("SET1")->trigger();
    QCOMPARE(name, QString("Protocol"));
    QVERIFY(!controllerWhileOpen);
    QVERIFY(!window_->openWindows().controllerMode);

    OnNextModal([&](QWidget* w) {
      controllerWhileOpen = window_->openWindows().controllerMode;
      qobject_cast<QDialog*>(w)->reject();
    });
    window_->findChild<QAction*>("KX3SET1")->trigger();
    QVERIFY(controllerWhileOpen);
    QVERIFY(window_->openWindows().controllerMode);

    OnNextModal([&](QWidget* w) { QTest::mouseClick(w->findChild<QPushButton*>("SetCloseBt"), Qt::LeftButton); });
    window_->findChild<QAction*>("KX3SET1")->trigger();
    QVERIFY(!window_->openWindows().controllerMode);
  }

  // Each window takes the second port's route while it is open (the routing
  // decides between them) and lets go of it when it closes.
  void recorderAndFirmwareWindows() {
    QString name;
    bool firmwareFlag = false;
    bool recorderRouted = false;
    bool firmwareRouted = false;
    kx::SecondPortRouting& routing = window_->secondPortRouting();
    OnNextModal([&](QWidget* w) {
      name = w->windowTitle();
      recorderRouted = routing.recorder.event && routing.recorder.lineLost && !routing.firmware.event;
      qobject_cast<QDialog*>(w)->reject();
    });
    window_->findChild<QAction*>("RECODER1")->trigger();
    QCOMPARE(name, QString("Ostra KX Series Recorder Program"));
    QVERIFY(recorderRouted);
    QVERIFY(!routing.recorder.event && !routing.recorder.lineLost);

    OnNextModal([&](QWidget* w) {
      name = w->objectName();
      firmwareFlag = window_->openWindows().firmwareUpdate;
      firmwareRouted = routing.firmware.event && !routing.recorder.event;
      qobject_cast<QDialog*>(w)->reject();
    });
    window_->findChild<QAction*>("FWUPDATE1")->trigger();
    QCOMPARE(name, QString("FWUpdate"));
    QVERIFY(firmwareFlag);
    QVERIFY(firmwareRouted);
    QVERIFY(!window_->openWindows().firmwareUpdate);
    QVERIFY(!routing.firmware.event);
  }

  void aboutBox() {
    QStringList texts;
    QString caption;
    OnNextModal([&](QWidget* w) {
      caption = w->windowTitle();
      for (QLabel* l : w->findChildren<QLabel*>())
        if (!l->text().isEmpty()) texts << l->text();
      qobject_cast<QDialog*>(w)->accept();
    });
    window_->findChild<QAction*>("ABOUT1")->trigger();
    QCOMPARE(caption, QString("ABOUT"));
    QCOMPARE(texts, QStringList({"OSTRA Digital Controller", "Communication Program", "Version 1.0.0.3",
                                 "Recommanded Display Resolution 800 x 600"}));
  }

  // With no settings file the settings window opens by itself at activation;
  // OK stores the default word (lowest present port, 9600 7E1 ASCII).
  void activationWithoutSettingsFileOpensSettingsWindow() {
    QString name;
    window_->SetControllerMode(true);
    OnNextModal([&](QWidget* w) {
      name = w->objectName();
      QTest::mouseClick(w->findChild<QPushButton*>("OKBt"), Qt::LeftButton);
    });
    window_->show();
    window_->activateWindow();
    QTRY_COMPARE(name, QString("Protocol"));
    QVERIFY(!window_->openWindows().controllerMode);
    QTRY_VERIFY(QFile::exists(dir_.filePath("SETKX.$$$")));
    QFile f(dir_.filePath("SETKX.$$$"));
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), QByteArray("548"));  // 2 * 256 + 0x24
    QCOMPARE(session_->params.port, 2);
    QCOMPARE(session_->params.baud, 9600);
  }

  void activationReadsSettingsFile() {
    WriteSettings("690");
    window_->show();
    window_->activateWindow();
    QTRY_VERIFY(session_->settingsFileRead);
    QCOMPARE(session_->settingsWord, 690);
    QCOMPARE(session_->params.port, 2);
    QCOMPARE(session_->params.baud, 19200);
    QVERIFY(session_->params.rtu);
  }

  // A protected settings file cannot take a new choice: after "Data can not
  // save !!!" the chosen word stays in force for the run; the next activation
  // does not bring back the file's old word.
  void unsavedChoiceOutlivesActivationWithProtectedFile() {
    WriteSettings("548");  // COM2, 9600 7E1 ASCII
    QFile::setPermissions(dir_.filePath("SETKX.$$$"), QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther);
    window_->show();
    window_->activateWindow();
    QTRY_VERIFY(session_->settingsFileRead);
    QCOMPARE(session_->settingsWord, 548);

    QString message;
    OnNextModal([&message](QWidget* w) {
      kx::test::ClickIndicator(*w->findChild<kx::app::RadioGroup*>("Baudrate")->Button(3));  // 19200
      AcceptNextMessageBox(&message);
      QTest::mouseClick(w->findChild<QPushButton*>("OKBt"), Qt::LeftButton);
    });
    window_->findChild<QAction*>("SET1")->trigger();
    QCOMPARE(message, QString("Data can not save !!! Disc full or protected."));
    window_->activateWindow();
    QTRY_VERIFY(!session_->settingsFileRead);  // the word in force is not the file's
    QCOMPARE(session_->settingsWord, 2 * 256 + 3 * 16 + 4);
    QCOMPARE(session_->params.baud, 19200);
    QFile::setPermissions(dir_.filePath("SETKX.$$$"), QFile::ReadOwner | QFile::WriteOwner);
  }

  // Timed notices are closed by Timer1 while the firmware window or the
  // controller mode flag is set; code 255 waits for OK.
  void userMessageWindow_data() {
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("line1");
    QTest::addColumn<QString>("line2");
    QTest::addColumn<int>("interval");
    QTest::newRow("0") << 0 << "READY TO UPDATE KX3 FIRMWARE" << "PLEASE WAIT A FEW SECOND FOR KX3 RE-INITIAL" << 3000;
    QTest::newRow("251") << 251 << "COMMUNICATION AUTO SYNCHRONIZE SUCCESS"
                         << "CONNECT KX3E AND RE-POWER ON TO ENABLE AUTO SYNC." << 3000;
    QTest::newRow("252") << 252 << "CHANGING THE PROTOCOL..." << "PLEASE WAIT FOR A WHILE." << 500;
    QTest::newRow("254") << 254 << "UPDATE SUCESSED" << "YOU CAN ENJOY THE NEW FIRMWARE NOW" << 2500;
    QTest::newRow("255") << 255 << "UPDATE SUCESSED" << "RE-POWER ON TO ENABLE NEW FIRMWARE" << 0;
  }

  void userMessageWindow() {
    QFETCH(int, code);
    QFETCH(QString, line1);
    QFETCH(QString, line2);
    QFETCH(int, interval);
    window_->SetControllerMode(true);
    QTimer* timer1 = window_->timer1();
    QString l1;
    QString l2;
    bool buttonShown = false;
    bool timerActive = false;
    int timerInterval = 0;
    bool stillShowingAfterTick = false;
    OnNextModal([&](QWidget* w) {
      l1 = w->findChild<QLabel*>("PWRLB1")->text();
      l2 = w->findChild<QLabel*>("PWRLB2")->text();
      auto* ok = w->findChild<QPushButton*>("Button1");
      buttonShown = ok->isVisible();
      timerActive = timer1->isActive();
      timerInterval = timer1->interval();
      window_->Timer1Tick();  // one tick of Timer1
      stillShowingAfterTick = w->isVisible();
      if (stillShowingAfterTick) QTest::mouseClick(ok, Qt::LeftButton);
    });
    window_->ShowUserMessage(code);
    QCOMPARE(l1, line1);
    QCOMPARE(l2, line2);
    QVERIFY(!window_->UserMessageShowing());
    if (interval > 0) {
      QVERIFY(!buttonShown);
      QVERIFY(timerActive);
      QCOMPARE(timerInterval, interval);
      QVERIFY(!stillShowingAfterTick);
      QVERIFY(!timer1->isActive());  // each notice closes once, the timer stays off
    } else {
      QVERIFY(buttonShown);
      QVERIFY(!timerActive);
      QVERIFY(stillShowingAfterTick);
    }
  }

  void timer1LeavesNoticeOpenWithoutFlags() {
    bool stillShowing = false;
    OnNextModal([&](QWidget* w) {
      window_->Timer1Tick();
      stillShowing = w->isVisible();
      qobject_cast<QDialog*>(w)->accept();
    });
    window_->ShowUserMessage(252);
    QVERIFY(stillShowing);
  }

  void timer1DrivesTesterRepeat() {
    int sends = 0;
    auto& tester = window_->mainPortRouting().tester;
    // Whether a tick sends is the tester's (only while Repeat runs).
    tester.send = [&sends] { ++sends; };
    window_->Timer1Tick();
    QCOMPARE(sends, 0);  // port closed: nothing is sent
    QVERIFY(window_->mainPortRouting().Open());
    window_->Timer1Tick();
    window_->Timer1Tick();
    QCOMPARE(sends, 2);
    window_->mainPortRouting().Close();
    window_->Timer1Tick();
    QCOMPARE(sends, 2);
  }

  void lostLineShowsOneErrorAndFreesTheLine() {
    auto& routing = window_->mainPortRouting();
    QVERIFY(routing.Open());
    routing.HoldLine(LineOwner::Tester);
    window_->SetToolBarEnabled(false);
    QString text;
    QString caption;
    AcceptNextMessageBox(&text, &caption);
    ports_[0]->Fail("Input/output error");
    QTRY_VERIFY(!text.isEmpty());
    QVERIFY(text.contains("Input/output error"));
    QCOMPARE(caption, QString("Ostra controller communication utility"));
    QCOMPARE(session_->lineOwner, LineOwner::Free);
    QVERIFY(window_->findChild<QToolBar*>("ToolBar1")->isEnabled());
    // The program goes on: the port opens again.
    QVERIFY(routing.Open());
  }

  // EXIT ends the application even while the monitor, a window of its own,
  // stays open beside the main window.
  void exitEndsTheApplicationWithTheMonitorOpen() {
    QWidget monitor;
    monitor.setObjectName("PMonitor");
    window_->SetMonitorWindow(&monitor);
    window_->show();
    window_->findChild<QAction*>("MONITOR1")->trigger();
    QVERIFY(monitor.isVisible());

    window_->findChild<QAction*>("EXIT1")->trigger();
    QVERIFY(!window_->isVisible());
    QVERIFY(!monitor.isVisible());  // closed with the main window, so nothing keeps the program running
  }

  void errorInHandlerIsShownAndLoopGoesOn() {
    ThrowingObject thrower;
    QString text;
    AcceptNextMessageBox(&text);
    QCoreApplication::postEvent(&thrower, new QEvent(QEvent::User));
    QTRY_COMPARE(text, QString("Disc read failed"));
  }
};

int main(int argc, char** argv) {
  kx::app::KxApplication app(argc, argv);
  MainWindowTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "tst_mainwindow.moc"
