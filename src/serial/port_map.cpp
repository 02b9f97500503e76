#include "serial/port_map.h"

#include <QObject>

#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <utility>
#include <vector>

#include "core/line/port_address.h"
#include "serial/modbus_tcp_port.h"
#include "serial/qt_com_port.h"
#include "serial/rfc2217_port.h"
#include "serial/tcp_port.h"

namespace kx::serial {
namespace {

constexpr int kFirstCom = 1;
constexpr int kLastCom = Session::kPortSlots - 1;  // COM12
constexpr int kUartSlots = 4;                      // ttyS0..3 -> COM1..4

std::string_view Trim(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return s;
}

std::optional<int> Decimal(std::string_view s) {
  int value = 0;
  if (s.empty()) return std::nullopt;
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
  if (ec != std::errc{} || end != s.data() + s.size()) return std::nullopt;
  return value;
}

// "COM3" (any case) -> 3, when in range.
std::optional<int> ComNumber(std::string_view name) {
  if (name.size() < 4) return std::nullopt;
  for (std::size_t i = 0; i < 3; ++i)
    if (std::toupper(static_cast<unsigned char>(name[i])) != "COM"[i]) return std::nullopt;
  const auto n = Decimal(name.substr(3));
  if (!n || *n < kFirstCom || *n > kLastCom) return std::nullopt;
  return n;
}

// A UART slot with hardware behind it: the kernel names a device for it and
// knows its UART type (0 is "unknown": no chip answered at that address).
bool UartPresent(const std::filesystem::path& sysEntry, const std::string& devPath) {
  std::error_code ec;
  if (!std::filesystem::exists(sysEntry / "device", ec)) return false;
  std::ifstream typeFile(sysEntry / "type");
  int type = 0;
  if (typeFile >> type) return type != 0;
  // Older kernels without the type attribute: ask the driver.
  const int fd = ::open(devPath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  serial_struct info{};
  const bool known = ::ioctl(fd, TIOCGSERIAL, &info) == 0 && info.type != PORT_UNKNOWN;
  ::close(fd);
  return known;
}

// Numbers n of the entries named `prefix`n under `dir`, ascending.
std::vector<int> NumberedEntries(const std::filesystem::path& dir, std::string_view prefix) {
  std::vector<int> numbers;
  std::error_code ec;
  for (std::filesystem::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) continue;
    if (const auto n = Decimal(std::string_view(name).substr(prefix.size()))) numbers.push_back(*n);
  }
  std::sort(numbers.begin(), numbers.end());
  return numbers;
}


// Defers deleting a replaced line: it may be the one whose event is being
// handled right now.
struct DeleteLater {
  void operator()(LinePort* line) const {
    if (line != nullptr) line->deleteLater();
  }
};

// The port object the windows hold. It keeps the settings and hands them to a
// line of the kind the selected COM number needs, made when the port opens.
class MappedPort final : public ComPort {
 public:
  explicit MappedPort(PortPaths paths) : paths_(std::move(paths)) {}
  ~MappedPort() override {
    if (line_) {
      line_->SetOnTrigger(nullptr);
      line_->SetOnError(nullptr);
      line_->Close();
    }
  }

  void SetComNumber(std::uint16_t number) override { com_ = number; }
  void SetTap(PortTap* tap) override {
    lineTap_ = tap;
    if (line_) line_->SetTap(tap);
  }
  void SetBaud(std::int32_t baud) override {
    settings_.baud = baud;
    if (line_) line_->SetBaud(baud);
  }
  void SetDatabits(int bits) override {
    settings_.dataBits = bits;
    if (line_) line_->SetDatabits(bits);
  }
  void SetStopbits(int bits) override {
    settings_.stopBits = bits;
    if (line_) line_->SetStopbits(bits);
  }
  void SetParity(Parity parity) override {
    settings_.parity = parity;
    if (line_) line_->SetParity(parity);
  }

  bool Open() override {
    if (IsOpen()) return true;
    LinePort& line = Line();
    line.SetComNumber(com_);
    line.SetBaud(settings_.baud);
    line.SetDatabits(settings_.dataBits);
    line.SetStopbits(settings_.stopBits);
    line.SetParity(settings_.parity);
    return line.Open();
  }
  void Close() override {
    if (line_) line_->Close();
  }
  bool IsOpen() const override { return line_ && line_->IsOpen(); }
  std::string ErrorText() const override { return line_ ? line_->ErrorText() : std::string{}; }
  LineTraits Traits() const override { return TraitsOfPath(MappedPathOf(paths_, com_)); }

  void PutBlock(std::span<const std::uint8_t> data) override {
    if (line_) line_->PutBlock(data);
  }
  std::size_t Read(std::span<std::uint8_t> out) override { return line_ ? line_->Read(out) : 0; }
  std::size_t CharsWaiting() const override { return line_ ? line_->CharsWaiting() : 0; }
  void FlushInBuffer() override {
    if (line_) line_->FlushInBuffer();
  }
  std::uint16_t AddTimerTrigger() override { return Line().AddTimerTrigger(); }
  void Arm(std::uint16_t handle, std::int32_t ticks) override {
    if (line_) line_->Arm(handle, ticks);
  }
  void Disarm(std::uint16_t handle) override {
    if (line_) line_->Disarm(handle);
  }

 private:
  // The line for the selected COM number; replaced (only while closed) when
  // that number needs another kind.
  LinePort& Line() {
    const auto address = ParsePortAddress(MappedPathOf(paths_, com_));
    const LineTransport transport = address ? address->transport : LineTransport::Device;
    if (!line_ || (!line_->IsOpen() && transport != transport_)) {
      line_.reset(MakeLine(transport));
      transport_ = transport;
      line_->SetOnTrigger([this](ComPort&, const PortEvent& event) { RaiseTrigger(event); });
      line_->SetOnError([this](const std::string& text) { RaiseError(text); });
      line_->SetTap(lineTap_);
    }
    return *line_;
  }

  LinePort* MakeLine(LineTransport transport) const {
    switch (transport) {
      case LineTransport::Device: break;
      case LineTransport::Rfc2217: return new Rfc2217Port(paths_);
      case LineTransport::Tcp: return new TcpPort(paths_);
      case LineTransport::ModbusTcp: return new ModbusTcpPort(paths_);
    }
    return new QtComPort(paths_);
  }

  PortPaths paths_;
  std::uint16_t com_ = 0;
  LineSettings settings_;
  std::unique_ptr<LinePort, DeleteLater> line_;
  PortTap* lineTap_ = nullptr;
  LineTransport transport_ = LineTransport::Device;
};

}  // namespace

PortPaths ParsePortList(std::string_view text) {
  PortPaths paths{};
  while (!text.empty()) {
    const std::size_t comma = text.find(',');
    const std::string_view entry = text.substr(0, comma);
    text = comma == std::string_view::npos ? std::string_view{} : text.substr(comma + 1);
    const std::size_t eq = entry.find('=');
    if (eq == std::string_view::npos) continue;
    const auto com = ComNumber(Trim(entry.substr(0, eq)));
    const std::string_view path = Trim(entry.substr(eq + 1));
    if (!com || path.empty()) continue;
    if (!ParsePortAddress(path)) continue;
    paths[static_cast<std::size_t>(*com)] = std::string(path);
  }
  return paths;
}

PortPaths DefaultPortPaths(const std::string& sysClassTty, const std::string& devDir) {
  PortPaths paths{};
  const std::filesystem::path sys(sysClassTty);
  for (int n = 0; n < kUartSlots; ++n) {
    const std::string name = "ttyS" + std::to_string(n);
    if (UartPresent(sys / name, devDir + "/" + name)) paths[static_cast<std::size_t>(n + 1)] = devDir + "/" + name;
  }
  int com = kFirstCom;
  for (const std::string_view prefix : {"ttyUSB", "ttyACM"}) {
    for (const int n : NumberedEntries(sys, prefix)) {
      while (com <= kLastCom && !paths[static_cast<std::size_t>(com)].empty()) ++com;
      if (com > kLastCom) return paths;
      paths[static_cast<std::size_t>(com)] = devDir + "/" + std::string(prefix) + std::to_string(n);
    }
  }
  return paths;
}

PortPaths ActivePortPaths() {
  if (const char* list = std::getenv(kPortsVariable)) return ParsePortList(list);
  return DefaultPortPaths();
}

std::unique_ptr<ComPort> MakeMappedPort(const PortPaths& paths) { return std::make_unique<MappedPort>(paths); }

void ConfigurePorts(Session& session) { ConfigurePorts(session, ActivePortPaths()); }

void ConfigurePorts(Session& session, const PortPaths& paths) {
  for (std::size_t n = 0; n < paths.size(); ++n) {
    session.portPresent[n] = n >= kFirstCom && !paths[n].empty();
    session.portPath[n] = session.portPresent[n] ? paths[n] : std::string{};
  }
  session.makePort = [paths] { return MakeMappedPort(paths); };
}

}  // namespace kx::serial
