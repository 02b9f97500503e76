// The flash update against kxsim's simulated controllers and their loader on
// the simulated bus (tick clock, line timing); misbehaving loaders are kxsim's
// loader faults. The last tests hand the update arbitrary bytes by hand: what
// the port delivers, not what a controller does.
#include "core/fwupdate/flash_update.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "core/fwupdate/loader_protocol.h"
#include "core/line/settings.h"
#include "kxsim/firmware_gen.h"
#include "support/fake_port.h"
#include "support/sim_bus.h"

namespace kx {
namespace {

using test::FakePort;
using test::SimBus;
using State = FlashUpdate::State;

// A generated firmware image of `records` records (the version record included).
FirmwareImage Image(FirmwareModel model, std::size_t records) {
  kxsim::FirmwareRecipe recipe;
  recipe.modelCode = model == FirmwareModel::Kx3 ? 12 : 11;
  recipe.records = records;
  recipe.dataBytes = 4;
  return *CheckFirmware(kxsim::MakeFirmwareFile(recipe)).image;
}

std::string AsText(const Bytes& b) { return std::string(b.begin(), b.end()); }

// The notice of the loader wait stays up three seconds (the controller restarts meanwhile).
constexpr int kNoticeTicks = 3000 / kTickMs + 1;
// Long enough for any step to answer or time out.
constexpr int kStepLimit = 2 * (kEraseTicks + kEraseExtensionMax);

// One update on a port wired to a simulated bus; COM3, ASCII 9600 7E1 stored.
struct Rig {
  Rig() : update(session, port, memory) {
    port.SetOnTrigger([this](ComPort&, const PortEvent& e) { update.Handle(e); });
    update.SetOnChange([this] { progress.push_back(update.view().progress); });
    session.settingsWord = 3 * 256 + 0x24;
    DecodeSettingsWord(session.settingsWord, session.params);
  }
  explicit Rig(const std::string& controller) : Rig() {
    if (!controller.empty()) bus.Add(controller);
  }

  bool RunTo(State state, std::size_t record = 0) {
    return bus.RunUntil([&] { return update.state() == state && update.record() == record; }, kStepLimit);
  }
  bool RunToEnd() { return bus.RunUntil([&] { return !update.Busy(); }, 5 * kStepLimit); }
  void CloseNotice() {
    ASSERT_EQ(update.TakeNotice(), kNoticeLoaderWait);
    bus.Tick(kNoticeTicks);
    update.Handle(FlashUpdate::NoticeClosed{});
  }
  const kxsim::Loader* Loader(int address) { return bus.Controller(address).loader(); }

  Session session;
  FakePort port;
  SimBus bus{port};
  FlashUpdateMemory memory;
  FlashUpdate update;
  std::vector<int> progress;
};

TEST(FlashUpdate, Kx2GoesStraightToTheLoaderAt38400AndFinishes) {
  for (SimBus::Delivery delivery : {SimBus::Delivery::Whole, SimBus::Delivery::ByteByByte, SimBus::Delivery::Split}) {
    SCOPED_TRACE(static_cast<int>(delivery));
    Rig rig("kx2@9:9600-7E1-ascii,loader");
    rig.bus.SetDelivery(delivery);
    const FirmwareImage image = Image(FirmwareModel::Kx2, 3);
    ASSERT_TRUE(rig.update.Start(image, 9));
    EXPECT_EQ(rig.session.lineOwner, LineOwner::Firmware);
    EXPECT_EQ(rig.port.comNumber, 3);
    EXPECT_EQ(rig.port.baud, 38400);
    EXPECT_EQ(rig.port.dataBits, 8);
    EXPECT_EQ(rig.port.parity, Parity::None);
    EXPECT_EQ(rig.port.stopBits, 1);
    EXPECT_EQ(rig.port.written.front(), OptionReadFrame());
    EXPECT_EQ(rig.update.view().status, "Reading option byte");
    EXPECT_EQ(rig.update.view().colour, StatusColour::Lime);
    ASSERT_TRUE(rig.RunToEnd());
    EXPECT_EQ(rig.update.state(), State::Done);
    ASSERT_EQ(rig.port.written.size(), 7u);
    EXPECT_EQ(rig.port.written[1], EraseFrame());
    EXPECT_EQ(rig.port.written[2], Command7Frame());
    EXPECT_EQ(rig.port.written[3], WriteRecordFrame(image.records[0]));
    EXPECT_EQ(rig.port.written[6], VerifyFrame(image.checksum));
    EXPECT_TRUE(rig.Loader(9)->verified());
    EXPECT_EQ(rig.update.view().status, "Program update successed");
    EXPECT_EQ(rig.update.view().colour, StatusColour::Lime);
    EXPECT_EQ(rig.update.view().progress, 100);
    EXPECT_EQ(rig.update.TakeNotice(), kNoticeKx2Done);
    EXPECT_FALSE(rig.port.IsOpen());
    EXPECT_EQ(rig.session.lineOwner, LineOwner::Free);
  }
}

TEST(FlashUpdate, Kx3AsksForItsLoaderAtTheStoredSettingsThenSwitches) {
  Rig rig("kx3@1:9600-7E1-ascii,loader");
  rig.bus.SetDelivery(SimBus::Delivery::Split);
  ASSERT_TRUE(rig.update.Start(Image(FirmwareModel::Kx3, 2), 1));
  EXPECT_EQ(rig.port.baud, 9600);
  EXPECT_EQ(rig.port.dataBits, 7);
  EXPECT_EQ(rig.port.parity, Parity::Even);
  EXPECT_EQ(AsText(rig.port.written.back()), ":0106472A4F1D1C\r\n");
  EXPECT_EQ(rig.port.Remaining(rig.update.exchange().SilenceTrigger()), kEnableWriteTicks);
  EXPECT_EQ(rig.update.view().status, "");
  ASSERT_TRUE(rig.RunTo(State::EnablingFlash));
  EXPECT_EQ(AsText(rig.port.written.back()), ":0106474FA3C6FA\r\n");
  EXPECT_FALSE(rig.update.NoticePending());
  ASSERT_TRUE(rig.RunTo(State::LoaderWait));
  // The notice is up while the controller restarts; the line is at the loader's settings.
  EXPECT_EQ(rig.port.written.size(), 2u);
  EXPECT_EQ(rig.port.baud, 38400);
  EXPECT_EQ(rig.port.dataBits, 8);
  EXPECT_EQ(rig.port.parity, Parity::None);
  EXPECT_EQ(rig.port.stopBits, 1);
  rig.CloseNotice();
  EXPECT_EQ(rig.port.written.back(), OptionReadFrame());
  ASSERT_TRUE(rig.RunToEnd());
  EXPECT_EQ(rig.update.state(), State::Done);
  EXPECT_TRUE(rig.Loader(1)->verified());
  EXPECT_EQ(rig.update.TakeNotice(), kNoticeKx3Done);
}

TEST(FlashUpdate, Kx3ThatDoesNotAnswerTheFirstWriteGoesToTheLoaderWait) {
  Rig rig("kx3@1:9600-7E1-ascii,loader,fault=noanswer");
  ASSERT_TRUE(rig.update.Start(Image(FirmwareModel::Kx3, 2), 1));
  rig.bus.Tick(kEnableWriteTicks - 1);
  EXPECT_EQ(rig.update.state(), State::Unlocking);
  rig.bus.Tick();
  EXPECT_EQ(rig.update.state(), State::LoaderWait);
  EXPECT_EQ(rig.port.written.size(), 1u);  // the flash-enable write is skipped
  EXPECT_EQ(rig.update.view().status, "");
  rig.CloseNotice();
  EXPECT_EQ(rig.port.written.back(), OptionReadFrame());
}

TEST(FlashUpdate, Kx3WritesGoOutInTheFormTheSettingsWordSelects) {
  Rig rig("kx3@5:19200-8N1-rtu,loader");
  rig.session.settingsWord = 3 * 256 + 0x80 + 0x32;  // RTU, 19200 bit/s, 8N1
  DecodeSettingsWord(rig.session.settingsWord, rig.session.params);
  rig.bus.SetDelivery(SimBus::Delivery::Split);
  ASSERT_TRUE(rig.update.Start(Image(FirmwareModel::Kx3, 1), 5));
  EXPECT_EQ(rig.port.written.back(), BuildRtuFrame(WriteRegisterPdu(5, kUnlockRegister, kUnlockValue)));
  EXPECT_EQ(rig.port.baud, 19200);
  ASSERT_TRUE(rig.RunTo(State::EnablingFlash));
  EXPECT_EQ(rig.port.written.back(), BuildRtuFrame(WriteRegisterPdu(5, kFlashEnableRegister, kFlashEnableValue)));
  // A garbled echo fails the echo check.
  rig.bus.Controller(5).SetFault(kxsim::Fault::Garbage);
  ASSERT_TRUE(rig.RunToEnd());
  EXPECT_EQ(rig.update.state(), State::Failed);
  EXPECT_EQ(rig.update.view().status, "Enable flash function fail");
}

TEST(FlashUpdate, Kx3WhoseEchoIsAnExceptionFails) {
  Rig rig("kx3@1:9600-7E1-ascii,loader,comwrite=off");
  ASSERT_TRUE(rig.update.Start(Image(FirmwareModel::Kx3, 2), 1));
  ASSERT_TRUE(rig.RunToEnd());
  EXPECT_EQ(rig.port.written.size(), 1u);
  EXPECT_EQ(rig.update.state(), State::Failed);
  EXPECT_EQ(rig.update.view().status, "Enable flash function fail");
  EXPECT_EQ(rig.update.view().progress, 0);
}

TEST(FlashUpdate, NoiseBeforeEveryAnswerIsDropped) {
  Rig rig("kx2@1:9600-7E1-ascii,loader-fault=noise");
  rig.bus.SetDelivery(SimBus::Delivery::ByteByByte);
  ASSERT_TRUE(rig.update.Start(Image(FirmwareModel::Kx2, 3), 1));
  ASSERT_TRUE(rig.RunToEnd());
  EXPECT_EQ(rig.update.state(), State::Done);
}

TEST(FlashUpdate, ProgressForOneHundredRecords) {
  Rig rig("kx2@1:9600-7E1-ascii,loader");
  ASSERT_TRUE(rig.update.Start(Image(FirmwareModel::Kx2, 100), 1));
  rig.progress.clear();
  ASSERT_TRUE(rig.RunTo(State::Writing, 1));
  EXPECT_EQ(rig.progress, (std::vector<int>{10, 11, 12, 13}));
  ASSERT_TRUE(rig.RunTo(State::Writing, 88));
  EXPECT_EQ(rig.progress.back(), 100);
  EXPECT_EQ(rig.progress[rig.progress.size() - 2], 99);
  ASSERT_TRUE(rig.RunToEnd());
  EXPECT_EQ(rig.update.state(), State::Done);
}

// A failed update never shows a full bar: it stays where the update stopped,
// whether a step failed or the line was lost.
TEST(FlashUpdate, FailedUpdateKeepsItsProgress) {
  Rig refused("kx2@1:9600-7E1-ascii,loader-fault=write-fail");
  ASSERT_TRUE(refused.update.Start(Image(FirmwareModel::Kx2, 100), 1));
  ASSERT_TRUE(refused.RunTo(State::Writing, 0));
  EXPECT_EQ(refused.update.view().progress, 12);
  ASSERT_TRUE(refused.RunToEnd());
  EXPECT_EQ(refused.update.state(), State::Failed);
  EXPECT_EQ(refused.update.view().status, "Write data fail");
  EXPECT_EQ(refused.update.view().progress, 12);
  // The next start begins from nothing.
  ASSERT_TRUE(refused.update.Start(Image(FirmwareModel::Kx2, 100), 1));
  EXPECT_EQ(refused.update.view().progress, 0);

  Rig lost("kx2@1:9600-7E1-ascii,loader");
  ASSERT_TRUE(lost.update.Start(Image(FirmwareModel::Kx2, 100), 1));
  ASSERT_TRUE(lost.RunTo(State::Writing, 50));
  lost.update.Handle(FlashUpdate::LineLost{});
  EXPECT_EQ(lost.update.state(), State::Failed);
  EXPECT_EQ(lost.update.view().colour, StatusColour::Red);
  EXPECT_EQ(lost.update.view().failure, Failure::LineLost);
  EXPECT_EQ(lost.update.view().status, "Write Data to ROM ...");  // the step it stopped at
  EXPECT_EQ(lost.update.view().progress, 62);
  EXPECT_EQ(lost.session.lineOwner, LineOwner::Free);
}

TEST(FlashUpdate, EraseTimeOutsGrowFor59_118_And178Seconds) {
  Rig rig("kx2@1:9600-7E1-ascii,loader-fault=erase-silent");
  for (int wait : {1080, 2160, 3240, 3240}) {
    SCOPED_TRACE(wait);
    ASSERT_TRUE(rig.update.Start(Image(FirmwareModel::Kx2, 2), 1));
    ASSERT_TRUE(rig.RunTo(State::Erasing));
    EXPECT_EQ(rig.update.view().status, "Erase Sector 1/2");
    EXPECT_EQ(rig.update.view().colour, StatusColour::Yellow);
    EXPECT_EQ(rig.port.Remaining(rig.update.exchange().SilenceTrigger()), wait);
    rig.bus.Tick(wait - 1);
    EXPECT_EQ(rig.update.state(), State::Erasing);
    rig.bus.Tick();
    EXPECT_EQ(rig.update.state(), State::Failed);
    EXPECT_EQ(rig.update.view().status, "Received data time out error");
    EXPECT_EQ(rig.update.view().colour, StatusColour::Red);
  }
  EXPECT_EQ(rig.memory.eraseExtension, kEraseExtensionMax);
}

TEST(FlashUpdate, EachFailureEndsTheRunWithItsText) {
  struct Case {
    const char* controller;  // empty: nobody answers
    State failsIn;
    const char* text;
    Failure failure;  // an exchange failure, or None for the update's own rule
  };
  const Case cases[] = {
      {"", State::ReadingOptions, "Received data time out error", Failure::TimedOut},
      {"loader-fault=badsum", State::ReadingOptions, "Rx checksum error", Failure::None},
      {"loader-fault=options-wrong", State::ReadingOptions, "Option byte incorrect", Failure::None},
      {"loader-fault=erase-fail", State::Erasing, "Erase sector fail", Failure::None},
      {"loader-fault=command7-silent", State::Command7, "Received data time out error", Failure::TimedOut},
      {"loader-fault=write-fail", State::Writing, "Write data fail", Failure::None},
      {"loader-fault=write-silent", State::Writing, "Received data time out error", Failure::TimedOut},
      {"loader-fault=verify-fail", State::Verifying, "Memory checksum fail", Failure::None},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.controller);
    Rig rig(*c.controller ? std::string("kx2@1:9600-7E1-ascii,") + c.controller : std::string());
    ASSERT_TRUE(rig.update.Start(Image(FirmwareModel::Kx2, 2), 1));
    ASSERT_TRUE(rig.RunTo(c.failsIn));
    const int shown = rig.update.view().progress;
    ASSERT_TRUE(rig.RunToEnd());
    EXPECT_EQ(rig.update.state(), State::Failed);
    EXPECT_EQ(rig.update.view().status, c.text);
    EXPECT_EQ(rig.update.view().failure, c.failure);
    EXPECT_EQ(rig.update.view().colour, StatusColour::Red);
    EXPECT_EQ(rig.update.view().progress, shown);  // the bar stays where the update failed
    EXPECT_FALSE(rig.port.IsOpen());
    EXPECT_EQ(rig.session.lineOwner, LineOwner::Free);
    EXPECT_FALSE(rig.update.NoticePending());
  }
}

TEST(FlashUpdate, PortThatDoesNotOpenLeavesTheLineFree) {
  Rig rig;
  rig.port.failNextOpen = "no such device";
  EXPECT_FALSE(rig.update.Start(Image(FirmwareModel::Kx2, 2), 1));
  EXPECT_EQ(rig.update.view().status, "COM Port 3 not exist !");
  EXPECT_TRUE(rig.update.view().portMissing);
  EXPECT_EQ(rig.session.lineOwner, LineOwner::Free);
  EXPECT_FALSE(rig.update.Busy());
  EXPECT_TRUE(rig.port.written.empty());
}

// Where the line is reached through a server: through a Modbus TCP gateway the
// update is refused before the port is touched (the loader's frames are not
// Modbus requests); through a transparent server it runs, with a note that the
// server must be at 38400 8N1; a server that cannot be reached says why.
TEST(FlashUpdate, LinesBehindServers) {
  struct Case {
    const char* path;
    bool allowed;
    const char* note;
  };
  const Case cases[] = {
      {"/dev/ttyUSB0", true, ""},
      {"rfc2217://10.0.0.5:4001", true, ""},
      {"tcp://127.0.0.1:5000", true,
       "COM3 (tcp://127.0.0.1:5000): the server must run at 38400 bit/s, 8 data bits, no parity, 1 stop bit "
       "(38400 8N1) for the update."},
      {"modbus-tcp://127.0.0.1", false,
       "COM3 (modbus-tcp://127.0.0.1): no firmware update through a Modbus TCP gateway (the loader's frames are not "
       "Modbus requests)."},
      {"modbus-tcp://127.0.0.1:1502?echo", false,
       "COM3 (modbus-tcp://127.0.0.1:1502?echo): no firmware update through a Modbus TCP gateway (the loader's "
       "frames are not Modbus requests)."},
  };
  for (const Case& c : cases) {
    Session session;
    session.portPath[3] = c.path;
    const FirmwareLine line = FirmwareLineOf(session, 3);
    EXPECT_EQ(line.allowed, c.allowed) << c.path;
    EXPECT_EQ(line.note, c.note) << c.path;
  }

  for (FirmwareModel model : {FirmwareModel::Kx2, FirmwareModel::Kx3}) {
    Rig gateway;
    gateway.session.portPath[3] = "modbus-tcp://127.0.0.1";
    EXPECT_FALSE(gateway.update.Start(Image(model, 2), 1));
    EXPECT_EQ(gateway.update.view().status, FirmwareLineOf(gateway.session, 3).note);
    EXPECT_EQ(gateway.update.view().colour, StatusColour::Red);
    EXPECT_TRUE(gateway.update.view().lineRefused);
    EXPECT_EQ(gateway.port.openCount, 0);
    EXPECT_TRUE(gateway.port.written.empty());
    EXPECT_EQ(gateway.session.lineOwner, LineOwner::Free);
  }

  Rig server("kx2@1:9600-7E1-ascii,loader");
  server.session.portPath[3] = "tcp://127.0.0.1:5000";
  ASSERT_TRUE(server.update.Start(Image(FirmwareModel::Kx2, 2), 1));
  EXPECT_TRUE(server.RunToEnd());
  EXPECT_EQ(server.update.state(), State::Done);

  Rig unreachable;
  unreachable.session.portPath[3] = "tcp://127.0.0.1:5000";
  unreachable.port.failNextOpen = "Cannot open COM3 (tcp://127.0.0.1:5000): Connection refused";
  EXPECT_FALSE(unreachable.update.Start(Image(FirmwareModel::Kx2, 2), 1));
  EXPECT_EQ(unreachable.update.view().status, "Cannot open COM3 (tcp://127.0.0.1:5000): Connection refused");
  EXPECT_TRUE(unreachable.update.view().portMissing);
}

TEST(FlashUpdate, StoppingMidwayClosesThePortAndFreesTheLine) {
  Rig rig("kx2@1:9600-7E1-ascii,loader");
  ASSERT_TRUE(rig.update.Start(Image(FirmwareModel::Kx2, 5), 1));
  ASSERT_TRUE(rig.RunTo(State::Writing, 2));
  rig.update.Handle(FlashUpdate::Stop{});
  EXPECT_FALSE(rig.port.IsOpen());
  EXPECT_EQ(rig.session.lineOwner, LineOwner::Free);
  EXPECT_FALSE(rig.update.Busy());
  // A late answer or time-out changes nothing.
  const std::size_t sent = rig.port.written.size();
  rig.port.Feed(LoaderFrame(kLoaderWrite, Bytes{0x00}));
  rig.bus.Tick(kWriteRecordTicks + 1);
  EXPECT_EQ(rig.port.written.size(), sent);
}

TEST(FlashUpdate, StoppingDuringTheLoaderWaitDropsTheNotice) {
  Rig rig("kx3@1:9600-7E1-ascii,loader,fault=noanswer");
  ASSERT_TRUE(rig.update.Start(Image(FirmwareModel::Kx3, 2), 1));
  rig.bus.Tick(kEnableWriteTicks);
  ASSERT_TRUE(rig.update.NoticePending());
  rig.update.Handle(FlashUpdate::Stop{});
  EXPECT_FALSE(rig.update.NoticePending());
  rig.update.Handle(FlashUpdate::NoticeClosed{});
  EXPECT_EQ(rig.port.written.size(), 1u);
  EXPECT_EQ(rig.session.lineOwner, LineOwner::Free);
}

// ---------------------------------------------------------------------------
// Bytes handed over by hand: what the port may deliver whatever is connected.

TEST(FlashUpdateBytes, BytesBeyondAnAnswerAreReadAndDropped) {
  Rig rig;
  ASSERT_TRUE(rig.update.Start(Image(FirmwareModel::Kx2, 1), 1));
  rig.port.Feed(LoaderFrame(kLoaderReadOptions, Bytes{kOptionByte1, kOptionByte2}));
  ASSERT_EQ(rig.update.state(), State::Erasing);
  // An over-long answer: the first five bytes answer, the rest are read and dropped.
  Bytes longAnswer = LoaderFrame(kLoaderErase, Bytes{0x00});
  longAnswer.insert(longAnswer.end(), 300, 0x01);
  rig.port.Feed(longAnswer);
  EXPECT_EQ(rig.update.state(), State::Command7);
  EXPECT_EQ(rig.port.CharsWaiting(), 0u);
}

// Random bytes in random chunks as the loader's answers: the update never
// reads past what it stored, never hangs, and ends as done or failed.
TEST(FlashUpdateBytes, EndsWithinItsTimeOutsWhateverComes) {
  std::mt19937 random(1210);
  for (int round = 0; round < 300; ++round) {
    Session session;
    session.params.port = 1;
    FakePort port;
    FlashUpdateMemory memory;
    FlashUpdate update(session, port, memory);
    port.SetOnTrigger([&](ComPort&, const PortEvent& e) { update.Handle(e); });
    FirmwareImage image;
    image.model = round % 2 == 0 ? FirmwareModel::Kx2 : FirmwareModel::Kx3;
    image.records.assign(3, Bytes{1, 0, 0, 0x55, 0xAA});
    ASSERT_TRUE(update.Start(image, 1));
    for (int step = 0; step < 200 && update.Busy(); ++step) {
      if (update.state() == State::LoaderWait) {
        update.TakeNotice();
        update.Handle(FlashUpdate::NoticeClosed{});
        continue;
      }
      Bytes chunk(random() % 9);
      for (auto& b : chunk) b = static_cast<std::uint8_t>(random() % 4 == 0 ? 0x01 : random());
      if (random() % 3 == 0 && chunk.size() > 1) chunk[1] = static_cast<std::uint8_t>(port.written.back().at(1));
      if (chunk.empty())
        port.Tick(200);
      else
        port.Feed(chunk);
    }
    // Silence from here on: every step ends by its time-out.
    for (int i = 0; i < 10 && update.Busy(); ++i) {
      if (update.TakeNotice()) update.Handle(FlashUpdate::NoticeClosed{});
      port.RunTimers(5000);
    }
    EXPECT_FALSE(update.Busy());
    EXPECT_FALSE(port.IsOpen());
    EXPECT_EQ(session.lineOwner, LineOwner::Free);
  }
}

}  // namespace
}  // namespace kx
