#include "platform/registry.h"

#include <windows.h>

namespace ombrel::platform {
namespace {

static_assert(sizeof(char16_t) == sizeof(wchar_t), "UTF-16 units are wchar_t on Windows");

const wchar_t* wide(const char16_t* text) { return reinterpret_cast<const wchar_t*>(text); }
wchar_t* wide(char16_t* text) { return reinterpret_cast<wchar_t*>(text); }
HKEY hkey(RegHandle handle) { return static_cast<HKEY>(handle); }

class Win32Registry final : public Registry {
 public:
  long open_key(RegHandle parent, const char16_t* subkey, std::uint32_t access, RegHandle* result) override {
    HKEY opened = nullptr;
    const LSTATUS status = RegOpenKeyExW(hkey(parent), wide(subkey), 0, access, &opened);
    *result = status == ERROR_SUCCESS ? opened : nullptr;
    return status;
  }

  long enum_key(RegHandle key, std::uint32_t index, char16_t* name, std::uint32_t* name_length) override {
    DWORD length = *name_length;
    const LSTATUS status = RegEnumKeyExW(hkey(key), index, wide(name), &length, nullptr, nullptr, nullptr, nullptr);
    *name_length = length;
    return status;
  }

  long query_value(RegHandle key, const char16_t* name, std::uint32_t* type, std::uint8_t* data,
                   std::uint32_t* size) override {
    DWORD value_type = 0;
    DWORD value_size = *size;
    const LSTATUS status = RegQueryValueExW(hkey(key), wide(name), nullptr, &value_type, data, &value_size);
    *type = value_type;
    *size = value_size;
    return status;
  }

  void close_key(RegHandle key) override { RegCloseKey(hkey(key)); }

  std::uint32_t expand_environment_strings(const char16_t* source, char16_t* destination, std::uint32_t size) override {
    return ExpandEnvironmentStringsW(wide(source), destination ? wide(destination) : nullptr, size);
  }
};

}  // namespace

Registry& system_registry() {
  static Win32Registry registry;
  return registry;
}

}  // namespace ombrel::platform
