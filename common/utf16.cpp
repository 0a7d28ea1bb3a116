#include "common/utf16.h"

#include <cstdint>

#include "common/utf8.h"

namespace ombrel {
namespace {

constexpr std::uint32_t kReplacement = 0xFFFD;

void append_utf16(std::u16string& out, std::uint32_t cp) {
  if (cp < 0x10000) {
    out.push_back(static_cast<char16_t>(cp));
  } else {
    cp -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
  }
}

}  // namespace

std::string utf16_to_utf8(std::u16string_view utf16) {
  std::string out;
  out.reserve(utf16.size());
  for (std::size_t i = 0; i < utf16.size(); ++i) {
    const std::uint32_t u = utf16[i];
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < utf16.size()) {
      const std::uint32_t next = utf16[i + 1];
      if (next >= 0xDC00 && next <= 0xDFFF) {
        append_utf8(out, static_cast<char32_t>(0x10000 + ((u - 0xD800) << 10) + (next - 0xDC00)));
        ++i;
        continue;
      }
    }
    append_utf8(out, static_cast<char32_t>((u >= 0xD800 && u <= 0xDFFF) ? kReplacement : u));
  }
  return out;
}

std::u16string utf8_to_utf16(std::string_view utf8) {
  std::u16string out;
  out.reserve(utf8.size());
  std::size_t i = 0;
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(utf8[k]); };
  while (i < utf8.size()) {
    const unsigned char b0 = byte(i);
    if (b0 < 0x80) {
      out.push_back(b0);
      ++i;
      continue;
    }
    std::size_t len = 0;
    std::uint32_t cp = 0;
    std::uint32_t min = 0;
    if ((b0 & 0xE0) == 0xC0) {
      len = 2, cp = b0 & 0x1F, min = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
      len = 3, cp = b0 & 0x0F, min = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
      len = 4, cp = b0 & 0x07, min = 0x10000;
    }
    bool ok = len > 0 && i + len <= utf8.size();
    for (std::size_t k = 1; ok && k < len; ++k) {
      const unsigned char b = byte(i + k);
      ok = (b & 0xC0) == 0x80;
      cp = (cp << 6) | (b & 0x3F);
    }
    ok = ok && cp >= min && cp <= 0x10FFFF && !(cp >= 0xD800 && cp <= 0xDFFF);
    if (ok) {
      append_utf16(out, cp);
      i += len;
    } else {
      out.push_back(static_cast<char16_t>(kReplacement));
      ++i;
      while (i < utf8.size() && (byte(i) & 0xC0) == 0x80) ++i;
    }
  }
  return out;
}

}  // namespace ombrel
