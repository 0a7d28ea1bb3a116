// Registry text reading and the application lookup against the real Windows registry (Wine's
// under test): values are written with RegSetValueExW exactly as other programs would store
// them, below test-only keys that are removed again.
#include <windows.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "pipeline/app_lookup.h"
#include "platform/files.h"
#include "platform/known_folders.h"
#include "platform/registry.h"
#include "platform/win32/wide.h"
#include "tests/support/test_child.h"

namespace ombrel {
namespace {

const std::wstring kUninstall = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

// A key created for one test and deleted with everything below it afterwards.
class TestKey {
 public:
  TestKey(HKEY root, std::wstring path, REGSAM view) : root_(root), path_(std::move(path)), view_(view) {
    const LSTATUS status =
        RegCreateKeyExW(root_, path_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view_, nullptr, &key_, nullptr);
    EXPECT_EQ(status, ERROR_SUCCESS) << "cannot create the test key";
  }
  ~TestKey() {
    if (key_ != nullptr) RegCloseKey(key_);
    // Deleted through its parent opened in the same view, so the right one of two twins goes.
    const std::size_t slash = path_.rfind(L'\\');
    HKEY parent = nullptr;
    if (RegOpenKeyExW(root_, path_.substr(0, slash).c_str(), 0, KEY_ALL_ACCESS | view_, &parent) == ERROR_SUCCESS) {
      RegDeleteTreeW(parent, path_.substr(slash + 1).c_str());
      RegCloseKey(parent);
    }
  }
  TestKey(const TestKey&) = delete;
  TestKey& operator=(const TestKey&) = delete;

  HKEY get() const { return key_; }

  void set_bytes(const wchar_t* name, DWORD type, const void* data, DWORD size) {
    ASSERT_EQ(RegSetValueExW(key_, name, 0, type, static_cast<const BYTE*>(data), size), ERROR_SUCCESS);
  }
  // `units` UTF-16 units of `text` (which may hold NULs of its own).
  void set_units(const wchar_t* name, DWORD type, const std::wstring& text) {
    set_bytes(name, type, text.data(), static_cast<DWORD>(text.size() * sizeof(wchar_t)));
  }

 private:
  HKEY root_;
  std::wstring path_;
  REGSAM view_;
  HKEY key_ = nullptr;
};

std::wstring unique_name(const wchar_t* stem) {
  return std::wstring(stem) + L"-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(GetTickCount64());
}

// Through a second handle of the test's key (an empty subkey opens the key itself).
std::optional<std::string> read(const TestKey& key, const char* name) {
  const platform::RegKey opened =
      platform::RegKey::open(platform::system_registry(), key.get(), u"", platform::kKeyRead);
  return opened.read_string(name);
}

TEST(RegistryStringWin32Test, ReadsStoredTextTheWayTheLookupNeedsIt) {
  TestKey key(HKEY_CURRENT_USER, L"Software\\" + unique_name(L"OmbrelTest"), 0);
  using namespace std::string_literals;
  key.set_units(L"Plain", REG_SZ, L"C:\\Apps\\Ombrel Loomwork"s + L'\0');
  key.set_units(L"NoTerminator", REG_SZ, L"C:\\Apps");
  key.set_units(L"ManyNuls", REG_SZ, L"C:\\Apps"s + std::wstring(3, L'\0'));
  key.set_units(L"InnerNul", REG_SZ, L"a\0b\0"s);
  key.set_units(L"Empty", REG_SZ, std::wstring(1, L'\0'));
  key.set_bytes(L"ZeroBytes", REG_SZ, L"", 0);
  key.set_bytes(L"OddBytes", REG_SZ, "a\0b\0c", 5);
  key.set_units(L"Unicode", REG_SZ, L"Loomw\u00f6rk \u6f22\U0001F600"s + L'\0');
  key.set_units(L"Multi", REG_MULTI_SZ, L"C:\\Apps\0Other\0\0"s);
  const DWORD number = 7;
  key.set_bytes(L"Dword", REG_DWORD, &number, sizeof(number));
  key.set_units(L"Binary", REG_BINARY, L"C:\\Apps"s + L'\0');

  EXPECT_EQ(read(key, "Plain"), "C:\\Apps\\Ombrel Loomwork");
  EXPECT_EQ(read(key, "NoTerminator"), "C:\\Apps");
  EXPECT_EQ(read(key, "ManyNuls"), "C:\\Apps");
  EXPECT_EQ(read(key, "InnerNul"), std::string("a\0b", 3));
  EXPECT_EQ(read(key, "Empty"), "");
  EXPECT_EQ(read(key, "ZeroBytes"), std::nullopt);
  EXPECT_EQ(read(key, "OddBytes"), "abc");
  EXPECT_EQ(read(key, "Unicode"), "Loomw\xC3\xB6rk \xE6\xBC\xA2\xF0\x9F\x98\x80");
  EXPECT_EQ(read(key, "plain"), "C:\\Apps\\Ombrel Loomwork") << "value names ignore case";
  EXPECT_EQ(read(key, "Multi"), std::nullopt);
  EXPECT_EQ(read(key, "Dword"), std::nullopt);
  EXPECT_EQ(read(key, "Binary"), std::nullopt);
  EXPECT_EQ(read(key, "Missing"), std::nullopt);
}

TEST(RegistryStringWin32Test, ExpandSzIsExpandedFromTheEnvironment) {
  TestKey key(HKEY_CURRENT_USER, L"Software\\" + unique_name(L"OmbrelTest"), 0);
  using namespace std::string_literals;
  key.set_units(L"Expand", REG_EXPAND_SZ, L"%LOCALAPPDATA%\\Programs\\Ombrel Loomwork"s + L'\0');
  key.set_units(L"Literal", REG_SZ, L"%LOCALAPPDATA%\\Programs\\Ombrel Loomwork"s + L'\0');
  key.set_units(L"Unknown", REG_EXPAND_SZ, L"%OMBREL_NO_SUCH_VARIABLE%\\x"s + L'\0');

  const std::optional<std::string> local = platform::known_folder_path(platform::KnownFolder::kLocalAppData);
  ASSERT_TRUE(local);
  EXPECT_EQ(read(key, "Expand"), *local + "\\Programs\\Ombrel Loomwork");
  EXPECT_EQ(read(key, "Literal"), "%LOCALAPPDATA%\\Programs\\Ombrel Loomwork");
  EXPECT_EQ(read(key, "Unknown"), "%OMBREL_NO_SUCH_VARIABLE%\\x");
}

TEST(RegistryStringWin32Test, MachineViewsAreSeparateKeys) {
  const std::wstring name = L"Software\\" + unique_name(L"OmbrelTest");
  TestKey key64(HKEY_LOCAL_MACHINE, name, KEY_WOW64_64KEY);
  TestKey key32(HKEY_LOCAL_MACHINE, name, KEY_WOW64_32KEY);
  key64.set_units(L"View", REG_SZ, std::wstring(L"64") + L'\0');
  key32.set_units(L"View", REG_SZ, std::wstring(L"32") + L'\0');

  platform::Registry& registry = platform::system_registry();
  const std::u16string path(name.begin(), name.end());
  for (const auto& [view, expected] :
       {std::pair{platform::kKeyWow64View64, "64"}, std::pair{platform::kKeyWow64View32, "32"}}) {
    platform::RegKey opened =
        platform::RegKey::open(registry, platform::kHkeyLocalMachine, path.c_str(), platform::kKeyRead | view);
    ASSERT_TRUE(opened);
    EXPECT_EQ(opened.read_string("View"), expected);
  }
}

TEST(AppLookupWin32Test, FindsARegistrationInTheMachine32BitView) {
  test::TempFolder folder("ombrel-lookup-win32");
  std::ofstream(folder.path() / "Ombrel Loomwork.exe") << "MZ";
  const std::wstring location = folder.path().wstring();
  const std::string expected = win32::from_wide(location) + "\\Ombrel Loomwork.exe";

  // The real registry, but only files of this test count: the shared prefix may hold other
  // installations, which are probed and passed over.
  std::vector<std::string> probes;
  const AppLookupSources sources{
      platform::system_registry(),
      [](platform::KnownFolder) { return std::optional<std::string>(); },
      [&](const std::string& path) {
        probes.push_back(path);
        return path == expected && platform::is_regular_file(path);
      },
  };

  const std::wstring subkey = kUninstall + L"\\" + unique_name(L"OmbrelTest");
  {
    TestKey entry(HKEY_LOCAL_MACHINE, subkey, KEY_WOW64_32KEY);
    entry.set_units(L"DisplayName", REG_SZ, std::wstring(L"OMBREL LOOMWORK") + L'\0');
    entry.set_units(L"InstallLocation", REG_SZ, location + L'\0');
    EXPECT_EQ(find_installed_app(sources), expected);
  }
  probes.clear();
  EXPECT_EQ(find_installed_app(sources), std::nullopt) << "the entry is gone again";
  EXPECT_EQ(std::count(probes.begin(), probes.end(), expected), 0);
}

}  // namespace
}  // namespace ombrel
