#pragma once
// The program's only way to obtain a user-visible text, callable from any thread.
#include <string>
#include <string_view>
#include <vector>

#include "translations/message_keys.h"

namespace ombrel {

class TranslationStore;

// The process-wide store.
TranslationStore& translation_store();

// Reads the user's preferred UI languages and builds the process-wide store. Called first
// thing on the main thread; only the first call in a process has any effect.
void initialize_translations();

// Tests only: builds the process-wide store from the given tags instead of the system's
// languages (same once-only rule).
void initialize_translations_for_testing(std::vector<std::string> tags);

// The text of `key` in the user's language (see TranslationStore::tr).
std::string tr(MessageKey key);

// tr(key) with `argument` put at the template's first conversion (see format_message).
std::string tr_fmt(MessageKey key, std::string_view argument);

}  // namespace ombrel
