#include "translations/translation_store.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/languages.h"
#include "translations/locale_selection.h"
#include "translations/translations.h"

namespace ombrel {
namespace {

Translations handmade() {
  Translations t;
  t.locale = "de_DE";
  t.selected = {{"ONLY_SELECTED", "ausgewählt"}, {"BOTH", "beide"}};
  t.english = {{"BOTH", "both"}, {"ONLY_ENGLISH", "english"}};
  return t;
}

TEST(TranslationStore, FallsBackFromSelectedToEnglishToKey) {
  TranslationStore store;
  store.initialize(handmade);
  EXPECT_EQ(store.tr("ONLY_SELECTED"), "ausgewählt");
  EXPECT_EQ(store.tr("BOTH"), "beide");
  EXPECT_EQ(store.tr("ONLY_ENGLISH"), "english");
  EXPECT_EQ(store.tr("NOWHERE"), "NOWHERE");
  EXPECT_EQ(store.tr("both"), "both") << "lookups are case-sensitive";
  EXPECT_EQ(store.locale(), "de_DE");
}

TEST(TranslationStore, BeforeInitialisationEveryLookupIsTheKey) {
  TranslationStore store;
  EXPECT_FALSE(store.initialized());
  EXPECT_EQ(store.tr(keys::kStatusComplete), "STATUS_COMPLETE");
  EXPECT_EQ(store.locale(), "");
  EXPECT_FALSE(store.initialized()) << "a lookup must not start the initialisation";
}

TEST(TranslationStore, BuildsOnlyOnce) {
  TranslationStore store;
  int builds = 0;
  store.initialize([&] {
    ++builds;
    return build_translations(std::vector<std::string>{"fr-FR"});
  });
  store.initialize([&] {
    ++builds;
    return build_translations(std::vector<std::string>{"ja-JP"});
  });
  EXPECT_EQ(builds, 1);
  EXPECT_EQ(store.tr(keys::kButtonRetry), "R\u00e9essayer");
}

// Readers racing with the build see the key or the finished text, never anything else; of
// several threads asking for the build, exactly one runs it.
TEST(TranslationStore, ConcurrentReadersAndInitialisers) {
  TranslationStore store;
  std::atomic<int> builds{0};
  std::atomic<bool> go{false};
  std::atomic<int> bad{0};
  std::vector<std::thread> threads;
  threads.reserve(4);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      while (!go.load()) std::this_thread::yield();
      for (int i = 0; i < 2000; ++i) {
        const std::string text = store.tr(keys::kButtonRetry);
        if (text != "BUTTON_RETRY" && text != "Riprova") ++bad;
      }
    });
  }
  for (int t = 0; t < 3; ++t) {
    threads.emplace_back([&] {
      while (!go.load()) std::this_thread::yield();
      store.initialize([&] {
        ++builds;
        return build_translations(std::vector<std::string>{"it-IT"});
      });
      // Once initialize returns the store is complete for this thread too.
      if (store.tr(keys::kButtonRetry) != "Riprova") ++bad;
    });
  }
  go = true;
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(builds.load(), 1);
  EXPECT_EQ(bad.load(), 0);
}

TEST(BuildTranslations, ParsesTheSelectedTableAndEnglish) {
  const Translations nb = build_translations(std::vector<std::string>{"nn-NO"});
  EXPECT_EQ(nb.locale, "nb_NO");
  EXPECT_EQ(nb.selected.at("BUTTON_RETRY"), "Pr\u00f8v igjen");
  EXPECT_EQ(nb.english.at("BUTTON_RETRY"), "Try Again");

  const Translations none = build_translations({});
  EXPECT_EQ(none.locale, "en_US");
  EXPECT_EQ(none.selected, none.english);
}

// The one test of the process-wide store: it is built once per process, so the system's
// languages decide it and a later test-only request changes nothing.
TEST(ProcessTranslations, BuiltOnceFromTheSystemLanguages) {
  initialize_translations();
  const std::string_view expected_locale = select_locale(platform::preferred_ui_languages());
  EXPECT_EQ(translation_store().locale(), expected_locale);

  initialize_translations_for_testing({expected_locale == "ja_JP" ? "ko-KR" : "ja-JP"});
  EXPECT_EQ(translation_store().locale(), expected_locale);

  const TranslationTable selected = load_table(expected_locale);
  EXPECT_EQ(tr(keys::kStatusReady), selected.at("STATUS_READY"));
  EXPECT_EQ(tr("NO_SUCH_KEY"), "NO_SUCH_KEY");
  const std::string downloading = tr_fmt(keys::kStatusDownloadingFmt, "42");
  EXPECT_NE(downloading.find("42%"), std::string::npos) << downloading;
  EXPECT_EQ(downloading.find("%d"), std::string::npos) << downloading;
}

}  // namespace
}  // namespace ombrel
