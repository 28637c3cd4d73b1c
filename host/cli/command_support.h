// What several commands share: the plug-ins, and a file recognised by one.
#pragma once

#include <span>
#include <string>

#include "host/cli/commands.h"
#include "host/formats/picture_io.h"
#include "host/plugins/plugin_host.h"

// The plug-ins of the directory the command line and environment name.
// Throws HostError when there is none of the kind a command needs.
PluginSet PluginsFor(const CommandContext& context);
void RequireKind(const PluginSet& set, PluginKind kind);

// The plug-in of the kind that recognises the file from its head. Throws
// HostError naming the file when it cannot be read or no plug-in of the kind
// recognises it.
const Plugin& RecogniseFile(const PluginSet& set, const std::string& path, PluginKind kind);

// A picture in memory decoded through the image plug-in and encoded as a PNG
// or BMP file. Throws HostError with the reason only, without a name.
Bytes ConvertPicture(const Plugin& image, std::span<const unsigned char> picture,
                     PictureFileType type, const RowProgress& progress = {});

// A PNG or BMP file encoded as GP8 in exactly the given palette (each colour
// the palette holds to its first entry, any other to the nearest, or
// dithered), and checked: the image plug-in must decode the stream to these
// very pixels and palette. `inexact` counts the pixels whose colour the
// palette lacked. Throws HostError naming the file.
Bytes EncodeInPalette(const Plugin& image, const std::string& path,
                      const std::vector<Rgb>& palette, bool dither, std::uint64_t& inexact);

// The --encoding option of a command that reads or writes member names.
void AddEncodingOption(CLI::App& command, std::string& encoding);

// -r: a command's directories are looked into down to their subdirectories.
void AddRecursiveOption(CLI::App& command, bool& recursive);

// -j N: how many pictures are decoded and compressed at once; by default as
// many as the machine has cores.
void AddJobsOption(CLI::App& command, unsigned& jobs);

// "png" or "bmp" as a file type; UsageError for anything else.
PictureFileType PictureFormatNamed(const std::string& format);
