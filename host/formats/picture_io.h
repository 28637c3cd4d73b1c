// Pictures in and out of the host: reading a PNG or BMP file as palette
// indexes for the GP8 encoder, turning the DIB the image plug-in delivers
// into the same form, and writing it as PNG or BMP.
#pragma once

#include <span>
#include <string>

#include "host/files/file_io.h"
#include "host/formats/indexed_picture.h"
#include "host/formats/png_codec.h"

// Reads a PNG or BMP picture. A palette file keeps its palette and indexes
// as they are; a truecolour file has its colours, and, when it has at most
// 256 of them, a palette of them in the order they first appear, top row
// first (see PictureFile). Throws HostError with the reason (without the
// file name). `transparency_dropped` is set when the file has transparent
// pixels, which a palette picture cannot keep.
PictureFile DecodePicture(std::span<const unsigned char> bytes, bool& transparency_dropped);

// Each pixel's colour, from the palette for a palette file.
RgbPicture ColoursOf(const PictureFile& file);

// The picture in an 8-bit DIB: a header block (BITMAPINFOHEADER and colour
// table) and a pixel block whose rows lie a multiple of 4 bytes apart,
// bottom row first unless the height is negative. The rows are turned top
// row first and their fill dropped. Throws HostError with the reason when
// the DIB is not one of 8 bits a pixel or its blocks are too small.
IndexedPicture PictureFromDib(std::span<const unsigned char> header,
                              std::span<const unsigned char> pixels);

enum class PictureFileType { kPng, kBmp, kUnknown };

// The file type an output name asks for, by its extension, in any case.
PictureFileType PictureFileTypeOf(const std::string& path);

// The picture as a file of the type; a PNG's compression reports its rows.
Bytes EncodePicture(const IndexedPicture& picture, PictureFileType type,
                    const RowProgress& progress = {});
