// vyn: a command-line host for the Vyn viewer plug-ins. It finds the
// plug-ins, asks them about files as a viewer does, and writes the two
// formats they read.
#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <new>

#include "host/cli/commands.h"
#include "host/cli/console_output.h"
#include "host/files/interrupt.h"
#include "host/files/name_encoding.h"
#include "host/files/system_path.h"
#include "host/host_error.h"
#include "host/version.h"

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
    "Output files appear whole or not at all, and nothing else is written: each is made under a "
    "new\n"
    "random name beside it and renamed; a link at its name is replaced, never written through. "
    "An\n"
    "interrupt removes what was being written. -o - writes to standard output.\n"
    "Exit status: 0 when everything worked, 1 when a file could not be read, recognised or "
    "written,\n"
    "2 for bad usage. Run 'vyn COMMAND --help' for the details of a command.";

void AddEncodingOption(CLI::App& command, std::string& encoding) {
  command
      .add_option("--encoding", encoding,
                  "Code page of the member names: cp932 (Shift-JIS, the format's own), latin1, "
                  "utf-8 or any other the system knows")
      ->type_name("NAME")
      ->capture_default_str();
}

// The first word of the command line that is not an option of vyn itself,
// when it names none of the commands; empty otherwise.
std::string UnknownCommand(CLI::App& app, int argc, const char* const* argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--plugins") {
      ++i;
      continue;
    }
    if (!arg.empty() && arg[0] == '-') continue;
    for (const CLI::App* command : app.get_subcommands([](CLI::App*) { return true; })) {
      if (command->get_name() == arg) return "";
    }
    return arg;
  }
  return "";
}

std::string CommandNames(CLI::App& app) {
  std::string names;
  for (const CLI::App* command : app.get_subcommands([](CLI::App*) { return true; }))
    names += (names.empty() ? "" : ", ") + command->get_name();
  return names;
}

// Standard output is a file like any other: a write that fails there fails
// the command. Called once the command is done, when everything it printed
// must be out; earlier_error is the system's reason for a write that failed
// during the command, 0 when none did.
bool StandardOutputWritten(int earlier_error) {
  errno = 0;
  const bool flushed = std::fflush(stdout) == 0;
  const int error = errno != 0 ? errno : earlier_error;
  if (flushed && std::ferror(stdout) == 0 && earlier_error == 0) return true;
  Complain("standard output: cannot write: " +
           std::string(error != 0 ? std::strerror(error) : "an earlier write failed"));
  return false;
}

}  // namespace

int main(int system_argc, char** system_argv) {
#if defined(_WIN32)
  // The same bytes on every system: no newline translation.
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
#endif
  UseConsoleForText();
  InstallInterruptCleanup();
  // Arguments in UTF-8 on Windows too, whatever the ANSI code page holds.
  const std::vector<std::string> arguments = CommandLineArguments(system_argc, system_argv);
  std::vector<const char*> argument_pointers;
  for (const std::string& argument : arguments) argument_pointers.push_back(argument.c_str());
  const int argc = static_cast<int>(argument_pointers.size());
  const char* const* argv = argument_pointers.data();
  CLI::App app(kDescription, "vyn");
  app.footer(kFooter);
  app.require_subcommand(1);
  app.fallthrough();
  app.set_version_flag("--version", "vyn " VYN_VERSION);
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
  std::string list_encoding = NameEncoding::kDefault;
  CLI::App* list = app.add_subcommand("list", "List an archive's members: size, position and name");
  list->add_option("ARCHIVE", list_archive, "The archive")->required();
  list->add_flag("--json", list_json,
                 "Print a JSON array of {\"name\", \"size\", \"position\", \"raw\"} objects and "
                 "nothing else");
  AddEncodingOption(*list, list_encoding);
  list->footer(
      "One row per member in directory order, with a header and the total. Positions are offsets "
      "in\n"
      "the archive file. Names are decoded from the code page of --encoding and shown in UTF-8; "
      "a byte\n"
      "that does not decode, and every control character, shows as \\xNN. In JSON \"raw\" holds "
      "the\n"
      "name's bytes in hex, for example \"83 5C 95 5C\".");

  ExtractOptions extract_options;
  extract_options.encoding = NameEncoding::kDefault;
  CLI::App* extract =
      app.add_subcommand("extract", "Extract members of an archive into a directory");
  extract->add_option("ARCHIVE", extract_options.archive, "The archive")->required();
  extract->add_option("MEMBER", extract_options.members,
                      "Members to extract, by name as listed or by pattern such as '*.GP8' "
                      "(default: all)");
  CLI::Option* output = extract
                            ->add_option("-o,--output", extract_options.directory,
                                         "Directory to extract into; created when missing")
                            ->type_name("DIR")
                            ->capture_default_str();
  CLI::Option* to_stdout = extract->add_flag(
      "--stdout", extract_options.to_stdout,
      "Write the members' bytes to standard output, one after the other, and no file");
  CLI::Option* keep = extract->add_flag("-k,--keep-existing", extract_options.keep_existing,
                                        "Leave files that already exist in DIR alone");
  CLI::Option* overwrite = extract->add_flag(
      "--overwrite", extract_options.overwrite,
      "Of members with one name, let the later replace the earlier (default: the later is "
      "written as NAME~2.EXT)");
  extract->add_flag("--ignore-case", extract_options.ignore_case,
                    "Match MEMBER names and patterns whatever their case");
  CLI::Option* convert_members =
      extract
          ->add_option("--convert", extract_options.convert,
                       "Write each member the image plug-in recognises as a picture in this "
                       "format, png or bmp, named with its extension; other members as they are")
          ->type_name("FORMAT")
          ->check(CLI::IsMember({"png", "bmp"}));
  AddEncodingOption(*extract, extract_options.encoding);
  to_stdout->excludes(output)->excludes(keep)->excludes(overwrite)->excludes(convert_members);
  keep->excludes(overwrite);
  extract->footer(
      "Every member goes through the archive plug-in's GetFile, each with its own listed size, "
      "even\n"
      "where several share a position; a member of 0 bytes becomes an empty file. A MEMBER with "
      "*, ? or\n"
      "[...] is also a pattern: * any characters, ? one, [a-z] one of a set, [!a-z] one not in "
      "it.\n"
      "Files are named as list shows the members (on Windows with %xNN where it shows \\xNN). A "
      "name\n"
      "that would lead outside DIR (\"/\", \"..\"), and a member that would replace the archive "
      "itself,\n"
      "are refused. An existing file of a member's name is replaced, unless -k. A member is never "
      "left\n"
      "half-written.");

  ConvertOptions convert_options;
  convert_options.encoding = NameEncoding::kDefault;
  CLI::App* convert = app.add_subcommand(
      "convert", "Decode pictures through the image plug-in and write them as PNG or BMP");
  convert
      ->add_option("SOURCE", convert_options.source,
                   "A picture (GP8), an archive, or ARCHIVE:MEMBER for one member (a name or "
                   "pattern)")
      ->required();
  convert
      ->add_option("-o,--output", convert_options.output,
                   "Output file, .png or .bmp, or - for standard output; for an archive's "
                   "pictures a directory (default: PICTURE's name with .png; for an archive the "
                   "current directory)")
      ->type_name("OUT");
  convert->add_option("--format", convert_options.format, "png or bmp (default: png)")
      ->type_name("FORMAT")
      ->check(CLI::IsMember({"png", "bmp"}));
  convert->add_flag("--ignore-case", convert_options.ignore_case,
                    "Match the MEMBER name or pattern whatever its case");
  AddEncodingOption(*convert, convert_options.encoding);
  convert->footer(
      "The output is the 8-bit bitmap the image plug-in delivers, with its 256-entry palette, "
      "rows\n"
      "top first. From an archive, every member the image plug-in recognises is decoded in "
      "memory and\n"
      "written into the directory as its name with .png (or .bmp); other members are left out. "
      "Names,\n"
      "refusals and numbered names (A~2.png) are as in extract. ARCHIVE:MEMBER with -o OUT.png "
      "writes\n"
      "that one picture, for example:\n"
      "  vyn convert demo.ARC -o pictures\n"
      "  vyn convert demo.ARC:sample.GP8 -o sample.png\n"
      "  vyn convert 'demo.ARC:*.GP8' --format bmp -o pictures");

  std::string pack_archive;
  bool pack_scramble = false;
  std::vector<std::string> pack_files;
  std::string pack_encoding = NameEncoding::kDefault;
  CLI::App* pack = app.add_subcommand(
      "pack", "Write an archive of files, named by their base names, in the order given");
  pack->add_option("-o,--output", pack_archive, "The archive to write, or - for standard output")
      ->type_name("OUT.ARC")
      ->required();
  pack->add_flag("--scramble", pack_scramble, "Scramble the archive's directory");
  AddEncodingOption(*pack, pack_encoding);
  pack->add_option("FILE", pack_files, "Files to pack")->required();
  pack->footer(
      "Names are stored in the code page of --encoding. Refused, with the file and the rule: "
      "fewer\n"
      "than 2 or more than 10240 files; a name the code page cannot hold, or that would list "
      "otherwise;\n"
      "a name over 12 bytes once stored, without a \".\", or with a byte after the \".\" outside "
      "! to z;\n"
      "two names that differ only in case; an archive beyond 4 GiB. The archive takes its name "
      "only\n"
      "after the archive plug-in has recognised it and listed every member as written.");

  std::string encode_image;
  std::string encode_output;
  CLI::App* encode = app.add_subcommand("encode", "Encode a picture of at most 256 colours as GP8");
  encode->add_option("IMAGE", encode_image, "A PNG or BMP picture")->required();
  encode
      ->add_option("-o,--output", encode_output,
                   "The GP8 picture to write, or - for standard output")
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
    const std::string unknown = UnknownCommand(app, argc, argv);
    if (!unknown.empty()) {
      Complain("unknown command \"" + unknown + "\"; the commands are " + CommandNames(app) +
               " (see vyn --help)");
      return kStatusUsage;
    }
    // --help: its text went to standard output.
    if (app.exit(error) == 0) return StandardOutputWritten(0) ? 0 : kStatusFileError;
    return kStatusUsage;
  }

  // A failed write to standard output ends the command where it happens, so
  // a long listing does not go on into a full disk.
  std::cout.exceptions(std::ios::badbit);
  int status = kStatusUsage;
  int output_error = 0;
  try {
    if (*plugins) status = RunPlugins(context);
    if (*identify) status = RunIdentify(context, identify_files);
    if (*list) status = RunList(context, list_archive, list_json, list_encoding);
    if (*extract) status = RunExtract(context, extract_options);
    if (*convert) status = RunConvert(context, convert_options);
    if (*pack) status = RunPack(context, pack_archive, pack_scramble, pack_files, pack_encoding);
    if (*encode) status = RunEncode(context, encode_image, encode_output);
    if (*view) status = RunView(context, view_request);
  } catch (const std::ios_base::failure&) {
    output_error = errno != 0 ? errno : EIO;
    std::cout.clear();
    status = kStatusFileError;  // said below
  } catch (const StandardOutputError& error) {
    output_error = error.system_error() != 0 ? error.system_error() : EIO;
    status = kStatusFileError;  // said below
  } catch (const UsageError& error) {
    Complain(error.what());
    status = kStatusUsage;
  } catch (const HostError& error) {
    Complain(error.what());
    status = kStatusFileError;
  } catch (const std::bad_alloc&) {
    Complain("out of memory");
    status = kStatusFileError;
  } catch (const std::exception& error) {
    Complain(error.what());
    status = kStatusFileError;
  }
  if (!StandardOutputWritten(output_error) && status == 0) status = kStatusFileError;
  return status;
}
