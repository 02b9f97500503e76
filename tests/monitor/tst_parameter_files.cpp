// The monitor's FILE and PARAMETERS commands on the parameter buffer, on the
// offscreen platform with kxsim's controllers on the simulated bus: OPEN, SAVE AS and SAVE with their
// messages and refusals, the items they enable, and the checks before a write
// to a controller (remote writing enabled, the model question).
#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QtTest>

#include <fstream>
#include <memory>
#include <vector>

#include "core/device/regmap.h"
#include "core/params/parameter_buffer.h"
#include "monitor/monitor_window.h"
#include "monitor/parameter_files.h"
#include "support/modal_watch.h"
#include "support/monitor_fixture.h"
#include "widgets/file_dialogs.h"

using kx::monitor::MonitorWindow;
using kx::monitor::ParameterFiles;
using kx::test::BoxSeen;

namespace {

void WriteBytes(const QString& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream(path.toStdString(), std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::vector<std::uint8_t> Kx1File() {
  std::vector<std::uint8_t> bytes(260, 0x11);
  bytes[256] = 0x41, bytes[257] = 0x03, bytes[258] = 0x20, bytes[259] = 0x64;
  return bytes;
}

// The monitor with its file chooser answering `chosen`, in a temporary folder.
class Fixture : public kx::test::MonitorFixture {
 public:
  Fixture() {
    kx::app::SetFileChooser([this](kx::app::FileDialogKind, const QString&) { return chosen; });
  }
  ~Fixture() {
    kx::test::CancelModalWatches();
    kx::app::SetFileChooser({});
  }
  // Triggers a command answering its message box; returns what the box said.
  std::shared_ptr<BoxSeen> run(const char* name, QMessageBox::StandardButton button = QMessageBox::Ok) {
    auto seen = kx::test::AnswerNextMessageBox(button);
    action(name)->trigger();
    return seen;
  }
  bool enabled(std::initializer_list<const char*> names, bool on) {
    for (const char* n : names)
      if (action(n)->isEnabled() != on) return false;
    return true;
  }

  QTemporaryDir dir;
  QString chosen;
};

}  // namespace

class TstParameterFiles : public QObject {
  Q_OBJECT
 private slots:
  void openSaveAndTheirRefusals();
  void writesNeedRemoteWritingAndAskAboutAnotherModel();
  void destructiveQuestionsNameOtherModelsAndDeclineOnEnter();
};

void TstParameterFiles::openSaveAndTheirRefusals() {
  Fixture f;
  const auto* files = f.window->findChild<ParameterFiles*>("ParameterFiles");
  QVERIFY(files != nullptr);
  QVERIFY(f.enabled({"SAVE1", "SAVEAS1", "DOWNLOAD1", "WRITEALL"}, false));

  f.chosen = f.dir.filePath("kx1.par");
  WriteBytes(f.chosen, Kx1File());
  auto box = f.run("OPEN1");
  QCOMPARE(box->text, QStringLiteral("KX1 V3.20 parameters successful load"));
  QCOMPARE(box->caption, QStringLiteral("Done"));
  QVERIFY(f.enabled({"SAVEAS1", "DOWNLOAD1", "WRITEALL"}, true));
  QVERIFY(!f.action("SAVE1")->isEnabled());  // greyed until SAVE AS has been used

  // Another length: refused, the buffer and the items stay.
  struct Case {
    const char* name;
    std::vector<std::uint8_t> bytes;
  };
  const Case wrongLength[] = {{"short.par", std::vector<std::uint8_t>(259, 0)},
                              {"long.par", std::vector<std::uint8_t>(261, 0)}};
  for (const Case& c : wrongLength) {
    f.chosen = f.dir.filePath(c.name);
    WriteBytes(f.chosen, c.bytes);
    box = f.run("OPEN1");
    QCOMPARE(box->text, QStringLiteral("File data length or content error !"));
    QCOMPARE(box->caption, QStringLiteral("File Error"));
    QCOMPARE(files->Buffer()[0], 0x11);
    QVERIFY(f.enabled({"SAVEAS1", "DOWNLOAD1", "WRITEALL"}, true));
  }
  f.chosen = f.dir.filePath("none.par");
  box = f.run("OPEN1");
  QCOMPARE(box->text, QStringLiteral("Can't perform one of the following file operations: Open, Seek, Read\n"
                                     "No such file or directory"));
  QCOMPARE(box->caption, QStringLiteral("File Error"));
  f.chosen = f.dir.path();
  box = f.run("OPEN1");
  QCOMPARE(box->text, QStringLiteral("Can't perform one of the following file operations: Open, Seek, Read\n"
                                     "Is a directory"));

  // SAVE AS a new file, then SAVE; over an existing file SAVE AS asks first.
  f.chosen = f.dir.filePath("copy.par");
  box = f.run("SAVEAS1");
  QCOMPARE(box->text, QStringLiteral("KX1 V3.20 save parameters to file done"));
  QCOMPARE(box->caption, QStringLiteral("Done"));
  QVERIFY(f.action("SAVE1")->isEnabled());
  QFile copy(f.chosen);
  QVERIFY(copy.open(QIODevice::ReadOnly));
  const QByteArray saved = copy.readAll();
  QCOMPARE(saved, QByteArray(reinterpret_cast<const char*>(Kx1File().data()), 260));
  f.chosen = f.dir.filePath("short.par");
  box = f.run("SAVEAS1", QMessageBox::Cancel);
  QCOMPARE(box->text, QStringLiteral("Over write file : short.par"));
  QCOMPARE(QFileInfo(f.chosen).size(), 259);
  box = f.run("SAVE1");
  QCOMPARE(box->text, QStringLiteral("KX1 V3.20 save parameters to file done"));

  // A wrong check byte clears the buffer and takes the items away.
  std::vector<std::uint8_t> bad = Kx1File();
  bad[259] = 0x65;
  f.chosen = f.dir.filePath("bad.par");
  WriteBytes(f.chosen, bad);
  box = f.run("OPEN1");
  QCOMPARE(box->text, QStringLiteral("File data length or content error !"));
  QVERIFY(f.enabled({"SAVE1", "SAVEAS1", "DOWNLOAD1", "WRITEALL"}, false));
  QCOMPARE(files->Buffer(), kx::ParameterBuffer{});

  // A save that cannot be written says so and leaves no file behind.
  f.chosen = f.dir.filePath("kx1.par");
  f.run("OPEN1");
  f.chosen = f.dir.filePath("no/such/folder/x.par");
  box = f.run("SAVEAS1");
  QCOMPARE(box->text, QStringLiteral("Fail to save file\nNo such file or directory"));
  QVERIFY(!QFileInfo::exists(f.chosen));
}

// Enter on the box presses its default button; records what the box said.
std::shared_ptr<BoxSeen> EnterOnNextBox() {
  auto seen = std::make_shared<BoxSeen>();
  kx::test::WatchFor(kx::test::VisibleMessageBox, [seen](QWidget* w) {
    auto* box = qobject_cast<QMessageBox*>(w);
    seen->text = box->text();
    seen->caption = box->windowTitle();
    seen->seen = true;
    QTest::keyClick(box, Qt::Key_Return);
  });
  return seen;
}

// WRITE TO ALL CONNECTED DEVICE names the connected controllers of another
// model; every question before writing controllers declines on Enter.
void TstParameterFiles::destructiveQuestionsNameOtherModelsAndDeclineOnEnter() {
  Fixture f;
  Fixture::Set(f.Add("kx1@1"), {{0x4700, 250}, {0x4701, 300}, {0x471A, 1}, {0x471B, 0x0320}});
  Fixture::Set(f.Add("kx2@2"), {{0x4700, 250}, {0x4701, 300}, {0x4724, 1}, {0x4725, 1}, {0x472A, 0x0105}});
  Fixture::Set(f.Add("kx1@3"), {{0x4700, 250}, {0x4701, 300}, {0x471A, 1}, {0x471B, 0x0320}});
  f.Connect(0, 1);
  f.Connect(1, 2);
  f.Connect(2, 3);
  f.Run(60);
  QCOMPARE(f.window->engine().Device(1).model, kx::kModelKx2);
  f.chosen = f.dir.filePath("kx1.par");
  WriteBytes(f.chosen, Kx1File());
  f.run("OPEN1");

  auto box = EnterOnNextBox();
  f.action("WRITEALL")->trigger();
  QVERIFY(box->seen);
  QCOMPARE(box->text, QStringLiteral("All device connected to the communication will be set, do you really want to "
                                     "process ?\n\nThe buffer holds KX1 V3.20 parameters; connected controllers of "
                                     "another model:\n  address 2 (KX2)"));
  QVERIFY(f.window->engine().RunningTransfer() == nullptr);

  // Only controllers of the buffer's model: the question as it always was.
  f.w<QPushButton>("RunBt1")->click();  // the KX2 disconnected
  f.Run(20);
  QVERIFY(!f.window->engine().Device(1).connected);
  box = f.run("WRITEALL", QMessageBox::No);
  QCOMPARE(box->text, QStringLiteral("All device connected to the communication will be set, do you really want to process ?"));
}

void TstParameterFiles::writesNeedRemoteWritingAndAskAboutAnotherModel() {
  Fixture f;
  kxsim::Controller& kx2 = f.Add("kx2@1");
  Fixture::Set(kx2, {{0x4700, 250}, {0x4701, 300}, {0x4724, 1}, {0x4725, 1}, {0x472A, 0x0105}});
  kx2.SetComWrite(false);
  f.Connect(0, 1);
  f.Run(40);
  QCOMPARE(f.window->engine().Device(0).model, kx::kModelKx2);

  f.chosen = f.dir.filePath("kx1.par");
  WriteBytes(f.chosen, Kx1File());
  f.run("OPEN1");
  auto box = f.run("DOWNLOAD1");
  QCOMPARE(box->text, QStringLiteral("Please enable COM write function first"));
  QVERIFY(f.window->engine().RunningTransfer() == nullptr);

  kx2.SetComWrite(true);
  f.Run(20);
  box = EnterOnNextBox();  // Enter declines: No is the default button
  f.action("DOWNLOAD1")->trigger();
  QVERIFY(box->seen);
  QCOMPARE(box->text, QStringLiteral("It is different model between buffer and download device, do you really want to process ?"));
  QCOMPARE(box->caption, QStringLiteral("Model Name Confirm"));
  QVERIFY(f.window->engine().RunningTransfer() == nullptr);
  QVERIFY(!f.window->findChild<QWidget*>("ProgressBar")->isVisible());

  box = f.run("DOWNLOAD1", QMessageBox::Yes);
  QVERIFY(box->seen);
  const kx::Transfer* running = f.window->engine().RunningTransfer();
  QVERIFY(running != nullptr);
  // The selected controller's sequence (KX2) is written, whatever the buffer's model.
  QCOMPARE(dynamic_cast<const kx::WriteSequence*>(running)->steps().size(), std::size_t{99});
  QVERIFY(f.window->findChild<QWidget*>("ProgressBar")->isVisible());
  QCOMPARE(f.window->findChild<QLabel*>("ProgressLb")->text(), QStringLiteral("WRITE TO SELECTED DEVICE"));
}

QTEST_MAIN(TstParameterFiles)
#include "tst_parameter_files.moc"
