#pragma once
// The program's JSON reader: exact error descriptions with line and column, as shown to the user
// in the manifest error text. Serves the manifest and the translation tables.
//
// The reader deserializes straight into the target shape while it scans, so a value of the wrong
// type is reported where it stands even when the text after it is broken. Descriptions, lines and
// columns are fixed to the byte, as the reference cases in tests/data record them.
#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/expected.h"

namespace ombrel::json {

// A parse failure: the reader's description and where it stands (line from 1, column in bytes).
struct JsonError {
  std::string description;
  std::size_t line = 0;
  std::size_t column = 0;
  // "<description> at line L column C"
  std::string to_string() const;
};

template <class T>
using JsonResult = Expected<T, JsonError>;

using StringPairs = std::vector<std::pair<std::string, std::string>>;

// A translation table: one JSON object whose members are all strings, in document order
// (a later duplicate wins when the caller builds its map). Nothing on any error.
std::optional<StringPairs> parse_string_object(std::string_view text);

// The same reading, keeping the first error.
JsonResult<StringPairs> read_string_object(std::string_view text);

// A record whose fields are all "string or null" (missing = null). The text holds an object
// (fields by exact name, in any order, each at most once, other members skipped whatever they
// hold) or an array of exactly field_names.size() elements in field order. `record_name`
// appears in type errors ("expected struct <name>"). The answer has one slot per field.
JsonResult<std::vector<std::optional<std::string>>> read_optional_string_record(
    std::string_view text, std::string_view record_name, std::span<const std::string_view> field_names);

}  // namespace ombrel::json
