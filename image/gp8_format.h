// The GP8 picture: an 8-byte rectangle, a palette of 256 four-byte entries,
// and an LZSS-coded stream of 8-bit palette indexes up to the end of the file.
// No signature, version or length: a picture is told apart from other files
// only by IsGp8Picture.
#pragma once

#include <cstdint>

// File layout.
constexpr std::uint32_t kGp8HeaderSize = 8;
constexpr std::uint32_t kPaletteOffset = kGp8HeaderSize;
constexpr std::uint32_t kPaletteEntryCount = 256;
constexpr std::uint32_t kPaletteEntrySize = 4;
constexpr std::uint32_t kPaletteSize = kPaletteEntryCount * kPaletteEntrySize;
constexpr std::uint32_t kPixelStreamOffset = kPaletteOffset + kPaletteSize;
static_assert(kPixelStreamOffset == 1032);

// Gp8Header field offsets: two corners of the picture's rectangle, each
// coordinate an unsigned 16-bit value.
constexpr std::uint32_t kLeftOffset = 0;
constexpr std::uint32_t kTopOffset = 2;
constexpr std::uint32_t kRightOffset = 4;
constexpr std::uint32_t kBottomOffset = 6;

// Bytes of a palette entry, in RGBQUAD order. The fourth is always 0.
constexpr std::uint32_t kBlueByte = 0;
constexpr std::uint32_t kGreenByte = 1;
constexpr std::uint32_t kRedByte = 2;
constexpr std::uint32_t kReservedByte = 3;

// The picture's rectangle. Every recognised picture has left = top = 0, so
// its width is right and its height bottom.
struct Gp8Header {
  std::uint16_t left;
  std::uint16_t top;
  std::uint16_t right;
  std::uint16_t bottom;
};

// Reads the header from the first kGp8HeaderSize bytes of a picture.
Gp8Header ReadGp8Header(const unsigned char* picture);

// The content test of the image plug-in: kRecognised when the head (the first
// 2048 bytes of a file) starts with a GP8 header and palette. Looks at the
// first kPixelStreamOffset bytes only; the name and length are not consulted.
std::int32_t IsGp8Picture(const char* file_name, const unsigned char* head, std::int32_t length);
