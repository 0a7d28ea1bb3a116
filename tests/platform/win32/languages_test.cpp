#include "platform/languages.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace ombrel::platform {
namespace {

// Wine derives the UI language from the Unix locale it was started with (LC_ALL first).
TEST(PreferredUiLanguagesWindows, ReportsTheUserLanguage) {
  const std::vector<std::string> tags = preferred_ui_languages();
  ASSERT_FALSE(tags.empty());
  for (const std::string& tag : tags) {
    EXPECT_FALSE(tag.empty());
    EXPECT_EQ(tag.find('\0'), std::string::npos) << tag;
  }

  const char* lc_all = std::getenv("LC_ALL");
  const std::string locale = lc_all != nullptr ? lc_all : "";
  if (locale.size() >= 5 && locale[2] == '_') {
    // "fr_FR.UTF-8" -> "fr-FR" comes first.
    EXPECT_EQ(tags.front(), locale.substr(0, 2) + "-" + locale.substr(3, 2));
  }
}

}  // namespace
}  // namespace ombrel::platform
