#pragma once
// Real files for tests: a private folder per test and paths in the form the system's calls take.
#include <filesystem>
#include <string>

namespace ombrel::test {

// A fresh, empty folder for one test, removed with the object.
class TempFolder {
 public:
  explicit TempFolder(const std::string& name_hint = "ombrel");
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// The path as the system's own calls want it, in UTF-8 (on Windows with backslashes).
std::string native_utf8(const std::filesystem::path& path);

}  // namespace ombrel::test
