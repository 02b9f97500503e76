// The parameter buffer's state through OPEN, an upload, SAVE AS and SAVE:
// what each outcome leaves valid and which file SAVE then writes.
#include "core/params/parameter_files.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <vector>

#include "core/device/regmap.h"
#include "core/files/whole_file.h"

namespace kx {
namespace {

namespace fs = std::filesystem;

class ParameterFileStateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("kx_pfs_" + std::to_string(::getpid()) + "_" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  fs::path Write(const std::string& name, std::span<const std::uint8_t> bytes) {
    const fs::path path = dir_ / name;
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return path;
  }
  static ParameterBuffer Sample(std::uint8_t fill) {
    ParameterBuffer b{};
    b.fill(fill);
    FillTrailer(b, kModelKx2, 0x0105);
    return b;
  }
  fs::path dir_;
};

TEST_F(ParameterFileStateTest, OpenOutcomesDecideWhatIsValid) {
  ParameterFileState files;
  files.Uploaded(Sample(7));
  // A missing file and one of the wrong length leave the uploaded buffer as it was.
  EXPECT_EQ(files.Open(dir_ / "missing.par"), ParLoad::OpenFailed);
  const std::vector<std::uint8_t> shorter(259, 1);
  EXPECT_EQ(files.Open(Write("short.par", shorter)), ParLoad::WrongLength);
  EXPECT_TRUE(files.valid());
  EXPECT_EQ(files.buffer(), Sample(7));
  // A good file replaces it.
  EXPECT_EQ(files.Open(Write("good.par", Sample(9))), ParLoad::Loaded);
  EXPECT_TRUE(files.valid());
  EXPECT_EQ(files.buffer(), Sample(9));
  // A file failing its check clears it: nothing is left to save or write.
  ParameterBuffer broken = Sample(3);
  broken[kTrailerCheck] ^= 1;
  EXPECT_EQ(files.Open(Write("broken.par", broken)), ParLoad::BadCheck);
  EXPECT_FALSE(files.valid());
  EXPECT_EQ(files.buffer(), ParameterBuffer{});
}

TEST_F(ParameterFileStateTest, SaveWritesTheFileOfTheLastSuccessfulSaveAs) {
  ParameterFileState files;
  std::string reason;
  EXPECT_FALSE(files.SaveAs(dir_ / "nothing.par"));  // nothing valid yet
  EXPECT_FALSE(fs::exists(dir_ / "nothing.par"));
  EXPECT_FALSE(files.Save());
  files.Uploaded(Sample(1));
  ASSERT_TRUE(files.SaveAs(dir_ / "a.par"));
  EXPECT_TRUE(files.FileChosen());
  // A SAVE AS that fails keeps the file SAVE writes.
  EXPECT_FALSE(files.SaveAs(dir_ / "no-such-dir" / "b.par", &reason));
  EXPECT_FALSE(reason.empty());
  EXPECT_EQ(files.file(), dir_ / "a.par");
  files.Uploaded(Sample(2));
  ASSERT_TRUE(files.Save());
  ParameterBuffer back{};
  EXPECT_EQ(LoadParameterFile(dir_ / "a.par", back), ParLoad::Loaded);
  EXPECT_EQ(back, Sample(2));

  // A reset forgets the file and clears the trailer.
  files.Reset();
  EXPECT_FALSE(files.valid());
  EXPECT_FALSE(files.FileChosen());
  EXPECT_FALSE(files.Save());
  EXPECT_EQ(files.buffer()[kTrailerModel], 0);
  EXPECT_EQ(files.buffer()[kTrailerCheck], 0);
}

}  // namespace
}  // namespace kx
