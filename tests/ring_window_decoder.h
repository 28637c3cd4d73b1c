// The classic LZSS decoder of GP8 pixel streams, kept deliberately plain as
// the reference the plug-in's decoder is checked against: a 4096-byte ring
// that every output byte also goes through, one flag bit at a time.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <vector>

// The classic way: a 4096-byte ring that every output byte also goes
// through. Gives the pixels in stream order, or none when the stream ends
// first.
inline std::optional<std::vector<unsigned char>> RingWindowDecode(
    const std::vector<unsigned char>& stream, std::size_t count) {
  std::array<unsigned char, 4096> window{};
  std::size_t r = 4078;
  std::size_t in = 0;
  std::vector<unsigned char> out;
  auto put = [&](unsigned char x) {
    out.push_back(x);
    window[r] = x;
    r = (r + 1) % 4096;
  };
  while (out.size() < count) {
    if (in >= stream.size()) return std::nullopt;
    const unsigned flags = stream[in++];
    for (int bit = 0; bit < 8 && out.size() < count; ++bit) {
      if ((flags >> bit) & 1) {
        if (in >= stream.size()) return std::nullopt;
        put(stream[in++]);
        continue;
      }
      if (in + 1 >= stream.size()) return std::nullopt;
      const std::size_t p = stream[in] + 256u * (stream[in + 1] >> 4);
      const std::size_t n = (stream[in + 1] & 0x0Fu) + 3;
      in += 2;
      for (std::size_t k = 0; k < n && out.size() < count; ++k) put(window[(p + k) % 4096]);
    }
  }
  return out;
}
