// libFuzzer target for the reading of libcurl's certificate texts: names and dates that
// whoever made the server's certificate chose, as either back end writes them. Besides crashes
// and sanitizer reports it checks that a common name comes out as one line that fits its
// array, and that a time read is one of the fixed form that reads back as itself.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

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

  const ombrel::CertificateName name = ombrel::certificate_common_name(text);
  const std::size_t length = std::strlen(name.data());
  check(length < name.size(), "common name without its NUL");
  for (std::size_t i = 0; i < length; ++i) {
    const auto byte = static_cast<unsigned char>(name[i]);
    check(byte >= 0x20 && byte != 0x7F, "control character in a common name");
  }
  for (std::size_t i = length; i < name.size(); ++i) check(name[i] == '\0', "bytes after the NUL");

  if (const auto time = ombrel::certificate_time(text)) {
    const std::string form(time->data());
    check(form.size() == 19 && form[4] == '-' && form[10] == ' ' && form[16] == ':', "not the fixed form");
    check(ombrel::certificate_time(form + " GMT") == time, "the fixed form does not read back");
  }
  return 0;
}
