#include "pipeline/app_lookup.h"

#include <algorithm>
#include <array>
#include <cstdint>

#include "common/ascii_text.h"
#include "common/utf16.h"
#include "platform/files.h"

namespace ombrel {
namespace {

struct UninstallPlace {
  platform::RegHandle root;
  std::uint32_t view;
};

// Per-user registrations first, then the machine's in both views: a 32-bit process would
// otherwise see only the redirected 32-bit half of HKLM.
std::array<UninstallPlace, 3> uninstall_places() {
  return {{
      {platform::kHkeyCurrentUser, 0},
      {platform::kHkeyLocalMachine, platform::kKeyWow64View64},
      {platform::kHkeyLocalMachine, platform::kKeyWow64View32},
  }};
}

constexpr std::uint32_t kNameBufferUnits = 256;

bool ends_in_separator(std::string_view path) { return !path.empty() && (path.back() == '\\' || path.back() == '/'); }

std::string join_below(std::string left, std::string_view part) {
  if (!ends_in_separator(left)) left.push_back('\\');
  left.append(part);
  return left;
}

// One subkey of an Uninstall key: the candidate file when it registers our product.
std::optional<std::string> examine_subkey(const AppLookupSources& sources, platform::RegHandle uninstall,
                                          const std::u16string& name, std::uint32_t access) {
  platform::RegKey subkey = platform::RegKey::open(sources.registry, uninstall, name.c_str(), access);
  if (!subkey) return std::nullopt;
  const std::optional<std::string> display_name = subkey.read_string("DisplayName");
  if (!display_name || !is_product_display_name(*display_name)) return std::nullopt;
  const std::optional<std::string> location = subkey.read_string("InstallLocation");
  if (!location) return std::nullopt;
  // The location is used as written: quotes stay, and an empty one points at the drive root.
  std::string candidate = join_below(*location, kAppExecutableName);
  if (!sources.is_file(candidate)) return std::nullopt;
  return candidate;
}

std::optional<std::string> search_place(const AppLookupSources& sources, const UninstallPlace& place) {
  const std::uint32_t access = platform::kKeyRead | place.view;
  const std::u16string path = utf8_to_utf16(kUninstallKeyPath);
  platform::RegKey uninstall = platform::RegKey::open(sources.registry, place.root, path.c_str(), access);
  if (!uninstall) return std::nullopt;

  std::array<char16_t, kNameBufferUnits> name{};
  unsigned consecutive_failures = 0;
  for (std::uint32_t index = 0;; ++index) {
    std::uint32_t length = kNameBufferUnits;  // the call overwrites it, so it is reset every time
    const long status = sources.registry.enum_key(uninstall.get(), index, name.data(), &length);
    if (status == platform::kRegNoMoreItems) return std::nullopt;
    if (status != platform::kRegSuccess) {
      // For instance a name longer than the buffer: skip just that entry.
      if (++consecutive_failures >= kMaxConsecutiveEnumFailures) return std::nullopt;
      continue;
    }
    consecutive_failures = 0;
    const std::u16string subkey_name(name.data(), std::min(length, kNameBufferUnits - 1));
    if (std::optional<std::string> found = examine_subkey(sources, uninstall.get(), subkey_name, access)) return found;
  }
}

std::optional<std::string> search_known_folder(const AppLookupSources& sources, platform::KnownFolder folder,
                                               std::initializer_list<std::string_view> parts) {
  std::optional<std::string> base = sources.known_folder(folder);
  if (!base) return std::nullopt;
  std::string candidate = std::move(*base);
  for (std::string_view part : parts) candidate = join_below(std::move(candidate), part);
  if (!sources.is_file(candidate)) return std::nullopt;
  return candidate;
}

}  // namespace

bool is_product_display_name(std::string_view display_name) {
  return equals_ignore_ascii_case(display_name, kProductDisplayName);
}

std::optional<std::string> find_installed_app(const AppLookupSources& sources) {
  for (const UninstallPlace& place : uninstall_places()) {
    if (std::optional<std::string> found = search_place(sources, place)) return found;
  }
  if (auto found = search_known_folder(sources, platform::KnownFolder::kLocalAppData,
                                       {"Programs", kProductDisplayName, kAppExecutableName})) {
    return found;
  }
  return search_known_folder(sources, platform::KnownFolder::kProgramFiles, {kProductDisplayName, kAppExecutableName});
}

AppLookupSources system_app_lookup_sources() {
  return AppLookupSources{
      platform::system_registry(),
      [](platform::KnownFolder folder) { return platform::known_folder_path(folder); },
      [](const std::string& path) { return platform::is_regular_file(path); },
  };
}

std::optional<std::string> find_installed_app() { return find_installed_app(system_app_lookup_sources()); }

}  // namespace ombrel
