#include "translations/translations.h"

#include "platform/languages.h"
#include "translations/format_message.h"
#include "translations/translation_store.h"

namespace ombrel {

TranslationStore& translation_store() {
  // Never destroyed: a worker that is abandoned at exit may still be translating while the
  // main thread runs the static destructors.
  static TranslationStore* const store = new TranslationStore;
  return *store;
}

void initialize_translations() {
  // The languages are read inside the once-only build, so they are read once per process.
  translation_store().initialize([] { return build_translations(platform::preferred_ui_languages()); });
}

void initialize_translations_for_testing(std::vector<std::string> tags) {
  translation_store().initialize([&] { return build_translations(tags); });
}

std::string tr(MessageKey key) { return translation_store().tr(key); }

std::string tr_fmt(MessageKey key, std::string_view argument) { return format_message(tr(key), argument); }

}  // namespace ombrel
