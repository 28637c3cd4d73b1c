// vyn plugins, vyn identify: what the plug-ins are and what they make of files.
#include <iostream>

#include "host/cli/command_support.h"
#include "host/host_error.h"
#include "host/cli/text_output.h"

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
  if (plugin.kind() == PluginKind::kArchive) return Counted(plugin.List(path).size(), "member");
  const PictureInfoRecord info = plugin.PictureInfo(path);
  return std::to_string(info.width) + "x" + std::to_string(info.height) + ", " +
         std::to_string(info.bits_per_pixel) + " bits";
}

}  // namespace

int RunIdentify(const CommandContext& context, const std::vector<std::string>& files) {
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
