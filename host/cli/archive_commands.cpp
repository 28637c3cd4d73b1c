// vyn list, vyn extract, vyn pack: archives through the archive plug-in, and
// the writer that makes them.
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <iomanip>
#include <iostream>
#include <map>
#include <set>

#include "host/formats/arc_writer.h"
#include "host/cli/command_support.h"
#include "host/host_error.h"
#include "host/files/member_names.h"
#include "host/files/name_encoding.h"
#include "host/cli/progress.h"
#include "host/plugins/archive_members.h"
#include "host/cli/text_output.h"

namespace {

constexpr int kSizeColumn = 10;  // 4294967295 has ten digits
constexpr int kPositionColumn = 10;

// A listed member and its name decoded.
struct NamedMember {
  const ArchiveMember* member = nullptr;
  std::size_t index = 0;  // in the listing
  std::u32string decoded;
  std::string shown;
  bool found_by_position = true;  // GetFile's lookup by position finds it
};

std::vector<NamedMember> Named(const std::vector<ArchiveMember>& members,
                               const NameEncoding& encoding) {
  const std::vector<bool> found = FoundByPosition(members);
  std::vector<NamedMember> named;
  for (std::size_t i = 0; i < members.size(); ++i) {
    std::u32string decoded = encoding.Decode(members[i].name);
    std::string shown = ShownName(decoded);
    named.push_back({&members[i], i, std::move(decoded), std::move(shown), found[i]});
  }
  return named;
}

// The name's bytes in hex, "83 5C 95 5C", so that JSON loses nothing.
std::string RawHex(const std::string& bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string hex;
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (!hex.empty()) hex += ' ';
    hex += kDigits[byte >> 4];
    hex += kDigits[byte & 0xF];
  }
  return hex;
}

void PrintTable(const std::vector<NamedMember>& members) {
  const std::string rule = std::string(kSizeColumn, '-') + "  " +
                           std::string(kPositionColumn, '-') + "  " + std::string(12, '-');
  std::cout << std::setw(kSizeColumn) << "Size"
            << "  " << std::setw(kPositionColumn) << "Position"
            << "  Name\n"
            << rule << '\n';
  std::uint64_t total = 0;
  for (const NamedMember& named : members) {
    std::cout << std::setw(kSizeColumn) << named.member->size << "  " << std::setw(kPositionColumn)
              << named.member->position << "  " << named.shown << '\n';
    total += named.member->size;
  }
  std::cout << rule << '\n'
            << std::setw(kSizeColumn) << total << "  " << std::setw(kPositionColumn) << ""
            << "  " << Counted(members.size(), "member") << '\n';
}

void PrintJson(const std::vector<NamedMember>& members) {
  std::cout << '[';
  for (std::size_t i = 0; i < members.size(); ++i) {
    const ArchiveMember& member = *members[i].member;
    std::cout << (i == 0 ? "\n" : ",\n") << "  {\"name\": " << JsonString(members[i].shown)
              << ", \"size\": " << member.size << ", \"position\": " << member.position
              << ", \"raw\": \"" << RawHex(member.name) << "\"}";
  }
  std::cout << (members.empty() ? "]\n" : "\n]\n");
}

// The member's bytes through the archive plug-in, each with its own size.
std::unique_ptr<ReceivedBlock> Take(const Plugin& plugin, const std::string& archive,
                                    const NamedMember& named) {
  return TakeMember(plugin, archive, *named.member, named.found_by_position, named.shown);
}

void CheckWithinArchive(const std::string& archive, std::uint64_t archive_size,
                        const NamedMember& named) {
  if (std::uint64_t{named.member->position} + named.member->size > archive_size)
    throw HostError(FileMessage(
        archive, "member " + named.shown + " runs past the end of the archive, which is damaged"));
}

void WriteToStandardOutput(std::span<const unsigned char> bytes) {
  errno = 0;
  if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), stdout) != bytes.size())
    throw HostError(FileMessage("standard output", "cannot write: " + SystemReason()));
}

int ExtractToStandardOutput(const Plugin& plugin, const std::string& archive,
                            const std::vector<NamedMember>& chosen) {
  const std::uint64_t archive_size = RegularFileSize(archive);
  int status = 0;
  for (const NamedMember& named : chosen) {
    try {
      CheckWithinArchive(archive, archive_size, named);
      const auto block = Take(plugin, archive, named);
      WriteToStandardOutput({block->data(), block->size()});
    } catch (const HostError& error) {
      Complain(error.what());
      status = 1;
    }
  }
  errno = 0;
  if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0)
    throw HostError(FileMessage("standard output", "cannot write: " + SystemReason()));
  return status;
}

// The file each chosen member is written to. A member whose file an earlier
// one of this run takes already is written under a numbered name (a~2.txt)
// that no member of the run has, unless the later one is to replace it.
class OutputNames {
 public:
  OutputNames(const std::vector<NamedMember>& chosen, bool later_replaces)
      : later_replaces_(later_replaces) {
    for (const NamedMember& named : chosen) own_.insert(FileNameKey(MemberFileName(named.decoded)));
  }

  // The file name for the member, and a note when it is not its own name.
  std::filesystem::path For(const NamedMember& named, std::string& note) {
    note.clear();
    std::filesystem::path file = MemberFileName(named.decoded);
    const auto [earlier, first] = taken_.emplace(FileNameKey(file), named.shown);
    if (first) return file;
    const std::string clash = earlier->second == named.shown
                                  ? "holds more than one member named " + named.shown
                                  : "holds members " + earlier->second + " and " + named.shown +
                                        ", which name one file here";
    if (later_replaces_) {
      note = clash + "; the later one is kept";
      return file;
    }
    for (unsigned n = 2;; ++n) {
      const std::u32string numbered = NumberedName(named.decoded, n);
      file = MemberFileName(numbered);
      const std::u32string key = FileNameKey(file);
      if (own_.count(key) == 0 && taken_.emplace(key, ShownName(numbered)).second) {
        note = clash + "; the later one is written as " + ShownName(numbered);
        return file;
      }
    }
  }

 private:
  bool later_replaces_;
  std::set<std::u32string> own_;                 // the names the members come with
  std::map<std::u32string, std::string> taken_;  // by this run, with the member shown
};

std::filesystem::path OutputPath(const std::string& directory, const std::filesystem::path& file) {
#if defined(_WIN32)
  return SystemPath(directory) / file;
#else
  return std::filesystem::path(JoinPath(directory, file.native()));
#endif
}

bool Exists(const std::filesystem::path& path) {
  std::error_code error;
  return std::filesystem::symlink_status(path, error).type() !=
         std::filesystem::file_type::not_found;
}

bool IsTheArchive(const std::filesystem::path& path, const std::string& archive) {
  std::error_code error;
  return std::filesystem::equivalent(path, SystemPath(archive), error) && !error;
}

int ExtractIntoDirectory(const Plugin& plugin, const ExtractOptions& options,
                         const std::vector<NamedMember>& chosen) {
  const std::string& archive = options.archive;
  const std::string& directory = options.directory;
  const std::uint64_t archive_size = RegularFileSize(archive);
  MakeDirectories(directory);
  std::uint64_t total_bytes = 0;
  for (const NamedMember& named : chosen) total_bytes += named.member->size;
  ProgressBar progress(total_bytes, chosen.size(), "members");
  OutputNames names(chosen, options.overwrite);
  int status = 0;
  std::uint64_t done_bytes = 0;
  std::uint64_t written_bytes = 0;
  std::size_t extracted = 0;
  std::size_t kept = 0;
  for (std::size_t i = 0; i < chosen.size(); ++i) {
    const NamedMember& named = chosen[i];
    try {
      const std::string problem = UnsafeNameProblem(named.decoded, directory);
      if (!problem.empty())
        throw HostError(
            FileMessage(archive, "member \"" + named.shown + "\" is not extracted: " + problem));
      CheckWithinArchive(archive, archive_size, named);
      std::string note;
      const std::filesystem::path target = OutputPath(directory, names.For(named, note));
      if (!note.empty()) {
        progress.Finish();
        Complain("note: " + FileMessage(archive, note));
      }
      if (IsTheArchive(target, archive))
        throw HostError(FileMessage(archive, "member \"" + named.shown +
                                                 "\" is not extracted: it would replace the "
                                                 "archive being read"));
      if (options.keep_existing && Exists(target)) {
        ++kept;
      } else {
        const auto block = Take(plugin, archive, named);
        WriteFileAtomically(target, {block->data(), block->size()});
        ++extracted;
        written_bytes += named.member->size;
      }
    } catch (const HostError& error) {
      progress.Finish();
      Complain(error.what());
      status = 1;
    }
    done_bytes += named.member->size;
    progress.Update(done_bytes, i + 1);
  }
  progress.Finish();
  std::cout << "extracted " << extracted << " of " << Counted(chosen.size(), "member") << " ("
            << Counted(written_bytes, "byte") << ") from " << archive << " into " << directory;
  if (kept != 0) std::cout << "; " << Counted(kept, "file") << " already there left alone";
  std::cout << '\n';
  return status;
}

// The member name a file is stored under: its base name in the archive's
// code page, which must give the same name back when listed.
ArcSource SourceFor(const std::string& path, const NameEncoding& encoding) {
  const std::uint64_t size = RegularFileSize(path);
#if defined(_WIN32)
  const std::string name = AnsiToUtf8(BaseName(path));
#else
  const std::string name = BaseName(path);
#endif
  const std::string quoted = "its name \"" + ShownText(name) + "\"";
  std::string stored;
  for (std::size_t at = 0; at < name.size();) {
    std::size_t length = 1;
    const auto c = NextUtf8(name, at, length);
    if (!c)
      throw HostError(FileMessage(path, quoted +
                                            " is not UTF-8 text, so it has no characters to "
                                            "store in " +
                                            encoding.name()));
    const auto bytes = encoding.Encode(*c);
    if (!bytes)
      throw HostError(FileMessage(path, quoted + " holds \"" + ShownText(name.substr(at, length)) +
                                            "\", which " + encoding.name() + " does not have"));
    stored += *bytes;
    at += length;
  }
  const std::string listed = ShownName(encoding.Decode(stored));
  if (listed != name)
    throw HostError(
        FileMessage(path, quoted + " would be listed as \"" + listed + "\" in " + encoding.name()));
  return {path, stored, size, name};
}

}  // namespace

int RunList(const CommandContext& context, const std::string& archive, bool json,
            const std::string& encoding_name) {
  const NameEncoding encoding(encoding_name);
  const PluginSet set = PluginsFor(context);
  const Plugin& plugin = RecogniseFile(set, archive, PluginKind::kArchive);
  const std::vector<ArchiveMember> members = plugin.List(archive);
  if (json) {
    PrintJson(Named(members, encoding));
  } else {
    PrintTable(Named(members, encoding));
  }
  return 0;
}

int RunExtract(const CommandContext& context, const ExtractOptions& options) {
  const NameEncoding encoding(options.encoding);
  const PluginSet set = PluginsFor(context);
  const Plugin& plugin = RecogniseFile(set, options.archive, PluginKind::kArchive);
  const std::vector<ArchiveMember> members = plugin.List(options.archive);

  // The members to extract, in directory order.
  MemberSelection selection(options.members, options.ignore_case);
  std::vector<NamedMember> chosen;
  for (NamedMember& named : Named(members, encoding)) {
    if (selection.Chooses(named.shown)) chosen.push_back(std::move(named));
  }
  int status = 0;
  for (const std::string& unused : selection.Unused()) {
    Complain(FileMessage(options.archive, "has " + unused));
    status = 1;
  }
  const int written = options.to_stdout
                          ? ExtractToStandardOutput(plugin, options.archive, chosen)
                          : ExtractIntoDirectory(plugin, options, chosen);
  return written != 0 ? written : status;
}

int RunPack(const CommandContext& context, const std::string& archive, bool scramble,
            const std::vector<std::string>& files, const std::string& encoding_name) {
  const NameEncoding encoding(encoding_name);
  const PluginSet set = PluginsFor(context);
  RequireKind(set, PluginKind::kArchive);  // to check the result

  std::vector<ArcSource> sources;
  for (const std::string& path : files) {
    if (SameFile(path, archive)) throw HostError(FileMessage(path, "is the archive being written"));
    sources.push_back(SourceFor(path, encoding));
  }
  const ArcPlan plan = PlanArchive(archive, sources);

  PendingFile out(archive);
  ProgressBar progress(plan.total_size, sources.size(), "members");
  WriteArchive(plan, sources, scramble, out,
               [&](std::uint64_t bytes, std::size_t members) { progress.Update(bytes, members); });
  progress.Finish();
  out.Close();

  // The archive takes its name only once the archive plug-in recognises it
  // and lists every member as written.
  const std::string& written = out.partial();
  const std::string advice = scramble ? " (try without --scramble)" : "";
  const Plugin* plugin = set.Recognise(written, ReadHead(written, kHeadSize), PluginKind::kArchive);
  if (plugin == nullptr)
    throw HostError(
        FileMessage(archive, "the archive plug-in does not recognise the archive as written" +
                                 advice + "; nothing was written"));
  const std::vector<ArchiveMember> listed = plugin->List(written);
  for (std::size_t i = 0; i < plan.entries.size(); ++i) {
    const ArcPlanEntry& entry = plan.entries[i];
    if (i >= listed.size() || listed[i].name != entry.name || listed[i].size != entry.size ||
        listed[i].position != entry.position)
      throw HostError(FileMessage(archive, "the archive plug-in lists member " +
                                               std::to_string(i + 1) + " (" + sources[i].shown +
                                               ") otherwise than it was written" + advice +
                                               "; nothing was written"));
  }
  if (listed.size() != plan.entries.size())
    throw HostError(FileMessage(
        archive, "the archive plug-in lists " + Counted(listed.size(), "member") + " instead of " +
                     std::to_string(plan.entries.size()) + "; nothing was written"));
  out.Commit();
  if (out.to_standard_output()) return 0;  // the archive is the output
  std::cout << "packed " << Counted(plan.entries.size(), "member") << " into " << archive << " ("
            << Counted(plan.total_size, "byte") << (scramble ? ", scrambled directory" : "")
            << ")\n";
  return 0;
}
