#pragma once
// Owner of the downloaded installer on disk: the file goes away when the owner is reset or destroyed,
// however the run ends.
#include <string>
#include <string_view>

namespace ombrel {

// "OmbrelLoomwork_" + 16 lowercase hex digits + ".exe": the zero-key SipHash-1-3 of the URL's
// UTF-8 bytes followed by one 0xFF byte (the terminator keeps "a" and "a\xFF…" prefixes apart).
// The same for a URL on every run and machine, so a later run finds the partial download an
// earlier one left behind.
std::string installer_file_name(std::string_view url);

class InstallerFile {
 public:
  explicit InstallerFile(std::string path) : path_(std::move(path)) {}
  InstallerFile(InstallerFile&& other) noexcept;
  InstallerFile& operator=(InstallerFile&& other) noexcept;
  InstallerFile(const InstallerFile&) = delete;
  InstallerFile& operator=(const InstallerFile&) = delete;
  ~InstallerFile() { reset(); }

  const std::string& path() const { return path_; }

  // Deletes the file now; a failure is ignored (a leftover temporary file harms nobody).
  // Later calls do nothing.
  void reset();

 private:
  std::string path_;  // empty once reset or moved from
};

}  // namespace ombrel
