// libFuzzer target for reading text values of the registry: any Uninstall entry of any program
// (or a hand-made one under the current user) reaches the application lookup. The registry here
// is hostile within the documented behaviour of the Win32 calls: any type, size and bytes; a
// value that changes between the size query and the read; a buffer left full of garbage with
// ERROR_MORE_DATA; environment expansion giving any count, with any units in the buffer, but
// never writing beyond it. Besides crashes and sanitizer reports it checks the text against a
// plain reading of the stored units and the DisplayName rule against its definition.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "common/utf8.h"
#include "pipeline/app_lookup.h"
#include "platform/registry.h"

namespace {

namespace platform = ombrel::platform;

void check(bool condition, const char* what) {
  if (!condition) {
    __builtin_printf("invariant broken: %s\n", what);
    std::abort();
  }
}

// What one value read meets, drawn from the input before the read starts.
struct Script {
  long size_status = platform::kRegSuccess;
  std::uint32_t type = platform::kRegSz;
  std::uint32_t size = 0;  // reported by the size query
  long read_status = platform::kRegSuccess;
  std::string stored;               // the bytes at the time of the read
  std::uint32_t expand_needed = 0;  // first expansion call
  std::uint32_t expand_result = 0;  // second expansion call
  std::u16string expanded;          // what the second call leaves in the buffer
};

long draw_status(FuzzedDataProvider& input) {
  switch (input.ConsumeIntegralInRange<int>(0, 7)) {
    case 0:
      return platform::kRegFileNotFound;
    case 1:
      return platform::kRegMoreData;
    case 2:
      return platform::kRegAccessDenied;
    default:
      return platform::kRegSuccess;
  }
}

// A count up to `most`, mostly a small one: long texts are few, and slow to check.
std::uint32_t draw_count(FuzzedDataProvider& input, std::uint32_t most) {
  const bool long_one = input.ConsumeIntegralInRange<int>(0, 7) == 0;
  return input.ConsumeIntegralInRange<std::uint32_t>(0, long_one ? most : std::min<std::uint32_t>(most, 64));
}

Script draw_script(FuzzedDataProvider& input) {
  Script s;
  s.size_status = draw_status(input);
  s.type =
      input.ConsumeBool() ? input.ConsumeIntegral<std::uint32_t>() : input.ConsumeIntegralInRange<std::uint32_t>(0, 8);
  s.read_status = draw_status(input);
  s.stored = input.ConsumeRandomLengthString(4096);
  // Mostly the stored size; sometimes any size at all (the value changed, or is huge).
  switch (input.ConsumeIntegralInRange<int>(0, 3)) {
    case 0:
      s.size = input.ConsumeIntegral<std::uint32_t>();
      break;
    case 1:
      s.size = draw_count(input, 2 * ombrel::platform::kMaxRegistryStringBytes);
      break;
    default:
      s.size = static_cast<std::uint32_t>(s.stored.size());
      break;
  }
  // The documented limit of ExpandEnvironmentStringsW is 32K characters.
  s.expand_needed = draw_count(input, 32768);
  s.expand_result = draw_count(input, 32768);
  const std::string units = input.ConsumeRandomLengthString(8192);
  for (std::size_t i = 0; i + 1 < units.size(); i += 2) {
    s.expanded.push_back(
        static_cast<char16_t>(static_cast<unsigned char>(units[i]) | static_cast<unsigned char>(units[i + 1]) << 8));
  }
  return s;
}

class HostileRegistry final : public platform::Registry {
 public:
  explicit HostileRegistry(const Script& script) : script_(script) {}

  long open_key(platform::RegHandle, const char16_t*, std::uint32_t, platform::RegHandle*) override {
    return platform::kRegFileNotFound;
  }
  long enum_key(platform::RegHandle, std::uint32_t, char16_t*, std::uint32_t*) override {
    return platform::kRegNoMoreItems;
  }
  void close_key(platform::RegHandle) override {}

  long query_value(platform::RegHandle, const char16_t*, std::uint32_t* type, std::uint8_t* data,
                   std::uint32_t* size) override {
    check(type != nullptr && size != nullptr, "query without type or size");
    if (data == nullptr) {
      if (script_.size_status != platform::kRegSuccess) return script_.size_status;
      *type = script_.type;
      *size = script_.size;
      return platform::kRegSuccess;
    }
    if (script_.read_status != platform::kRegSuccess && script_.read_status != platform::kRegMoreData) {
      return script_.read_status;
    }
    const std::uint32_t room = *size;
    if (script_.stored.size() > room || script_.read_status == platform::kRegMoreData) {
      // Too small: the buffer's content is undefined, so fill all of it, and no byte more.
      std::memset(data, 0xA5, room);
      *size = static_cast<std::uint32_t>(script_.stored.size());
      return platform::kRegMoreData;
    }
    std::memcpy(data, script_.stored.data(), script_.stored.size());
    *type = script_.type;
    *size = static_cast<std::uint32_t>(script_.stored.size());
    return platform::kRegSuccess;
  }

  std::uint32_t expand_environment_strings(const char16_t* source, char16_t* destination, std::uint32_t size) override {
    check(source != nullptr, "expansion without a source");
    if (destination == nullptr || size == 0) return script_.expand_needed;
    // Any units, never beyond the buffer; a result within the buffer ends with its NUL.
    std::copy_n(script_.expanded.begin(), std::min<std::size_t>(size, script_.expanded.size()), destination);
    if (script_.expand_result >= 1 && script_.expand_result <= size) destination[script_.expand_result - 1] = u'\0';
    return script_.expand_result;
  }

 private:
  const Script& script_;
};

// UTF-16 to UTF-8 written out plainly: pairs combine, a lone surrogate becomes U+FFFD.
std::string plain_utf8(const std::u16string& units) {
  std::string out;
  for (std::size_t i = 0; i < units.size(); ++i) {
    char32_t c = units[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (units[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    ombrel::append_utf8(out, c);
  }
  return out;
}

std::u16string without_trailing_nuls(std::u16string units) {
  while (!units.empty() && units.back() == u'\0') units.pop_back();
  return units;
}

// The value as the lookup must see it, or nothing.
std::optional<std::string> expected(const Script& s) {
  if (s.size_status != platform::kRegSuccess) return std::nullopt;
  if (s.type != platform::kRegSz && s.type != platform::kRegExpandSz) return std::nullopt;
  if (s.size == 0 || s.size > ombrel::platform::kMaxRegistryStringBytes) return std::nullopt;
  if (s.read_status != platform::kRegSuccess || s.stored.size() > s.size) return std::nullopt;
  std::u16string units((s.size + 1) / 2, u'\0');
  for (std::size_t i = 0; i < s.stored.size(); ++i) {
    units[i / 2] |= static_cast<char16_t>(static_cast<unsigned char>(s.stored[i]) << (8 * (i % 2)));
  }
  const std::string text = plain_utf8(without_trailing_nuls(units));
  if (s.type != platform::kRegExpandSz) return text;
  if (s.expand_needed == 0 || s.expand_result == 0 || s.expand_result > s.expand_needed) return text;
  // The units before the result's NUL: what the call wrote, then the buffer's zeros.
  std::u16string buffer = s.expanded.substr(0, s.expand_result - 1);
  buffer.resize(s.expand_result - 1, u'\0');
  return plain_utf8(buffer);
}

bool expected_display_name_match(const std::string& name) {
  constexpr std::string_view product = "ombrel loomwork";
  if (name.size() != product.size()) return false;
  for (std::size_t i = 0; i < name.size(); ++i) {
    const char c = name[i] >= 'A' && name[i] <= 'Z' ? static_cast<char>(name[i] - 'A' + 'a') : name[i];
    if (c != product[i]) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const Script script = draw_script(input);
  HostileRegistry registry(script);

  const platform::RegKey key(registry, reinterpret_cast<platform::RegHandle>(0x1234));
  const std::optional<std::string> text = key.read_string("DisplayName");
  check(text == expected(script), "value text");
  if (text) {
    check(ombrel::is_valid_utf8(*text), "value text is not UTF-8");
    check(ombrel::is_product_display_name(*text) == expected_display_name_match(*text), "DisplayName rule");
  }
  return 0;
}
