// The ramp/soak editor as app wires it to the monitor, with kxsim's
// controllers on the simulated bus: RAMP SOAK PROGRAM shows it, Read Setting
// runs on the monitor's engine and fills it, and a transfer the selected
// controller cannot take is refused with its reason over the editor, the
// editor's controls coming back.
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTableWidget>
#include <QtTest>

#include "app/ramp_editor_link.h"
#include "core/device/regmap.h"
#include "ramp/ramp_soak_window.h"
#include "support/modal_watch.h"
#include "support/monitor_fixture.h"

using kx::ramp::RampSoakWindow;

namespace {

class Fixture : public kx::test::MonitorFixture {
 public:
  Fixture() : editor(kx::app::AttachRampEditor(*window)) {
    kx2 = &Add("kx2@1");
    Set(*kx2, {{0x4700, 250}, {0x4701, 300}, {0x4724, 1}, {0x4725, 1}, {0x472A, 0x0105}});
    Set(Add("kx1@2"), {{0x4700, 250}, {0x4701, 300}, {0x471A, 1}, {0x471B, 0x0320}});
    Connect(0, 1);
    Connect(1, 2);
    Run(60);
  }
  ~Fixture() { kx::test::CancelModalWatches(); }
  QPushButton* button(const char* name) { return editor->findChild<QPushButton*>(QString::fromLatin1(name)); }
  bool transferShown() { return editor->findChild<QLabel*>("UpLoadLabelP")->isVisible(); }
  // Clicks Read Setting of the editor; the refusal's box is answered and returned.
  std::shared_ptr<kx::test::BoxSeen> readRefused() {
    auto box = kx::test::AnswerNextMessageBox(QMessageBox::Ok);
    QTest::mouseClick(button("ReadSBt"), Qt::LeftButton);
    return box;
  }

  RampSoakWindow* editor;
  kxsim::Controller* kx2 = nullptr;
};

}  // namespace

class TstRampEditorLink : public QObject {
  Q_OBJECT
 private slots:
  void readSettingRunsOnTheMonitorsEngine() {
    Fixture f;
    QCOMPARE(f.editor->parentWidget(), f.window.get());
    QVERIFY(!f.editor->isVisible());
    Fixture::Set(*f.kx2, {{0x4768, 1}, {0x4780, 0xFFF1}, {0x4781, 90}});  // pattern 0, step 0: -1.5 for 01:30
    QVERIFY(f.action("RampSoakprogram1")->isEnabled());
    f.action("RampSoakprogram1")->trigger();
    QVERIFY(f.editor->isVisible());

    QTest::mouseClick(f.button("ReadSBt"), Qt::LeftButton);
    QVERIFY(f.transferShown());
    QVERIFY(f.window->engine().RunningTransfer() != nullptr);
    f.Run(600);
    QVERIFY(!f.transferShown());
    QVERIFY(f.editor->filled());
    auto* grid = f.editor->findChild<QTableWidget*>("ProgTable");
    QCOMPARE(grid->item(2, 1)->text(), QStringLiteral("-1.5"));
    QCOMPARE(grid->item(3, 1)->text(), QStringLiteral("01:30"));
    QVERIFY(f.action("SAVEAS1")->isEnabled());  // the monitor's buffer was read on the way
    QVERIFY(f.button("WrBt")->isEnabled());
  }

  // The editor stays open while the monitor's selection and the controller
  // change: its transfers ask the same rule as the menu item each time.
  void aTransferTheControllerCannotTakeIsRefusedWithItsReason() {
    Fixture f;
    f.action("RampSoakprogram1")->trigger();

    f.kx2->SetComWrite(false);
    f.Run(30);
    QVERIFY(!f.action("RampSoakprogram1")->isEnabled());
    auto box = f.readRefused();
    QVERIFY(box->seen);
    QCOMPARE(box->text, QStringLiteral("Please enable COM write function first"));
    QVERIFY(f.window->engine().RunningTransfer() == nullptr);
    QVERIFY(!f.transferShown());
    QVERIFY(f.button("ReadSBt")->isEnabled());

    f.Select(1);  // the KX1
    f.Run(30);
    QCOMPARE(f.window->engine().Device(f.window->engine().SelectedDevice()).model, kx::kModelKx1);
    box = f.readRefused();
    QVERIFY(box->seen);
    QCOMPARE(box->text, QStringLiteral("the controller has no ramp/soak program"));
    QVERIFY(f.window->engine().RunningTransfer() == nullptr);
    QVERIFY(f.button("ReadSBt")->isEnabled() && f.button("ReadFBt")->isEnabled());
  }
};

QTEST_MAIN(TstRampEditorLink)
#include "tst_ramp_editor_link.moc"
