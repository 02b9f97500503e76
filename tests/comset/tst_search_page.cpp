// The search page and controller mode's visible rules: captions and lists,
// the result table, enabling of SET, the forced list values, address fields.
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QtTest>

#include <optional>

#include "comset/search_page.h"
#include "support/fake_main_line.h"
#include "support/sim_bus.h"
#include "support/widget_access.h"

using kx::PresetFormat;
using kx::LineOwner;
using kx::PortParams;
using kx::comset::SearchPage;

class TstSearchPage : public QObject {
  Q_OBJECT

 private:
  struct Fixture : kx::test::FakeMainLine {
    QDialog window;
    QFrame* detect = new QFrame(&window);
    QFrame* after = new QFrame(detect);
    QLabel* status = new QLabel(&window);
    QProgressBar* gauge = new QProgressBar(&window);
    QLabel* timeLeft = new QLabel(&window);
    std::optional<PresetFormat> taken;
    bool closed = false;
    std::vector<int> notices;
    kx::test::SimBus bus{port};
    SearchPage page;

    explicit Fixture(SearchPage::Mode mode)
        : page(session, routing, mode,
               SearchPage::Link{detect, after, status, gauge, timeLeft, [] { return 1; },
                                [this](const PresetFormat& f) { taken = f; }, nullptr, [this] { closed = true; },
                                nullptr},
               &window) {
      session.settingsWord = 292;  // COM1 9600 E 7 1 ASCII
      session.params = PortParams{1, 9600, 7, 1, 1, false};
      session.showUserMessage = [this](int code) { notices.push_back(code); };
      detect->setObjectName("DetectPL");
      after->setObjectName("KX3AfterPL");
      detect->hide();
      after->hide();
      window.show();
    }
    template <class T>
    T* Get(const char* name) {
      return kx::test::Child<T>(window, name);
    }
    void Pick(const char* list, int index) { kx::test::ChooseInPopup(*Get<QComboBox>(list), index); }
    QString Cell(int row, int column) { return Get<QTableWidget>("ResultTable")->item(row, column)->text(); }
  };

 private slots:
  void searchPageCaptionsAndLists() {
    Fixture f(SearchPage::Mode::Pc);
    f.page.AutoDetectBtClick();
    QVERIFY(f.detect->isVisible());
    QCOMPARE(f.status->text(), QString("Pressed Start to begin detect"));
    QVERIFY(f.status->isVisible());
    QVERIFY(!f.gauge->isVisible());
    QVERIFY(f.timeLeft->isVisible());
    QCOMPARE(f.timeLeft->text(), QString());
    QVERIFY(!f.after->isVisible());
    QCOMPARE(f.Get<QLabel>("ProtocolTitle1")->text(), QString("Address            Baud Rate        Bit Length"));
    QCOMPARE(f.Get<QLabel>("ProtocolTitle2")->text(),
             QString("Parity                Stop Bit               Protocol"));
    auto* addr = f.Get<QComboBox>("AddrPreSet");
    QCOMPARE(addr->count(), 17);
    QCOMPARE(addr->itemText(16), QString("F1H~F7H"));
    for (const char* list : {"AddrPreSet", "BaudPreSet", "LengthPreSet", "ParityPreSet", "StopPreSet",
                             "ProtocolPreSet"})
      QCOMPARE(f.Get<QComboBox>(list)->currentText(), QString("UNKNOW"));
    QCOMPARE(f.Get<QComboBox>("BaudPreSet")->itemText(4), QString("4800"));
    QCOMPARE(f.Get<QComboBox>("StopPreSet")->itemText(2), QString("2 STOP BITS"));

    auto* table = f.Get<QTableWidget>("ResultTable");
    QCOMPARE(table->rowCount(), 30);
    QCOMPARE(table->columnCount(), 3);
    // Design widths 50, 56 and 125, grown with the font so the texts fit.
    QVERIFY(table->columnWidth(0) >= 50);
    QVERIFY(table->columnWidth(1) >= 56);
    QVERIFY(table->columnWidth(2) >= 125);
    const QFontMetrics fm(table->font());
    QVERIFY(fm.horizontalAdvance(" Communicate Protocol") <= table->columnWidth(2));
    QVERIFY(fm.horizontalAdvance("19200,8,N,2,ASCII") <= table->columnWidth(2));
    QVERIFY(fm.horizontalAdvance(" Address") <= table->columnWidth(1));
    QCOMPARE(f.Cell(0, 1), QString(" Address"));
    QCOMPARE(f.Cell(0, 2), QString(" Communicate Protocol"));
    QCOMPARE(f.Cell(1, 0), QString("1"));
    QCOMPARE(f.Cell(28, 0), QString("28"));
    QCOMPARE(f.Cell(29, 0), QString());
    QCOMPARE(f.Get<QPushButton>("SetStartBt")->text(), QString("START"));
    QVERIFY(!f.Get<QPushButton>("SETBt")->isEnabled());
    QCOMPARE(f.Get<QPushButton>("SetCloseBt")->text(), QString("CLOSE"));
  }

  void presetRulesForceValues() {
    Fixture f(SearchPage::Mode::Pc);
    f.page.AutoDetectBtClick();
    f.Pick("ProtocolPreSet", 2);  // RTU
    QCOMPARE(f.Get<QComboBox>("LengthPreSet")->currentText(), QString("8 BITS"));
    f.Pick("ParityPreSet", 1);  // ODD with 8 bits
    QCOMPARE(f.Get<QComboBox>("StopPreSet")->currentText(), QString("1 STOP BIT"));
    f.Pick("ProtocolPreSet", 1);
    f.Pick("LengthPreSet", 1);
    f.Pick("ParityPreSet", 3);  // NONE with 7 bits
    QCOMPARE(f.Get<QComboBox>("StopPreSet")->currentText(), QString("2 STOP BITS"));
  }

  void foundRowEnablesSetAndTakesItsSettingsOver() {
    Fixture f(SearchPage::Mode::Pc);
    f.bus.Add("kx3@26:19200-8N2-rtu");
    f.page.AutoDetectBtClick();
    f.Pick("AddrPreSet", 2);      // 11H~20H
    f.Pick("BaudPreSet", 2);      // 19200
    f.Pick("ParityPreSet", 3);    // NONE
    f.Pick("StopPreSet", 2);      // 2 stop bits
    f.Pick("ProtocolPreSet", 2);  // RTU
    QTest::mouseClick(f.Get<QPushButton>("SetStartBt"), Qt::LeftButton);
    QCOMPARE(f.Get<QPushButton>("SetStartBt")->text(), QString("CANCEL"));
    QVERIFY(f.gauge->isVisible());
    QCOMPARE(f.status->text(), QString("COM01,19200,8,N,2,  RTU"));
    QCOMPARE(f.session.lineOwner, LineOwner::Setup);
    QVERIFY(f.bus.RunUntil([&] { return !f.page.search().Searching(); }));
    QCOMPARE(f.status->text(), QString("Search Completed,Found 1 items"));
    QCOMPARE(f.Get<QPushButton>("SetStartBt")->text(), QString("START"));
    QCOMPARE(f.Cell(1, 1), QString("1AH"));
    QCOMPARE(f.Cell(1, 2), QString("19200,8,N,2,  RTU"));
    QCOMPARE(f.session.lineOwner, LineOwner::Free);

    // An empty row changes nothing.
    f.Pick("BaudPreSet", 0);
    kx::test::ClickCell(*f.Get<QTableWidget>("ResultTable"), 2, 1);
    QVERIFY(!f.Get<QPushButton>("SETBt")->isEnabled());
    QCOMPARE(f.Get<QComboBox>("BaudPreSet")->currentText(), QString("UNKNOW"));

    kx::test::ClickCell(*f.Get<QTableWidget>("ResultTable"), 1, 1);
    QVERIFY(f.Get<QPushButton>("SETBt")->isEnabled());
    QCOMPARE(f.Get<QComboBox>("BaudPreSet")->currentText(), QString("19200"));
    QCOMPARE(f.Get<QComboBox>("LengthPreSet")->currentText(), QString("8 BITS"));
    QCOMPARE(f.Get<QComboBox>("ParityPreSet")->currentText(), QString("NONE"));
    QCOMPARE(f.Get<QComboBox>("StopPreSet")->currentText(), QString("2 STOP BITS"));
    QCOMPARE(f.Get<QComboBox>("ProtocolPreSet")->currentText(), QString("RTU"));
    QCOMPARE(f.Get<QComboBox>("AddrPreSet")->currentIndex(), 2);
    // Scrolling over a closed list changes neither it nor the choice.
    kx::test::TurnWheel(*f.Get<QComboBox>("StopPreSet"), 1);
    QCOMPARE(f.Get<QComboBox>("StopPreSet")->currentText(), QString("2 STOP BITS"));
    QVERIFY(f.Get<QPushButton>("SETBt")->isEnabled());

    QTest::mouseClick(f.Get<QPushButton>("SETBt"), Qt::LeftButton);
    QVERIFY(f.taken.has_value());
    QCOMPARE(*f.taken, (PresetFormat{1, 2, 1, 1, 1}));

    f.Pick("StopPreSet", 1);  // changing a list after the choice disables SET again
    QVERIFY(!f.Get<QPushButton>("SETBt")->isEnabled());

    QTest::mouseClick(f.Get<QPushButton>("SetCloseBt"), Qt::LeftButton);
    QVERIFY(!f.detect->isVisible());
    QVERIFY(!f.status->isVisible());
    QVERIFY(!f.gauge->isVisible());
    QVERIFY(!f.timeLeft->isVisible());
  }

  void restartClearsEveryResultRow() {
    Fixture f(SearchPage::Mode::Pc);
    f.page.AutoDetectBtClick();
    f.Pick("BaudPreSet", 1);
    f.Pick("LengthPreSet", 1);
    f.Pick("ParityPreSet", 1);
    f.Pick("StopPreSet", 1);
    f.Pick("ProtocolPreSet", 1);
    f.bus.Add("kx3@1:9600-7O1-ascii+29");  // every address answers: 29 rows, then the 30th ends it
    QTest::mouseClick(f.Get<QPushButton>("SetStartBt"), Qt::LeftButton);
    QVERIFY(f.bus.RunUntil([&] { return !f.page.search().Searching(); }));
    QCOMPARE(f.status->text(), QString("Search Completed,Found 29 items"));
    QCOMPARE(f.Cell(29, 1), QString("1DH"));
    QTest::mouseClick(f.Get<QPushButton>("SetStartBt"), Qt::LeftButton);  // START again
    QTest::mouseClick(f.Get<QPushButton>("SetStartBt"), Qt::LeftButton);  // CANCEL
    QCOMPARE(f.status->text(), QString("Search abort,Found 0 items"));
    QCOMPARE(f.Cell(29, 1), QString());
    QCOMPARE(f.Cell(1, 1), QString());
  }

  void controllerModeCaptionsAndLists() {
    Fixture f(SearchPage::Mode::Controller);
    f.page.ShowControllerMode();
    QVERIFY(f.detect->isVisible());
    QVERIFY(f.after->isVisible());
    QVERIFY(!f.Get<QPushButton>("SetStartBt")->isVisible());
    QVERIFY(!f.Get<QComboBox>("AddrPreSet")->isVisible());
    QVERIFY(f.Get<QLineEdit>("BeforeAddr")->isVisible());
    QCOMPARE(f.Get<QLineEdit>("BeforeAddr")->text(), QString("1"));
    QCOMPARE(f.Get<QLineEdit>("AfterAddr")->text(), QString("1"));
    QCOMPARE(f.Get<QLineEdit>("BeforeAddr")->maxLength(), 3);
    QCOMPARE(f.Get<QLineEdit>("AfterAddr")->maxLength(), 3);
    QVERIFY(f.Get<QPushButton>("SETBt")->isEnabled());
    QCOMPARE(f.status->text(), QString("Press SET to change KX3 protocol"));
    QCOMPARE(f.gauge->maximum(), 3);
    QVERIFY(f.gauge->isVisible());
    QCOMPARE(f.Get<QLabel>("AFTERLB")->text(), QString("SET TO KX3"));
    auto* sync = f.Get<QCheckBox>("SyncChk");
    QCOMPARE(sync->text(), QString("Communication protocol Auto Synchronize"));
    QCOMPARE(sync->toolTip(),
             QString("Check here if you want following device have the same protocol and continue address"));
    QVERIFY(!sync->isChecked());
    // Presets and after lists from the word 292: 9600, 7 bits, even, 1 stop bit, ASCII.
    const std::vector<std::pair<const char*, const char*>> shown{
        {"BaudPreSet", "9600"},   {"LengthPreSet", "7 BITS"}, {"ParityPreSet", "EVEN"},
        {"StopPreSet", "1 STOP BIT"}, {"ProtocolPreSet", "ASCII"}, {"AfterBaud", "9600"},
        {"AfterLength", "7 BITS"}, {"AfterParity", "EVEN"},   {"AfterStop", "1 STOP BIT"},
        {"AfterProtocol", "ASCII"}};
    for (const auto& [name, text] : shown) QCOMPARE(f.Get<QComboBox>(name)->currentText(), QString(text));
    QCOMPARE(f.Get<QComboBox>("AfterBaud")->count(), 5);
  }

  void controllerModeRules() {
    Fixture f(SearchPage::Mode::Controller);
    f.page.ShowControllerMode();
    f.Pick("AfterProtocol", 1);  // RTU
    QCOMPARE(f.Get<QComboBox>("AfterLength")->currentText(), QString("8 BITS"));
    QCOMPARE(f.Get<QComboBox>("AfterStop")->currentText(), QString("1 STOP BIT"));  // 8 bits, even
    f.Pick("AfterProtocol", 0);
    f.Pick("AfterLength", 0);
    f.Pick("AfterParity", 2);  // NONE with 7 bits
    QCOMPARE(f.Get<QComboBox>("AfterStop")->currentText(), QString("2 STOP BITS"));

    f.Pick("BaudPreSet", 0);  // UNKNOW
    QVERIFY(!f.Get<QPushButton>("SETBt")->isEnabled());
    f.Pick("BaudPreSet", 1);
    QVERIFY(f.Get<QPushButton>("SETBt")->isEnabled());

    auto* addr = f.Get<QLineEdit>("AfterAddr");
    kx::test::Retype(*addr, "25");
    QTest::keyClicks(addr, "X");
    QCOMPARE(addr->text(), QString("25"));
    QTest::keyClicks(addr, "6");  // 256
    QCOMPARE(addr->text(), QString("25"));
    kx::test::Retype(*addr, "");
    QCOMPARE(addr->text(), QString());
  }

  void controllerModeSetRunsTheChange() {
    Fixture f(SearchPage::Mode::Controller);
    f.bus.Add("kx3@1:9600-7E1-ascii");
    f.page.ShowControllerMode();
    kx::test::Retype(*f.Get<QLineEdit>("AfterAddr"), "2");
    f.Pick("AfterBaud", 1);      // 19200
    f.Pick("AfterProtocol", 1);  // RTU -> 8 bits, 1 stop bit
    QTest::mouseClick(f.Get<QPushButton>("SETBt"), Qt::LeftButton);
    QCOMPARE(f.status->text(), QString("KX3 Protocol Changing"));
    QVERIFY(!f.detect->isEnabled());
    QCOMPARE(f.port.LastWrittenText(), std::string(":0106470B02376E\r\n"));
    QVERIFY(f.bus.RunUntil([&] { return !f.page.change().Running(); }));
    QCOMPARE(f.status->text(), QString("SET KX3 Protocol Success"));
    QVERIFY(f.detect->isEnabled());
    QCOMPARE(f.gauge->value(), 3);
    QCOMPARE(f.Get<QLineEdit>("BeforeAddr")->text(), QString("2"));
    QCOMPARE(f.Get<QComboBox>("ProtocolPreSet")->currentText(), QString("RTU"));
    QCOMPARE(f.Get<QComboBox>("BaudPreSet")->currentText(), QString("19200"));
    QVERIFY(f.notices.empty());

    QTest::mouseClick(f.Get<QPushButton>("SetCloseBt"), Qt::LeftButton);
    QVERIFY(f.closed);  // through the window, which leaves the controller mode
  }

  // With synchronisation the "changing" notice comes once the echo's event
  // has returned (its modal window never runs inside the port's event); the
  // synchronisation command follows when it has closed, the success notice
  // after the change has ended.
  void syncNoticesComeAfterThePortEvent() {
    Fixture f(SearchPage::Mode::Controller);
    f.bus.Add("kx3@1:9600-7E1-ascii+1");
    f.page.ShowControllerMode();
    kx::test::Retype(*f.Get<QLineEdit>("AfterAddr"), "2");
    QTest::mouseClick(f.Get<QCheckBox>("SyncChk"), Qt::LeftButton);
    QTest::mouseClick(f.Get<QPushButton>("SETBt"), Qt::LeftButton);
    const auto state = [&] { return f.page.change().state(); };
    QVERIFY(f.bus.RunUntil([&] { return state() != kx::ProtocolChange::State::WritingAddress; }));
    QCOMPARE(state(), kx::ProtocolChange::State::AwaitingNotice);
    QVERIFY(f.notices.empty());
    QCOMPARE(f.port.written.size(), std::size_t{1});
    QTRY_COMPARE(f.notices, std::vector<int>{252});
    QCOMPARE(f.port.LastWrittenText(), std::string(":0206472200018E\r\n"));
    QVERIFY(f.bus.RunUntil([&] { return !f.page.change().Running(); }));
    QCOMPARE(f.status->text(), QString("SET KX3 Protocol Success"));
    QVERIFY(f.notices.size() == 1);
    QTRY_COMPARE(f.notices, (std::vector<int>{252, 251}));
    QCOMPARE(f.port.written.size(), std::size_t{2});
  }
};

QTEST_MAIN(TstSearchPage)
#include "tst_search_page.moc"
