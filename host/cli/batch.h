// Commands over many inputs at once: the files named, and the files of the
// directories named (with -r their subdirectories' too), each input's
// results in a folder of its own, one summary at the end.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "host/plugins/plugin_host.h"

// A file a batch works on.
struct BatchFile {
  std::string path;
  // Where its results go below the output directory: the directories
  // between the one named and the file, then the file's name without its
  // extension (DATA.ARC in game/sub/ gives sub/DATA). A file named by
  // itself gives its name alone.
  std::string folder;
  bool named = true;  // named on the command line, not found in a directory
};

// Whether the arguments make a batch: more than one, or a directory.
bool IsBatch(const std::vector<std::string>& paths);

// The files of the arguments, in order: a file as it is, a directory's
// regular files in name order (and those of its subdirectories, with
// `recursive`; links to directories are not followed). A directory that
// cannot be read is said with `complain`. Folders that two inputs would
// share get "~2", "~3" after the later one's name.
std::vector<BatchFile> BatchFiles(const std::vector<std::string>& paths, bool recursive,
                                  const std::function<void(const std::string&)>& complain);

// The files that a plug-in of `kind` recognises by content; those named by
// themselves stay whatever they are, so that the command says what they
// are not.
std::vector<BatchFile> Recognised(const PluginSet& set, std::vector<BatchFile> files,
                                  PluginKind kind);

// The summary of a batch: "3 archives: 2 done, 1 failed".
std::string BatchSummary(std::size_t inputs, std::size_t failed, const std::string& noun);
