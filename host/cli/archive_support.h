// What pack and update share with list and extract: the member a file
// becomes, the file extract writes a member to, the check that the archive
// plug-in lists a written archive as planned, and how an archive's own
// directory is kept.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "host/files/file_io.h"
#include "host/formats/arc_writer.h"
#include "host/plugins/plugin_host.h"

class NameEncoding;

// The member a file becomes, stored under `name` (UTF-8; empty: the file's
// base name) in the archive's code page, which must give the same name back
// when listed. Throws HostError naming the file and the reason.
ArcSource SourceFor(const std::string& path, const NameEncoding& encoding,
                    const std::string& name = {});

// The file `vyn extract ARCHIVE -o DIRECTORY` writes each listed member to,
// in directory order: a later member of a name taken already gets a
// numbered name (a~2.txt). `problem` says why a member is not written at
// all (a name that leads elsewhere); empty when it is.
struct ExtractedFile {
  std::string shown;  // the member's name as vyn shows it
  std::string path;   // DIRECTORY joined with the file's name
  std::string problem;
};
std::vector<ExtractedFile> ExtractedFiles(const std::vector<ArchiveMember>& members,
                                          const NameEncoding& encoding,
                                          const std::string& directory);

// A member that runs past the end of the archive file (`overlaps` empty) or
// begins inside another member (the one before it that ends last): still
// listed, as the plug-in lists it, but a sign of damage or of a maker that
// shares bytes between members. Members of 0 bytes overlap nothing. In
// order of position.
struct OddExtent {
  std::size_t member;  // in the listing
  std::optional<std::size_t> overlaps;
};
std::vector<OddExtent> OddExtents(std::uint64_t archive_size,
                                  const std::vector<ArchiveMember>& members);

// Closes the written archive and lets it take its name only once the
// archive plug-in recognises it and lists every planned entry (name, size,
// position) in order; throws HostError naming `out`'s target otherwise.
// `shown` names the members for messages; `advice` is added to them.
void CommitWhenListedAsPlanned(const PluginSet& set, PendingFile& out, const ArcPlan& plan,
                               const std::vector<ArcSource>& sources, const std::string& advice);

// An archive's directory as the writer keeps it: whether it is scrambled,
// and each entry's 12 name bytes as they stand there.
struct KeptDirectory {
  bool scrambled = false;
  std::vector<std::string> fields;
};
// Reads the directory of an archive that the archive plug-in has just
// listed as `members`. Throws HostError when it does not read as that
// listing, plain or scrambled.
KeptDirectory ReadKeptDirectory(const std::string& archive,
                                const std::vector<ArchiveMember>& members);

// "scrambled directory" or "plain directory", as the archive's own bytes
// show it for the listing just made; "directory not as listed" when they
// read as neither.
std::string DirectoryKind(const std::string& archive, const std::vector<ArchiveMember>& members);

// 123456 as "123,456".
std::string WithThousands(std::uint64_t value);
