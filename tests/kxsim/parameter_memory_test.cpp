// The simulated parameter memory against the download sequences: an image
// uploaded from a controller, turned into the model's write sequence, names
// the values the controller holds, and written into a fresh controller gives
// it the same registers (memory bytes included).
#include <gtest/gtest.h>

#include <map>

#include "core/device/regmap.h"
#include "core/modbus/codec.h"
#include "core/params/download_sequence.h"
#include "kxsim/controller.h"
#include "support/sim_line.h"

namespace kxsim {
namespace {

using namespace std::chrono_literals;
using kx::Bytes;

struct ModelCase {
  Model model;
  std::uint8_t code;
  std::uint16_t upload;
  std::uint16_t unlock;
  std::map<std::uint16_t, std::uint16_t> fixed;  // registers whose download value is derived
};

const ModelCase kModels[] = {
    {Model::Kx1, kx::kModelKx1, 0x472F, 0x471B, {{0x470F, 0x05}, {0x471A, 1}}},
    // Status bits without bit 4 (no range clamps); input type 20 so 0x1017 is byte 52.
    {Model::Kx2, kx::kModelKx2, 0x474C, 0x472A, {{0x4717, 0x0B}, {0x4726, 1}, {0x4718, 20}}},
    // Control mode 2: the output values are written as well.
    {Model::Kx3, kx::kModelKx3, 0x474C, 0x472A, {{0x4717, 0x0B}, {0x4719, 2}}},
};

class ParameterMemoryTest : public ::testing::TestWithParam<ModelCase> {
 protected:
  static std::unique_ptr<Controller> Make(Model model) {
    return std::make_unique<Controller>(model, 1, test::Fmt("9600-8N1-rtu"));
  }
  static Bytes Call(Controller& c, const Bytes& pdu) { return c.Handle(pdu, 0s).value_or(Bytes{}); }
  static kx::ParameterBuffer Upload(Controller& c, std::uint16_t reg) {
    kx::ParameterBuffer b{};
    for (int i = 0; i < 256; ++i) {
      const Bytes a = Call(c, kx::ReadRequestPdu(1, 3, reg, 1));
      EXPECT_EQ(a.size(), 7U);
      if (a.size() == 7) b[a[3]] = a[4];
    }
    return b;
  }
};

TEST_P(ParameterMemoryTest, UploadedImageDownloadsTheSameRegisters) {
  const ModelCase& m = GetParam();
  auto source = Make(m.model);
  // Distinct values in every register the memory holds.
  for (const MemoryField& f : MemoryMap(m.model)) {
    if (f.reg >= 0x4767) continue;  // the program header has its own transfer
    const auto v = static_cast<std::uint16_t>(f.word ? 0x0100 * (f.offset % 97 + 1) + f.offset : (f.offset * 3 + 1) & 0xFF);
    source->SetRegister(f.reg, v);
  }
  for (const auto& [reg, v] : m.fixed) source->SetRegister(reg, v);
  kx::ParameterBuffer image = Upload(*source, m.upload);
  kx::FillTrailer(image, m.code, *source->Register(m.unlock));

  const auto steps = kx::DownloadSequence(m.code, image, *source->Register(m.unlock));
  auto target = Make(m.model);
  for (const kx::WriteStep& s : steps) {
    if (s.skip) continue;
    if (s.reg != m.upload) {
      EXPECT_EQ(s.value, *source->Register(s.reg)) << std::hex << s.reg;
    }
    if (s.unlock) {
      const Bytes unlock = kx::WriteRegisterPdu(1, m.unlock, 0x4F1D);
      ASSERT_EQ(Call(*target, unlock), kx::BuildRtuFrame(unlock));
    }
    const Bytes write = kx::WriteRegisterPdu(1, s.reg, s.value);
    EXPECT_EQ(Call(*target, write), kx::BuildRtuFrame(write)) << std::hex << s.reg;
  }
  for (const kx::WriteStep& s : steps) {
    if (!s.skip && s.reg != m.upload) {
      EXPECT_EQ(*target->Register(s.reg), *source->Register(s.reg)) << std::hex << s.reg;
    }
  }
  // Memory bytes written back through the upload register read back as written.
  const kx::ParameterBuffer again = Upload(*target, m.upload);
  for (const kx::WriteStep& s : steps) {
    if (s.reg == m.upload) {
      EXPECT_EQ(again[s.value >> 8], s.value & 0xFF);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Models, ParameterMemoryTest, ::testing::ValuesIn(kModels));

TEST(ParameterMemoryPerModel, Register470BIsAlarmThreeOnKx2AndTheLineFormatOnKx3) {
  Controller kx2(Model::Kx2, 1, test::Fmt("9600-8N1-rtu"));
  Controller kx3(Model::Kx3, 1, test::Fmt("9600-8N1-rtu"));
  const Bytes write = kx::WriteRegisterPdu(1, 0x470B, 0x00C8);
  EXPECT_EQ(kx2.Handle(write, 0s).value_or(Bytes{}), kx::BuildRtuFrame(write));
  EXPECT_EQ(*kx2.Register(0x470B), 0x00C8);
  // On a KX3 the word is address << 8 | format: address 0 is refused.
  EXPECT_EQ(kx3.Handle(write, 0s).value_or(Bytes{}), kx::BuildRtuFrame(Bytes{1, 0x86, 0x03}));
  EXPECT_EQ(*kx3.Register(0x470B) >> 8, 1);
}

}  // namespace
}  // namespace kxsim
