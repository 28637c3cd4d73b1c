// What `vyn view` shows: the archives and pictures given on its command
// line, found by content, each archive with its members listed once at start.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "host/plugins/plugin_host.h"

struct ViewMember {
  ArchiveMember member;
  std::string display_name;       // the stored name decoded for the page
  bool picture = false;           // the image plug-in recognises its bytes
  bool archive = false;           // an archive plug-in does: it opens as a folder
};

struct ViewInput {
  enum class Kind { kArchive, kPicture };
  Kind kind = Kind::kPicture;
  std::string path;
  std::string display_name;
  const Plugin* plugin = nullptr;  // the plug-in that recognised it
  std::uint64_t size = 0;
  std::vector<ViewMember> members;  // archives only, in directory order
  std::int64_t modified = 0;        // the file's modification time when it was read
  std::uint64_t generation = 0;     // how many times it has been read again
  std::string error;                // why it can no longer be read, after a change
};

// Whether the input's file has another size or modification time than when
// it was read (or is gone).
bool ChangedOnDisk(const ViewInput& input);

// The input read again from its file after a change: listed anew, or, when
// it can no longer be read or recognised, empty with the reason in `error`.
ViewInput ReadInputAgain(const PluginSet& plugins, const ViewInput& old);

// The stored name of a member as UTF-8, decoded from the Japanese code page
// its makers wrote it in, as vyn list shows it: bytes that do not decode and
// control characters escaped as \xNN.
std::string DisplayName(const std::string& stored);

// Classifies a member by its first bytes, as the archive plug-in delivered
// them: an archive that an archive plug-in recognises (tried first, as for
// files), else a picture that an image plug-in recognises, else data.
void Classify(const PluginSet& plugins, ViewMember& member, std::span<const unsigned char> head);

// The members of an archive whose bytes are in memory (a member of another
// archive), which `plugin` recognised just before: listed through
// GetArchiveInfo with memory input, each classified by its head, handed to
// GetFile as memory input. A member whose extent runs past the bytes is
// listed as data. Throws HostError naming `shown` when it cannot be listed.
std::vector<ViewMember> ListArchiveImage(const PluginSet& plugins, const Plugin& plugin,
                                         std::span<const unsigned char> image,
                                         const std::string& shown);

// Files and directories given to `vyn view`. A directory contributes the
// files some plug-in recognises by content (its subdirectories too when
// `recursive`), in name order; files that no plug-in recognises are passed
// over there. A file given by name that cannot be read or recognised, or an
// archive that cannot be listed, is reported through `complain` and left out.
// Members are classified as pictures by the image plug-in's recognition of
// their first bytes, handed to the archive plug-in as memory input.
std::vector<ViewInput> GatherInputs(const PluginSet& plugins, const std::vector<std::string>& paths,
                                    bool recursive,
                                    const std::function<void(const std::string&)>& complain);
