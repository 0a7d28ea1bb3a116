#include "translations/format_message.h"

namespace ombrel {
namespace {

bool is_conversion_letter(char c) { return c == 'd' || c == 'i' || c == 's' || c == 'u' || c == 'x' || c == 'X'; }

}  // namespace

// The template is read character by character with one character of look-ahead. Working on
// UTF-8 bytes gives the same result as working on whole characters: "%" and the conversion
// letters are ASCII, and no byte of a multi-byte UTF-8 sequence is ever an ASCII byte.
std::string format_message(std::string_view message_template, std::string_view argument) {
  std::string out;
  out.reserve(message_template.size() + 32);
  bool argument_used = false;
  std::size_t i = 0;
  const std::size_t end = message_template.size();
  while (i < end) {
    const char c = message_template[i++];
    if (c != '%') {
      out.push_back(c);
      continue;
    }
    if (i == end) {  // a lone "%" at the very end is kept
      out.push_back('%');
      break;
    }
    if (message_template[i] == '%') {
      out.push_back('%');
      ++i;
      continue;
    }
    // A conversion: flags, width, precision and length letters (even "%" or a space) up to
    // the conversion letter are dropped with it.
    bool complete = false;
    while (i < end && !complete) complete = is_conversion_letter(message_template[i++]);
    if (!complete) {
      out.push_back('%');
      break;
    }
    if (!argument_used) {
      out.append(argument);
      argument_used = true;
    }
  }
  return out;
}

}  // namespace ombrel
