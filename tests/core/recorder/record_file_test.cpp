// The record file: layout, writing record by record, loading for replay in
// windows of 4096 records, and files that are short, partial or random bytes.
#include "core/recorder/record_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "core/recorder/csv_export.h"
#include "support/file_size_limit.h"

namespace kx::recorder {
namespace {

namespace fs = std::filesystem;

class RecordFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("kx_rec_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }

  static std::vector<std::uint8_t> ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }
  static void WriteAll(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }
  // A file of n records whose slot 1 value is the record number (wrapping at
  // 16 bits) and whose second is n mod 60.
  std::string MakeFile(const std::string& name, std::uint64_t n) {
    RecordHeader header;
    header.addresses[0] = 1;
    RecordWriter writer;
    EXPECT_TRUE(writer.Create(Path(name), header));
    for (std::uint64_t k = 0; k < n; ++k) {
      Record r;
      r.values[0] = static_cast<std::int16_t>(k % 30000);
      r.time.second = static_cast<std::uint8_t>(k % 60);
      EXPECT_TRUE(writer.Append(EncodeRecord(r)));
    }
    return Path(name);
  }

  fs::path dir_;
};

TEST(RecordLayout, SlotsTwoAndFiveHeaderAndRecordBytes) {
  RecordHeader header;
  header.addresses[1] = 7;
  header.addresses[4] = 200;
  header.sampleTime = 0;
  const HeaderBytes hb = EncodeHeader(header);
  EXPECT_EQ(hb, (HeaderBytes{0, 7, 0, 0, 200, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(DecodeHeader(hb), header);

  Record r;
  r.values[1] = -50;           // 0xFF 0xCE
  r.values[4] = kErrorMarker;  // 0x80 0xA5
  r.time = {23, 59, 58, 0x2C};
  const RecordBytes rb = EncodeRecord(r);
  EXPECT_EQ(rb, (RecordBytes{0, 0, 0xFF, 0xCE, 0, 0, 0, 0, 0x80, 0xA5, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                             23, 59, 58, 0x2C, 'Z'}));
  EXPECT_EQ(DecodeRecord(rb), r);
}

TEST(RecordLayout, ValuesFromTwoBytes) {
  struct Case {
    std::uint8_t high, low;
    std::int32_t value;
  };
  for (const Case& c : {Case{0xFF, 0xCE, -50}, Case{0x80, 0xA5, kErrorMarker}, Case{0x80, 0xA4, -32604},
                        Case{0x7F, 0xFF, 32767}, Case{0x00, 0xFD, 253}, Case{0x80, 0x00, -32768}})
    EXPECT_EQ(DecodeValue(c.high, c.low), c.value) << int{c.high} << " " << int{c.low};
}

TEST(RecordLayout, RecordCountIgnoresPartialRecords) {
  EXPECT_EQ(RecordCount(0), 0u);
  EXPECT_EQ(RecordCount(11), 0u);
  EXPECT_EQ(RecordCount(12), 0u);
  EXPECT_EQ(RecordCount(36), 0u);
  EXPECT_EQ(RecordCount(37), 1u);
  EXPECT_EQ(RecordCount(12 + 25 * 5000 + 24), 5000u);
}

TEST_F(RecordFileTest, WriterAppendsEachRecordAtOnce) {
  RecordHeader header;
  header.addresses[1] = 2;
  header.addresses[4] = 5;
  header.sampleTime = 3;
  RecordWriter writer;
  ASSERT_TRUE(writer.Create(Path("a.rec"), header));
  EXPECT_EQ(ReadAll(Path("a.rec")).size(), 12u);
  Record r;
  r.values[1] = 253;
  ASSERT_TRUE(writer.Append(EncodeRecord(r)));
  // Readable while the writer still holds the file: nothing is buffered.
  EXPECT_EQ(ReadAll(Path("a.rec")).size(), 37u);
  RecordFile file;
  ASSERT_TRUE(file.Open(Path("a.rec")));
  EXPECT_EQ(file.header(), header);
  ASSERT_EQ(file.count(), 1u);
  EXPECT_EQ(file.At(0).values[1], 253);
  EXPECT_FALSE(fs::exists(Path("a.rec.part")));
}

TEST_F(RecordFileTest, CreateFailureIsReportedAndLeavesOldFile) {
  RecordWriter writer;
  EXPECT_FALSE(writer.Create(Path("missing/dir/a.rec"), {}));
  EXPECT_FALSE(writer.error().empty());
  EXPECT_FALSE(writer.IsOpen());
  EXPECT_FALSE(writer.Append(RecordBytes{}));
}

TEST_F(RecordFileTest, FullDiskLeavesWholeRecords) {
  // The fourth record is cut short by the full disk, and the writer cuts the
  // file back to three whole records.
  RecordWriter writer;
  ASSERT_TRUE(writer.Create(Path("full.rec"), {}));
  int written = 0;
  {
    const test::FileSizeLimit full(12 + 25 * 3 + 10);
    ASSERT_TRUE(full.ok());
    while (written < 10 && writer.Append(EncodeRecord(Record{}))) ++written;
  }
  EXPECT_EQ(written, 3);
  EXPECT_FALSE(writer.IsOpen());
  EXPECT_FALSE(writer.error().empty());
  EXPECT_EQ(fs::file_size(Path("full.rec")), 12u + 25u * 3u);
}

TEST_F(RecordFileTest, OpenRejectsMissingAndShortFiles) {
  RecordFile file;
  EXPECT_FALSE(file.Open(Path("none.rec")));
  WriteAll(Path("short.rec"), std::vector<std::uint8_t>(11, 1));
  EXPECT_FALSE(file.Open(Path("short.rec")));
  EXPECT_FALSE(file.isOpen());
}

TEST_F(RecordFileTest, TwelveByteFileHasHeaderAndNoRecords) {
  WriteAll(Path("empty.rec"), {1, 0, 3, 0, 0, 0, 0, 0, 0, 247, 0, 0});
  RecordFile file;
  ASSERT_TRUE(file.Open(Path("empty.rec")));
  EXPECT_EQ(file.count(), 0u);
  EXPECT_EQ(file.header().addresses[9], 247);
  EXPECT_EQ(file.header().sampleTime, 0);
  EXPECT_FALSE(file.Ensure(0));
}

TEST_F(RecordFileTest, FiveThousandRecordsLoadInWindows) {
  const std::string path = MakeFile("big.rec", 5000);
  // A trailing partial record is ignored.
  { std::ofstream(path, std::ios::binary | std::ios::app) << "partial"; }
  RecordFile file;
  ASSERT_TRUE(file.Open(path));
  EXPECT_EQ(file.count(), 5000u);
  EXPECT_EQ(file.windowStart(), 0u);
  EXPECT_EQ(file.WindowEnd(), 4096u);
  EXPECT_EQ(file.At(4095).values[0], 4095);
  ASSERT_TRUE(file.Ensure(4096));
  EXPECT_EQ(file.windowStart(), 4096u);
  EXPECT_EQ(file.WindowEnd(), 5000u);
  EXPECT_EQ(file.At(4999).values[0], 4999);
  EXPECT_EQ(file.At(4999).time.second, 4999 % 60);
  EXPECT_FALSE(file.Ensure(5000));
  ASSERT_TRUE(file.Ensure(10));
  EXPECT_EQ(file.windowStart(), 10u);
  EXPECT_EQ(file.WindowEnd(), 4106u);
}

TEST_F(RecordFileTest, FileShrunkUnderTheReaderGivesShortWindowNotGarbage) {
  const std::string path = MakeFile("shrink.rec", 5000);
  RecordFile file;
  ASSERT_TRUE(file.Open(path));
  fs::resize_file(path, 12 + 25 * 4100 + 3);
  ASSERT_TRUE(file.Ensure(4096));
  EXPECT_EQ(file.WindowEnd(), 4100u);
  EXPECT_FALSE(file.Ensure(4100));
  fs::remove(path);
  EXPECT_FALSE(file.LoadWindow(0));
}

TEST_F(RecordFileTest, RandomBytesNeverReadOutOfBounds) {
  std::mt19937 rng(12);
  for (int round = 0; round < 200; ++round) {
    std::vector<std::uint8_t> bytes(rng() % 400);
    for (auto& b : bytes) b = static_cast<std::uint8_t>(rng());
    WriteAll(Path("r.rec"), bytes);
    RecordFile file;
    const bool opened = file.Open(Path("r.rec"));
    ASSERT_EQ(opened, bytes.size() >= 12);
    if (!opened) continue;
    ASSERT_EQ(file.count(), RecordCount(bytes.size()));
    for (std::uint64_t k = 0; k < file.count(); ++k) {
      ASSERT_TRUE(file.Ensure(k));
      const Record& r = file.At(k);
      for (std::size_t i = 0; i < kSlots; ++i) {
        const auto word = static_cast<std::uint16_t>(bytes[12 + 25 * k + 2 * i] << 8 | bytes[13 + 25 * k + 2 * i]);
        ASSERT_EQ(r.values[i], word == 0x80A5 ? kErrorMarker : static_cast<std::int16_t>(word));
      }
      (void)CsvRow(file.header(), k, r);
    }
  }
}

// Rows of one second at 0.5 s stay apart by the seconds since the start.
TEST_F(RecordFileTest, CsvElapsedSecondsFollowTheSamplingTime) {
  struct Case {
    std::uint8_t sampleTime;
    std::uint64_t k;
    const char* text;
  };
  const Case cases[] = {{0, 0, "0.0"}, {0, 1, "0.5"}, {0, 3, "1.5"}, {0, 7201, "3600.5"},
                        {1, 0, "0"},   {1, 2, "2"},   {99, 3, "297"}, {1, 5000000000, "5000000000"}};
  for (const Case& c : cases) {
    RecordHeader header;
    header.sampleTime = c.sampleTime;
    EXPECT_EQ(ElapsedText(header, c.k), c.text) << int{c.sampleTime} << " " << c.k;
  }

  RecordHeader header;
  header.addresses[0] = 3;
  header.sampleTime = 0;
  RecordWriter writer;
  ASSERT_TRUE(writer.Create(Path("half.rec"), header));
  for (int k = 0; k < 3; ++k) {
    Record r;
    r.values[0] = 200 + k;
    r.time = {12, 0, static_cast<std::uint8_t>(k / 2), 0};  // two records in each second
    ASSERT_TRUE(writer.Append(EncodeRecord(r)));
  }
  writer.Close();
  ASSERT_TRUE(ExportCsv(Path("half.rec"), Path("half.csv")).ok);
  const auto bytes = ReadAll(Path("half.csv"));
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()),
            "Time,Elapsed (s),Device 1 (address 3)\r\n"
            "12:00:00,0.0,20.0\r\n"
            "12:00:00,0.5,20.1\r\n"
            "12:00:01,1.0,20.2\r\n");
}

TEST_F(RecordFileTest, CsvExportRowsAndReplacesOnlyWhenDone) {
  RecordHeader header;
  header.addresses[1] = 2;
  header.addresses[4] = 17;
  RecordWriter writer;
  ASSERT_TRUE(writer.Create(Path("c.rec"), header));
  Record a;
  a.values[1] = 253;
  a.values[4] = -5;
  a.time = {9, 5, 7, 0};
  Record b;
  b.values[1] = -250;
  b.values[4] = kErrorMarker;
  b.time = {23, 0, 0, 0};
  ASSERT_TRUE(writer.Append(EncodeRecord(a)));
  ASSERT_TRUE(writer.Append(EncodeRecord(b)));
  writer.Close();

  const CsvExportResult result = ExportCsv(Path("c.rec"), Path("c.csv"));
  ASSERT_TRUE(result.ok) << result.error;
  EXPECT_EQ(result.rows, 2u);
  const auto bytes = ReadAll(Path("c.csv"));
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()),
            "Time,Elapsed (s),Device 2 (address 2),Device 5 (address 17)\r\n"
            "09:05:07,0,25.3,-0.5\r\n"
            "23:00:00,1,-25.0,\r\n");

  // A failed export leaves the earlier CSV as it was and no temporary file.
  EXPECT_FALSE(ExportCsv(Path("gone.rec"), Path("c.csv")).ok);
  EXPECT_FALSE(ExportCsv(Path("c.rec"), Path("nodir/c.csv")).ok);
  EXPECT_EQ(ReadAll(Path("c.csv")), bytes);
  EXPECT_FALSE(fs::exists(Path("c.csv.part")));
}

}  // namespace
}  // namespace kx::recorder
