#pragma once
// The registry operations the application lookup needs, one virtual per Win32 call so the
// lookup logic runs unchanged against the real registry on Windows and an in-memory store in
// native tests. Names and data are UTF-16 because the lookup's buffer rules are defined in units.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/unique_handle.h"

namespace ombrel::platform {

// An open key as the registry hands it out (an HKEY on Windows).
using RegHandle = void*;

// The predefined roots, with their Win32 handle values (a sign-extended LONG, as windows.h has it).
inline RegHandle predefined_key(std::uint32_t value) {
  // NOLINTNEXTLINE(performance-no-int-to-ptr): these handles are numbers by definition
  return reinterpret_cast<RegHandle>(static_cast<std::intptr_t>(static_cast<std::int32_t>(value)));
}
inline const RegHandle kHkeyCurrentUser = predefined_key(0x80000001u);
inline const RegHandle kHkeyLocalMachine = predefined_key(0x80000002u);

// Win32 result codes the lookup tells apart.
inline constexpr long kRegSuccess = 0;        // ERROR_SUCCESS
inline constexpr long kRegFileNotFound = 2;   // ERROR_FILE_NOT_FOUND
inline constexpr long kRegAccessDenied = 5;   // ERROR_ACCESS_DENIED
inline constexpr long kRegMoreData = 234;     // ERROR_MORE_DATA
inline constexpr long kRegNoMoreItems = 259;  // ERROR_NO_MORE_ITEMS

// Access rights and registry view flags.
inline constexpr std::uint32_t kKeyRead = 0x20019;
inline constexpr std::uint32_t kKeyWow64View64 = 0x0100;  // KEY_WOW64_64KEY
inline constexpr std::uint32_t kKeyWow64View32 = 0x0200;  // KEY_WOW64_32KEY

// Value types.
inline constexpr std::uint32_t kRegSz = 1;
inline constexpr std::uint32_t kRegExpandSz = 2;
inline constexpr std::uint32_t kRegBinary = 3;
inline constexpr std::uint32_t kRegDword = 4;
inline constexpr std::uint32_t kRegMultiSz = 7;

class Registry {
 public:
  virtual ~Registry() = default;

  // RegOpenKeyExW(parent, subkey, 0, access, result). `subkey` is NUL-terminated.
  virtual long open_key(RegHandle parent, const char16_t* subkey, std::uint32_t access, RegHandle* result) = 0;

  // RegEnumKeyExW(key, index, name, name_length, NULL, NULL, NULL, NULL): `name_length` holds
  // the buffer's size in units on entry and the name's length (without NUL) on success.
  virtual long enum_key(RegHandle key, std::uint32_t index, char16_t* name, std::uint32_t* name_length) = 0;

  // RegQueryValueExW(key, name, NULL, type, data, size): `data` NULL asks for type and size only.
  virtual long query_value(RegHandle key, const char16_t* name, std::uint32_t* type, std::uint8_t* data,
                           std::uint32_t* size) = 0;

  virtual void close_key(RegHandle key) = 0;

  // ExpandEnvironmentStringsW(source, destination, size): the units needed including the NUL,
  // 0 on failure. `destination` may be NULL when `size` is 0.
  virtual std::uint32_t expand_environment_strings(const char16_t* source, char16_t* destination,
                                                   std::uint32_t size) = 0;
};

// The largest string value read: twice the longest path (32,767 units and a NUL). The values
// read are names and paths; a far larger one is none of them, and reading it whole could
// exhaust the process.
inline constexpr std::uint32_t kMaxRegistryStringBytes = 2 * 65'536;

// The registry of the running system. Natively there is none: it holds no keys.
Registry& system_registry();

// An open key with the registry that opened it, the one that can close it. A key is empty
// (nothing to close) whatever registry it names when its handle is null.
struct OpenKeyTraits {
  struct Handle {
    Registry* registry = nullptr;
    RegHandle key = nullptr;
    bool operator==(const Handle& other) const { return key == other.key; }
  };
  static void close(Handle open) { open.registry->close_key(open.key); }
};

// Owner of one open key: closes it through the registry that opened it.
class RegKey {
 public:
  RegKey() = default;
  RegKey(Registry& registry, RegHandle handle) : key_({&registry, handle}) {}

  // Opens `subkey` below `parent`; an empty RegKey (false) when the registry refuses.
  static RegKey open(Registry& registry, RegHandle parent, const char16_t* subkey, std::uint32_t access) {
    RegHandle handle = nullptr;
    if (registry.open_key(parent, subkey, access, &handle) != kRegSuccess || handle == nullptr) return {};
    return RegKey(registry, handle);
  }

  explicit operator bool() const { return static_cast<bool>(key_); }
  RegHandle get() const { return key_.get().key; }

  // The text of value `value_name`, or nothing when the key is empty or the value is missing,
  // empty (size 0), larger than kMaxRegistryStringBytes or not REG_SZ / REG_EXPAND_SZ. Trailing NUL units are dropped,
  // inner ones kept; REG_EXPAND_SZ is expanded against the environment (the unexpanded text is kept when expansion
  // fails).
  std::optional<std::string> read_string(std::string_view value_name) const;

  void reset() { key_.reset(); }

 private:
  UniqueHandle<OpenKeyTraits> key_;
};

}  // namespace ombrel::platform
