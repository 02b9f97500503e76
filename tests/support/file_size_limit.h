// Stands in for a full disk: while it lives, no file of this process can grow
// past `bytes` (writes beyond fail with EFBIG instead of raising SIGXFSZ).
#pragma once

#include <sys/resource.h>

#include <csignal>

namespace kx::test {

class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    std::signal(SIGXFSZ, SIG_IGN);
    ::getrlimit(RLIMIT_FSIZE, &old_);
    rlimit small = old_;
    small.rlim_cur = bytes;
    ok_ = ::setrlimit(RLIMIT_FSIZE, &small) == 0;
  }
  ~FileSizeLimit() { ::setrlimit(RLIMIT_FSIZE, &old_); }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

  bool ok() const { return ok_; }

 private:
  rlimit old_{};
  bool ok_ = false;
};

}  // namespace kx::test
