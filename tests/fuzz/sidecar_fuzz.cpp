// libFuzzer target for the sidecar reader: any bytes a crash, an editor, another program or a
// full disk may leave in the ".meta" file beside a partial download. Besides crashes and
// sanitizer reports it checks the reading against the line rules written out plainly, that
// whatever is accepted can go into a request and reads back after writing, and the sidecar's
// path for the same bytes taken as an installer path.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "common/utf8.h"
#include "pipeline/http_headers.h"
#include "pipeline/sidecar.h"

namespace {

using ombrel::Validators;

void check(bool condition, const char* what) {
  if (!condition) {
    __builtin_printf("invariant broken: %s\n", what);
    std::abort();
  }
}

// The line rules: lines end at line feeds, a carriage return just before a line feed goes,
// missing lines are empty, lines after the second are ignored; not UTF-8 or a control
// character other than tab in either line: unreadable.
std::optional<Validators> expected(std::string_view text) {
  if (!ombrel::is_valid_utf8(text)) return std::nullopt;
  std::string lines[2];
  std::size_t start = 0;
  for (std::string& line : lines) {
    if (start > text.size()) break;
    const std::size_t feed = text.find('\n', start);
    if (feed == std::string_view::npos) {
      line = std::string(text.substr(start));
      start = text.size() + 1;
    } else {
      line = std::string(text.substr(start, feed - start));
      if (!line.empty() && line.back() == '\r') line.pop_back();
      start = feed + 1;
    }
    for (const char c : line) {
      const auto byte = static_cast<unsigned char>(c);
      if ((byte < 0x20 && byte != '\t') || byte == 0x7F) return std::nullopt;
    }
  }
  return Validators{lines[0], lines[1]};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  const std::optional<Validators> read = ombrel::parse_sidecar(text);
  check(read == expected(text), "line rules");
  if (read) {
    check(ombrel::is_header_safe(read->etag) && ombrel::is_header_safe(read->last_modified), "unsafe value accepted");
    const std::string written = ombrel::format_sidecar(*read);
    check(ombrel::parse_sidecar(written) == read, "what is written does not read back");
    check(written.size() == read->etag.size() + 1 + read->last_modified.size(), "sidecar is not two lines");
    if (const std::optional<std::string> if_range = ombrel::if_range_value(*read)) {
      check(!if_range->empty() && ombrel::is_header_safe(*if_range), "If-Range unusable");
    }
    // Read back as a whole answer's validators, the sidecar's values stand unchanged.
    check(ombrel::next_validators(Validators{}, false, read->etag, read->last_modified) == *read,
          "a whole answer with these headers keeps other validators");
  }

  const std::string path = ombrel::sidecar_path(text);
  check(path.ends_with(".meta"), "sidecar path without .meta");
  if (text.ends_with(".exe")) {
    check(path.size() == text.size() + 1 && path.starts_with(text.substr(0, text.size() - 4)),
          "extension not replaced");
  } else {
    check(path.size() == text.size() + 5 && path.starts_with(text), "extension not appended");
  }
  return 0;
}
