#pragma once
// Data the build stored gzip-compressed in the program (the CA roots, the translation tables),
// inflated with the zlib that libcurl links anyway.
#include <cstddef>
#include <optional>
#include <span>
#include <string>

namespace ombrel {

// The inflated bytes of one gzip stream; nothing when the stream is damaged or does not inflate
// to exactly `size` bytes (the size the build recorded).
std::optional<std::string> gunzip_exact(std::span<const unsigned char> gzip, std::size_t size);

}  // namespace ombrel
