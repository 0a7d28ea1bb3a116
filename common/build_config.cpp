#include "common/build_config.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "common/gunzip.h"

namespace ombrel {
namespace {
// kGeneratedBaseUrl, kGeneratedTestBuild, kGeneratedCaDerSize and kGeneratedCaDerGzip, written
// by the build from the CMake cache and resources/ca/mozilla-roots.pem.
#include "built_in_values.inc"
// kGeneratedPublisherName, kGeneratedPublisherPinCount and kGeneratedPublisherPins, written by
// cmake/PublisherCheck.cmake.
#include "publisher_values.inc"

// Length of the DER SEQUENCE at the start of `der`, header included; 0 when there is none.
std::size_t der_sequence_size(std::string_view der) {
  if (der.size() < 2 || static_cast<unsigned char>(der[0]) != 0x30) return 0;
  const auto first = static_cast<unsigned char>(der[1]);
  if (first < 0x80) return 2 + first;
  const std::size_t count = first & 0x7F;
  if (count == 0 || count > 3 || der.size() < 2 + count) return 0;
  std::size_t length = 0;
  for (std::size_t i = 0; i < count; ++i) length = (length << 8) | static_cast<unsigned char>(der[2 + i]);
  return 2 + count + length;
}

void append_base64_lines(std::string& out, std::string_view bytes) {
  static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::size_t line = 0;
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    const std::size_t count = std::min<std::size_t>(3, bytes.size() - i);
    std::uint32_t group = 0;
    for (std::size_t k = 0; k < 3; ++k) {
      group = (group << 8) | (k < count ? static_cast<unsigned char>(bytes[i + k]) : 0u);
    }
    for (std::size_t k = 0; k < 4; ++k) out += k <= count ? kAlphabet[(group >> (18 - 6 * k)) & 0x3F] : '=';
    if ((line += 4) == 64) {
      out += '\n';
      line = 0;
    }
  }
  if (line != 0) out += '\n';
}

// The list the build stored (DER certificates one after the other, gzip-compressed) as the PEM
// blocks libcurl reads. Empty if it is damaged in any way, which leaves TLS with no trusted
// root: connections fail, none is trusted by mistake.
std::string unpack_ca_pem() {
  const std::optional<std::string> der = gunzip_exact(kGeneratedCaDerGzip, kGeneratedCaDerSize);
  if (!der) return {};
  std::string pem;
  for (std::string_view rest = *der; !rest.empty();) {
    const std::size_t size = der_sequence_size(rest);
    if (size == 0 || size > rest.size()) return {};
    pem += "-----BEGIN CERTIFICATE-----\n";
    append_base64_lines(pem, rest.substr(0, size));
    pem += "-----END CERTIFICATE-----\n";
    rest.remove_prefix(size);
  }
  return pem;
}
}  // namespace

std::string_view built_in_base_url() { return {kGeneratedBaseUrl, sizeof(kGeneratedBaseUrl) - 1}; }

std::string_view built_in_ca_pem() {
  static const std::string pem = unpack_ca_pem();  // once, thread-safe
  return pem;
}

bool is_test_build() { return kGeneratedTestBuild; }

std::string_view built_in_publisher_name() { return {kGeneratedPublisherName, sizeof(kGeneratedPublisherName) - 1}; }

std::span<const std::array<std::uint8_t, 32>> built_in_publisher_pins() {
  return std::span(kGeneratedPublisherPins, kGeneratedPublisherPinCount);
}

}  // namespace ombrel
