// Typed reading: the value is read straight into the target shape, and one of the wrong type
// is reported by its kind and value ("invalid type: integer `5`, expected a string").
#include "common/json_deserializer.h"
#include "common/quoted_text.h"

namespace ombrel::json::detail {

bool Deserializer::peek_invalid_type(std::string_view expected) {
  switch (peek_or_null()) {
    case 'n':
      eat_char();
      if (!parse_ident("ull")) return false;
      return invalid_type("null", expected);
    case 't':
      eat_char();
      if (!parse_ident("rue")) return false;
      return invalid_type("boolean `true`", expected);
    case 'f':
      eat_char();
      if (!parse_ident("alse")) return false;
      return invalid_type("boolean `false`", expected);
    case '-': {
      eat_char();
      Number number;
      if (!parse_integer(false, number)) return false;
      return invalid_type(number.describe(), expected);
    }
    case '"': {
      eat_char();
      std::string text;
      if (!parse_str(text)) return false;
      return invalid_type("string " + debug_quoted(text), expected);
    }
    case '[':
      return invalid_type("sequence", expected);
    case '{':
      return invalid_type("map", expected);
    default: {
      if (is_digit(peek_or_null())) {
        Number number;
        if (!parse_integer(true, number)) return false;
        return invalid_type(number.describe(), expected);
      }
      return peek_error(Code::kExpectedSomeValue);
    }
  }
}

bool Deserializer::deserialize_string(std::string& out) {
  const int c = parse_whitespace();
  if (c == kEof) return peek_error(Code::kEofWhileParsingValue);
  if (c != '"') return peek_invalid_type("a string");
  eat_char();
  return parse_str(out);
}

bool Deserializer::deserialize_optional_string(std::optional<std::string>& out) {
  if (parse_whitespace() == 'n') {
    eat_char();
    if (!parse_ident("ull")) return false;
    out.reset();
    return true;
  }
  std::string value;
  if (!deserialize_string(value)) return false;
  out = std::move(value);
  return true;
}

bool Deserializer::parse_object_colon() {
  const int c = parse_whitespace();
  if (c == ':') {
    eat_char();
    return true;
  }
  return peek_error(c == kEof ? Code::kEofWhileParsingObject : Code::kExpectedColon);
}

int Deserializer::next_key(bool& first) {
  int c = parse_whitespace();
  if (c == '}') return 0;
  if (c == ',' && !first) {
    eat_char();
    c = parse_whitespace();
  } else if (c == kEof) {
    peek_error(Code::kEofWhileParsingObject);
    return -1;
  } else if (first) {
    first = false;
  } else {
    peek_error(Code::kExpectedObjectCommaOrEnd);
    return -1;
  }
  if (c == '"') return 1;
  peek_error(c == '}' ? Code::kTrailingComma : c == kEof ? Code::kEofWhileParsingValue : Code::kKeyMustBeAString);
  return -1;
}

int Deserializer::next_element(bool& first) {
  int c = parse_whitespace();
  if (c == ']') return 0;
  if (c == ',' && !first) {
    eat_char();
    c = parse_whitespace();
  } else if (c == kEof) {
    peek_error(Code::kEofWhileParsingList);
    return -1;
  } else if (first) {
    first = false;
  } else {
    peek_error(Code::kExpectedListCommaOrEnd);
    return -1;
  }
  if (c == ']') {
    peek_error(Code::kTrailingComma);
    return -1;
  }
  if (c == kEof) {
    peek_error(Code::kEofWhileParsingValue);
    return -1;
  }
  return 1;
}

bool Deserializer::end_seq() {
  const int c = parse_whitespace();
  if (c == ']') {
    eat_char();
    return true;
  }
  if (c == ',') {
    eat_char();
    return peek_error(parse_whitespace() == ']' ? Code::kTrailingComma : Code::kTrailingCharacters);
  }
  return peek_error(c == kEof ? Code::kEofWhileParsingList : Code::kTrailingCharacters);
}

bool Deserializer::end_map() {
  const int c = parse_whitespace();
  if (c == '}') {
    eat_char();
    return true;
  }
  return peek_error(c == ','    ? Code::kTrailingComma
                    : c == kEof ? Code::kEofWhileParsingObject
                                : Code::kTrailingCharacters);
}

bool Deserializer::end() {
  if (parse_whitespace() == kEof) return true;
  return peek_error(Code::kTrailingCharacters);
}

template <class Visit>
bool Deserializer::visit_container(bool is_map, Visit&& visit) {
  if (--remaining_depth_ == 0) return peek_error(Code::kRecursionLimitExceeded);
  eat_char();
  const bool visited = visit();
  ++remaining_depth_;
  Failure visit_failure;
  if (!visited) visit_failure = std::move(failure_);
  const bool ended = is_map ? end_map() : end_seq();
  if (!visited) {
    failure_ = std::move(visit_failure);
    return fix_position();
  }
  if (!ended) return fix_position();
  return true;
}

bool Deserializer::deserialize_string_map(StringPairs& out) {
  const int c = parse_whitespace();
  if (c == kEof) return peek_error(Code::kEofWhileParsingValue);
  if (c != '{') {
    peek_invalid_type("a map");
    return fix_position();
  }
  return visit_container(true, [&] {
    bool first = true;
    for (;;) {
      const int state = next_key(first);
      if (state < 0) return false;
      if (state == 0) return true;
      eat_char();
      std::string key;
      if (!parse_str(key)) return false;
      std::string value;
      if (!parse_object_colon() || !deserialize_string(value)) return false;
      out.emplace_back(std::move(key), std::move(value));
    }
  });
}

bool Deserializer::deserialize_record(std::string_view name, std::span<const std::string_view> fields,
                                      std::vector<std::optional<std::string>>& out) {
  const int c = parse_whitespace();
  if (c == kEof) return peek_error(Code::kEofWhileParsingValue);
  if (c == '[') {
    return visit_container(false, [&] {
      out.assign(fields.size(), std::nullopt);
      bool first = true;
      for (std::size_t i = 0; i < fields.size(); ++i) {
        const int state = next_element(first);
        if (state < 0) return false;
        if (state == 0) {
          return data_error("invalid length " + std::to_string(i) + ", expected struct " + std::string(name) +
                            " with " + std::to_string(fields.size()) + (fields.size() == 1 ? " element" : " elements"));
        }
        if (!deserialize_optional_string(out[i])) return false;
      }
      return true;
    });
  }
  if (c == '{') {
    return visit_container(true, [&] {
      std::vector<bool> seen(fields.size(), false);
      out.assign(fields.size(), std::nullopt);
      bool first = true;
      std::string key;
      for (;;) {
        const int state = next_key(first);
        if (state < 0) return false;
        if (state == 0) return true;
        eat_char();
        if (!parse_str(key)) return false;
        const auto field = std::find(fields.begin(), fields.end(), key);
        if (field == fields.end()) {
          if (!parse_object_colon() || !ignore_value()) return false;
          continue;
        }
        const auto slot = static_cast<std::size_t>(field - fields.begin());
        if (seen[slot]) return data_error("duplicate field `" + key + "`");
        seen[slot] = true;
        if (!parse_object_colon() || !deserialize_optional_string(out[slot])) return false;
      }
    });
  }
  peek_invalid_type("struct " + std::string(name));
  return fix_position();
}

}  // namespace ombrel::json::detail
