// The classic LZSS decoder of GP8 pixel streams, as the textbooks have it: a
// 4096-byte window array that every output byte is also stored into, zero at
// the start with the write position at 4078, and one flag bit taken at a time.
// The yardstick the image plug-in's decoder is measured and checked against.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

// Expands the stream into out until `count` bytes are out or the stream ends.
// Returns the number of bytes put out.
inline std::size_t ClassicLzssDecode(const unsigned char* in, std::size_t in_size,
                                     unsigned char* out, std::size_t count) {
  constexpr unsigned kWindowMask = 4095;
  unsigned char window[kWindowMask + 1];
  std::memset(window, 0, sizeof window);
  unsigned r = 4078;
  unsigned flags = 0;
  const unsigned char* const end = in + in_size;
  std::size_t o = 0;
  while (o < count) {
    // The high byte counts the flag bits left: 0x100 is gone after eight shifts.
    if (((flags >>= 1) & 0x100) == 0) {
      if (in == end) break;
      flags = *in++ | 0xFF00u;
    }
    if ((flags & 1) != 0) {
      if (in == end) break;
      const unsigned char c = *in++;
      out[o++] = c;
      window[r] = c;
      r = (r + 1) & kWindowMask;
    } else {
      if (end - in < 2) break;
      unsigned i = in[0];
      unsigned j = in[1];
      in += 2;
      i |= (j & 0xF0u) << 4;
      j = (j & 0x0Fu) + 2;
      for (unsigned k = 0; k <= j && o < count; ++k) {
        const unsigned char c = window[(i + k) & kWindowMask];
        out[o++] = c;
        window[r] = c;
        r = (r + 1) & kWindowMask;
      }
    }
  }
  return o;
}
