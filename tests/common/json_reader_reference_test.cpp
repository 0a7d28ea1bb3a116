// The reader against the reference cases recorded from the reference JSON reader: every
// manifest body and every translation-table text must give the same values, or the same error
// description, line and column.
#include <gtest/gtest.h>

#include <map>

#include "common/json_reader.h"
#include "common/utf8.h"
#include "pipeline/manifest.h"
#include "tests/support/json_lines.h"
#include "tests/support/test_data.h"

namespace ombrel {
namespace {

using test::CaseValue;

std::optional<std::string> optional_text(const CaseValue* value) {
  if (value == nullptr || value->is_null()) return std::nullopt;
  return value->text;
}

// One accepted error answer: the full "<description> at line L column C" text.
std::string error_text(const CaseValue& expect) { return expect.string_at("message"); }

// Whether two float texts in "floating point `...`" name the same double, for the cases whose
// expected text came from the reference reader's own (not correctly rounded) conversion.
bool same_apart_from_float_text(const std::string& got, const std::string& want) {
  const std::string marker = "floating point `";
  const std::size_t got_at = got.find(marker);
  const std::size_t want_at = want.find(marker);
  if (got_at == std::string::npos || got_at != want_at) return false;
  const std::size_t got_end = got.find('`', got_at + marker.size());
  const std::size_t want_end = want.find('`', want_at + marker.size());
  return got.substr(0, got_at) == want.substr(0, want_at) && got.substr(got_end) == want.substr(want_end);
}

TEST(ManifestReferenceCases, MatchTheReferenceReader) {
  const auto cases = test::read_case_lines(test::test_data_dir() / "manifest-public.jsonl");
  ASSERT_GE(cases.size(), 285u) << "reference cases missing";

  for (const CaseValue& row : cases) {
    const std::string id = row.string_at("id");
    const CaseValue* expect = row.find("expect");
    ASSERT_NE(expect, nullptr) << id;
    // The body goes through the same lossy decoding as a body off the network.
    const std::string text = utf8_lossy(test::base64_decode(row.string_at("body_b64")));
    const auto parsed = parse_manifest(text);

    if (expect->find("ok")->boolean) {
      ASSERT_TRUE(parsed.has_value()) << id << ": " << parsed.error().to_string();
      EXPECT_EQ(parsed->latest_install_file, optional_text(expect->find("latest"))) << id;
      EXPECT_EQ(parsed->rollout_install_file, optional_text(expect->find("rollout"))) << id;
      EXPECT_EQ(parsed->base_install_file, optional_text(expect->find("base"))) << id;
      continue;
    }

    ASSERT_FALSE(parsed.has_value()) << id << " was accepted";
    const std::string got = parsed.error().to_string();
    std::vector<std::string> accepted = {error_text(*expect)};
    if (const CaseValue* variants = row.find("expect_variants")) {
      for (const auto& [version, variant] : variants->members) accepted.push_back(error_text(variant));
    }
    bool matched = std::find(accepted.begin(), accepted.end(), got) != accepted.end();
    const CaseValue* soft = row.find("soft");
    if (!matched && soft != nullptr && soft->boolean) {
      // Long decimals: a correctly rounded value's text is as good as the reference's.
      matched = same_apart_from_float_text(got, accepted.front());
    }
    EXPECT_TRUE(matched) << id << "\n  got:  " << got << "\n  want: " << accepted.front();
    EXPECT_EQ(parsed.error().description + " at line " + std::to_string(parsed.error().line) + " column " +
                  std::to_string(parsed.error().column),
              got);
  }
}

TEST(StringObjectReferenceCases, MatchTheReferenceReader) {
  const auto cases = test::read_case_lines(test::test_data_dir() / "tables.jsonl");
  ASSERT_GE(cases.size(), 40u) << "reference cases missing";

  for (const CaseValue& row : cases) {
    const std::string id = row.string_at("id");
    const CaseValue* expect = row.find("expect");
    ASSERT_NE(expect, nullptr) << id;
    const auto result = json::read_string_object(test::base64_decode(row.string_at("text_b64")));
    const auto plain = json::parse_string_object(test::base64_decode(row.string_at("text_b64")));
    EXPECT_EQ(result.has_value(), plain.has_value()) << id;

    if (expect->find("ok")->boolean) {
      ASSERT_TRUE(result.has_value()) << id << ": " << result.error().to_string();
      std::map<std::string, std::string> got;
      for (const auto& [key, value] : *result) got[key] = value;  // later duplicates win
      std::map<std::string, std::string> want;
      for (const auto& [key, value] : expect->find("map")->members) want[key] = value.text;
      EXPECT_EQ(got, want) << id;
    } else {
      ASSERT_FALSE(result.has_value()) << id << " was accepted";
      EXPECT_EQ(result.error().to_string(), error_text(*expect)) << id;
    }
  }
}

}  // namespace
}  // namespace ombrel
