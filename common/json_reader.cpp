#include "common/json_reader.h"

#include "common/json_deserializer.h"

namespace ombrel::json {

std::string JsonError::to_string() const {
  return description + " at line " + std::to_string(line) + " column " + std::to_string(column);
}

namespace detail {

const char* describe(Code code) {
  switch (code) {
    case Code::kEofWhileParsingList:
      return "EOF while parsing a list";
    case Code::kEofWhileParsingObject:
      return "EOF while parsing an object";
    case Code::kEofWhileParsingString:
      return "EOF while parsing a string";
    case Code::kEofWhileParsingValue:
      return "EOF while parsing a value";
    case Code::kExpectedColon:
      return "expected `:`";
    case Code::kExpectedListCommaOrEnd:
      return "expected `,` or `]`";
    case Code::kExpectedObjectCommaOrEnd:
      return "expected `,` or `}`";
    case Code::kExpectedSomeIdent:
      return "expected ident";
    case Code::kExpectedSomeValue:
      return "expected value";
    case Code::kInvalidEscape:
      return "invalid escape";
    case Code::kInvalidNumber:
      return "invalid number";
    case Code::kNumberOutOfRange:
      return "number out of range";
    case Code::kControlCharacterWhileParsingString:
      return "control character (\\u0000-\\u001F) found while parsing a string";
    case Code::kKeyMustBeAString:
      return "key must be a string";
    case Code::kLoneLeadingSurrogateInHexEscape:
      return "lone leading surrogate in hex escape";
    case Code::kTrailingComma:
      return "trailing comma";
    case Code::kTrailingCharacters:
      return "trailing characters";
    case Code::kUnexpectedEndOfHexEscape:
      return "unexpected end of hex escape";
    case Code::kRecursionLimitExceeded:
      return "recursion limit exceeded";
  }
  return "";
}

void Deserializer::place(Failure& failure, std::size_t at) const {
  const std::string_view before = text_.substr(0, at);
  const std::size_t last_newline = before.rfind('\n');
  const std::size_t line_start = last_newline == std::string_view::npos ? 0 : last_newline + 1;
  failure.line = 1 + static_cast<std::size_t>(std::count(before.begin(), before.begin() + line_start, '\n'));
  failure.column = at - line_start;
  failure.positioned = true;
}

bool Deserializer::fail_at(std::size_t at, Code code) {
  failure_ = Failure{describe(code)};
  place(failure_, at);
  return false;
}

bool Deserializer::data_error(std::string description) {
  failure_ = Failure{std::move(description)};
  return false;
}

bool Deserializer::fix_position() {
  if (!failure_.positioned) place(failure_, index_);
  return false;
}

bool Deserializer::invalid_type(const std::string& unexpected, std::string_view expected) {
  data_error("invalid type: " + unexpected + ", expected " + std::string(expected));
  return fix_position();
}

bool Deserializer::parse_ident(std::string_view rest) {
  for (char expected : rest) {
    const int c = next_char();
    if (c == kEof) return error(Code::kEofWhileParsingValue);
    if (c != static_cast<unsigned char>(expected)) return error(Code::kExpectedSomeIdent);
  }
  return true;
}

}  // namespace detail

using detail::Deserializer;

JsonResult<StringPairs> read_string_object(std::string_view text) {
  Deserializer reader(text);
  StringPairs pairs;
  if (!reader.read_string_map(pairs)) return unexpected(reader.error());
  return pairs;
}

std::optional<StringPairs> parse_string_object(std::string_view text) {
  auto result = read_string_object(text);
  if (!result) return std::nullopt;
  return std::move(result).value();
}

JsonResult<std::vector<std::optional<std::string>>> read_optional_string_record(
    std::string_view text, std::string_view record_name, std::span<const std::string_view> field_names) {
  Deserializer reader(text);
  std::vector<std::optional<std::string>> values;
  if (!reader.read_record(record_name, field_names, values)) return unexpected(reader.error());
  return values;
}

}  // namespace ombrel::json
