// Numbers: the integer, decimal and exponent scanner and the decimal-to-double conversion.
#include <limits>

#include "common/float_text.h"
#include "common/json_deserializer.h"

namespace ombrel::json::detail {

namespace {

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

// The quick conversion, not the correctly rounded one: the (possibly truncated) significand times
// or divided by one power of ten, so long decimals can be off by an ulp from the correctly rounded
// value, and the reference cases expect exactly these doubles. Nothing on overflow to infinity.
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

// Would a * 10 + b exceed max?
template <class T>
bool overflows(T a, T b, T max) {
  return a >= max / 10 && (a > max / 10 || b > max % 10);
}

}  // namespace

std::string Number::describe() const {
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

bool Deserializer::parse_integer(bool positive, Number& out) {
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

bool Deserializer::parse_number(bool positive, std::uint64_t significand, Number& out) {
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

bool Deserializer::parse_decimal(bool positive, std::uint64_t significand, std::int32_t exponent_before_point,
                                 double& out) {
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

bool Deserializer::parse_exponent(bool positive, std::uint64_t significand, std::int32_t starting_exp, double& out) {
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

bool Deserializer::parse_exponent_overflow(bool positive, bool zero_significand, bool positive_exp, double& out) {
  // An error rather than infinity; a vanishing number is zero.
  if (!zero_significand && positive_exp) return error(Code::kNumberOutOfRange);
  while (is_digit(peek_or_null())) eat_char();
  out = positive ? 0.0 : -0.0;
  return true;
}

bool Deserializer::parse_decimal_overflow(bool positive, std::uint64_t significand, std::int32_t exponent,
                                          double& out) {
  // Digits past what a u64 holds are dropped.
  while (is_digit(peek_or_null())) eat_char();
  const int c = peek_or_null();
  if (c == 'e' || c == 'E') return parse_exponent(positive, significand, exponent, out);
  return from_parts(positive, significand, exponent, out);
}

bool Deserializer::parse_long_integer(bool positive, std::uint64_t significand, double& out) {
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

bool Deserializer::from_parts(bool positive, std::uint64_t significand, std::int32_t exponent, double& out) {
  double f = 0;
  if (!scale_by_power_of_ten(significand, exponent, f)) return error(Code::kNumberOutOfRange);
  out = positive ? f : -f;
  return true;
}

}  // namespace ombrel::json::detail
