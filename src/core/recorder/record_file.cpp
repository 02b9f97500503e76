#include "core/recorder/record_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <utility>

#include "core/files/whole_file.h"

namespace kx::recorder {

namespace {

std::string SystemError(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

// Writes all of `data`, retrying after interruptions. False on any failure.
bool WriteAll(int fd, const std::uint8_t* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) {
      errno = ENOSPC;
      return false;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

HeaderBytes EncodeHeader(const RecordHeader& header) {
  HeaderBytes bytes{};
  for (int i = 0; i < kSlots; ++i) bytes[static_cast<std::size_t>(i)] = header.addresses[static_cast<std::size_t>(i)];
  bytes[10] = header.sampleTime;
  bytes[11] = 0;
  return bytes;
}

RecordHeader DecodeHeader(std::span<const std::uint8_t, kHeaderSize> bytes) {
  RecordHeader header;
  for (std::size_t i = 0; i < kSlots; ++i) header.addresses[i] = bytes[i];
  header.sampleTime = bytes[10];
  return header;
}

std::int32_t DecodeValue(std::uint8_t high, std::uint8_t low) {
  const auto word = static_cast<std::uint16_t>(high << 8 | low);
  if (word == kErrorMarker) return kErrorMarker;
  return static_cast<std::int16_t>(word);
}

Record DecodeRecord(std::span<const std::uint8_t, kRecordSize> bytes) {
  Record record;
  for (std::size_t i = 0; i < kSlots; ++i) record.values[i] = DecodeValue(bytes[2 * i], bytes[2 * i + 1]);
  record.time = {bytes[20], bytes[21], bytes[22], bytes[23]};
  return record;
}

RecordBytes EncodeRecord(const Record& record) {
  RecordBytes bytes{};
  for (std::size_t i = 0; i < kSlots; ++i) {
    const auto word = static_cast<std::uint16_t>(record.values[i]);
    bytes[2 * i] = static_cast<std::uint8_t>(word >> 8);
    bytes[2 * i + 1] = static_cast<std::uint8_t>(word);
  }
  bytes[20] = record.time.hour;
  bytes[21] = record.time.minute;
  bytes[22] = record.time.second;
  bytes[23] = record.time.millisecond;
  bytes[24] = kRecordEnd;
  return bytes;
}

std::uint64_t RecordCount(std::uint64_t fileSize) {
  return fileSize < kHeaderSize ? 0 : (fileSize - kHeaderSize) / kRecordSize;
}

// ---------------------------------------------------------------------------

RecordWriter::~RecordWriter() { Close(); }

bool RecordWriter::Create(const std::string& path, const RecordHeader& header) {
  Close();
  error_.clear();
  records_ = 0;
  path_ = path;
  const std::string temp = path + ".part";
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    error_ = SystemError("create");
    return false;
  }
  const HeaderBytes bytes = EncodeHeader(header);
  if (!WriteAll(fd, bytes.data(), bytes.size())) {
    error_ = SystemError("write");
    ::close(fd);
    ::unlink(temp.c_str());
    return false;
  }
  if (std::rename(temp.c_str(), path.c_str()) != 0) {
    error_ = SystemError("rename");
    ::close(fd);
    ::unlink(temp.c_str());
    return false;
  }
  fd_ = fd;
  return true;
}

bool RecordWriter::Append(const RecordBytes& record) {
  if (fd_ < 0) return false;
  if (WriteAll(fd_, record.data(), record.size())) {
    ++records_;
    return true;
  }
  error_ = SystemError("write");
  // Cut a partly written record off, so the file holds whole records only.
  const auto whole = static_cast<off_t>(kHeaderSize + records_ * kRecordSize);
  if (::ftruncate(fd_, whole) != 0) {
    // Nothing more can be done; the reader ignores a trailing partial record.
  }
  Close();
  return false;
}

void RecordWriter::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

// ---------------------------------------------------------------------------

bool RecordFile::Open(const std::string& path) {
  *this = RecordFile{};
  // Checked first: a FIFO would block the stream's open, and the stream
  // keeps no reason of its own.
  error_ = ReadProblem(path);
  if (!error_.empty()) return false;
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error_ = SystemReason(errno);
    return false;
  }
  in.seekg(0, std::ios::end);
  const std::streamoff size = in.tellg();
  if (!in || size < static_cast<std::streamoff>(kHeaderSize)) return false;
  in.seekg(0);
  HeaderBytes bytes{};
  if (!in.read(reinterpret_cast<char*>(bytes.data()), kHeaderSize)) return false;
  header_ = DecodeHeader(bytes);
  path_ = path;
  count_ = RecordCount(static_cast<std::uint64_t>(size));
  open_ = true;
  if (count_ > 0 && !LoadWindow(0)) {
    std::string error = std::move(error_);
    *this = RecordFile{};
    error_ = std::move(error);
    return false;
  }
  return true;
}

bool RecordFile::LoadWindow(std::uint64_t start) {
  window_.clear();
  windowStart_ = start;
  if (!open_ || start >= count_) return false;
  const std::uint64_t n = std::min<std::uint64_t>(kWindowRecords, count_ - start);
  error_ = ReadProblem(path_);  // the file may have gone or been replaced since Open
  if (!error_.empty()) return false;
  std::ifstream in(path_, std::ios::binary);
  if (!in) {
    error_ = SystemReason(errno);
    return false;
  }
  in.seekg(static_cast<std::streamoff>(kHeaderSize + start * kRecordSize));
  if (!in) return false;
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(n * kRecordSize));
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  const auto got = static_cast<std::size_t>(in.gcount()) / kRecordSize;
  window_.reserve(got);
  for (std::size_t i = 0; i < got; ++i)
    window_.push_back(DecodeRecord(std::span<const std::uint8_t, kRecordSize>(bytes.data() + i * kRecordSize, kRecordSize)));
  return got > 0;
}

bool RecordFile::Ensure(std::uint64_t k) {
  if (k >= count_) return false;
  if (InWindow(k)) return true;
  return LoadWindow(k) && InWindow(k);
}

}  // namespace kx::recorder
