#include "host/cli/command_support.h"

#include <CLI/CLI.hpp>
#include <cstdio>
#include <iostream>

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

void AddEncodingOption(CLI::App& command, std::string& encoding) {
  command
      .add_option("--encoding", encoding,
                  "Code page of the member names: cp932 (Shift-JIS, the format's own), latin1, "
                  "utf-8 or any other the system knows")
      ->type_name("NAME")
      ->capture_default_str();
}
