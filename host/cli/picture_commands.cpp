// vyn convert, vyn encode: pictures through the image plug-in, and the
// encoder that makes them.
#include <iostream>
#include <new>

#include "host/cli/command_support.h"
#include "host/formats/gp8_encoder.h"
#include "host/host_error.h"
#include "host/formats/picture_io.h"
#include "host/cli/progress.h"
#include "host/cli/text_output.h"

namespace {

// Runs a step whose failures give only a reason, and names the file in them;
// running out of memory on the file is named the same way.
template <class Step>
auto AboutFile(const std::string& path, Step step) {
  try {
    return step();
  } catch (const HostError& error) {
    throw HostError(FileMessage(path, error.what()));
  } catch (const std::bad_alloc&) {
    throw HostError(FileMessage(path, "out of memory"));
  }
}

// Runs a step whose failures name the file already, but not memory running out.
template <class Step>
auto MemoryFor(const std::string& path, Step step) {
  try {
    return step();
  } catch (const std::bad_alloc&) {
    throw HostError(FileMessage(path, "out of memory"));
  }
}

// The 256 colours of a palette as GP8 and the DIB hold them, unused entries 0.
std::vector<Rgb> FullPalette(const std::vector<Rgb>& palette) {
  std::vector<Rgb> full = palette;
  full.resize(kMaxPaletteSize);
  return full;
}

std::string DefaultOutput(const std::string& picture) {
  const std::size_t name_at = picture.size() - BaseName(picture).size();
  const std::size_t dot = picture.rfind('.');
  const std::string stem =
      dot != std::string::npos && dot > name_at ? picture.substr(0, dot) : picture;
  return stem + ".png";
}

}  // namespace

int RunConvert(const CommandContext& context, const std::string& picture,
               const std::string& output_option) {
  const std::string output = output_option.empty() ? DefaultOutput(picture) : output_option;
  const PictureFileType type =
      output == kStandardOutput ? PictureFileType::kPng : PictureFileTypeOf(output);
  if (type == PictureFileType::kUnknown)
    throw UsageError(FileMessage(output, "the output name must end in .png or .bmp"));

  const PluginSet set = PluginsFor(context);
  const Plugin& plugin = RecogniseFile(set, picture, PluginKind::kImage);
  if (SameFile(picture, output))
    throw HostError(
        FileMessage(output, "is the picture being converted; choose another output name"));
  IndexedPicture indexed;
  {
    const DeliveredPicture delivered = MemoryFor(picture, [&] { return plugin.Picture(picture); });
    indexed =
        AboutFile(picture, [&] { return PictureFromDib(delivered.header, delivered.pixels); });
  }
  ProgressBar progress(indexed.height, 0, "writing " + BaseName(output));
  const Bytes file = AboutFile(output, [&] {
    return EncodePicture(indexed, type,
                         [&](std::uint64_t rows, std::uint64_t) { progress.Update(rows, 0); });
  });
  progress.Finish();
  WriteFileAtomically(output, file);
  if (output == kStandardOutput) return 0;  // the picture is the output
  std::cout << "converted " << picture << " (" << indexed.width << "x" << indexed.height
            << ") into " << output << '\n';
  return 0;
}

int RunEncode(const CommandContext& context, const std::string& image, const std::string& output) {
  const PluginSet set = PluginsFor(context);
  RequireKind(set, PluginKind::kImage);  // to check the result
  if (SameFile(image, output)) throw HostError(FileMessage(output, "is the picture being encoded"));

  bool transparency_dropped = false;
  IndexedPicture picture;
  {
    const Bytes source = MemoryFor(image, [&] { return ReadWholeFile(image); });
    picture = AboutFile(image, [&] { return DecodePicture(source, transparency_dropped); });
  }
  if (transparency_dropped)
    Complain("note: " + FileMessage(image, "has transparent pixels; GP8 keeps their colours only"));
  ProgressBar progress(picture.pixels.size(), 0, "encoding " + BaseName(image));
  Bytes gp8 = AboutFile(image, [&] {
    return EncodeGp8(picture, [&](std::uint64_t done, std::uint64_t) { progress.Update(done, 0); });
  });
  progress.Finish();

  PendingFile out(output);
  out.Write(gp8);
  out.Close();
  const std::size_t gp8_size = gp8.size();
  Bytes().swap(gp8);  // the check below needs the memory more

  // The picture takes its name only once the image plug-in decodes it to
  // exactly the pixels and palette it was made from.
  const std::string& written = out.partial();
  const Plugin* plugin = set.Recognise(written, ReadHead(written, kHeadSize), PluginKind::kImage);
  if (plugin == nullptr)
    throw HostError(FileMessage(output,
                                "the image plug-in does not recognise the picture as written; "
                                "nothing was written"));
  IndexedPicture decoded;
  {
    const DeliveredPicture delivered = MemoryFor(output, [&] { return plugin->Picture(written); });
    decoded = AboutFile(output, [&] { return PictureFromDib(delivered.header, delivered.pixels); });
  }
  if (decoded.width != picture.width || decoded.height != picture.height ||
      decoded.pixels != picture.pixels ||
      FullPalette(decoded.palette) != FullPalette(picture.palette))
    throw HostError(FileMessage(output,
                                "the image plug-in decodes the picture as written otherwise than "
                                "it was encoded; nothing was written"));
  out.Commit();
  if (out.to_standard_output()) return 0;  // the picture is the output

  const std::uint64_t pixels = std::uint64_t{picture.width} * picture.height;
  std::cout << "encoded " << image << " (" << picture.width << "x" << picture.height << ", "
            << picture.palette.size() << "-entry palette) into " << output << " ("
            << Counted(gp8_size, "byte") << ", pixels in " << (gp8_size - kGp8StreamOffset)
            << " for " << pixels << ")\n";
  return 0;
}
