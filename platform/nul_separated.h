#pragma once
// Reading a Windows "multi-string": runs of characters, each ended by a NUL, the list ended
// by an empty run. Kept free of Windows types so it is tested on every platform.
#include <string_view>
#include <vector>

namespace ombrel::platform {

// The non-empty runs of `buffer`, in order. After every NUL (a leading one too) the walk stops
// at the end of the buffer or at a second NUL. A run that the buffer cuts off before its NUL
// is dropped: it may be a truncated tag.
template <class Char>
std::vector<std::basic_string_view<Char>> split_nul_separated(std::basic_string_view<Char> buffer) {
  std::vector<std::basic_string_view<Char>> runs;
  std::size_t start = 0;
  for (std::size_t i = 0; i < buffer.size(); ++i) {
    if (buffer[i] != Char{}) continue;
    if (i > start) runs.push_back(buffer.substr(start, i - start));
    if (i + 1 == buffer.size() || buffer[i + 1] == Char{}) break;
    start = i + 1;
  }
  return runs;
}

}  // namespace ombrel::platform
