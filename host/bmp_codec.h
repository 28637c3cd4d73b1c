// BMP files of palette pictures (1, 4 or 8 bits a pixel, uncompressed), read
// and written by the host itself so that the palette keeps its order.
#pragma once

#include <optional>
#include <span>
#include <vector>

#include "file_io.h"
#include "indexed_picture.h"

// True when the bytes begin with the BMP signature "BM".
bool IsBmp(std::span<const unsigned char> bytes);

// A colour table of `count` RGBQUADs (blue, green, red, unused), as BMP files
// and DIBs hold it.
std::vector<Rgb> ReadRgbQuads(const unsigned char* table, std::uint32_t count);

// Decodes a palette BMP. Returns nothing for a BMP of more bits a pixel or
// with an old-style (12-byte) header. Throws HostError with the reason for a
// damaged or compressed file, or one whose pixels index past its palette.
std::optional<IndexedPicture> DecodeIndexedBmp(std::span<const unsigned char> bytes);

// An 8-bit BMP, rows bottom up and padded to 4 bytes, with the palette's
// entries as its colour table.
Bytes EncodeIndexedBmp(const IndexedPicture& picture);
