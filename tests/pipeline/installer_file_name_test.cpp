// The installer file name against every reference case: a different name on any machine would
// orphan partial downloads of earlier runs and make the installer's file name unpredictable.
#include <gtest/gtest.h>

#include "pipeline/installer_file.h"
#include "tests/support/json_lines.h"
#include "tests/support/test_data.h"

namespace ombrel {
namespace {

TEST(InstallerFileName, MatchesEveryReferenceCase) {
  const auto cases = test::read_case_lines(test::test_data_dir() / "siphash.jsonl");
  ASSERT_GE(cases.size(), 50u);
  for (const test::CaseValue& c : cases) {
    const std::string url = c.string_at("url");
    const std::string name = installer_file_name(url);
    EXPECT_EQ(name, c.string_at("name")) << "url: " << url;
    EXPECT_EQ(name.substr(15, 16), c.string_at("hash")) << "url: " << url;
  }
}

}  // namespace
}  // namespace ombrel
