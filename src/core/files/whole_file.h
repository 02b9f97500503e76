// Whole small files read and written in one go: the parameter backups, the
// ramp/soak tables and other fixed-size files. Reading never takes more than
// the caller allows, whatever the file holds or becomes while it is read;
// writing goes to a file beside the target that is renamed over it, so a
// failure never leaves half a file in place of a good one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

namespace kx {

enum class FileRead : std::uint8_t {
  Read,        // bytes holds the file's content (up to the limit + 1)
  OpenFailed,  // the file could not be opened (missing, no access, a directory)
  ReadFailed,  // opened, but reading failed part-way
};

struct WholeFile {
  FileRead status = FileRead::OpenFailed;
  // At most limit + 1 bytes: a file longer than the limit shows as limit + 1
  // bytes, so the caller can tell "too long" without reading it all.
  std::vector<std::uint8_t> bytes;
  // When not Read: the system's reason ("No such file or directory", "Is a
  // directory", "not a regular file", "Permission denied", ...).
  std::string reason;
};

WholeFile ReadWholeFile(const std::filesystem::path& path, std::size_t limit);

// Writes bytes as the whole content of path. False when the file could not be
// written; the previous file, if any, is then left as it was, and `reason`
// (when given) holds the system's reason ("No space left on device", ...).
bool WriteWholeFile(const std::filesystem::path& path, std::span<const std::uint8_t> bytes,
                    std::string* reason = nullptr);

// Why a file of `bytes` bytes could not be written at `path` as WriteWholeFile
// writes it (a file beside it, renamed over it), found out before the content
// exists: the folder is missing or not a folder, `path` is a folder or not a
// regular file, the folder takes no new file, or (bytes > 0) that much does not
// fit on the disk. Leaves nothing behind. Empty when it can be written.
std::string WriteProblem(const std::filesystem::path& path, std::size_t bytes = 0);

// Why `path` cannot be opened and read as a regular file: missing, a folder,
// not a regular file, no permission. Opens it without blocking (a FIFO does
// not hang) and reads nothing. Empty when it can be opened.
std::string ReadProblem(const std::filesystem::path& path);

// The system's text for an errno value.
std::string SystemReason(int error);
// The reason given for something that exists but is neither a regular file nor a folder.
inline constexpr const char* kNotRegularFile = "not a regular file";

}  // namespace kx
