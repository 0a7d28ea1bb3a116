#pragma once
// The deserializer behind common/json_reader.h, one class whose parts live by concern: errors
// and the entry points (json_reader.cpp), numbers, strings, skipping unwanted values and typed
// reading into the target shape. Only those files include this header.
//
// Every message is fixed to the byte: which byte is peeked or consumed before an error decides
// its column, and the order in which the target type asks for values decides which error comes
// first. Users see these messages and support looks them up, so keep that structure when
// changing anything here; the reference cases in tests/data pin it down.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/json_reader.h"

namespace ombrel::json::detail {

enum class Code {
  kEofWhileParsingList,
  kEofWhileParsingObject,
  kEofWhileParsingString,
  kEofWhileParsingValue,
  kExpectedColon,
  kExpectedListCommaOrEnd,
  kExpectedObjectCommaOrEnd,
  kExpectedSomeIdent,
  kExpectedSomeValue,
  kInvalidEscape,
  kInvalidNumber,
  kNumberOutOfRange,
  kControlCharacterWhileParsingString,
  kKeyMustBeAString,
  kLoneLeadingSurrogateInHexEscape,
  kTrailingComma,
  kTrailingCharacters,
  kUnexpectedEndOfHexEscape,
  kRecursionLimitExceeded,
};

// The error's fixed description, as the message shows it.
const char* describe(Code code);

inline constexpr int kEof = -1;
inline constexpr int kRecursionLimit = 128;

inline bool is_digit(int c) { return c >= '0' && c <= '9'; }

// A number as the scanner classifies it before the target type sees it.
struct Number {
  enum class Kind { kFloat, kUnsigned, kSigned } kind = Kind::kUnsigned;
  double f = 0;
  std::uint64_t u = 0;
  std::int64_t i = 0;

  // The value as a type error names it: "integer `5`", "floating point `0.5`".
  std::string describe() const;
};

class Deserializer {
 public:
  explicit Deserializer(std::string_view text) : text_(text) {}
  JsonError error() const { return JsonError{failure_.description, failure_.line, failure_.column}; }
  // HashMap<String, String>, then nothing but whitespace.
  bool read_string_map(StringPairs& out) { return deserialize_string_map(out) && end(); }
  // A struct of Option<String> fields, then nothing but whitespace.
  bool read_record(std::string_view name, std::span<const std::string_view> fields,
                   std::vector<std::optional<std::string>>& out) {
    return deserialize_record(name, fields, out) && end();
  }

 private:
  struct Failure {
    std::string description;
    bool positioned = false;
    std::size_t line = 0;
    std::size_t column = 0;
  };

  // ---- input (every part reads byte by byte, so these stay inline) ---------------------------
  int peek() const { return index_ < text_.size() ? static_cast<unsigned char>(text_[index_]) : kEof; }
  int peek_or_null() const { return index_ < text_.size() ? static_cast<unsigned char>(text_[index_]) : 0; }
  void eat_char() { ++index_; }
  int next_char() { return index_ < text_.size() ? static_cast<unsigned char>(text_[index_++]) : kEof; }
  int next_char_or_null() {
    const int c = next_char();
    return c == kEof ? 0 : c;
  }
  int parse_whitespace() {
    for (;;) {
      const int c = peek();
      if (c == ' ' || c == '\n' || c == '\t' || c == '\r') {
        eat_char();
      } else {
        return c;
      }
    }
  }

  // ---- errors (json_reader.cpp) --------------------------------------------------------------
  // A byte that was consumed caused the error.
  bool error(Code code) { return fail_at(index_, code); }
  // The byte under the cursor caused the error.
  bool peek_error(Code code) { return fail_at(std::min(text_.size(), index_ + 1), code); }
  void place(Failure& failure, std::size_t at) const;
  bool fail_at(std::size_t at, Code code);
  // A type-level error; its place is filled in later, by fix_position.
  bool data_error(std::string description);
  bool fix_position();
  bool invalid_type(const std::string& unexpected, std::string_view expected);
  bool parse_ident(std::string_view rest);

  // ---- numbers (json_numbers.cpp) ------------------------------------------------------------
  bool parse_integer(bool positive, Number& out);
  bool parse_number(bool positive, std::uint64_t significand, Number& out);
  bool parse_decimal(bool positive, std::uint64_t significand, std::int32_t exponent_before_point, double& out);
  bool parse_exponent(bool positive, std::uint64_t significand, std::int32_t starting_exp, double& out);
  bool parse_exponent_overflow(bool positive, bool zero_significand, bool positive_exp, double& out);
  bool parse_decimal_overflow(bool positive, std::uint64_t significand, std::int32_t exponent, double& out);
  bool parse_long_integer(bool positive, std::uint64_t significand, double& out);
  bool from_parts(bool positive, std::uint64_t significand, std::int32_t exponent, double& out);

  // ---- strings (json_strings.cpp) ------------------------------------------------------------
  void skip_to_escape();
  // After the opening quote; a validated string (surrogates must pair).
  bool parse_str(std::string& out);
  // After the opening quote of a string whose content does not matter: escapes are checked
  // for shape only, so a lone surrogate passes.
  bool ignore_str();
  bool next_or_eof(int& c);
  bool peek_or_eof(int& c);
  bool decode_hex_escape(std::uint16_t& out);
  bool parse_escape(std::string& out);
  bool parse_unicode_escape(std::string& out);
  bool ignore_escape();

  // ---- skipping any value (json_skip.cpp; no depth limit: an explicit stack, no recursion) ---
  bool ignore_integer();
  bool ignore_decimal();
  bool ignore_exponent();
  bool ignore_value();
  // One value at the cursor: a scalar is skipped, a container's opener is pushed on `open`.
  bool ignore_value_start(std::vector<char>& open, bool& opened);
  // After a value inside `open`: a comma, or closers until `all_closed` (no comma right after
  // an opener).
  bool ignore_closers(std::vector<char>& open, bool accept_comma, bool& all_closed);
  // An object member's key and colon, skipped.
  bool ignore_member_key();

  // ---- typed reading (json_typed.cpp) --------------------------------------------------------
  // Called when the next value is not of the expected kind: reads what is there (a scalar is
  // consumed, a container is not) and reports it by its kind and value.
  bool peek_invalid_type(std::string_view expected);
  bool deserialize_string(std::string& out);
  bool deserialize_optional_string(std::optional<std::string>& out);
  bool parse_object_colon();
  // Start of the next member: 1 with the cursor on its key's quote, 0 at the closing brace.
  int next_key(bool& first);
  // Start of the next element: 1 with the cursor on it, 0 at the closing bracket.
  int next_element(bool& first);
  bool end_seq();
  bool end_map();
  bool end();
  // Runs the visitor of a container whose opening byte is under the cursor, then checks its
  // end. The end check runs even after a failed visit (it may move the cursor past whitespace
  // and the closer, which places a type error), but the visit's error wins.
  template <class Visit>
  bool visit_container(bool is_map, Visit&& visit);
  bool deserialize_string_map(StringPairs& out);
  bool deserialize_record(std::string_view name, std::span<const std::string_view> fields,
                          std::vector<std::optional<std::string>>& out);

  std::string_view text_;
  std::size_t index_ = 0;
  int remaining_depth_ = kRecursionLimit;
  Failure failure_;
};

}  // namespace ombrel::json::detail
