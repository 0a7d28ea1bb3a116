// Skipping a value whose content does not matter (unknown members of a record).
#include "common/json_deserializer.h"

namespace ombrel::json::detail {

bool Deserializer::ignore_integer() {
  const int c = next_char_or_null();
  if (c == '0') {
    if (is_digit(peek_or_null())) return peek_error(Code::kInvalidNumber);
  } else if (c >= '1' && c <= '9') {
    while (is_digit(peek_or_null())) eat_char();
  } else {
    return error(Code::kInvalidNumber);
  }
  const int next = peek_or_null();
  if (next == '.') return ignore_decimal();
  if (next == 'e' || next == 'E') return ignore_exponent();
  return true;
}

bool Deserializer::ignore_decimal() {
  eat_char();
  bool at_least_one_digit = false;
  while (is_digit(peek_or_null())) {
    eat_char();
    at_least_one_digit = true;
  }
  if (!at_least_one_digit) return peek_error(Code::kInvalidNumber);
  const int next = peek_or_null();
  if (next == 'e' || next == 'E') return ignore_exponent();
  return true;
}

bool Deserializer::ignore_exponent() {
  eat_char();
  const int sign = peek_or_null();
  if (sign == '+' || sign == '-') eat_char();
  if (!is_digit(next_char_or_null())) return error(Code::kInvalidNumber);
  while (is_digit(peek_or_null())) eat_char();
  return true;
}

bool Deserializer::ignore_value() {
  std::vector<char> open;  // enclosing '[' and '{', innermost last
  for (;;) {
    bool opened = false;
    if (!ignore_value_start(open, opened)) return false;
    if (open.empty()) return true;
    bool all_closed = false;
    if (!ignore_closers(open, !opened, all_closed)) return false;
    if (all_closed) return true;
    if (open.back() == '{' && !ignore_member_key()) return false;
  }
}

bool Deserializer::ignore_value_start(std::vector<char>& open, bool& opened) {
  const int peeked = parse_whitespace();
  switch (peeked) {
    case kEof:
      return peek_error(Code::kEofWhileParsingValue);
    case 'n':
      eat_char();
      return parse_ident("ull");
    case 't':
      eat_char();
      return parse_ident("rue");
    case 'f':
      eat_char();
      return parse_ident("alse");
    case '-':
      eat_char();
      return ignore_integer();
    case '"':
      eat_char();
      return ignore_str();
    case '[':
    case '{':
      eat_char();
      open.push_back(static_cast<char>(peeked));
      opened = true;
      return true;
    default:
      if (!is_digit(peeked)) return peek_error(Code::kExpectedSomeValue);
      return ignore_integer();
  }
}

bool Deserializer::ignore_closers(std::vector<char>& open, bool accept_comma, bool& all_closed) {
  for (;;) {
    const int c = parse_whitespace();
    const char frame = open.back();
    if (c == ',' && accept_comma) {
      eat_char();
      return true;
    }
    if ((c == ']' && frame == '[') || (c == '}' && frame == '{')) {
      eat_char();
      open.pop_back();
      all_closed = open.empty();
      if (all_closed) return true;
      accept_comma = true;
      continue;
    }
    if (c == kEof) return peek_error(frame == '[' ? Code::kEofWhileParsingList : Code::kEofWhileParsingObject);
    if (accept_comma) {
      return peek_error(frame == '[' ? Code::kExpectedListCommaOrEnd : Code::kExpectedObjectCommaOrEnd);
    }
    return true;  // the first value of a container just opened
  }
}

bool Deserializer::ignore_member_key() {
  const int quote = parse_whitespace();
  if (quote == kEof) return peek_error(Code::kEofWhileParsingObject);
  if (quote != '"') return peek_error(Code::kKeyMustBeAString);
  eat_char();
  if (!ignore_str()) return false;
  const int colon = parse_whitespace();
  if (colon == kEof) return peek_error(Code::kEofWhileParsingObject);
  if (colon != ':') return peek_error(Code::kExpectedColon);
  eat_char();
  return true;
}

}  // namespace ombrel::json::detail
