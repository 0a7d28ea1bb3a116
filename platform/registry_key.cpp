#include <cstdint>

#include "common/utf16.h"
#include "platform/registry.h"

namespace ombrel::platform {
namespace {

std::optional<std::string> expand(Registry& registry, const std::string& text) {
  const std::u16string source = utf8_to_utf16(text);
  const std::uint32_t needed = registry.expand_environment_strings(source.c_str(), nullptr, 0);
  if (needed == 0) return std::nullopt;
  std::u16string expanded(needed, u'\0');
  const std::uint32_t written = registry.expand_environment_strings(source.c_str(), expanded.data(), needed);
  // 0 is a failure; more than `needed` means the environment grew between the two calls and
  // the buffer holds only a truncated expansion.
  if (written == 0 || written > needed) return std::nullopt;
  expanded.resize(written - 1);  // without the terminating NUL
  return utf16_to_utf8(expanded);
}

}  // namespace

std::optional<std::string> RegKey::read_string(std::string_view value_name) const {
  if (!key_) return std::nullopt;
  Registry& registry = *key_.get().registry;
  const RegHandle key = key_.get().key;
  const std::u16string name = utf8_to_utf16(value_name);

  std::uint32_t type = 0;
  std::uint32_t size = 0;
  if (registry.query_value(key, name.c_str(), &type, nullptr, &size) != kRegSuccess) return std::nullopt;
  if (type != kRegSz && type != kRegExpandSz) return std::nullopt;
  if (size == 0 || size > kMaxRegistryStringBytes) return std::nullopt;

  // An odd byte count still gets a whole unit, zero-filled, so the last byte is never lost.
  std::u16string buffer((size + 1) / 2, u'\0');
  std::uint32_t second_type = 0;
  std::uint32_t second_size = size;
  if (registry.query_value(key, name.c_str(), &second_type, reinterpret_cast<std::uint8_t*>(buffer.data()),
                           &second_size) != kRegSuccess) {
    return std::nullopt;
  }

  // Strings are stored with zero, one or several terminating NULs; inner NULs are data.
  while (!buffer.empty() && buffer.back() == u'\0') buffer.pop_back();
  std::string text = utf16_to_utf8(buffer);

  if (type == kRegExpandSz) {
    if (std::optional<std::string> expanded = expand(registry, text)) return expanded;
  }
  return text;
}

}  // namespace ombrel::platform
