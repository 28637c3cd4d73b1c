// vyn: a command-line host for the Vyn viewer plug-ins. It finds the
// plug-ins, asks them about files as a viewer does, and writes the two
// formats they read.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <iostream>
#include <new>

#include "commands.h"
#include "host_error.h"

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#endif

namespace {

constexpr int kStatusFileError = 1;
constexpr int kStatusUsage = 2;

constexpr char kDescription[] =
    "vyn: a command-line host for the Vyn viewer plug-ins.\n"
    "It loads the archive plug-in (ARC archives) and the image plug-in (GP8 pictures) at run time "
    "and\n"
    "uses them as a viewer does; it writes both formats itself.";

constexpr char kFooter[] =
    "Plug-ins are looked for in the --plugins directory, else in the directory named by the\n"
    "environment variable VYN_PLUGINS, else beside the vyn program.\n"
    "Exit status: 0 when everything worked, 1 when a file could not be read, recognised or "
    "written,\n"
    "2 for bad usage. Run 'vyn COMMAND --help' for the details of a command.";

}  // namespace

int main(int argc, char** argv) {
#if defined(_WIN32)
  // The same bytes on every system: no newline translation.
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
#endif
  CLI::App app(kDescription, "vyn");
  app.footer(kFooter);
  app.require_subcommand(1);
  app.fallthrough();
  CommandContext context;
  app.add_option("--plugins", context.plugin_option, "Directory that holds the plug-ins")
      ->type_name("DIR");

  CLI::App* plugins = app.add_subcommand(
      "plugins", "Show each plug-in found: its path and its four information strings");
  plugins->footer(
      "The strings are the kind (00AM archive, 00IN image), the description, the file-name "
      "pattern\n"
      "and the format's name.");

  std::vector<std::string> identify_files;
  CLI::App* identify =
      app.add_subcommand("identify", "Say which plug-in recognises each file and what it is");
  identify->add_option("FILE", identify_files, "Files to identify")->required();
  identify->footer(
      "Each file's first 2048 bytes go to every plug-in's IsSupported. An archive is described by "
      "its\n"
      "member count, a picture by its size and depth, for example:\n"
      "  a.ARC: Vyn Archived File(ARC), 12 members\n"
      "  b.GP8: Vyn 256-color Picture Format(GP8), 640x480, 8 bits\n"
      "  c.txt: not recognised\n"
      "The exit status is 1 when any file was not recognised or could not be read.");

  std::string list_archive;
  bool list_json = false;
  CLI::App* list = app.add_subcommand("list", "List an archive's members: size, position and name");
  list->add_option("ARCHIVE", list_archive, "The archive")->required();
  list->add_flag(
      "--json", list_json,
      "Print a JSON array of {\"name\", \"size\", \"position\"} objects and nothing else");
  list->footer(
      "One row per member in directory order, with a header and the total. Positions are offsets "
      "in\n"
      "the archive file. In JSON, name bytes outside printable ASCII are written as \\u00XX.");

  std::string extract_archive;
  std::string extract_directory = ".";
  std::vector<std::string> extract_members;
  CLI::App* extract =
      app.add_subcommand("extract", "Extract members of an archive into a directory");
  extract->add_option("ARCHIVE", extract_archive, "The archive")->required();
  extract->add_option("MEMBER", extract_members,
                      "Members to extract, named as the archive stores them (default: all)");
  extract
      ->add_option("-o,--output", extract_directory,
                   "Directory to extract into; created when missing")
      ->type_name("DIR")
      ->capture_default_str();
  extract->footer(
      "Every member goes through the archive plug-in's GetFile; a member of 0 bytes becomes an "
      "empty\n"
      "file. An existing file of a member's name is replaced. A member is never left "
      "half-written.");

  std::string convert_picture;
  std::string convert_output;
  CLI::App* convert = app.add_subcommand(
      "convert", "Decode a picture through its plug-in and write it as PNG or BMP");
  convert->add_option("PICTURE", convert_picture, "The picture (GP8)")->required();
  convert
      ->add_option("-o,--output", convert_output,
                   "Output file, .png or .bmp (default: PICTURE's name with .png)")
      ->type_name("OUT");
  convert->footer(
      "The output is the 8-bit bitmap the image plug-in delivers, with its 256-entry palette, "
      "rows\n"
      "top first.");

  std::string pack_archive;
  bool pack_scramble = false;
  std::vector<std::string> pack_files;
  CLI::App* pack = app.add_subcommand(
      "pack", "Write an archive of files, named by their base names, in the order given");
  pack->add_option("-o,--output", pack_archive, "The archive to write")
      ->type_name("OUT.ARC")
      ->required();
  pack->add_flag("--scramble", pack_scramble, "Scramble the archive's directory");
  pack->add_option("FILE", pack_files, "Files to pack")->required();
  pack->footer(
      "Refused, with the file and the rule: fewer than 2 or more than 10240 files; a name over 12 "
      "bytes,\n"
      "without a \".\", or with a byte after the \".\" outside ! to z; two names that differ only "
      "in\n"
      "case; an archive beyond 4 GiB. The archive takes its name only after the archive plug-in "
      "has\n"
      "recognised it and listed every member as written.");

  std::string encode_image;
  std::string encode_output;
  CLI::App* encode = app.add_subcommand("encode", "Encode a picture of at most 256 colours as GP8");
  encode->add_option("IMAGE", encode_image, "A PNG or BMP picture")->required();
  encode->add_option("-o,--output", encode_output, "The GP8 picture to write")
      ->type_name("OUT.GP8")
      ->required();
  encode->footer(
      "A palette picture keeps its palette; a truecolour one of at most 256 colours gets a palette "
      "of\n"
      "its colours in the order they appear. More colours are refused, never reduced. The pixels "
      "are\n"
      "compressed by optimal parsing, the shortest stream the format allows. The picture takes "
      "its\n"
      "name only after the image plug-in has decoded it to exactly these pixels and palette.");

  ViewRequest view_request;
  CLI::App* view = app.add_subcommand(
      "view", "Show archives and pictures in a web browser, served from this machine only");
  view->add_option("PATH", view_request.paths, "Archives, pictures and directories of them")
      ->required();
  view->add_flag("-r,--recursive", view_request.recursive, "Look into subdirectories too");
  view->add_option("--port", view_request.port, "Port on 127.0.0.1 to serve on (0: a free one)")
      ->type_name("N")
      ->capture_default_str();
  view->add_flag("!--no-open", view_request.open_browser,
                 "Only print the address; do not open a browser");
  view->add_option("--max-pixels", view_request.max_pixels,
                   "Largest pixel block to decode; larger pictures are refused")
      ->type_name("N")
      ->capture_default_str();
  view->footer(
      "Directories are searched for files that a plug-in recognises by their content. The "
      "address\n"
      "printed holds a random access token; requests without it are refused, and nothing but the\n"
      "inputs is served. Pictures in archives are decoded in memory; nothing is written. Ctrl-C "
      "stops.");

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    return app.exit(error) == 0 ? 0 : kStatusUsage;
  }

  try {
    if (*plugins) return RunPlugins(context);
    if (*identify) return RunIdentify(context, identify_files);
    if (*list) return RunList(context, list_archive, list_json);
    if (*extract) return RunExtract(context, extract_archive, extract_directory, extract_members);
    if (*convert) return RunConvert(context, convert_picture, convert_output);
    if (*pack) return RunPack(context, pack_archive, pack_scramble, pack_files);
    if (*encode) return RunEncode(context, encode_image, encode_output);
    if (*view) return RunView(context, view_request);
  } catch (const UsageError& error) {
    Complain(error.what());
    return kStatusUsage;
  } catch (const HostError& error) {
    Complain(error.what());
    return kStatusFileError;
  } catch (const std::bad_alloc&) {
    Complain("out of memory");
    return kStatusFileError;
  } catch (const std::exception& error) {
    Complain(error.what());
    return kStatusFileError;
  }
  return kStatusUsage;
}
