// The sidecar text: what we write reads back the same, and what a crash, an editor or another
// tool may leave behind reads by the line rules or counts as unreadable.
#include "pipeline/sidecar.h"

#include <gtest/gtest.h>

namespace ombrel {
namespace {

TEST(SidecarPath, ReplacesTheInstallerExtension) {
  EXPECT_EQ(sidecar_path("/tmp/OmbrelLoomwork_ef09e0f4895a251d.exe"), "/tmp/OmbrelLoomwork_ef09e0f4895a251d.meta");
  EXPECT_EQ(sidecar_path("C:\\Users\\a.exe\\Temp\\OmbrelLoomwork_0000000000000000.exe"),
            "C:\\Users\\a.exe\\Temp\\OmbrelLoomwork_0000000000000000.meta");
  EXPECT_EQ(sidecar_path("/tmp/download"), "/tmp/download.meta");
}

TEST(SidecarFormat, TwoLinesWithoutFinalLineFeed) {
  EXPECT_EQ(format_sidecar({"\"6b175d0c-40000000\"", "Tue, 08 Dec 2026 01:27:40 GMT"}),
            "\"6b175d0c-40000000\"\nTue, 08 Dec 2026 01:27:40 GMT");
  EXPECT_EQ(format_sidecar({"W/\"x\"", ""}), "W/\"x\"\n");
  EXPECT_EQ(format_sidecar({"", "Tue, 08 Dec 2026 01:27:40 GMT"}), "\nTue, 08 Dec 2026 01:27:40 GMT");
  EXPECT_EQ(format_sidecar({"", ""}), "\n");
}

TEST(SidecarFormat, ReadsBackWhatItWrote) {
  for (const Validators& v : {Validators{"\"a\"", "date"}, Validators{"", "date"}, Validators{"W/\"\xC3\xA9\"", ""},
                              Validators{"", ""}}) {
    EXPECT_EQ(parse_sidecar(format_sidecar(v)), v) << v.etag << " / " << v.last_modified;
  }
}

struct ParseCase {
  const char* name;
  std::string text;
  std::optional<Validators> expected;
  friend void PrintTo(const ParseCase& c, std::ostream* out) { *out << c.name; }
};

class SidecarParse : public ::testing::TestWithParam<ParseCase> {};

TEST_P(SidecarParse, FollowsTheLineRules) {
  EXPECT_EQ(parse_sidecar(GetParam().text), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, SidecarParse,
    ::testing::Values(
        ParseCase{"both", "\"e\"\nTue, 08 Dec 2026 01:27:40 GMT", Validators{"\"e\"", "Tue, 08 Dec 2026 01:27:40 GMT"}},
        ParseCase{"crlf", "\"e\"\r\nd", Validators{"\"e\"", "d"}},
        ParseCase{"final_lf", "\"e\"\nd\n", Validators{"\"e\"", "d"}},
        ParseCase{"final_crlf", "\"e\"\r\nd\r\n", Validators{"\"e\"", "d"}},
        ParseCase{"only_etag", "\"e\"", Validators{"\"e\"", ""}},
        ParseCase{"empty_file", "", Validators{"", ""}},
        ParseCase{"two_empty_lines", "\n", Validators{"", ""}},
        ParseCase{"further_lines_ignored", "a\nb\nc\nd", Validators{"a", "b"}},
        ParseCase{"utf8_kept", "\"\xE2\x82\xAC\"\nd", Validators{"\"\xE2\x82\xAC\"", "d"}},
        ParseCase{"spaces_kept", " a \n b ", Validators{" a ", " b "}},
        ParseCase{"invalid_utf8", "\"\xFF\"\nd", std::nullopt},
        ParseCase{"invalid_utf8_in_ignored_line", "a\nb\n\xC0\xAF", std::nullopt},
        ParseCase{"truncated_sequence", "a\nb\xE2\x82", std::nullopt},
        ParseCase{"surrogate", "\xED\xA0\x80\nd", std::nullopt},
        // Not dropped by the line rules, and unusable in a request header.
        ParseCase{"lone_cr_at_end", "a\nb\r", std::nullopt},
        ParseCase{"cr_inside", "a\rb\nd", std::nullopt},
        ParseCase{"nul", std::string("a\0b\nd", 5), std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace ombrel
