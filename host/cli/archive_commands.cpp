// vyn list and vyn extract: archives through the archive plug-in; and what
// pack and update share with them (archive_support.h).
#include <CLI/CLI.hpp>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <iomanip>
#include <iostream>
#include <map>
#include <memory>
#include <new>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>

#include "host/cli/archive_support.h"
#include "host/cli/batch.h"
#include "host/cli/command_support.h"
#include "host/cli/ordered_work.h"
#include "host/cli/progress.h"
#include "host/cli/text_output.h"
#include "host/files/member_names.h"
#include "host/files/name_encoding.h"
#include "host/formats/arc_writer.h"
#include "host/host_error.h"
#include "host/plugins/archive_members.h"

namespace {

constexpr int kPlaceColumn = 5;  // 10240 members at most
constexpr int kSizeColumn = 10;  // 4294967295 has ten digits
constexpr int kPositionColumn = 10;

// A listed member and its name decoded.
struct NamedMember {
  const ArchiveMember* member = nullptr;
  std::size_t index = 0;  // in the listing
  std::u32string decoded;
  std::string shown;
  std::u32string output;          // the name it is written under
  const Plugin* image = nullptr;  // when converting: the image plug-in that recognises it
};

std::vector<NamedMember> Named(const std::vector<ArchiveMember>& members,
                               const NameEncoding& encoding) {
  std::vector<NamedMember> named;
  for (std::size_t i = 0; i < members.size(); ++i) {
    std::u32string decoded = encoding.Decode(members[i].name);
    std::string shown = ShownName(decoded);
    std::u32string output = decoded;
    named.push_back(
        {&members[i], i, std::move(decoded), std::move(shown), std::move(output)});
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

// The "#" column is the member's place in the directory, counted from 1, as
// update takes it (#N) where a name is shared.
void PrintTable(const std::vector<NamedMember>& members, const std::string& directory_kind) {
  const std::string rule = std::string(kPlaceColumn, '-') + "  " + std::string(kSizeColumn, '-') +
                           "  " + std::string(kPositionColumn, '-') + "  " + std::string(12, '-');
  std::cout << std::setw(kPlaceColumn) << "#"
            << "  " << std::setw(kSizeColumn) << "Size"
            << "  " << std::setw(kPositionColumn) << "Position"
            << "  Name\n"
            << rule << '\n';
  std::uint64_t total = 0;
  for (const NamedMember& named : members) {
    std::cout << std::setw(kPlaceColumn) << named.index + 1 << "  " << std::setw(kSizeColumn)
              << named.member->size << "  " << std::setw(kPositionColumn) << named.member->position
              << "  " << named.shown << '\n';
    total += named.member->size;
  }
  std::cout << rule << '\n'
            << std::setw(kPlaceColumn) << ""
            << "  " << std::setw(kSizeColumn) << total << "  " << std::setw(kPositionColumn) << ""
            << "  " << Counted(members.size(), "member") << ", " << directory_kind << '\n';
}

// Notes on the members that run past the end of the archive or overlap
// another, the first ten of them.
void NoteOddExtents(const std::string& archive, const std::vector<NamedMember>& members) {
  constexpr std::size_t kMostNotes = 10;
  std::vector<ArchiveMember> listed;
  for (const NamedMember& named : members) listed.push_back(*named.member);
  const std::vector<OddExtent> odd = OddExtents(RegularFileSize(archive), listed);
  const auto label = [&](std::size_t i) {
    return "#" + std::to_string(i + 1) + " (" + members[i].shown + ")";
  };
  for (std::size_t i = 0; i < odd.size() && i < kMostNotes; ++i)
    Complain("note: " + FileMessage(archive, "member " + label(odd[i].member) +
                                                 (odd[i].overlaps
                                                      ? " overlaps " + label(*odd[i].overlaps)
                                                      : std::string(" runs past the end of the file"))));
  if (odd.size() > kMostNotes)
    Complain("note: " + FileMessage(archive, std::to_string(odd.size() - kMostNotes) +
                                                 " more members run past the end or overlap"));
}

// One member a line, in directory order, as scripts read it: a JSON array
// of {"name", "size", "position", "raw"}. The values are nlohmann-json's;
// the layout, one object a line, is ours.
// `indent` goes before every line but the first.
void PrintJson(const std::vector<NamedMember>& members, const std::string& indent = "") {
  const auto value = [](const nlohmann::json& json) {
    return json.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  };
  std::cout << '[';
  for (std::size_t i = 0; i < members.size(); ++i) {
    const ArchiveMember& member = *members[i].member;
    std::cout << (i == 0 ? "\n" : ",\n") << indent << "  {\"name\": " << value(members[i].shown)
              << ", \"size\": " << member.size << ", \"position\": " << member.position
              << ", \"raw\": " << value(RawHex(member.name)) << "}";
  }
  std::cout << (members.empty() ? "]" : "\n" + indent + "]");
}

// The member's bytes through the archive plug-in, in one block.
std::unique_ptr<ReceivedBlock> Take(MemberReader& reader, const NamedMember& named) {
  return reader.TakeWhole(*named.member, named.shown);
}

void CheckWithinArchive(const std::string& archive, std::uint64_t archive_size,
                        const NamedMember& named) {
  if (std::uint64_t{named.member->position} + named.member->size > archive_size)
    throw HostError(FileMessage(
        archive, "member " + named.shown + " runs past the end of the archive, which is damaged"));
}

// A member that cannot be read is said and skipped; standard output that
// cannot be written ends the command at once, with one message (main's).
int ExtractToStandardOutput(const Plugin& plugin, const std::string& archive,
                            const std::vector<NamedMember>& chosen) {
  const std::uint64_t archive_size = RegularFileSize(archive);
  MemberReader reader(plugin, archive);
  int status = 0;
  for (const NamedMember& named : chosen) {
    // A member in one piece is written whole or not at all. One that fails
    // after a piece has gone out ends the command: what follows would no
    // longer be where a reader of the stream expects it.
    // A failed write to standard output ends it at once, with one message.
    std::uint64_t delivered = 0;
    bool writing = false;
    try {
      CheckWithinArchive(archive, archive_size, named);
      reader.Take(*named.member, named.shown, [&](std::span<const unsigned char> piece) {
        writing = true;
        WriteStandardOutput(piece);
        writing = false;
        delivered += piece.size();
      });
    } catch (const HostError& error) {
      if (delivered != 0 || writing) throw;
      Complain(error.what());
      status = 1;
    }
  }
  return status;
}

// The file each chosen member is written to. A member whose file an earlier
// one of this run takes already is written under a numbered name (a~2.txt)
// that no member of the run has, unless the later one is to replace it.
class OutputNames {
 public:
  OutputNames(const std::vector<NamedMember>& chosen, bool later_replaces)
      : later_replaces_(later_replaces) {
    for (const NamedMember& named : chosen) own_.insert(FileNameKey(MemberFileName(named.output)));
  }

  // The file name for the member, and a note when it is not its own name.
  std::filesystem::path For(const NamedMember& named, std::string& note) {
    note.clear();
    std::filesystem::path file = MemberFileName(named.output);
    const auto [earlier, first] = taken_.emplace(FileNameKey(file), ShownName(named.output));
    if (first) return file;
    const std::string written = ShownName(named.output);
    const std::string clash =
        earlier->second == written
            ? (written == named.shown ? "holds more than one member named " + named.shown
                                      : "holds more than one member written as " + written)
            : "holds members " + earlier->second + " and " + written + ", which name one file here";
    if (later_replaces_) {
      note = clash + "; the later one is kept";
      return file;
    }
    for (unsigned n = 2;; ++n) {
      const std::u32string numbered = NumberedName(named.output, n);
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
  std::map<std::u32string, std::string> taken_;  // by this run, with the name shown
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

// What a conversion writes a picture as.
struct Conversion {
  PictureFileType type = PictureFileType::kUnknown;  // kUnknown: members as they are
  const char* extension = "";
  const char* noun = "";
};

Conversion ConversionFor(const std::string& format) {
  if (format.empty()) return {};
  return PictureFormatNamed(format) == PictureFileType::kPng
             ? Conversion{PictureFileType::kPng, ".png", "PNG"}
             : Conversion{PictureFileType::kBmp, ".bmp", "BMP"};
}

// The name with its extension, if any, replaced: A.GP8 gives A.png.
std::u32string WithExtension(const std::u32string& name, const char* extension) {
  const std::size_t dot = name.rfind(U'.');
  std::u32string converted = dot == std::u32string::npos || dot == 0 ? name : name.substr(0, dot);
  for (const char* c = extension; *c != '\0'; ++c) converted += static_cast<char32_t>(*c);
  return converted;
}

// Whether a member's name ends in ".GP8", in any case.
bool HasGp8Extension(const std::u32string& name) {
  static constexpr char32_t kExtension[] = U".gp8";
  const std::size_t n = std::size(kExtension) - 1;
  if (name.size() < n) return false;
  for (std::size_t i = 0; i < n; ++i)
    if (FoldCase(name[name.size() - n + i]) != kExtension[i]) return false;
  return true;
}

// Finds the chosen members that the image plug-in recognises, from their
// heads alone, and names each after its conversion.
void MarkPictures(const PluginSet& set, const Plugin& plugin, const std::string& archive,
                  const Conversion& conversion, bool by_content, std::vector<NamedMember>& chosen) {
  for (NamedMember& named : chosen) {
    // By name, a data member that happens to pass the picture test (a table
    // of small numbers) is not taken for a picture.
    if (!by_content && !HasGp8Extension(named.decoded)) continue;
    const auto head = TakeMemberHead(plugin, archive, *named.member, kHeadSize);
    if (head == nullptr) continue;  // extracting it says why
    named.image = set.Recognise(named.shown, ContentHead(head->bytes()), PluginKind::kImage);
    if (named.image != nullptr) named.output = WithExtension(named.decoded, conversion.extension);
  }
}

// A picture member's bytes converted into the file it becomes. Throws
// HostError naming the archive and the member when it does not decode.
Bytes ConvertedPicture(const std::string& archive, const NamedMember& named,
                       std::span<const unsigned char> bytes, const Conversion& conversion,
                       const RowProgress& rows = {}) {
  try {
    return ConvertPicture(*named.image, bytes, conversion.type, rows);
  } catch (const HostError& error) {
    throw HostError(FileMessage(archive, named.shown + ": " + error.what()));
  } catch (const std::bad_alloc&) {
    throw HostError(FileMessage(archive, named.shown + ": out of memory"));
  }
}

Bytes Converted(MemberReader& reader, const std::string& archive, const NamedMember& named,
                const Conversion& conversion, const RowProgress& rows = {}) {
  const auto block = Take(reader, named);
  return ConvertedPicture(archive, named, block->bytes(), conversion, rows);
}

int ExtractIntoDirectory(const Plugin& plugin, const ExtractOptions& options,
                         const Conversion& conversion, const std::vector<NamedMember>& chosen,
                         std::size_t left_out) {
  const std::string& archive = options.archive;
  const std::string& directory = options.directory;
  const std::uint64_t archive_size = RegularFileSize(archive);
  MemberReader reader(plugin, archive);
  MakeDirectories(directory);
  // Each member becomes one name in the directory, so only an archive that
  // lies in the directory itself can be replaced by one; elsewhere no member
  // needs asking.
  std::error_code unknown;
  std::filesystem::path archive_directory = SystemPath(archive).parent_path();
  if (archive_directory.empty()) archive_directory = ".";
  const bool archive_here =
      std::filesystem::equivalent(archive_directory, SystemPath(directory), unknown) || unknown;
  std::uint64_t total_bytes = 0;
  for (const NamedMember& named : chosen) total_bytes += named.member->size;
  ProgressBar progress(total_bytes, chosen.size(), options.pictures_only ? "pictures" : "members");
  OutputNames names(chosen, options.overwrite);
  const char* verb = options.pictures_only ? "converted" : "extracted";
  int status = 0;
  std::uint64_t done_bytes = 0;
  std::uint64_t written_bytes = 0;
  std::size_t written = 0;
  std::size_t converted = 0;
  std::size_t not_converted = 0;  // pictures that did not decode, stored instead
  std::size_t kept = 0;
  // Pictures are decoded and compressed side by side, then written in turn;
  // one that does not decode is written as it is stored, or has failed when
  // only pictures are asked for.
  struct Converting {
    std::size_t index;
    std::filesystem::path target;
    std::shared_ptr<const ReceivedBlock> block;
  };
  std::deque<Converting> converting;  // as the work under way
  OrderedWork<Bytes> work(options.jobs, [&](std::future<Bytes>& result) {
    const Converting picture = std::move(converting.front());
    converting.pop_front();
    const NamedMember& named = chosen[picture.index];
    try {
      std::optional<Bytes> file;
      try {
        file = result.get();
      } catch (const HostError& error) {
        if (options.pictures_only) throw;
        NamedMember stored = named;
        stored.output = named.decoded;
        std::string stored_note;
        const std::filesystem::path stored_target =
            OutputPath(directory, names.For(stored, stored_note));
        progress.Finish();
        Complain(std::string("note: ") + error.what() + "; written as it is stored, as " +
                 ShownPath(stored_target.filename()));
        WriteFileAtomically(stored_target, picture.block->bytes());
        ++written;
        ++not_converted;
        written_bytes += named.member->size;
      }
      if (file) {
        WriteFileAtomically(picture.target, *file);
        ++written;
        ++converted;
        written_bytes += file->size();
      }
    } catch (const HostError& error) {
      progress.Finish();
      Complain(error.what());
      status = 1;
    }
    done_bytes += named.member->size;
    progress.Update(done_bytes, picture.index + 1);
  });
  for (std::size_t i = 0; i < chosen.size(); ++i) {
    const NamedMember& named = chosen[i];
    try {
      const std::string problem = UnsafeNameProblem(named.output, directory);
      if (!problem.empty())
        throw HostError(
            FileMessage(archive, "member \"" + named.shown + "\" is not " + verb + ": " + problem));
      CheckWithinArchive(archive, archive_size, named);
      std::string note;
      const std::filesystem::path target = OutputPath(directory, names.For(named, note));
      if (!note.empty()) {
        progress.Finish();
        Complain("note: " + FileMessage(archive, note));
      }
      if (archive_here && IsTheArchive(target, archive))
        throw HostError(FileMessage(archive, "member \"" + named.shown + "\" is not " + verb +
                                                 ": it would replace the archive being read"));
      if (options.keep_existing && Exists(target)) {
        ++kept;
      } else if (named.image != nullptr) {
        std::shared_ptr<const ReceivedBlock> block = Take(reader, named);
        converting.push_back({i, target, block});
        work.Add([&archive, &named, &conversion, block] {
          return ConvertedPicture(archive, named, block->bytes(), conversion);
        });
        continue;  // counted when it is finished
      } else {
        // A piece at a time: a member of any size is held a piece at most.
        PendingFile file(target);
        std::uint64_t got = 0;
        reader.Take(*named.member, named.shown, [&](std::span<const unsigned char> piece) {
          file.Write(piece);
          got += piece.size();
          progress.Update(done_bytes + got, i);
        });
        file.Commit();
        ++written;
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
  work.Drain();
  progress.Finish();
  std::cout << verb << ' ' << written << " of "
            << Counted(chosen.size(), options.pictures_only ? "picture" : "member") << " ("
            << Counted(written_bytes, "byte");
  if (!options.pictures_only && conversion.type != PictureFileType::kUnknown)
    std::cout << ": " << converted << " converted to " << conversion.noun << ", "
              << (written - converted) << " as stored";
  std::cout << ") from " << archive << " into " << directory;
  if (not_converted != 0)
    std::cout << "; " << Counted(not_converted, "picture") << " that did not decode stored as "
              << (not_converted == 1 ? "it is" : "they are");
  const std::size_t failed = chosen.size() - written - kept;
  if (failed != 0) std::cout << "; " << failed << " failed";
  if (left_out != 0) std::cout << "; " << Counted(left_out, "other member") << " left out";
  if (kept != 0) std::cout << "; " << Counted(kept, "file") << " already there left alone";
  std::cout << '\n';
  return status;
}

// The one picture chosen, converted into a file of its own or onto
// standard output.
int ConvertToFile(const Plugin& plugin, const ExtractOptions& options, const Conversion& conversion,
                  const std::vector<NamedMember>& pictures) {
  const std::string& archive = options.archive;
  const std::string& output = options.picture_file;
  if (pictures.size() != 1) {
    std::string names;
    for (std::size_t i = 0; i < pictures.size() && i < 3; ++i)
      names += (i == 0 ? "" : ", ") + pictures[i].shown;
    throw UsageError(
        FileMessage(archive, "the member asked for chooses " + Counted(pictures.size(), "picture") +
                                 " (" + names + (pictures.size() > 3 ? ", ..." : "") + "), and " +
                                 output + " is one file; give a directory to -o instead"));
  }
  const NamedMember& named = pictures.front();
  CheckWithinArchive(archive, RegularFileSize(archive), named);
  if (output != kStandardOutput && SameFile(archive, output))
    throw HostError(FileMessage(output, "is the archive being read; choose another output name"));
  ProgressBar progress(0, 0, "writing " + BaseName(output));
  MemberReader reader(plugin, archive);
  const Bytes file =
      Converted(reader, archive, named, conversion, [&](std::uint64_t rows, std::uint64_t total) {
        progress.SetTotal(total);
        progress.Update(rows, 0);
      });
  progress.Finish();
  WriteFileAtomically(output, file);
  if (output == kStandardOutput) return 0;  // the picture is the output
  std::cout << "converted " << archive << ":" << named.shown << " into " << output << '\n';
  return 0;
}

}  // namespace

ArcSource SourceFor(const std::string& path, const NameEncoding& encoding,
                    const std::string& member_name) {
  const std::uint64_t size = RegularFileSize(path);
  const std::string name = member_name.empty() ? BaseName(path) : member_name;
  const std::string quoted =
      (member_name.empty() ? "its name \"" : "the member name \"") + ShownText(name) + "\"";
  for (std::size_t at = 0; at < name.size();) {
    std::size_t length = 1;
    if (!NextUtf8(name, at, length))
      throw HostError(FileMessage(path, quoted +
                                            " is not UTF-8 text, so it has no characters to "
                                            "store in " +
                                            encoding.name()));
    at += length;
  }
  // "%xNN" gives a byte as it is; every other character is stored in the
  // archive's code page.
  const std::u32string wanted = NameFromShown(name);
  std::string stored;
  for (const char32_t c : wanted) {
    if (IsKeptByte(c)) {
      stored += static_cast<char>(KeptByteValue(c));
      continue;
    }
    const auto bytes = encoding.Encode(c);
    if (!bytes) {
      std::string character;
      AppendUtf8(character, c);
      throw HostError(FileMessage(path, quoted + " holds \"" + ShownText(character) +
                                            "\", which " + encoding.name() + " does not have"));
    }
    stored += *bytes;
  }
  const std::string shown = ShownName(wanted);
  const std::string listed = ShownName(encoding.Decode(stored));
  if (listed != shown)
    throw HostError(
        FileMessage(path, quoted + " would be listed as \"" + listed + "\" in " + encoding.name()));
  return {path, stored, size, shown, {}, false, {}};
}

std::vector<OddExtent> OddExtents(std::uint64_t archive_size,
                                  const std::vector<ArchiveMember>& members) {
  std::vector<std::size_t> by_position;
  for (std::size_t i = 0; i < members.size(); ++i)
    if (members[i].size != 0) by_position.push_back(i);
  std::stable_sort(by_position.begin(), by_position.end(), [&](std::size_t a, std::size_t b) {
    return members[a].position < members[b].position;
  });
  const auto end_of = [&](std::size_t i) {
    return std::uint64_t{members[i].position} + members[i].size;
  };
  std::vector<OddExtent> odd;
  std::optional<std::size_t> furthest;  // of those before, the one that ends last
  for (const std::size_t i : by_position) {
    if (end_of(i) > archive_size) odd.push_back({i, std::nullopt});
    if (furthest && members[i].position < end_of(*furthest)) odd.push_back({i, furthest});
    if (!furthest || end_of(i) > end_of(*furthest)) furthest = i;
  }
  return odd;
}

std::vector<ExtractedFile> ExtractedFiles(const std::vector<ArchiveMember>& members,
                                          const NameEncoding& encoding,
                                          const std::string& directory) {
  const std::vector<NamedMember> named = Named(members, encoding);
  OutputNames names(named, false);
  std::vector<ExtractedFile> files;
  for (const NamedMember& member : named) {
    ExtractedFile file{member.shown, {}, UnsafeNameProblem(member.output, directory)};
    std::string note;
    if (file.problem.empty()) file.path = ShownPath(OutputPath(directory, names.For(member, note)));
    files.push_back(std::move(file));
  }
  return files;
}

void CommitWhenListedAsPlanned(const PluginSet& set, PendingFile& out, const ArcPlan& plan,
                               const std::vector<ArcSource>& sources, const std::string& advice) {
  out.Close();
  const std::string& archive = out.target();
  const std::string& written = out.partial();
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
          archive, "the archive plug-in lists member " + std::to_string(i + 1) + " (" +
                       (sources[i].shown.empty() ? sources[i].name : sources[i].shown) +
                       ") otherwise than it was written" + advice + "; nothing was written"));
  }
  if (listed.size() != plan.entries.size())
    throw HostError(FileMessage(
        archive, "the archive plug-in lists " + Counted(listed.size(), "member") + " instead of " +
                     std::to_string(plan.entries.size()) + "; nothing was written"));
  out.Commit();
}

CommandRun DeclareList(CLI::App& command) {
  auto options = std::make_shared<ListOptions>();
  options->encoding = NameEncoding::kDefault;
  command.add_option("ARCHIVE", options->archives, "Archives, and directories of archives")
      ->required();
  AddRecursiveOption(command, options->recursive);
  command.add_flag("--json", options->json,
                   R"(Print a JSON array of {"name", "size", "position", "raw"} objects and nothing else)");
  AddEncodingOption(command, options->encoding);
  command.footer(R"(One row per member in directory order, with a header and the total, which says whether
the directory is scrambled (as the archive's own bytes show it for this listing). The first
column, #, is the member's place in the directory from 1, as vyn update takes it (#N).
Positions are offsets in the archive file. Names are decoded from the code page of --encoding
and shown in UTF-8, as extract names the files: a byte that does not decode, a control
character, "%" and what Windows allows in no file name show as %xNN ("A.T*" as A.T%x2A).
In JSON "raw" holds the name's bytes in hex, for example "83 5C 95 5C".
Several archives, or a directory (the archives among its files, recognised by content; -r
its subdirectories' too), are listed one after the other under their names, with a summary;
in JSON as an array of {"file", "directory", "members"} objects, one an archive.)");
  return [options](const CommandContext& context) { return RunList(context, *options); };
}

int RunList(const CommandContext& context, const ListOptions& options) {
  const bool json = options.json;
  const NameEncoding encoding(options.encoding);
  const PluginSet set = PluginsFor(context);
  if (!IsBatch(options.archives)) {
    const std::string& archive = options.archives.front();
    const Plugin& plugin = RecogniseFile(set, archive, PluginKind::kArchive);
    const std::vector<ArchiveMember> members = plugin.List(archive);
    const std::vector<NamedMember> named = Named(members, encoding);
    if (json) {
      PrintJson(named);
      std::cout << '\n';
    } else {
      PrintTable(named, DirectoryKind(archive, members));
    }
    NoteOddExtents(archive, named);
    return 0;
  }
  // Several archives: each under its name, or in JSON one object each.
  int status = 0;
  const auto complain = [&](const std::string& message) {
    Complain(message);
    status = 1;
  };
  const std::vector<BatchFile> files =
      Recognised(set, BatchFiles(options.archives, options.recursive, complain),
                 PluginKind::kArchive);
  std::size_t failed = 0;
  bool first = true;
  if (json) std::cout << '[';
  for (const BatchFile& file : files) {
    try {
      const Plugin& plugin = RecogniseFile(set, file.path, PluginKind::kArchive);
      const std::vector<ArchiveMember> members = plugin.List(file.path);
      const std::vector<NamedMember> named = Named(members, encoding);
      const std::string kind = DirectoryKind(file.path, members);
      if (json) {
        const nlohmann::json path = file.path;
        std::cout << (first ? "\n" : ",\n") << "  {\"file\": "
                  << path.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace)
                  << ", \"directory\": \"" << kind.substr(0, kind.find(" directory"))
                  << "\", \"members\": ";
        PrintJson(named, "  ");
        std::cout << '}';
      } else {
        std::cout << (first ? "" : "\n") << file.path << ":\n";
        PrintTable(named, kind);
      }
      first = false;
      NoteOddExtents(file.path, named);
    } catch (const HostError& error) {
      complain(error.what());
      ++failed;
    }
  }
  if (json) std::cout << (first ? "]\n" : "\n]\n");
  if (!json) std::cout << "\nlisted " << BatchSummary(files.size(), failed, "archive") << '\n';
  return status;
}

CommandRun DeclareExtract(CLI::App& command) {
  auto options = std::make_shared<ExtractOptions>();
  options->encoding = NameEncoding::kDefault;
  command
      .add_option("ARCHIVE", options->arguments,
                  "ARCHIVE... [MEMBER...]: archives (and directories of them), then members to "
                  "extract, by name as listed or by pattern such as '*.GP8' (default: all)")
      ->required();
  AddRecursiveOption(command, options->recursive);
  AddJobsOption(command, options->jobs);
  CLI::Option* output = command
                            .add_option("-o,--output", options->directory,
                                        "Directory to extract into; created when missing")
                            ->type_name("DIR")
                            ->capture_default_str();
  CLI::Option* to_stdout = command.add_flag(
      "--stdout", options->to_stdout,
      "Write the members' bytes to standard output, one after the other, and no file");
  CLI::Option* keep = command.add_flag("-k,--keep-existing", options->keep_existing,
                                       "Leave files that already exist in DIR alone");
  CLI::Option* overwrite = command.add_flag(
      "--overwrite", options->overwrite,
      "Of members with one name, let the later replace the earlier (default: the later is "
      "written as NAME~2.EXT)");
  command.add_flag("--ignore-case", options->ignore_case,
                   "Match MEMBER names and patterns whatever their case");
  CLI::Option* convert_members =
      command
          .add_option("--convert", options->convert,
                      "Write each member named *.GP8 that the image plug-in recognises as a "
                      "picture in this format, png or bmp, named with its extension; every "
                      "other member as it is stored")
          ->type_name("FORMAT")
          ->check(CLI::IsMember({"png", "bmp"}));
  command
      .add_flag("--convert-by-content", options->convert_by_content,
                "With --convert, convert every member the image plug-in recognises, whatever "
                "its name (default: only those named *.GP8)")
      ->needs(convert_members);
  AddEncodingOption(command, options->encoding);
  to_stdout->excludes(output)->excludes(keep)->excludes(overwrite)->excludes(convert_members);
  keep->excludes(overwrite);
  command.footer(R"(Every member goes through the archive plug-in's GetFile, each with its own listed size, even
where several share a position; a member of 0 bytes becomes an empty file. A MEMBER with *, ? or
[...] is also a pattern: * any characters, ? one, [a-z] one of a set, [!a-z] one not in it;
%xNN in a MEMBER is that character as it is (%x5B1].TXT is [1].TXT alone, %x2A a "*").
Files are named as list shows the members, the same on every system: %xNN stands for a byte
that does not decode, a control character, "%" itself and what Windows allows in no file
name (/ \ : * ? " < > |, a last "." or " ", a device name such as CON), so every member
becomes one file in DIR and pack and update read the name back to the same bytes. A member
that would replace the archive itself is refused. An existing file of a member's name is replaced, unless -k. A member is never left
half-written. With --convert, a picture that the image plug-in recognises but cannot decode is
written as it is stored, with a note; nothing is lost. With --stdout, a failed write to standard
output ends the command at once.)");
  return [options](const CommandContext& context) { return RunExtract(context, *options); };
}

namespace {

int ExtractBatch(const CommandContext& context, const ExtractOptions& options,
                 const std::vector<std::string>& inputs, bool recursive);

// One archive. With `used`, the member arguments that choose something are
// marked there instead of those that choose nothing being complained of.
int ExtractOne(const CommandContext& context, const ExtractOptions& options,
               std::vector<bool>* used) {
  const NameEncoding encoding(options.encoding);
  const Conversion conversion = ConversionFor(options.convert);
  const PluginSet set = PluginsFor(context);
  if (conversion.type != PictureFileType::kUnknown) RequireKind(set, PluginKind::kImage);
  const Plugin& plugin = RecogniseFile(set, options.archive, PluginKind::kArchive);
  const std::vector<ArchiveMember> members = plugin.List(options.archive);

  // The members to extract, in directory order.
  MemberSelection selection(options.members, options.ignore_case);
  std::vector<NamedMember> chosen;
  for (NamedMember& named : Named(members, encoding)) {
    if (selection.Chooses(named.decoded)) chosen.push_back(std::move(named));
  }
  int status = 0;
  if (used != nullptr) {
    for (std::size_t i = 0; i < options.members.size(); ++i)
      if (selection.Used(i)) (*used)[i] = true;
  } else {
    for (const std::string& unused : selection.Unused()) {
      Complain(FileMessage(options.archive, "has " + unused));
      status = 1;
    }
  }
  std::size_t left_out = 0;
  if (conversion.type != PictureFileType::kUnknown) {
    MarkPictures(set, plugin, options.archive, conversion,
                 options.pictures_only || options.convert_by_content, chosen);
    if (options.pictures_only) {
      const auto others = std::stable_partition(
          chosen.begin(), chosen.end(), [](const NamedMember& named) { return named.image; });
      left_out = static_cast<std::size_t>(chosen.end() - others);
      if (!options.picture_file.empty() && others == chosen.begin() && others != chosen.end())
        throw HostError(
            FileMessage(options.archive,
                        others->shown + " is not a picture that the image plug-in recognises"));
      chosen.erase(others, chosen.end());
    }
    if (!options.picture_file.empty()) {
      if (status != 0) return status;
      return ConvertToFile(plugin, options, conversion, chosen);
    }
  }
  const int written = options.to_stdout
                          ? ExtractToStandardOutput(plugin, options.archive, chosen)
                          : ExtractIntoDirectory(plugin, options, conversion, chosen, left_out);
  return written != 0 ? written : status;
}

}  // namespace

int RunExtract(const CommandContext& context, const ExtractOptions& options) {
  if (options.arguments.empty()) return ExtractOne(context, options, nullptr);
  // The inputs, then the members.
  const PluginSet set = PluginsFor(context);
  std::vector<std::string> inputs = {options.arguments.front()};
  std::size_t at = 1;
  for (; at < options.arguments.size(); ++at) {
    const std::string& argument = options.arguments[at];
    bool input = IsDirectory(argument);
    if (!input && IsRegularFile(argument)) {
      try {
        input = set.Recognise(argument, ReadHead(argument, kHeadSize), PluginKind::kArchive) !=
                nullptr;
      } catch (const HostError&) {
      }
    }
    if (!input) break;
    inputs.push_back(argument);
  }
  ExtractOptions one = options;
  one.arguments.clear();
  one.members.assign(options.arguments.begin() + static_cast<std::ptrdiff_t>(at),
                     options.arguments.end());
  if (!IsBatch(inputs)) {
    one.archive = inputs.front();
    return ExtractOne(context, one, nullptr);
  }
  return ExtractBatch(context, one, inputs, options.recursive);
}

namespace {

// Each archive into a folder of its own below the directory, named after it;
// a member argument is wrong only when it chooses nothing in any of them.
int ExtractBatch(const CommandContext& context, const ExtractOptions& options,
                 const std::vector<std::string>& inputs, bool recursive) {
  int status = 0;
  const auto complain = [&](const std::string& message) {
    Complain(message);
    status = 1;
  };
  const PluginSet set = PluginsFor(context);
  const std::vector<BatchFile> files =
      Recognised(set, BatchFiles(inputs, recursive, complain), PluginKind::kArchive);
  std::vector<bool> used(options.members.size(), false);
  std::size_t failed = 0;
  for (const BatchFile& file : files) {
    ExtractOptions one = options;
    one.archive = file.path;
    one.directory = JoinPath(options.directory, file.folder);
    int result = 1;
    try {
      result = ExtractOne(context, one, &used);
    } catch (const HostError& error) {
      Complain(error.what());
    }
    if (result != 0) {
      status = 1;
      ++failed;
    }
  }
  for (std::size_t i = 0; i < used.size(); ++i) {
    if (!used[i]) {
      complain("no archive has a member " + std::string(options.members[i].find_first_of("*?[") ==
                                                                std::string::npos
                                                            ? "named \""
                                                            : "matching \"") +
               ShownText(options.members[i]) + "\"");
    }
  }
  if (!options.to_stdout)
    std::cout << "extracted from " << BatchSummary(files.size(), failed, "archive") << '\n';
  return status;
}

}  // namespace
