#include "core/fwupdate/firmware_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>

#include "support/kxsim_process.h"

namespace kx {
namespace {

struct RecordSpec {
  std::uint16_t address;
  Bytes data;
};

Bytes Record(const RecordSpec& r) {
  Bytes out{static_cast<std::uint8_t>(r.data.size()), static_cast<std::uint8_t>(r.address >> 8),
            static_cast<std::uint8_t>(r.address & 0xFF)};
  out.insert(out.end(), r.data.begin(), r.data.end());
  std::uint8_t sum = 0;
  for (std::uint8_t b : out) sum = static_cast<std::uint8_t>(sum + b);
  out.push_back(static_cast<std::uint8_t>(-sum));
  return out;
}

// A file with the given model code and records; checksum and count from them.
Bytes File(std::uint8_t modelCode, const std::vector<RecordSpec>& records, std::uint8_t major = 1,
           std::uint8_t minorHigh = 0, std::uint8_t minorLow = 5) {
  std::uint16_t sum = 0;
  for (const RecordSpec& r : records)
    for (std::uint8_t b : r.data) sum = static_cast<std::uint16_t>(sum + b);
  const auto count = static_cast<std::uint16_t>(records.size());
  Bytes out{static_cast<std::uint8_t>(count >> 8), static_cast<std::uint8_t>(count & 0xFF),
            static_cast<std::uint8_t>(sum >> 8),   static_cast<std::uint8_t>(sum & 0xFF),
            modelCode, major, minorHigh, minorLow, 0, 0};
  for (const RecordSpec& r : records) {
    const Bytes rec = Record(r);
    out.insert(out.end(), rec.begin(), rec.end());
  }
  return out;
}

Bytes Data(std::size_t n, std::uint8_t first) {
  Bytes d(n);
  for (std::size_t i = 0; i < n; ++i) d[i] = static_cast<std::uint8_t>(first + 7 * i);
  return d;
}

// Two records of 16 data bytes for a KX3: the good file everything below varies.
Bytes GoodKx3() { return File(kFirmwareModelKx3, {{0x8000, Data(16, 0x11)}, {0x8010, Data(16, 0x92)}}); }

struct Case {
  const char* name;
  Bytes file;
  FirmwareCheck result;
  const char* model;
  bool kx3;
};

std::vector<Case> Cases() {
  std::vector<Case> cases;
  cases.push_back({"good KX3 file", GoodKx3(), FirmwareCheck::Ok, "KX3", true});
  cases.push_back({"good KX2 file", File(kFirmwareModelKx2, {{0x0000, Data(31, 3)}}), FirmwareCheck::Ok, "KX2",
                   false});
  {
    Bytes f = GoodKx3();
    f[10 + 3 + 4] += 1;   // a data byte of the first record
    f[10 + 3 + 16] -= 1;  // and its check byte, so the record still sums to 0
    cases.push_back({"data byte changed, check byte adjusted", f, FirmwareCheck::ChecksumIncorrect, "KX3", true});
  }
  {
    Bytes f = GoodKx3();
    f[10 + 20 + 3 + 2] ^= 0x40;
    cases.push_back({"data byte changed only", f, FirmwareCheck::ContentError, "KX3", true});
  }
  {
    Bytes f = GoodKx3();
    f.pop_back();
    cases.push_back({"cut one byte short inside the last record", f, FirmwareCheck::ContentError, "KX3", true});
  }
  {
    // Count byte 253: the record would be one byte long; refused either way.
    Bytes f = GoodKx3();
    f[10 + 20] = 253;
    cases.push_back({"count byte 253", f, FirmwareCheck::ContentError, "KX3", true});
  }
  cases.push_back({"unknown model code", File(13, {{0x8000, Data(16, 1)}}), FirmwareCheck::ContentError, "UnKnow",
                   false});
  {
    Bytes f = GoodKx3();
    f[0] = 0;
    f[1] = 0;
    cases.push_back({"no records announced", f, FirmwareCheck::ContentError, "KX3", true});
  }
  {
    std::vector<RecordSpec> many;
    for (std::size_t i = 0; i <= kMaxFirmwareRecords; ++i) many.push_back({static_cast<std::uint16_t>(0x1000 + i), {1}});
    cases.push_back({"more records than the table holds", File(kFirmwareModelKx2, many),
                     FirmwareCheck::ContentError, "KX2", false});
    many.pop_back();
    cases.push_back({"exactly as many records as the table holds", File(kFirmwareModelKx2, many),
                     FirmwareCheck::Ok, "KX2", false});
  }
  cases.push_back({"a record with 32 data bytes, summing to 0",
                   File(kFirmwareModelKx2, {{0x1000, Data(32, 9)}}), FirmwareCheck::ContentError, "KX2", false});
  {
    Bytes f = GoodKx3();
    f.push_back(0xAA);  // bytes after the last record
    f.push_back(0x55);
    cases.push_back({"bytes after the last record", f, FirmwareCheck::Ok, "KX3", true});
  }
  {
    Bytes f = GoodKx3();
    f[1] = 3;  // announces a record the file does not hold
    cases.push_back({"more records announced than present", f, FirmwareCheck::ContentError, "KX3", true});
  }
  // Layouts that would leave the erased controller without a whole program.
  cases.push_back({"a record running past 0xFFFF", File(kFirmwareModelKx3, {{0xFFF0, Data(17, 1)}}),
                   FirmwareCheck::ContentError, "KX3", true});
  cases.push_back({"a record ending at 0xFFFF", File(kFirmwareModelKx3, {{0xFFEF, Data(17, 1)}}), FirmwareCheck::Ok,
                   "KX3", true});
  cases.push_back({"two records writing one byte", File(kFirmwareModelKx3, {{0x8000, Data(16, 1)}, {0x800F, Data(4, 2)}}),
                   FirmwareCheck::ContentError, "KX3", true});
  cases.push_back({"the same record twice", File(kFirmwareModelKx3, {{0x8000, Data(16, 1)}, {0x8000, Data(16, 1)}}),
                   FirmwareCheck::ContentError, "KX3", true});
  cases.push_back({"records back to back, in any order",
                   File(kFirmwareModelKx3, {{0x8010, Data(16, 1)}, {0x8000, Data(16, 2)}}), FirmwareCheck::Ok, "KX3",
                   true});
  cases.push_back({"no data bytes in any record", File(kFirmwareModelKx3, {{0x8000, {}}, {0x8010, {}}}),
                   FirmwareCheck::ContentError, "KX3", true});
  cases.push_back({"an empty record beside program bytes", File(kFirmwareModelKx3, {{0x8000, {}}, {0x8000, Data(4, 2)}}),
                   FirmwareCheck::Ok, "KX3", true});
  // The version word at 0x0100: written whole, with the header's V1.05, or not at all.
  cases.push_back({"version word as in the header", File(kFirmwareModelKx3, {{0x0100, {0x01, 0x05}}, {0x8000, Data(4, 2)}}),
                   FirmwareCheck::Ok, "KX3", true});
  cases.push_back({"version word inside a longer record",
                   File(kFirmwareModelKx3, {{0x00FF, {0xAA, 0x01, 0x05, 0xBB}}}), FirmwareCheck::Ok, "KX3", true});
  cases.push_back({"version word other than the header's", File(kFirmwareModelKx3, {{0x0100, {0x01, 0x06}}}),
                   FirmwareCheck::ContentError, "KX3", true});
  cases.push_back({"program bytes over the version word", File(kFirmwareModelKx3, {{0x00F0, Data(31, 7)}}),
                   FirmwareCheck::ContentError, "KX3", true});
  cases.push_back({"half of the version word", File(kFirmwareModelKx3, {{0x0101, {0x05, 0x22}}}),
                   FirmwareCheck::ContentError, "KX3", true});
  cases.push_back({"the version word split over two records",
                   File(kFirmwareModelKx3, {{0x00FF, {0x00, 0x01}}, {0x0101, {0x05}}}), FirmwareCheck::ContentError,
                   "KX3", true});
  return cases;
}

TEST(FirmwareFile, ChecksEveryRecordTheModelAndTheProgramChecksum) {
  for (const Case& c : Cases()) {
    SCOPED_TRACE(c.name);
    const FirmwareLoad load = CheckFirmware(c.file);
    EXPECT_EQ(load.result, c.result);
    EXPECT_TRUE(load.headerRead);
    EXPECT_EQ(load.modelText, c.model);
    EXPECT_EQ(load.kx3, c.kx3);
    EXPECT_EQ(load.versionText, "V1.05");
    EXPECT_EQ(load.image.has_value(), c.result == FirmwareCheck::Ok);
    EXPECT_EQ(load.checksumText.empty(), c.result != FirmwareCheck::Ok);
  }
}

TEST(FirmwareFile, GoodFileKeepsEveryRecordAndTheHeader) {
  const Bytes file = File(kFirmwareModelKx3, {{0x1F00, Data(16, 0xF0)}, {0x1F10, Data(3, 0x20)}}, 2, 1, 10);
  const FirmwareLoad load = CheckFirmware(file);
  ASSERT_EQ(load.result, FirmwareCheck::Ok);
  const FirmwareImage& image = *load.image;
  EXPECT_EQ(image.model, FirmwareModel::Kx3);
  ASSERT_EQ(image.records.size(), 2u);
  EXPECT_EQ(image.records[0], Bytes(file.begin() + 10, file.begin() + 30));
  EXPECT_EQ(image.records[1], Bytes(file.begin() + 30, file.begin() + 37));
  EXPECT_EQ(image.VersionWord(), 0x021A);
  EXPECT_EQ(load.versionText, "V2.1A");
  char expected[6];
  std::snprintf(expected, sizeof expected, "%02X %02X", file[2], file[3]);
  EXPECT_EQ(load.checksumText, expected);
  EXPECT_EQ(image.checksum, file[2] << 8 | file[3]);
}

TEST(FirmwareFile, ReadsFromDiscAndRefusesShortOrMissingFiles) {
  test::ScratchDir dir;
  const auto write = [&](const std::string& name, const Bytes& bytes) {
    std::ofstream(dir / name, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                      static_cast<std::streamsize>(bytes.size()));
    return dir / name;
  };
  EXPECT_EQ(LoadFirmwareFile(write("good.oc", GoodKx3())).result, FirmwareCheck::Ok);
  const FirmwareLoad shortFile = LoadFirmwareFile(write("short.oc", Bytes(9, 0)));
  EXPECT_EQ(shortFile.result, FirmwareCheck::FileError);
  EXPECT_FALSE(shortFile.headerRead);
  // Each refusal with the system's reason.
  EXPECT_EQ(LoadFirmwareFile(dir / "missing.oc").result, FirmwareCheck::FileError);
  EXPECT_EQ(LoadFirmwareFile(dir / "missing.oc").reason, "No such file or directory");
  EXPECT_EQ(LoadFirmwareFile(dir.path()).result, FirmwareCheck::FileError);
  EXPECT_EQ(LoadFirmwareFile(dir.path()).reason, "Is a directory");
  ASSERT_EQ(mkfifo((dir / "fifo.oc").c_str(), 0600), 0);
  EXPECT_EQ(LoadFirmwareFile(dir / "fifo.oc").result, FirmwareCheck::FileError);  // not opened: no hang
  EXPECT_EQ(LoadFirmwareFile(dir / "fifo.oc").reason, "not a regular file");
}

// Random bytes, and random damage to a good file, never read past the input
// and never yield an image whose records break the table's limits.
TEST(FirmwareFile, RandomInputStaysWithinBounds) {
  std::mt19937 random(20261210);
  const Bytes good = GoodKx3();
  for (int round = 0; round < 4000; ++round) {
    Bytes file;
    if (round % 2 == 0) {
      file.resize(random() % 120);
      for (auto& b : file) b = static_cast<std::uint8_t>(random());
      if (file.size() >= 2 && round % 4 == 0) file[0] = 0, file[1] = static_cast<std::uint8_t>(random() % 4);
    } else {
      file = good;
      for (int k = 0; k < 3; ++k) file[random() % file.size()] = static_cast<std::uint8_t>(random());
      file.resize(random() % (file.size() + 1));
    }
    const FirmwareLoad load = CheckFirmware(file);
    if (!load.image) continue;
    EXPECT_EQ(load.result, FirmwareCheck::Ok);
    std::uint16_t sum = 0;
    for (const Bytes& r : load.image->records) {
      ASSERT_LE(r.size(), kMaxRecordDataBytes + 4);
      ASSERT_EQ(r.size(), r[0] + 4u);
      for (std::size_t i = 3; i + 1 < r.size(); ++i) sum = static_cast<std::uint16_t>(sum + r[i]);
    }
    EXPECT_EQ(sum, load.image->checksum);
  }
}

}  // namespace
}  // namespace kx
