#include "common/quoted_text.h"

#include <algorithm>
#include <cstdint>
#include <iterator>

namespace ombrel {
namespace {

struct CodePointRange {
  char32_t first;
  char32_t last;
};

#include "common/debug_escape_tables.inc"

template <std::size_t N>
bool in_table(const CodePointRange (&table)[N], char32_t cp) {
  const auto* it = std::upper_bound(std::begin(table), std::end(table), cp,
                                    [](char32_t value, const CodePointRange& range) { return value < range.first; });
  return it != std::begin(table) && cp <= std::prev(it)->last;
}

// Decodes one character of well-formed UTF-8 at `at`, advancing it. Malformed bytes (never
// produced by the reader) decode as themselves so nothing is lost.
char32_t decode_at(std::string_view text, std::size_t& at) {
  const auto first = static_cast<unsigned char>(text[at]);
  std::size_t width = first < 0x80 ? 1 : first < 0xE0 ? 2 : first < 0xF0 ? 3 : 4;
  if (at + width > text.size()) width = 1;
  char32_t cp = width == 1 ? first : width == 2 ? (first & 0x1F) : width == 3 ? (first & 0x0F) : (first & 0x07);
  for (std::size_t i = 1; i < width; ++i) {
    cp = (cp << 6) | (static_cast<unsigned char>(text[at + i]) & 0x3F);
  }
  at += width;
  return cp;
}

void append_unicode_escape(std::string& out, char32_t cp) {
  static constexpr char kHex[] = "0123456789abcdef";
  out += "\\u{";
  bool started = false;
  for (int shift = 20; shift >= 0; shift -= 4) {
    const auto nibble = static_cast<unsigned>((cp >> shift) & 0xF);
    if (nibble != 0 || started || shift == 0) {
      out.push_back(kHex[nibble]);
      started = true;
    }
  }
  out += '}';
}

// The escapes of debug_quoted, appended to `out`; the quote characters themselves only when
// `quoting`.
void append_escaped(std::string& out, std::string_view text, bool quoting) {
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t start = at;
    const char32_t cp = decode_at(text, at);
    switch (cp) {
      case U'\0':
        out += "\\0";
        continue;
      case U'\t':
        out += "\\t";
        continue;
      case U'\r':
        out += "\\r";
        continue;
      case U'\n':
        out += "\\n";
        continue;
      case U'\\':
        out += quoting ? "\\\\" : "\\";
        continue;
      case U'"':
        out += quoting ? "\\\"" : "\"";
        continue;
      default:
        break;
    }
    if (in_table(kGraphemeExtend, cp) || in_table(kNotPrintable, cp)) {
      append_unicode_escape(out, cp);
    } else {
      out.append(text.substr(start, at - start));
    }
  }
}

}  // namespace

std::string debug_quoted(std::string_view text) {
  std::string out = "\"";
  append_escaped(out, text, true);
  out += '"';
  return out;
}

std::string printable_text(std::string_view text) {
  std::string out;
  append_escaped(out, text, false);
  return out;
}

}  // namespace ombrel
