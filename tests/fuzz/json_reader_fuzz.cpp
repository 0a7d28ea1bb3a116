// libFuzzer target for the JSON reader and the text helpers around it. Besides crashes and
// sanitizer reports it checks what must hold for any input: lossy decoding always gives valid
// UTF-8, errors stand inside the text, both entry points agree, and float texts read back.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "common/float_text.h"
#include "common/json_reader.h"
#include "common/quoted_text.h"
#include "common/utf8.h"
#include "pipeline/manifest.h"

namespace {

void check(bool condition, const char* what) {
  if (!condition) {
    __builtin_printf("invariant broken: %s\n", what);
    std::abort();
  }
}

// An error must point into the text: a line that exists, a column within it.
void check_position(std::string_view text, const ombrel::json::JsonError& error) {
  check(!error.description.empty(), "error without description");
  check(error.line >= 1, "line below 1");
  std::size_t line = 1;
  std::size_t start = 0;
  while (line < error.line) {
    const std::size_t newline = text.find('\n', start);
    check(newline != std::string_view::npos, "line beyond the text");
    start = newline + 1;
    ++line;
  }
  const std::size_t end = std::min(text.find('\n', start), text.size());
  check(start + error.column <= end + 1 && start + error.column <= text.size(), "column beyond the line");
}

void read_all_ways(std::string_view text) {
  const auto pairs = ombrel::json::read_string_object(text);
  check(pairs.has_value() == ombrel::json::parse_string_object(text).has_value(), "entry points disagree");
  if (!pairs) check_position(text, pairs.error());

  const auto manifest = ombrel::parse_manifest(text);
  if (!manifest) {
    check_position(text, manifest.error());
  } else if (ombrel::is_valid_utf8(text)) {
    for (const auto* field :
         {&manifest->latest_install_file, &manifest->rollout_install_file, &manifest->base_install_file}) {
      check(!*field || ombrel::is_valid_utf8(**field), "member is not UTF-8");
    }
    if (const auto chosen = ombrel::choose_installer(*manifest)) {
      check(!chosen->empty(), "empty installer chosen");
      const std::string url = ombrel::resolve_installer_url("https://h.example/p/latest.json", *chosen);
      check(url.ends_with(*chosen), "resolution lost the value");
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);

  const std::string text = ombrel::utf8_lossy(bytes);
  check(ombrel::is_valid_utf8(text), "lossy output is not UTF-8");
  check(ombrel::is_valid_utf8(bytes) == (text == bytes), "lossy changed valid text or kept invalid");
  check(ombrel::is_valid_utf8(ombrel::debug_quoted(text)), "quoted text is not UTF-8");

  read_all_ways(text);   // what the installer does with a body
  read_all_ways(bytes);  // the reader must also survive bytes that are not UTF-8

  if (size >= sizeof(double)) {
    double value = 0;
    std::memcpy(&value, data, sizeof value);
    if (value == value && value - value == 0) {  // finite
      const std::string printed = ombrel::shortest_float_text(value);
      check(std::strtod(printed.c_str(), nullptr) == value, "float text does not read back");
    }
  }
  return 0;
}
