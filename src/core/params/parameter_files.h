// The monitor's parameter buffer and the file it is saved to: what FILE
// (OPEN, SAVE, SAVE AS) and a completed upload do to it, and what the menus
// may offer because of it. The window asks the questions and shows the
// messages; the state and its rules are here.
#pragma once

#include <filesystem>
#include <string>

#include "core/params/parameter_buffer.h"

namespace kx {

class ParameterFileState {
 public:
  const ParameterBuffer& buffer() const { return buffer_; }
  bool valid() const { return valid_; }
  // The file SAVE writes (the last SAVE AS); empty before one.
  const std::filesystem::path& file() const { return file_; }
  // SAVE AS succeeded since the reset (the menus offer SAVE while valid).
  bool FileChosen() const { return !file_.empty(); }

  // The monitor started afresh: the trailer is cleared, nothing is valid and
  // SAVE waits for a new SAVE AS.
  void Reset();
  // OPEN: Loaded replaces the buffer and makes it valid; a file failing its
  // check clears the buffer and leaves nothing valid; the other outcomes
  // change nothing. `reason` gets the system's reason of a failed read.
  ParLoad Open(const std::filesystem::path& path, std::string* reason = nullptr);
  // A completed upload's buffer (trailer filled).
  void Uploaded(const ParameterBuffer& buffer);
  // SAVE AS (only while valid): on success the file is the one SAVE writes.
  // False, with the reason, when nothing valid is held or the write failed.
  bool SaveAs(const std::filesystem::path& path, std::string* reason = nullptr);
  // SAVE: the buffer to the chosen file; false without one or when it fails.
  bool Save(std::string* reason = nullptr);

 private:
  ParameterBuffer buffer_{};
  bool valid_ = false;
  std::filesystem::path file_;
};

}  // namespace kx
