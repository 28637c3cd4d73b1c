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
};
int RunExtract(const CommandContext& context, const ExtractOptions& options);

int RunPack(const CommandContext& context, const std::string& archive, bool scramble,
            const std::vector<std::string>& files, const std::string& encoding);
int RunConvert(const CommandContext& context, const std::string& picture,
               const std::string& output);
struct ViewRequest {
  std::vector<std::string> paths;
  bool recursive = false;
  int port = 0;  // 0: a free port
  bool open_browser = true;
  std::uint64_t max_pixels = 64'000'000;
};
// Serves until interrupted; status 2 where this build has no viewer.
int RunView(const CommandContext& context, const ViewRequest& request);

int RunEncode(const CommandContext& context, const std::string& image, const std::string& output);

// Prints "vyn: message" on standard error.
void Complain(const std::string& message);
