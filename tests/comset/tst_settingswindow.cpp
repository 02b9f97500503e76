// The communication settings window's PC page on the offscreen platform: its
// named controls, the page filled from the port settings word and the ports
// present, RTU forcing 8 data bits, OK writing "SETKX.$$$", and Cancel.
#include <QFile>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#include "widgets/radio_group.h"
#include "comset/settings_window.h"
#include "support/fake_port.h"
#include "support/modal_watch.h"
#include "support/user_input.h"
#include "support/window_fixture.h"

using kx::comset::SettingsWindow;
using kx::test::AcceptNextMessageBox;

class SettingsWindowTest : public QObject, protected kx::test::WindowFixture<SettingsWindow> {
  Q_OBJECT

 private:
  void Present(std::initializer_list<int> ports) {
    session_->portPresent = {};
    for (int n : ports) {
      session_->portPresent[static_cast<std::size_t>(n)] = true;
      session_->portPath[static_cast<std::size_t>(n)] = "/dev/ttyUSB" + std::to_string(n);
    }
  }

  // Shows a fresh window for the session as it is now.
  void Show() {
    window_ = std::make_unique<SettingsWindow>(*session_, *routing_, SettingsWindow::Mode::Pc);
    ShowWindow();
  }

  kx::app::RadioGroup* Group(const char* name) { return window_->findChild<kx::app::RadioGroup*>(name); }
  QRadioButton* Com(int n) { return window_->findChild<QRadioButton*>(QString("COM%1").arg(n)); }
  QPushButton* Button(const char* name) { return window_->findChild<QPushButton*>(name); }

  QByteArray SettingsFile() {
    QFile f(dir_.filePath("SETKX.$$$"));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
  }

 private slots:
  void init() {
    QFile::remove(dir_.filePath("SETKX.$$$"));
    Start();
    Route();
  }

  void cleanup() { Stop(); }

  void controls() {
    Present({1});
    session_->settingsWord = 256;
    Show();
    QCOMPARE(window_->objectName(), QString("Protocol"));
    QCOMPARE(window_->windowTitle(), QString("OSTRA DIGITAL CONTROLLER"));
    QCOMPARE(window_->findChild<QGroupBox*>("COMPort")->title(), QString("Com Port"));
    for (int n = 1; n <= 12; ++n) {
      QVERIFY(Com(n) != nullptr);
      QCOMPARE(Com(n)->text(), QString("COM%1").arg(n));
    }
    struct Expect {
      const char* name;
      const char* caption;
      QStringList items;
    };
    const Expect groups[] = {
        {"Baudrate", "Baudrate", {"2400bps", "4800bps", "9600bps", "19200bps", "38400bps"}},
        {"Parity", "Parity Bit", {"None", "Even", "Odd"}},
        {"DataLen", "Data Length", {"7 Bits", "8 Bits"}},
        {"StopBit", "Stop Bit", {"1 Bit", "2 Bits"}},
        {"Format", "Format", {"ASCII", "RTU"}},
    };
    for (const Expect& e : groups) {
      kx::app::RadioGroup* g = Group(e.name);
      QVERIFY2(g != nullptr, e.name);
      QCOMPARE(g->title(), QString(e.caption));
      QStringList items;
      for (int i = 0; i < g->Count(); ++i) items << g->Button(i)->text();
      QCOMPARE(items, e.items);
      QCOMPARE(g->ItemIndex(), 0);  // word 256: every field 0
    }
    QVERIFY(window_->findChild<QFrame*>("BKGPL") != nullptr);
    QCOMPARE(Button("AutoDetectBt")->text(), QString("Auto Detect"));
    QCOMPARE(Button("OKBt")->text(), QString("OK"));
    QCOMPARE(Button("CancelBt")->text(), QString("Cancel"));
    QVERIFY(Button("OKBt")->font().bold());
    for (const char* hidden : {"AutoDetectLb", "TimeStamp", "DetectPL"})
      QVERIFY2(window_->findChild<QWidget*>(hidden)->isHidden(), hidden);
    QVERIFY(window_->findChild<QProgressBar*>("DetectBar")->isHidden());
    QVERIFY(window_->findChild<QFrame*>("KX3AfterPL") != nullptr);
  }

  // A stored port that is gone gives way to the lowest present one; only
  // present ports can be chosen; each shows its device as tool tip.
  void pageFromWordAndPresentPorts() {
    Present({1, 3});
    session_->settingsWord = 5 * 256 + 3 * 16 + 1 * 4 + 2 + 1;  // COM5, 19200, Even, 8 bits, 2 stop bits
    Show();
    QVERIFY(Com(1)->isChecked());
    QCOMPARE(window_->currentPort(), 1);
    for (int n = 1; n <= 12; ++n) QCOMPARE(Com(n)->isEnabled(), n == 1 || n == 3);
    QCOMPARE(Com(3)->toolTip(), QString("/dev/ttyUSB3"));
    QCOMPARE(Group("Baudrate")->ItemIndex(), 3);
    QCOMPARE(Group("Parity")->ItemIndex(), 1);
    QCOMPARE(Group("DataLen")->ItemIndex(), 1);
    QCOMPARE(Group("StopBit")->ItemIndex(), 1);
    QCOMPARE(Group("Format")->ItemIndex(), 0);
  }

  void noPortExists() {
    Present({});
    QString text;
    AcceptNextMessageBox(&text);
    Show();
    QTRY_COMPARE(text, QString("No COM Port Exist"));
    QCOMPARE(window_->currentPort(), 0);
    for (int n = 1; n <= 12; ++n) {
      QVERIFY(!Com(n)->isEnabled());
      QVERIFY(!Com(n)->isChecked());
    }
  }

  void rtuForcesEightBits() {
    Present({1});
    session_->settingsWord = 256;  // 7 bits, ASCII
    Show();
    kx::test::ClickIndicator(*Group("Format")->Button(1));
    QCOMPARE(Group("DataLen")->ItemIndex(), 1);
    QVERIFY(!Group("DataLen")->isEnabled());
    kx::test::ClickIndicator(*Group("Format")->Button(0));
    QVERIFY(Group("DataLen")->isEnabled());
    QCOMPARE(Group("DataLen")->ItemIndex(), 1);

    // A stored RTU word shows 8 bits, disabled.
    window_.reset();
    session_->settingsWord = 256 + 128;
    Show();
    QCOMPARE(Group("DataLen")->ItemIndex(), 1);
    QVERIFY(!Group("DataLen")->isEnabled());
  }

  void okWritesSettingsFile() {
    Present({1, 3});
    session_->settingsWord = 256 + 0x24;
    session_->settingsFileRead = true;
    Show();
    kx::test::ClickIndicator(*Com(3));
    kx::test::ClickIndicator(*Group("Baudrate")->Button(3));
    kx::test::ClickIndicator(*Group("Parity")->Button(1));
    kx::test::ClickIndicator(*Group("DataLen")->Button(0));
    QTest::mouseClick(Button("OKBt"), Qt::LeftButton);
    QCOMPARE(window_->result(), int(QDialog::Accepted));
    QCOMPARE(session_->settingsWord, 820);
    QCOMPARE(SettingsFile(), QByteArray("820"));
  }

  void okWithoutChangeWritesOnlyWhenFileWasNotRead() {
    Present({1});
    session_->settingsWord = 292;
    session_->settingsFileRead = true;
    Show();
    QTest::mouseClick(Button("OKBt"), Qt::LeftButton);
    QVERIFY(!QFile::exists(dir_.filePath("SETKX.$$$")));

    session_->settingsFileRead = false;
    Show();
    QTest::mouseClick(Button("OKBt"), Qt::LeftButton);
    QCOMPARE(SettingsFile(), QByteArray("292"));
  }

  void okReportsFileThatCannotBeWritten() {
    Present({2});
    session_->workDir = dir_.filePath("no/such/folder").toStdString();
    session_->settingsWord = 292;
    Show();
    QString text;
    AcceptNextMessageBox(&text);
    kx::test::ClickIndicator(*Group("Format")->Button(1));
    QTest::mouseClick(Button("OKBt"), Qt::LeftButton);
    QCOMPARE(text, QString("Data can not save !!! Disc full or protected."));
    QCOMPARE(window_->result(), int(QDialog::Accepted));
    QVERIFY(window_->saveFailed());
    QCOMPARE(session_->settingsWord, 2 * 256 + 128 + 0x26);  // in force for this run
  }

  void cancelReleasesOpenPortAndKeepsWord() {
    Present({1});
    session_->settingsWord = 292;
    Show();
    routing_->HoldLine(kx::LineOwner::Setup);
    QVERIFY(routing_->Open());
    kx::test::ClickIndicator(*Group("Baudrate")->Button(4));
    QTest::mouseClick(Button("CancelBt"), Qt::LeftButton);
    QCOMPARE(window_->result(), int(QDialog::Rejected));
    QVERIFY(!port_->IsOpen());
    QCOMPARE(session_->lineOwner, kx::LineOwner::Free);
    QCOMPARE(session_->settingsWord, 292);
    QVERIFY(!QFile::exists(dir_.filePath("SETKX.$$$")));
  }
};

QTEST_MAIN(SettingsWindowTest)
#include "tst_settingswindow.moc"
