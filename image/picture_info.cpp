// GetPictureInfo: a picture's rectangle and depth, from its header alone.
#include <cstring>

#include "exports.h"
#include "gp8_format.h"
#include "local_block.h"

namespace {

constexpr std::uint16_t kDensity = 1;
constexpr std::uint16_t kBitsPerPixel = 8;  // GP8 has one depth: 256 palette colours

// Reads the header from the start of the named file, whatever the caller's
// position argument says.
bool ReadHeaderFromFile(const char* path, unsigned char (&header)[kGp8HeaderSize]) {
  if (path == nullptr) return false;
  OpenFile file(_lopen(path, OF_READ));
  if (!file.ok()) return false;
  return _lread(file.get(), header, kGp8HeaderSize) == kGp8HeaderSize;
}

}  // namespace

PLUGIN_EXPORT std::int32_t PLUGIN_CALL GetPictureInfo(const char* source, std::int32_t length,
                                                      std::uint32_t flags,
                                                      PictureInfoRecord* record) {
  if (record == nullptr) return kPluginFailed;
  unsigned char bytes[kGp8HeaderSize];
  if ((flags & kInputKindMask) == kMemoryInput) {
    // A header that was never handed over cannot be reported.
    if (source == nullptr || static_cast<std::uint32_t>(length) < kGp8HeaderSize)
      return kPluginFailed;
    std::memcpy(bytes, source, kGp8HeaderSize);
  } else if (!ReadHeaderFromFile(source, bytes)) {
    return kPluginFailed;
  }

  // No test of the header: whatever rectangle it holds is reported, so
  // right < left gives a negative width.
  const Gp8Header header = ReadGp8Header(bytes);
  PictureInfoRecord info{};
  info.left = header.left;
  info.top = header.top;
  info.width = static_cast<std::int32_t>(header.right) - static_cast<std::int32_t>(header.left);
  info.height = static_cast<std::int32_t>(header.bottom) - static_cast<std::int32_t>(header.top);
  info.x_density = kDensity;
  info.y_density = kDensity;
  info.bits_per_pixel = kBitsPerPixel;
  info.reserved = 0;
  info.text_handle = 0;
  std::memcpy(record, &info, sizeof info);
  return kPluginOk;
}
