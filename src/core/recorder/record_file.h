// The record file "*.rec": a 12-byte header (the ten slot addresses, the
// sampling time setting, 0) and one 25-byte record per completed sampling
// cycle (ten values high byte first, hour, minute, second, millisecond low
// byte, 'Z'). Multi-byte values are big-endian.
//
// RecordWriter appends each record with one write as the cycle completes, so a
// run that is killed leaves whole records; a failed write cuts the file back to
// its last whole record. RecordFile reads a file for replay in windows of 4096
// records, so files of any length take bounded memory.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "core/recorder/recorder_types.h"

namespace kx::recorder {

inline constexpr std::size_t kHeaderSize = 12;
inline constexpr std::size_t kRecordSize = 25;
inline constexpr std::size_t kWindowRecords = 4096;
inline constexpr std::uint8_t kRecordEnd = 0x5A;  // 'Z'

using HeaderBytes = std::array<std::uint8_t, kHeaderSize>;
using RecordBytes = std::array<std::uint8_t, kRecordSize>;

struct RecordHeader {
  std::array<std::uint8_t, kSlots> addresses{};
  std::uint8_t sampleTime = 1;  // seconds; 0 means 0.5 s
  friend bool operator==(const RecordHeader&, const RecordHeader&) = default;
};

// One record as replay holds it: values as signed tenths, kErrorMarker for
// the error marker.
struct Record {
  std::array<std::int32_t, kSlots> values{};
  SampleTime time;
  friend bool operator==(const Record&, const Record&) = default;
};

HeaderBytes EncodeHeader(const RecordHeader& header);
RecordHeader DecodeHeader(std::span<const std::uint8_t, kHeaderSize> bytes);

// Two bytes high first: 0x80, 0xA5 gives kErrorMarker, anything else the signed value.
std::int32_t DecodeValue(std::uint8_t high, std::uint8_t low);
Record DecodeRecord(std::span<const std::uint8_t, kRecordSize> bytes);
// kErrorMarker is written as 0x80, 0xA5; other values as their low 16 bits.
RecordBytes EncodeRecord(const Record& record);

// Whole records of a file of the given size; a trailing partial record does not count.
std::uint64_t RecordCount(std::uint64_t fileSize);

class RecordWriter {
 public:
  RecordWriter() = default;
  RecordWriter(const RecordWriter&) = delete;
  RecordWriter& operator=(const RecordWriter&) = delete;
  ~RecordWriter();

  // Writes the header to a new file beside `path` and renames it over `path`,
  // so an existing file is only replaced by a good header. False (and error())
  // when the file cannot be created or written.
  bool Create(const std::string& path, const RecordHeader& header);
  // Appends one record in a single write. On failure the file is cut back to
  // its last whole record and closed; error() tells why.
  bool Append(const RecordBytes& record);
  void Close();

  bool IsOpen() const { return fd_ >= 0; }
  const std::string& path() const { return path_; }
  const std::string& error() const { return error_; }
  std::uint64_t records() const { return records_; }

 private:
  int fd_ = -1;
  std::string path_;
  std::string error_;
  std::uint64_t records_ = 0;
};

// A record file opened for replay: its header, its record count and one
// window of up to 4096 decoded records. The file is opened only while reading.
class RecordFile {
 public:
  // Reads the header and the first window. False when the file cannot be
  // opened or read or is shorter than its header; the object is then empty
  // but for error().
  bool Open(const std::string& path);
  // Reads the window of up to 4096 records starting at `start` (< count()).
  // False when the file can no longer be read; the window is then empty. A
  // file that shrank since Open gives a shorter window.
  bool LoadWindow(std::uint64_t start);
  // True when record k is in the window, loading the window that starts at k
  // first when it is not. False when k is past the end or the read fails.
  bool Ensure(std::uint64_t k);

  bool isOpen() const { return open_; }
  const std::string& path() const { return path_; }
  // After a failed Open or LoadWindow: the system's reason ("No such file or
  // directory", "Is a directory", ...), empty when the system gave none (a
  // file too short for its header, say).
  const std::string& error() const { return error_; }
  const RecordHeader& header() const { return header_; }
  std::uint64_t count() const { return count_; }
  std::uint64_t windowStart() const { return windowStart_; }
  std::uint64_t WindowEnd() const { return windowStart_ + window_.size(); }
  bool InWindow(std::uint64_t k) const { return k >= windowStart() && k < WindowEnd(); }
  // Record k, which must be in the window.
  const Record& At(std::uint64_t k) const { return window_[static_cast<std::size_t>(k - windowStart_)]; }

 private:
  bool open_ = false;
  std::string path_;
  std::string error_;
  RecordHeader header_;
  std::uint64_t count_ = 0;
  std::uint64_t windowStart_ = 0;
  std::vector<Record> window_;
};

}  // namespace kx::recorder
