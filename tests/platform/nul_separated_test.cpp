#include "platform/nul_separated.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace ombrel::platform {
namespace {

struct WalkCase {
  const char* name;
  std::u16string buffer;
  std::vector<std::u16string> runs;
};

void PrintTo(const WalkCase& c, std::ostream* os) { *os << c.name; }

class SplitNulSeparated : public testing::TestWithParam<WalkCase> {};

TEST_P(SplitNulSeparated, Walks) {
  const WalkCase& c = GetParam();
  std::vector<std::u16string> got;
  for (std::u16string_view run : split_nul_separated(std::u16string_view(c.buffer))) got.emplace_back(run);
  EXPECT_EQ(got, c.runs);
}

using namespace std::string_literals;

INSTANTIATE_TEST_SUITE_P(Buffers, SplitNulSeparated,
                         testing::Values(WalkCase{"two_tags", u"en-US\0fr-FR\0\0"s, {u"en-US", u"fr-FR"}},
                                         WalkCase{"one_tag", u"de-DE\0\0"s, {u"de-DE"}},
                                         WalkCase{"single_terminator", u"ja-JP\0"s, {u"ja-JP"}},
                                         WalkCase{"leading_nul", u"\0en-US\0\0"s, {u"en-US"}},
                                         WalkCase{"leading_double_nul_stops", u"\0\0en-US\0\0"s, {}},
                                         WalkCase{"stops_at_empty_run", u"en-US\0\0fr-FR\0\0"s, {u"en-US"}},
                                         WalkCase{"open_run_dropped", u"en-US\0fr-F"s, {u"en-US"}},
                                         WalkCase{"only_open_run", u"en-US"s, {}},
                                         WalkCase{"zero_filled_tail", u"ko-KR\0\0\0\0"s, {u"ko-KR"}},
                                         WalkCase{"empty", u""s, {}}, WalkCase{"nul_only", u"\0"s, {}},
                                         WalkCase{"surrogates_kept", u"x-\xD83D\xDE00\0\0"s, {u"x-\xD83D\xDE00"}}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SplitNulSeparated, WorksOnWideCharacters) {
  const std::wstring buffer(L"nb-NO\0sv-SE\0\0", 13);
  const auto runs = split_nul_separated(std::wstring_view(buffer));
  ASSERT_EQ(runs.size(), 2u);
  EXPECT_EQ(runs[0], L"nb-NO");
  EXPECT_EQ(runs[1], L"sv-SE");
}

}  // namespace
}  // namespace ombrel::platform
