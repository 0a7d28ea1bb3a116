#include "platform/win32/wide.h"

#include <gtest/gtest.h>

#include <string>

namespace ombrel::win32 {
namespace {

using namespace std::string_literals;

struct WideCase {
  const char* name;
  std::wstring wide;
  std::string utf8;
};

void PrintTo(const WideCase& c, std::ostream* os) { *os << c.name; }

class WideRoundTrip : public testing::TestWithParam<WideCase> {};

TEST_P(WideRoundTrip, BothWays) {
  EXPECT_EQ(from_wide(GetParam().wide), GetParam().utf8);
  EXPECT_EQ(to_wide(GetParam().utf8), GetParam().wide);
}

INSTANTIATE_TEST_SUITE_P(Texts, WideRoundTrip,
                         testing::Values(WideCase{"empty", L"", ""}, WideCase{"ascii", L"en-US", "en-US"},
                                         WideCase{"two_byte", L"R\u00e9essayer",
                                                  "R\xC3\xA9"
                                                  "essayer"},
                                         WideCase{"three_byte", L"\u91CD\u8A66\u2026",
                                                  "\xE9\x87\x8D\xE8\xA9\xA6\xE2\x80\xA6"},
                                         WideCase{"surrogate_pair", L"\xD83D\xDE00", "\xF0\x9F\x98\x80"},
                                         WideCase{"highest_scalar", L"\xDBFF\xDFFF", "\xF4\x8F\xBF\xBF"},
                                         WideCase{"embedded_nul", L"a\0b"s, "a\0b"s},
                                         WideCase{"replacement_char_itself", L"\uFFFD", "\xEF\xBF\xBD"}),
                         [](const auto& info) { return std::string(info.param.name); });

struct LossyCase {
  const char* name;
  std::wstring wide;
  std::string utf8;
};

void PrintTo(const LossyCase& c, std::ostream* os) { *os << c.name; }

class FromWideUnpaired : public testing::TestWithParam<LossyCase> {};

TEST_P(FromWideUnpaired, BecomesReplacement) { EXPECT_EQ(from_wide(GetParam().wide), GetParam().utf8); }

INSTANTIATE_TEST_SUITE_P(Surrogates, FromWideUnpaired,
                         testing::Values(LossyCase{"lone_high",
                                                   L"a\xD800"
                                                   L"b",
                                                   "a\xEF\xBF\xBD"
                                                   "b"},
                                         LossyCase{"lone_low",
                                                   L"a\xDC00"
                                                   L"b",
                                                   "a\xEF\xBF\xBD"
                                                   "b"},
                                         LossyCase{"high_at_end", L"ab\xD83D", "ab\xEF\xBF\xBD"},
                                         LossyCase{"reversed_pair", L"\xDE00\xD83D", "\xEF\xBF\xBD\xEF\xBF\xBD"},
                                         LossyCase{"two_highs_then_low", L"\xD83D\xD83D\xDE00",
                                                   "\xEF\xBF\xBD\xF0\x9F\x98\x80"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ToWide, InvalidUtf8BecomesReplacement) {
  EXPECT_EQ(to_wide("a\xFF"
                    "b"),
            L"a\xFFFD"
            L"b");
  EXPECT_EQ(to_wide("\xC3"), L"\xFFFD");              // cut-off sequence
  EXPECT_EQ(to_wide("\xC0\xAF"), L"\xFFFD");          // overlong "/"
  EXPECT_EQ(to_wide("\xED\xA0\x80"), L"\xFFFD");      // encoded surrogate
  EXPECT_EQ(to_wide("\xF4\x90\x80\x80"), L"\xFFFD");  // beyond U+10FFFF
}

TEST(ToWide, NulTerminatedForWindows) {
  const std::wstring wide = to_wide("C:\\Temp");
  EXPECT_EQ(wide.c_str()[wide.size()], L'\0');
  EXPECT_EQ(wcslen(wide.c_str()), 7u);
}

}  // namespace
}  // namespace ombrel::win32
