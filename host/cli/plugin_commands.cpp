// vyn plugins, vyn identify: what the plug-ins are and what they make of files.
#include <CLI/CLI.hpp>
#include <iostream>
#include <memory>

#include "host/cli/archive_support.h"
#include "host/cli/command_support.h"
#include "host/host_error.h"
#include "host/cli/text_output.h"

CommandRun DeclarePlugins(CLI::App& command) {
  command.footer(R"(The strings are the kind (00AM archive, 00IN image), the description, the file-name pattern
and the format's name.)");
  return [](const CommandContext& context) { return RunPlugins(context); };
}

int RunPlugins(const CommandContext& context) {
  const PluginSet set = PluginsFor(context);
  for (const SkippedModule& skipped : set.skipped)
    Complain("note: " + FileMessage(skipped.path, skipped.why));
  if (set.plugins.empty()) throw HostError(FileMessage(set.directory, "holds no plug-ins"));
  static const char* const kLabels[] = {
      "kind:        ", "description: ", "pattern:     ", "format:      "};
  for (const auto& plugin : set.plugins) {
    std::cout << plugin->path() << '\n';
    for (std::size_t i = 0; i < plugin->information().size(); ++i)
      std::cout << "  " << kLabels[i] << plugin->information()[i] << '\n';
  }
  return 0;
}

namespace {

// What the recognising plug-in says about the file, after its format name.
std::string Description(const Plugin& plugin, const std::string& path) {
  if (plugin.kind() == PluginKind::kArchive) {
    const std::vector<ArchiveMember> members = plugin.List(path);
    return Counted(members.size(), "member") + ", " + DirectoryKind(path, members);
  }
  const PictureInfoRecord info = plugin.PictureInfo(path);
  return std::to_string(info.width) + "x" + std::to_string(info.height) + ", " +
         std::to_string(info.bits_per_pixel) + " bits";
}

}  // namespace

CommandRun DeclareIdentify(CLI::App& command) {
  auto options = std::make_shared<IdentifyOptions>();
  command.add_option("FILE", options->files, "Files to identify")->required();
  command.footer(R"(Each file's first 2048 bytes go to every plug-in's IsSupported. An archive is described by its
member count, a picture by its size and depth, for example:
  a.ARC: Vyn Archived File(ARC), 12 members, scrambled directory
  b.GP8: Vyn 256-color Picture Format(GP8), 640x480, 8 bits
  c.txt: not recognised
The exit status is 1 when any file was not recognised or could not be read.)");
  return [options](const CommandContext& context) { return RunIdentify(context, *options); };
}

int RunIdentify(const CommandContext& context, const IdentifyOptions& options) {
  const std::vector<std::string>& files = options.files;
  const PluginSet set = PluginsFor(context);
  if (set.plugins.empty()) throw HostError(FileMessage(set.directory, "holds no plug-ins"));
  int status = 0;
  // One whole line per file, built before anything of it is printed, so that
  // a failure on the way never leaves half a line for the next to join.
  for (const std::string& path : files) {
    std::string line = path + ": ";
    std::string failure;
    try {
      const Bytes head = ReadHead(path, kHeadSize);
      const Plugin* plugin = set.Recognise(path, head);
      if (plugin == nullptr) {
        line += "not recognised";
        status = 1;
      } else {
        line += plugin->format_name();
        try {
          // Straight after the recognition: the archive plug-in lists the
          // directory as that recognition decided.
          line += ", " + Description(*plugin, path);
        } catch (const HostError& error) {
          line +=
              plugin->kind() == PluginKind::kArchive ? ", cannot be listed" : ", cannot be read";
          failure = error.what();
        }
      }
    } catch (const HostError& error) {
      line += "cannot be read";
      failure = error.what();
    }
    std::cout << line << '\n';
    if (!failure.empty()) {
      Complain(failure);
      status = 1;
    }
  }
  return status;
}
