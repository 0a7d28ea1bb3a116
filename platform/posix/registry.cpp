#include "platform/registry.h"

namespace ombrel::platform {
namespace {

// There is no registry off Windows: every key is missing, so the lookup goes straight on to
// the known folders.
class NoRegistry final : public Registry {
 public:
  long open_key(RegHandle, const char16_t*, std::uint32_t, RegHandle* result) override {
    *result = nullptr;
    return kRegFileNotFound;
  }
  long enum_key(RegHandle, std::uint32_t, char16_t*, std::uint32_t*) override { return kRegNoMoreItems; }
  long query_value(RegHandle, const char16_t*, std::uint32_t*, std::uint8_t*, std::uint32_t*) override {
    return kRegFileNotFound;
  }
  void close_key(RegHandle) override {}
  std::uint32_t expand_environment_strings(const char16_t*, char16_t*, std::uint32_t) override { return 0; }
};

}  // namespace

Registry& system_registry() {
  static NoRegistry registry;
  return registry;
}

}  // namespace ombrel::platform
