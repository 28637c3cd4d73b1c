// vyn plugins, vyn identify: what the plug-ins are and what they make of files.
#include <CLI/CLI.hpp>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>

#include "host/cli/archive_support.h"
#include "host/cli/batch.h"
#include "host/cli/command_support.h"
#include "host/cli/text_output.h"
#include "host/files/member_names.h"
#include "host/files/name_encoding.h"
#include "host/host_error.h"

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

// What the recognising plug-in makes of one file, for a line or a JSON object.
struct Identified {
  std::string path;
  const Plugin* plugin = nullptr;
  bool described = false;  // listed or read as well as recognised
  std::string failure;     // why it could not be read, listed or looked at
  // An archive:
  std::vector<ArchiveMember> members;
  std::string directory_kind;
  std::vector<OddExtent> odd;
  // A picture:
  PictureInfoRecord picture{};
};

Identified Identify(const PluginSet& set, const std::string& path) {
  Identified file;
  file.path = path;
  try {
    file.plugin = set.Recognise(path, ReadHead(path, kHeadSize));
    if (file.plugin == nullptr) return file;
    // Straight after the recognition: the archive plug-in lists the
    // directory as that recognition decided.
    if (file.plugin->kind() == PluginKind::kArchive) {
      file.members = file.plugin->List(path);
      file.directory_kind = DirectoryKind(path, file.members);
      file.odd = OddExtents(RegularFileSize(path), file.members);
    } else {
      file.picture = file.plugin->PictureInfo(path);
    }
    file.described = true;
  } catch (const HostError& error) {
    file.failure = error.what();
  }
  return file;
}

// One whole line per file, built before anything of it is printed, so that
// a failure on the way never leaves half a line for the next to join.
std::string Line(const Identified& file) {
  std::string line = file.path + ": ";
  if (file.plugin == nullptr) return line + (file.failure.empty() ? "not recognised" : "cannot be read");
  line += file.plugin->format_name();
  const bool archive = file.plugin->kind() == PluginKind::kArchive;
  if (!file.described) return line + (archive ? ", cannot be listed" : ", cannot be read");
  if (!archive)
    return line + ", " + std::to_string(file.picture.width) + "x" +
           std::to_string(file.picture.height) + ", " +
           std::to_string(file.picture.bits_per_pixel) + " bits";
  line += ", " + Counted(file.members.size(), "member") + ", " + file.directory_kind;
  std::size_t past_end = 0;
  for (const OddExtent& odd : file.odd) past_end += odd.overlaps ? 0 : 1;
  if (past_end != 0) line += ", " + Counted(past_end, "member") + " past the end";
  if (file.odd.size() > past_end)
    line += ", " + Counted(file.odd.size() - past_end, "member") + " overlapping another";
  return line;
}

// {"file", "recognised", "format", "kind", then "members", "directory",
// "odd" for an archive or "width", "height", "bits" for a picture, and
// "error" when it could not be read}.
nlohmann::json Json(const Identified& file, const NameEncoding& encoding) {
  nlohmann::json json = {{"file", file.path}, {"recognised", file.plugin != nullptr}};
  if (file.plugin != nullptr) {
    const bool archive = file.plugin->kind() == PluginKind::kArchive;
    json["format"] = file.plugin->format_name();
    json["kind"] = archive ? "archive" : "picture";
    if (file.described && archive) {
      json["members"] = file.members.size();
      json["directory"] = file.directory_kind.substr(0, file.directory_kind.find(" directory"));
      nlohmann::json odd = nlohmann::json::array();
      for (const OddExtent& extent : file.odd) {
        nlohmann::json entry = {
            {"member", extent.member + 1},
            {"name", ShownName(encoding.Decode(file.members[extent.member].name))}};
        if (extent.overlaps) {
          entry["overlaps"] = *extent.overlaps + 1;
        } else {
          entry["past_end"] = true;
        }
        odd.push_back(std::move(entry));
      }
      json["odd"] = std::move(odd);
    } else if (file.described) {
      json["width"] = file.picture.width;
      json["height"] = file.picture.height;
      json["bits"] = file.picture.bits_per_pixel;
    }
  }
  if (!file.failure.empty()) json["error"] = file.failure;
  return json;
}

}  // namespace

CommandRun DeclareIdentify(CLI::App& command) {
  auto options = std::make_shared<IdentifyOptions>();
  command.add_option("FILE", options->files, "Files to identify, and directories of them")
      ->required();
  AddRecursiveOption(command, options->recursive);
  command.add_flag("--json", options->json,
                   "Print a JSON array with one object a file and nothing else on standard output");
  command.footer(R"(Each file's first 2048 bytes go to every plug-in's IsSupported. An archive is described by its
member count, whether its directory is scrambled, and the members that run past the end of
the file or overlap another (vyn list names them); a picture by its size and depth:
  a.ARC: Vyn Archived File(ARC), 12 members, scrambled directory
  b.GP8: Vyn 256-color Picture Format(GP8), 640x480, 8 bits
  c.txt: not recognised
With --json each file is an object: {"file", "recognised", "format", "kind" ("archive" or
"picture"), "members", "directory" ("scrambled", "plain" or "not as listed"), "odd" (a list of
{"member": #, "name", "past_end": true or "overlaps": #}), "width", "height", "bits", and
"error" when the file could not be read}; the reasons go to standard error as well.
Of a directory's files (-r: and its subdirectories'), those a plug-in recognises are shown.
The exit status is 1 when any file was not recognised or could not be read.)");
  return [options](const CommandContext& context) { return RunIdentify(context, *options); };
}

int RunIdentify(const CommandContext& context, const IdentifyOptions& options) {
  const PluginSet set = PluginsFor(context);
  if (set.plugins.empty()) throw HostError(FileMessage(set.directory, "holds no plug-ins"));
  const NameEncoding encoding(NameEncoding::kDefault);
  int status = 0;
  const std::vector<BatchFile> files =
      BatchFiles(options.files, options.recursive, [&](const std::string& message) {
        Complain(message);
        status = 1;
      });
  if (options.json) std::cout << '[';
  bool first = true;
  for (const BatchFile& found : files) {
    const Identified file = Identify(set, found.path);
    // Of a directory's files, those no plug-in knows are not what was asked.
    if (!found.named && file.plugin == nullptr && file.failure.empty()) continue;
    if (options.json) {
      std::cout << (first ? "\n  " : ",\n  ")
                << Json(file, encoding).dump(-1, ' ', false,
                                             nlohmann::json::error_handler_t::replace);
    } else {
      std::cout << Line(file) << '\n';
    }
    if (!file.failure.empty()) Complain(file.failure);
    if (file.plugin == nullptr || !file.failure.empty()) status = 1;
    first = false;
  }
  if (options.json) std::cout << (first ? "]\n" : "\n]\n");
  return status;
}
