#include "core/comset/pc_settings.h"

namespace kx {

namespace {

constexpr int kBaudItems = 5;
constexpr int kParityItems = 3;

}  // namespace

PcSettingsPage PcSettingsFromWord(std::int32_t word, const std::array<bool, Session::kPortSlots>& present) {
  PcSettingsPage page;
  const SettingsFields f = SplitSettingsWord(word);
  page.items.rtu = f.rtu;
  page.items.stopBits2 = f.stopBits2;
  page.items.baudCode = f.baudCode < kBaudItems ? f.baudCode : 0;
  page.items.parityCode = f.parityCode < kParityItems ? f.parityCode : 0;
  page.items.dataBits8 = f.rtu != 0 ? 1 : f.dataBits8;
  page.dataLenEnabled = f.rtu == 0;

  const bool storedPresent = f.port >= 1 && f.port < Session::kPortSlots && present[static_cast<std::size_t>(f.port)];
  if (storedPresent) {
    page.currentPort = f.port;
  } else {
    page.currentPort = 0;
    for (int n = 1; n < Session::kPortSlots; ++n) {
      if (present[static_cast<std::size_t>(n)]) {
        page.currentPort = n;
        break;
      }
    }
  }
  page.noPortExists = page.currentPort == 0;
  page.items.port = page.currentPort;
  return page;
}

StoreOutcome StorePcSettings(Session& session, const SettingsFields& chosen) {
  const std::int32_t word = EncodeSettingsWord(chosen);
  if (word == session.settingsWord && session.settingsFileRead) return StoreOutcome::Unchanged;
  session.settingsWord = word;
  return WriteSettingsFile(session) ? StoreOutcome::Written : StoreOutcome::WriteFailed;
}

}  // namespace kx
