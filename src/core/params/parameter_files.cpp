#include "core/params/parameter_files.h"

#include <algorithm>

namespace kx {

void ParameterFileState::Reset() {
  std::fill(buffer_.begin() + kTrailerModel, buffer_.end(), std::uint8_t{0});
  valid_ = false;
  file_.clear();
}

ParLoad ParameterFileState::Open(const std::filesystem::path& path, std::string* reason) {
  const ParLoad result = LoadParameterFile(path, buffer_, reason);
  if (result == ParLoad::Loaded) valid_ = true;
  if (result == ParLoad::BadCheck) valid_ = false;  // the buffer was cleared: nothing to save or write
  return result;
}

void ParameterFileState::Uploaded(const ParameterBuffer& buffer) {
  buffer_ = buffer;
  valid_ = true;
}

bool ParameterFileState::SaveAs(const std::filesystem::path& path, std::string* reason) {
  if (!valid_) {
    if (reason != nullptr) reason->clear();
    return false;
  }
  if (!SaveParameterFile(path, buffer_, reason)) return false;
  file_ = path;
  return true;
}

bool ParameterFileState::Save(std::string* reason) {
  if (file_.empty() || !valid_) {
    if (reason != nullptr) reason->clear();
    return false;
  }
  return SaveParameterFile(file_, buffer_, reason);
}

}  // namespace kx
