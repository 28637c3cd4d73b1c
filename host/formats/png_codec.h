// PNG files, read and written through libpng. A palette file keeps its
// palette and its indexes as they are; any other colour type, bit depth or
// interlacing is read to its colours.
#pragma once

#include <cstdint>
#include <functional>
#include <span>

#include "host/files/file_io.h"
#include "host/formats/indexed_picture.h"

// True when the bytes begin with the PNG signature.
bool IsPng(std::span<const unsigned char> bytes);

// Decodes a PNG: a palette file to its palette and indexes, any other to
// the colours of its pixels (PictureFile::colours; `indexed` left empty). Samples of 16 bits are
// taken only when each is an exact 8-bit value (v x 257), which 8 bits hold unchanged. Throws
// HostError with the reason (libpng's own words for a damaged file) without the file name.
// `transparent` is set when the file gives any pixel or palette entry transparency, which a palette
// picture cannot keep.
PictureFile DecodePng(std::span<const unsigned char> bytes, bool& transparent);

// Told how many of the picture's rows have been written, and how many there are.
using RowProgress = std::function<void(std::uint64_t rows_done, std::uint64_t rows)>;

// Pictures of up to this many pixels have their rows compressed in one go
// by libdeflate (level 6), which needs them all in memory at once: twice as
// fast as zlib at its default level, and within a few percent of its size.
// Larger ones stream through libpng's zlib, so that what is held stays
// bounded.
inline constexpr std::uint64_t kPngOneGoPixels = std::uint64_t{64} << 20;

// An 8-bit palette PNG with one PLTE entry per palette entry.
Bytes EncodeIndexedPng(const IndexedPicture& picture, const RowProgress& progress = {},
                       std::uint64_t one_go_pixels = kPngOneGoPixels);
