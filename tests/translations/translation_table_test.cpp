#include "translations/translation_table.h"

#include <gtest/gtest.h>

#include <map>

#include "tests/support/json_lines.h"
#include "tests/support/test_data.h"
#include "translations/locale_tables.h"
#include "translations/message_keys.h"

namespace ombrel {
namespace {

using test::CaseValue;

// Every reference table text must give the reference reader's map, or an empty table where
// that reader failed.
TEST(TranslationTableReferenceCases, MatchTheReferenceReader) {
  const auto cases = test::read_case_lines(test::test_data_dir() / "tables.jsonl");
  ASSERT_GE(cases.size(), 40u) << "reference cases missing";

  int failures_expected = 0;
  for (const CaseValue& row : cases) {
    const std::string id = row.string_at("id");
    const CaseValue* expect = row.find("expect");
    ASSERT_NE(expect, nullptr) << id;
    const CaseValue* ok = expect->find("ok");
    ASSERT_NE(ok, nullptr) << id;

    const TranslationTable table = parse_translation_table(test::base64_decode(row.string_at("text_b64")));
    const std::map<std::string, std::string> got(table.begin(), table.end());
    std::map<std::string, std::string> want;
    if (ok->boolean) {
      const CaseValue* map = expect->find("map");
      ASSERT_NE(map, nullptr) << id;
      for (const auto& [key, value] : map->members) want[key] = value.text;
    } else {
      ++failures_expected;
    }
    EXPECT_EQ(got, want) << id << ": " << row.string_at("note");
  }
  EXPECT_GT(failures_expected, 0);
}

TEST(LoadTable, EveryLocaleRowGivesAllKeys) {
  for (const LocaleTable& row : locale_tables()) {
    const TranslationTable table = load_table(row.code);
    EXPECT_EQ(table.size(), kAllMessageKeys.size()) << row.code;
    for (MessageKey key : kAllMessageKeys) EXPECT_TRUE(table.contains(key)) << row.code << " " << key;
  }
}

TEST(LoadTable, CodesMatchExactly) {
  for (std::string_view code : {"", "en-US", "en_us", "EN_US", "en_US ", "en", "xx_XX"}) {
    EXPECT_TRUE(load_table(code).empty()) << '"' << code << '"';
  }
  EXPECT_EQ(load_table("pt_BR").at("BUTTON_RETRY"), "Tentar novamente");
}

TEST(ParseTranslationTable, LaterDuplicateWinsAndStrayTextEmptiesTheTable) {
  const TranslationTable table = parse_translation_table("{\"A\": \"1\", \"B\": \"2\", \"A\": \"3\"}\r\n");
  EXPECT_EQ(table.size(), 2u);
  EXPECT_EQ(table.at("A"), "3");
  EXPECT_TRUE(parse_translation_table("{\"A\": \"1\"}\r\n}").empty());
  EXPECT_TRUE(parse_translation_table("{\"A\": \"1\", \"B\": [\"2\"]}").empty());
}

}  // namespace
}  // namespace ombrel
