#include "common/json_reader.h"

#include <algorithm>
#include <cstdint>
#include <limits>

#include "common/float_text.h"
#include "common/quoted_text.h"
#include "common/utf8.h"

// The deserializer below follows serde_json's (1.0, default features, reading from a str) step
// by step: which byte is peeked or consumed before an error decides its column, and the order in
// which the target type asks for values decides which error comes first. Keep that structure when
// changing anything here; the reference cases in tests/data pin it down.

namespace ombrel::json {

std::string JsonError::to_string() const {
  return description + " at line " + std::to_string(line) + " column " + std::to_string(column);
}

namespace {

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

constexpr int kEof = -1;
constexpr int kRecursionLimit = 128;

// Powers of ten 1e0..1e308 as the compiler rounds the literals.
#define OMBREL_POW10_ROW(t) \
  1e##t##0, 1e##t##1, 1e##t##2, 1e##t##3, 1e##t##4, 1e##t##5, 1e##t##6, 1e##t##7, 1e##t##8, 1e##t##9
constexpr double kPow10[309] = {OMBREL_POW10_ROW(0),
                                OMBREL_POW10_ROW(1),
                                OMBREL_POW10_ROW(2),
                                OMBREL_POW10_ROW(3),
                                OMBREL_POW10_ROW(4),
                                OMBREL_POW10_ROW(5),
                                OMBREL_POW10_ROW(6),
                                OMBREL_POW10_ROW(7),
                                OMBREL_POW10_ROW(8),
                                OMBREL_POW10_ROW(9),
                                OMBREL_POW10_ROW(10),
                                OMBREL_POW10_ROW(11),
                                OMBREL_POW10_ROW(12),
                                OMBREL_POW10_ROW(13),
                                OMBREL_POW10_ROW(14),
                                OMBREL_POW10_ROW(15),
                                OMBREL_POW10_ROW(16),
                                OMBREL_POW10_ROW(17),
                                OMBREL_POW10_ROW(18),
                                OMBREL_POW10_ROW(19),
                                OMBREL_POW10_ROW(20),
                                OMBREL_POW10_ROW(21),
                                OMBREL_POW10_ROW(22),
                                OMBREL_POW10_ROW(23),
                                OMBREL_POW10_ROW(24),
                                OMBREL_POW10_ROW(25),
                                OMBREL_POW10_ROW(26),
                                OMBREL_POW10_ROW(27),
                                OMBREL_POW10_ROW(28),
                                OMBREL_POW10_ROW(29),
                                1e300,
                                1e301,
                                1e302,
                                1e303,
                                1e304,
                                1e305,
                                1e306,
                                1e307,
                                1e308};
#undef OMBREL_POW10_ROW

// The decimal-to-double conversion must round every step to double exactly as IEEE arithmetic
// does; on 32-bit x86 that means SSE2 rather than the x87 unit with its wider intermediates.
#if defined(__i386__) && defined(__GNUC__) && !defined(__clang__)
#define OMBREL_IEEE_DOUBLE_MATH __attribute__((target("sse2,fpmath=sse"), noinline))
#else
#define OMBREL_IEEE_DOUBLE_MATH
#endif

// serde_json's conversion without its "float_roundtrip" feature: the (possibly truncated)
// significand times or divided by one power of ten, so long decimals can be off by an ulp from
// the correctly rounded value. Nothing on overflow to infinity.
OMBREL_IEEE_DOUBLE_MATH bool scale_by_power_of_ten(std::uint64_t significand, std::int32_t exponent, double& out) {
  double f = static_cast<double>(significand);
  std::int64_t exp = exponent;
  for (;;) {
    const std::uint64_t index = static_cast<std::uint64_t>(exp < 0 ? -exp : exp);
    if (index < std::size(kPow10)) {
      if (exp >= 0) {
        f = f * kPow10[index];
        if (f == std::numeric_limits<double>::infinity()) return false;
      } else {
        f = f / kPow10[index];
      }
      break;
    }
    if (f == 0.0) break;
    if (exp >= 0) return false;
    f = f / 1e308;
    exp += 308;
  }
  out = f;
  return true;
}

bool is_digit(int c) { return c >= '0' && c <= '9'; }

// Would a * 10 + b exceed max?
template <class T>
bool overflows(T a, T b, T max) {
  return a >= max / 10 && (a > max / 10 || b > max % 10);
}

int hex_value(int c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// A number as the scanner classifies it before the target type sees it.
struct Number {
  enum class Kind { kFloat, kUnsigned, kSigned } kind = Kind::kUnsigned;
  double f = 0;
  std::uint64_t u = 0;
  std::int64_t i = 0;

  std::string describe() const {
    switch (kind) {
      case Kind::kFloat:
        return "floating point `" + shortest_float_text(f) + "`";
      case Kind::kUnsigned:
        return "integer `" + std::to_string(u) + "`";
      case Kind::kSigned:
        return "integer `" + std::to_string(i) + "`";
    }
    return {};
  }
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

  // ---- input ---------------------------------------------------------------------------

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

  // ---- errors ----------------------------------------------------------------------------

  void place(Failure& failure, std::size_t at) const {
    const std::string_view before = text_.substr(0, at);
    const std::size_t last_newline = before.rfind('\n');
    const std::size_t line_start = last_newline == std::string_view::npos ? 0 : last_newline + 1;
    failure.line = 1 + static_cast<std::size_t>(std::count(before.begin(), before.begin() + line_start, '\n'));
    failure.column = at - line_start;
    failure.positioned = true;
  }

  bool fail_at(std::size_t at, Code code) {
    failure_ = Failure{describe(code)};
    place(failure_, at);
    return false;
  }
  // A byte that was consumed caused the error.
  bool error(Code code) { return fail_at(index_, code); }
  // The byte under the cursor caused the error.
  bool peek_error(Code code) { return fail_at(std::min(text_.size(), index_ + 1), code); }
  // A type-level error; its place is filled in later by fix_position, as serde_json does.
  bool data_error(std::string description) {
    failure_ = Failure{std::move(description)};
    return false;
  }
  bool fix_position() {
    if (!failure_.positioned) place(failure_, index_);
    return false;
  }
  bool invalid_type(const std::string& unexpected, std::string_view expected) {
    data_error("invalid type: " + unexpected + ", expected " + std::string(expected));
    return fix_position();
  }

  // ---- scalars ---------------------------------------------------------------------------

  bool parse_ident(std::string_view rest) {
    for (char expected : rest) {
      const int c = next_char();
      if (c == kEof) return error(Code::kEofWhileParsingValue);
      if (c != static_cast<unsigned char>(expected)) return error(Code::kExpectedSomeIdent);
    }
    return true;
  }

  bool parse_integer(bool positive, Number& out) {
    const int next = next_char();
    if (next == kEof) return error(Code::kEofWhileParsingValue);
    if (next == '0') {
      // Only one leading zero.
      if (is_digit(peek_or_null())) return peek_error(Code::kInvalidNumber);
      return parse_number(positive, 0, out);
    }
    if (next < '1' || next > '9') return error(Code::kInvalidNumber);
    std::uint64_t significand = static_cast<std::uint64_t>(next - '0');
    for (;;) {
      const int c = peek_or_null();
      if (!is_digit(c)) return parse_number(positive, significand, out);
      const auto digit = static_cast<std::uint64_t>(c - '0');
      if (overflows<std::uint64_t>(significand, digit, std::numeric_limits<std::uint64_t>::max())) {
        out.kind = Number::Kind::kFloat;
        return parse_long_integer(positive, significand, out.f);
      }
      eat_char();
      significand = significand * 10 + digit;
    }
  }

  bool parse_number(bool positive, std::uint64_t significand, Number& out) {
    const int c = peek_or_null();
    if (c == '.') {
      out.kind = Number::Kind::kFloat;
      return parse_decimal(positive, significand, 0, out.f);
    }
    if (c == 'e' || c == 'E') {
      out.kind = Number::Kind::kFloat;
      return parse_exponent(positive, significand, 0, out.f);
    }
    if (positive) {
      out.kind = Number::Kind::kUnsigned;
      out.u = significand;
      return true;
    }
    // -0 and magnitudes beyond i64 become floats.
    const auto negated = static_cast<std::int64_t>(0 - significand);
    if (negated >= 0) {
      out.kind = Number::Kind::kFloat;
      out.f = -static_cast<double>(significand);
    } else {
      out.kind = Number::Kind::kSigned;
      out.i = negated;
    }
    return true;
  }

  bool parse_decimal(bool positive, std::uint64_t significand, std::int32_t exponent_before_point, double& out) {
    eat_char();  // '.'
    std::int32_t exponent_after_point = 0;
    for (int c = peek_or_null(); is_digit(c); c = peek_or_null()) {
      const auto digit = static_cast<std::uint64_t>(c - '0');
      if (overflows<std::uint64_t>(significand, digit, std::numeric_limits<std::uint64_t>::max())) {
        return parse_decimal_overflow(positive, significand, exponent_before_point + exponent_after_point, out);
      }
      eat_char();
      significand = significand * 10 + digit;
      --exponent_after_point;
    }
    // At least one digit after the point.
    if (exponent_after_point == 0) {
      return peek_error(peek() == kEof ? Code::kEofWhileParsingValue : Code::kInvalidNumber);
    }
    const std::int32_t exponent = exponent_before_point + exponent_after_point;
    const int c = peek_or_null();
    if (c == 'e' || c == 'E') return parse_exponent(positive, significand, exponent, out);
    return from_parts(positive, significand, exponent, out);
  }

  bool parse_exponent(bool positive, std::uint64_t significand, std::int32_t starting_exp, double& out) {
    eat_char();  // 'e' or 'E'
    bool positive_exp = true;
    const int sign = peek_or_null();
    if (sign == '+') {
      eat_char();
    } else if (sign == '-') {
      eat_char();
      positive_exp = false;
    }
    const int next = next_char();
    if (next == kEof) return error(Code::kEofWhileParsingValue);
    if (!is_digit(next)) return error(Code::kInvalidNumber);
    std::int32_t exp = next - '0';
    for (int c = peek_or_null(); is_digit(c); c = peek_or_null()) {
      eat_char();
      const std::int32_t digit = c - '0';
      if (overflows<std::int32_t>(exp, digit, std::numeric_limits<std::int32_t>::max())) {
        return parse_exponent_overflow(positive, significand == 0, positive_exp, out);
      }
      exp = exp * 10 + digit;
    }
    const std::int64_t wide = positive_exp ? std::int64_t{starting_exp} + exp : std::int64_t{starting_exp} - exp;
    const auto final_exp = static_cast<std::int32_t>(std::clamp<std::int64_t>(
        wide, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
    return from_parts(positive, significand, final_exp, out);
  }

  bool parse_exponent_overflow(bool positive, bool zero_significand, bool positive_exp, double& out) {
    // An error rather than infinity; a vanishing number is zero.
    if (!zero_significand && positive_exp) return error(Code::kNumberOutOfRange);
    while (is_digit(peek_or_null())) eat_char();
    out = positive ? 0.0 : -0.0;
    return true;
  }

  bool parse_decimal_overflow(bool positive, std::uint64_t significand, std::int32_t exponent, double& out) {
    // Digits past what a u64 holds are dropped.
    while (is_digit(peek_or_null())) eat_char();
    const int c = peek_or_null();
    if (c == 'e' || c == 'E') return parse_exponent(positive, significand, exponent, out);
    return from_parts(positive, significand, exponent, out);
  }

  bool parse_long_integer(bool positive, std::uint64_t significand, double& out) {
    std::int32_t exponent = 0;
    for (;;) {
      const int c = peek_or_null();
      if (is_digit(c)) {
        eat_char();
        ++exponent;
      } else if (c == '.') {
        return parse_decimal(positive, significand, exponent, out);
      } else if (c == 'e' || c == 'E') {
        return parse_exponent(positive, significand, exponent, out);
      } else {
        return from_parts(positive, significand, exponent, out);
      }
    }
  }

  bool from_parts(bool positive, std::uint64_t significand, std::int32_t exponent, double& out) {
    double f = 0;
    if (!scale_by_power_of_ten(significand, exponent, f)) return error(Code::kNumberOutOfRange);
    out = positive ? f : -f;
    return true;
  }

  // ---- strings ---------------------------------------------------------------------------

  void skip_to_escape() {
    while (index_ < text_.size()) {
      const auto c = static_cast<unsigned char>(text_[index_]);
      if (c == '"' || c == '\\' || c < 0x20) return;
      ++index_;
    }
  }

  // After the opening quote; a validated string (surrogates must pair).
  bool parse_str(std::string& out) {
    out.clear();
    std::size_t start = index_;
    for (;;) {
      skip_to_escape();
      if (index_ == text_.size()) return error(Code::kEofWhileParsingString);
      const char c = text_[index_];
      if (c == '"') {
        out.append(text_.substr(start, index_ - start));
        ++index_;
        return true;
      }
      if (c == '\\') {
        out.append(text_.substr(start, index_ - start));
        ++index_;
        if (!parse_escape(out)) return false;
        start = index_;
      } else {
        ++index_;
        return error(Code::kControlCharacterWhileParsingString);
      }
    }
  }

  // After the opening quote of a string whose content does not matter: escapes are checked
  // for shape only, so a lone surrogate passes.
  bool ignore_str() {
    for (;;) {
      skip_to_escape();
      if (index_ == text_.size()) return error(Code::kEofWhileParsingString);
      const char c = text_[index_];
      if (c == '"') {
        ++index_;
        return true;
      }
      if (c == '\\') {
        ++index_;
        if (!ignore_escape()) return false;
      } else {
        return error(Code::kControlCharacterWhileParsingString);
      }
    }
  }

  bool next_or_eof(int& c) {
    c = next_char();
    return c != kEof || error(Code::kEofWhileParsingString);
  }

  bool peek_or_eof(int& c) {
    c = peek();
    return c != kEof || error(Code::kEofWhileParsingString);
  }

  bool decode_hex_escape(std::uint16_t& out) {
    if (text_.size() - index_ < 4) {
      index_ = text_.size();
      return error(Code::kEofWhileParsingString);
    }
    int value = 0;
    bool valid = true;
    for (int i = 0; i < 4; ++i) {
      const int digit = hex_value(static_cast<unsigned char>(text_[index_ + static_cast<std::size_t>(i)]));
      valid = valid && digit >= 0;
      value = value * 16 + std::max(digit, 0);
    }
    index_ += 4;
    if (!valid) return error(Code::kInvalidEscape);
    out = static_cast<std::uint16_t>(value);
    return true;
  }

  bool parse_escape(std::string& out) {
    int c = 0;
    if (!next_or_eof(c)) return false;
    switch (c) {
      case '"':
        out.push_back('"');
        return true;
      case '\\':
        out.push_back('\\');
        return true;
      case '/':
        out.push_back('/');
        return true;
      case 'b':
        out.push_back('\b');
        return true;
      case 'f':
        out.push_back('\f');
        return true;
      case 'n':
        out.push_back('\n');
        return true;
      case 'r':
        out.push_back('\r');
        return true;
      case 't':
        out.push_back('\t');
        return true;
      case 'u':
        return parse_unicode_escape(out);
      default:
        return error(Code::kInvalidEscape);
    }
  }

  bool parse_unicode_escape(std::string& out) {
    std::uint16_t n = 0;
    if (!decode_hex_escape(n)) return false;
    if (n >= 0xDC00 && n <= 0xDFFF) return error(Code::kLoneLeadingSurrogateInHexEscape);
    if (n < 0xD800 || n > 0xDBFF) {
      append_utf8(out, n);
      return true;
    }
    // A leading surrogate must be followed by \u and a trailing one.
    int c = 0;
    if (!peek_or_eof(c)) return false;
    eat_char();
    if (c != '\\') return error(Code::kUnexpectedEndOfHexEscape);
    if (!peek_or_eof(c)) return false;
    eat_char();
    if (c != 'u') return error(Code::kUnexpectedEndOfHexEscape);
    std::uint16_t n2 = 0;
    if (!decode_hex_escape(n2)) return false;
    if (n2 < 0xDC00 || n2 > 0xDFFF) return error(Code::kLoneLeadingSurrogateInHexEscape);
    append_utf8(out, 0x10000 + ((static_cast<char32_t>(n - 0xD800) << 10) | static_cast<char32_t>(n2 - 0xDC00)));
    return true;
  }

  bool ignore_escape() {
    int c = 0;
    if (!next_or_eof(c)) return false;
    switch (c) {
      case '"':
      case '\\':
      case '/':
      case 'b':
      case 'f':
      case 'n':
      case 'r':
      case 't':
        return true;
      case 'u': {
        std::uint16_t unused = 0;
        return decode_hex_escape(unused);
      }
      default:
        return error(Code::kInvalidEscape);
    }
  }

  // ---- skipping any value (no depth limit: an explicit stack, no recursion) --------------

  bool ignore_integer() {
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

  bool ignore_decimal() {
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

  bool ignore_exponent() {
    eat_char();
    const int sign = peek_or_null();
    if (sign == '+' || sign == '-') eat_char();
    if (!is_digit(next_char_or_null())) return error(Code::kInvalidNumber);
    while (is_digit(peek_or_null())) eat_char();
    return true;
  }

  bool ignore_value() {
    std::vector<char> open;  // enclosing '[' and '{', innermost last
    for (;;) {
      // One value.
      const int peeked = parse_whitespace();
      bool opened = false;
      switch (peeked) {
        case kEof:
          return peek_error(Code::kEofWhileParsingValue);
        case 'n':
          eat_char();
          if (!parse_ident("ull")) return false;
          break;
        case 't':
          eat_char();
          if (!parse_ident("rue")) return false;
          break;
        case 'f':
          eat_char();
          if (!parse_ident("alse")) return false;
          break;
        case '-':
          eat_char();
          if (!ignore_integer()) return false;
          break;
        case '"':
          eat_char();
          if (!ignore_str()) return false;
          break;
        case '[':
        case '{':
          eat_char();
          open.push_back(static_cast<char>(peeked));
          opened = true;
          break;
        default:
          if (!is_digit(peeked)) return peek_error(Code::kExpectedSomeValue);
          if (!ignore_integer()) return false;
          break;
      }
      if (open.empty()) return true;

      // What follows inside the enclosing containers: a comma, or closers.
      bool accept_comma = !opened;
      for (;;) {
        const int c = parse_whitespace();
        const char frame = open.back();
        if (c == ',' && accept_comma) {
          eat_char();
          break;
        }
        if ((c == ']' && frame == '[') || (c == '}' && frame == '{')) {
          eat_char();
          open.pop_back();
          if (open.empty()) return true;
          accept_comma = true;
          continue;
        }
        if (c == kEof) {
          return peek_error(frame == '[' ? Code::kEofWhileParsingList : Code::kEofWhileParsingObject);
        }
        if (accept_comma) {
          return peek_error(frame == '[' ? Code::kExpectedListCommaOrEnd : Code::kExpectedObjectCommaOrEnd);
        }
        break;
      }

      if (open.back() == '{') {
        const int quote = parse_whitespace();
        if (quote == kEof) return peek_error(Code::kEofWhileParsingObject);
        if (quote != '"') return peek_error(Code::kKeyMustBeAString);
        eat_char();
        if (!ignore_str()) return false;
        const int colon = parse_whitespace();
        if (colon == kEof) return peek_error(Code::kEofWhileParsingObject);
        if (colon != ':') return peek_error(Code::kExpectedColon);
        eat_char();
      }
    }
  }

  // ---- typed reading ---------------------------------------------------------------------

  // Called when the next value is not of the expected kind: reads what is there (a scalar is
  // consumed, a container is not) and reports it as serde_json names it.
  bool peek_invalid_type(std::string_view expected) {
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

  bool deserialize_string(std::string& out) {
    const int c = parse_whitespace();
    if (c == kEof) return peek_error(Code::kEofWhileParsingValue);
    if (c != '"') return peek_invalid_type("a string");
    eat_char();
    return parse_str(out);
  }

  bool deserialize_optional_string(std::optional<std::string>& out) {
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

  bool parse_object_colon() {
    const int c = parse_whitespace();
    if (c == ':') {
      eat_char();
      return true;
    }
    return peek_error(c == kEof ? Code::kEofWhileParsingObject : Code::kExpectedColon);
  }

  // Start of the next member: 1 with the cursor on its key's quote, 0 at the closing brace.
  int next_key(bool& first) {
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

  // Start of the next element: 1 with the cursor on it, 0 at the closing bracket.
  int next_element(bool& first) {
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

  bool end_seq() {
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

  bool end_map() {
    const int c = parse_whitespace();
    if (c == '}') {
      eat_char();
      return true;
    }
    return peek_error(c == ','    ? Code::kTrailingComma
                      : c == kEof ? Code::kEofWhileParsingObject
                                  : Code::kTrailingCharacters);
  }

  bool end() {
    if (parse_whitespace() == kEof) return true;
    return peek_error(Code::kTrailingCharacters);
  }

  // Runs the visitor of a container whose opening byte is under the cursor, then checks its
  // end. The end check runs even after a failed visit (it may move the cursor past whitespace
  // and the closer, which places a type error), but the visit's error wins.
  template <class Visit>
  bool visit_container(bool is_map, Visit&& visit) {
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

  bool deserialize_string_map(StringPairs& out) {
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

  bool deserialize_record(std::string_view name, std::span<const std::string_view> fields,
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
                              " with " + std::to_string(fields.size()) +
                              (fields.size() == 1 ? " element" : " elements"));
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

  std::string_view text_;
  std::size_t index_ = 0;
  int remaining_depth_ = kRecursionLimit;
  Failure failure_;
};

}  // namespace

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
