#include "gp8_format.h"

#include "byte_order.h"
#include "plugin_frame.h"

const char* const kPluginInformation[kInformationStringCount] = {
    "00IN",
    "GP8 to DIB filter ver0.20 (C) 2026 wennel authors",
    "*.GP8",
    "Vyn 256-color Picture Format(GP8)",
};

std::int32_t PluginContentTest(const char* file_name, unsigned char* head, std::int32_t length) {
  return IsGp8Picture(file_name, head, length);
}

Gp8Header ReadGp8Header(const unsigned char* picture) {
  return Gp8Header{ReadLe16(picture + kLeftOffset), ReadLe16(picture + kTopOffset),
                   ReadLe16(picture + kRightOffset), ReadLe16(picture + kBottomOffset)};
}

std::int32_t IsGp8Picture(const char* /*file_name*/, const unsigned char* head,
                          std::int32_t /*length*/) {
  const Gp8Header header = ReadGp8Header(head);
  if (header.left != 0 || header.top != 0) return kNotRecognised;
  // A picture may be empty in one direction, not in both.
  if (header.right == 0 && header.bottom == 0) return kNotRecognised;
  for (std::uint32_t i = 0; i < kPaletteEntryCount; ++i) {
    if (head[kPaletteOffset + i * kPaletteEntrySize + kReservedByte] != 0) return kNotRecognised;
  }
  return kRecognised;
}
