// libFuzzer target for putting an argument into a message template. The arguments come from
// outside: an HTTP status, a Windows error code, the JSON reader's description of a broken
// manifest (quoting bytes of the server's answer). Each input is tried with one template of the
// 22 compiled-in tables that it picks and with a template of its own. Besides crashes and sanitizer
// reports, the result is checked against the formatting rules applied to whole characters.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "common/utf8.h"
#include "translations/format_message.h"
#include "translations/locale_tables.h"
#include "translations/translation_table.h"

namespace {

void check(bool condition, const char* what) {
  if (!condition) {
    __builtin_printf("invariant broken: %s\n", what);
    std::abort();
  }
}

// Every "_FMT" text of every table.
const std::vector<std::string>& real_templates() {
  static const std::vector<std::string> templates = [] {
    std::vector<std::string> out;
    for (const ombrel::LocaleTable& locale : ombrel::locale_tables()) {
      for (const auto& [key, text] : ombrel::load_table(locale.code)) {
        if (key.ends_with("_FMT")) out.push_back(text);
      }
    }
    check(out.size() >= 22 * 5, "the tables lost their templates");
    return out;
  }();
  return templates;
}

// Decodes valid UTF-8 into characters.
std::u32string characters(std::string_view text) {
  std::u32string out;
  for (std::size_t i = 0; i < text.size();) {
    const auto b = static_cast<unsigned char>(text[i]);
    const std::size_t length = b < 0x80 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
    char32_t c = length == 1 ? b : b & (0x7F >> length);
    for (std::size_t k = 1; k < length; ++k) c = (c << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
    out.push_back(c);
    i += length;
  }
  return out;
}

// The rules, one character at a time with one of look-ahead.
std::string expected(std::u32string_view tmpl, std::string_view argument) {
  const auto is_letter = [](char32_t c) {
    return c == 'd' || c == 'i' || c == 's' || c == 'u' || c == 'x' || c == 'X';
  };
  std::string out;
  bool used = false;
  std::size_t i = 0;
  while (i < tmpl.size()) {
    const char32_t c = tmpl[i++];
    if (c != '%') {
      ombrel::append_utf8(out, c);
    } else if (i == tmpl.size()) {
      out += '%';
    } else if (tmpl[i] == '%') {
      out += '%';
      ++i;
    } else {
      bool complete = false;
      while (i < tmpl.size() && !complete) complete = is_letter(tmpl[i++]);
      if (!complete) {
        out += '%';
      } else if (!used) {
        out += argument;
        used = true;
      }
    }
  }
  return out;
}

void try_template(std::string_view tmpl, std::string_view argument) {
  const std::string result = ombrel::format_message(tmpl, argument);
  check(result.size() <= tmpl.size() + argument.size(), "result longer than template and argument");
  if (ombrel::is_valid_utf8(tmpl)) {
    check(result == expected(characters(tmpl), argument), "formatting rules");
    if (ombrel::is_valid_utf8(argument)) check(ombrel::is_valid_utf8(result), "result is not UTF-8");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const std::vector<std::string>& templates = real_templates();
  const std::string& real = templates[input.ConsumeIntegralInRange<std::size_t>(0, templates.size() - 1)];
  const std::string own_template = input.ConsumeRandomLengthString(512);
  const std::string argument = input.ConsumeRemainingBytesAsString();
  try_template(real, argument);
  try_template(own_template, argument);
  try_template(argument, own_template);  // an argument that ends up as a template
  return 0;
}
