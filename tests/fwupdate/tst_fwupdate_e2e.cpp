// Firmware updates end to end: the update window on a pseudo-terminal against
// kxsim with line timing, a KX3 on ASCII 9600 7E1 line settings and a KX2 in
// its loader, each flashed from a generated firmware file. The simulated
// controller verifies the checksum of what it stored, and afterwards answers
// with the version taken from the flashed program.
#include <QEventLoop>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <QtTest>

#include <memory>

#include "core/fwupdate/loader_protocol.h"
#include "core/line/settings.h"
#include "fwupdate/fwupdate_window.h"
#include "kxsim/firmware_gen.h"
#include "serial/port_map.h"
#include "support/kxsim_process.h"
#include "support/port_paths.h"
#include "support/widget_access.h"

using kx::test::Child;

namespace {

// The version word (register 0x472A) read over Modbus; nothing when the
// controller does not answer within `timeout`.
std::optional<std::uint16_t> ReadVersion(const std::string& link, int address, kx::FrameForm form,
                                         std::chrono::milliseconds timeout) {
  const auto end = std::chrono::steady_clock::now() + timeout;
  while (std::chrono::steady_clock::now() < end) {
    kx::test::RawSerialClient client;
    if (!client.Open(link, B9600)) return std::nullopt;
    client.Write(kx::BuildFrame(form, kx::ReadRequestPdu(static_cast<std::uint8_t>(address), 3, 0x472A, 1)));
    const std::size_t length =
        form == kx::FrameForm::Ascii ? kx::AsciiReadAnswerLength(1) : kx::RtuReadAnswerLength(1);
    const kx::Bytes answer = client.Read(length, std::chrono::milliseconds(300));
    if (answer.size() == length) {
      if (form == kx::FrameForm::Rtu) return static_cast<std::uint16_t>(answer[3] << 8 | answer[4]);
      const std::string text(answer.begin(), answer.end());
      return static_cast<std::uint16_t>(std::stoul(text.substr(7, 4), nullptr, 16));
    }
  }
  return std::nullopt;
}

}  // namespace

class TstFwUpdateE2e : public QObject {
  Q_OBJECT
 private slots:
  void flashesASimulatedController_data();
  void flashesASimulatedController();
};

void TstFwUpdateE2e::flashesASimulatedController_data() {
  QTest::addColumn<QString>("controller");
  QTest::addColumn<int>("modelCode");
  QTest::addColumn<int>("settingsWord");
  QTest::addColumn<int>("address");
  QTest::addColumn<bool>("rtu");
  // COM1; 9600 bit/s; the KX3 at ASCII 7E1, the KX2's own format RTU 8N1.
  QTest::newRow("KX3 on ASCII 9600 7E1") << "kx3@4:9600-7E1-ascii,loader" << 12 << 256 + 0x24 << 4 << false;
  QTest::newRow("KX2 in its loader") << "kx2@1:9600-8N1-rtu,loader" << 11 << 256 + 0x24 << 1 << true;
}

void TstFwUpdateE2e::flashesASimulatedController() {
  QFETCH(QString, controller);
  QFETCH(int, modelCode);
  QFETCH(int, settingsWord);
  QFETCH(int, address);
  QFETCH(bool, rtu);

  kx::test::ScratchDir dir;
  const std::string link = dir / "line";
  const std::string file = dir / "update.oc";
  kxsim::FirmwareRecipe recipe;
  recipe.modelCode = static_cast<std::uint8_t>(modelCode);
  recipe.version = 0x0234;
  recipe.records = 120;
  QVERIFY(kxsim::WriteFirmwareFile(file, recipe));

  kx::test::KxsimProcess sim;
  QVERIFY(sim.Start(KXSIM_PATH, {"--link", link, "--timing", controller.toStdString()}));

  kx::Session session;
  kx::serial::ConfigurePorts(session, kx::test::OnePort(1, link));
  session.settingsWord = settingsWord;
  kx::DecodeSettingsWord(settingsWord, session.params);
  std::vector<int> notices;
  // The notices as the user sees them: timed ones close after their time.
  session.showUserMessage = [&](int code) {
    notices.push_back(code);
    if (code == kx::kNoticeLoaderWait) {
      QEventLoop wait;
      QTimer::singleShot(3000, &wait, &QEventLoop::quit);
      wait.exec();
    }
  };
  std::unique_ptr<kx::ComPort> port = session.makePort();
  kx::FlashUpdateMemory memory;
  kx::fwupdate::FwUpdateWindow window(session, *port, memory, [&] { return QString::fromStdString(file); });
  port->SetOnTrigger([&](kx::ComPort&, const kx::PortEvent& e) { window.OnPortEvent(e); });
  window.show();

  kx::test::Click(*Child<QPushButton>(window, "OpenBt"));
  QVERIFY(window.image().has_value());
  kx::test::Retype(*Child<QSpinBox>(window, "Addr1"), address);
  kx::test::Click(*Child<QPushButton>(window, "UpDateBt"));
  QTRY_VERIFY_WITH_TIMEOUT(!window.update().Busy(), 30000);
  QCOMPARE(QString::fromStdString(window.update().view().status), QString("Program update successed"));
  QCOMPARE(window.update().view().progress, 100);
  QTRY_COMPARE(notices, modelCode == 12 ? (std::vector<int>{0, 254}) : (std::vector<int>{255}));
  QVERIFY(!port->IsOpen());
  QCOMPARE(session.lineOwner, kx::LineOwner::Free);

  // After its restart the controller runs the flashed program, which carries the new version.
  const auto version =
      ReadVersion(link, address, rtu ? kx::FrameForm::Rtu : kx::FrameForm::Ascii, std::chrono::milliseconds(5000));
  QVERIFY(version.has_value());
  QCOMPARE(*version, recipe.version);
}

QTEST_MAIN(TstFwUpdateE2e)
#include "tst_fwupdate_e2e.moc"
