#include "translations/translation_store.h"

#include "translations/locale_selection.h"

namespace ombrel {

Translations build_translations(std::span<const std::string> tags) {
  Translations translations;
  translations.locale = select_locale(tags);
  translations.selected = load_table(translations.locale);
  translations.english = load_table("en_US");
  return translations;
}

void TranslationStore::initialize(const std::function<Translations()>& build) {
  std::call_once(once_, [&] {
    contents_ = build();
    ready_.store(true, std::memory_order_release);
  });
}

std::string TranslationStore::tr(MessageKey key) const {
  if (!initialized()) return std::string(key);
  if (auto it = contents_.selected.find(key); it != contents_.selected.end()) return it->second;
  if (auto it = contents_.english.find(key); it != contents_.english.end()) return it->second;
  return std::string(key);
}

}  // namespace ombrel
