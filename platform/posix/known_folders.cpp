#include "platform/known_folders.h"

#include <cstdlib>

namespace ombrel::platform {
namespace {

std::optional<std::string> non_empty_env(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr || *value == '\0') return std::nullopt;
  return std::string(value);
}

}  // namespace

std::optional<std::string> known_folder_path(KnownFolder folder) {
  if (folder == KnownFolder::kProgramFiles) return std::string("/opt");
  if (folder == KnownFolder::kProfile) return non_empty_env("HOME");
  // The XDG base-directory rule for per-user data.
  if (std::optional<std::string> data_home = non_empty_env("XDG_DATA_HOME")) return data_home;
  if (std::optional<std::string> home = non_empty_env("HOME")) return *home + "/.local/share";
  return std::nullopt;
}

}  // namespace ombrel::platform
