#include "common/build_config.h"

#include <zlib.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace ombrel {
namespace {
// kGeneratedBaseUrl, kGeneratedTestBuild, kGeneratedCaPemSize and kGeneratedCaPemGzip, written
// by the build from the CMake cache and resources/ca/mozilla-roots.pem.
#include "built_in_values.inc"
// kGeneratedPublisherName, kGeneratedPublisherPinCount and kGeneratedPublisherPins, written by
// cmake/PublisherCheck.cmake.
#include "publisher_values.inc"

// The gzip stream the build made of the CA list, inflated. Empty if it does not inflate to
// exactly the recorded size, which leaves TLS with no trusted root: connections fail, none is
// trusted by mistake.
std::string inflate_ca_pem() {
  std::string pem(kGeneratedCaPemSize, '\0');
  z_stream stream{};
  if (inflateInit2(&stream, 16 + MAX_WBITS) != Z_OK) return {};  // 16+: gzip framing
  stream.next_in = const_cast<Bytef*>(kGeneratedCaPemGzip);
  stream.avail_in = static_cast<uInt>(sizeof kGeneratedCaPemGzip);
  stream.next_out = reinterpret_cast<Bytef*>(pem.data());
  stream.avail_out = static_cast<uInt>(pem.size());
  const int result = inflate(&stream, Z_FINISH);
  const bool complete = result == Z_STREAM_END && stream.total_out == pem.size();
  inflateEnd(&stream);
  if (!complete) return {};
  return pem;
}
}  // namespace

std::string_view built_in_base_url() { return {kGeneratedBaseUrl, sizeof(kGeneratedBaseUrl) - 1}; }

std::string_view built_in_ca_pem() {
  static const std::string pem = inflate_ca_pem();  // once, thread-safe
  return pem;
}

bool is_test_build() { return kGeneratedTestBuild; }

std::string_view built_in_publisher_name() {
  return {kGeneratedPublisherName, sizeof(kGeneratedPublisherName) - 1};
}

std::span<const std::array<std::uint8_t, 32>> built_in_publisher_pins() {
  return std::span(kGeneratedPublisherPins, kGeneratedPublisherPinCount);
}

}  // namespace ombrel
