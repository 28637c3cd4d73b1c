// The commands of vyn. Each has an options struct, a function that declares
// those options on its CLI11 subcommand (with its help), and one that runs
// it; the table of Commands() joins them. A run returns the exit status: 0
// when everything worked, 1 when a file could not be read, recognised or
// written (after saying which and why on standard error). Failures that end
// a command at once are thrown as HostError (status 1) or UsageError
// (status 2).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace CLI {
class App;
}

struct CommandContext {
  std::string plugin_option;  // --plugins, empty when not given
};

// How to run a command once its options are parsed.
using CommandRun = std::function<int(const CommandContext&)>;

// One command: its name, its line in `vyn --help`, and the function that
// declares its options on its own subcommand and returns how to run it.
struct CommandEntry {
  const char* name;
  const char* summary;
  CommandRun (*declare)(CLI::App& command);
};

// Every command, in the order `vyn --help` lists them.
const std::vector<CommandEntry>& Commands();

CommandRun DeclarePlugins(CLI::App& command);
int RunPlugins(const CommandContext& context);

struct IdentifyOptions {
  std::vector<std::string> files;  // files and directories
  bool recursive = false;          // into the directories' subdirectories
  bool json = false;
};
CommandRun DeclareIdentify(CLI::App& command);
int RunIdentify(const CommandContext& context, const IdentifyOptions& options);

struct ListOptions {
  std::vector<std::string> archives;  // archives and directories
  bool recursive = false;
  bool json = false;
  std::string encoding;  // of the member names
};
CommandRun DeclareList(CLI::App& command);
int RunList(const CommandContext& context, const ListOptions& options);

struct ExtractOptions {
  // As given: archives and directories of them, then member names. The
  // leading arguments that name a directory or an archive are inputs, the
  // rest members. Empty: `archive` and `members` are set directly.
  std::vector<std::string> arguments;
  bool recursive = false;  // into the directories' subdirectories
  unsigned jobs = 1;       // pictures decoded and compressed at once
  std::string archive;
  std::string directory = ".";
  std::vector<std::string> members;  // names and patterns; none means all
  std::string encoding;              // of the member names
  bool to_stdout = false;            // the members' bytes, one after the other
  bool keep_existing = false;        // leave files already in the directory alone
  bool overwrite = false;            // a later member of a name replaces an earlier one
  bool ignore_case = false;          // in names and patterns
  // "png" or "bmp": members the image plug-in recognises are decoded and
  // written so, under their names with that extension. Empty: every member
  // as it is stored.
  std::string convert;
  bool convert_by_content = false;  // with convert: every recognised member, not only *.GP8
  bool pictures_only = false;  // with convert: members that are not pictures are left out
  std::string picture_file;    // with convert: the one picture chosen goes to this file
};
CommandRun DeclareExtract(CLI::App& command);
int RunExtract(const CommandContext& context, const ExtractOptions& options);

struct PackOptions {
  std::string archive;
  bool scramble = false;
  std::vector<std::string> files;  // FILE, NAME=FILE, DIR, @LIST; with like, the one DIR
  std::vector<std::string> lists;  // -T: one FILE, DIR or NAME=FILE a line
  std::string order;               // a list of member names, the order they take
  std::string like;                // an archive whose members, names and scrambling to take
  std::string encoding;            // of the member names
};
CommandRun DeclarePack(CLI::App& command);
int RunPack(const CommandContext& context, const PackOptions& options);

struct UpdateOptions {
  std::string archive;
  std::vector<std::string> changes;    // FILE, NAME=FILE, #N=FILE
  std::vector<std::string> deletions;  // NAME or #N
  std::string output;                  // empty: the archive itself
  std::string encoding;                // of the member names
  // A PNG or BMP that replaces a picture is encoded as GP8 in the palette
  // of the picture it replaces; X.png then replaces the member X.GP8.
  bool palette_from_original = false;
  bool dither = false;  // with palette_from_original
};
CommandRun DeclareUpdate(CLI::App& command);
int RunUpdate(const CommandContext& context, const UpdateOptions& options);

struct ConvertOptions {
  // A picture, an archive, or ARCHIVE:MEMBER with a name or pattern; or
  // several pictures, archives and directories of them.
  std::vector<std::string> sources;
  bool recursive = false;    // into the directories' subdirectories
  unsigned jobs = 1;         // pictures decoded and compressed at once
  std::string output;        // a file, a directory for an archive's pictures, or empty
  std::string format;        // "png" or "bmp"; empty: from the output's name, else PNG
  std::string encoding;      // of an archive's member names
  bool ignore_case = false;  // in the member's name or pattern
};
CommandRun DeclareConvert(CLI::App& command);
int RunConvert(const CommandContext& context, const ConvertOptions& options);

struct EncodeOptions {
  std::string image;
  std::string output;
  // A GP8 picture or a palette PNG or BMP whose palette the picture takes,
  // entry for entry; empty: a palette of the picture's own.
  std::string palette;
  int colours = 0;      // --colors: at most this many; 0: at most 256, reduced only beyond
  bool dither = false;  // colours the palette lacks are dithered from the nearest ones
};
CommandRun DeclareEncode(CLI::App& command);
int RunEncode(const CommandContext& context, const EncodeOptions& options);

struct TestOptions {
  std::vector<std::string> files;  // files and directories
  bool recursive = false;
  std::string encoding;  // of the member names
};
CommandRun DeclareTest(CLI::App& command);
int RunTest(const CommandContext& context, const TestOptions& options);

struct ViewRequest {
  std::vector<std::string> paths;
  bool recursive = false;
  int port = 0;  // 0: a free port
  bool open_browser = true;
  std::uint64_t max_pixels = 64'000'000;
};
// Serves until interrupted (Ctrl-C, SIGTERM, the console closing).
CommandRun DeclareView(CLI::App& command);
int RunView(const CommandContext& context, const ViewRequest& request);

// Prints "vyn: message" on standard error.
void Complain(const std::string& message);
