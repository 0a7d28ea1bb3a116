#include "platform/locked_file.h"

#include <windows.h>

#include "platform/win32/wide.h"

namespace ombrel::platform {

Expected<LockedFile, std::uint32_t> LockedFile::open(const std::string& path) {
  // No write or delete sharing: from here until reset() the bytes and the name stay as checked.
  const HANDLE handle = CreateFileW(win32::to_wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return unexpected(static_cast<std::uint32_t>(GetLastError()));
  return LockedFile(path, handle);
}

}  // namespace ombrel::platform
