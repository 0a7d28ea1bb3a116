#pragma once
// Chooses one translation table from the user's preferred UI languages.
#include <span>
#include <string>
#include <string_view>

namespace ombrel {

// The locale code (a row of locale_tables()) for BCP 47 tags in order of preference.
// An exact region match anywhere in the list beats a language-only match earlier in it;
// when nothing matches the answer is "en_US".
std::string_view select_locale(std::span<const std::string> tags);

}  // namespace ombrel
