#include "translations/locale_selection.h"

#include <algorithm>
#include <array>
#include <utility>

#include "common/ascii_text.h"
#include "translations/locale_tables.h"

namespace ombrel {
namespace {

// Primary language subtag to table, for tags whose region has no table of its own.
constexpr std::array<std::pair<std::string_view, std::string_view>, 23> kLanguageFallbacks = {{
    {"en", "en_US"}, {"de", "de_DE"}, {"fr", "fr_FR"}, {"it", "it_IT"},  {"nl", "nl_NL"}, {"ja", "ja_JP"},
    {"ko", "ko_KR"}, {"ru", "ru_RU"}, {"tr", "tr_TR"}, {"cs", "cs_CZ"},  {"sv", "sv_SE"}, {"pl", "pl_PL"},
    {"da", "da_DK"}, {"hu", "hu_HU"}, {"nb", "nb_NO"}, {"no", "nb_NO"},  {"nn", "nb_NO"}, {"ro", "ro_RO"},
    {"fi", "fi_FI"}, {"th", "th_TH"}, {"pt", "pt_BR"}, {"es", "es_419"}, {"zh", "zh_CN"},
}};

constexpr std::string_view kDefaultLocale = "en_US";

bool contains(std::string_view text, std::string_view part) { return text.find(part) != std::string_view::npos; }

std::string_view exact_match(std::string_view tag) {
  std::string code(tag);
  std::replace(code.begin(), code.end(), '-', '_');
  for (const LocaleTable& row : locale_tables()) {
    if (row.code == code) return row.code;
  }
  return {};
}

// Chinese is told apart by script or region: Simplified markers are tested first, so a
// contradictory tag such as zh-Hant-CN lands on Simplified.
std::string_view chinese_match(std::string_view tag) {
  const std::string lower = ascii_lowercase(tag);
  if (!lower.starts_with("zh")) return {};
  for (std::string_view marker : {"hans", "-cn", "-sg"}) {
    if (contains(lower, marker)) return "zh_CN";
  }
  for (std::string_view marker : {"hant", "-tw", "-hk", "-mo"}) {
    if (contains(lower, marker)) return "zh_TW";
  }
  return {};
}

std::string_view language_match(std::string_view tag) {
  const std::string language = ascii_lowercase(tag.substr(0, tag.find('-')));
  for (const auto& [subtag, code] : kLanguageFallbacks) {
    if (subtag == language) return code;
  }
  return {};
}

}  // namespace

std::string_view select_locale(std::span<const std::string> tags) {
  // Each pass looks at the whole list before the next, looser pass starts.
  for (auto pass : {exact_match, chinese_match, language_match}) {
    for (const std::string& tag : tags) {
      if (std::string_view code = pass(tag); !code.empty()) return code;
    }
  }
  return kDefaultLocale;
}

}  // namespace ombrel
