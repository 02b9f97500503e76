#include "core/comset/pc_settings.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace kx {
namespace {

namespace fs = std::filesystem;

std::array<bool, Session::kPortSlots> Ports(std::initializer_list<int> numbers) {
  std::array<bool, Session::kPortSlots> present{};
  for (int n : numbers) present[static_cast<std::size_t>(n)] = true;
  return present;
}

TEST(PcSettingsPageTest, PortChoice) {
  struct Case {
    std::int32_t word;
    std::array<bool, Session::kPortSlots> present;
    int currentPort;
  };
  const Case cases[] = {
      {5 * 256 + 0x24, Ports({1, 3}), 1},  // stored port gone: lowest present
      {3 * 256 + 0x24, Ports({1, 3}), 3},
      {13 * 256 + 0x24, Ports({12}), 12},
      {0, Ports({0}), 0},  // COM0 is never offered
      {2 * 256, Ports({}), 0},
  };
  for (const Case& c : cases) {
    const PcSettingsPage page = PcSettingsFromWord(c.word, c.present);
    EXPECT_EQ(page.currentPort, c.currentPort) << c.word;
    EXPECT_EQ(page.noPortExists, c.currentPort == 0) << c.word;
  }
}

TEST(PcSettingsPageTest, ItemsFromWord) {
  // 690: COM2, 19200, no parity, 8 data bits, 1 stop bit, RTU.
  PcSettingsPage page = PcSettingsFromWord(690, Ports({2}));
  EXPECT_EQ(page.items.baudCode, 3);
  EXPECT_EQ(page.items.parityCode, 0);
  EXPECT_EQ(page.items.dataBits8, 1);
  EXPECT_EQ(page.items.stopBits2, 0);
  EXPECT_EQ(page.items.rtu, 1);
  EXPECT_FALSE(page.dataLenEnabled);

  // RTU with the data bit clear (hand-edited file) still shows 8 bits.
  page = PcSettingsFromWord(2 * 256 + 128 + 0x20, Ports({2}));
  EXPECT_EQ(page.items.dataBits8, 1);

  // Values the radio groups do not have show their first item.
  page = PcSettingsFromWord(256 + 7 * 16 + 3 * 4 + 1, Ports({1}));
  EXPECT_EQ(page.items.baudCode, 0);
  EXPECT_EQ(page.items.parityCode, 0);
  EXPECT_EQ(page.items.stopBits2, 1);
  EXPECT_TRUE(page.dataLenEnabled);
}

class StorePcSettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() / ("kx_pcsettings_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                                       ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir);
    fs::create_directories(dir);
    session.workDir = dir.string();
  }
  void TearDown() override { fs::remove_all(dir); }

  std::string FileText() const {
    std::ifstream in(dir / "SETKX.$$$", std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }

  fs::path dir;
  Session session;
};

TEST_F(StorePcSettingsTest, WritesChangedWordAsPlainDecimal) {
  session.settingsWord = 292;
  session.settingsFileRead = true;
  SettingsFields chosen;  // COM3, 19200, Even, 7 bits, 1 stop bit, ASCII
  chosen.port = 3;
  chosen.baudCode = 3;
  chosen.parityCode = 1;
  EXPECT_EQ(StorePcSettings(session, chosen), StoreOutcome::Written);
  EXPECT_EQ(session.settingsWord, 820);
  EXPECT_EQ(FileText(), "820");
}

TEST_F(StorePcSettingsTest, UnchangedWordWrittenOnlyWhenFileWasNotRead) {
  const SettingsFields same = SplitSettingsWord(292);
  session.settingsWord = 292;
  session.settingsFileRead = true;
  EXPECT_EQ(StorePcSettings(session, same), StoreOutcome::Unchanged);
  EXPECT_FALSE(fs::exists(dir / "SETKX.$$$"));

  session.settingsFileRead = false;
  EXPECT_EQ(StorePcSettings(session, same), StoreOutcome::Written);
  EXPECT_EQ(FileText(), "292");
}

TEST_F(StorePcSettingsTest, WriteFailureKeepsWordForTheRun) {
  session.workDir = (dir / "missing" / "folder").string();
  SettingsFields chosen = SplitSettingsWord(690);
  EXPECT_EQ(StorePcSettings(session, chosen), StoreOutcome::WriteFailed);
  EXPECT_EQ(session.settingsWord, 690);
}

// Which groups the page offers for the chosen port's line, and the note.
TEST(PcSettingsPageTest, LineControlsPerTransport) {
  struct Case {
    const char* path;
    bool rtu;
    bool format, dataLen, form;
    const char* note;
  };
  const Case cases[] = {
      {"/dev/ttyUSB0", false, true, true, true, ""},
      {"/dev/ttyUSB0", true, true, false, true, ""},  // RTU: 8 data bits, as always
      {"rfc2217://10.0.0.5:4001", false, true, true, true, ""},
      {"/dev/ttyUSB0?echo", false, true, true, true, ""},
      {"tcp://127.0.0.1:5000", false, false, false, true,
       "COM2 (tcp://127.0.0.1:5000): the server sets the baud rate, parity, data and stop bits."},
      {"tcp://127.0.0.1:5000?echo", true, false, false, true,
       "COM2 (tcp://127.0.0.1:5000?echo): the server sets the baud rate, parity, data and stop bits."},
      {"modbus-tcp://127.0.0.1", false, false, false, false,
       "COM2 (modbus-tcp://127.0.0.1): the gateway sets the baud rate, parity, data and stop bits and speaks RTU "
       "on its line; ASCII/RTU does not apply."},
  };
  for (const Case& c : cases) {
    Session session;
    session.portPath[2] = c.path;
    const PcPageControls page = PcControlsFor(session, 2, c.rtu);
    EXPECT_EQ(page.formatEnabled, c.format) << c.path;
    EXPECT_EQ(page.dataLenEnabled, c.dataLen) << c.path << " rtu " << c.rtu;
    EXPECT_EQ(page.formEnabled, c.form) << c.path;
    EXPECT_EQ(page.note, c.note) << c.path;
  }
}

}  // namespace
}  // namespace kx
