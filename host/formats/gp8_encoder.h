// Writing GP8 pictures: an 8-byte rectangle, a 256-entry palette and the
// palette indexes as an LZSS stream.
//
// The stream is the one the image plug-in expands: a 4096-byte window, all 0
// at the start, filled from position 4078 on; a flag byte governs the next
// eight items, bit 0 first, a set bit being a literal byte and a clear bit a
// match of two bytes that copies 3 to 18 bytes from an absolute window
// position. The encoder finds the shortest such stream: it knows, for every
// position, the longest match that the window then allows (its written bytes,
// the zeros never written yet, and runs that copy bytes the match itself has
// just produced) and picks literals and matches by optimal parsing over the
// whole input.
#pragma once

#include <cstdint>
#include <functional>
#include <span>

#include "host/files/file_io.h"
#include "host/formats/indexed_picture.h"

// File layout.
constexpr std::uint32_t kGp8HeaderSize = 8;
constexpr std::uint32_t kGp8RightOffset = 4;
constexpr std::uint32_t kGp8BottomOffset = 6;
constexpr std::uint32_t kGp8PaletteOffset = 8;
constexpr std::uint32_t kGp8PaletteEntries = 256;
constexpr std::uint32_t kGp8PaletteEntrySize = 4;  // blue, green, red, 0
constexpr std::uint32_t kGp8StreamOffset = 1032;
constexpr std::uint32_t kGp8MaxSide = 65535;

// The LZSS coding.
constexpr std::uint32_t kLzssWindowSize = 4096;
constexpr std::uint32_t kLzssMinMatch = 3;
constexpr std::uint32_t kLzssMaxMatch = 18;
constexpr std::uint32_t kLzssWindowStart = kLzssWindowSize - kLzssMaxMatch;  // 4078
constexpr unsigned kLzssItemsPerFlag = 8;
// Costs in bits, a flag bit included, that the parse minimises.
constexpr std::uint64_t kLzssLiteralBits = 9;
constexpr std::uint64_t kLzssMatchBits = 17;

// Told now and then how many bytes of the data the encoder has gone through,
// and how many there are: the parse takes nearly all its time.
using EncodeProgress = std::function<void(std::uint64_t done, std::uint64_t total)>;

// The shortest stream that expands to exactly `data`. It holds no item
// beyond the last byte of data, so a decoder that stops when the input runs
// out inside the last flag group has the whole of it. Its working memory is
// at most 4 bytes a byte of data, besides the stream itself and a fixed 320 KB.
Bytes EncodeLzss(std::span<const unsigned char> data, const EncodeProgress& progress = {});

// A GP8 file of the picture. The stream carries width x height indexes, row
// after row with no fill, the picture's bottom row first (the order of a
// bottom-up DIB). Throws HostError when the picture does not fit the format:
// a side beyond 65535, no pixels at all, or more than 256 palette entries,
// or a pixel block of (width + 3) x height bytes beyond 32 bits.
Bytes EncodeGp8(const IndexedPicture& picture, const EncodeProgress& progress = {});
