// How the download reads the length and range of an answer: a wrong value here either hides
// progress or lets a mismatched range into the installer file.
#include "pipeline/http_headers.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

namespace ombrel {
namespace {

constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();

TEST(ContentLength, ParsesOnlyPlainUnsignedDecimals) {
  struct Case {
    std::optional<std::string_view> header;
    std::uint64_t expected = 0;
  };
  const Case cases[] = {
      {std::nullopt, 0},
      {"", 0},
      {"0", 0},
      {"1500", 1500},
      {"+500", 500},
      {"007", 7},
      {"18446744073709551615", kMax},
      {"18446744073709551616", 0},  // overflow
      {"99999999999999999999999", 0},
      {"+", 0},
      {"++5", 0},
      {"-5", 0},
      {" 5", 0},
      {"5 ", 0},
      {"5,5", 0},
      {"0x10", 0},
      {"1e3", 0},
      {"\xD9\xA5", 0},  // an Arabic-Indic digit is not a digit here
  };
  for (const Case& c : cases) {
    EXPECT_EQ(parse_content_length(c.header), c.expected) << (c.header ? *c.header : "(missing)");
  }
}

TEST(ContentRange, AcceptsOnlyAWellFormedByteRange) {
  struct Case {
    std::string_view header;
    std::optional<ContentRange> expected;
  };
  const Case cases[] = {
      {"bytes 1000-1499/1500", ContentRange{1000, 1499, 1500}},
      {"bytes 0-0/1", ContentRange{0, 0, 1}},
      {"bytes 1000-1499/*", ContentRange{1000, 1499, std::nullopt}},
      {"bytes 1000-1499/1499", std::nullopt},  // last byte beyond the complete length
      {"bytes 1500-1499/2000", std::nullopt},
      {"bytes */1500", std::nullopt},  // the form of a 416 answer
      {"bytes 1000-/1500", std::nullopt},
      {"bytes -1499/1500", std::nullopt},
      {"bytes 1000-1499", std::nullopt},
      {"items 1000-1499/1500", std::nullopt},
      {"bytes=1000-1499/1500", std::nullopt},
      {"bytes +1000-1499/1500", std::nullopt},
      {"", std::nullopt},
  };
  for (const Case& c : cases) {
    const std::optional<ContentRange> got = parse_content_range(c.header);
    ASSERT_EQ(got.has_value(), c.expected.has_value()) << c.header;
    if (got) {
      EXPECT_EQ(got->first, c.expected->first) << c.header;
      EXPECT_EQ(got->last, c.expected->last) << c.header;
      EXPECT_EQ(got->complete, c.expected->complete) << c.header;
    }
  }
}

}  // namespace
}  // namespace ombrel
