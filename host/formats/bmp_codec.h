// BMP files, read and written by the host itself: palette files of 1, 4 or 8
// bits a pixel keep their colour table as the palette, in order; files of
// 16, 24 or 32 bits a pixel (with or without colour masks) are read to their
// colours.
#pragma once

#include <span>
#include <vector>

#include "host/files/file_io.h"
#include "host/formats/indexed_picture.h"

// True when the bytes begin with the BMP signature "BM".
bool IsBmp(std::span<const unsigned char> bytes);

// A colour table of `count` RGBQUADs (blue, green, red, unused), as BMP files
// and DIBs hold it.
std::vector<Rgb> ReadRgbQuads(const unsigned char* table, std::uint32_t count);

// Decodes a BMP: a palette file to its colour table and indexes, any other
// to the colours of its pixels (PictureFile::colours; `indexed` left empty).
// Throws HostError, without the file
// name, saying what is missing from a truncated file or what is wrong with a
// damaged one; a file that lacks a single byte of its pixels is refused,
// never completed with black. `transparent` is set when an alpha mask gives
// any pixel transparency.
PictureFile DecodeBmp(std::span<const unsigned char> bytes, bool& transparent);

// An 8-bit BMP, rows bottom up and padded to 4 bytes, with the palette's
// entries as its colour table.
Bytes EncodeIndexedBmp(const IndexedPicture& picture);
