#include "core/files/whole_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <utility>

namespace kx {

namespace {

// Closes a POSIX descriptor when it goes out of scope.
struct Descriptor {
  int fd = -1;
  explicit Descriptor(int descriptor) : fd(descriptor) {}
  Descriptor(Descriptor&& other) noexcept : fd(std::exchange(other.fd, -1)) {}
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  Descriptor& operator=(Descriptor&&) = delete;
  ~Descriptor() {
    if (fd >= 0) ::close(fd);
  }
};

// False with errno set when the bytes could not all be written.
bool WriteAll(int fd, std::span<const std::uint8_t> bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n == 0) errno = ENOSPC;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// The reason for a path that exists but cannot be taken as a file.
std::string KindReason(const struct stat& info) {
  return S_ISDIR(info.st_mode) ? SystemReason(EISDIR) : kNotRegularFile;
}

// Opens a regular file for reading, non-blocking so that a FIFO or a device
// named by mistake does not hang the window. On failure the descriptor is
// closed and `reason` says why.
Descriptor OpenRegular(const std::filesystem::path& path, std::string& reason) {
  Descriptor file{::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)};
  if (file.fd < 0) {
    reason = SystemReason(errno);
    return file;
  }
  struct stat info {};
  if (::fstat(file.fd, &info) != 0) {
    reason = SystemReason(errno);
  } else if (!S_ISREG(info.st_mode)) {
    reason = KindReason(info);
  } else {
    return file;
  }
  ::close(file.fd);
  file.fd = -1;
  return file;
}

void Tell(std::string* reason, std::string text) {
  if (reason != nullptr) *reason = std::move(text);
}

}  // namespace

std::string SystemReason(int error) { return std::strerror(error); }

std::string ReadProblem(const std::filesystem::path& path) {
  std::string reason;
  const Descriptor file = OpenRegular(path, reason);
  return reason;
}

WholeFile ReadWholeFile(const std::filesystem::path& path, std::size_t limit) {
  WholeFile result;
  const Descriptor file = OpenRegular(path, result.reason);
  if (file.fd < 0) return result;
  const std::size_t want = limit + 1;
  result.bytes.resize(want);
  std::size_t got = 0;
  while (got < want) {
    const ssize_t n = ::read(file.fd, result.bytes.data() + got, want - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      result.status = FileRead::ReadFailed;
      result.reason = SystemReason(errno);
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

bool WriteWholeFile(const std::filesystem::path& path, std::span<const std::uint8_t> bytes, std::string* reason) {
  // A device, a FIFO or a socket of that name is never replaced by a file.
  struct stat info {};
  if (::stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
    Tell(reason, KindReason(info));
    return false;
  }
  std::filesystem::path temp = path;
  temp += ".tmp-" + std::to_string(::getpid());
  bool written = false;
  {
    Descriptor file{::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666)};
    if (file.fd < 0) {
      // The folder's reason when it is the folder that is wrong.
      const int error = errno;
      const std::string problem = WriteProblem(path);
      Tell(reason, problem.empty() ? SystemReason(error) : problem);
      return false;
    }
    written = WriteAll(file.fd, bytes) && ::fsync(file.fd) == 0;
    if (!written) Tell(reason, SystemReason(errno));
    if (::close(file.fd) != 0 && written) {
      written = false;
      Tell(reason, SystemReason(errno));
    }
    file.fd = -1;
  }
  std::error_code ec;
  if (written) {
    std::filesystem::rename(temp, path, ec);
    if (!ec) return true;
    Tell(reason, SystemReason(ec.value()));
  }
  std::filesystem::remove(temp, ec);
  return false;
}

std::string WriteProblem(const std::filesystem::path& path, std::size_t bytes) {
  struct stat info {};
  if (::stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) return KindReason(info);
  const std::filesystem::path folder = path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
  if (::stat(folder.c_str(), &info) != 0) return SystemReason(errno);
  if (!S_ISDIR(info.st_mode)) return SystemReason(ENOTDIR);
  // A trial file beside the target, as the real write makes one: the folder's
  // permissions, a read-only disk and a full one all show as they would then.
  std::filesystem::path trial = path;
  trial += ".probe-" + std::to_string(::getpid());
  Descriptor file{::open(trial.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600)};
  if (file.fd < 0) return SystemReason(errno);
  std::string problem;
  if (bytes > 0) {
    const std::vector<std::uint8_t> zeros(bytes, 0);
    if (!WriteAll(file.fd, zeros) || ::fsync(file.fd) != 0) problem = SystemReason(errno);
  }
  ::close(file.fd);
  file.fd = -1;
  ::unlink(trial.c_str());
  return problem;
}

}  // namespace kx
