#pragma once
// Reads a text value of an open registry key the way the application lookup needs it.
#include <optional>
#include <string>
#include <string_view>

#include "platform/registry.h"

namespace ombrel {

// The value's text, or nothing when the value is missing, empty (size 0) or not REG_SZ /
// REG_EXPAND_SZ. Trailing NUL units are dropped, inner ones kept; REG_EXPAND_SZ is expanded
// against the environment (the unexpanded text is kept when expansion fails).
std::optional<std::string> read_registry_string(platform::Registry& registry, platform::RegHandle key,
                                                std::string_view value_name);

}  // namespace ombrel
