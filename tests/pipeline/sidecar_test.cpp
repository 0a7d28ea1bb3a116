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
  for (const Validators& v :
       {Validators{"\"a\"", "date"}, Validators{"", "date"}, Validators{"W/\"\xC3\xA9\"", ""}, Validators{"", ""}}) {
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

TEST_P(SidecarParse, FollowsTheLineRules) { EXPECT_EQ(parse_sidecar(GetParam().text), GetParam().expected); }

INSTANTIATE_TEST_SUITE_P(Table, SidecarParse,
                         ::testing::Values(ParseCase{"both", "\"e\"\nTue, 08 Dec 2026 01:27:40 GMT",
                                                     Validators{"\"e\"", "Tue, 08 Dec 2026 01:27:40 GMT"}},
                                           ParseCase{"crlf", "\"e\"\r\nd", Validators{"\"e\"", "d"}},
                                           ParseCase{"final_lf", "\"e\"\nd\n", Validators{"\"e\"", "d"}},
                                           ParseCase{"final_crlf", "\"e\"\r\nd\r\n", Validators{"\"e\"", "d"}},
                                           ParseCase{"only_etag", "\"e\"", Validators{"\"e\"", ""}},
                                           ParseCase{"empty_file", "", Validators{"", ""}},
                                           ParseCase{"two_empty_lines", "\n", Validators{"", ""}},
                                           ParseCase{"further_lines_ignored", "a\nb\nc\nd", Validators{"a", "b"}},
                                           ParseCase{"utf8_kept", "\"\xE2\x82\xAC\"\nd",
                                                     Validators{"\"\xE2\x82\xAC\"", "d"}},
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

constexpr std::string_view kOldDate = "Mon, 01 Jan 2024 00:00:00 GMT";
constexpr std::string_view kNewDate = "Tue, 08 Dec 2026 01:27:40 GMT";

struct NextValidatorsCase {
  const char* name;
  bool partial;  // a 206 answer
  std::optional<std::string_view> etag;
  std::optional<std::string_view> last_modified;
  Validators expected;
  friend void PrintTo(const NextValidatorsCase& c, std::ostream* out) { *out << c.name; }
};

class NextValidators : public ::testing::TestWithParam<NextValidatorsCase> {};

// What the sidecar holds after an answer, starting from an older version's validators: a whole
// answer never lets one of them through, a range answer keeps what it does not restate.
TEST_P(NextValidators, WholeAnswersReplaceBothRangeAnswersKeepWhatTheyOmit) {
  const NextValidatorsCase& c = GetParam();
  const Validators stored{"\"old\"", std::string(kOldDate)};
  EXPECT_EQ(next_validators(stored, c.partial, c.etag, c.last_modified), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, NextValidators,
    ::testing::Values(
        NextValidatorsCase{"whole_both", false, "\"new\"", kNewDate, {"\"new\"", std::string(kNewDate)}},
        NextValidatorsCase{"whole_weak_etag_only", false, "W/\"new\"", std::nullopt, {"W/\"new\"", ""}},
        NextValidatorsCase{"whole_date_only", false, std::nullopt, kNewDate, {"", std::string(kNewDate)}},
        NextValidatorsCase{"whole_none", false, std::nullopt, std::nullopt, {"", ""}},
        NextValidatorsCase{"whole_empty_headers", false, "", "", {"", ""}},
        NextValidatorsCase{"whole_unsafe_etag", false, "\"a\"\r\nX-Injected: 1", kNewDate, {"", std::string(kNewDate)}},
        NextValidatorsCase{"range_none", true, std::nullopt, std::nullopt, {"\"old\"", std::string(kOldDate)}},
        NextValidatorsCase{"range_empty_headers", true, "", "", {"\"old\"", std::string(kOldDate)}},
        NextValidatorsCase{"range_new_date", true, std::nullopt, kNewDate, {"\"old\"", std::string(kNewDate)}},
        NextValidatorsCase{"range_unsafe_etag", true, "\"x\x01\"", std::nullopt, {"\"old\"", std::string(kOldDate)}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(IfRange, StrongEtagFirstThenDateNeverAWeakEtag) {
  struct Case {
    Validators stored;
    std::optional<std::string> expected;
  };
  const Case cases[] = {
      {{"\"a\"", "d"}, "\"a\""},       {{"\"a\"", ""}, "\"a\""}, {{"W/\"a\"", "d"}, "d"},
      {{"W/\"a\"", ""}, std::nullopt}, {{"", "d"}, "d"},         {{"", ""}, std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(if_range_value(c.stored), c.expected) << c.stored.etag << " / " << c.stored.last_modified;
  }
}

// A 206 that names another version than the one If-Range asked for (a server that ignores
// If-Range) must not be appended.
TEST(IfRange, RangeAnswerContradictsOnlyThroughTheValidatorThatWasSent) {
  struct Case {
    const char* name = nullptr;
    Validators stored;
    std::optional<std::string_view> etag;
    std::optional<std::string_view> last_modified;
    bool contradicts = false;
  };
  const Case cases[] = {
      {"same_etag", {"\"a\"", "d1"}, "\"a\"", "d1", false},
      {"other_etag", {"\"a\"", "d1"}, "\"b\"", "d1", true},
      {"weakened_etag", {"\"a\"", "d1"}, "W/\"a\"", "d1", true},
      {"etag_omitted", {"\"a\"", "d1"}, std::nullopt, "d2", false},  // the date was not sent
      {"etag_empty", {"\"a\"", ""}, "", std::nullopt, false},
      {"date_sent_same", {"W/\"a\"", "d1"}, "\"b\"", "d1", false},
      {"date_sent_other", {"W/\"a\"", "d1"}, "W/\"a\"", "d2", true},
      {"date_only_other", {"", "d1"}, std::nullopt, "d2", true},
      {"date_omitted", {"", "d1"}, "\"b\"", std::nullopt, false},
      {"nothing_sent", {"W/\"a\"", ""}, "\"b\"", "d2", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(contradicts_if_range(c.stored, c.etag, c.last_modified), c.contradicts) << c.name;
  }
}

}  // namespace
}  // namespace ombrel
