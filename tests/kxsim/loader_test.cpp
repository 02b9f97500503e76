// The simulated flash loader: a KX3 entering it through the unlock and
// flash-enable writes, a KX2 in it by option, the loader frames, the stored
// program and its version, and the loader faults.
#include <gtest/gtest.h>

#include "core/fwupdate/firmware_file.h"
#include "core/modbus/codec.h"
#include "kxsim/controller.h"
#include "kxsim/firmware_gen.h"
#include "kxsim/line.h"
#include "kxsim/loader.h"
#include "support/sim_line.h"

namespace kxsim {
namespace {

using kx::Bytes;
using test::Fmt;

Bytes Frame(std::uint8_t command, Bytes data) {
  Bytes out;
  out.reserve(data.size() + 4);
  out.push_back(0x01);
  out.push_back(command);
  out.push_back(static_cast<std::uint8_t>(data.size()));
  for (std::uint8_t b : data) out.push_back(b);
  out.push_back(LoaderSum(out));
  return out;
}

Bytes Reply(std::uint8_t command, Bytes data) { return Frame(command, std::move(data)); }

Bytes WriteFrame(const Bytes& record) {
  return Frame(0x01, Bytes(record.begin(), record.end() - 1));  // without the record's check byte
}

Bytes VerifyFrame(std::uint16_t sum) {
  return Frame(0x06, {static_cast<std::uint8_t>(sum & 0xFF), static_cast<std::uint8_t>(sum >> 8)});
}

class LoaderTest : public test::SimLineTest {
 protected:
  Controller& Add(Model model, const char* format, LoaderOptions loader = {true}) {
    ControllerOptions o;
    o.loader = loader;
    return line.Add(std::make_unique<Controller>(model, 1, Fmt(format), o));
  }
  void AtLoaderSettings() { pc = ExactSettings(kLoaderFormat); }
  Bytes AskModbus(const char* format, const Bytes& pdu) {
    pc = ExactSettings(Fmt(format));
    return Send(kx::BuildFrame(Fmt(format).form, pdu));
  }
  // The loader's whole update of `file`; returns the verify answer.
  Bytes Flash(const kx::FirmwareImage& image) {
    AtLoaderSettings();
    EXPECT_EQ(Send(Frame(0x05, {})), Reply(0x05, {0xE5, 0xC7}));
    EXPECT_EQ(Send(Frame(0x03, {0x01})), Reply(0x03, {0x00}));
    EXPECT_EQ(Send(Frame(0x07, {})).size(), 6u);
    for (const Bytes& record : image.records) EXPECT_EQ(Send(WriteFrame(record)), Reply(0x01, {0x00}));
    return Send(VerifyFrame(image.checksum));
  }
};

kx::FirmwareImage Image(std::uint8_t model, std::uint16_t version, std::size_t records) {
  FirmwareRecipe recipe;
  recipe.modelCode = model;
  recipe.version = version;
  recipe.records = records;
  return *kx::CheckFirmware(MakeFirmwareFile(recipe)).image;
}

TEST_F(LoaderTest, Kx3EntersTheLoaderAfterItsWritesAndARestart) {
  Controller& kx3 = Add(Model::Kx3, "9600-7E1-ascii");
  EXPECT_EQ(*kx3.Register(0x472A), 0x0110);
  const Bytes unlock = kx::WriteRegisterPdu(1, 0x472A, 0x4F1D);
  const Bytes enable = kx::WriteRegisterPdu(1, 0x474F, 0xA3C6);
  EXPECT_EQ(AskModbus("9600-7E1-ascii", unlock), kx::BuildFrame(kx::FrameForm::Ascii, unlock));
  pc = ExactSettings(Fmt("9600-7E1-ascii"));
  const SimTime enabledAt = clock;
  line.Receive(kx::BuildFrame(kx::FrameForm::Ascii, enable), enabledAt);
  EXPECT_EQ(line.TakeDue(enabledAt + std::chrono::milliseconds(100)), kx::BuildFrame(kx::FrameForm::Ascii, enable));
  // Restarting: deaf to the loader's frames for a while, then to Modbus for good.
  AtLoaderSettings();
  line.Receive(Frame(0x05, {}), enabledAt + std::chrono::milliseconds(500));
  EXPECT_TRUE(line.TakeDue(enabledAt + std::chrono::milliseconds(900)).empty());
  clock = enabledAt + kRestartPause;
  EXPECT_TRUE(AskModbus("9600-7E1-ascii", kx::ReadRequestPdu(1, 3, 0x4700, 1)).empty());
  // Only at 38400 8N1.
  pc = ExactSettings(Fmt("9600-8N1-rtu"));
  EXPECT_TRUE(Send(Frame(0x05, {})).empty());

  const kx::FirmwareImage image = Image(12, 0x0123, 40);
  EXPECT_EQ(Flash(image), Reply(0x06, {0x00}));
  // Program memory holds every record at its load address.
  for (const Bytes& r : image.records) {
    const auto at = static_cast<std::uint16_t>(r[1] << 8 | r[2]);
    for (std::size_t i = 0; i < r[0]; ++i) ASSERT_EQ(kx3.loader()->Byte(static_cast<std::uint16_t>(at + i)), r[3 + i]);
  }
  // After its restart the new program answers with the new version.
  clock += kRestartPause;
  EXPECT_EQ(AskModbus("9600-7E1-ascii", kx::ReadRequestPdu(1, 3, 0x472A, 1)),
            kx::BuildFrame(kx::FrameForm::Ascii, Bytes{1, 3, 2, 0x01, 0x23}));
}

TEST_F(LoaderTest, TheFlashEnableWriteNeedsTheUnlockAndTheLoaderOption) {
  Add(Model::Kx3, "9600-7E1-ascii");
  const Bytes enable = kx::WriteRegisterPdu(1, 0x474F, 0xA3C6);
  EXPECT_EQ(AskModbus("9600-7E1-ascii", enable), kx::BuildFrame(kx::FrameForm::Ascii, Bytes{1, 0x86, 0x04}));

  line.Add(std::make_unique<Controller>(Model::Kx3, 2, Fmt("9600-7E1-ascii")));  // no loader
  AskModbus("9600-7E1-ascii", kx::WriteRegisterPdu(2, 0x472A, 0x4F1D));
  EXPECT_EQ(AskModbus("9600-7E1-ascii", kx::WriteRegisterPdu(2, 0x474F, 0xA3C6)),
            kx::BuildFrame(kx::FrameForm::Ascii, Bytes{2, 0x86, 0x03}));
}

TEST_F(LoaderTest, Kx2ListensAsALoaderFromTheStartAndVerifiesOnlyTheProgramItStored) {
  Controller& kx2 = Add(Model::Kx2, "9600-8N1-rtu");
  EXPECT_TRUE(AskModbus("9600-8N1-rtu", kx::ReadRequestPdu(1, 3, 0x4700, 1)).empty());
  AtLoaderSettings();
  // Writing before the erase fails; a verify against another sum answers FF.
  const kx::FirmwareImage image = Image(11, 0x0207, 5);
  EXPECT_EQ(Send(WriteFrame(image.records[0])), Reply(0x01, {0x10}));
  EXPECT_EQ(Send(Frame(0x03, {0x01})), Reply(0x03, {0x00}));
  for (const Bytes& r : image.records) Send(WriteFrame(r));
  EXPECT_EQ(Send(VerifyFrame(static_cast<std::uint16_t>(image.checksum + 1))), Reply(0x06, {0xFF}));
  EXPECT_EQ(Send(VerifyFrame(image.checksum)), Reply(0x06, {0x00}));
  // A frame with a wrong sum byte is not answered.
  Bytes bad = Frame(0x05, {});
  bad.back() ^= 1;
  EXPECT_TRUE(Send(bad).empty());
  clock += kRestartPause;
  EXPECT_EQ(*kx2.Register(0x472A), 0x0207);
}

TEST_F(LoaderTest, FaultsShowOnTheLoadersAnswers) {
  struct Case {
    LoaderFault fault;
    std::uint8_t command;
    Bytes data;
    Bytes expected;  // empty: no answer
  };
  Bytes badSum = Reply(0x05, {0xE5, 0xC7});
  badSum.back() = static_cast<std::uint8_t>(badSum.back() + 0x5A);
  Bytes noisy{0x00, 0xFF, 0x13, 0x80};
  const Bytes options = Reply(0x05, {0xE5, 0xC7});
  noisy.insert(noisy.end(), options.begin(), options.end());
  const Case cases[] = {
      {LoaderFault::EraseSilent, 0x03, {0x01}, {}},
      {LoaderFault::BadSum, 0x05, {}, badSum},
      {LoaderFault::Noise, 0x05, {}, noisy},
      {LoaderFault::WriteFail, 0x01, {0x01, 0x10, 0x00, 0xAA}, Reply(0x01, {0x10})},
      {LoaderFault::VerifyFail, 0x06, {0x00, 0x00}, Reply(0x06, {0xFF})},
      {LoaderFault::OptionsWrong, 0x05, {}, Reply(0x05, {0xE5, 0xC6})},
      {LoaderFault::EraseFail, 0x03, {0x01}, Reply(0x03, {0x10})},
      {LoaderFault::Command7Silent, 0x07, {}, {}},
      {LoaderFault::WriteSilent, 0x01, {0x01, 0x10, 0x00, 0xAA}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(LoaderFaultName(c.fault)));
    Loader loader(c.fault);
    if (c.command != 0x03) loader.Handle(Frame(0x03, {0x01}));
    const auto reply = loader.Handle(Frame(c.command, c.data));
    EXPECT_EQ(reply ? reply->bytes : Bytes{}, c.expected);
  }
}

TEST(LoaderFramer, CutsFramesFromPiecesAndSkipsBytesBeforeTheStart) {
  LoaderFramer framer;
  const Bytes write = Frame(0x01, {0x02, 0x10, 0x00, 0xAB, 0xCD});
  EXPECT_TRUE(framer.Feed(Bytes{0x00, 0x7F}).empty());
  EXPECT_TRUE(framer.Feed(std::span(write).first(4)).empty());
  Bytes rest(write.begin() + 4, write.end());
  const Bytes options = Frame(0x05, {});
  rest.insert(rest.end(), options.begin(), options.end());
  EXPECT_EQ(framer.Feed(rest), (std::vector<Bytes>{write, options}));
}

}  // namespace
}  // namespace kxsim
