#include "core/monitor/monitor_device.h"

#include "core/monitor/parameter_panel_rules.h"

namespace kx {

void DeviceConnected(MonitorDevice& dev) {
  dev.connected = true;
  dev.identifyPending = true;
  dev.detailRead = false;
  dev.failuresInRow = 0;
  dev.lamp = RunLamp::Good;
}

void DeviceDisconnected(MonitorDevice& dev) {
  dev.connected = false;
  dev.rec.programRunning = 0;
  dev.lamp = RunLamp::Off;
}

void DeviceReset(MonitorDevice& dev) {
  dev.identifyPending = false;
  dev.connected = false;
  dev.lastStatusByte = 0xFF;
  dev.rec.comWrite = 0xFF;
  dev.requestCount = 0;
  dev.errorCount = 0;
  dev.lamp = RunLamp::Off;
  dev.detailRead = false;
  dev.failuresInRow = 0;
  dev.programText.clear();
}

void DeviceIdentified(MonitorDevice& dev, std::uint8_t model) {
  dev.model = model;
  if (model == kModelKx3) dev.decimalPoint = 1;
}

namespace {

// Failed exchanges in a row that drop a controller (time-outs, bad frames,
// bad checks, wrong addresses, wrong echoes, refused status polls).
constexpr int kFailuresToDrop = 4;

}  // namespace

bool CountFailure(MonitorDevice& dev, bool exception, bool poll) {
  if (!exception || poll)
    ++dev.failuresInRow;
  else
    dev.failuresInRow = 0;
  return dev.connected && dev.failuresInRow >= kFailuresToDrop;
}

bool TakeQueuedWrite(MonitorDevice& dev, std::uint16_t reg, std::uint16_t value, ParameterWords& page) {
  if (!SetsDecimalPoint(dev.model, reg)) return false;
  page[reg - kParameterFirst] = value;
  dev.decimalPoint = DecimalPointAfter(dev.model, dev.decimalPoint, RegBlock{reg, 1}, page);
  return true;
}

std::optional<RunLamp> PagesLampColour(PagesLamp lamp) {
  switch (lamp) {
    case PagesLamp::Keep: return std::nullopt;
    case PagesLamp::ReadingParameters: return RunLamp::ReadingParameters;
    case PagesLamp::ReadingFactory: return RunLamp::ReadingFactory;
    case PagesLamp::Good: return RunLamp::Good;
  }
  return std::nullopt;
}

int NextConnectedAfter(std::span<const MonitorDevice, kMonitorDevices> devices, int d) {
  for (int k = 1; k < kMonitorDevices; ++k) {
    const int c = (d + k) % kMonitorDevices;
    if (devices[static_cast<std::size_t>(c)].connected) return c;
  }
  return kNoDevice;
}

MenuFacts MenuFactsOf(const MonitorDevice* selected) {
  MenuFacts facts;
  if (selected == nullptr) return facts;
  facts.selectedDetailRead = selected->connected && selected->detailRead;
  facts.selectedModel = selected->model;
  facts.selectedSecurityMode = selected->rec.security.mode;
  facts.selectedComWrite = selected->rec.comWrite;
  return facts;
}

PollFacts PollFactsOf(std::span<const MonitorDevice, kMonitorDevices> devices, int selected) {
  PollFacts facts;
  for (std::size_t d = 0; d < devices.size(); ++d)
    facts.devices[d] = {devices[d].connected, devices[d].rec.programRunning != 0, devices[d].identifyPending};
  facts.selected = selected;
  const MonitorDevice& sel = devices[static_cast<std::size_t>(ValidDevice(selected) ? selected : 0)];
  facts.selectedRestricted = sel.model == kModelKx3 && !Kx3FullPoll(sel.rec.security.mode);
  return facts;
}

StatusTaken TakeStatusPoll(MonitorDevice& dev, RequestType type, std::span<const std::uint16_t> words,
                           bool selected, bool factoryMode) {
  const PollEffects fx = DecodePoll(TypeNumber(type), dev.model, words, selected, dev.rec);
  StatusTaken out{kChangeRecord, fx.refresh};
  if (fx.decimalPointSet) dev.decimalPoint = fx.decimalPoint;
  if (fx.securityRead) out.changes |= kChangeSecurity;
  const bool kx3Restricted = dev.model == kModelKx3 && !Kx3FullPoll(dev.rec.security.mode);
  switch (type) {
    case RequestType::ModelDetail:
      dev.detailRead = true;
      out.changes |= kChangePvSv;  // the decimal point may have changed
      break;
    case RequestType::PvSv:
    case RequestType::PvSv5:
      out.changes |= kChangePvSv;
      if (!kx3Restricted) out.changes |= kChangeOutputs;
      break;
    case RequestType::Status4:
    case RequestType::Status6:
      if (fx.statusByteRead && dev.rec.statusByte != dev.lastStatusByte) {
        dev.lastStatusByte = dev.rec.statusByte;
        out.changes |= kChangeLeds;
      }
      if (type == RequestType::Status6 && selected && !kx3Restricted) out.changes |= kChangeDiagnostics;
      break;
    case RequestType::Program: {
      const std::uint16_t sv = factoryMode ? dev.rec.patternSv : dev.rec.sv;
      dev.programText = ProgramDisplayText(dev.rec.program, sv, dev.decimalPoint);
      out.changes |= kChangeProgram;
      break;
    }
    default:
      break;
  }
  return out;
}

void TakeParameterPage(MonitorDevice& dev, RegBlock block, std::span<const std::uint16_t> words, ParameterWords& page) {
  StoreParameterWords(page, block, words);
  dev.decimalPoint = DecimalPointAfter(dev.model, dev.decimalPoint, RegBlock{block.start, static_cast<std::uint16_t>(words.size())}, page);
  // The com-write flag, heat/cool and output functions the page holds are
  // the device's from now on: the panel's access and layout follow them.
  panel::RecordFromPage(dev.model, block, words, dev.rec);
}

}  // namespace kx
