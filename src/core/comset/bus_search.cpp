#include "core/comset/bus_search.h"

#include <algorithm>

#include "core/exchange/requests.h"
#include "core/line/network_line.h"
#include "core/text/messages.h"

namespace kx {

namespace {

struct BaudItem {
  int baud;
  std::string_view labelText;  // as written in the status line
};

// Baud digit order of the preset lists and the combination number.
constexpr std::array<BaudItem, 5> kBauds{{
    {9600, " 9600,"},
    {19200, "19200,"},
    {38400, "38400,"},
    {4800, " 4800,"},
    {2400, " 2400,"},
}};
constexpr std::array<Parity, 3> kParities{Parity::Odd, Parity::Even, Parity::None};
constexpr std::array<char, 3> kParityLetters{'O', 'E', 'N'};

// Positions (0-based) of the fields in a combination label "COM01, 9600,7,O,1,ASCII".
constexpr std::size_t kLabelBaudPos = 6;
constexpr std::size_t kLabelLengthPos = 12;
constexpr std::size_t kLabelParityPos = 14;
constexpr std::size_t kLabelStopPos = 16;
constexpr std::size_t kLabelFormPos = 18;
constexpr std::size_t kLabelFormWidth = 5;

}  // namespace

// ---------------------------------------------------------------------------

int CombinationNumber(const PresetFormat& f) {
  return f.baud + 5 * f.parity + 15 * f.length + 30 * f.stop + 60 * f.form;
}

PresetFormat CombinationFormat(int n) {
  n = std::clamp(n, 0, kCombinationCount - 1);
  return PresetFormat{n % 5, (n / 5) % 3, (n / 15) % 2, (n / 30) % 2, (n / 60) % 2};
}

int FormatBaud(const PresetFormat& f) {
  return kBauds[static_cast<std::size_t>(std::clamp(f.baud, 0, 4))].baud;
}
Parity FormatParity(const PresetFormat& f) {
  return kParities[static_cast<std::size_t>(std::clamp(f.parity, 0, 2))];
}
int FormatDataBits(const PresetFormat& f) { return f.length == 1 ? 8 : 7; }
int FormatStopBits(const PresetFormat& f) { return f.stop == 1 ? 2 : 1; }
FrameForm FormatForm(const PresetFormat& f) { return FormatRtu(f) ? FrameForm::Rtu : FrameForm::Ascii; }

int FormatBaudCode(const PresetFormat& f) {
  static constexpr std::array<int, 5> kCodes{2, 3, 4, 1, 0};  // per baud digit
  return kCodes[static_cast<std::size_t>(std::clamp(f.baud, 0, 4))];
}

int FormatParityCode(const PresetFormat& f) { return 2 - std::clamp(f.parity, 0, 2); }

PresetFormat FieldsFormat(const SettingsFields& fields) {
  static constexpr std::array<int, 5> kDigits{4, 3, 0, 1, 2};  // per baud code: 2400 .. 38400
  PresetFormat f;
  f.baud = fields.baudCode >= 0 && fields.baudCode < 5 ? kDigits[static_cast<std::size_t>(fields.baudCode)] : 0;
  f.parity = fields.parityCode >= 0 && fields.parityCode < 3 ? 2 - fields.parityCode : 0;
  f.length = fields.dataBits8 != 0 ? 1 : 0;
  f.stop = fields.stopBits2 != 0 ? 1 : 0;
  f.form = fields.rtu != 0 ? 1 : 0;
  return f;
}

PortParams FormatParams(const PresetFormat& f, int comNumber) {
  PortParams p;
  p.port = comNumber;
  p.baud = FormatBaud(f);
  p.dataBits = FormatDataBits(f);
  p.parityCode = FormatParityCode(f);
  p.stopBits = FormatStopBits(f);
  p.rtu = FormatRtu(f);
  return p;
}

LineFormat LineFormatOf(const PresetFormat& f) { return LineFormatOf(FormatParams(f, 1)); }

void ApplyFormat(ComPort& port, const PresetFormat& f) {
  port.SetBaud(FormatBaud(f));
  port.SetDatabits(FormatDataBits(f));
  port.SetParity(FormatParity(f));
  port.SetStopbits(FormatStopBits(f));
}

// ---------------------------------------------------------------------------

bool SetupLine::Open(int comNumber, const PresetFormat& format) {
  ComPort& port = routing_.port();
  comNumber_ = comNumber;
  port.SetComNumber(static_cast<std::uint16_t>(comNumber));
  ApplyFormat(port, format);
  routing_.HoldLine(LineOwner::Setup);
  if (!routing_.Open(FormatParams(format, comNumber))) return false;
  UseFormat(format);  // the port may have been open already, with other settings
  return true;
}

void SetupLine::UseFormat(const PresetFormat& format) {
  ApplyFormat(routing_.port(), format);
  routing_.UseLine(FormatParams(format, comNumber_));
}

void SetupLine::Free() {
  routing_.ReleaseLine();
  routing_.Close();
}

// ---------------------------------------------------------------------------

const PresetList& AddrPresetList() {
  static const PresetList list{
      "AddrPreSet",
      {"UNKNOW", "01H~10H", "11H~20H", "21H~30H", "31H~40H", "41H~50H", "51H~60H", "61H~70H",
       "71H~80H", "81H~90H", "91H~A0H", "A1H~B0H", "B1H~C0H", "C1H~D0H", "D1H~E0H", "E1H~F0H",
       "F1H~F7H"}};
  return list;
}
const PresetList& BaudPresetList() {
  static const PresetList list{"BaudPreSet", {"UNKNOW", "9600", "19200", "38400", "4800", "2400"}};
  return list;
}
const PresetList& LengthPresetList() {
  static const PresetList list{"LengthPreSet", {"UNKNOW", "7 BITS", "8 BITS"}};
  return list;
}
const PresetList& ParityPresetList() {
  static const PresetList list{"ParityPreSet", {"UNKNOW", "ODD", "EVEN", "NONE"}};
  return list;
}
const PresetList& StopPresetList() {
  static const PresetList list{"StopPreSet", {"UNKNOW", "1 STOP BIT", "2 STOP BITS"}};
  return list;
}
const PresetList& ProtocolPresetList() {
  static const PresetList list{"ProtocolPreSet", {"UNKNOW", "ASCII", "RTU"}};
  return list;
}

void ApplyPresetRules(SearchPresets& p) {
  if (p.protocol == kProtocolRtu) p.length = kLength8;
  if (p.length == kLength8 && (p.parity == kParityOdd || p.parity == kParityEven)) p.stop = kStop1;
  if (p.length == kLength7 && p.parity == kParityNone) p.stop = kStop2;
}

void SetPresetsToFormat(SearchPresets& p, const PresetFormat& f) {
  p.baud = f.baud + 1;
  p.parity = f.parity + 1;
  p.length = f.length + 1;
  p.stop = f.stop + 1;
  p.protocol = f.form + 1;
}

std::optional<PresetFormat> PresetsFormat(const SearchPresets& p) {
  if (p.baud == kUnknown || p.parity == kUnknown || p.length == kUnknown || p.stop == kUnknown ||
      p.protocol == kUnknown)
    return std::nullopt;
  return PresetFormat{p.baud - 1, p.parity - 1, p.length - 1, p.stop - 1, p.protocol - 1};
}

AddressRange PresetAddressRange(int k) {
  if (k < 1 || k > 16) return {1, 247};
  return {16 * k - 15, std::min(16 * k, 247)};
}

std::vector<int> VisitedCombinations(const SearchPresets& p) {
  const auto fits = [](int preset, int digit) { return preset == kUnknown || preset == digit + 1; };
  std::vector<int> out;
  for (int n = 0; n < kCombinationCount; ++n) {
    const PresetFormat f = CombinationFormat(n);
    if (FormatRtu(f) && f.length != 1) continue;
    if (fits(p.baud, f.baud) && fits(p.parity, f.parity) && fits(p.length, f.length) &&
        fits(p.stop, f.stop) && fits(p.protocol, f.form))
      out.push_back(n);
  }
  return out;
}

std::string CombinationLabel(int comNumber, int combination) {
  const PresetFormat f = CombinationFormat(combination);
  const int port = std::clamp(comNumber, 0, 99);
  std::string label = "COM";
  label += static_cast<char>('0' + port / 10);
  label += static_cast<char>('0' + port % 10);
  label += ',';
  label += kBauds[static_cast<std::size_t>(f.baud)].labelText;
  label += FormatDataBits(f) == 8 ? "8," : "7,";
  label += kParityLetters[static_cast<std::size_t>(f.parity)];
  label += ',';
  label += FormatStopBits(f) == 2 ? "2," : "1,";
  label += FormatRtu(f) ? "  RTU" : "ASCII";
  return label;
}

void RewriteLabel(std::string& label, int combination) {
  const PresetFormat f = CombinationFormat(combination);
  if (label.size() < kLabelFormPos + kLabelFormWidth) return;  // not a combination label
  // The baud text without its trailing comma is characters 7 to 11.
  label.replace(kLabelBaudPos, 5, kBauds[static_cast<std::size_t>(f.baud)].labelText.substr(0, 5));
  label[kLabelLengthPos] = FormatDataBits(f) == 8 ? '8' : '7';
  label[kLabelParityPos] = kParityLetters[static_cast<std::size_t>(f.parity)];
  label[kLabelStopPos] = FormatStopBits(f) == 2 ? '2' : '1';
  label.replace(kLabelFormPos, kLabelFormWidth, FormatRtu(f) ? "RTU  " : "ASCII");
}

SearchPresets PresetsOnLine(LineTransport transport, const SearchPresets& chosen, const PresetFormat& pcFormat) {
  if (!FormatIsServers(transport)) return chosen;
  SearchPresets presets = chosen;
  PresetFormat format = pcFormat;
  if (FormatRtu(format)) format.length = 1;  // RTU frames need all eight bits
  SetPresetsToFormat(presets, format);
  return presets;
}

std::string SearchNote(const Session& session, int comNumber) {
  const LineControl control = ControlOf(TransportOf(session, comNumber));
  if (control.format) return {};
  const Msg note = control.form ? Msg::ServerSearchAddresses : Msg::GatewaySearchAddresses;
  return LineName(session, comNumber) + std::string(Text(note));
}

std::string ServedFormText(LineTransport transport, const PresetFormat& format) {
  if (transport == LineTransport::ModbusTcp) return std::string(Text(Msg::GatewayForm));
  return FormatRtu(format) ? "RTU" : "ASCII";
}

std::string TimeLeftText(int total, int done) {
  const int remaining = std::max(total - done, 0);
  const long long t = static_cast<long long>(remaining) * kProbeEstimateMs / 1000;
  const long long m = t / 60;
  const long long s = t % 60;
  std::string text(Text(Msg::EstimateTimeLeft));
  if (m != 0) {
    text += std::to_string(m);
    text += " ";
    text += Text(Msg::MinutesSuffix);
    text += ",";
  }
  text += std::to_string(s);
  text += Text(Msg::SecondsSuffix);
  return text;
}


// ---------------------------------------------------------------------------

BusSearch::BusSearch(Session& session, MainPortRouting& routing, Hooks hooks)
    : session_(session), routing_(routing), line_(session, routing), hooks_(std::move(hooks)) {
  view_.status = std::string(Text(Msg::PressStartToDetect));
}

void BusSearch::Changed() const {
  if (hooks_.changed) hooks_.changed();
}

void BusSearch::Handle(const SearchEvent& event) {
  std::visit([this](const auto& e) { On(e); }, event);
}

void BusSearch::On(const search_event::Start& start) {
  if (Searching()) return;
  // The lists are taken as they are (a chosen result row fills them without
  // the close-up rules); only the RTU form always means 8 data bits.
  comNumber_ = start.comNumber;
  transport_ = TransportOf(session_, comNumber_);
  SearchPresets presets = PresetsOnLine(transport_, start.presets, start.pcFormat);
  if (presets.protocol == kProtocolRtu) presets.length = kLength8;

  hits_.clear();
  probeCount_ = 0;
  range_ = PresetAddressRange(presets.addr);
  visited_ = VisitedCombinations(presets);
  comboIndex_ = 0;
  total_ = range_.Count() * static_cast<int>(visited_.size());

  view_.gauge = 0;
  view_.gaugeMax = std::max(total_, 1);
  view_.gaugeVisible = true;
  view_.timeLeft.clear();
  if (visited_.empty()) {  // presets that contradict each other: nothing to probe
    state_ = State::Completed;
    view_.status = std::string(Text(Msg::SearchCompletedFound)) + "0" + std::string(Text(Msg::ItemsSuffix));
    view_.gauge = view_.gaugeMax;
    Changed();
    return;
  }

  const PresetFormat format = CombinationFormat(visited_.front());
  // Behind a server the line is named as given, with the one form searched.
  view_.status = FormatIsServers(transport_)
                     ? LineName(session_, comNumber_) + ", " + ServedFormText(transport_, format)
                     : CombinationLabel(comNumber_, visited_.front());
  probeAddress_ = range_.first;

  if (!line_.Open(comNumber_, format)) {
    line_.Free();
    state_ = State::Idle;
    view_.status = std::string(Text(Msg::PressStartToDetect));
    view_.gaugeVisible = false;
    Changed();
    if (hooks_.showError) hooks_.showError(routing_.port().ErrorText());
    return;
  }
  state_ = State::Probing;
  Changed();
  SendProbe();
}

void BusSearch::SendProbe() {
  const LineFormat line = LineFormatOf(CombinationFormat(Combination()));
  ExchangeRequest probe = ProbeRequest(line, static_cast<std::uint8_t>(probeAddress_));
  // The setup route ends answers and re-arms its wait by its own rule.
  routing_.Send(MainPortRouting::Route::Setup, std::move(probe));
}

void BusSearch::On(const search_event::Answered& answered) {
  if (!Searching()) return;
  const FrameForm form = FormatForm(CombinationFormat(Combination()));
  if (ProbeHit(answered.answer, static_cast<std::uint8_t>(probeAddress_), form)) {
    if (static_cast<int>(hits_.size()) >= kMaxHits) {
      // The table holds 29 hits: a 30th ends the search with those listed.
      Finish(State::Completed);
      return;
    }
    Hit hit;
    hit.address = probeAddress_;
    hit.combination = Combination();
    hit.addressText = HexByte(probeAddress_) + "H";
    if (FormatIsServers(transport_)) {
      hit.protocolText = ServedFormText(transport_, CombinationFormat(Combination()));
    } else {
      hit.protocolText = view_.status.size() > 6 ? view_.status.substr(6) : std::string();
    }
    hits_.push_back(std::move(hit));
  }
  Step();
}

void BusSearch::Step() {
  ++probeCount_;
  view_.timeLeft = TimeLeftText(total_, probeCount_);
  if (probeAddress_ < range_.last) {
    ++probeAddress_;
  } else {
    ++comboIndex_;
    if (comboIndex_ >= visited_.size()) {
      comboIndex_ = visited_.size();
      Finish(State::Completed);
      return;
    }
    probeAddress_ = range_.first;
    const PresetFormat format = CombinationFormat(Combination());
    line_.UseFormat(format);
    RewriteLabel(view_.status, Combination());
  }
  view_.gauge = probeCount_;
  Changed();
  SendProbe();
}

void BusSearch::Finish(State end) {
  state_ = end;
  const std::string count = std::to_string(hits_.size());
  Msg head = Msg::SearchCompletedFound;
  if (end == State::Completed) view_.gauge = view_.gaugeMax;
  if (end == State::Aborted) head = Msg::SearchAbortFound;
  if (end == State::LineLost) head = Msg::SearchLineLostFound;
  view_.status = std::string(Text(head)) + count + std::string(Text(Msg::ItemsSuffix));
  line_.Free();
  Changed();
}

void BusSearch::On(const search_event::Cancel&) {
  if (Searching()) Finish(State::Aborted);
}

void BusSearch::On(const search_event::LineLost&) {
  if (Searching()) Finish(State::LineLost);
}

void BusSearch::On(const search_event::Leave&) {
  state_ = State::Idle;
  line_.Free();
  view_.status = std::string(Text(Msg::PressStartToDetect));
  view_.gaugeVisible = false;
  view_.timeLeft.clear();
  Changed();
}

std::optional<int> BusSearch::RowCombination(int row) const {
  if (Searching() || row < 1 || row > static_cast<int>(hits_.size())) return std::nullopt;
  return hits_[static_cast<std::size_t>(row - 1)].combination;
}

}  // namespace kx
