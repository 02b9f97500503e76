// The firmware update window as it opens on the screens it is used at (1280x1024
// and 1920x1080), with a file loaded, during an update of a simulated KX2 in
// its loader and after it: every named control is whole in the window, nothing
// overlaps, captions and the status text fit.
//
// With KX_SCREENSHOT_DIR set (run on a real X server, e.g. under xvfb-run
// with QT_QPA_PLATFORM=xcb), pictures of the three states are saved there.
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QtTest>

#include "core/line/settings.h"
#include "fwupdate/fwupdate_window.h"
#include "kxsim/firmware_gen.h"
#include "support/fake_port.h"
#include "support/layout_checks.h"
#include "support/sim_bus.h"

namespace {

void Shot(QWidget& window, const QString& name) {
  const QString dir = qEnvironmentVariable("KX_SCREENSHOT_DIR");
  if (dir.isEmpty()) return;
  QCoreApplication::processEvents();
  window.grab().save(QStringLiteral("%1/%2-%3.png")
                         .arg(dir, name)
                         .arg(QGuiApplication::primaryScreen()->geometry().width()));
}

void CheckLayout(QWidget& window) {
  QCoreApplication::processEvents();
  const QStringList cut = kx::test::ControlsCutOff(window);
  QVERIFY2(cut.isEmpty(), qPrintable(cut.join(QLatin1Char('\n'))));
  const QStringList overlaps =
      kx::test::OverlappingSiblings(window, [](const kx::test::Placed&, const kx::test::Placed&) { return false; });
  QVERIFY2(overlaps.isEmpty(), qPrintable(overlaps.join(QLatin1Char('\n'))));
  const QStringList captions = kx::test::CaptionsCut(window);
  QVERIFY2(captions.isEmpty(), qPrintable(captions.join(QLatin1Char('\n'))));
}

}  // namespace

class TstFwUpdateLayout : public QObject {
  Q_OBJECT
 private slots:
  void everyStateFitsTheWindow();
  void linesBehindServersShowTheirNoteWhole();
};

void TstFwUpdateLayout::everyStateFitsTheWindow() {
  QTemporaryDir dir;
  const QString file = dir.filePath(QStringLiteral("kx2-v2.34.oc"));
  kxsim::FirmwareRecipe recipe;
  recipe.modelCode = 11;  // KX2
  recipe.version = 0x0234;
  recipe.records = 120;
  QVERIFY(kxsim::WriteFirmwareFile(file.toStdString(), recipe));

  kx::Session session;
  session.settingsWord = 256 + 0x24;  // COM1, 9600 bit/s
  kx::DecodeSettingsWord(session.settingsWord, session.params);
  session.showUserMessage = [](int) {};
  kx::test::FakePort port;
  kx::test::SimBus bus(port);
  bus.Add("kx2@1:9600-8N1-rtu,loader");
  kx::FlashUpdateMemory memory;
  kx::fwupdate::FwUpdateWindow window(session, port, memory, [&] { return file; });
  port.SetOnTrigger([&](kx::ComPort&, const kx::PortEvent& e) { window.OnPortEvent(e); });
  window.show();
  QVERIFY(QTest::qWaitForWindowExposed(&window));
  CheckLayout(window);

  QTest::mouseClick(window.findChild<QPushButton*>("OpenBt"), Qt::LeftButton);
  QVERIFY(window.image().has_value());
  CheckLayout(window);
  Shot(window, QStringLiteral("fwupdate-loaded"));

  QTest::mouseClick(window.findChild<QPushButton*>("UpDateBt"), Qt::LeftButton);
  bus.RunUntil([&] { return window.update().view().progress >= 50; }, 4000);
  QVERIFY(window.update().Busy());
  CheckLayout(window);
  Shot(window, QStringLiteral("fwupdate-writing"));

  bus.RunUntil([&] { return !window.update().Busy(); }, 4000);
  QCOMPARE(window.findChild<QLabel*>("ErrMess")->text(), QStringLiteral("Program update successed"));
  CheckLayout(window);
  Shot(window, QStringLiteral("fwupdate-done"));
}

// The note of a transparent server and the refusal of a Modbus TCP gateway,
// with a file loaded: whole, over nothing, all of their text shown.
void TstFwUpdateLayout::linesBehindServersShowTheirNoteWhole() {
  QTemporaryDir dir;
  const QString file = dir.filePath(QStringLiteral("kx3-v1.05.oc"));
  kxsim::FirmwareRecipe recipe;
  recipe.modelCode = 12;  // KX3: the address box shows too
  recipe.version = 0x0105;
  recipe.records = 20;
  QVERIFY(kxsim::WriteFirmwareFile(file.toStdString(), recipe));

  for (const auto& [path, name] : {std::pair{"tcp://192.168.100.200:4001", "fwupdate-tcp"},
                                   std::pair{"modbus-tcp://192.168.100.201:1502?echo", "fwupdate-modbus-tcp"}}) {
    kx::Session session;
    session.settingsWord = 256 + 0x24;  // COM1, 9600 bit/s
    kx::DecodeSettingsWord(session.settingsWord, session.params);
    session.portPath[1] = path;
    kx::test::FakePort port;
    kx::FlashUpdateMemory memory;
    kx::fwupdate::FwUpdateWindow window(session, port, memory, [&] { return file; });
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QTest::mouseClick(window.findChild<QPushButton*>("OpenBt"), Qt::LeftButton);
    QVERIFY(window.image().has_value());
    CheckLayout(window);
    auto* note = window.findChild<QLabel*>("LineNoteLb");
    QVERIFY(note->isVisible());
    QVERIFY2(note->heightForWidth(note->width()) <= note->height(),
             qPrintable(QStringLiteral("%1: the note needs %2 pixels of height, has %3")
                            .arg(name)
                            .arg(note->heightForWidth(note->width()))
                            .arg(note->height())));
    Shot(window, QString::fromLatin1(name));
  }
}

QTEST_MAIN(TstFwUpdateLayout)
#include "tst_fwupdate_layout.moc"
