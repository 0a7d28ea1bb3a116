#include "platform/known_folders.h"

#include <windows.h>
#include <knownfolders.h>
#include <shlobj.h>

#include "platform/win32/wide.h"

namespace ombrel::platform {

std::optional<std::string> known_folder_path(KnownFolder folder) {
  const KNOWNFOLDERID& id = folder == KnownFolder::kLocalAppData ? FOLDERID_LocalAppData
                            : folder == KnownFolder::kProfile    ? FOLDERID_Profile
                                                                 : FOLDERID_ProgramFiles;
  PWSTR path = nullptr;
  const HRESULT status = SHGetKnownFolderPath(id, 0, nullptr, &path);
  // On failure nothing was handed to us, so there is nothing to free.
  if (FAILED(status) || path == nullptr) return std::nullopt;
  std::string text = win32::from_wide(path);
  CoTaskMemFree(path);
  return text;
}

}  // namespace ombrel::platform
