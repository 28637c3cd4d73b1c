#include "host/view/view_inputs.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "host/files/member_names.h"
#include "host/files/name_encoding.h"
#include "host/host_error.h"
#include "host/plugins/archive_members.h"

namespace fs = std::filesystem;

namespace {

std::int64_t ModificationTime(const std::string& path) {
  std::error_code error;
  const auto time = fs::last_write_time(SystemPath(path), error);
  return error ? -1 : static_cast<std::int64_t>(time.time_since_epoch().count());
}

void AddFile(const PluginSet& plugins, const std::string& path, bool named,
             std::vector<ViewInput>& inputs,
             const std::function<void(const std::string&)>& complain) {
  try {
    const Bytes head = ReadHead(path, kHeadSize);
    ViewInput input;
    input.path = path;
    input.display_name = path;
    input.modified = ModificationTime(path);
    input.size = RegularFileSize(path);
    // An archive plug-in first: an archive may begin with bytes a picture
    // test would accept, the other way round is not possible for GP8.
    input.plugin = plugins.Recognise(path, head, PluginKind::kArchive);
    if (input.plugin != nullptr) {
      input.kind = ViewInput::Kind::kArchive;
      const std::vector<ArchiveMember> members = input.plugin->List(path);
      std::vector<std::pair<std::uint64_t, std::size_t>> heads;
      for (const ArchiveMember& member : members)
        heads.emplace_back(member.position, std::min<std::size_t>(member.size, kHeadSize));
      PrefetchFileRanges(path, heads);
      for (std::size_t i = 0; i < members.size(); ++i) {
        ViewMember entry{members[i], DisplayName(members[i].name)};
        // A content test needs the member's head only, handed to GetFile
        // as memory input: a member that cannot be read shows as data, and
        // opening it says why.
        const auto member_head = TakeMemberHead(*input.plugin, path, members[i], kHeadSize);
        if (member_head != nullptr) Classify(plugins, entry, member_head->bytes());
        input.members.push_back(std::move(entry));
      }
    } else {
      input.plugin = plugins.Recognise(path, head, PluginKind::kImage);
      if (input.plugin == nullptr) {
        if (named) complain(FileMessage(path, "not recognised by any plug-in"));
        return;
      }
      input.kind = ViewInput::Kind::kPicture;
    }
    inputs.push_back(std::move(input));
  } catch (const HostError& error) {
    complain(error.what());
  }
}

}  // namespace

void Classify(const PluginSet& plugins, ViewMember& member, std::span<const unsigned char> head) {
  const Bytes content = ContentHead(head);
  member.archive = plugins.Recognise(member.member.name, content, PluginKind::kArchive) != nullptr;
  member.picture =
      !member.archive && plugins.Recognise(member.member.name, content, PluginKind::kImage) != nullptr;
}

std::vector<ViewMember> ListArchiveImage(const PluginSet& plugins, const Plugin& plugin,
                                         std::span<const unsigned char> image,
                                         const std::string& shown) {
  const auto members = plugin.ListImage(image);
  if (!members)
    throw HostError(shown + ": the archive plug-in could not list it (its directory is damaged "
                            "or runs past its end)");
  std::vector<ViewMember> listed;
  listed.reserve(members->size());
  for (std::size_t i = 0; i < members->size(); ++i) {
    ViewMember entry{(*members)[i], DisplayName((*members)[i].name)};
    const ArchiveMember& member = entry.member;
    if (member.position <= image.size() && member.size <= image.size() - member.position) {
      const std::size_t head = std::min<std::size_t>(member.size, kHeadSize);
      const auto block = plugin.ExtractFromImage(image.subspan(member.position, head));
      if (block != nullptr) Classify(plugins, entry, block->bytes());
    }
    listed.push_back(std::move(entry));
  }
  return listed;
}

bool ChangedOnDisk(const ViewInput& input) {
  std::error_code error;
  const std::uint64_t size = fs::file_size(SystemPath(input.path), error);
  // A file gone counts as 0 bytes, modified at -1, as it is recorded once gone.
  return (error ? 0 : size) != input.size || ModificationTime(input.path) != input.modified;
}

ViewInput ReadInputAgain(const PluginSet& plugins, const ViewInput& old) {
  std::vector<ViewInput> read;
  std::string why;
  AddFile(plugins, old.path, true, read, [&](const std::string& message) { why = message; });
  ViewInput input;
  if (!read.empty()) {
    input = std::move(read.front());
  } else {
    input.kind = old.kind;
    input.path = old.path;
    input.plugin = old.plugin;
    input.modified = ModificationTime(old.path);
    std::error_code error;
    input.size = fs::file_size(SystemPath(old.path), error);
    if (error) input.size = 0;
    input.error = why.empty() ? FileMessage(old.path, "cannot be read") : why;
  }
  input.display_name = old.display_name;
  input.generation = old.generation + 1;
  return input;
}

std::string DisplayName(const std::string& stored) {
  static const NameEncoding cp932(NameEncoding::kDefault);
  return ShownName(cp932.Decode(stored));
}

std::vector<ViewInput> GatherInputs(const PluginSet& plugins, const std::vector<std::string>& paths,
                                    bool recursive,
                                    const std::function<void(const std::string&)>& complain) {
  std::vector<ViewInput> inputs;
  for (const std::string& path : paths) {
    std::error_code error;
    const fs::path directory = SystemPath(path);
    if (!fs::is_directory(directory, error)) {
      AddFile(plugins, path, true, inputs, complain);
      continue;
    }
    std::vector<std::string> files;
    const auto options = fs::directory_options::skip_permission_denied;
    if (recursive) {
      for (fs::recursive_directory_iterator it(directory, options, error), end;
           !error && it != end; it.increment(error)) {
        if (it->is_regular_file(error)) files.push_back(ShownPath(it->path()));
      }
    } else {
      for (fs::directory_iterator it(directory, options, error), end; !error && it != end;
           it.increment(error)) {
        if (it->is_regular_file(error)) files.push_back(ShownPath(it->path()));
      }
    }
    if (error) complain(FileMessage(path, "cannot read the directory: " + ReasonText(error)));
    std::sort(files.begin(), files.end());
    for (const std::string& file : files) AddFile(plugins, file, false, inputs, complain);
  }
  return inputs;
}
