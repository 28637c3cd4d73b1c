// The viewer plug-in interface as both sides see it: calling convention,
// argument types, the flags word, result codes and the records exchanged with
// the host. Plain C layout; the host and the tests include this header too.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform.h"

#if defined(_WIN32)
#define PLUGIN_CALL __stdcall
#define PLUGIN_EXPORT extern "C"
#else
#define PLUGIN_CALL
#define PLUGIN_EXPORT extern "C" __attribute__((visibility("default")))
#endif

// Flags word: input kind in bits 0-2, GetFile's output kind in bits 8-10.
constexpr std::uint32_t kInputKindMask = 0x7;
constexpr std::uint32_t kOutputKindMask = 0x700;
constexpr std::uint32_t kMemoryInput = 1;

constexpr std::int32_t kPluginOk = 0;
constexpr std::int32_t kPluginFailed = -1;
constexpr std::int32_t kRecognised = -1;
constexpr std::int32_t kNotRecognised = 0;

constexpr std::size_t kHeadSize = 2048;  // bytes a content test examines

// IsSupported's second argument: a file handle when every bit from bit 16 up
// is zero, else the address of the head. Pointer-sized so that it can carry
// an address on a 64-bit build.
using HandleOrHead = std::uintptr_t;

// One member as the archive plug-in reports it to the host.
struct FileInfoRecord {
  char method[8];                  // "DERUVU"
  std::uint32_t position;          // absolute offset of the member in the archive
  std::uint32_t compressed_size;   // stored size
  std::uint32_t extracted_size;    // size once extracted
  std::uint32_t timestamp;         // not set: 0
  char path[200];                  // not set: 0
  char name[200];                  // NUL-terminated, at most 12 characters
  std::uint32_t crc;               // not set: 0
};
static_assert(sizeof(FileInfoRecord) == 428);
static_assert(offsetof(FileInfoRecord, position) == 8);
static_assert(offsetof(FileInfoRecord, compressed_size) == 12);
static_assert(offsetof(FileInfoRecord, extracted_size) == 16);
static_assert(offsetof(FileInfoRecord, path) == 24);
static_assert(offsetof(FileInfoRecord, name) == 224);
static_assert(offsetof(FileInfoRecord, crc) == 424);

// A picture's rectangle and depth as the image plug-in reports it.
struct PictureInfoRecord {
  std::int32_t left;
  std::int32_t top;
  std::int32_t width;
  std::int32_t height;
  std::uint16_t x_density;       // always 1
  std::uint16_t y_density;       // always 1
  std::uint16_t bits_per_pixel;  // always 8
  std::uint16_t reserved;        // alignment; written as 0
  std::uint32_t text_handle;     // always 0
};
static_assert(sizeof(PictureInfoRecord) == 28);
static_assert(offsetof(PictureInfoRecord, x_density) == 16);
static_assert(offsetof(PictureInfoRecord, bits_per_pixel) == 20);
static_assert(offsetof(PictureInfoRecord, text_handle) == 24);

// Function types of every export, for hosts that look them up by name.
using GetPluginInfoFn = std::int32_t(PLUGIN_CALL*)(std::int32_t index, char* buffer,
                                                   std::int32_t size);
using IsSupportedFn = std::int32_t(PLUGIN_CALL*)(const char* name, HandleOrHead handle_or_head);
using GetArchiveInfoFn = std::int32_t(PLUGIN_CALL*)(const char* source, std::int32_t length,
                                                    std::uint32_t flags, HLOCAL* listing);
using GetFileInfoFn = std::int32_t(PLUGIN_CALL*)(const char* source, std::int32_t length,
                                                 const char* member, std::uint32_t flags,
                                                 FileInfoRecord* record);
using GetFileFn = std::int32_t(PLUGIN_CALL*)(const char* source, std::int32_t position,
                                             char* destination, std::uint32_t flags,
                                             std::int32_t unused1, std::int32_t unused2);
using GetPictureInfoFn = std::int32_t(PLUGIN_CALL*)(const char* source, std::int32_t length,
                                                    std::uint32_t flags,
                                                    PictureInfoRecord* record);
using GetPictureFn = std::int32_t(PLUGIN_CALL*)(const char* source, std::int32_t length,
                                                std::uint32_t flags, HLOCAL* header,
                                                HLOCAL* pixels, std::int32_t unused1,
                                                std::int32_t unused2);
using GetPreviewFn = GetPictureFn;
