#include "translations/locale_selection.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "translations/locale_tables.h"

namespace ombrel {
namespace {

struct SelectionCase {
  const char* name;
  std::vector<std::string> tags;
  std::string_view locale;
};

void PrintTo(const SelectionCase& c, std::ostream* os) { *os << c.name; }

class SelectLocale : public testing::TestWithParam<SelectionCase> {};

TEST_P(SelectLocale, Chooses) { EXPECT_EQ(select_locale(GetParam().tags), GetParam().locale); }

// Windows tags that name a table exactly; the case of the letters must match.
INSTANTIATE_TEST_SUITE_P(
    ExactPass, SelectLocale,
    testing::Values(SelectionCase{"en_US", {"en-US"}, "en_US"}, SelectionCase{"zh_TW", {"zh-TW"}, "zh_TW"},
                    SelectionCase{"es_419", {"es-419"}, "es_419"}, SelectionCase{"pt_BR", {"pt-BR"}, "pt_BR"},
                    SelectionCase{"nb_NO", {"nb-NO"}, "nb_NO"}, SelectionCase{"underscore_form", {"th_TH"}, "th_TH"},
                    // An exact match anywhere in the list beats a language match earlier in it.
                    SelectionCase{"exact_later_beats_language_first", {"fr-CA", "en-US"}, "en_US"},
                    SelectionCase{"exact_later_beats_chinese_first", {"zh-Hant-TW", "en-US"}, "en_US"},
                    SelectionCase{"first_exact_wins", {"de-DE", "ja-JP"}, "de_DE"},
                    SelectionCase{"case_differs_falls_to_language", {"EN-us"}, "en_US"},
                    SelectionCase{"lower_region_falls_to_language", {"de-de"}, "de_DE"}),
    [](const auto& info) { return std::string(info.param.name); });

// Chinese by script or region; the Simplified markers are tested first.
INSTANTIATE_TEST_SUITE_P(
    ChinesePass, SelectLocale,
    testing::Values(SelectionCase{"hans_cn", {"zh-Hans-CN"}, "zh_CN"}, SelectionCase{"sg", {"zh-SG"}, "zh_CN"},
                    SelectionCase{"hans_hk", {"zh-Hans-HK"}, "zh_CN"},
                    SelectionCase{"hant_tw", {"zh-Hant-TW"}, "zh_TW"}, SelectionCase{"hk", {"zh-HK"}, "zh_TW"},
                    SelectionCase{"mo", {"zh-MO"}, "zh_TW"},
                    SelectionCase{"hant_cn_simplified_wins", {"zh-Hant-CN"}, "zh_CN"},
                    SelectionCase{"upper_case_markers", {"ZH-HANT"}, "zh_TW"},
                    SelectionCase{"bare_zh_by_language", {"zh"}, "zh_CN"},
                    SelectionCase{"unknown_region_by_language", {"zh-US"}, "zh_CN"},
                    // Only the first two letters are tested: another language whose code starts with zh.
                    SelectionCase{"zha_cn", {"zha-CN"}, "zh_CN"}, SelectionCase{"zha_hk", {"zha-HK"}, "zh_TW"},
                    // The Chinese pass runs over the whole list before any language match.
                    SelectionCase{"chinese_later_beats_language_first", {"fr-CA", "zh-HK"}, "zh_TW"}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    LanguagePass, SelectLocale,
    testing::Values(SelectionCase{"fr_CA", {"fr-CA"}, "fr_FR"}, SelectionCase{"pt_PT", {"pt-PT"}, "pt_BR"},
                    SelectionCase{"es_ES", {"es-ES"}, "es_419"}, SelectionCase{"en_GB", {"en-GB"}, "en_US"},
                    SelectionCase{"nn_NO", {"nn-NO"}, "nb_NO"}, SelectionCase{"no", {"no"}, "nb_NO"},
                    SelectionCase{"bare_language", {"ko"}, "ko_KR"},
                    SelectionCase{"script_subtag", {"sr-Latn-RS", "ru-UA"}, "ru_RU"},
                    SelectionCase{"upper_case", {"IT-CH"}, "it_IT"},
                    SelectionCase{"first_language_hit_wins", {"sv-FI", "fi-FI-x"}, "sv_SE"},
                    SelectionCase{"whole_subtag_not_prefix", {"deu-DE", "fra"}, "en_US"}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(NoMatch, SelectLocale,
                         testing::Values(SelectionCase{"empty_list", {}, "en_US"},
                                         SelectionCase{"serbian", {"sr-Latn-RS"}, "en_US"},
                                         SelectionCase{"empty_tag", {""}, "en_US"},
                                         SelectionCase{"separator_only", {"-"}, "en_US"},
                                         SelectionCase{"zh_prefix_without_marker", {"zhx"}, "en_US"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SelectLocale, EveryCodeIsALocaleTable) {
  for (const char* tag : {"nb", "fr-CH", "zh-Hant", "th", "xx"}) {
    const std::string_view code = select_locale(std::vector<std::string>{tag});
    bool found = false;
    for (const LocaleTable& row : locale_tables()) found = found || row.code == code;
    EXPECT_TRUE(found) << tag << " -> " << code;
  }
}

}  // namespace
}  // namespace ombrel
