#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <vector>

#include "core/device/regmap.h"
#include "core/files/whole_file.h"
#include "core/monitor/transfer.h"
#include "core/params/parameter_buffer.h"

namespace kx {
namespace {

namespace fs = std::filesystem;

class ParFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("kx_par_" + std::to_string(::getpid()) + "_" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  fs::path Write(const std::string& name, const std::vector<std::uint8_t>& bytes) {
    const fs::path path = dir_ / name;
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                 static_cast<std::streamsize>(bytes.size()));
    return path;
  }
  static ParameterBuffer Sample() {
    ParameterBuffer b{};
    for (std::size_t i = 0; i < kParameterImageBytes; ++i) b[i] = static_cast<std::uint8_t>(i * 7 + 3);
    FillTrailer(b, kModelKx2, 0x0105);
    return b;
  }
  fs::path dir_;
};

TEST_F(ParFileTest, SavedBufferLoadsBackWithItsTrailerAndText) {
  const ParameterBuffer saved = Sample();
  EXPECT_EQ(saved[256], 0x42);
  EXPECT_EQ(saved[257], 0x01);
  EXPECT_EQ(saved[258], 0x05);
  EXPECT_EQ(saved[259], 0x48);
  EXPECT_EQ(ModelVersionText(saved), "KX2 V1.05");

  const fs::path path = dir_ / "a.par";
  ASSERT_TRUE(SaveParameterFile(path, saved));
  EXPECT_EQ(fs::file_size(path), 260U);
  ParameterBuffer loaded{};
  EXPECT_EQ(LoadParameterFile(path, loaded), ParLoad::Loaded);
  EXPECT_EQ(loaded, saved);
  // Saving again replaces the file and leaves nothing beside it.
  ASSERT_TRUE(SaveParameterFile(path, saved));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);
}

TEST_F(ParFileTest, OnlyTheTrailerIsCheckedAndNamesModelAndVersion) {
  std::vector<std::uint8_t> bytes(260, 0x5A);
  bytes[256] = 0x41, bytes[257] = 0x03, bytes[258] = 0x20, bytes[259] = 0x64;
  ParameterBuffer b{};
  EXPECT_EQ(LoadParameterFile(Write("kx1.par", bytes), b), ParLoad::Loaded);
  EXPECT_EQ(ModelVersionText(b), "KX1 V3.20");
  EXPECT_EQ(b[17], 0x5A);
}

TEST_F(ParFileTest, RefusedFilesKeepOrClearTheBufferAsTheirCaseSays) {
  const ParameterBuffer sample = Sample();
  std::vector<std::uint8_t> good(sample.begin(), sample.end());
  std::vector<std::uint8_t> badCheck = good;
  badCheck[259] ^= 0x01;
  struct Case {
    const char* name;
    std::vector<std::uint8_t> bytes;
    ParLoad result;
    bool cleared;
  };
  const Case cases[] = {
      {"empty", {}, ParLoad::WrongLength, false},
      {"short", std::vector<std::uint8_t>(good.begin(), good.end() - 1), ParLoad::WrongLength, false},
      {"long", [&] { auto v = good; v.push_back(0); return v; }(), ParLoad::WrongLength, false},
      {"huge", std::vector<std::uint8_t>(1 << 20, 0x11), ParLoad::WrongLength, false},
      {"check", badCheck, ParLoad::BadCheck, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ParameterBuffer b;
    b.fill(0x77);
    EXPECT_EQ(LoadParameterFile(Write(c.name, c.bytes), b), c.result);
    ParameterBuffer expected;
    expected.fill(c.cleared ? 0 : 0x77);
    EXPECT_EQ(b, expected);
  }
  ParameterBuffer b{};
  EXPECT_EQ(LoadParameterFile(dir_ / "missing.par", b), ParLoad::OpenFailed);
  EXPECT_EQ(LoadParameterFile(dir_, b), ParLoad::OpenFailed);  // a folder
  EXPECT_EQ(LoadMessage(ParLoad::OpenFailed).caption, Msg::FileErrorCaption);
  EXPECT_EQ(LoadMessage(ParLoad::BadCheck).text, Msg::FileLengthOrContentError);
  EXPECT_EQ(LoadMessage(ParLoad::ReadFailed).caption, Msg::BufferErrorCaption);
}

TEST_F(ParFileTest, FailedSaveLeavesThePreviousFileWhole) {
  const fs::path path = dir_ / "keep.par";
  ParameterBuffer old = Sample();
  ASSERT_TRUE(SaveParameterFile(path, old));
  // The file beside the target cannot be made: the save fails, the old file stays.
  fs::path temp = path;
  temp += ".tmp-" + std::to_string(::getpid());
  fs::create_directory(temp);
  ParameterBuffer other{};
  EXPECT_FALSE(SaveParameterFile(path, other));
  ParameterBuffer loaded{};
  EXPECT_EQ(LoadParameterFile(path, loaded), ParLoad::Loaded);
  EXPECT_EQ(loaded, old);
  // A folder where the file should go is not replaced either.
  EXPECT_FALSE(SaveParameterFile(dir_, other));
  EXPECT_TRUE(fs::is_directory(dir_));
}

// Every failed read or write names the system's reason, and whether a file
// can be written is known before its content exists.
TEST_F(ParFileTest, FileErrorsGiveTheSystemsReason) {
  ParameterBuffer b{};
  std::string reason;
  EXPECT_EQ(LoadParameterFile(dir_ / "missing.par", b, &reason), ParLoad::OpenFailed);
  EXPECT_EQ(reason, "No such file or directory");
  EXPECT_EQ(LoadParameterFile(dir_, b, &reason), ParLoad::OpenFailed);
  EXPECT_EQ(reason, "Is a directory");
  const fs::path fifo = dir_ / "fifo.par";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(LoadParameterFile(fifo, b, &reason), ParLoad::OpenFailed);
  EXPECT_EQ(reason, "not a regular file");

  struct Case {
    fs::path path;
    const char* reason;
  };
  ASSERT_TRUE(SaveParameterFile(dir_ / "keep.par", Sample()));
  // A FIFO (as a device) is never replaced by a file.
  for (const Case& c : {Case{dir_ / "no" / "x.par", "No such file or directory"}, Case{dir_, "Is a directory"},
                        Case{fifo, "not a regular file"}, Case{dir_ / "keep.par" / "x.par", "Not a directory"}}) {
    SCOPED_TRACE(c.path.string());
    EXPECT_EQ(WriteProblem(c.path, kParameterBufferBytes), c.reason);
    EXPECT_FALSE(SaveParameterFile(c.path, Sample(), &reason));
    EXPECT_EQ(reason, c.reason);
  }
  EXPECT_EQ(fs::status(fifo).type(), fs::file_type::fifo);
  EXPECT_EQ(WriteProblem(dir_ / "new.par", kParameterBufferBytes), "");
  EXPECT_EQ(WriteProblem(dir_ / "keep.par"), "");  // an existing file is replaced
  // Nothing is left behind by the trial.
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir_)) names.push_back(e.path().filename());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"fifo.par", "keep.par"}));
}

TEST(ModelVersionTextTest, NamesEveryModelAndNeverPrintsPunctuation) {
  struct Case {
    std::uint8_t model;
    std::uint16_t version;
    const char* text;
  };
  const Case cases[] = {
      {0x41, 0x0320, "KX1 V3.20"}, {0x43, 0x0110, "KX3 V1.10"},
      {0x00, 0x0000, "UnKnow V0.00"},  // a zero trailer passes its check
      {0x42, 0x0C1F, "KX2 V12.1F"},
  };
  for (const Case& c : cases) {
    ParameterBuffer b{};
    FillTrailer(b, c.model, c.version);
    EXPECT_TRUE(TrailerValid(b));
    EXPECT_EQ(ModelVersionText(b), c.text);
  }
}

// The upload that fills the buffer: answers in any order of offsets, the count ends it.
TEST(ParameterUploadTest, AssemblesTheImageFromOutOfOrderOffsetsAndFillsTheTrailer) {
  ImageUpload upload(kModelKx2, 0x0105, false);
  ASSERT_TRUE(upload.NextRequest().has_value());
  EXPECT_EQ(upload.NextRequest()->reg, 0x474C);
  for (int i = 0; i < 256; ++i) {
    const int o = (i * 37 + 11) % 256;  // every offset once, out of order
    const std::uint16_t word = static_cast<std::uint16_t>((o << 8) | (o ^ 0xA5));
    upload.AnswerTaken(std::span<const std::uint16_t>(&word, 1));
  }
  EXPECT_TRUE(upload.Done());
  const ParameterBuffer& b = upload.buffer();
  for (int o = 0; o < 256; ++o) EXPECT_EQ(b[static_cast<std::size_t>(o)], o ^ 0xA5);
  EXPECT_TRUE(TrailerValid(b));
  EXPECT_EQ(ModelVersionText(b), "KX2 V1.05");
}

}  // namespace
}  // namespace kx
