// The communication settings window on a line behind a network server, as it
// opens on the screens it is used at (1280x1024 and 1920x1080): the PC page
// with the note of a transparent server and of a Modbus TCP gateway, the
// search page and controller mode with theirs. Every named control is whole in
// the window, nothing overlaps, captions fit and each note shows all its text.
//
// With KX_SCREENSHOT_DIR set (run on a real X server, e.g. under xvfb-run
// with QT_QPA_PLATFORM=xcb), pictures of the states are saved there.
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QtTest>

#include <memory>

#include "comset/settings_window.h"
#include "support/layout_checks.h"
#include "support/user_input.h"
#include "support/widget_access.h"
#include "support/window_fixture.h"

using kx::comset::SettingsWindow;

class TstSettingsLayout : public QObject, protected kx::test::WindowFixture<SettingsWindow> {
  Q_OBJECT

 private:
  void Show(SettingsWindow::Mode mode) {
    window_ = std::make_unique<SettingsWindow>(*session_, *routing_, mode);
    ShowWindow();
  }
  void Shot(const QString& name) {
    const QString dir = qEnvironmentVariable("KX_SCREENSHOT_DIR");
    if (dir.isEmpty()) return;
    QCoreApplication::processEvents();
    window_->grab().save(
        QStringLiteral("%1/%2-%3.png").arg(dir, name).arg(QGuiApplication::primaryScreen()->geometry().width()));
  }
  void CheckLayout(const char* note) {
    QCoreApplication::processEvents();
    const QStringList cut = kx::test::ControlsCutOff(*window_);
    QVERIFY2(cut.isEmpty(), qPrintable(cut.join('\n')));
    const QStringList overlaps =
        kx::test::OverlappingSiblings(*window_, [](const kx::test::Placed&, const kx::test::Placed&) { return false; });
    QVERIFY2(overlaps.isEmpty(), qPrintable(overlaps.join('\n')));
    const QStringList captions = kx::test::CaptionsCut(*window_);
    QVERIFY2(captions.isEmpty(), qPrintable(captions.join('\n')));
    auto* label = Get<QLabel>(note);
    QVERIFY(label->isVisible());
    QVERIFY2(label->heightForWidth(label->width()) <= label->height(),
             qPrintable(QString("%1 needs %2 pixels of height, has %3")
                            .arg(note)
                            .arg(label->heightForWidth(label->width()))
                            .arg(label->height())));
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    QVERIFY(screen.contains(window_->frameGeometry()));
  }

 private slots:
  void init() {
    Start();
    for (int n : {1, 2, 3}) session_->portPresent[static_cast<std::size_t>(n)] = true;
    session_->portPath[1] = "/dev/ttyUSB0";
    session_->portPath[2] = "tcp://192.168.100.200:4001";
    session_->portPath[3] = "modbus-tcp://192.168.100.201:1502?echo";
    session_->settingsWord = 2 * 256 + 0x24;  // COM2, 9600 7E1 ASCII
    Route();
  }
  void cleanup() { Stop(); }

  void pcPageNotes() {
    Show(SettingsWindow::Mode::Pc);
    CheckLayout("ServerNoteLb");
    Shot("settings-tcp");
    kx::test::ClickIndicator(*Get<QRadioButton>("COM3"));
    CheckLayout("ServerNoteLb");
    Shot("settings-modbus-tcp");
  }

  void searchPageNote() {
    Show(SettingsWindow::Mode::Pc);
    kx::test::Click(*Get<QPushButton>("AutoDetectBt"));
    CheckLayout("LineNoteLb");
    Shot("search-tcp");
  }

  void controllerModeNote() {
    session_->settingsWord = 3 * 256 + 0x24;
    Show(SettingsWindow::Mode::Controller);
    CheckLayout("LineNoteLb");
    Shot("protocol-modbus-tcp");
  }
};

QTEST_MAIN(TstSettingsLayout)
#include "tst_settings_layout.moc"
