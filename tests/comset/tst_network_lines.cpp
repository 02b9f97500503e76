// The communication settings window on lines behind network servers, worked
// as a user works it: on a COM number mapped to tcp:// or modbus-tcp:// the PC
// settings page turns off what the server sets and says so (the stored values
// stay), the bus search searches addresses only, at the PC settings' format,
// and says why, and the protocol change asks before writing a format the
// server will not follow. A FakePort with kxsim's controllers stands for the
// line behind the server.
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QTest>

#include <memory>

#include "comset/search_page.h"
#include "comset/settings_window.h"
#include "core/exchange/requests.h"
#include "support/modal_watch.h"
#include "support/sim_bus.h"
#include "support/user_input.h"
#include "support/widget_access.h"
#include "support/window_fixture.h"
#include "widgets/radio_group.h"

using kx::comset::SettingsWindow;

namespace {

const QString kTcpNote = "COM2 (tcp://127.0.0.1:5000): the server sets the baud rate, parity, data and stop bits.";
const QString kGatewayNote =
    "COM3 (modbus-tcp://127.0.0.1): the gateway sets the baud rate, parity, data and stop bits and speaks RTU on its "
    "line; ASCII/RTU does not apply.";

}  // namespace

class TstNetworkLines : public QObject, protected kx::test::WindowFixture<SettingsWindow> {
  Q_OBJECT

 private:
  void Show(SettingsWindow::Mode mode) {
    window_ = std::make_unique<SettingsWindow>(*session_, *routing_, mode);
    ShowWindow();
  }
  kx::app::RadioGroup* Group(const char* name) { return Get<kx::app::RadioGroup>(name); }
  void ClickCom(int n) { kx::test::ClickIndicator(*Get<QRadioButton>(qPrintable(QString("COM%1").arg(n)))); }
  void Pick(const char* list, int index) { kx::test::ClickInPopup(*Get<QComboBox>(list), index); }
  QLabel* Note(const char* name) { return Get<QLabel>(name); }
  // The format groups' enabled state: Baudrate, Parity, DataLen, StopBit, Format.
  QList<bool> GroupsEnabled() {
    QList<bool> on;
    for (const char* g : {"Baudrate", "Parity", "DataLen", "StopBit", "Format"}) on << Group(g)->isEnabled();
    return on;
  }
  QList<int> GroupItems() {
    QList<int> items;
    for (const char* g : {"Baudrate", "Parity", "DataLen", "StopBit", "Format"}) items << Group(g)->ItemIndex();
    return items;
  }
  QStringList ListTexts() {
    QStringList texts;
    for (const char* l : {"BaudPreSet", "LengthPreSet", "ParityPreSet", "StopPreSet", "ProtocolPreSet"})
      texts << Get<QComboBox>(l)->currentText();
    return texts;
  }
  QList<bool> ListsEnabled() {
    QList<bool> on;
    for (const char* l : {"BaudPreSet", "LengthPreSet", "ParityPreSet", "StopPreSet", "ProtocolPreSet"})
      on << Get<QComboBox>(l)->isEnabled();
    return on;
  }

  std::unique_ptr<kx::test::SimBus> bus_;

 private slots:
  void init() {
    Start();
    for (int n : {1, 2, 3}) session_->portPresent[static_cast<std::size_t>(n)] = true;
    session_->portPath[1] = "/dev/ttyUSB0";
    session_->portPath[2] = "tcp://127.0.0.1:5000";
    session_->portPath[3] = "modbus-tcp://127.0.0.1";
    Route();
    bus_ = std::make_unique<kx::test::SimBus>(*port_);
  }

  void cleanup() {
    bus_.reset();
    Stop();
  }

  void pcSettingsFollowTheChosenPortsLine() {
    session_->settingsWord = 1 * 256 + 0x24;  // COM1, 9600, even, 7 bits, 1 stop bit, ASCII
    session_->settingsFileRead = true;
    Show(SettingsWindow::Mode::Pc);
    const QList<int> stored{2, 1, 0, 0, 0};
    QVERIFY(!Note("ServerNoteLb")->isVisible());
    QCOMPARE(GroupsEnabled(), (QList<bool>{true, true, true, true, true}));

    ClickCom(2);  // tcp://: the format is the server's, the form still applies
    QVERIFY(Note("ServerNoteLb")->isVisible());
    QCOMPARE(Note("ServerNoteLb")->text(), kTcpNote);
    QCOMPARE(GroupsEnabled(), (QList<bool>{false, false, false, false, true}));
    kx::test::ClickIndicator(*Group("Baudrate")->Button(4));  // a click on a group that is off does nothing
    QCOMPARE(GroupItems(), stored);

    ClickCom(3);  // modbus-tcp://: neither format nor form
    QCOMPARE(Note("ServerNoteLb")->text(), kGatewayNote);
    QCOMPARE(GroupsEnabled(), (QList<bool>{false, false, false, false, false}));
    kx::test::ClickIndicator(*Group("Format")->Button(1));
    QCOMPARE(GroupItems(), stored);

    ClickCom(1);  // the local port again: everything the program's
    QVERIFY(!Note("ServerNoteLb")->isVisible());
    QCOMPARE(GroupsEnabled(), (QList<bool>{true, true, true, true, true}));

    ClickCom(2);
    kx::test::ClickIndicator(*Group("Format")->Button(1));  // RTU over tcp://: 8 bits, as always
    QCOMPARE(Group("DataLen")->ItemIndex(), 1);
    QVERIFY(!Group("DataLen")->isEnabled());
    kx::test::ClickIndicator(*Group("Format")->Button(0));
    QVERIFY(!Group("DataLen")->isEnabled());  // back to ASCII: still the server's
    kx::test::Click(*Get<QPushButton>("OKBt"));
    // The port and the form are stored; baud, parity and stop bits as they were.
    QCOMPARE(session_->settingsWord, 2 * 256 + 0x26);
  }

  void searchOverTcpVisitsAddressesOnlyAtThePcFormat() {
    session_->settingsWord = 2 * 256 + 0x80 + 0x30 + 0x02;  // COM2 (tcp://), 19200, none, 8 bits, 1 stop bit, RTU
    bus_->Add("kx2@5:19200-8N1-rtu");
    bus_->Add("kx2@6:9600-7E1-ascii");  // another format: not searched
    Show(SettingsWindow::Mode::Pc);
    kx::test::Click(*Get<QPushButton>("AutoDetectBt"));
    QVERIFY(Note("LineNoteLb")->isVisible());
    QCOMPARE(Note("LineNoteLb")->text(),
             QString("COM2 (tcp://127.0.0.1:5000): the server's line format is fixed, so only addresses are "
                     "searched, in the form chosen in PC settings."));
    QCOMPARE(ListTexts(), (QStringList{"19200", "8 BITS", "NONE", "1 STOP BIT", "RTU"}));
    QCOMPARE(ListsEnabled(), (QList<bool>{false, false, false, false, false}));
    QVERIFY(Get<QComboBox>("AddrPreSet")->isEnabled());

    Pick("AddrPreSet", 1);  // 01H~10H
    kx::test::Click(*Get<QPushButton>("SetStartBt"));
    auto& search = window_->searchPage()->search();
    QCOMPARE(search.total(), 16);
    QCOMPARE(Get<QLabel>("AutoDetectLb")->text(), QString("COM2 (tcp://127.0.0.1:5000), RTU"));
    std::vector<int> combinations;
    QVERIFY(bus_->RunUntil([&] {
      while (port_->written.size() > combinations.size()) combinations.push_back(search.Combination());
      return !search.Searching();
    }));
    QCOMPARE(port_->written.size(), std::size_t{16});
    for (std::size_t i = 0; i < port_->written.size(); ++i)
      QCOMPARE(port_->written[i], kx::ProbeFrame(static_cast<std::uint8_t>(i + 1), kx::FrameForm::Rtu));
    QCOMPARE(combinations, std::vector<int>(16, kx::CombinationNumber(kx::PresetFormat{1, 2, 1, 0, 1})));
    QCOMPARE(Get<QLabel>("AutoDetectLb")->text(), QString("Search Completed,Found 1 items"));
    auto* table = Get<QTableWidget>("ResultTable");
    QCOMPARE(table->item(1, 1)->text(), QString("05H"));
    QCOMPARE(table->item(1, 2)->text(), QString("RTU"));
    kx::test::ClickCell(*table, 1, 2);
    kx::test::Click(*Get<QPushButton>("SETBt"));  // the row's format is the PC settings' own
    QCOMPARE(GroupItems(), (QList<int>{3, 0, 1, 0, 1}));

    // Back on the settings page, the local port: the lists are searched again.
    kx::test::Click(*Get<QPushButton>("SetCloseBt"));
    ClickCom(1);
    kx::test::Click(*Get<QPushButton>("AutoDetectBt"));
    QVERIFY(!Note("LineNoteLb")->isVisible());
    QCOMPARE(ListsEnabled(), (QList<bool>{true, true, true, true, true}));
    QCOMPARE(ListTexts(), (QStringList{"UNKNOW", "UNKNOW", "UNKNOW", "UNKNOW", "UNKNOW"}));
  }

  void searchOverModbusTcpVisitsAddressesOnly() {
    session_->settingsWord = 3 * 256 + 0x24;  // COM3 (modbus-tcp://), 9600 7E1 ASCII
    bus_->Add("kx2@3:9600-7E1-ascii");
    Show(SettingsWindow::Mode::Pc);
    kx::test::Click(*Get<QPushButton>("AutoDetectBt"));
    QCOMPARE(Note("LineNoteLb")->text(),
             QString("COM3 (modbus-tcp://127.0.0.1): the gateway's line format is fixed, so only addresses are "
                     "searched."));
    QCOMPARE(ListsEnabled(), (QList<bool>{false, false, false, false, false}));
    Pick("AddrPreSet", 1);
    kx::test::Click(*Get<QPushButton>("SetStartBt"));
    auto& search = window_->searchPage()->search();
    QCOMPARE(search.total(), 16);
    QVERIFY(bus_->RunUntil([&] { return !search.Searching(); }));
    QCOMPARE(search.probeCount(), 16);
    auto* table = Get<QTableWidget>("ResultTable");
    QCOMPARE(table->item(1, 1)->text(), QString("03H"));
    QCOMPARE(table->item(1, 2)->text(), QString("Modbus TCP"));
    QCOMPARE(table->item(2, 1)->text(), QString());
  }

  void protocolChangeOverTcpAsksFirst() {
    session_->settingsWord = 2 * 256 + 0x24;  // COM2 (tcp://), 9600 7E1 ASCII
    bus_->Add("kx3@1:9600-7E1-ascii");
    Show(SettingsWindow::Mode::Controller);
    QCOMPARE(Note("LineNoteLb")->text(), kTcpNote);
    auto* status = Get<QLabel>("AutoDetectLb");

    kx::test::Click(*Get<QPushButton>("SETBt"));  // nothing differs: no question, no traffic
    QVERIFY(kx::test::VisibleMessageBox() == nullptr);
    QCOMPARE(status->text(), QString("SET KX3 Protocol Success"));

    kx::test::Retype(*Get<QLineEdit>("AfterAddr"), "2");
    auto declined = kx::test::AnswerNextMessageBox(QMessageBox::No);
    kx::test::Click(*Get<QPushButton>("SETBt"));
    QVERIFY(declined->seen);
    QCOMPARE(declined->text,
             QString("COM2 (tcp://127.0.0.1:5000): the server keeps its own line format and will not follow the "
                     "controller's new one. Unless the format chosen here is the server's, the controller will not "
                     "answer through it until the server is set the same.\n\nChange anyway?"));
    QVERIFY(port_->written.empty());  // declined: nothing sent
    QCOMPARE(status->text(), QString("SET KX3 Protocol Success"));

    auto accepted = kx::test::AnswerNextMessageBox(QMessageBox::Yes);
    kx::test::Click(*Get<QPushButton>("SETBt"));
    QVERIFY(accepted->seen);
    QCOMPARE(port_->written.size(), std::size_t{1});
    QCOMPARE(port_->LastWrittenText().substr(0, 13), std::string(":0106470B02A5"));
    auto& change = window_->searchPage()->change();
    QVERIFY(bus_->RunUntil([&] { return !change.Running(); }));
    QCOMPARE(status->text(), QString("SET KX3 Protocol Success"));
    QCOMPARE(Get<QLineEdit>("BeforeAddr")->text(), QString("2"));
  }

  void protocolChangeOverModbusTcpAsksFirst() {
    session_->settingsWord = 3 * 256 + 0x24;  // COM3 (modbus-tcp://)
    Show(SettingsWindow::Mode::Controller);
    QCOMPARE(Note("LineNoteLb")->text(), kGatewayNote);
    Pick("AfterProtocol", 1);  // RTU
    auto declined = kx::test::AnswerNextMessageBox(QMessageBox::No);
    kx::test::Click(*Get<QPushButton>("SETBt"));
    QVERIFY(declined->seen);
    QVERIFY(declined->text.startsWith("COM3 (modbus-tcp://127.0.0.1): the gateway keeps its own line format"));
    QVERIFY(port_->written.empty());
    QCOMPARE(Get<QLabel>("AutoDetectLb")->text(), QString("Press SET to change KX3 protocol"));
  }
};

QTEST_MAIN(TstNetworkLines)
#include "tst_network_lines.moc"
