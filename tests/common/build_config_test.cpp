#include "common/build_config.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/test_data.h"

namespace ombrel {
namespace {

std::vector<std::uint8_t> decode_base64(std::string_view text) {
  std::vector<std::uint8_t> out;
  std::uint32_t bits = 0;
  int count = 0;
  for (char c : text) {
    int value = -1;
    if (c >= 'A' && c <= 'Z')
      value = c - 'A';
    else if (c >= 'a' && c <= 'z')
      value = c - 'a' + 26;
    else if (c >= '0' && c <= '9')
      value = c - '0' + 52;
    else if (c == '+')
      value = 62;
    else if (c == '/')
      value = 63;
    if (value < 0) continue;  // line breaks and padding
    bits = (bits << 6) | static_cast<std::uint32_t>(value);
    count += 6;
    if (count >= 8) {
      count -= 8;
      out.push_back(static_cast<std::uint8_t>(bits >> count));
    }
  }
  return out;
}

// Length of the outer DER SEQUENCE of a certificate, header included; 0 when it is not one.
std::size_t der_sequence_size(const std::vector<std::uint8_t>& der) {
  if (der.size() < 2 || der[0] != 0x30) return 0;
  if (der[1] < 0x80) return 2 + der[1];
  const std::size_t length_bytes = der[1] & 0x7F;
  if (length_bytes == 0 || length_bytes > 3 || der.size() < 2 + length_bytes) return 0;
  std::size_t length = 0;
  for (std::size_t i = 0; i < length_bytes; ++i) length = (length << 8) | der[2 + i];
  return 2 + length_bytes + length;
}

struct PemBlocks {
  std::vector<std::vector<std::uint8_t>> certificates;
  bool well_formed = true;
};

PemBlocks split_pem(std::string_view pem) {
  constexpr std::string_view kBegin = "-----BEGIN CERTIFICATE-----";
  constexpr std::string_view kEnd = "-----END CERTIFICATE-----";
  PemBlocks blocks;
  std::size_t pos = 0;
  while ((pos = pem.find(kBegin, pos)) != std::string_view::npos) {
    const std::size_t body = pos + kBegin.size();
    const std::size_t end = pem.find(kEnd, body);
    if (end == std::string_view::npos || pem.find(kBegin, body) < end) {
      blocks.well_formed = false;
      break;
    }
    blocks.certificates.push_back(decode_base64(pem.substr(body, end - body)));
    pos = end + kEnd.size();
  }
  return blocks;
}

TEST(BuildConfig, EveryBuiltInRootIsOneWholeDerCertificate) {
  const auto blocks = split_pem(built_in_ca_pem());
  ASSERT_TRUE(blocks.well_formed);
  // The Mozilla list has well over a hundred roots; a truncated embedding would not.
  EXPECT_GT(blocks.certificates.size(), 100u);
  for (std::size_t i = 0; i < blocks.certificates.size(); ++i) {
    const auto& der = blocks.certificates[i];
    EXPECT_EQ(der_sequence_size(der), der.size()) << "certificate " << i;
  }
}

TEST(BuildConfig, TheRootsAreTheCommittedSnapshotPlusTheTestCaOnlyInTestBuilds) {
  const auto snapshot =
      test::read_test_file(test::test_data_dir() / ".." / ".." / "resources" / "ca" / "mozilla-roots.pem");
  ASSERT_FALSE(snapshot.empty());
  const auto expected = split_pem(snapshot);
  const auto built_in = split_pem(built_in_ca_pem());
  ASSERT_TRUE(expected.well_formed && built_in.well_formed);
  ASSERT_GE(built_in.certificates.size(), expected.certificates.size());
  EXPECT_TRUE(std::equal(expected.certificates.begin(), expected.certificates.end(), built_in.certificates.begin()))
      << "the embedded list differs from resources/ca/mozilla-roots.pem";
  EXPECT_EQ(built_in.certificates.size() - expected.certificates.size(), is_test_build() ? 1u : 0u);
}

TEST(BuildConfig, FixedValues) {
  EXPECT_EQ(kUserAgent, "OmbrelLoomworkInstaller/1.0");
  const std::string_view base = built_in_base_url();
  EXPECT_TRUE(base.starts_with("https://")) << base;
  EXPECT_TRUE(base.ends_with("/")) << base;
}

}  // namespace
}  // namespace ombrel
