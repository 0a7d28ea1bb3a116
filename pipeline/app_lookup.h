#pragma once
// Finding the freshly installed application: its Uninstall registration for the current user,
// then for the machine in the 64-bit and the 32-bit registry view, then its file below the
// per-user Programs folder and below Program Files. The first existing file wins.
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/known_folders.h"
#include "platform/registry.h"

namespace ombrel {

inline constexpr std::string_view kProductDisplayName = "Ombrel Loomwork";
inline constexpr std::string_view kAppExecutableName = "Ombrel Loomwork.exe";
inline constexpr std::string_view kUninstallKeyPath = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

// An enumeration that keeps failing without ever reporting its end is abandoned after this many
// consecutive failed indices, so a broken key cannot hold the run forever.
inline constexpr unsigned kMaxConsecutiveEnumFailures = 10'000;

// What the lookup reads. The product uses the running system's; tests supply their own.
struct AppLookupSources {
  platform::Registry& registry;
  std::function<std::optional<std::string>(platform::KnownFolder)> known_folder;
  // True when the path names an existing file that is not a directory.
  std::function<bool(const std::string&)> is_file;
};

AppLookupSources system_app_lookup_sources();

// The path of the installed executable, or nothing. Errors only move the search on.
std::optional<std::string> find_installed_app(const AppLookupSources& sources);
std::optional<std::string> find_installed_app();

// The DisplayName rule: same length and equal once ASCII A-Z are lowered; nothing else is
// folded, trimmed or partially matched.
bool is_product_display_name(std::string_view display_name);

}  // namespace ombrel
