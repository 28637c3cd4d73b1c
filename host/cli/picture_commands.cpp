// vyn convert, vyn encode: pictures through the image plug-in, and the
// encoder that makes them. Converting an archive's pictures is extraction
// with conversion, in archive_commands.
#include <CLI/CLI.hpp>
#include <iostream>
#include <memory>
#include <new>
#include <optional>

#include "host/cli/batch.h"
#include "host/cli/command_support.h"
#include "host/cli/ordered_work.h"
#include "host/cli/progress.h"
#include "host/cli/text_output.h"
#include "host/files/name_encoding.h"
#include "host/formats/bmp_codec.h"
#include "host/formats/gp8_encoder.h"
#include "host/formats/palette_mapping.h"
#include "host/formats/palette_reduction.h"
#include "host/formats/picture_io.h"
#include "host/host_error.h"

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

std::string DefaultOutput(const std::string& picture, PictureFileType type) {
  const std::size_t name_at = picture.size() - BaseName(picture).size();
  const std::size_t dot = picture.rfind('.');
  const std::string stem =
      dot != std::string::npos && dot > name_at ? picture.substr(0, dot) : picture;
  return stem + (type == PictureFileType::kBmp ? ".bmp" : ".png");
}

// ARCHIVE:MEMBER split at the first ":" after a file's name, so that a
// colon in a path (C:\ on Windows) or in the member's name still works; a
// file of the whole name is that file.
struct Source {
  std::string path;
  std::optional<std::string> member;
};

Source SplitSource(const std::string& source) {
  if (IsRegularFile(source)) return {source, std::nullopt};
  for (std::size_t colon = source.find(':'); colon != std::string::npos;
       colon = source.find(':', colon + 1)) {
    const std::string path = source.substr(0, colon);
    if (!path.empty() && IsRegularFile(path)) return {path, source.substr(colon + 1)};
  }
  return {source, std::nullopt};  // reading it says what is wrong
}

// The type an output file's name asks for, checked against --format.
PictureFileType OutputType(const std::string& output, const std::string& format) {
  const PictureFileType named = PictureFileTypeOf(output);
  if (format.empty())
    return named == PictureFileType::kUnknown && output == kStandardOutput ? PictureFileType::kPng
                                                                           : named;
  const PictureFileType asked = PictureFormatNamed(format);
  if (output != kStandardOutput && named != asked)
    throw UsageError(FileMessage(
        output, "the output name does not end in ." + format + ", the --format asked for"));
  return asked;
}

int ConvertArchive(const CommandContext& context, const ConvertOptions& options,
                   const Source& source) {
  ExtractOptions extract;
  extract.archive = source.path;
  if (source.member) extract.members = {*source.member};
  extract.encoding = options.encoding;
  extract.ignore_case = options.ignore_case;
  extract.pictures_only = true;
  extract.jobs = options.jobs;
  const bool one_file = options.output == kStandardOutput ||
                        (PictureFileTypeOf(options.output) != PictureFileType::kUnknown &&
                         !IsDirectory(options.output));
  if (one_file) {
    extract.convert =
        OutputType(options.output, options.format) == PictureFileType::kBmp ? "bmp" : "png";
    extract.picture_file = options.output;
  } else {
    extract.convert = options.format.empty() ? "png" : options.format;
    if (!options.output.empty()) extract.directory = options.output;
  }
  return RunExtract(context, extract);
}

// FROM's palette, for encode --palette: a GP8 picture's 256 entries as the
// image plug-in delivers them, or the palette of a palette PNG or BMP.
std::vector<Rgb> PaletteFrom(const PluginSet& set, const std::string& from) {
  const Plugin* plugin = set.Recognise(from, ReadHead(from, kHeadSize), PluginKind::kImage);
  if (plugin != nullptr) {
    const DeliveredPicture delivered = MemoryFor(from, [&] { return plugin->Picture(from); });
    return AboutFile(from, [&] { return PictureFromDib(delivered.header, delivered.pixels); })
        .palette;
  }
  const Bytes bytes = MemoryFor(from, [&] { return ReadWholeFile(from); });
  bool transparent = false;
  const PictureFile file = AboutFile(from, [&] {
    if (!IsPng(bytes) && !IsBmp(bytes))
      throw HostError("is not a GP8 picture the image plug-in recognises, nor a PNG or BMP");
    return DecodePicture(bytes, transparent);
  });
  if (file.IsTruecolour())
    throw HostError(
        FileMessage(from, "has no palette; --palette takes a GP8 picture or a palette PNG or BMP"));
  return file.indexed.palette;
}

// The picture to encode as the options ask, from the file as read: in FROM's
// palette, reduced to fewer colours, or as it is. Says on standard error when
// colours are reduced; `inexact` is set to the pixels FROM's palette lacks.
IndexedPicture PictureToEncode(const PluginSet& set, const EncodeOptions& options,
                               const PictureFile& file, std::uint64_t& inexact) {
  const std::string& image = options.image;
  if (!options.palette.empty()) {
    IndexedPicture picture;
    picture.palette = PaletteFrom(set, options.palette);
    PaletteMapping mapping = AboutFile(image, [&] {
      return file.IsTruecolour() ? MapToPalette(file.colours, picture.palette, options.dither)
                                 : MapToPalette(file.indexed, picture.palette, options.dither);
    });
    picture.width = file.IsTruecolour() ? file.colours.width : file.indexed.width;
    picture.height = file.IsTruecolour() ? file.colours.height : file.indexed.height;
    picture.pixels = std::move(mapping.indexes);
    inexact = mapping.inexact;
    return picture;
  }
  // Colours are reduced only beyond 256 or beyond --colors: a picture of
  // fewer keeps its palette, or gets one of its colours as they appear.
  const std::size_t limit =
      options.colours != 0 ? static_cast<std::size_t>(options.colours) : kMaxPaletteSize;
  std::size_t colours = 0;
  RgbPicture expanded;
  const RgbPicture& rgb = file.IsTruecolour() ? file.colours : (expanded = ColoursOf(file));
  if (!file.HasIndexes()) {
    colours = CountColours(rgb.pixels);
  } else if (options.colours != 0) {
    colours = file.IsTruecolour() ? file.indexed.palette.size() : CountColours(rgb.pixels);
  }
  if (colours <= limit) return file.indexed;

  IndexedPicture picture;
  picture.width = rgb.width;
  picture.height = rgb.height;
  picture.palette = MemoryFor(image, [&] { return ReducedPalette(rgb.pixels, limit); });
  picture.pixels =
      MemoryFor(image, [&] { return MapToPalette(rgb, picture.palette, options.dither).indexes; });
  Complain("note: " + image + " has " + Grouped(colours) + " colours; reduced to " +
           std::to_string(picture.palette.size()));
  return picture;
}

}  // namespace

CommandRun DeclareConvert(CLI::App& command) {
  auto options = std::make_shared<ConvertOptions>();
  options->encoding = NameEncoding::kDefault;
  command
      .add_option("SOURCE", options->sources,
                  "A picture (GP8), an archive, or ARCHIVE:MEMBER for one member (a name or "
                  "pattern); or several pictures, archives and directories of them")
      ->required();
  AddRecursiveOption(command, options->recursive);
  AddJobsOption(command, options->jobs);
  command
      .add_option("-o,--output", options->output,
                  "Output file, .png or .bmp, or - for standard output; for an archive's "
                  "pictures a directory (default: PICTURE's name with .png; for an archive the "
                  "current directory)")
      ->type_name("OUT");
  command.add_option("--format", options->format, "png or bmp (default: png)")
      ->type_name("FORMAT")
      ->check(CLI::IsMember({"png", "bmp"}));
  command.add_flag("--ignore-case", options->ignore_case,
                   "Match the MEMBER name or pattern whatever its case");
  AddEncodingOption(command, options->encoding);
  command.footer(R"(The output is the 8-bit bitmap the image plug-in delivers, with its 256-entry palette, rows
top first. From an archive, every member the image plug-in recognises is decoded in memory and
written into the directory as its name with .png (or .bmp); other members are left out. Names,
refusals and numbered names (A~2.png) are as in extract. ARCHIVE:MEMBER with -o OUT.png writes
that one picture, for example:
  vyn convert demo.ARC -o pictures
  vyn convert demo.ARC:sample.GP8 -o sample.png
  vyn convert 'demo.ARC:*.GP8' --format bmp -o pictures
Several sources, or a directory (the pictures and archives among its files, recognised by
content; -r its subdirectories' too), go into the -o directory, each under its own name: a
picture as NAME.png, an archive's pictures in a folder NAME, below the folders between the
directory given and the file. One that fails is said and the others go on; a summary ends it:
  vyn convert -r game/ -o pictures)");
  return [options](const CommandContext& context) { return RunConvert(context, *options); };
}

namespace {

// The picture through GetPicture, file input, as an indexed picture.
IndexedPicture DecodedPictureFile(const Plugin& plugin, const std::string& picture) {
  const DeliveredPicture delivered = MemoryFor(picture, [&] { return plugin.Picture(picture); });
  return AboutFile(picture, [&] { return PictureFromDib(delivered.header, delivered.pixels); });
}

// A picture file converted, and its size for the line that says so.
struct ConvertedFile {
  std::string picture;
  std::string output;
  Bytes bytes;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
};

// Every picture and archive of the sources into the output directory, each
// under its own name. Picture files are decoded and compressed -j at a
// time; an archive's pictures likewise, one archive after the other.
int ConvertBatch(const CommandContext& context, const ConvertOptions& options) {
  const std::string directory = options.output.empty() ? "." : options.output;
  if (directory == kStandardOutput || (PictureFileTypeOf(directory) != PictureFileType::kUnknown &&
                                       !IsDirectory(directory)))
    throw UsageError("convert: with several sources, -o names a directory, not " + directory);
  const PluginSet set = PluginsFor(context);
  int status = 0;
  const auto complain = [&](const std::string& message) {
    Complain(message);
    status = 1;
  };
  std::vector<BatchFile> files = BatchFiles(options.sources, options.recursive, complain);
  std::erase_if(files, [&](const BatchFile& file) {
    try {
      return !file.named && set.Recognise(file.path, ReadHead(file.path, kHeadSize)) == nullptr;
    } catch (const HostError&) {
      return false;  // said when it is converted
    }
  });
  const PictureFileType type =
      options.format == "bmp" ? PictureFileType::kBmp : PictureFileType::kPng;
  const std::string extension = type == PictureFileType::kBmp ? ".bmp" : ".png";
  std::size_t failed = 0;
  const auto fail = [&](const std::string& message) {
    Complain(message);
    status = 1;
    ++failed;
  };
  OrderedWork<ConvertedFile> work(options.jobs, [&](std::future<ConvertedFile>& result) {
    try {
      const ConvertedFile converted = result.get();
      WriteFileAtomically(converted.output, converted.bytes);
      std::cout << "converted " << converted.picture << " (" << converted.width << "x"
                << converted.height << ") into " << converted.output << '\n';
    } catch (const HostError& error) {
      fail(error.what());
    }
  });
  for (const BatchFile& file : files) {
    try {
      const Plugin* plugin = set.Recognise(file.path, ReadHead(file.path, kHeadSize));
      if (plugin == nullptr)
        throw HostError(FileMessage(file.path, "not recognised by any plug-in"));
      if (plugin->kind() == PluginKind::kArchive) {
        work.Drain();  // what came before is said before the archive
        ConvertOptions one = options;
        one.sources = {file.path};
        one.output = JoinPath(directory, file.folder);
        MakeDirectories(one.output);
        if (RunConvert(context, one) != 0) {
          status = 1;
          ++failed;
        }
        continue;
      }
      const std::string output = JoinPath(directory, file.folder + extension);
      const std::size_t slash = output.find_last_of("/\\");
      if (slash != std::string::npos) MakeDirectories(output.substr(0, slash));
      if (SameFile(file.path, output))
        throw HostError(
            FileMessage(output, "is the picture being converted; choose another output name"));
      work.Add([plugin, picture = file.path, output, type] {
        ConvertedFile converted{picture, output, {}, 0, 0};
        const IndexedPicture indexed = DecodedPictureFile(*plugin, picture);
        converted.width = indexed.width;
        converted.height = indexed.height;
        converted.bytes = AboutFile(output, [&] { return EncodePicture(indexed, type); });
        return converted;
      });
    } catch (const HostError& error) {
      fail(error.what());
    }
  }
  work.Drain();
  std::cout << "converted " << BatchSummary(files.size(), failed, "file") << '\n';
  return status;
}

}  // namespace

int RunConvert(const CommandContext& context, const ConvertOptions& options) {
  if (!options.format.empty()) PictureFormatNamed(options.format);  // a usage error first
  if (IsBatch(options.sources)) return ConvertBatch(context, options);
  const PluginSet set = PluginsFor(context);
  const Source source = SplitSource(options.sources.front());
  if (set.Has(PluginKind::kArchive)) {
    const Bytes head = ReadHead(source.path, kHeadSize);
    if (set.Recognise(source.path, head, PluginKind::kArchive) != nullptr)
      return ConvertArchive(context, options, source);
  }
  if (source.member)
    throw HostError(FileMessage(source.path,
                                "not recognised as an archive by any archive "
                                "plug-in, so it has no member \"" +
                                    *source.member + "\""));

  const std::string& picture = source.path;
  const std::string output =
      options.output.empty()
          ? DefaultOutput(picture,
                          options.format == "bmp" ? PictureFileType::kBmp : PictureFileType::kPng)
          : options.output;
  const PictureFileType type = OutputType(output, options.format);
  if (type == PictureFileType::kUnknown)
    throw UsageError(FileMessage(output, "the output name must end in .png or .bmp"));

  const Plugin& plugin = RecogniseFile(set, picture, PluginKind::kImage);
  if (SameFile(picture, output))
    throw HostError(
        FileMessage(output, "is the picture being converted; choose another output name"));
  const IndexedPicture indexed = DecodedPictureFile(plugin, picture);
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

CommandRun DeclareEncode(CLI::App& command) {
  auto options = std::make_shared<EncodeOptions>();
  command.add_option("IMAGE", options->image, "A PNG or BMP picture")->required();
  command
      .add_option("-o,--output", options->output,
                  "The GP8 picture to write, or - for standard output")
      ->type_name("OUT.GP8")
      ->required();
  CLI::Option* palette =
      command
          .add_option("--palette", options->palette,
                      "Take the palette of FROM, a GP8 picture or a palette PNG or BMP, entry "
                      "for entry")
          ->type_name("FROM");
  command
      .add_option("--colors", options->colours,
                  "Reduce the picture to at most N colours (default: 256, and only beyond)")
      ->type_name("N")
      ->check(CLI::Range(2, 256))
      ->excludes(palette);
  command.add_flag("--dither", options->dither,
                   "Dither colours the palette lacks (Floyd-Steinberg) instead of taking the "
                   "nearest");
  command.footer(R"(A palette picture keeps its palette; a truecolour one of at most 256 colours gets a palette of
its colours in the order they appear. A picture of more colours is reduced to 256 (median cut
and k-means in OKLab, a perceptual colour space), or to N with --colors N, and each pixel takes
the nearest colour of the new palette; a note on standard error says so.
--palette FROM gives the picture exactly FROM's palette: its 256 entries, in FROM's order and
byte for byte, used or not, as a game that shares or animates palettes needs. A pixel whose
colour FROM's palette holds gets the index of its first entry of that colour; any other the
nearest entry in OKLab, and the summary counts them. A palette picture whose palette FROM's
begins with keeps its indexes. --dither spreads the difference of each such pixel to its
neighbours (Floyd-Steinberg error diffusion), so that areas of colours the palette lacks
average out to them; pixels of colours the palette holds stay exact. For example:
  vyn encode edited.png -o TITLE.GP8 --palette original/TITLE.GP8 --dither
  vyn encode photo.png -o PHOTO.GP8 --colors 64
The pixels are compressed by optimal parsing, the shortest stream the format allows. The
picture takes its name only after the image plug-in has decoded it to exactly these pixels
and palette.)");
  return [options](const CommandContext& context) { return RunEncode(context, *options); };
}

int RunEncode(const CommandContext& context, const EncodeOptions& options) {
  const std::string& image = options.image;
  const std::string& output = options.output;
  const PluginSet set = PluginsFor(context);
  RequireKind(set, PluginKind::kImage);  // to check the result
  if (SameFile(image, output)) throw HostError(FileMessage(output, "is the picture being encoded"));

  bool transparency_dropped = false;
  IndexedPicture picture;
  std::uint64_t inexact = 0;
  {
    PictureFile file;
    {
      const Bytes source = MemoryFor(image, [&] { return ReadWholeFile(image); });
      file = AboutFile(image, [&] { return DecodePicture(source, transparency_dropped); });
    }
    if (transparency_dropped)
      Complain("note: " +
               FileMessage(image, "has transparent pixels; GP8 keeps their colours only"));
    picture = PictureToEncode(set, options, file, inexact);
  }
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
            << " for " << pixels << ")";
  if (!options.palette.empty()) {
    if (inexact == 0) {
      std::cout << "; every pixel's colour is in " << options.palette << "'s palette";
    } else {
      std::cout << "; " << Grouped(inexact) << (inexact == 1 ? " pixel" : " pixels")
                << " had no exact colour in " << options.palette << "'s palette and "
                << (!options.dither ? "took the nearest"
                    : inexact == 1  ? "was dithered"
                                    : "were dithered");
    }
  }
  std::cout << '\n';
  return 0;
}
