#pragma once
// The pair of tables every lookup reads: the user's language and English as the fallback.
// Built once, read without locks afterwards by any thread.
#include <atomic>
#include <functional>
#include <mutex>
#include <span>
#include <string>
#include <string_view>

#include "translations/message_keys.h"
#include "translations/translation_table.h"

namespace ombrel {

struct Translations {
  std::string_view locale;  // the selected locale code
  TranslationTable selected;
  TranslationTable english;
};

// Selects the locale for the tags and parses only its table and the English one.
Translations build_translations(std::span<const std::string> tags);

class TranslationStore {
 public:
  // Runs `build` on the first call only; a call racing with it waits until the store is
  // complete, a later call does nothing.
  void initialize(const std::function<Translations()>& build);

  // False until the build has finished; a reader never sees a half-built store.
  bool initialized() const { return ready_.load(std::memory_order_acquire); }

  // The selected locale code; empty before initialisation.
  std::string_view locale() const { return initialized() ? contents_.locale : std::string_view(); }

  // The text of `key`: the selected language, else English, else the key itself. Before
  // initialisation the key itself; a lookup never starts the initialisation.
  std::string tr(MessageKey key) const;

 private:
  std::once_flag once_;
  std::atomic<bool> ready_{false};
  Translations contents_;  // written once inside the once-only call, then read-only
};

}  // namespace ombrel
