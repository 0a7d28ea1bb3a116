// Lossy UTF-8 decoding and the float text of reader messages.
#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <random>
#include <string>

#include "common/float_text.h"
#include "common/utf8.h"

namespace ombrel {
namespace {

const std::string kReplacement = "\xEF\xBF\xBD";

std::string replacements(int count) {
  std::string out;
  for (int i = 0; i < count; ++i) out += kReplacement;
  return out;
}

struct LossyCase {
  std::string input;
  std::string output;
};

class Utf8Lossy : public ::testing::TestWithParam<LossyCase> {};

TEST_P(Utf8Lossy, ReplacesEachMaximalSubpart) {
  EXPECT_EQ(utf8_lossy(GetParam().input), GetParam().output);
  EXPECT_EQ(is_valid_utf8(GetParam().input), GetParam().input == GetParam().output);
  EXPECT_TRUE(is_valid_utf8(utf8_lossy(GetParam().input)));
}

INSTANTIATE_TEST_SUITE_P(Sequences, Utf8Lossy,
                         ::testing::Values(LossyCase{"plain ascii", "plain ascii"},
                                           LossyCase{"caf\xC3\xA9 \xE4\xB8\xAD \xF0\x9F\x98\x80",
                                                     "caf\xC3\xA9 \xE4\xB8\xAD \xF0\x9F\x98\x80"},
                                           LossyCase{std::string("a\0b", 3), std::string("a\0b", 3)},
                                           LossyCase{"\xC0\x80", replacements(2)},          // overlong lead byte
                                           LossyCase{"\xE0\x80\x80", replacements(3)},      // overlong three-byte form
                                           LossyCase{"\xED\xA0\x80", replacements(3)},      // encoded surrogate
                                           LossyCase{"\xF4\x90\x80\x80", replacements(4)},  // above U+10FFFF
                                           LossyCase{"\xF5\x80", replacements(2)},
                                           LossyCase{"\xE2\x82", replacements(1)},  // cut short at the end
                                           LossyCase{"\xE2\x82x",
                                                     replacements(1) + "x"},  // cut short by a new character
                                           LossyCase{"\xF0\x9F\x98\xC3\xA9", replacements(1) + "\xC3\xA9"},
                                           LossyCase{"\x80\xBF", replacements(2)},  // stray continuations
                                           LossyCase{"\xEF\xBF\xBD", "\xEF\xBF\xBD"},
                                           LossyCase{"\xF4\x8F\xBF\xBF", "\xF4\x8F\xBF\xBF"}));  // U+10FFFF itself

struct FloatCase {
  double value;
  const char* text;
};

class FloatText : public ::testing::TestWithParam<FloatCase> {};

TEST_P(FloatText, MatchesTheReaderMessages) { EXPECT_EQ(shortest_float_text(GetParam().value), GetParam().text); }

INSTANTIATE_TEST_SUITE_P(
    Values, FloatText,
    ::testing::Values(FloatCase{0.0, "0.0"}, FloatCase{-0.0, "-0.0"}, FloatCase{1.0, "1.0"}, FloatCase{-1.5, "-1.5"},
                      FloatCase{0.1, "0.1"}, FloatCase{123.456, "123.456"}, FloatCase{1e15, "1000000000000000.0"},
                      FloatCase{9999999999999998.0, "9999999999999998.0"}, FloatCase{1e16, "1e+16"},
                      FloatCase{1.5e16, "1.5e+16"}, FloatCase{1e-5, "0.00001"}, FloatCase{1.25e-5, "0.0000125"},
                      FloatCase{1e-6, "1e-6"}, FloatCase{5e-324, "5e-324"},
                      FloatCase{2.2250738585072014e-308, "2.2250738585072014e-308"},
                      FloatCase{1.7976931348623157e308, "1.7976931348623157e+308"},
                      // 2^50 + 1/4 and + 3/4: the 17-digit roundings are ties, broken to even
                      FloatCase{1125899906842624.25, "1125899906842624.2"},
                      FloatCase{1125899906842624.75, "1125899906842624.8"}, FloatCase{1e23, "1e+23"},
                      FloatCase{2.0 / 3.0, "0.6666666666666666"},
                      FloatCase{0x1p-1022 * 0x1.fffffffffffffp0, "4.4501477170144023e-308"},
                      // 2^-792: the 16 digits 3.839223843572815e-239 name the double just below
                      FloatCase{0x1p-792, "3.8392238435728152e-239"},
                      // 2^89 and 2^-24: the 16 digits rounded up still read back,
                      // as the gap below a power of two is half the gap above
                      FloatCase{0x1p89, "6.189700196426902e+26"}, FloatCase{0x1p-24, "5.960464477539063e-8"},
                      FloatCase{std::numeric_limits<double>::infinity(), "inf"},
                      FloatCase{-std::numeric_limits<double>::infinity(), "-inf"}));

// Significant digits (trailing zeros dropped) and the power of ten of the first one.
struct Scientific {
  std::string digits;
  int exponent = 0;
  bool operator==(const Scientific&) const = default;
};

Scientific strip(std::string digits, int exponent) {
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
  return {digits, exponent};
}

// The reference: the standard library's shortest round trip (std::to_chars without a precision),
// which also picks the digits nearest the value when several lengths tie.
Scientific library_shortest(double value) {
  char text[64];
  const auto result = std::to_chars(text, text + sizeof text, value, std::chars_format::scientific);
  const std::string scientific(text, result.ptr);
  const std::size_t e_at = scientific.find('e');
  std::string digits;
  for (char c : scientific.substr(0, e_at)) {
    if (c >= '0' && c <= '9') digits.push_back(c);
  }
  return strip(digits, std::atoi(scientific.c_str() + e_at + 1));
}

// The digits of a positive shortest_float_text, plain ("0.00125", "1200.0") or scientific.
Scientific parsed(const std::string& text) {
  const std::size_t e_at = text.find('e');
  if (e_at != std::string::npos) {
    std::string digits = text.substr(0, e_at);
    if (digits.size() > 1) digits.erase(1, 1);  // the point
    return strip(digits, std::atoi(text.c_str() + e_at + 1));
  }
  const std::size_t point = text.find('.');
  std::string digits = text.substr(0, point) + text.substr(point + 1);
  int exponent = static_cast<int>(point) - 1;
  const std::size_t first = digits.find_first_not_of('0');
  exponent -= static_cast<int>(first);
  return strip(digits.substr(first), exponent);
}

// The same digits as the standard library's shortest round trip for every kind of double: random bit
// patterns, both neighbours of every power of two (where the gap below is half the gap above),
// short decimals, the subnormals near zero and the largest values.
TEST(FloatText, SameDigitsAsTheStandardLibrary) {
  std::vector<double> values;
  values.reserve(3000 + 3 * 2098 + 2 * 999 + 1);  // the counts of the loops below
  std::mt19937_64 random(20240613);
  for (int i = 0; i < 3000; ++i) values.push_back(std::bit_cast<double>(random() & ~(std::uint64_t{1} << 63)));
  for (int exponent = -1074; exponent <= 1023; ++exponent) {
    const double power = std::ldexp(1.0, exponent);
    values.push_back(power);
    values.push_back(std::nextafter(power, 0.0));
    values.push_back(std::nextafter(power, std::numeric_limits<double>::infinity()));
  }
  for (int n = 1; n < 1000; ++n) values.push_back(n / 1000.0);
  for (std::uint64_t n = 1; n < 1000; ++n) values.push_back(std::bit_cast<double>(n));
  values.push_back(std::numeric_limits<double>::max());
  int mismatches = 0;
  for (const double value : values) {
    if (!std::isfinite(value) || value == 0.0) continue;
    const std::string text = shortest_float_text(value);
    if (parsed(text) != library_shortest(value) && ++mismatches <= 10) {
      ADD_FAILURE() << std::hexfloat << value << ": " << text << ", the standard library's digits "
                    << library_shortest(value).digits << "e" << library_shortest(value).exponent;
    }
  }
  EXPECT_EQ(mismatches, 0);
}

}  // namespace
}  // namespace ombrel
