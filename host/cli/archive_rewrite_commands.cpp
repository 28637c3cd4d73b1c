// vyn pack and vyn update: archives written by the host's writer, from files,
// directories and lists, in the image of an existing archive (--like), or as
// an existing archive with some members replaced, added or deleted.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <map>
#include <memory>
#include <optional>

#include "byte_order.h"
#include "host/cli/archive_support.h"
#include "host/cli/command_support.h"
#include "host/cli/progress.h"
#include "host/cli/text_output.h"
#include "host/files/member_names.h"
#include "host/files/name_encoding.h"
#include "host/formats/arc_writer.h"
#include "host/formats/picture_io.h"
#include "host/host_error.h"
#include "host/plugins/archive_members.h"

namespace {

// How one way of reading a raw entry compares with the listing: the name up
// to its NUL (all 12 bytes when there is none), the size and the position.
bool ReadsAs(const unsigned char* entry, const ArchiveMember& member) {
  const void* nul = std::memchr(entry + kEntryNameOffset, 0, kEntryNameSize);
  const std::size_t length =
      nul == nullptr ? kEntryNameSize
                     : static_cast<std::size_t>(static_cast<const unsigned char*>(nul) - entry);
  return std::string(reinterpret_cast<const char*>(entry + kEntryNameOffset), length) ==
             member.name &&
         ReadLe32(entry + kEntrySizeOffset) == member.size &&
         ReadLe32(entry + kEntryPositionOffset) == member.position;
}

// Lines of a list file (UTF-8), without line ends, a byte order mark, or
// blank lines.
std::vector<std::string> ListLines(const std::string& path) {
  const Bytes bytes = ReadWholeFile(path);
  std::string text(bytes.begin(), bytes.end());
  if (text.rfind("\xEF\xBB\xBF", 0) == 0) text.erase(0, 3);
  std::vector<std::string> lines;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(at, end - at);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.find_first_not_of(" \t") != std::string::npos) lines.push_back(std::move(line));
    at = end + 1;
  }
  return lines;
}

bool Exists(const std::string& path) { return IsRegularFile(path) || IsDirectory(path); }

// NAME=PATH split in two; PATH alone, or a path that exists with its "=",
// gives an empty name.
std::pair<std::string, std::string> NameAndPath(const std::string& argument) {
  const std::size_t equals = argument.find('=');
  if (equals == std::string::npos || equals == 0 || Exists(argument)) return {"", argument};
  return {argument.substr(0, equals), argument.substr(equals + 1)};
}

// A directory's regular files, in the order of their names.
std::vector<std::string> FilesIn(const std::string& directory) {
  std::vector<std::string> names;
  std::error_code error;
  for (std::filesystem::directory_iterator it(SystemPath(directory), error), end;
       !error && it != end; it.increment(error)) {
    std::error_code type_error;
    if (it->is_regular_file(type_error)) names.push_back(ShownPath(it->path().filename()));
  }
  if (error)
    throw HostError(FileMessage(directory, "cannot read the directory: " + error.message()));
  std::sort(names.begin(), names.end());
  std::vector<std::string> paths;
  for (const std::string& name : names) paths.push_back(JoinPath(directory, name));
  return paths;
}

// Adds the members one argument of pack gives: a file, NAME=PATH, every
// regular file of a directory (the archive being written left out) or,
// where lists may be, @LIST.
void AddPackArgument(const std::string& argument, const NameEncoding& encoding,
                     const std::string& archive, bool lists_allowed,
                     std::vector<ArcSource>& sources) {
  if (lists_allowed && argument.size() > 1 && argument[0] == '@' && !Exists(argument)) {
    for (const std::string& line : ListLines(argument.substr(1)))
      AddPackArgument(line, encoding, archive, false, sources);
    return;
  }
  const auto [name, path] = NameAndPath(argument);
  if (name.empty() && IsDirectory(path)) {
    for (const std::string& file : FilesIn(path)) {
      if (!SameFile(file, archive)) sources.push_back(SourceFor(file, encoding));
    }
    return;
  }
  if (SameFile(path, archive)) throw HostError(FileMessage(path, "is the archive being written"));
  sources.push_back(SourceFor(path, encoding, name));
}

// The members in the order of the names of the list: those it names first,
// as it names them, then the others as they came.
std::vector<ArcSource> InOrder(std::vector<ArcSource> sources, const std::string& list) {
  std::vector<ArcSource> ordered;
  for (const std::string& name : ListLines(list)) {
    const auto found = std::find_if(sources.begin(), sources.end(),
                                    [&](const ArcSource& source) {
                                      return source.shown == CanonicalName(name);
                                    });
    if (found == sources.end())
      throw HostError(FileMessage(list, "names \"" + ShownText(name) +
                                            "\", which is none of the members to pack (or is "
                                            "named twice)"));
    ordered.push_back(std::move(*found));
    sources.erase(found);
  }
  for (ArcSource& source : sources) ordered.push_back(std::move(source));
  return ordered;
}

// An existing archive's members, names, order and scrambling, each member's
// bytes from the file extract would have written it to in the directory.
std::vector<ArcSource> SourcesLike(const PluginSet& set, const std::string& original,
                                   const std::string& directory, const NameEncoding& encoding,
                                   bool& scrambled) {
  const Plugin& plugin = RecogniseFile(set, original, PluginKind::kArchive);
  const std::vector<ArchiveMember> members = plugin.List(original);
  const KeptDirectory kept = ReadKeptDirectory(original, members);
  scrambled = kept.scrambled;
  const std::vector<ExtractedFile> files = ExtractedFiles(members, encoding, directory);
  std::vector<ArcSource> sources;
  for (std::size_t i = 0; i < members.size(); ++i) {
    if (!files[i].problem.empty())
      throw HostError(FileMessage(
          original, "member \"" + files[i].shown +
                        "\" has no file that extract would write: " + files[i].problem));
    sources.push_back({files[i].path,
                       members[i].name,
                       RegularFileSize(files[i].path),
                       files[i].shown,
                       {},
                       true,
                       kept.fields[i]});
  }
  return sources;
}

// A member chosen by "#N", its place in the directory counted from 1; nothing
// when the text is no "#N".
std::optional<std::size_t> Place(const std::string& text, const std::string& archive,
                                 std::size_t count) {
  if (text.size() < 2 || text[0] != '#' ||
      text.find_first_not_of("0123456789", 1) != std::string::npos)
    return std::nullopt;
  const std::string digits = text.substr(1);
  if (digits.size() > 6 || std::stoul(digits) < 1 || std::stoul(digits) > count)
    throw HostError(FileMessage(
        archive, "has no member " + text + "; its members are #1 to #" + std::to_string(count)));
  return std::stoul(digits) - 1;
}

// What update does with each member of the archive.
enum class Change { kKeep, kReplace, kDelete };

struct Update {
  std::vector<Change> changes;
  std::vector<std::string> replacements;                   // by member, for kReplace
  std::vector<std::pair<std::string, std::string>> added;  // name, file
};

class UpdatePlanner {
 public:
  UpdatePlanner(const std::string& archive, const std::vector<ArchiveMember>& members,
                const NameEncoding& encoding)
      : archive_(archive) {
    for (const ArchiveMember& member : members)
      shown_.push_back(ShownName(encoding.Decode(member.name)));
    for (const ExtractedFile& file : ExtractedFiles(members, encoding, "."))
      extracted_.push_back(file.problem.empty() ? BaseName(file.path) : std::string());
    update_.changes.assign(members.size(), Change::kKeep);
    update_.replacements.resize(members.size());
  }

  // FILE, NAME=FILE or #N=FILE. A FILE alone is named by its base name,
  // also when that looks like "#N"; an existing file's name may hold "=".
  // A FILE named as extract writes a member that no member's name gives
  // (a~2.txt for the second a.txt) replaces that member, so that an edited
  // extraction goes back where it came from.
  void Replace(const std::string& argument) {
    const std::size_t equals = argument.find('=');
    const bool split = equals != std::string::npos && equals != 0 &&
                       (argument[0] == '#' || !IsRegularFile(argument));
    const std::string file = split ? argument.substr(equals + 1) : argument;
    const std::string name = split ? argument.substr(0, equals) : BaseName(file);
    std::optional<std::size_t> member = Find(name, split, "=" + ShownText(file));
    if (!member && !split) {
      const auto written = std::find(extracted_.begin(), extracted_.end(), name);
      if (written != extracted_.end())
        member = static_cast<std::size_t>(written - extracted_.begin());
    }
    if (!member) {
      update_.added.emplace_back(name, file);
      return;
    }
    Set(*member, Change::kReplace);
    update_.replacements[*member] = file;
  }

  // NAME or #N.
  void Delete(const std::string& argument) {
    const std::optional<std::size_t> member = Find(argument, true, "");
    if (!member)
      throw HostError(
          FileMessage(archive_, "has no member named \"" + ShownText(argument) + "\" to delete"));
    Set(*member, Change::kDelete);
  }

  const Update& update() const { return update_; }
  const std::string& shown(std::size_t member) const { return shown_[member]; }

 private:
  // The member a name or #N chooses; nothing for a name no member has.
  std::optional<std::size_t> Find(const std::string& name, bool places_allowed,
                                  const std::string& rest) {
    if (places_allowed) {
      if (const auto place = Place(name, archive_, shown_.size())) return place;
    }
    const std::string wanted = CanonicalName(name);
    std::vector<std::size_t> found;
    for (std::size_t i = 0; i < shown_.size(); ++i) {
      if (shown_[i] == wanted) found.push_back(i);
    }
    if (found.size() <= 1) return found.empty() ? std::nullopt : std::optional(found[0]);
    std::string places;
    for (std::size_t i = 0; i < found.size(); ++i)
      places += (i == 0                  ? ""
                 : i + 1 == found.size() ? " and "
                                         : ", ") +
                ("#" + std::to_string(found[i] + 1));
    throw HostError(
        FileMessage(archive_, "has more than one member named \"" + ShownText(name) + "\" (" +
                                  places + "); choose one by its place, as in #" +
                                  std::to_string(found[0] + 1) + rest + " (see vyn list)"));
  }

  void Set(std::size_t member, Change change) {
    if (update_.changes[member] != Change::kKeep)
      throw HostError(FileMessage(archive_, "member #" + std::to_string(member + 1) + " (" +
                                                shown_[member] + ") is changed twice"));
    update_.changes[member] = change;
  }

  std::string archive_;
  std::vector<std::string> shown_;
  std::vector<std::string> extracted_;  // the file extract writes each member to
  Update update_;
};

}  // namespace

KeptDirectory ReadKeptDirectory(const std::string& archive,
                                const std::vector<ArchiveMember>& members) {
  // The archive plug-in's IsSupported decided that this is an archive and
  // its listing says what each entry holds. Whether the directory is
  // scrambled is seen by reading the raw entries beside that listing: an
  // entry reads as its listed name, size and position either as it stands
  // or combined with the mask, never both (the mask changes every byte).
  // Nothing of the members' content is taken from here; only the name
  // fields are kept, with any bytes after their NUL.
  const Bytes raw = ReadFileRange(archive, kDirectoryOffset, members.size() * kEntrySize);
  KeptDirectory kept;
  std::optional<bool> scrambled;
  for (std::size_t i = 0; i < members.size(); ++i) {
    const unsigned char* entry = raw.data() + i * kEntrySize;
    std::array<unsigned char, kEntrySize> unmasked{};
    for (std::uint32_t b = 0; b < kEntrySize; ++b)
      unmasked[b] = static_cast<unsigned char>(entry[b] ^ kDirectoryMask[b]);
    const bool plain = ReadsAs(entry, members[i]);
    const bool masked = ReadsAs(unmasked.data(), members[i]);
    if (!scrambled && plain != masked) scrambled = masked;
    if (!scrambled || !(*scrambled ? masked : plain))
      throw HostError(FileMessage(
          archive, "its directory entry " + std::to_string(i + 1) +
                       " does not read as the archive plug-in lists it, plain or scrambled; vyn "
                       "cannot keep its directory"));
    const unsigned char* field = (*scrambled ? unmasked.data() : entry) + kEntryNameOffset;
    kept.fields.emplace_back(reinterpret_cast<const char*>(field), kEntryNameSize);
  }
  kept.scrambled = scrambled.value_or(false);
  return kept;
}

std::string WithThousands(std::uint64_t value) {
  std::string digits = std::to_string(value);
  for (std::size_t at = digits.size(); at > 3; at -= 3) digits.insert(at - 3, ",");
  return digits;
}

CommandRun DeclarePack(CLI::App& command) {
  auto options = std::make_shared<PackOptions>();
  options->encoding = NameEncoding::kDefault;
  command
      .add_option("-o,--output", options->archive, "The archive to write, or - for standard output")
      ->type_name("OUT.ARC")
      ->required();
  CLI::Option* scramble =
      command.add_flag("--scramble", options->scramble, "Scramble the archive's directory");
  CLI::Option* lists =
      command
          .add_option("-T,--files-from", options->lists,
                      "Read members from this list too: one FILE, DIR or NAME=PATH a line (UTF-8)")
          ->type_name("LIST");
  CLI::Option* order = command
                           .add_option("--order", options->order,
                                       "Put the members this list names, one a line, first and "
                                       "in its order; the others follow as given")
                           ->type_name("LIST");
  CLI::Option* like =
      command
          .add_option("--like", options->like,
                      "Write the members of this archive, in its order, under its name bytes and "
                      "with its scrambling, each from its file in DIR as extract names it")
          ->type_name("ORIGINAL.ARC");
  like->excludes(scramble)->excludes(lists)->excludes(order);
  AddEncodingOption(command, options->encoding);
  command.add_option("FILE", options->files,
                     "Files to pack: FILE, NAME=FILE (stored as NAME), a directory (its regular "
                     "files in name order) or @LIST (as -T); with --like, the one DIR");
  command.footer(
      R"(Names are stored in the code page of --encoding, read as extract writes them: %xNN is the
byte NN as it is (a byte that does not decode, a control character, "%" or a character Windows
allows in no file name), so an extracted tree packs back to the same name bytes on every system.
Refused, with the file and the rule: fewer
than 2 or more than 10240 files; a name the code page cannot hold, or that would list otherwise;
a name over 12 bytes once stored, without a ".", or with a byte after the "." outside ! to z;
two names that differ only in case; an archive beyond 4 GiB. The archive takes its name only
after the archive plug-in has recognised it and listed every member as written.
A list holds one FILE, DIR or NAME=PATH a line, blank lines ignored; relative paths are taken
from the current directory. Lists have no length limit, as a command line has.
  vyn pack -o new.ARC dir/                   every regular file of dir, in name order
  vyn pack -o new.ARC -T files.txt           members from a list
  vyn pack -o new.ARC TITLE.GP8=title.gp8 a.txt
  vyn pack --like old.ARC -o new.ARC out/    old.ARC's members from out/, as extract wrote them
With --like an archive that vyn wrote and extract then wrote out comes back byte for byte.)");
  return [options](const CommandContext& context) { return RunPack(context, *options); };
}

int RunPack(const CommandContext& context, const PackOptions& options) {
  const std::string& archive = options.archive;
  bool scramble = options.scramble;
  const NameEncoding encoding(options.encoding);
  const PluginSet set = PluginsFor(context);
  RequireKind(set, PluginKind::kArchive);  // to check the result
  if (options.files.empty() && options.lists.empty())
    throw UsageError("pack: give the files to pack, a directory, or a list (-T LIST)");

  std::vector<ArcSource> sources;
  if (!options.like.empty()) {
    if (options.files.size() != 1 || !IsDirectory(options.files[0]))
      throw UsageError("pack --like: give one directory, which holds the members' files");
    sources = SourcesLike(set, options.like, options.files[0], encoding, scramble);
  } else {
    for (const std::string& argument : options.files)
      AddPackArgument(argument, encoding, archive, true, sources);
    for (const std::string& list : options.lists) {
      for (const std::string& line : ListLines(list))
        AddPackArgument(line, encoding, archive, false, sources);
    }
    if (!options.order.empty()) sources = InOrder(std::move(sources), options.order);
  }
  const ArcPlan plan = PlanArchive(archive, sources);

  PendingFile out(archive);
  ProgressBar progress(plan.total_size, sources.size(), "members");
  WriteArchive(plan, sources, scramble, out,
               [&](std::uint64_t bytes, std::size_t members) { progress.Update(bytes, members); });
  progress.Finish();
  // The archive takes its name only once the archive plug-in recognises it
  // and lists every member as written.
  CommitWhenListedAsPlanned(set, out, plan, sources,
                            scramble && options.like.empty() ? " (try without --scramble)" : "");
  if (out.to_standard_output()) return 0;  // the archive is the output
  std::cout << "packed " << Counted(plan.entries.size(), "member") << " into " << archive << " ("
            << Counted(plan.total_size, "byte") << (scramble ? ", scrambled directory" : "")
            << ")\n";
  return 0;
}

namespace {

// With --palette-from-original, a PNG or BMP given by its file alone
// (X.png) stands for the member X.GP8 it was converted from, in any case;
// anything else goes as it is.
std::string PictureForMember(const UpdatePlanner& planner, std::size_t members,
                             const std::string& change) {
  if (change.empty() || change[0] == '#' || PictureFileTypeOf(change) == PictureFileType::kUnknown)
    return change;
  const std::string name = BaseName(change);
  const std::string gp8 = name.substr(0, name.rfind('.')) + ".GP8";
  const std::u32string wanted = DecodeUtf8(gp8);
  for (std::size_t i = 0; i < members; ++i) {
    const std::u32string listed = DecodeUtf8(planner.shown(i));
    if (std::equal(listed.begin(), listed.end(), wanted.begin(), wanted.end(),
                   [](char32_t a, char32_t b) { return FoldCase(a) == FoldCase(b); }))
      return planner.shown(i) + "=" + change;
  }
  return change;
}

// The picture file encoded as GP8 in the palette of the picture member it
// replaces, which comes out through the archive plug-in and is decoded
// through the image plug-in. Says how many pixels took the nearest colour.
Bytes InOriginalPalette(const PluginSet& set, const Plugin& plugin, const std::string& archive,
                        const ArchiveMember& member, const std::string& shown,
                        const std::string& path, bool dither) {
  std::vector<Rgb> palette;
  const Plugin* image = nullptr;
  {
    const auto block = TakeMember(plugin, archive, member, shown);
    image = set.Recognise(shown, ContentHead(block->bytes()), PluginKind::kImage);
    if (image == nullptr)
      throw HostError(FileMessage(archive, shown + " is not a picture that the image plug-in "
                                               "recognises, so it has no palette to keep"));
    try {
      const DeliveredPicture delivered = image->PictureInMemory(block->bytes());
      palette = PictureFromDib(delivered.header, delivered.pixels).palette;
    } catch (const HostError& error) {
      throw HostError(FileMessage(archive, shown + ": " + error.what()));
    }
  }
  std::uint64_t inexact = 0;
  Bytes gp8 = EncodeInPalette(*image, path, palette, dither, inexact);
  if (inexact != 0)
    Complain("note: " + FileMessage(path, WithThousands(inexact) +
                                              (inexact == 1 ? " pixel" : " pixels") +
                                              " had no exact colour in " + shown +
                                              "'s palette and " +
                                              (dither ? "were dithered" : "took the nearest")));
  return gp8;
}

}  // namespace

CommandRun DeclareUpdate(CLI::App& command) {
  auto options = std::make_shared<UpdateOptions>();
  options->encoding = NameEncoding::kDefault;
  command.add_option("ARCHIVE", options->archive, "The archive to update")->required();
  command.add_option("CHANGE", options->changes,
                     "FILE (replaces the member of its base name, or is added), NAME=FILE, or "
                     "#N=FILE (the Nth member in directory order, as list numbers them)");
  command.add_option("--delete", options->deletions, "Delete the member NAME or #N")
      ->type_name("NAME|#N");
  command
      .add_option("-o,--output", options->output,
                  "Write the updated archive here and leave ARCHIVE as it is")
      ->type_name("NEW.ARC");
  CLI::Option* original =
      command.add_flag("--palette-from-original", options->palette_from_original,
                       "Encode a PNG or BMP that replaces a picture as GP8 in exactly the "
                       "replaced picture's palette; X.png replaces the member X.GP8");
  command
      .add_flag("--dither", options->dither,
                "With --palette-from-original, diffuse the difference of colours the palette "
                "lacks (Floyd-Steinberg)")
      ->needs(original);
  AddEncodingOption(command, options->encoding);
  command.footer(
      R"(Every member not named keeps its place, its name bytes and its bytes, taken through the archive
plug-in, and the directory stays scrambled or plain as it was. A name not in the archive adds a
member after the last one, except a FILE named as extract wrote a member (a~2.txt for the
second a.txt), which replaces that member. A name that several members share is refused:
choose by #N, the first column of vyn list (a member named "#1" itself is %x231). Names are
read as extract writes them, %xNN as the byte NN. The result is written beside the archive under a partial name,
checked as pack checks it, and replaces the archive only when whole; an interrupt or a full
disk leaves the archive as it was.
  vyn update A.ARC TITLE.GP8                 replace TITLE.GP8 with the file of that name
  vyn update A.ARC --palette-from-original TITLE.png
                                             TITLE.GP8 from the edited PNG, in its own palette
  vyn update A.ARC '#12=title.gp8' --delete OLD.TXT -o B.ARC)");
  return [options](const CommandContext& context) { return RunUpdate(context, *options); };
}

int RunUpdate(const CommandContext& context, const UpdateOptions& options) {
  if (options.changes.empty() && options.deletions.empty())
    throw UsageError("update: give members to replace, add (FILE, NAME=FILE, #N=FILE) or delete");
  const std::string& archive = options.archive;
  const std::string& target = options.output.empty() ? archive : options.output;
  const NameEncoding encoding(options.encoding);
  const PluginSet set = PluginsFor(context);
  const Plugin& plugin = RecogniseFile(set, archive, PluginKind::kArchive);
  const std::vector<ArchiveMember> members = plugin.List(archive);
  const KeptDirectory kept = ReadKeptDirectory(archive, members);
  const std::uint64_t archive_size = RegularFileSize(archive);
  std::optional<MemberReader> reader(std::in_place, plugin, archive);

  UpdatePlanner planner(archive, members, encoding);
  for (const std::string& deletion : options.deletions) planner.Delete(deletion);
  for (const std::string& change : options.changes)
    planner.Replace(options.palette_from_original ? PictureForMember(planner, members.size(), change)
                                                  : change);
  const Update& update = planner.update();

  std::vector<ArcSource> sources;
  std::size_t replaced = 0, deleted = 0;
  for (std::size_t i = 0; i < members.size(); ++i) {
    const ArchiveMember& member = members[i];
    const std::string& shown = planner.shown(i);
    ArcSource source{archive + ":" + shown, member.name, member.size, shown, {}, true,
                     kept.fields[i]};
    switch (update.changes[i]) {
      case Change::kDelete:
        ++deleted;
        continue;
      case Change::kReplace:
        source.path = update.replacements[i];
        if (options.palette_from_original &&
            PictureFileTypeOf(source.path) != PictureFileType::kUnknown) {
          auto gp8 = std::make_shared<const Bytes>(
              InOriginalPalette(set, plugin, archive, member, shown, source.path,
                                options.dither));
          source.size = gp8->size();
          source.take = [gp8](const ArcPieceSink& deliver) { deliver(*gp8); };
        } else {
          source.size = RegularFileSize(source.path);
        }
        ++replaced;
        break;
      case Change::kKeep:
        if (std::uint64_t{member.position} + member.size > archive_size)
          throw HostError(FileMessage(archive, "member " + shown +
                                                   " runs past the end of the archive, which is "
                                                   "damaged"));
        source.take = [&reader, &member, shown](const ArcPieceSink& deliver) {
          reader->Take(member, shown, deliver);
        };
        break;
    }
    sources.push_back(std::move(source));
  }
  for (const auto& [name, file] : update.added) sources.push_back(SourceFor(file, encoding, name));
  const ArcPlan plan = PlanArchive(target, sources);

  PendingFile out(target);
  ProgressBar progress(plan.total_size, sources.size(), "members");
  WriteArchive(plan, sources, kept.scrambled, out,
               [&](std::uint64_t bytes, std::size_t done) { progress.Update(bytes, done); });
  progress.Finish();
  reader.reset();  // closed before the new archive takes the old one's name
  CommitWhenListedAsPlanned(set, out, plan, sources, "");
  if (out.to_standard_output()) return 0;  // the archive is the output
  const std::size_t added = update.added.size();
  std::cout << "updated " << archive << (target == archive ? "" : " into " + target) << ": "
            << Counted(replaced, "member") << " replaced, " << added << " added, " << deleted
            << " deleted, " << members.size() - replaced - deleted << " kept ("
            << WithThousands(plan.total_size) << " bytes)\n";
  return 0;
}

std::string DirectoryKind(const std::string& archive, const std::vector<ArchiveMember>& members) {
  try {
    return ReadKeptDirectory(archive, members).scrambled ? "scrambled directory"
                                                         : "plain directory";
  } catch (const HostError&) {
    return "directory not as listed";
  }
}
