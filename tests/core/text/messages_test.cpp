#include <gtest/gtest.h>

#include <set>
#include <string>

#include "core/modbus/codec.h"
#include "core/text/messages.h"

namespace kx {
namespace {

TEST(Messages, ExceptionCodesMapToTheirTwentyCharacterTexts) {
  struct Case {
    std::uint8_t code;
    std::string_view text;
  };
  const Case cases[] = {
      {0x01, "illegal function !!!"}, {0x02, "illegal address  !!!"},
      {0x03, "illegal data     !!!"}, {0x04, "illegal command  !!!"},
      {0x0B, "illegal frame    !!!"}, {0x0C, "too few data     !!!"},
      {0x0D, "too many data    !!!"}, {0x0E, "illegal ASCII    !!!"},
      {0x00, "Unknow Error     !!!"}, {0x05, "Unknow Error     !!!"},
      {0x0A, "Unknow Error     !!!"}, {0x0F, "Unknow Error     !!!"},
      {0xFF, "Unknow Error     !!!"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.code));
    EXPECT_EQ(ExceptionText(c.code), c.text);
    EXPECT_EQ(Text(ExceptionMsg(c.code)), c.text);
    EXPECT_EQ(c.text.size(), 20U);
  }
}

TEST(Messages, EveryEntryHasItsOwnText) {
  std::set<std::string_view> seen;
  for (std::size_t i = 0; i < kMsgCount; ++i) {
    const std::string_view text = Text(static_cast<Msg>(i));
    EXPECT_FALSE(text.empty()) << i;
    EXPECT_TRUE(seen.insert(text).second) << "duplicate: " << text;
  }
  EXPECT_TRUE(Text(Msg::Count_).empty());
}

TEST(Messages, BlanksAtTheJoinsAreKept) {
  struct Case {
    Msg id;
    std::string_view text;
  };
  const Case cases[] = {
      {Msg::ReadErrorPrefix, " Read error : "},
      {Msg::WriteErrorPrefix, "Write error : "},
      {Msg::HeadingAddress, " Address"},
      {Msg::EstimateTimeLeft, "Estimate time left : "},
      {Msg::MinutesSuffix, " min,"},
      {Msg::SearchCompletedFound, "Search Completed,Found "},
      {Msg::ActiveSuffix, " (ACTIVE)"},
      {Msg::DevicePrefix, "DEVICE "},
      {Msg::InputUnstable, " Input unstable or Device fail"},
      {Msg::UnknownCommand, "Unknow Command   !!!"},
      {Msg::NotExistSuffix, " not exist !"},
  };
  for (const auto& c : cases) EXPECT_EQ(Text(c.id), c.text);
}

TEST(Messages, FileFiltersAreDescriptionBarPattern) {
  EXPECT_EQ(Text(Msg::FilterParameters), "KX parameters backup files (*.par)|*.PAR");
  EXPECT_EQ(Text(Msg::FilterRecord), "KX record files (*.rec)|*.REC");
  EXPECT_EQ(Text(Msg::FilterRampSoak), "KX ramp soak table files (*.r$s)|*.R$S");
  EXPECT_EQ(Text(Msg::FilterFirmware), "Ostra controller firmware files (*.oc)|*.OC");
}

}  // namespace
}  // namespace kx
