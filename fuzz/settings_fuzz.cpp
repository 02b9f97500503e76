// The settings file's text: the number at its start and the word it decodes to.
#include <cstdlib>
#include <string_view>

#include "core/line/settings.h"

using namespace kx;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const auto word = ParseSettingsNumber(text);
  if (!word) return 0;
  PortParams params;
  DecodeSettingsWord(*word, params);
  if (params.dataBits != 7 && params.dataBits != 8) std::abort();
  if (params.stopBits != 1 && params.stopBits != 2) std::abort();
  if (EncodeSettingsWord(SplitSettingsWord(*word)) != *word) std::abort();
  return 0;
}
