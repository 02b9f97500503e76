#include "core/files/whole_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace kx {

namespace {

// Closes a POSIX descriptor when it goes out of scope.
struct Descriptor {
  int fd = -1;
  ~Descriptor() {
    if (fd >= 0) ::close(fd);
  }
};

bool WriteAll(int fd, std::span<const std::uint8_t> bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

WholeFile ReadWholeFile(const std::filesystem::path& path, std::size_t limit) {
  WholeFile result;
  // Non-blocking so that a FIFO or a device named by mistake does not hang the window.
  Descriptor file{::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)};
  if (file.fd < 0) return result;
  struct stat info {};
  if (::fstat(file.fd, &info) != 0 || !S_ISREG(info.st_mode)) return result;
  const std::size_t want = limit + 1;
  result.bytes.resize(want);
  std::size_t got = 0;
  while (got < want) {
    const ssize_t n = ::read(file.fd, result.bytes.data() + got, want - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      result.status = FileRead::ReadFailed;
      result.bytes.clear();
      return result;
    }
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  result.bytes.resize(got);
  result.status = FileRead::Read;
  return result;
}

bool WriteWholeFile(const std::filesystem::path& path, std::span<const std::uint8_t> bytes) {
  std::filesystem::path temp = path;
  temp += ".tmp-" + std::to_string(::getpid());
  bool written = false;
  {
    Descriptor file{::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666)};
    if (file.fd < 0) return false;
    written = WriteAll(file.fd, bytes) && ::fsync(file.fd) == 0;
    if (::close(file.fd) != 0) written = false;
    file.fd = -1;
  }
  std::error_code ec;
  if (written) {
    std::filesystem::rename(temp, path, ec);
    if (!ec) return true;
  }
  std::filesystem::remove(temp, ec);
  return false;
}

}  // namespace kx
