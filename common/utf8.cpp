#include "common/utf8.h"

#include <cstddef>
#include <cstdint>

namespace ombrel {
namespace {

// Length of the well-formed prefix of the sequence starting at `at` (0 for a lone byte that can
// start nothing) and whether that prefix is a complete character.
struct SequenceScan {
  std::size_t valid_length;
  bool complete;
};

bool in_range(unsigned char byte, unsigned char low, unsigned char high) { return byte >= low && byte <= high; }

SequenceScan scan_sequence(std::string_view bytes, std::size_t at) {
  const auto first = static_cast<unsigned char>(bytes[at]);
  if (first < 0x80) return {1, true};

  std::size_t width = 0;
  unsigned char second_low = 0x80;
  unsigned char second_high = 0xBF;
  if (in_range(first, 0xC2, 0xDF)) {
    width = 2;
  } else if (in_range(first, 0xE0, 0xEF)) {
    width = 3;
    if (first == 0xE0) second_low = 0xA0;   // overlong
    if (first == 0xED) second_high = 0x9F;  // surrogates
  } else if (in_range(first, 0xF0, 0xF4)) {
    width = 4;
    if (first == 0xF0) second_low = 0x90;   // overlong
    if (first == 0xF4) second_high = 0x8F;  // above U+10FFFF
  } else {
    return {0, false};
  }

  std::size_t length = 1;
  while (length < width) {
    if (at + length >= bytes.size()) return {length, false};
    const auto byte = static_cast<unsigned char>(bytes[at + length]);
    const bool ok = length == 1 ? in_range(byte, second_low, second_high) : in_range(byte, 0x80, 0xBF);
    if (!ok) return {length, false};
    ++length;
  }
  return {length, true};
}

}  // namespace

std::string utf8_lossy(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  std::size_t at = 0;
  while (at < bytes.size()) {
    const SequenceScan scan = scan_sequence(bytes, at);
    if (scan.complete) {
      out.append(bytes.substr(at, scan.valid_length));
      at += scan.valid_length;
    } else {
      out.append("\xEF\xBF\xBD");
      // The maximal subpart (at least one byte) becomes one replacement character.
      at += scan.valid_length == 0 ? 1 : scan.valid_length;
    }
  }
  return out;
}

bool is_valid_utf8(std::string_view bytes) {
  std::size_t at = 0;
  while (at < bytes.size()) {
    const SequenceScan scan = scan_sequence(bytes, at);
    if (!scan.complete) return false;
    at += scan.valid_length;
  }
  return true;
}

void append_utf8(std::string& out, char32_t code_point) {
  const auto cp = static_cast<std::uint32_t>(code_point);
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

}  // namespace ombrel
