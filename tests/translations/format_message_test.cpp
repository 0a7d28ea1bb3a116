#include "translations/format_message.h"

#include <gtest/gtest.h>

namespace ombrel {
namespace {

struct FormatCase {
  const char* name;
  std::string_view message_template;
  std::string_view argument;
  std::string_view expected;
};

void PrintTo(const FormatCase& c, std::ostream* os) { *os << c.name; }

class FormatMessage : public testing::TestWithParam<FormatCase> {};

TEST_P(FormatMessage, Formats) {
  const FormatCase& c = GetParam();
  EXPECT_EQ(format_message(c.message_template, c.argument), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    ProductTemplates, FormatMessage,
    testing::Values(FormatCase{"downloading", "Downloading\u2026 %d%%", "42", "Downloading\u2026 42%"},
                    FormatCase{"exit_code", "Installer exited with code %lu", "3", "Installer exited with code 3"},
                    FormatCase{"description", "Installation failed: %s", "timed out", "Installation failed: timed out"},
                    FormatCase{"http", "Manifest fetch failed (HTTP %d)", "404", "Manifest fetch failed (HTTP 404)"},
                    FormatCase{"japanese",
                               "\u30C0\u30A6\u30F3\u30ED\u30FC\u30C9\u3057\u3066\u3044\u307E\u3059\u2026 %d%%", "7",
                               "\u30C0\u30A6\u30F3\u30ED\u30FC\u30C9\u3057\u3066\u3044\u307E\u3059\u2026 7%"}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Percent, FormatMessage,
    testing::Values(FormatCase{"value_then_literal", "%d%%", "7", "7%"}, FormatCase{"literal_only", "%%", "x", "%"},
                    FormatCase{"lone_percent", "%", "x", "%"}, FormatCase{"percent_last", "50%", "x", "50%"},
                    FormatCase{"literal_before_value", "%%%s", "A", "%A"},
                    FormatCase{"no_conversion_drops_argument", "STATUS_READY", "x", "STATUS_READY"},
                    FormatCase{"empty_template", "", "x", ""}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Conversions, FormatMessage,
    testing::Values(FormatCase{"letter_i", "[%i]", "A", "[A]"}, FormatCase{"letter_u", "[%u]", "A", "[A]"},
                    FormatCase{"hex_is_not_hex", "[%x]", "255", "[255]"}, FormatCase{"upper_hex", "[%X]", "ff", "[ff]"},
                    FormatCase{"digits_not_checked", "[%d]", "abc", "[abc]"},
                    FormatCase{"flags_width_precision", "[%-08.3lu]", "A", "[A]"},
                    FormatCase{"second_vanishes", "%s and %s", "A", "A and "},
                    FormatCase{"later_kinds_vanish", "%d/%lu/%x|", "1", "1//|"},
                    FormatCase{"space_belongs_to_spec", "% d", "A", "A"},
                    FormatCase{"text_read_as_template", "100% done", "A", "100Aone"},
                    FormatCase{"percent_inside_spec", "[%5%d]", "A", "[A]"},
                    FormatCase{"unfinished_spec", "Rate %5.2f", "A", "Rate %"},
                    FormatCase{"unfinished_after_substitution", "%s then %l", "A", "A then %"},
                    FormatCase{"empty_argument", "[%s]", "", "[]"},
                    FormatCase{"argument_kept_verbatim", "%s", "50%% %d \u00e9", "50%% %d \u00e9"},
                    // Multi-byte characters inside a specification are consumed like any other.
                    FormatCase{"multibyte_in_spec", "<%\u00e9 s>", "A", "<A>"},
                    FormatCase{"multibyte_unfinished", "end %\u20ac", "A", "end %"},
                    FormatCase{"multibyte_text_kept", "\u00ab%s\u00bb \U0001F600", "A", "\u00abA\u00bb \U0001F600"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace ombrel
