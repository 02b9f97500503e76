// The search page and controller mode inside the real communication settings
// window: Auto Detect lays the page over the settings groups, SET takes a found
// row's settings into the radio groups, CLOSE brings the groups back, closing
// the window during a search frees the line; controller mode shows KX3AfterPL.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#include "widgets/radio_group.h"
#include "comset/search_page.h"
#include "comset/settings_window.h"
#include "support/fake_port.h"
#include "support/sim_bus.h"
#include "support/widget_access.h"
#include "support/window_fixture.h"

using kx::comset::SettingsWindow;

class TstSearchWindow : public QObject, protected kx::test::WindowFixture<SettingsWindow> {
  Q_OBJECT

 private:
  void Show(SettingsWindow::Mode mode) {
    window_ = std::make_unique<SettingsWindow>(*session_, *routing_, mode);
    ShowWindow();
  }
  void Pick(const char* list, int index) { kx::test::ClickInPopup(*Get<QComboBox>(list), index); }

  std::unique_ptr<kx::test::SimBus> bus_;  // kxsim's controllers on the main port

 private slots:
  void init() {
    Start();
    session_->portPresent[1] = true;
    session_->portPresent[2] = true;
    session_->settingsWord = 2 * 256 + 0x24;  // COM2, 9600, even, 7 bits, 1 stop bit, ASCII
    session_->params = kx::PortParams{2, 9600, 7, 1, 1, false};
    Route();
    bus_ = std::make_unique<kx::test::SimBus>(*port_);
  }

  void cleanup() {
    bus_.reset();
    Stop();
  }

  void searchPageOverTheSettingsAndSetTakesARow() {
    bus_->Add("kx2@7:19200-8N2-rtu");
    Show(SettingsWindow::Mode::Pc);
    QWidget* pcPage = Get<QWidget>("PcPage");
    QTest::mouseClick(Get<QPushButton>("AutoDetectBt"), Qt::LeftButton);
    QVERIFY(Get<QFrame>("DetectPL")->isVisible());
    QVERIFY(!pcPage->isVisible());
    QVERIFY(!Get<QFrame>("KX3AfterPL")->isVisible());
    QCOMPARE(Get<QLabel>("AutoDetectLb")->text(), QString("Pressed Start to begin detect"));

    Pick("AddrPreSet", 1);
    Pick("BaudPreSet", 2);      // 19200
    Pick("ParityPreSet", 3);    // NONE
    Pick("StopPreSet", 2);      // 2 stop bits
    Pick("ProtocolPreSet", 2);  // RTU, forcing 8 bits
    QTest::mouseClick(Get<QPushButton>("SetStartBt"), Qt::LeftButton);
    QCOMPARE(port_->comNumber, 2);  // the port chosen on the settings page
    QCOMPARE(session_->lineOwner, kx::LineOwner::Setup);
    QVERIFY(bus_->RunUntil([&] { return !window_->searchPage()->search().Searching(); }));
    QCOMPARE(Get<QLabel>("AutoDetectLb")->text(), QString("Search Completed,Found 1 items"));
    auto* table = Get<QTableWidget>("ResultTable");
    QCOMPARE(table->item(1, 1)->text(), QString("07H"));
    kx::test::ClickCell(*table, 1, 2);
    QVERIFY(Get<QPushButton>("SETBt")->isEnabled());
    QTest::mouseClick(Get<QPushButton>("SETBt"), Qt::LeftButton);
    auto group = [this](const char* name) { return Get<kx::app::RadioGroup>(name)->ItemIndex(); };
    QCOMPARE(group("Baudrate"), 3);  // 19200bps
    QCOMPARE(group("Parity"), 0);    // None
    QCOMPARE(group("DataLen"), 1);   // 8 Bits
    QCOMPARE(group("StopBit"), 1);   // 2 Bits
    QCOMPARE(group("Format"), 1);    // RTU
    QVERIFY(Get<QFrame>("DetectPL")->isVisible());  // the page stays open

    QTest::mouseClick(Get<QPushButton>("SetCloseBt"), Qt::LeftButton);
    QVERIFY(!Get<QFrame>("DetectPL")->isVisible());
    QVERIFY(pcPage->isVisible());
    QVERIFY(!Get<QLabel>("AutoDetectLb")->isVisible());
  }

  void closingTheWindowDuringASearchFreesTheLine() {
    Show(SettingsWindow::Mode::Pc);
    QTest::mouseClick(Get<QPushButton>("AutoDetectBt"), Qt::LeftButton);
    QTest::mouseClick(Get<QPushButton>("SetStartBt"), Qt::LeftButton);
    QVERIFY(port_->IsOpen());
    QCOMPARE(Get<QPushButton>("SetStartBt")->text(), QString("CANCEL"));
    window_.reset();  // OK or Escape while searching
    QVERIFY(!port_->IsOpen());
    QCOMPARE(session_->lineOwner, kx::LineOwner::Free);
    port_->Tick(5);  // nothing is left armed to reach the gone window
  }

  void cancelEndsTheSearch() {
    Show(SettingsWindow::Mode::Pc);
    QTest::mouseClick(Get<QPushButton>("AutoDetectBt"), Qt::LeftButton);
    QTest::mouseClick(Get<QPushButton>("SetStartBt"), Qt::LeftButton);
    QTest::mouseClick(Get<QPushButton>("CancelBt"), Qt::LeftButton);
    QVERIFY(!window_->searchPage()->search().Searching());
    QVERIFY(!port_->IsOpen());
    QCOMPARE(session_->lineOwner, kx::LineOwner::Free);
  }

  void controllerModeShowsTheAfterPanel() {
    Show(SettingsWindow::Mode::Controller);
    QVERIFY(Get<QFrame>("DetectPL")->isVisible());
    QVERIFY(Get<QFrame>("KX3AfterPL")->isVisible());
    QVERIFY(!Get<QWidget>("PcPage")->isVisible());
    QVERIFY(!Get<QPushButton>("AutoDetectBt")->isVisible());
    QVERIFY(!Get<QPushButton>("SetStartBt")->isVisible());
    QVERIFY(Get<QLineEdit>("BeforeAddr")->isVisible());
    QCOMPARE(Get<QLabel>("AutoDetectLb")->text(), QString("Press SET to change KX3 protocol"));
    QCOMPARE(Get<QProgressBar>("DetectBar")->maximum(), 3);
    QCOMPARE(Get<QComboBox>("AfterParity")->currentText(), QString("EVEN"));

    QTest::mouseClick(Get<QPushButton>("SETBt"), Qt::LeftButton);  // nothing differs, no sync
    QCOMPARE(Get<QLabel>("AutoDetectLb")->text(), QString("SET KX3 Protocol Success"));
    QVERIFY(port_->written.empty());

    QTest::mouseClick(Get<QPushButton>("SetCloseBt"), Qt::LeftButton);
    QCOMPARE(window_->result(), SettingsWindow::kProtocolClosed);  // the main window leaves its controller mode
    QVERIFY(!window_->isVisible());
  }
};

QTEST_MAIN(TstSearchWindow)
#include "tst_search_window.moc"
