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
};

WholeFile ReadWholeFile(const std::filesystem::path& path, std::size_t limit);

// Writes bytes as the whole content of path. False when the file could not be
// written; the previous file, if any, is then left as it was.
bool WriteWholeFile(const std::filesystem::path& path, std::span<const std::uint8_t> bytes);

}  // namespace kx
