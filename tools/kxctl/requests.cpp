#include "kxctl/requests.h"

#include <algorithm>

#include "core/device/regmap.h"
#include "core/text/messages.h"

namespace kxctl {

std::string FirmwareText(std::uint16_t versionWord) {
  const std::string text = kx::FirmwareVersionText(versionWord);
  const std::string_view prefix = kx::Text(kx::Msg::FirmwareVersionPrefix);
  return text.rfind(prefix, 0) == 0 ? text.substr(prefix.size()) : text;
}

}  // namespace kxctl
