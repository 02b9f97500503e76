#include "core/line/settings.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <filesystem>
#include <cerrno>
#include <fstream>
#include <limits>
#include <optional>
#include <system_error>

namespace kx {

namespace {

constexpr std::array<int, 5> kBaudRates{2400, 4800, 9600, 19200, 38400};

std::filesystem::path SettingsPath(const Session& session) {
  return std::filesystem::path(session.workDir) / std::string(kSettingsFileName);
}

bool IsSpace(int c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
bool IsDigit(int c) { return c >= '0' && c <= '9'; }

// The whole content of a regular file of at most kMaxSettingsFileBytes, or
// nothing. Opened without blocking, so a FIFO or a device of that name cannot
// hang the start; the type is checked on the open file, not on the name.
std::optional<std::string> ReadSmallRegularFile(const std::filesystem::path& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return std::nullopt;
  std::optional<std::string> content;
  struct stat st {};
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size >= 0 &&
      static_cast<std::size_t>(st.st_size) <= kMaxSettingsFileBytes) {
    // Read one byte more than allowed: a file that grew since fstat is refused too.
    std::string buf(kMaxSettingsFileBytes + 1, '\0');
    std::size_t got = 0;
    bool failed = false;
    while (got < buf.size()) {
      const ssize_t n = ::read(fd, buf.data() + got, buf.size() - got);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) failed = true;
      if (n <= 0) break;
      got += static_cast<std::size_t>(n);
    }
    if (!failed && got <= kMaxSettingsFileBytes) content = buf.substr(0, got);
  }
  ::close(fd);
  return content;
}

}  // namespace

std::optional<std::int32_t> ParseSettingsNumber(std::string_view text) {
  std::size_t i = 0;
  auto at = [&](std::size_t k) { return k < text.size() ? static_cast<unsigned char>(text[k]) : -1; };
  while (i < text.size() && IsSpace(at(i))) ++i;
  bool negative = false;
  if (at(i) == '-' || at(i) == '+') {
    negative = at(i) == '-';
    ++i;
  }
  if (!IsDigit(at(i))) return std::nullopt;
  constexpr std::int64_t kLimit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
  std::int64_t value = 0;
  for (; IsDigit(at(i)); ++i) {
    value = value * 10 + (at(i) - '0');
    if (value > kLimit) return std::nullopt;
  }
  if (negative) value = -value;
  if (value > std::numeric_limits<std::int32_t>::max()) return std::nullopt;
  return static_cast<std::int32_t>(value);
}

int BaudForCode(int code) {
  return code >= 0 && code < static_cast<int>(kBaudRates.size())
             ? kBaudRates[static_cast<std::size_t>(code)]
             : 0;
}

SettingsFields SplitSettingsWord(std::int32_t word) {
  SettingsFields f;
  f.port = word >> 8;
  f.rtu = (word >> 7) & 1;
  f.baudCode = (word >> 4) & 7;
  f.parityCode = (word >> 2) & 3;
  f.dataBits8 = (word >> 1) & 1;
  f.stopBits2 = word & 1;
  return f;
}

std::int32_t EncodeSettingsWord(const SettingsFields& f) {
  return f.port * 256 + (f.rtu & 1) * 128 + (f.baudCode & 7) * 16 + (f.parityCode & 3) * 4 +
         (f.dataBits8 & 1) * 2 + (f.stopBits2 & 1);
}

void DecodeSettingsWord(std::int32_t word, PortParams& p) {
  const SettingsFields f = SplitSettingsWord(word);
  p.port = f.port;
  p.dataBits = 7 + f.dataBits8;
  if (const int baud = BaudForCode(f.baudCode); baud != 0) p.baud = baud;
  p.parityCode = f.parityCode;
  p.stopBits = 1 + f.stopBits2;
  p.rtu = f.rtu != 0;
}

std::int32_t DefaultSettingsWord(const std::array<bool, Session::kPortSlots>& present) {
  int port = Session::kPortSlots;
  for (int n = 0; n < Session::kPortSlots; ++n) {
    if (present[static_cast<std::size_t>(n)]) {
      port = n;
      break;
    }
  }
  return port * 256 + kDefaultLineBits;
}

SettingsReadResult ReadSettingsFile(Session& session) {
  SettingsReadResult result = SettingsReadResult::Missing;
  const std::optional<std::string> content = ReadSmallRegularFile(SettingsPath(session));
  if (const auto word = content ? ParseSettingsNumber(*content) : std::nullopt) {
    result = SettingsReadResult::Read;
    session.settingsFileRead = true;
    session.settingsWord = *word;
  }
  if (result == SettingsReadResult::Missing) {
    session.settingsWord = DefaultSettingsWord(session.portPresent);
    session.settingsFileRead = false;
  }
  DecodeSettingsWord(session.settingsWord, session.params);
  return result;
}

bool WriteSettingsFile(const Session& session) {
  const auto path = SettingsPath(session);
  std::error_code ec;
  // An existing file the user has made read-only is "protected": leave it. The
  // write bits decide as well as access(), which says yes to root whatever the
  // mode, so the file is kept for every user.
  if (std::filesystem::exists(path, ec)) {
    using std::filesystem::perms;
    const perms mode = std::filesystem::status(path, ec).permissions();
    const perms anyWrite = perms::owner_write | perms::group_write | perms::others_write;
    if (ec || (mode & anyWrite) == perms::none || ::access(path.c_str(), W_OK) != 0) return false;
  }

  auto temp = path;
  temp += ".new";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    if (!out.is_open()) return false;
    out << std::to_string(session.settingsWord);
    out.close();
    if (out.fail()) {
      std::filesystem::remove(temp, ec);
      return false;
    }
  }
  std::filesystem::rename(temp, path, ec);
  if (ec) {
    std::filesystem::remove(temp, ec);
    return false;
  }
  return true;
}

std::array<bool, Session::kPortSlots> ParsePortListing(const std::vector<std::string>& names) {
  std::array<bool, Session::kPortSlots> present{};
  for (const std::string& name : names) {
    if (name.size() < 3 || name.compare(0, 3, "COM") != 0) continue;
    if (name.size() != 4 && name.size() != 5) continue;
    int n = 0;
    for (std::size_t i = 3; i < name.size(); ++i) {
      if (!IsDigit(static_cast<unsigned char>(name[i]))) return present;  // ends the listing
      n = n * 10 + (name[i] - '0');
    }
    if (n < Session::kPortSlots) present[static_cast<std::size_t>(n)] = true;
  }
  return present;
}

bool OpenWithParams(ComPort& port, const PortParams& p) {
  if (port.IsOpen()) return true;
  port.SetComNumber(static_cast<std::uint16_t>(p.port));
  port.SetBaud(p.baud);
  port.SetDatabits(p.dataBits);
  port.SetStopbits(p.stopBits);
  switch (p.parityCode) {
    case 0: port.SetParity(Parity::None); break;
    case 1: port.SetParity(Parity::Even); break;
    case 2: port.SetParity(Parity::Odd); break;
    default: break;  // code 3: the port keeps its previous parity
  }
  return port.Open();
}

}  // namespace kx
