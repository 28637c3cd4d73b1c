// PNG files of palette pictures, read and written without loss of the
// palette's order: the host's own small codec for colour type 3, with zlib
// (de)compression from stb.
#pragma once

#include <optional>
#include <span>
#include <string>

#include "file_io.h"
#include "indexed_picture.h"

// True when the bytes begin with the PNG signature.
bool IsPng(std::span<const unsigned char> bytes);

// Decodes a palette PNG (colour type 3, any bit depth, interlaced or not).
// Returns nothing for a PNG of another colour type. Throws HostError with the
// reason for a damaged file or one whose pixels index past its palette.
// `transparent` is set when the file gives any palette entry transparency,
// which a palette picture without an alpha channel cannot keep.
std::optional<IndexedPicture> DecodeIndexedPng(std::span<const unsigned char> bytes,
                                               bool& transparent);

// An 8-bit palette PNG with one PLTE entry per palette entry.
Bytes EncodeIndexedPng(const IndexedPicture& picture);
