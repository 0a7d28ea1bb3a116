#include "pipeline/installer_file.h"

#include <utility>

#include "platform/files.h"

namespace ombrel {

InstallerFile::InstallerFile(InstallerFile&& other) noexcept : path_(std::exchange(other.path_, {})) {}

InstallerFile& InstallerFile::operator=(InstallerFile&& other) noexcept {
  if (this != &other) {
    release();
    path_ = std::exchange(other.path_, {});
  }
  return *this;
}

void InstallerFile::release() {
  if (path_.empty()) return;
  (void)platform::delete_file(path_);
  path_.clear();
}

}  // namespace ombrel
