#include "pipeline/http_headers.h"

#include <charconv>

namespace ombrel {

int parse_status_line(std::string_view line) {
  const auto space = line.find(' ');
  if (space == std::string_view::npos || line.size() < space + 4) return 0;
  int code = 0;
  for (std::size_t i = space + 1; i < space + 4; ++i) {
    if (line[i] < '0' || line[i] > '9') return 0;
    code = code * 10 + (line[i] - '0');
  }
  return code;
}

std::string_view trim_header_space(std::string_view text) {
  auto is_space = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!text.empty() && is_space(text.front())) text.remove_prefix(1);
  while (!text.empty() && is_space(text.back())) text.remove_suffix(1);
  return text;
}

std::optional<std::pair<std::string_view, std::string_view>> parse_header_field(std::string_view line) {
  const auto colon = line.find(':');
  if (colon == std::string_view::npos) return std::nullopt;
  return std::pair(trim_header_space(line.substr(0, colon)), trim_header_space(line.substr(colon + 1)));
}

std::optional<std::uint64_t> parse_decimal(std::string_view digits) {
  if (digits.empty()) {
    return std::nullopt;
  }
  std::uint64_t value = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (error != std::errc() || end != digits.data() + digits.size()) {
    return std::nullopt;
  }
  return value;
}

std::uint64_t parse_content_length(std::optional<std::string_view> header) {
  if (!header) {
    return 0;
  }
  std::string_view digits = *header;
  if (digits.starts_with('+')) {
    digits.remove_prefix(1);
  }
  return parse_decimal(digits).value_or(0);
}

std::optional<ContentRange> parse_content_range(std::string_view header) {
  constexpr std::string_view kUnit = "bytes ";
  if (!header.starts_with(kUnit)) {
    return std::nullopt;
  }
  header.remove_prefix(kUnit.size());
  const std::size_t dash = header.find('-');
  const std::size_t slash = header.find('/');
  if (dash == std::string_view::npos || slash == std::string_view::npos || slash < dash) {
    return std::nullopt;
  }
  const std::optional<std::uint64_t> first = parse_decimal(header.substr(0, dash));
  const std::optional<std::uint64_t> last = parse_decimal(header.substr(dash + 1, slash - dash - 1));
  if (!first || !last || *last < *first) {
    return std::nullopt;
  }
  ContentRange range{*first, *last, std::nullopt};
  const std::string_view complete = header.substr(slash + 1);
  if (complete != "*") {
    range.complete = parse_decimal(complete);
    if (!range.complete || *range.complete <= *last) {
      return std::nullopt;
    }
  }
  return range;
}

bool is_header_safe(std::string_view value) {
  for (const char c : value) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte < 0x20 && byte != '\t') || byte == 0x7F) {
      return false;
    }
  }
  return true;
}

}  // namespace ombrel
