#pragma once
// Owner of the downloaded installer on disk: the file goes away when the owner is released,
// however the run ends.
#include <string>

namespace ombrel {

class InstallerFile {
 public:
  explicit InstallerFile(std::string path) : path_(std::move(path)) {}
  InstallerFile(InstallerFile&& other) noexcept;
  InstallerFile& operator=(InstallerFile&& other) noexcept;
  InstallerFile(const InstallerFile&) = delete;
  InstallerFile& operator=(const InstallerFile&) = delete;
  ~InstallerFile() { release(); }

  const std::string& path() const { return path_; }

  // Deletes the file now; a failure is ignored (a leftover temporary file harms nobody).
  // Later calls do nothing.
  void release();

 private:
  std::string path_;  // empty once released or moved from
};

}  // namespace ombrel
