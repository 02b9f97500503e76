// Smoke run of the monitor on a real X server (Xvfb) with real mouse and
// keyboard events from xdotool, against kxsim's KX3 over a pseudo-terminal:
// connect a tile, pick a list item in its open list, type a value and press
// Enter, turn the wheel over a closed list, switch a KX3 key off through the
// password dialog. Each step is checked in what the controller answers.
//
// Run under `xvfb-run` with QT_QPA_PLATFORM=xcb (the test command does so);
// there is no window manager, so windows sit where they are put and the
// keyboard goes to the window under the pointer.
//
// With KX_SHOTS_DIR set it also fills the screen with the monitor, shows the
// panel of a KX1, a KX2 and the KX3 (security group in view) in turn and
// saves the X screen of each there (`import`), named by the screen width.
#include <QAbstractItemView>
#include <QComboBox>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QScrollArea>
#include <QSpinBox>
#include <QtTest>

#include "core/device/regmap.h"
#include "monitor/monitor_window.h"
#include "monitor/parameter_panel.h"
#include "monitor/password_dialog.h"
#include "serial/port_map.h"
#include "support/kxsim_process.h"
#include "support/port_paths.h"

using kx::monitor::MonitorWindow;

namespace {

constexpr int kWait = 10000;

// Runs xdotool with `args`; false when it failed.
bool Xdotool(const QStringList& args) { return QProcess::execute(QStringLiteral("xdotool"), args) == 0; }

}  // namespace

class TstPanelSmoke : public QObject {
  Q_OBJECT
 private slots:
  void initTestCase();
  void cleanupTestCase();
  void mainPathsWithARealMouseAndKeyboard();
  void screenOfEachModelsPanel();

 private:
  template <class T = QWidget>
  T* w(const char* name) {
    T* c = window_->findChild<T*>(QString::fromLatin1(name));
    if (c == nullptr) qFatal("missing control %s", name);
    return c;
  }
  // Brings `widget` into view (the page may scroll) and returns the screen
  // point of `local` in it (its middle by default).
  QPoint OnScreen(QWidget* widget, QPoint local = QPoint(-1, -1));
  // Moves the pointer there and clicks (button 1), or turns the wheel (4 up, 5 down).
  void Click(QWidget* widget, QPoint local = QPoint(-1, -1), int button = 1);
  // Clicks item `index` in the open list of `list` (opened by a click on it).
  void PickWithMouse(QComboBox* list, int index);
  void Type(const QString& text);
  void Key(const char* key);

  kx::test::ScratchDir dir_;
  kx::test::KxsimProcess sim_;
  kx::Session session_;
  std::unique_ptr<MonitorWindow> window_;
};

void TstPanelSmoke::initTestCase() {
  if (QGuiApplication::platformName() != QLatin1String("xcb")) QSKIP("needs an X server (run under xvfb-run)");
  const std::string link = dir_ / "line";
  const std::string format = ":9600-8N1-ascii";
  QVERIFY(sim_.Start(KXSIM_PATH, {"--link", link, "kx3@1" + format + ",security=0x47", "kx1@2" + format,
                                  "kx2@3" + format}));
  kx::serial::ConfigurePorts(session_, kx::test::OnePort(1, link));
  session_.params.port = 1;
  session_.params.baud = 9600;
  session_.params.dataBits = 8;
  session_.params.parityCode = 0;
  session_.params.stopBits = 1;
  window_ = std::make_unique<MonitorWindow>(session_);
  window_->setGeometry(0, 0, 1100, 900);
  window_->show();
  QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
}

void TstPanelSmoke::cleanupTestCase() {
  window_.reset();
  sim_.Stop();
}

QPoint TstPanelSmoke::OnScreen(QWidget* widget, QPoint local) {
  if (auto* scroll = window_->findChild<QScrollArea*>()) {
    if (scroll->isAncestorOf(widget)) scroll->ensureWidgetVisible(widget);
  }
  QTest::qWait(50);
  return widget->mapToGlobal(local.x() < 0 ? widget->rect().center() : local);
}

void TstPanelSmoke::Click(QWidget* widget, QPoint local, int button) {
  const QPoint at = OnScreen(widget, local);
  QVERIFY(Xdotool({QStringLiteral("mousemove"), QString::number(at.x()), QString::number(at.y())}));
  QTest::qWait(50);
  QVERIFY(Xdotool({QStringLiteral("click"), QString::number(button)}));
  QTest::qWait(150);
}

void TstPanelSmoke::PickWithMouse(QComboBox* list, int index) {
  Click(list);
  QTRY_VERIFY_WITH_TIMEOUT(list->view()->isVisible(), kWait);
  // A release soon after the opening click is not taken as a pick.
  QTest::qWait(QApplication::doubleClickInterval() + 100);
  QAbstractItemView* view = list->view();
  const QRect item = view->visualRect(list->model()->index(index, 0));
  const QPoint at = view->viewport()->mapToGlobal(item.center());
  QVERIFY(Xdotool({QStringLiteral("mousemove"), QString::number(at.x()), QString::number(at.y())}));
  QTest::qWait(100);
  QVERIFY(Xdotool({QStringLiteral("click"), QStringLiteral("1")}));
  QTRY_VERIFY_WITH_TIMEOUT(!list->view()->isVisible(), kWait);
}

void TstPanelSmoke::Type(const QString& text) {
  QVERIFY(Xdotool({QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("60"), text}));
  QTest::qWait(100);
}

void TstPanelSmoke::Key(const char* key) {
  QVERIFY(Xdotool({QStringLiteral("key"), QString::fromLatin1(key)}));
  QTest::qWait(100);
}

void TstPanelSmoke::mainPathsWithARealMouseAndKeyboard() {
  const kx::MonitorEngine& engine = window_->engine();

  // Connect tile 0 (address 1): the panel comes up with the KX3's parameters.
  Click(w("RunBt0"));
  QTRY_VERIFY_WITH_TIMEOUT(engine.Device(0).model == kx::kModelKx3 && w("ParaPL")->isVisible(), kWait);
  QTRY_VERIFY_WITH_TIMEOUT(w("PIDBox")->isEnabled(), kWait);

  // A list item picked with the mouse in the open list is written.
  auto* ctrlSet = w<QComboBox>("CtrlSet");
  PickWithMouse(ctrlSet, 3);
  QCOMPARE(ctrlSet->currentIndex(), 3);
  QTRY_VERIFY_WITH_TIMEOUT(!engine.WritePending() && engine.ParameterWord(0x4719) == 3, kWait);

  // A value typed (slowly, while the polls go on) and entered is written.
  auto* sv = w<QLineEdit>("SV");
  Click(sv);
  QTRY_VERIFY_WITH_TIMEOUT(sv->hasFocus(), kWait);
  Key("ctrl+a");
  Type(QStringLiteral("47"));
  QTest::qWait(600);
  Type(QStringLiteral(".5"));
  QCOMPARE(sv->text(), QStringLiteral("47.5"));
  Key("Return");
  QTRY_VERIFY_WITH_TIMEOUT(!engine.WritePending() && engine.ParameterWord(0x4701) == 475, kWait);
  QTRY_COMPARE_WITH_TIMEOUT(sv->text(), QStringLiteral("47.5"), kWait);

  // The wheel over a closed list leaves it alone.
  auto* runStop = w<QComboBox>("RunStop");
  const int running = runStop->currentIndex();
  const std::uint16_t runWord = engine.ParameterWord(0x4723);
  Click(runStop, QPoint(-1, -1), 5);
  Click(runStop, QPoint(-1, -1), 4);
  QTest::qWait(500);
  QCOMPARE(runStop->currentIndex(), running);
  QVERIFY(!engine.WritePending());
  QCOMPARE(engine.ParameterWord(0x4723), runWord);

  // Key 2 switched off: picked with the mouse, the key typed into the dialog.
  auto* pass2 = w<QComboBox>("Pass2");
  QCOMPARE(pass2->currentText(), QStringLiteral("Enable"));
  PickWithMouse(pass2, 0);
  auto* dialog = window_->parameterPanel()->passwordDialog();
  QTRY_VERIFY_WITH_TIMEOUT(dialog->isVisible(), kWait);
  QCOMPARE(pass2->currentText(), QStringLiteral("Disable"));
  Click(dialog->field());
  Type(QStringLiteral("2222"));
  QCOMPARE(dialog->field()->text(), QStringLiteral("2222"));
  Key("Return");
  QTRY_VERIFY_WITH_TIMEOUT(!dialog->isVisible(), kWait);
  QTRY_VERIFY_WITH_TIMEOUT((engine.Device(0).rec.security.keyBits & 2) == 0, kWait);
  QTRY_COMPARE_WITH_TIMEOUT(pass2->currentText(), QStringLiteral("Disable"), kWait);
  QCOMPARE(w<QComboBox>("Pass1")->currentText(), QStringLiteral("Enable"));
}

void TstPanelSmoke::screenOfEachModelsPanel() {
  const QString dir = qEnvironmentVariable("KX_SHOTS_DIR");
  if (dir.isEmpty()) QSKIP("KX_SHOTS_DIR not set");
  const kx::MonitorEngine& engine = window_->engine();
  window_->setGeometry(window_->screen()->geometry());
  QTest::qWait(300);
  for (int tile : {1, 2}) {
    w<QSpinBox>(qPrintable(QStringLiteral("ComAddr%1").arg(tile)))->setValue(tile + 1);
    Click(w(qPrintable(QStringLiteral("RunBt%1").arg(tile))));
  }
  QTRY_VERIFY_WITH_TIMEOUT(engine.Device(1).model == kx::kModelKx1 && engine.Device(2).model == kx::kModelKx2, kWait);
  const int width = window_->screen()->geometry().width();
  for (const auto& [tile, name] : {std::pair{1, "kx1"}, std::pair{2, "kx2"}, std::pair{0, "kx3"}}) {
    const int before = window_->parameterPanel()->layoutCount();
    Click(w(qPrintable(QStringLiteral("Adr%1Lb").arg(tile))));
    QTRY_VERIFY_WITH_TIMEOUT(engine.SelectedDevice() == tile && window_->parameterPanel()->layoutCount() > before, kWait);
    if (tile == 0) OnScreen(w("SecurityPL"));
    QTest::qWait(700);
    const QString file = QStringLiteral("%1/panel-%2-%3.png").arg(dir, QLatin1String(name)).arg(width);
    QCOMPARE(QProcess::execute(QStringLiteral("import"), {QStringLiteral("-window"), QStringLiteral("root"), file}), 0);
  }
}

QTEST_MAIN(TstPanelSmoke)
#include "tst_panel_smoke.moc"
