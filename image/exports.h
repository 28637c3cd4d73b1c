// The exports of the image plug-in, beside the frame's GetPluginInfo and
// IsSupported.
#pragma once

#include <cstdint>

#include "plugin_frame.h"

PLUGIN_EXPORT std::int32_t PLUGIN_CALL GetPictureInfo(const char* source, std::int32_t length,
                                                      std::uint32_t flags,
                                                      PictureInfoRecord* record);
PLUGIN_EXPORT std::int32_t PLUGIN_CALL GetPicture(const char* source, std::int32_t length,
                                                  std::uint32_t flags, HLOCAL* header_handle,
                                                  HLOCAL* pixel_handle, std::int32_t unused1,
                                                  std::int32_t unused2);
PLUGIN_EXPORT std::int32_t PLUGIN_CALL GetPreview(const char* source, std::int32_t length,
                                                  std::uint32_t flags, HLOCAL* header_handle,
                                                  HLOCAL* pixel_handle, std::int32_t unused1,
                                                  std::int32_t unused2);
