#include "tests/support/temp_folder.h"

#include <atomic>
#include <chrono>

#ifdef _WIN32
#include <windows.h>

#include "platform/win32/wide.h"
#else
#include <unistd.h>
#endif

namespace ombrel::test {

std::string native_utf8(const std::filesystem::path& path) {
#ifdef _WIN32
  return win32::from_wide(path.wstring());
#else
  return path.string();
#endif
}

TempFolder::TempFolder(const std::string& name_hint) {
  static std::atomic<unsigned> counter{0};
#ifdef _WIN32
  const unsigned long pid = GetCurrentProcessId();
#else
  const unsigned long pid = static_cast<unsigned long>(getpid());
#endif
  const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  path_ = std::filesystem::temp_directory_path() /
          (name_hint + "-" + std::to_string(pid) + "-" + std::to_string(stamp) + "-" + std::to_string(counter++));
  std::filesystem::create_directories(path_);
}

TempFolder::~TempFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

}  // namespace ombrel::test
