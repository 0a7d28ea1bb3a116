#include "platform/languages.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace ombrel::platform {
namespace {

const char* const kVariables[] = {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"};

// Sets the four locale variables for one case and puts the old values back afterwards.
class LocaleEnvironment {
 public:
  explicit LocaleEnvironment(const std::map<std::string, std::string>& values) {
    for (const char* name : kVariables) {
      const char* old = getenv(name);
      saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
      const auto it = values.find(name);
      if (it != values.end())
        setenv(name, it->second.c_str(), 1);
      else
        unsetenv(name);
    }
  }
  ~LocaleEnvironment() {
    for (const auto& [name, value] : saved_) {
      if (value)
        setenv(name.c_str(), value->c_str(), 1);
      else
        unsetenv(name.c_str());
    }
  }

 private:
  std::map<std::string, std::optional<std::string>> saved_;
};

struct EnvironmentCase {
  const char* name;
  std::map<std::string, std::string> variables;
  std::vector<std::string> tags;
};

void PrintTo(const EnvironmentCase& c, std::ostream* os) { *os << c.name; }

class PreferredUiLanguages : public testing::TestWithParam<EnvironmentCase> {};

TEST_P(PreferredUiLanguages, FromEnvironment) {
  LocaleEnvironment environment(GetParam().variables);
  EXPECT_EQ(preferred_ui_languages(), GetParam().tags);
}

INSTANTIATE_TEST_SUITE_P(
    Variables, PreferredUiLanguages,
    testing::Values(
        EnvironmentCase{"nothing_set", {}, {}}, EnvironmentCase{"lang", {{"LANG", "de_DE.UTF-8"}}, {"de-DE"}},
        EnvironmentCase{"codeset_and_modifier", {{"LANG", "fr_CA.UTF-8@euro"}}, {"fr-CA"}},
        EnvironmentCase{"modifier_only", {{"LANG", "ca_ES@valencia"}}, {"ca-ES"}},
        EnvironmentCase{"language_only", {{"LANG", "ja"}}, {"ja"}},
        EnvironmentCase{
            "lc_all_over_others", {{"LC_ALL", "pt_BR.UTF-8"}, {"LC_MESSAGES", "it_IT"}, {"LANG", "es_ES"}}, {"pt-BR"}},
        EnvironmentCase{"lc_messages_over_lang", {{"LC_MESSAGES", "it_IT"}, {"LANG", "es_ES"}}, {"it-IT"}},
        EnvironmentCase{"empty_value_skipped", {{"LC_ALL", ""}, {"LANG", "sv_SE.UTF-8"}}, {"sv-SE"}},
        EnvironmentCase{"c_locale", {{"LANG", "C"}}, {}}, EnvironmentCase{"c_utf8", {{"LANG", "C.UTF-8"}}, {}},
        EnvironmentCase{"posix_locale", {{"LC_ALL", "POSIX"}}, {}},
        // LC_ALL=C governs messages even with a language in LANG.
        EnvironmentCase{"c_overrides_lang", {{"LC_ALL", "C"}, {"LANG", "fr_FR.UTF-8"}}, {}},
        EnvironmentCase{
            "language_list", {{"LANGUAGE", "nb_NO:nn:en_GB"}, {"LANG", "de_DE.UTF-8"}}, {"nb-NO", "nn", "en-GB"}},
        EnvironmentCase{"language_list_skips_empty_and_c", {{"LANGUAGE", ":fr_FR.UTF-8::C:de"}}, {"fr-FR", "de"}},
        EnvironmentCase{"empty_language_list_falls_back", {{"LANGUAGE", ""}, {"LANG", "ko_KR.UTF-8"}}, {"ko-KR"}},
        EnvironmentCase{
            "useless_language_list_falls_back", {{"LANGUAGE", "C:POSIX"}, {"LANG", "ko_KR.UTF-8"}}, {"ko-KR"}},
        EnvironmentCase{"script_kept", {{"LANGUAGE", "zh_Hant_TW:sr@latin"}}, {"zh-Hant-TW", "sr"}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace ombrel::platform
