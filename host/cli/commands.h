// The commands of vyn. Each returns its exit status: 0 when everything
// worked, 1 when a file could not be read, recognised or written (after
// saying which and why on standard error). Failures that end a command at
// once are thrown as HostError (status 1) or UsageError (status 2).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct CommandContext {
  std::string plugin_option;  // --plugins, empty when not given
};

int RunPlugins(const CommandContext& context);
int RunIdentify(const CommandContext& context, const std::vector<std::string>& files);
int RunList(const CommandContext& context, const std::string& archive, bool json,
            const std::string& encoding);

struct ExtractOptions {
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
  bool pictures_only = false;  // with convert: members that are not pictures are left out
  std::string picture_file;    // with convert: the one picture chosen goes to this file
};
int RunExtract(const CommandContext& context, const ExtractOptions& options);

int RunPack(const CommandContext& context, const std::string& archive, bool scramble,
            const std::vector<std::string>& files, const std::string& encoding);
struct ConvertOptions {
  std::string source;        // a picture, an archive, or ARCHIVE:MEMBER with a name or pattern
  std::string output;        // a file, a directory for an archive's pictures, or empty
  std::string format;        // "png" or "bmp"; empty: from the output's name, else PNG
  std::string encoding;      // of an archive's member names
  bool ignore_case = false;  // in the member's name or pattern
};
int RunConvert(const CommandContext& context, const ConvertOptions& options);
struct ViewRequest {
  std::vector<std::string> paths;
  bool recursive = false;
  int port = 0;  // 0: a free port
  bool open_browser = true;
  std::uint64_t max_pixels = 64'000'000;
};
// Serves until interrupted (Ctrl-C, SIGTERM, the console closing).
int RunView(const CommandContext& context, const ViewRequest& request);

int RunEncode(const CommandContext& context, const std::string& image, const std::string& output);

// Prints "vyn: message" on standard error.
void Complain(const std::string& message);
