#include "host/cli/command_support.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <thread>
#include <cstdio>
#include <new>
#include <iostream>

#include "host/formats/gp8_encoder.h"
#include "host/formats/palette_mapping.h"
#include "host/host_error.h"

void Complain(const std::string& message) {
  // What went to standard output comes first. Through stdio, whose failure
  // is found once the command is done, never an exception here.
  std::fflush(stdout);
  try {
    std::cout.flush();  // a console's text waits in its own buffer
  } catch (const std::ios_base::failure&) {
    std::cout.clear(std::ios::badbit);  // found and said once the command is done
  }
  std::cerr << "vyn: " << message << '\n';
}

PluginSet PluginsFor(const CommandContext& context) {
  return LoadPlugins(PluginDirectory(context.plugin_option));
}

void RequireKind(const PluginSet& set, PluginKind kind) {
  if (!set.Has(kind))
    throw HostError(FileMessage(set.directory, kind == PluginKind::kArchive
                                                   ? "holds no archive plug-in (kind \"00AM\")"
                                                   : "holds no image plug-in (kind \"00IN\")"));
}

const Plugin& RecogniseFile(const PluginSet& set, const std::string& path, PluginKind kind) {
  RequireKind(set, kind);
  const Bytes head = ReadHead(path, kHeadSize);
  const Plugin* plugin = set.Recognise(path, head, kind);
  if (plugin == nullptr)
    throw HostError(FileMessage(path, kind == PluginKind::kArchive
                                          ? "not recognised as an archive by any archive plug-in"
                                          : "not recognised as a picture by any image plug-in"));
  return *plugin;
}

Bytes ConvertPicture(const Plugin& image, std::span<const unsigned char> picture,
                     PictureFileType type, const RowProgress& progress) {
  IndexedPicture indexed;
  {
    const DeliveredPicture delivered = image.PictureInMemory(picture);
    indexed = PictureFromDib(delivered.header, delivered.pixels);
  }
  return EncodePicture(indexed, type, progress);
}

PictureFileType PictureFormatNamed(const std::string& format) {
  if (format == "png") return PictureFileType::kPng;
  if (format == "bmp") return PictureFileType::kBmp;
  throw UsageError("the picture format must be png or bmp, not \"" + format + "\"");
}

void AddRecursiveOption(CLI::App& command, bool& recursive) {
  command.add_flag("-r,--recursive", recursive, "Look into the directories' subdirectories too");
}

void AddJobsOption(CLI::App& command, unsigned& jobs) {
  jobs = std::max(1u, std::thread::hardware_concurrency());
  command
      .add_option("-j,--jobs", jobs,
                  "Pictures decoded and compressed at once (default: the machine's cores)")
      ->type_name("N")
      ->check(CLI::Range(1u, 256u))
      ->capture_default_str();
}

void AddEncodingOption(CLI::App& command, std::string& encoding) {
  command
      .add_option("--encoding", encoding,
                  "Code page of the member names: cp932 (Shift-JIS, the format's own), latin1, "
                  "utf-8 or any other the system knows")
      ->type_name("NAME")
      ->capture_default_str();
}

Bytes EncodeInPalette(const Plugin& image, const std::string& path,
                      const std::vector<Rgb>& palette, bool dither, std::uint64_t& inexact) {
  try {
    IndexedPicture picture;
    {
      bool transparency_dropped = false;
      const PictureFile file = DecodePicture(ReadWholeFile(path), transparency_dropped);
      PaletteMapping mapping = file.IsTruecolour() ? MapToPalette(file.colours, palette, dither)
                                                   : MapToPalette(file.indexed, palette, dither);
      picture.width = file.IsTruecolour() ? file.colours.width : file.indexed.width;
      picture.height = file.IsTruecolour() ? file.colours.height : file.indexed.height;
      picture.palette = palette;
      picture.pixels = std::move(mapping.indexes);
      inexact = mapping.inexact;
    }
    Bytes gp8 = EncodeGp8(picture);
    const DeliveredPicture delivered = image.PictureInMemory(gp8);
    const IndexedPicture decoded = PictureFromDib(delivered.header, delivered.pixels);
    std::vector<Rgb> full = palette;
    std::vector<Rgb> decoded_full = decoded.palette;
    full.resize(kMaxPaletteSize);
    decoded_full.resize(kMaxPaletteSize);
    if (decoded.width != picture.width || decoded.height != picture.height ||
        decoded.pixels != picture.pixels || decoded_full != full)
      throw HostError("the image plug-in decodes the picture as encoded otherwise than it was");
    return gp8;
  } catch (const HostError& error) {
    throw HostError(FileMessage(path, error.what()));
  } catch (const std::bad_alloc&) {
    throw HostError(FileMessage(path, "out of memory"));
  }
}
