// libFuzzer target for what the download reads from the heads of the server's answers: the
// status line, the header lines, Content-Length, Content-Range, and how ETag and Last-Modified
// become the validators of the sidecar and the next If-Range.
//
// Input: one or more answer heads, one after the other, each ended by an empty line, as a
// download receives them over its attempts. Each line is handed over as libcurl hands it to the
// client, line end included. Besides crashes and sanitizer reports, each parser is checked
// against a plain reading of the header's grammar, and the validators carried from answer to
// answer against the rules that keep two versions of the file apart.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/utf8.h"
#include "pipeline/http_headers.h"
#include "pipeline/sidecar.h"

namespace {

using ombrel::ContentRange;
using ombrel::Validators;

void check(bool condition, const char* what) {
  if (!condition) {
    __builtin_printf("invariant broken: %s\n", what);
    std::abort();
  }
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool same_name(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

// A run of decimal digits as a number; nothing when empty, not all digits, or above 2^64 - 1.
std::optional<std::uint64_t> digits_value(std::string_view text) {
  if (text.empty()) return std::nullopt;
  std::uint64_t value = 0;
  for (const char c : text) {
    if (!is_digit(c)) return std::nullopt;
    const auto digit = static_cast<std::uint64_t>(c - '0');
    if (value > (UINT64_MAX - digit) / 10) return std::nullopt;
    value = value * 10 + digit;
  }
  return value;
}

int expected_status(std::string_view line) {
  const std::size_t space = line.find(' ');
  if (space == std::string_view::npos) return 0;
  const std::string_view code = line.substr(space + 1, 3);
  if (code.size() != 3 || !is_digit(code[0]) || !is_digit(code[1]) || !is_digit(code[2])) return 0;
  return (code[0] - '0') * 100 + (code[1] - '0') * 10 + (code[2] - '0');
}

std::uint64_t expected_content_length(std::string_view value) {
  if (value.starts_with('+')) value.remove_prefix(1);
  return digits_value(value).value_or(0);
}

// "bytes " FIRST "-" LAST "/" (COMPLETE | "*"), with FIRST <= LAST < COMPLETE.
std::optional<ContentRange> expected_content_range(std::string_view value) {
  if (!value.starts_with("bytes ")) return std::nullopt;
  value.remove_prefix(6);
  const std::size_t dash = value.find('-');
  if (dash == std::string_view::npos) return std::nullopt;
  const std::size_t slash = value.find('/', dash);
  if (slash == std::string_view::npos) return std::nullopt;
  const auto first = digits_value(value.substr(0, dash));
  const auto last = digits_value(value.substr(dash + 1, slash - dash - 1));
  if (!first || !last || *last < *first) return std::nullopt;
  const std::string_view complete_text = value.substr(slash + 1);
  if (complete_text == "*") return ContentRange{*first, *last, std::nullopt};
  const auto complete = digits_value(complete_text);
  if (!complete || *complete <= *last) return std::nullopt;
  return ContentRange{*first, *last, complete};
}

bool same_range(const std::optional<ContentRange>& a, const std::optional<ContentRange>& b) {
  if (a.has_value() != b.has_value()) return false;
  return !a || (a->first == b->first && a->last == b->last && a->complete == b->complete);
}

struct Head {
  int status = 0;
  std::vector<std::pair<std::string_view, std::string_view>> fields;

  // The first field of that name, as HttpResponse::header gives it.
  std::optional<std::string_view> header(std::string_view name) const {
    for (const auto& [key, value] : fields) {
      if (same_name(key, name)) return value;
    }
    return std::nullopt;
  }
};

void check_field(std::string_view line, std::string_view name, std::string_view value) {
  const std::size_t colon = line.find(':');
  check(colon != std::string_view::npos, "a field from a line without a colon");
  check(name.find(':') == std::string_view::npos, "the name runs past the first colon");
  check(name.data() >= line.data() && name.data() + name.size() <= line.data() + colon, "name outside the line");
  check(value.data() > line.data() + colon || value.empty(), "value before the colon");
  check(value.empty() || value.data() + value.size() <= line.data() + line.size(), "value outside the line");
  for (const std::string_view part : {name, value}) {
    check(part.empty() || (!is_blank(part.front()) && !is_blank(part.back())), "blanks left around a part");
  }
}

// What the validators after `answer` must be, given those before it.
void check_validators(const Validators& before, const Head& answer, const Validators& after) {
  const bool partial = answer.status == 206;
  const auto check_one = [&](std::string_view name, const std::string& was, const std::string& now) {
    const std::optional<std::string_view> header = answer.header(name);
    const bool usable = header && !header->empty() && ombrel::is_header_safe(*header);
    if (usable) {
      check(now == *header, "a usable header was not taken");
    } else if (partial) {
      check(now == was, "a range answer lost a validator it did not restate");
    } else {
      check(now.empty(), "a whole answer let an earlier version's validator through");
    }
    check(ombrel::is_header_safe(now), "a kept validator cannot go into a request");
  };
  check_one("ETag", before.etag, after.etag);
  check_one("Last-Modified", before.last_modified, after.last_modified);

  const std::optional<std::string> if_range = ombrel::if_range_value(after);
  if (if_range) {
    check(!if_range->empty(), "empty If-Range");
    check((*if_range == after.etag && !after.etag.starts_with("W/")) || *if_range == after.last_modified,
          "If-Range is neither the strong ETag nor the date");
  } else {
    check(after.last_modified.empty() && (after.etag.empty() || after.etag.starts_with("W/")),
          "a usable validator gave no If-Range");
  }

  // The sidecar keeps exactly these validators for the next run, whenever it can hold them.
  if (ombrel::is_valid_utf8(after.etag) && ombrel::is_valid_utf8(after.last_modified)) {
    check(ombrel::parse_sidecar(ombrel::format_sidecar(after)) == after, "the sidecar does not read back");
  }
}

void check_contradiction(const Validators& before, const Head& answer) {
  const bool contradicts = ombrel::contradicts_if_range(before, answer.header("ETag"), answer.header("Last-Modified"));
  const std::optional<std::string> sent = ombrel::if_range_value(before);
  if (!sent) {
    check(!contradicts, "a contradiction without an If-Range");
    return;
  }
  const bool sent_etag = *sent == before.etag && !before.etag.starts_with("W/");
  const std::optional<std::string_view> named = answer.header(sent_etag ? "ETag" : "Last-Modified");
  check(contradicts == (named && !named->empty() && *named != *sent), "contradiction rule");
}

// Reads one head from `input` (lines up to an empty one) and checks each line's parsing.
Head read_head(std::string_view& input) {
  Head head;
  bool first = true;
  while (!input.empty()) {
    const std::size_t feed = input.find('\n');
    const std::string_view line = input.substr(0, feed == std::string_view::npos ? input.size() : feed + 1);
    input.remove_prefix(line.size());

    const int status = ombrel::parse_status_line(line);
    check(status == expected_status(line), "status line");
    if (first) {
      head.status = status;
      first = false;
      continue;
    }
    std::string_view rest = line;
    while (!rest.empty() && is_blank(rest.back())) rest.remove_suffix(1);
    while (!rest.empty() && is_blank(rest.front())) rest.remove_prefix(1);
    if (rest.empty()) break;

    const auto field = ombrel::parse_header_field(line);
    check(field.has_value() == (line.find(':') != std::string_view::npos), "field found without a colon or missed");
    if (field) {
      check_field(line, field->first, field->second);
      head.fields.push_back(*field);
    }
  }
  return head;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  Validators validators;
  for (int answers = 0; !input.empty() && answers < 16; ++answers) {
    const Head head = read_head(input);
    for (const auto& [name, value] : head.fields) {
      check(ombrel::parse_content_length(value) == expected_content_length(value), "Content-Length");
      check(same_range(ombrel::parse_content_range(value), expected_content_range(value)), "Content-Range");
    }
    check(ombrel::parse_content_length(std::nullopt) == 0, "a missing Content-Length is not 0");

    check_contradiction(validators, head);
    const Validators next =
        ombrel::next_validators(validators, head.status == 206, head.header("ETag"), head.header("Last-Modified"));
    check_validators(validators, head, next);
    validators = next;
  }
  return 0;
}
