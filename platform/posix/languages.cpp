#include "platform/languages.h"

#include <cstdlib>
#include <optional>
#include <string_view>

namespace ombrel::platform {
namespace {

// "fr_CA.UTF-8@euro" becomes "fr-CA": the codeset and modifier say nothing about the
// language. The C and POSIX locales name no language at all.
std::optional<std::string> locale_name_to_tag(std::string_view name) {
  name = name.substr(0, name.find_first_of(".@"));
  if (name.empty() || name == "C" || name == "POSIX") return std::nullopt;
  std::string tag(name);
  for (char& c : tag) {
    if (c == '_') c = '-';
  }
  return tag;
}

std::string_view environment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? std::string_view(value) : std::string_view();
}

}  // namespace

// The gettext order: the LANGUAGE priority list first, else the one locale that governs
// messages (LC_ALL over LC_MESSAGES over LANG, the first one set wins).
std::vector<std::string> preferred_ui_languages() {
  std::vector<std::string> tags;
  std::string_view list = environment("LANGUAGE");
  while (!list.empty()) {
    const std::size_t colon = list.find(':');
    if (auto tag = locale_name_to_tag(list.substr(0, colon))) tags.push_back(std::move(*tag));
    list = colon == std::string_view::npos ? std::string_view() : list.substr(colon + 1);
  }
  if (!tags.empty()) return tags;

  for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    std::string_view value = environment(variable);
    if (value.empty()) continue;
    if (auto tag = locale_name_to_tag(value)) tags.push_back(std::move(*tag));
    break;
  }
  return tags;
}

}  // namespace ombrel::platform
