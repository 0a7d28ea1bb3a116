#include "common/gunzip.h"

#include <zlib.h>

namespace ombrel {

std::optional<std::string> gunzip_exact(std::span<const unsigned char> gzip, std::size_t size) {
  std::string out(size, '\0');
  z_stream stream{};
  if (inflateInit2(&stream, 16 + MAX_WBITS) != Z_OK) return std::nullopt;  // 16+: gzip framing
  stream.next_in = const_cast<Bytef*>(gzip.data());
  stream.avail_in = static_cast<uInt>(gzip.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  const int result = inflate(&stream, Z_FINISH);
  const bool complete = result == Z_STREAM_END && stream.total_out == out.size();
  inflateEnd(&stream);
  if (!complete) return std::nullopt;
  return out;
}

}  // namespace ombrel
