#pragma once
// Reads the JSON Lines files of reference cases in tests/data and what the test host writes. A
// small, lenient document reader for trusted test data only; the product's own reader is under
// test, so it is not used.
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ombrel::test {

struct CaseMember;

struct CaseValue {
  enum class Kind { kNull, kBool, kNumber, kString, kArray, kObject };
  Kind kind = Kind::kNull;
  bool boolean = false;
  std::string text;  // a string's content, or a number's literal
  std::vector<CaseValue> items;
  // Named members, not std::pair: a pair of an incomplete type is ill-formed, and clang refuses it.
  std::vector<CaseMember> members;

  bool is_null() const { return kind == Kind::kNull; }
  // The member by name, or nullptr.
  const CaseValue* find(std::string_view name) const;
  // The member's string (empty when missing or not a string).
  std::string string_at(std::string_view name) const;
};

struct CaseMember {
  std::string name;
  CaseValue value;
};

// One document; throws std::runtime_error on malformed input.
CaseValue parse_case_json(std::string_view text);

// Every non-empty line of the file as a document.
std::vector<CaseValue> read_case_lines(const std::filesystem::path& path);

std::string base64_decode(std::string_view text);

}  // namespace ombrel::test
