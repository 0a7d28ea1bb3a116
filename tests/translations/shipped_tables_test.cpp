// Checks every compiled-in table for the stored form and for what translations must keep.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "tests/support/test_data.h"
#include "translations/locale_tables.h"
#include "translations/message_keys.h"
#include "translations/translation_table.h"

namespace ombrel {
namespace {

constexpr std::string_view kProductName = "Ombrel Loomwork";

std::string_view english_json() { return locale_tables().front().json; }

// The conversion specifications of a template in order: "%%", or "%" up to a conversion letter.
std::vector<std::string> conversions(std::string_view text) {
  std::vector<std::string> found;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') continue;
    std::size_t end = i + 1;
    if (end < text.size() && text[end] == '%') {
      found.emplace_back("%%");
      i = end;
      continue;
    }
    while (end < text.size() && std::string_view("disuxX").find(text[end]) == std::string_view::npos) ++end;
    found.emplace_back(text.substr(i, end + 1 - i));
    i = end;
  }
  return found;
}

// Splits the stored text into its lines, requiring CR LF after each, the last one included.
::testing::AssertionResult split_crlf_lines(std::string_view json, std::vector<std::string_view>& lines) {
  while (!json.empty()) {
    const std::size_t lf = json.find('\n');
    if (lf == std::string_view::npos) return ::testing::AssertionFailure() << "no CR LF after the last line";
    if (lf == 0 || json[lf - 1] != '\r')
      return ::testing::AssertionFailure() << "LF without CR at line " << lines.size() + 1;
    std::string_view line = json.substr(0, lf - 1);
    if (line.find('\r') != std::string_view::npos)
      return ::testing::AssertionFailure() << "stray CR at line " << lines.size() + 1;
    lines.push_back(line);
    json.remove_prefix(lf + 1);
  }
  return ::testing::AssertionSuccess();
}

TEST(ShippedTables, TheLocaleRowsInOrder) {
  std::vector<std::string_view> codes;
  for (const LocaleTable& row : locale_tables()) codes.push_back(row.code);
  const std::vector<std::string_view> expected = {
      "en_US", "nl_NL", "fr_FR", "de_DE", "it_IT", "pt_BR", "es_419", "ja_JP", "ko_KR", "ru_RU", "tr_TR",
      "zh_TW", "zh_CN", "cs_CZ", "sv_SE", "pl_PL", "da_DK", "hu_HU",  "nb_NO", "ro_RO", "fi_FI", "th_TH"};
  EXPECT_EQ(codes, expected);
}

// Two-space indent, one member per line, CR LF everywhere, no BOM and no escapes: the tables
// are edited by translators as plain text, and the parse must see exactly that text.
TEST(ShippedTables, StoredForm) {
  for (const LocaleTable& row : locale_tables()) {
    SCOPED_TRACE(std::string(row.code));
    // The program carries them compressed; what it reads is the file, byte for byte.
    EXPECT_EQ(row.json, test::read_test_file(test::test_data_dir() / ".." / ".." / "translations" / "tables" /
                                             (std::string(row.code) + ".json")));
    ASSERT_FALSE(row.json.starts_with("\xEF\xBB\xBF")) << "byte-order mark";
    EXPECT_EQ(row.json.find('\\'), std::string_view::npos) << "escape sequence";
    std::vector<std::string_view> lines;
    ASSERT_TRUE(split_crlf_lines(row.json, lines));
    ASSERT_EQ(lines.size(), kAllMessageKeys.size() + 2);
    EXPECT_EQ(lines.front(), "{");
    EXPECT_EQ(lines.back(), "}");
    for (std::size_t k = 0; k < kAllMessageKeys.size(); ++k) {
      const std::string_view line = lines[k + 1];
      const std::string prefix = "  \"" + std::string(kAllMessageKeys[k]) + "\": \"";
      const std::string_view suffix = k + 1 < kAllMessageKeys.size() ? "\"," : "\"";
      EXPECT_TRUE(line.starts_with(prefix)) << line;
      EXPECT_TRUE(line.ends_with(suffix)) << line;
      if (line.size() >= prefix.size() + suffix.size()) {
        const std::string_view text = line.substr(prefix.size(), line.size() - prefix.size() - suffix.size());
        EXPECT_EQ(text.find('"'), std::string_view::npos) << line;
        EXPECT_FALSE(text.empty()) << line;
      }
    }
  }
}

TEST(ShippedTables, ParseToAllKeys) {
  for (const LocaleTable& row : locale_tables()) {
    const TranslationTable table = parse_translation_table(row.json);
    EXPECT_EQ(table.size(), kAllMessageKeys.size()) << row.code;
  }
}

TEST(ShippedTables, EnglishTexts) {
  const TranslationTable english = parse_translation_table(english_json());
  const std::map<std::string_view, std::string_view> expected = {
      {"WINDOW_TITLE", "Ombrel Loomwork Installer"},
      {"TITLE_HEADING", "Ombrel Loomwork Installer"},
      {"STATUS_READY", "Ready"},
      {"STATUS_FETCHING_MANIFEST", "Checking for latest version\u2026"},
      {"STATUS_DOWNLOADING_FMT", "Downloading\u2026 %d%%"},
      {"STATUS_INSTALLING", "Installing\u2026"},
      {"STATUS_LAUNCHING", "Launching Ombrel Loomwork\u2026"},
      {"STATUS_COMPLETE", "Installation complete!"},
      {"BUTTON_RETRY", "Try Again"},
      {"ERROR_INVALID_URL_FMT", "Invalid URL: %s"},
      {"ERROR_NO_APP_FOUND", "Could not find app bundle in downloaded DMG"},
      {"ERROR_NO_INSTALL_FOUND", "Could not locate Ombrel Loomwork after install."},
      {"ERROR_INSTALL_FAILED_FMT", "Installation failed: %s"},
      {"ERROR_NETWORK", "Unable to connect. Please check your internet connection and try again."},
      {"ERROR_INSTALL_CANCELLED", "Installation was cancelled."},
      {"ERROR_PARSE_DMG_MOUNT", "Could not parse DMG mount point"},
      {"ERROR_MANIFEST_BAD_JSON_FMT", "Invalid manifest JSON: %s"},
      {"ERROR_MANIFEST_MISSING_FIELD", "Manifest missing baseInstallFile field"},
      {"ERROR_MANIFEST_HTTP_FMT", "Manifest fetch failed (HTTP %d)"},
      {"ERROR_DOWNLOAD_HTTP_FMT", "Download failed (HTTP %d)"},
      {"ERROR_DISK_WRITE", "Disk write failed"},
      {"ERROR_INSTALLER_LAUNCH_FMT", "Could not launch installer (error %lu)"},
      {"ERROR_INSTALLER_EXIT_FMT", "Installer exited with code %lu"},
      {"ERROR_COM_INIT", "Failed to initialize COM."},
      {"ERROR_UNEXPECTED_FMT", "Unexpected error: %s"},
      {"ERROR_INSTALLER_UNTRUSTED", "The downloaded installer could not be verified. Please try again."},
  };
  ASSERT_EQ(english.size(), expected.size());
  for (const auto& [key, text] : expected) {
    ASSERT_TRUE(english.contains(key)) << key;
    EXPECT_EQ(english.find(key)->second, text) << key;
  }
}

// Each translation keeps the English conversions in the same order (the callers pass one
// argument for the first) and the product name in exactly the keys where English has it.
TEST(ShippedTables, TranslationsKeepConversionsAndProductName) {
  const TranslationTable english = parse_translation_table(english_json());
  for (const LocaleTable& row : locale_tables()) {
    SCOPED_TRACE(std::string(row.code));
    const TranslationTable table = parse_translation_table(row.json);
    int differing = 0;
    for (MessageKey key : kAllMessageKeys) {
      const auto it = table.find(key);
      ASSERT_NE(it, table.end()) << key;
      const std::string& text = it->second;
      const std::string& english_text = english.find(key)->second;
      EXPECT_EQ(conversions(text), conversions(english_text)) << key << ": " << text;
      const bool names_product = text.find(kProductName) != std::string::npos;
      EXPECT_EQ(names_product, english_text.find(kProductName) != std::string::npos) << key << ": " << text;
      differing += text != english_text;
    }
    // A table that is mostly English was copied, not translated.
    if (row.code != "en_US") {
      EXPECT_GE(differing, 23) << "texts still in English";
    }
  }
}

TEST(ShippedTables, RetryButtonSamples) {
  const std::map<std::string_view, std::string_view> samples = {
      {"en_US", "Try Again"},
      {"nl_NL", "Opnieuw proberen"},
      {"fr_FR", "R\u00e9essayer"},
      {"de_DE", "Erneut versuchen"},
      {"it_IT", "Riprova"},
      {"pt_BR", "Tentar novamente"},
      {"es_419", "Reintentar"},
      {"ja_JP", "\u518D\u8A66\u884C"},
      {"ko_KR", "\uB2E4\uC2DC \uC2DC\uB3C4"},
      {"ru_RU", "\u041F\u043E\u0432\u0442\u043E\u0440\u0438\u0442\u044C"},
      {"tr_TR", "Yeniden Dene"},
      {"zh_TW", "\u91CD\u8A66"},
      {"zh_CN", "\u91CD\u8BD5"},
      {"cs_CZ", "Zkusit znovu"},
      {"sv_SE", "F\u00f6rs\u00f6k igen"},
      {"pl_PL", "Spr\u00f3buj ponownie"},
      {"da_DK", "Pr\u00f8v igen"},
      {"hu_HU", "\u00dajrapr\u00f3b\u00e1lkoz\u00e1s"},
      {"nb_NO", "Pr\u00f8v igjen"},
      {"ro_RO", "Re\u00eencearc\u0103"},
      {"fi_FI", "Yrit\u00e4 uudelleen"},
      {"th_TH", "\u0E25\u0E2D\u0E07\u0E2D\u0E35\u0E01\u0E04\u0E23\u0E31\u0E49\u0E07"},
  };
  ASSERT_EQ(samples.size(), locale_tables().size());
  for (const LocaleTable& row : locale_tables()) {
    const TranslationTable table = parse_translation_table(row.json);
    ASSERT_TRUE(samples.contains(row.code)) << row.code;
    EXPECT_EQ(table.at("BUTTON_RETRY"), samples.at(row.code)) << row.code;
  }
}

}  // namespace
}  // namespace ombrel
