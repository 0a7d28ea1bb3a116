// Lossy UTF-8 decoding and the float text of reader messages.
#include <gtest/gtest.h>

#include <limits>
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

INSTANTIATE_TEST_SUITE_P(
    Sequences, Utf8Lossy,
    ::testing::Values(LossyCase{"plain ascii", "plain ascii"},
                      LossyCase{"caf\xC3\xA9 \xE4\xB8\xAD \xF0\x9F\x98\x80", "caf\xC3\xA9 \xE4\xB8\xAD \xF0\x9F\x98\x80"},
                      LossyCase{std::string("a\0b", 3), std::string("a\0b", 3)},
                      LossyCase{"\xC0\x80", replacements(2)},            // overlong lead byte
                      LossyCase{"\xE0\x80\x80", replacements(3)},        // overlong three-byte form
                      LossyCase{"\xED\xA0\x80", replacements(3)},        // encoded surrogate
                      LossyCase{"\xF4\x90\x80\x80", replacements(4)},    // above U+10FFFF
                      LossyCase{"\xF5\x80", replacements(2)},
                      LossyCase{"\xE2\x82", replacements(1)},            // cut short at the end
                      LossyCase{"\xE2\x82x", replacements(1) + "x"},     // cut short by a new character
                      LossyCase{"\xF0\x9F\x98\xC3\xA9", replacements(1) + "\xC3\xA9"},
                      LossyCase{"\x80\xBF", replacements(2)},            // stray continuations
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
    ::testing::Values(FloatCase{0.0, "0.0"}, FloatCase{-0.0, "-0.0"}, FloatCase{1.0, "1.0"},
                      FloatCase{-1.5, "-1.5"}, FloatCase{0.1, "0.1"}, FloatCase{123.456, "123.456"},
                      FloatCase{1e15, "1000000000000000.0"}, FloatCase{9999999999999998.0, "9999999999999998.0"},
                      FloatCase{1e16, "1e+16"}, FloatCase{1.5e16, "1.5e+16"}, FloatCase{1e-5, "0.00001"},
                      FloatCase{1.25e-5, "0.0000125"}, FloatCase{1e-6, "1e-6"}, FloatCase{5e-324, "5e-324"},
                      FloatCase{2.2250738585072014e-308, "2.2250738585072014e-308"},
                      FloatCase{1.7976931348623157e308, "1.7976931348623157e+308"},
                      FloatCase{std::numeric_limits<double>::infinity(), "inf"},
                      FloatCase{-std::numeric_limits<double>::infinity(), "-inf"}));

}  // namespace
}  // namespace ombrel
