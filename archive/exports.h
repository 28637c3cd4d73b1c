// The exports of the archive plug-in, beside the frame's GetPluginInfo and
// IsSupported.
#pragma once

#include <cstdint>

#include "plugin_frame.h"

PLUGIN_EXPORT std::int32_t PLUGIN_CALL GetArchiveInfo(const char* source, std::int32_t length,
                                                      std::uint32_t flags, HLOCAL* listing);
PLUGIN_EXPORT std::int32_t PLUGIN_CALL GetFileInfo(const char* source, std::int32_t length,
                                                   const char* member, std::uint32_t flags,
                                                   FileInfoRecord* record);
PLUGIN_EXPORT std::int32_t PLUGIN_CALL GetFile(const char* source, std::int32_t position,
                                               char* destination, std::uint32_t flags,
                                               std::int32_t unused1, std::int32_t unused2);
