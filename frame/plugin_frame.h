// What the frame needs from the plug-in it is linked into: its four
// information strings and its content test. The frame never includes a
// plug-in's headers; each plug-in defines these two.
#pragma once

#include <cstdint>

#include "plugin_abi.h"

constexpr int kInformationStringCount = 4;

// Index 0: interface kind, 1: description, 2: file pattern, 3: format name.
extern const char* const kPluginInformation[kInformationStringCount];

// Examines the first kHeadSize bytes of a file: kRecognised or kNotRecognised.
std::int32_t PluginContentTest(const char* file_name, unsigned char* head, std::int32_t length);

// Exports of the frame, present in every plug-in.
PLUGIN_EXPORT std::int32_t PLUGIN_CALL GetPluginInfo(std::int32_t index, char* buffer,
                                                     std::int32_t size);
PLUGIN_EXPORT std::int32_t PLUGIN_CALL IsSupported(const char* name, HandleOrHead handle_or_head);
