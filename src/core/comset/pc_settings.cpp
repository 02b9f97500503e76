#include "core/comset/pc_settings.h"

#include "core/line/network_line.h"
#include "core/text/messages.h"

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

PcPageControls PcControlsFor(const Session& session, int comNumber, bool rtu) {
  const LineTransport transport = TransportOf(session, comNumber);
  const LineControl control = ControlOf(transport);
  PcPageControls page;
  page.formatEnabled = control.format;
  page.dataLenEnabled = control.format && !rtu;
  page.formEnabled = control.form;
  if (!control.format) {
    const Msg note = control.form ? Msg::ServerSetsFormat : Msg::GatewaySetsFormat;
    page.note = LineName(session, comNumber) + std::string(Text(note));
  }
  return page;
}

StoreOutcome StorePcSettings(Session& session, const SettingsFields& chosen) {
  const std::int32_t word = EncodeSettingsWord(chosen);
  if (word == session.settingsWord && session.settingsFileRead) return StoreOutcome::Unchanged;
  session.settingsWord = word;
  return WriteSettingsFile(session) ? StoreOutcome::Written : StoreOutcome::WriteFailed;
}

}  // namespace kx
