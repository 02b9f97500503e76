// Random bytes of random lengths into both file loaders: they take exactly the
// files their rules accept and never read past what they were given.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "core/params/parameter_buffer.h"
#include "core/ramp/program_curve.h"
#include "core/ramp/program_table.h"

namespace kx {
namespace {

TEST(LoaderFuzzTest, RandomBytesAreTakenOnlyWhenTheirChecksHold) {
  std::mt19937 random(20261210);
  std::uniform_int_distribution<int> byte(0, 255);
  // Lengths around both file sizes and far from them.
  std::uniform_int_distribution<int> length(0, 600);
  for (int round = 0; round < 4000; ++round) {
    int n = length(random);
    if (round % 4 == 0) n = 260;
    if (round % 4 == 1) n = 285;
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(n));
    for (auto& b : bytes) b = static_cast<std::uint8_t>(byte(random));
    if (round % 8 == 1) {  // give some 285-byte files the signature
      bytes[281] = 0x55, bytes[282] = 0xAA, bytes[283] = 0x12, bytes[284] = 0x34;
    }

    ParameterBuffer buffer{};
    const ParLoad par = ApplyParameterFile(bytes, buffer);
    const bool parOk = n == 260 && static_cast<std::uint8_t>(bytes[256] + bytes[257] + bytes[258]) == bytes[259];
    EXPECT_EQ(par == ParLoad::Loaded, parOk);
    if (parOk) {
      EXPECT_FALSE(ModelVersionText(buffer).empty());
    }

    ProgramTable table;
    const RampLoad ramp = ApplyRampFile(bytes, table);
    const bool rampOk = n == 285 && bytes[281] == 0x55 && bytes[282] == 0xAA && bytes[283] == 0x12 && bytes[284] == 0x34;
    EXPECT_EQ(ramp == RampLoad::Loaded, rampOk);
    // Whatever the loaded table holds, its curve is bounded.
    if (rampOk) {
      EXPECT_LT(ComputeCurve(table).segments.size(), 200000U);
    }
  }
}

}  // namespace
}  // namespace kx
