#pragma once
// One language's texts, keyed by message key, parsed from a compiled-in JSON table.
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>

namespace ombrel {

// Transparent hashing lets a lookup by std::string_view skip building a std::string.
struct TextHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view text) const noexcept { return std::hash<std::string_view>{}(text); }
};

using TranslationTable = std::unordered_map<std::string, std::string, TextHash, std::equal_to<>>;

// A JSON object of string members. Whitespace around the object is allowed; anything else
// (a non-string value, trailing text, any syntax error) gives an empty table, so every lookup
// falls through to English. Of two members with the same key the later one wins.
TranslationTable parse_translation_table(std::string_view json);

// The compiled-in table of a locale code (exact, case-sensitive); empty for an unknown code.
TranslationTable load_table(std::string_view locale_code);

}  // namespace ombrel
