// Reader rules beyond the recorded reference cases: number forms, escapes and surrogates,
// skipped values, positions, and the two target shapes. Expected texts are the reader's fixed messages.
#include "common/json_reader.h"

#include <gtest/gtest.h>

#include <array>
#include <string>

namespace ombrel::json {
namespace {

constexpr std::array<std::string_view, 3> kFields = {"first", "second", "third"};

// "ok" or the full error text for reading `text` as a record named R with kFields.
std::string record_outcome(std::string_view text) {
  const auto result = read_optional_string_record(text, "R", kFields);
  if (!result) return result.error().to_string();
  std::string out = "ok";
  for (const auto& value : *result) out += value ? " '" + *value + "'" : " null";
  return out;
}

struct Case {
  const char* text;
  const char* outcome;
};

class RecordCases : public ::testing::TestWithParam<Case> {};

TEST_P(RecordCases, GiveTheReferenceReadersAnswer) {
  EXPECT_EQ(record_outcome(GetParam().text), GetParam().outcome) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    Numbers, RecordCases,
    ::testing::Values(
        Case{R"({"first":-0})", "invalid type: floating point `-0.0`, expected a string at line 1 column 11"},
        Case{R"({"first":18446744073709551615})",
             "invalid type: integer `18446744073709551615`, expected a string at line 1 column 29"},
        Case{R"({"first":-9223372036854775809})",
             "invalid type: floating point `-9.223372036854776e+18`, expected a string at line 1 column 29"},
        Case{R"({"first":1e16})", "invalid type: floating point `1e+16`, expected a string at line 1 column 13"},
        Case{R"({"first":1e-5})", "invalid type: floating point `0.00001`, expected a string at line 1 column 13"},
        Case{R"({"first":123.456e1})", "invalid type: floating point `1234.56`, expected a string at line 1 column 18"},
        Case{R"({"first":1E+2})", "invalid type: floating point `100.0`, expected a string at line 1 column 13"},
        Case{R"({"first":0e99999999999})", "invalid type: floating point `0.0`, expected a string at line 1 column 22"},
        Case{R"({"first":1e-99999999999})",
             "invalid type: floating point `0.0`, expected a string at line 1 column 23"},
        Case{R"({"first":1e99999999999})", "number out of range at line 1 column 21"},
        Case{R"({"first":1.7976931348623157e308})",
             "invalid type: floating point `1.7976931348623157e+308`, expected a string at line 1 column 31"},
        Case{R"({"first":1.8e308})", "number out of range at line 1 column 16"},
        Case{R"({"first":-})", "invalid number at line 1 column 11"},
        Case{R"({"first":-)", "EOF while parsing a value at line 1 column 10"},
        Case{R"({"first":1.)", "EOF while parsing a value at line 1 column 11"},
        Case{R"({"first":1e+)", "EOF while parsing a value at line 1 column 12"},
        Case{R"({"first":1e+x})", "invalid number at line 1 column 13"},
        Case{R"({"x":-})", "invalid number at line 1 column 7"},
        Case{R"({"x":1e+})", "invalid number at line 1 column 9"},
        Case{R"({"x":-1.5e-3,"first":"a"})", "ok 'a' null null"}));

INSTANTIATE_TEST_SUITE_P(
    Strings, RecordCases,
    ::testing::Values(Case{R"({"first":"\udc00"})", "lone leading surrogate in hex escape at line 1 column 16"},
                      Case{R"({"first":"\ud800\u0041"})", "lone leading surrogate in hex escape at line 1 column 22"},
                      Case{R"({"first":"\ud800\ud800"})", "lone leading surrogate in hex escape at line 1 column 22"},
                      Case{R"({"first":"\ud83d\ude00\u00e9"})", "ok '\xF0\x9F\x98\x80\xC3\xA9' null null"},
                      Case{R"({"first":"\u"})", "EOF while parsing a string at line 1 column 14"},
                      Case{R"({"first":"\uZZZZ"})", "invalid escape at line 1 column 16"},
                      Case{R"({"x":"\uZZZZ"})", "invalid escape at line 1 column 12"},
                      Case{R"({"x":"\ud800\u0041","first":"a"})", "ok 'a' null null"},
                      Case{"{\"x\":\"a\x1f\"}",
                           "control character (\\u0000-\\u001F) found while parsing a string at line 1 column 7"},
                      Case{"{\"first\":\"a\x1f\"}",
                           "control character (\\u0000-\\u001F) found while parsing a string at line 1 column 12"},
                      Case{"{\"fir\\u0073t\":\"a\"}", "ok 'a' null null"},
                      Case{"\"a\\u00a0\\u0301'\\t\x7f\xF0\x9F\x98\x80\"",
                           "invalid type: string \"a\\u{a0}\\u{301}'\\t\\u{7f}\xF0\x9F\x98\x80\", expected struct R at "
                           "line 1 column 23"},
                      Case{R"("\"\\\u0000")",
                           "invalid type: string \"\\\"\\\\\\0\", expected struct R at line 1 column 12"}));

INSTANTIATE_TEST_SUITE_P(SkippedValues, RecordCases,
                         ::testing::Values(Case{R"({"x":[1 2],"first":"a"})", "expected `,` or `]` at line 1 column 9"},
                                           Case{R"({"x":{"a" 1}})", "expected `:` at line 1 column 11"},
                                           Case{R"({"x":{"a":1)", "EOF while parsing an object at line 1 column 11"},
                                           Case{R"({"x":{"a":1]})", "expected `,` or `}` at line 1 column 12"},
                                           Case{R"({"x":[})", "expected value at line 1 column 7"},
                                           Case{R"({"x":{]})", "key must be a string at line 1 column 7"},
                                           Case{R"({"x":{"a":}})", "expected value at line 1 column 11"},
                                           Case{R"({"x":tru})", "expected ident at line 1 column 9"},
                                           Case{R"({"x":[[{}],{"b":[null,true,false,"s",-0.5e1]}],"first":"a"})",
                                                "ok 'a' null null"}));

INSTANTIATE_TEST_SUITE_P(
    Shapes, RecordCases,
    ::testing::Values(
        Case{R"({"first":"a")", "EOF while parsing an object at line 1 column 12"},
        Case{R"({"first":"a",)", "EOF while parsing a value at line 1 column 13"},
        Case{R"({"third":"c","first":null})", "ok null null 'c'"},
        Case{R"({"second":"b","second":null})", "duplicate field `second` at line 1 column 22"},
        Case{R"(["a",null])", "invalid length 2, expected struct R with 3 elements at line 1 column 10"},
        Case{R"(["a",null,"c"])", "ok 'a' null 'c'"}, Case{R"(["a" "b"])", "expected `,` or `]` at line 1 column 6"},
        Case{R"([1.5])", "invalid type: floating point `1.5`, expected a string at line 1 column 4"},
        Case{"[\"a\",", "EOF while parsing a value at line 1 column 5"},
        Case{"true", "invalid type: boolean `true`, expected struct R at line 1 column 4"},
        Case{"fals", "EOF while parsing a value at line 1 column 4"}, Case{"nulL", "expected ident at line 1 column 4"},
        Case{"\n\n  {\"first\": 7}", "invalid type: integer `7`, expected a string at line 3 column 13"}));

TEST(RecordNaming, OneFieldIsOneElement) {
  const std::array<std::string_view, 1> one = {"only"};
  const auto result = read_optional_string_record("[]", "Single", one);
  ASSERT_FALSE(result.has_value());
  EXPECT_EQ(result.error().description, "invalid length 0, expected struct Single with 1 element");
}

TEST(StringObject, KeepsDocumentOrderAndDuplicates) {
  const auto pairs = read_string_object(R"({"b":"1","a":"2","b":"3"})");
  ASSERT_TRUE(pairs.has_value());
  const StringPairs want = {{"b", "1"}, {"a", "2"}, {"b", "3"}};
  EXPECT_EQ(*pairs, want);
}

TEST(StringObject, TypeErrorBeforeLaterSyntaxError) {
  const auto pairs = read_string_object(R"({"a":1 garbage)");
  ASSERT_FALSE(pairs.has_value());
  EXPECT_EQ(pairs.error().to_string(), "invalid type: integer `1`, expected a string at line 1 column 6");
  EXPECT_FALSE(parse_string_object(R"({"a":1 garbage)").has_value());
}

TEST(StringObject, DeepValuesAreTypeErrorsNotRecursion) {
  std::string text = "{\"a\":" + std::string(100000, '[') + std::string(100000, ']') + "}";
  const auto pairs = read_string_object(text);
  ASSERT_FALSE(pairs.has_value());
  EXPECT_EQ(pairs.error().to_string(), "invalid type: sequence, expected a string at line 1 column 5");
}

TEST(SkippedValue, HugeNestingNeedsNoStack) {
  const std::string text = "{\"x\":" + std::string(1'000'000, '[') + std::string(1'000'000, ']') + ",\"first\":\"a\"}";
  EXPECT_EQ(record_outcome(text), "ok 'a' null null");
}

}  // namespace
}  // namespace ombrel::json
