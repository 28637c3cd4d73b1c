// vyn list, vyn extract, vyn pack: archives through the archive plug-in, and
// the writer that makes them.
#include <cstdio>
#include <iomanip>
#include <iostream>
#include <set>

#include "arc_writer.h"
#include "command_support.h"
#include "host_error.h"
#include "progress.h"
#include "text_output.h"

namespace {

constexpr int kSizeColumn = 10;  // 4294967295 has ten digits
constexpr int kPositionColumn = 10;

// A member name that, joined to the output directory, names a file inside it.
bool SafeMemberName(const std::string& name) {
  if (name.empty() || name == "." || name == "..") return false;
  return name.find_first_of("/\\:") == std::string::npos;
}

void PrintTable(const std::vector<ArchiveMember>& members) {
  const std::string rule = std::string(kSizeColumn, '-') + "  " +
                           std::string(kPositionColumn, '-') + "  " + std::string(12, '-');
  std::cout << std::setw(kSizeColumn) << "Size"
            << "  " << std::setw(kPositionColumn) << "Position"
            << "  Name\n"
            << rule << '\n';
  std::uint64_t total = 0;
  for (const ArchiveMember& member : members) {
    std::cout << std::setw(kSizeColumn) << member.size << "  " << std::setw(kPositionColumn)
              << member.position << "  " << member.name << '\n';
    total += member.size;
  }
  std::cout << rule << '\n'
            << std::setw(kSizeColumn) << total << "  " << std::setw(kPositionColumn) << ""
            << "  " << Counted(members.size(), "member") << '\n';
}

void PrintJson(const std::vector<ArchiveMember>& members) {
  std::cout << '[';
  for (std::size_t i = 0; i < members.size(); ++i) {
    std::cout << (i == 0 ? "\n" : ",\n") << "  {\"name\": " << JsonString(members[i].name)
              << ", \"size\": " << members[i].size << ", \"position\": " << members[i].position
              << '}';
  }
  std::cout << (members.empty() ? "]\n" : "\n]\n");
}

}  // namespace

int RunList(const CommandContext& context, const std::string& archive, bool json) {
  const PluginSet set = PluginsFor(context);
  const Plugin& plugin = RecogniseFile(set, archive, PluginKind::kArchive);
  const std::vector<ArchiveMember> members = plugin.List(archive);
  if (json) {
    PrintJson(members);
  } else {
    PrintTable(members);
  }
  return 0;
}

int RunExtract(const CommandContext& context, const std::string& archive,
               const std::string& directory, const std::vector<std::string>& wanted) {
  const PluginSet set = PluginsFor(context);
  const Plugin& plugin = RecogniseFile(set, archive, PluginKind::kArchive);
  const std::vector<ArchiveMember> members = plugin.List(archive);
  const std::uint64_t archive_size = RegularFileSize(archive);
  int status = 0;

  // The members to extract, in directory order; names match as stored.
  std::vector<const ArchiveMember*> chosen;
  const std::set<std::string> names(wanted.begin(), wanted.end());
  for (const ArchiveMember& member : members) {
    if (names.empty() || names.count(member.name) != 0) chosen.push_back(&member);
  }
  for (const std::string& name : names) {
    bool found = false;
    for (const ArchiveMember* member : chosen) found = found || member->name == name;
    if (!found) {
      Complain(FileMessage(archive, "has no member named \"" + name + "\""));
      status = 1;
    }
  }

  MakeDirectories(directory);
  std::uint64_t total_bytes = 0;
  for (const ArchiveMember* member : chosen) total_bytes += member->size;
  ProgressBar progress(total_bytes, chosen.size(), "members");
  std::set<std::string> written;
  std::uint64_t done_bytes = 0;
  std::size_t extracted = 0;
  for (std::size_t i = 0; i < chosen.size(); ++i) {
    const ArchiveMember& member = *chosen[i];
    try {
      if (!SafeMemberName(member.name))
        throw HostError(FileMessage(
            archive, "member \"" + member.name +
                         "\" is not extracted: its name would place it outside " + directory));
      if (std::uint64_t{member.position} + member.size > archive_size)
        throw HostError(FileMessage(
            archive,
            "member " + member.name + " runs past the end of the archive, which is damaged"));
      if (!written.insert(member.name).second)
        Complain("note: " + FileMessage(archive, "holds more than one member named " + member.name +
                                                     "; the later one is kept"));
      // The archive plug-in refuses a member of no bytes; its size alone
      // says what the file holds.
      const Bytes bytes = member.size == 0 ? Bytes{} : plugin.Extract(archive, member);
      WriteFileAtomically(JoinPath(directory, member.name), bytes);
      ++extracted;
    } catch (const HostError& error) {
      progress.Finish();
      Complain(error.what());
      status = 1;
    }
    done_bytes += member.size;
    progress.Update(done_bytes, i + 1);
  }
  progress.Finish();
  std::cout << "extracted " << extracted << " of " << Counted(chosen.size(), "member") << " ("
            << Counted(done_bytes, "byte") << ") from " << archive << " into " << directory << '\n';
  return status;
}

int RunPack(const CommandContext& context, const std::string& archive, bool scramble,
            const std::vector<std::string>& files) {
  const PluginSet set = PluginsFor(context);
  RequireKind(set, PluginKind::kArchive);  // to check the result

  std::vector<ArcSource> sources;
  for (const std::string& path : files) {
    if (SameFile(path, archive)) throw HostError(FileMessage(path, "is the archive being written"));
    sources.push_back({path, BaseName(path), RegularFileSize(path)});
  }
  const ArcPlan plan = PlanArchive(archive, sources);

  PendingFile out(archive);
  WriteArchive(plan, sources, scramble, out);
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
      throw HostError(FileMessage(
          archive, "the archive plug-in lists member " + std::to_string(i + 1) + " (" + entry.name +
                       ") otherwise than it was written" + advice + "; nothing was written"));
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
