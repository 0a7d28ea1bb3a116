#include "platform/held_file.h"

#include <windows.h>

#include "platform/win32/wide.h"

namespace ombrel::platform {

Expected<HeldFile, std::uint32_t> HeldFile::open(const std::string& path) {
  // No write or delete sharing: from here until reset() the bytes and the name stay as checked.
  const HANDLE handle = CreateFileW(win32::to_wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return unexpected(static_cast<std::uint32_t>(GetLastError()));
  return HeldFile(path, handle);
}

Expected<std::string, std::uint32_t> HeldFile::current_path() const {
  std::wstring buffer(MAX_PATH, L'\0');
  for (int round = 0; round < 2; ++round) {
    const DWORD length = GetFinalPathNameByHandleW(handle_.get(), buffer.data(), static_cast<DWORD>(buffer.size()),
                                                   FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0) return unexpected(static_cast<std::uint32_t>(GetLastError()));
    if (length < buffer.size()) {
      buffer.resize(length);
      // The answer is in the long-path form; children see the everyday one, as they would have.
      std::wstring_view path(buffer);
      if (path.starts_with(L"\\\\?\\UNC\\")) return "\\\\" + win32::from_wide(path.substr(8));
      if (path.starts_with(L"\\\\?\\")) path.remove_prefix(4);
      return win32::from_wide(path);
    }
    buffer.assign(length + 1, L'\0');
  }
  return unexpected(std::uint32_t{ERROR_INSUFFICIENT_BUFFER});
}

}  // namespace ombrel::platform
