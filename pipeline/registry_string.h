#pragma once
// Reads a text value of an open registry key the way the application lookup needs it.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/registry.h"

namespace ombrel {

// The largest value read: twice the longest path (32,767 units and a NUL). The values read are
// names and paths; a far larger one is none of them, and reading it whole could exhaust the
// process.
inline constexpr std::uint32_t kMaxRegistryStringBytes = 2 * 65'536;

// The value's text, or nothing when the value is missing, empty (size 0), larger than
// kMaxRegistryStringBytes, or not REG_SZ / REG_EXPAND_SZ. Trailing NUL units are dropped, inner ones kept; REG_EXPAND_SZ is expanded
// against the environment (the unexpanded text is kept when expansion fails).
std::optional<std::string> read_registry_string(platform::Registry& registry, platform::RegHandle key,
                                                std::string_view value_name);

}  // namespace ombrel
