// Expanding a GP8 pixel stream into the pixel rows of an 8-bit DIB.
//
// The stream is LZSS over a 4096-byte window. A flag byte governs the next
// eight items, bit 0 first. A set bit is a literal: one byte, output as it is.
// A clear bit is a match of two bytes b0 b1: it copies (b1 & 0x0F) + 3 bytes
// (3 to 18) starting at window position b0 + 256 * (b1 >> 4), an absolute
// position, not a distance. Every byte output is also stored in the window,
// the first at position 4078 and then on, modulo 4096; the window starts
// all 0, and a match reads each byte only after the one before it was stored,
// so a match just behind the write position repeats what it has just made.
// The stream has no end marker: it ends when width x height pixels are out.
#pragma once

#include <cstdint>
#include <span>

constexpr std::uint32_t kWindowSize = 4096;
constexpr std::uint32_t kMaxMatchLength = 18;
constexpr std::uint32_t kMinMatchLength = 3;
constexpr std::uint32_t kWindowStart = kWindowSize - kMaxMatchLength;  // 4078
constexpr unsigned kItemsPerFlagByte = 8;

// Bytes from the start of one DIB row to the next: the width raised to a
// multiple of 4.
constexpr std::uint64_t Gp8RowStride(std::uint32_t width) {
  return (std::uint64_t{width} + 3) & ~std::uint64_t{3};
}

// Decodes a GP8 pixel stream of width x height pixels into a pixel area.
//
// stream: the bytes that follow the palette, up to the picture's end. No byte
//   beyond it is read; decoding stops as soon as width x height pixels are
//   out, even within a flag group or a match, and the rest is not read.
// pixels: the whole area to fill; it must hold Gp8RowStride(width) x height
//   bytes. The stream's pixels come row after row, width bytes each, and row
//   k lands at k x stride, as a bottom-up DIB holds it. Every other byte of
//   the area (each row's fill up to the stride, and the area's tail after the
//   last row) is set to 0, so on success no byte of the area is left
//   undefined. Nothing is written outside the area.
//
// Returns true when the picture is complete; false when the stream ends
// before all its pixels are out, or the area is too small for its rows (the
// area's bytes are then of no use).
bool DecodeGp8Pixels(std::span<const unsigned char> stream, std::span<unsigned char> pixels,
                     std::uint32_t width, std::uint32_t height);
