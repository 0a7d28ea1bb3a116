#include "platform/languages.h"

#include <windows.h>

#include <string_view>

#include "platform/nul_separated.h"
#include "platform/win32/wide.h"

namespace ombrel::platform {

std::vector<std::string> preferred_ui_languages() {
  // First call: the size of the list in UTF-16 units (the language count is not needed).
  ULONG count = 0;
  ULONG size = 0;
  if (!GetUserPreferredUILanguages(MUI_LANGUAGE_NAME, &count, nullptr, &size) || size == 0) return {};

  std::wstring buffer(size, L'\0');
  if (!GetUserPreferredUILanguages(MUI_LANGUAGE_NAME, &count, buffer.data(), &size)) return {};

  std::vector<std::string> tags;
  for (std::wstring_view tag : split_nul_separated(std::wstring_view(buffer))) {
    tags.push_back(win32::from_wide(tag));
  }
  return tags;
}

}  // namespace ombrel::platform
