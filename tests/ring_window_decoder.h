// The reference the plug-in's decoder is checked against: the classic
// ring-window LZSS decoder of the benchmarks, giving the pixels in stream
// order, or none when the stream ends before `count` of them are out.
#pragma once

#include <cstddef>
#include <optional>
#include <vector>

#include "classic_lzss.h"

inline std::optional<std::vector<unsigned char>> RingWindowDecode(
    const std::vector<unsigned char>& stream, std::size_t count) {
  std::vector<unsigned char> out(count);
  if (ClassicLzssDecode(stream.data(), stream.size(), out.data(), count) != count) return std::nullopt;
  return out;
}
