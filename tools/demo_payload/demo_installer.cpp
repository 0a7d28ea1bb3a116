// The demo payload installer. Run as `"<path>" /S --currentuser` it installs the demo
// application (carried inside as resource 1, RCDATA) for the current user:
//   %LOCALAPPDATA%\Programs\Ombrel Loomwork\Ombrel Loomwork.exe, registered under
//   HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\OmbrelLoomwork with DisplayName
//   "Ombrel Loomwork" and InstallLocation (REG_SZ) the folder.
// Any other command line installs nothing and exits with 87 (ERROR_INVALID_PARAMETER).
//
// A test host serves differently behaving copies by appending one trailer line to the exe,
//   OMBREL-DEMO:<switch>;<switch>;...
// which the installer reads from the end of its own file (a host that signs its copy afterwards
// puts the signature, a few KB, behind the line). Switches:
//   sleep=S / sleepms=M   wait S seconds / M milliseconds before doing anything else
//   exit=N                install nothing and exit with N (decimal or 0x-hex; 0 = plain success)
//   noinstall             install nothing, exit 0
//   noreg                 copy the application but do not register it
//   expand                InstallLocation as REG_EXPAND_SZ holding the unexpanded folder text:
//                         "%LOCALAPPDATA%\Programs\Ombrel Loomwork", or dir=PATH as written
//   trailing              InstallLocation ends with a backslash
//   dir=PATH              install into PATH instead (environment references expanded; use it
//                         with expand to prove the registry entry, not a known folder, is used)
//   name=TEXT             DisplayName TEXT instead of "Ombrel Loomwork"
//   key=NAME              Uninstall subkey NAME instead of "OmbrelLoomwork"
// On start it writes "ombrel-demo-installer-ran.txt" (command line, own path, trailer) into the
// marker folder (OMBREL_DEMO_MARKER_DIR, else %TEMP%). A failed copy or registration exits
// with the Windows error code.
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "demo_common.h"

namespace {

using ombrel::demo::to_utf8;
using ombrel::demo::to_wide;

constexpr DWORD kInvalidParameter = 87;
constexpr char kTrailerTag[] = "OMBREL-DEMO:";
constexpr DWORD kTrailerWindow = 16384;

struct Behaviour {
  std::string trailer;
  DWORD sleep_ms = 0;
  bool fail = false;
  DWORD exit_code = 0;
  bool install = true;
  bool register_app = true;
  bool expand = false;
  bool trailing = false;
  std::wstring dir;
  std::wstring dir_as_written;
  std::wstring name = L"Ombrel Loomwork";
  std::wstring key = L"OmbrelLoomwork";
};

// The last trailer line within the final bytes of our own file, without its tag.
std::string read_trailer() {
  HANDLE file = CreateFileW(ombrel::demo::own_path().c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return {};
  LARGE_INTEGER size{};
  std::string tail;
  if (GetFileSizeEx(file, &size)) {
    const LONGLONG start = size.QuadPart > kTrailerWindow ? size.QuadPart - kTrailerWindow : 0;
    LARGE_INTEGER offset{};
    offset.QuadPart = start;
    tail.resize(static_cast<std::size_t>(size.QuadPart - start));
    DWORD read = 0;
    if (!SetFilePointerEx(file, offset, nullptr, FILE_BEGIN) ||
        !ReadFile(file, tail.data(), static_cast<DWORD>(tail.size()), &read, nullptr)) {
      read = 0;
    }
    tail.resize(read);
  }
  CloseHandle(file);
  const std::size_t tag = tail.rfind(kTrailerTag);
  if (tag == std::string::npos) return {};
  std::string trailer = tail.substr(tag + sizeof(kTrailerTag) - 1);
  const std::size_t end = trailer.find_first_of(std::string("\r\n\0", 3));
  if (end != std::string::npos) trailer.resize(end);
  return trailer;
}

std::wstring expand(const std::wstring& text) {
  const DWORD needed = ExpandEnvironmentStringsW(text.c_str(), nullptr, 0);
  if (needed == 0) return text;
  std::wstring out(needed, L'\0');
  const DWORD written = ExpandEnvironmentStringsW(text.c_str(), out.data(), needed);
  if (written == 0 || written > needed) return text;
  out.resize(written - 1);
  return out;
}

Behaviour parse(const std::string& trailer) {
  Behaviour behaviour;
  behaviour.trailer = trailer;
  std::size_t start = 0;
  while (start <= trailer.size()) {
    std::size_t end = trailer.find(';', start);
    if (end == std::string::npos) end = trailer.size();
    const std::string item = trailer.substr(start, end - start);
    start = end + 1;
    const std::size_t equals = item.find('=');
    const std::string name = item.substr(0, equals);
    const std::string value = equals == std::string::npos ? "" : item.substr(equals + 1);
    if (name == "sleep") behaviour.sleep_ms = std::strtoul(value.c_str(), nullptr, 10) * 1000;
    if (name == "sleepms") behaviour.sleep_ms = std::strtoul(value.c_str(), nullptr, 10);
    if (name == "exit") {
      behaviour.exit_code = static_cast<DWORD>(std::strtoull(value.c_str(), nullptr, 0));
      behaviour.fail = behaviour.exit_code != 0;
    }
    if (name == "noinstall") behaviour.install = false;
    if (name == "noreg") behaviour.register_app = false;
    if (name == "expand") behaviour.expand = true;
    if (name == "trailing") behaviour.trailing = true;
    if (name == "dir") {
      behaviour.dir_as_written = to_wide(value);
      behaviour.dir = expand(behaviour.dir_as_written);
    }
    if (name == "name") behaviour.name = to_wide(value);
    if (name == "key") behaviour.key = to_wide(value);
  }
  return behaviour;
}

bool silent_current_user_command_line() {
  int count = 0;
  wchar_t** args = CommandLineToArgvW(GetCommandLineW(), &count);
  if (args == nullptr) return false;
  const bool ok = count == 3 && lstrcmpW(args[1], L"/S") == 0 && lstrcmpW(args[2], L"--currentuser") == 0;
  LocalFree(args);
  return ok;
}

std::wstring local_app_data() {
  PWSTR path = nullptr;
  if (FAILED(SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, &path)) || path == nullptr) return {};
  std::wstring text = path;
  CoTaskMemFree(path);
  return text;
}

DWORD create_folders(const std::wstring& folder) {
  const int result = SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr);
  if (result == ERROR_SUCCESS || result == ERROR_ALREADY_EXISTS || result == ERROR_FILE_EXISTS) return 0;
  return static_cast<DWORD>(result);
}

DWORD copy_application(const std::wstring& target) {
  HRSRC resource = FindResourceW(nullptr, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(10) /* RT_RCDATA */);
  HGLOBAL loaded = resource ? LoadResource(nullptr, resource) : nullptr;
  const void* bytes = loaded ? LockResource(loaded) : nullptr;
  const DWORD size = resource ? SizeofResource(nullptr, resource) : 0;
  if (bytes == nullptr || size == 0) return ERROR_RESOURCE_DATA_NOT_FOUND;
  HANDLE file = CreateFileW(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return GetLastError();
  DWORD written = 0;
  const BOOL ok = WriteFile(file, bytes, size, &written, nullptr);
  const DWORD error = ok ? 0 : GetLastError();
  CloseHandle(file);
  if (!ok) return error;
  return written == size ? 0 : ERROR_WRITE_FAULT;
}

DWORD set_string(HKEY key, const wchar_t* name, DWORD type, const std::wstring& value) {
  const auto bytes = static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t));
  return static_cast<DWORD>(RegSetValueExW(key, name, 0, type, reinterpret_cast<const BYTE*>(value.c_str()), bytes));
}

DWORD register_application(const Behaviour& behaviour, const std::wstring& folder) {
  const std::wstring path = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + behaviour.key;
  HKEY key = nullptr;
  LSTATUS status = RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr);
  if (status != ERROR_SUCCESS) return static_cast<DWORD>(status);
  std::wstring location = folder;
  if (behaviour.expand) {
    location =
        behaviour.dir_as_written.empty() ? L"%LOCALAPPDATA%\\Programs\\Ombrel Loomwork" : behaviour.dir_as_written;
    while (!location.empty() && (location.back() == L'\\' || location.back() == L'/')) location.pop_back();
  }
  if (behaviour.trailing) location.push_back(L'\\');
  DWORD error = set_string(key, L"DisplayName", REG_SZ, behaviour.name);
  if (error == 0) error = set_string(key, L"InstallLocation", behaviour.expand ? REG_EXPAND_SZ : REG_SZ, location);
  if (error == 0) error = set_string(key, L"DisplayVersion", REG_SZ, L"1.0.0-demo");
  if (error == 0) error = set_string(key, L"Publisher", REG_SZ, L"Ombrel");
  RegCloseKey(key);
  return error;
}

void write_marker(const Behaviour& behaviour) {
  std::string text = "cmdline=" + to_utf8(GetCommandLineW()) + "\n";
  text += "path=" + to_utf8(ombrel::demo::own_path()) + "\n";
  text += "trailer=" + behaviour.trailer + "\n";
  ombrel::demo::write_file(ombrel::demo::marker_folder() + L"ombrel-demo-installer-ran.txt", text);
}

DWORD run() {
  const Behaviour behaviour = parse(read_trailer());
  write_marker(behaviour);
  if (!silent_current_user_command_line()) return kInvalidParameter;
  if (behaviour.sleep_ms > 0) Sleep(behaviour.sleep_ms);
  if (behaviour.fail) return behaviour.exit_code;
  if (!behaviour.install) return 0;

  std::wstring folder = behaviour.dir;
  if (folder.empty()) {
    const std::wstring base = local_app_data();
    if (base.empty()) return ERROR_PATH_NOT_FOUND;
    folder = base + L"\\Programs\\Ombrel Loomwork";
  }
  while (folder.size() > 3 && (folder.back() == L'\\' || folder.back() == L'/')) folder.pop_back();
  if (const DWORD error = create_folders(folder)) return error;
  if (const DWORD error = copy_application(folder + L"\\Ombrel Loomwork.exe")) return error;
  if (behaviour.register_app) {
    if (const DWORD error = register_application(behaviour, folder)) return error;
  }
  return 0;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) { ExitProcess(run()); }
