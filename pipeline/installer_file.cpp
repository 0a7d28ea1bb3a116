#include "pipeline/installer_file.h"

#include <utility>

#include "common/siphash.h"
#include "platform/files.h"

namespace ombrel {

std::string installer_file_name(std::string_view url) {
  std::string message(url);
  message.push_back('\xff');
  const std::uint64_t hash = siphash13(message);

  static constexpr char kHex[] = "0123456789abcdef";
  std::string name = "OmbrelLoomwork_";
  for (int shift = 60; shift >= 0; shift -= 4) {
    name.push_back(kHex[(hash >> shift) & 0xF]);
  }
  name += ".exe";
  return name;
}

InstallerFile::InstallerFile(InstallerFile&& other) noexcept : path_(std::exchange(other.path_, {})) {}

InstallerFile& InstallerFile::operator=(InstallerFile&& other) noexcept {
  if (this != &other) {
    reset();
    path_ = std::exchange(other.path_, {});
  }
  return *this;
}

void InstallerFile::reset() {
  if (path_.empty()) return;
  (void)platform::delete_file(path_);
  path_.clear();
}

}  // namespace ombrel
