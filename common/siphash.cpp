#include "common/siphash.h"

#include <bit>

namespace ombrel {
namespace {

struct SipState {
  std::uint64_t v0, v1, v2, v3;

  void round() {
    v0 += v1;
    v1 = std::rotl(v1, 13);
    v1 ^= v0;
    v0 = std::rotl(v0, 32);
    v2 += v3;
    v3 = std::rotl(v3, 16);
    v3 ^= v2;
    v0 += v3;
    v3 = std::rotl(v3, 21);
    v3 ^= v0;
    v2 += v1;
    v1 = std::rotl(v1, 17);
    v1 ^= v2;
    v2 = std::rotl(v2, 32);
  }

  void compress(std::uint64_t word) {
    v3 ^= word;
    round();
    v0 ^= word;
  }
};

std::uint64_t load_le(const char* bytes, std::size_t count) {
  std::uint64_t word = 0;
  for (std::size_t i = 0; i < count; ++i) {
    word |= static_cast<std::uint64_t>(static_cast<unsigned char>(bytes[i])) << (8 * i);
  }
  return word;
}

}  // namespace

std::uint64_t siphash13(std::string_view bytes) {
  // The initial state is "somepseudorandomlygeneratedbytes" xor the key, which is zero here.
  SipState s{0x736f6d6570736575ULL, 0x646f72616e646f6dULL, 0x6c7967656e657261ULL, 0x7465646279746573ULL};
  const std::size_t full = bytes.size() & ~std::size_t{7};
  for (std::size_t i = 0; i < full; i += 8) {
    s.compress(load_le(bytes.data() + i, 8));
  }
  // Last word: the leftover bytes plus the low byte of the total length in the top byte.
  s.compress(load_le(bytes.data() + full, bytes.size() - full) | (static_cast<std::uint64_t>(bytes.size()) << 56));
  s.v2 ^= 0xff;
  for (int i = 0; i < 3; ++i) {
    s.round();
  }
  return s.v0 ^ s.v1 ^ s.v2 ^ s.v3;
}

}  // namespace ombrel
