// libFuzzer target for the reading of libcurl's certificate texts: names and dates that
// whoever made the server's certificate chose, as either back end writes them. Besides crashes
// and sanitizer reports it checks that a common name comes out as one short line of valid
// UTF-8, and that a date read in libcurl's own form keeps its day.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "common/utf8.h"
#include "pipeline/certificate_text.h"

namespace {

void check(bool condition, const char* what) {
  if (!condition) {
    __builtin_printf("invariant broken: %s\n", what);
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  const std::string name = ombrel::certificate_common_name(text);
  check(name.size() <= ombrel::kMaxCommonNameBytes, "common name too long");
  check(ombrel::is_valid_utf8(name), "common name not UTF-8");
  for (const char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    check(byte >= 0x20 && byte != 0x7F, "control character in a common name");
  }

  if (const auto time = ombrel::parse_certificate_time(text)) {
    const std::string day = ombrel::utc_date_text(*time);
    check(day.size() == 10, "date not YYYY-MM-DD");
    if (text.front() >= '0' && text.front() <= '9') check(text.starts_with(day), "another day than the text's");
  }
  return 0;
}
