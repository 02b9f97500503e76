#include "kxctl/line_choice.h"

#include <cctype>

#include "core/line/settings.h"
#include "core/text/messages.h"

namespace kxctl {
namespace {

// The line kxctl uses when neither an option nor the settings file names one.
constexpr int kDefaultCom = 1;
constexpr std::int32_t kDefaultWord = kDefaultCom * 256 + kx::kDefaultLineBits;

// "COM3" (any case) -> 3; nothing for other texts.
std::optional<int> ComName(const std::string& text) {
  if (text.size() < 4 || text.size() > 5) return std::nullopt;
  for (std::size_t i = 0; i < 3; ++i)
    if (std::toupper(static_cast<unsigned char>(text[i])) != "COM"[i]) return std::nullopt;
  const auto n = ParseNumber(std::string_view(text).substr(3));
  if (!n || *n < 0) return std::nullopt;
  return static_cast<int>(*n);
}

std::string NotPresent(int com) {
  return std::string(kx::Text(kx::Msg::ComPortPrefix)) + std::to_string(com) +
         std::string(kx::Text(kx::Msg::NotExistSuffix));
}

}  // namespace

kx::PresetFormat SearchFormatOf(const LineFormat& format) {
  for (int n = 0; n < kx::kCombinationCount; ++n) {
    const kx::PresetFormat candidate = kx::CombinationFormat(n);
    if (kx::LineFormatOf(candidate) == format) return candidate;
  }
  return {};  // not reached for a parsed format
}

kx::PortParams ParamsOfFormat(const LineFormat& format, int com) {
  return kx::FormatParams(SearchFormatOf(format), com);
}

std::variant<LineChoice, std::string> ChooseLine(const GlobalOptions& options, const std::string& workDir,
                                                 const kx::serial::PortPaths& activePorts) {
  // The settings file gives what the options leave open.
  kx::Session session;
  session.workDir = workDir;
  session.settingsWord = kDefaultWord;
  kx::DecodeSettingsWord(kDefaultWord, session.params);
  if (!options.port || !options.line) {
    if (kx::ReadSettingsFile(session) == kx::SettingsReadResult::Missing) {
      session.settingsWord = kDefaultWord;
      kx::DecodeSettingsWord(kDefaultWord, session.params);
    }
  }

  LineChoice choice;
  choice.format = options.line ? *options.line : kx::LineFormatOf(session.params);

  std::optional<int> com;
  if (options.port) {
    com = ComName(*options.port);
    if (!com) {
      // A device path or a network address: the one port of its own map.
      choice.paths[kDefaultCom] = *options.port;
      choice.com = kDefaultCom;
      choice.portName = *options.port;
      return choice;
    }
  } else {
    com = session.params.port;
  }
  if (*com < 1 || *com >= kx::Session::kPortSlots || activePorts[static_cast<std::size_t>(*com)].empty())
    return NotPresent(*com);
  choice.paths = activePorts;
  choice.com = *com;
  choice.portName = "COM" + std::to_string(*com);
  return choice;
}

}  // namespace kxctl
