#pragma once
// The program's JSON reader: exact error descriptions with line and column, as shown to the user
// in the manifest error text. Serves the manifest and the translation tables.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ombrel::json {

// A parse failure: the reader's description and where it stands (line from 1, column in bytes).
struct JsonError {
  std::string description;
  std::size_t line = 0;
  std::size_t column = 0;
  // "<description> at line L column C"
  std::string to_string() const;
};

// A translation table: one JSON object whose members are all strings, in document order
// (a later duplicate wins when the caller builds its map). Nothing on any error.
std::optional<std::vector<std::pair<std::string, std::string>>> parse_string_object(std::string_view text);

}  // namespace ombrel::json
