// GetPicture: a GP8 picture as an 8-bit DIB, in a header block (the
// BITMAPINFOHEADER and the palette) and a pixel block. GetPreview: none.
#include <cstring>
#include <span>

#include "byte_order.h"
#include "decoder.h"
#include "exports.h"
#include "gp8_format.h"
#include "local_block.h"

namespace {

// The header block: BITMAPINFOHEADER, 256 RGBQUADs, then 14 bytes left 0.
constexpr std::uint32_t kInfoHeaderSize = 40;
constexpr std::uint32_t kDibPaletteOffset = kInfoHeaderSize;
constexpr std::uint32_t kHeaderBlockSize = 1078;
static_assert(kDibPaletteOffset + kPaletteSize <= kHeaderBlockSize);

// BITMAPINFOHEADER field offsets; fields not listed stay 0.
constexpr std::uint32_t kBiSizeOffset = 0;
constexpr std::uint32_t kBiWidthOffset = 4;
constexpr std::uint32_t kBiHeightOffset = 8;
constexpr std::uint32_t kBiPlanesOffset = 12;
constexpr std::uint32_t kBiBitCountOffset = 14;
constexpr std::uint32_t kBiSizeImageOffset = 20;
constexpr std::uint32_t kBiClrUsedOffset = 32;

// The most one flag group can hold and give: a flag byte and eight matches
// of two bytes, each copying up to 18 pixels.
constexpr std::uint64_t kGroupMaxInput = 1 + 8 * 2;
constexpr std::uint64_t kGroupMaxOutput = 8 * 18;

constexpr std::uint16_t kPlanes = 1;
constexpr std::uint16_t kBitCount = 8;

// The pixel block's size, as hosts read it from biSizeImage: room for the
// rows at a stride of right + 3. Computed in 64 bits; anything beyond 32 bits
// cannot be allocated.
std::uint64_t PixelBlockSize(const Gp8Header& header) {
  return (std::uint64_t{header.right} + 3) * header.bottom;
}

// The picture's bytes: the host's, or a working copy of the whole file.
struct PictureBytes {
  LockedBlock working;  // file input only
  const unsigned char* data = nullptr;
  std::uint32_t length = 0;
};

// Reads the whole file, from offset 0, into a working block with one read. A
// read shorter than the file's size is accepted; one that yields nothing is not.
bool ReadPictureFile(const char* path, PictureBytes& picture) {
  if (path == nullptr) return false;
  DWORD size;
  {
    OpenFile file(_lopen(path, OF_READ));
    if (!file.ok()) return false;
    size = GetFileSize(reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(file.get())), nullptr);
    if (size == INVALID_FILE_SIZE) return false;
  }
  if (!picture.working.Allocate(LMEM_MOVEABLE, size)) return false;
  OpenFile file(_lopen(path, OF_READ));
  if (!file.ok()) return false;
  if (_llseek(file.get(), 0, FILE_BEGIN) != 0) return false;
  const auto got = static_cast<std::int32_t>(_lread(file.get(), picture.working.data(), size));
  if (got <= 0) return false;
  picture.data = picture.working.data();
  picture.length = static_cast<std::uint32_t>(got);
  return true;
}

void WriteInfoHeader(unsigned char* block, const Gp8Header& header) {
  WriteLe32(block + kBiSizeOffset, kInfoHeaderSize);
  WriteLe32(block + kBiWidthOffset, static_cast<std::uint32_t>(header.right - header.left));
  WriteLe32(block + kBiHeightOffset, static_cast<std::uint32_t>(header.bottom - header.top));
  WriteLe16(block + kBiPlanesOffset, kPlanes);
  WriteLe16(block + kBiBitCountOffset, kBitCount);
  WriteLe32(block + kBiClrUsedOffset, kPaletteEntryCount);
}

// The GP8 palette is already in RGBQUAD order; its fourth bytes are written
// as 0 whatever the file holds there.
void CopyPalette(unsigned char* to, const unsigned char* from) {
  for (std::uint32_t i = 0; i < kPaletteEntryCount; ++i) {
    const unsigned char* entry = from + i * kPaletteEntrySize;
    unsigned char* quad = to + i * kPaletteEntrySize;
    quad[kBlueByte] = entry[kBlueByte];
    quad[kGreenByte] = entry[kGreenByte];
    quad[kRedByte] = entry[kRedByte];
    quad[kReservedByte] = 0;
  }
}

}  // namespace

PLUGIN_EXPORT std::int32_t PLUGIN_CALL GetPicture(const char* source, std::int32_t length,
                                                  std::uint32_t flags, HLOCAL* header_handle,
                                                  HLOCAL* pixel_handle, std::int32_t /*unused1*/,
                                                  std::int32_t /*unused2*/) {
  if (header_handle == nullptr || pixel_handle == nullptr) return kPluginFailed;

  PictureBytes picture;
  if ((flags & kInputKindMask) != 0) {
    if (source == nullptr) return kPluginFailed;
    picture.data = reinterpret_cast<const unsigned char*>(source);
    picture.length = static_cast<std::uint32_t>(length);
  } else if (!ReadPictureFile(source, picture)) {
    return kPluginFailed;
  }
  if (picture.length < kPixelStreamOffset) return kPluginFailed;  // no whole palette

  // The pixels are sized from right and bottom, the DIB from the differences:
  // with a corner off the origin the two would disagree.
  const Gp8Header header = ReadGp8Header(picture.data);
  if (header.left != 0 || header.top != 0) return kPluginFailed;

  // Every 17 bytes of stream (a flag byte and eight matches) give at most 144
  // pixels: a picture that needs more than its stream can give is cut short,
  // and is refused before its pixel block is allocated.
  const std::uint64_t stream_length = picture.length - kPixelStreamOffset;
  const std::uint64_t most_pixels = (stream_length / kGroupMaxInput + 1) * kGroupMaxOutput;
  if (std::uint64_t{header.right} * header.bottom > most_pixels) return kPluginFailed;

  LockedBlock info;
  if (!info.Allocate(LMEM_MOVEABLE | LMEM_ZEROINIT, kHeaderBlockSize)) return kPluginFailed;
  const std::uint64_t pixel_size = PixelBlockSize(header);
  LockedBlock pixels;
  if (!pixels.Allocate(LMEM_MOVEABLE, pixel_size)) return kPluginFailed;

  WriteInfoHeader(info.data(), header);
  CopyPalette(info.data() + kDibPaletteOffset, picture.data + kPaletteOffset);
  const std::span<const unsigned char> stream(picture.data + kPixelStreamOffset,
                                              picture.length - kPixelStreamOffset);
  if (!DecodeGp8Pixels(stream, std::span<unsigned char>(pixels.data(), pixels.size()), header.right,
                       header.bottom))
    return kPluginFailed;  // the stream ended before the picture did
  WriteLe32(info.data() + kBiSizeImageOffset, static_cast<std::uint32_t>(pixel_size));

  picture.working.Free();
  *pixel_handle = pixels.Release();
  *header_handle = info.Release();
  return kPluginOk;
}

PLUGIN_EXPORT std::int32_t PLUGIN_CALL GetPreview(const char* /*source*/, std::int32_t /*length*/,
                                                  std::uint32_t /*flags*/,
                                                  HLOCAL* /*header_handle*/,
                                                  HLOCAL* /*pixel_handle*/,
                                                  std::int32_t /*unused1*/,
                                                  std::int32_t /*unused2*/) {
  return kPluginFailed;  // no preview is offered
}
