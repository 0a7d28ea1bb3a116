#include "platform/shell.h"

#include <windows.h>
#include <shellapi.h>

#include <string>

#include "platform/win32/wide.h"

namespace ombrel::platform {

void launch_app(std::string_view path) {
  const std::wstring file = win32::to_wide(path);
  const std::wstring verb = win32::to_wide("open");
  SHELLEXECUTEINFOW info{};
  info.cbSize = sizeof(info);
  info.fMask = SEE_MASK_FLAG_NO_UI;  // no shell error dialog, and no process handle to close
  info.lpVerb = verb.c_str();
  info.lpFile = file.c_str();
  info.nShow = SW_SHOWNORMAL;
  ShellExecuteExW(&info);  // a failed start has no consequence for the caller
}

}  // namespace ombrel::platform
