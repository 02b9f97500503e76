#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>
#include <sstream>
#include <optional>
#include <string>

#include "core/line/settings.h"
#include "support/fake_port.h"

namespace kx {
namespace {

namespace fs = std::filesystem;

TEST(SettingsWord, DecodesEveryField) {
  struct Case {
    std::int32_t word;
    PortParams expected;
  };
  const Case cases[] = {
      {292, {1, 9600, 7, 1, 1, false}},    // COM1 9600 even 7 1 ASCII
      {690, {2, 19200, 8, 0, 1, true}},    // COM2 19200 none 8 1 RTU
      {0, {0, 2400, 7, 0, 1, false}},      // the initial word
      {0xC4B, {12, 38400, 8, 2, 2, false}},  // COM12 38400 odd 8 2 ASCII
      {0x3CC, {3, 38400, 7, 3, 1, true}},  // parity code 3 is kept for the opening to skip
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.word);
    PortParams p;
    DecodeSettingsWord(c.word, p);
    EXPECT_EQ(p.port, c.expected.port);
    EXPECT_EQ(p.baud, c.expected.baud);
    EXPECT_EQ(p.dataBits, c.expected.dataBits);
    EXPECT_EQ(p.parityCode, c.expected.parityCode);
    EXPECT_EQ(p.stopBits, c.expected.stopBits);
    EXPECT_EQ(p.rtu, c.expected.rtu);
  }
}

TEST(SettingsWord, BaudCodesFiveToSevenKeepThePreviousBaud) {
  PortParams p;
  DecodeSettingsWord(690, p);
  for (int code = 5; code <= 7; ++code) {
    DecodeSettingsWord(256 + code * 16, p);
    EXPECT_EQ(p.baud, 19200) << code;
    EXPECT_EQ(p.port, 1);
  }
}

TEST(SettingsWord, EncodeIsTheInverseOfSplit) {
  EXPECT_EQ(EncodeSettingsWord({3, 3, 1, 0, 0, 0}), 820);  // COM3 19200 even 7 1 ASCII
  EXPECT_EQ(EncodeSettingsWord({2, 3, 0, 1, 0, 1}), 690);
  for (const std::int32_t word : {0, 292, 690, 820, 0xCFF, 0x3CC}) {
    EXPECT_EQ(EncodeSettingsWord(SplitSettingsWord(word)), word) << word;
  }
}

TEST(SettingsWord, DefaultTakesTheLowestPresentPort) {
  std::array<bool, Session::kPortSlots> present{};
  EXPECT_EQ(DefaultSettingsWord(present), 13 * 256 + 36);  // no port at all
  present[3] = present[4] = true;
  EXPECT_EQ(DefaultSettingsWord(present), 804);
  present[0] = true;
  EXPECT_EQ(DefaultSettingsWord(present), 36);
}

TEST(PortListing, FollowsTheListingRules) {
  struct Case {
    std::vector<std::string> names;
    std::vector<int> flags;
  };
  const Case cases[] = {
      {{"COM1", "COM3", "COM10"}, {1, 3, 10}},
      {{"COM15", "LPT1", "COM123", "COM", "com2"}, {}},
      {{"COM12", "COM13", "COM0"}, {0, 12}},
      {{"COM1", "COMX", "COM2"}, {1}},   // a number part that is not decimal ends the listing
      {{"COM4", "COM1A", "COM5"}, {4}},
      {{"COM2", "COM 1", "COM6"}, {2}},
      {{"XCOM1", "COM7"}, {7}},          // names not starting with COM are only skipped
  };
  for (const auto& c : cases) {
    std::array<bool, Session::kPortSlots> expected{};
    for (int n : c.flags) expected[static_cast<std::size_t>(n)] = true;
    EXPECT_EQ(ParsePortListing(c.names), expected) << ::testing::PrintToString(c.names);
  }
}

class SettingsFile : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/kx_settings_XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
    session_.workDir = dir_.string();
  }
  void TearDown() override {
    std::error_code ec;
    fs::permissions(dir_, fs::perms::owner_all, ec);
    fs::remove_all(dir_, ec);
  }
  fs::path File() const { return dir_ / "SETKX.$$$"; }
  void Put(const std::string& content) const {
    std::ofstream(File(), std::ios::binary) << content;
  }
  std::optional<std::string> Content() const {
    std::ifstream in(File(), std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }

  fs::path dir_;
  Session session_;
};

TEST_F(SettingsFile, ReadsTheLeadingDecimalNumber) {
  struct Case {
    std::string content;
    std::int32_t expected;
  };
  const Case cases[] = {
      {"820", 820},
      {"  690\r\n", 690},
      {"\n\t292", 292},
      {"804xyz", 804},
      {"-2147483648", -2147483647 - 1},
      {"548" + std::string(kMaxSettingsFileBytes - 3, ' '), 548},  // the largest file read
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.content.substr(0, 20));
    Put(c.content);
    session_.settingsWord = 555;
    session_.settingsFileRead = false;
    EXPECT_EQ(ReadSettingsFile(session_), SettingsReadResult::Read);
    EXPECT_TRUE(session_.settingsFileRead);
    EXPECT_EQ(session_.settingsWord, c.expected);
  }
}

// A file that holds no usable number counts as missing: the default word (not
// COM0) and the settings window, as when there is no file.
TEST_F(SettingsFile, FileWithoutAUsableNumberCountsAsMissing) {
  session_.portPresent[2] = true;
  const std::string binary("\x00\xff\x13\x80\x01", 5);
  const std::string cases[] = {
      "", "abc", " - 5", "99999999999", "\r\n", binary, "820" + std::string(kMaxSettingsFileBytes - 2, ' '),
  };
  for (const auto& content : cases) {
    SCOPED_TRACE(content.substr(0, 20));
    Put(content);
    session_.settingsWord = 690;
    session_.settingsFileRead = true;
    EXPECT_EQ(ReadSettingsFile(session_), SettingsReadResult::Missing);
    EXPECT_FALSE(session_.settingsFileRead);
    EXPECT_EQ(session_.settingsWord, 2 * 256 + kDefaultLineBits);
    EXPECT_EQ(session_.params.port, 2);
  }
}

TEST_F(SettingsFile, HugeFileIsNotReadAndCountsAsMissing) {
  Put("820");
  fs::resize_file(File(), std::uintmax_t{1} << 32);  // sparse: 4 GiB of zeros after the number
  EXPECT_EQ(ReadSettingsFile(session_), SettingsReadResult::Missing);
  EXPECT_FALSE(session_.settingsFileRead);
}

TEST_F(SettingsFile, FifoOrLinkToOneCountsAsMissingWithoutBlocking) {
  ASSERT_EQ(::mkfifo((dir_ / "pipe").c_str(), 0600), 0);
  for (const bool viaLink : {false, true}) {
    SCOPED_TRACE(viaLink);
    fs::remove(File());
    if (viaLink) {
      fs::create_symlink(dir_ / "pipe", File());
    } else {
      ASSERT_EQ(::mkfifo(File().c_str(), 0600), 0);
    }
    auto read = std::async(std::launch::async, [this] { return ReadSettingsFile(session_); });
    if (read.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
      // Unblock the reader so the test can end, then fail.
      const int fd = ::open(File().c_str(), O_WRONLY | O_NONBLOCK);
      if (fd >= 0) ::close(fd);
      FAIL() << "reading a FIFO blocked";
    }
    EXPECT_EQ(read.get(), SettingsReadResult::Missing);
  }
  // A link to a regular file is read.
  fs::remove(File());
  std::ofstream(dir_ / "real") << "690";
  fs::create_symlink(dir_ / "real", File());
  EXPECT_EQ(ReadSettingsFile(session_), SettingsReadResult::Read);
  EXPECT_EQ(session_.settingsWord, 690);
}

TEST_F(SettingsFile, ReadingDecodesIntoTheSessionParameters) {
  Put("690");
  ReadSettingsFile(session_);
  EXPECT_EQ(session_.params.port, 2);
  EXPECT_EQ(session_.params.baud, 19200);
  EXPECT_TRUE(session_.params.rtu);
}

TEST_F(SettingsFile, MissingOrUnreadableFileGivesTheDefaultAndAsksForTheWindow) {
  session_.portPresent[3] = session_.portPresent[4] = true;
  for (const bool asFolder : {false, true}) {
    SCOPED_TRACE(asFolder);
    if (asFolder) fs::create_directory(File());
    session_.settingsWord = 690;
    session_.settingsFileRead = true;
    EXPECT_EQ(ReadSettingsFile(session_), SettingsReadResult::Missing);
    EXPECT_FALSE(session_.settingsFileRead);
    EXPECT_EQ(session_.settingsWord, 804);
    EXPECT_EQ(session_.params.port, 3);
    EXPECT_EQ(session_.params.baud, 9600);
    EXPECT_EQ(session_.params.parityCode, 1);
    EXPECT_EQ(session_.params.dataBits, 7);
    EXPECT_FALSE(session_.params.rtu);
  }
}

TEST_F(SettingsFile, WritesTheWordWithoutLineEndAndReadsItBack) {
  Put("123456789");
  session_.settingsWord = 820;
  ASSERT_TRUE(WriteSettingsFile(session_));
  EXPECT_EQ(Content(), "820");
  session_.settingsWord = -3;
  ASSERT_TRUE(WriteSettingsFile(session_));
  EXPECT_EQ(Content(), "-3");

  Session other;
  other.workDir = session_.workDir;
  EXPECT_EQ(ReadSettingsFile(other), SettingsReadResult::Read);
  EXPECT_EQ(other.settingsWord, -3);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1)
      << "no temporary file is left behind";
}

TEST_F(SettingsFile, ReadOnlyFileFailsAndIsKeptForEveryUser) {
  Put("292");
  session_.settingsWord = 820;
  fs::permissions(File(), fs::perms::owner_read | fs::perms::group_read);
  EXPECT_FALSE(WriteSettingsFile(session_));
  EXPECT_EQ(Content(), "292");

  fs::permissions(File(), fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_TRUE(WriteSettingsFile(session_));
  EXPECT_EQ(Content(), "820");
}

TEST_F(SettingsFile, ProtectedFolderFailsAndKeepsTheOldFile) {
  if (::geteuid() == 0) GTEST_SKIP() << "folder permissions do not bind root";
  Put("292");
  session_.settingsWord = 820;
  fs::permissions(dir_, fs::perms::owner_read | fs::perms::owner_exec);
  EXPECT_FALSE(WriteSettingsFile(session_));
  EXPECT_EQ(Content(), "292");
}

TEST_F(SettingsFile, FailedWritesReportAndKeepTheOldFile) {
  Put("292");
  session_.settingsWord = 820;
  fs::create_directory(dir_ / "SETKX.$$$.new");  // the new content cannot be written
  EXPECT_FALSE(WriteSettingsFile(session_));
  EXPECT_EQ(Content(), "292");

  Session elsewhere;
  elsewhere.workDir = (dir_ / "absent").string();
  EXPECT_FALSE(WriteSettingsFile(elsewhere));
  elsewhere.workDir = File().string();  // a file, not a folder
  EXPECT_FALSE(WriteSettingsFile(elsewhere));
}

TEST(OpenWithParams, AppliesTheParametersThenOpens) {
  struct Case {
    int parityCode;
    std::optional<Parity> expected;
  };
  const Case cases[] = {
      {0, Parity::None}, {1, Parity::Even}, {2, Parity::Odd}, {3, Parity::Odd}};
  for (const auto& c : cases) {
    test::FakePort port;
    port.SetParity(Parity::Odd);  // a parity left from an earlier opening
    const PortParams p{4, 19200, 8, c.parityCode, 2, true};
    EXPECT_TRUE(OpenWithParams(port, p));
    EXPECT_TRUE(port.IsOpen());
    EXPECT_EQ(port.comNumber, 4);
    EXPECT_EQ(port.baud, 19200);
    EXPECT_EQ(port.dataBits, 8);
    EXPECT_EQ(port.stopBits, 2);
    EXPECT_EQ(port.parity, c.expected) << c.parityCode;
  }
}

TEST(OpenWithParams, LeavesAnOpenPortAloneAndReportsFailure) {
  test::FakePort port;
  ASSERT_TRUE(OpenWithParams(port, {1, 9600, 7, 1, 1, false}));
  EXPECT_TRUE(OpenWithParams(port, {2, 38400, 8, 0, 2, true}));
  EXPECT_EQ(port.openCount, 1);
  EXPECT_EQ(port.comNumber, 1);
  EXPECT_EQ(port.baud, 9600);

  test::FakePort failing;
  failing.failNextOpen = "No such file or directory";
  EXPECT_FALSE(OpenWithParams(failing, {1, 9600, 7, 1, 1, false}));
  EXPECT_FALSE(failing.IsOpen());
  EXPECT_EQ(failing.ErrorText(), "No such file or directory");
}

}  // namespace
}  // namespace kx
