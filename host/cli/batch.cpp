#include "host/cli/batch.h"

#include <algorithm>
#include <filesystem>
#include <set>

#include "host/cli/text_output.h"
#include "host/files/file_io.h"
#include "host/files/system_path.h"
#include "host/host_error.h"

namespace fs = std::filesystem;

namespace {

std::string WithoutExtension(const std::string& name) {
  const std::size_t dot = name.rfind('.');
  return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

}  // namespace

bool IsBatch(const std::vector<std::string>& paths) {
  return paths.size() > 1 || (paths.size() == 1 && IsDirectory(paths.front()));
}

std::vector<BatchFile> BatchFiles(const std::vector<std::string>& paths, bool recursive,
                                  const std::function<void(const std::string&)>& complain) {
  std::vector<BatchFile> files;
  for (const std::string& path : paths) {
    if (!IsDirectory(path)) {
      files.push_back({path, WithoutExtension(BaseName(path)), true});
      continue;
    }
    const fs::path root = SystemPath(path);
    std::vector<std::pair<std::string, std::string>> found;  // relative, path
    std::error_code error;
    const auto add = [&](const fs::directory_entry& entry) {
      std::error_code type_error;
      if (!entry.is_regular_file(type_error)) return;
      found.emplace_back(ShownPath(entry.path().lexically_relative(root)),
                         ShownPath(entry.path()));
    };
    const auto options = fs::directory_options::skip_permission_denied;
    if (recursive) {
      for (fs::recursive_directory_iterator it(root, options, error), end; !error && it != end;
           it.increment(error))
        add(*it);
    } else {
      for (fs::directory_iterator it(root, options, error), end; !error && it != end;
           it.increment(error))
        add(*it);
    }
    if (error) complain(FileMessage(path, "cannot read the directory: " + ReasonText(error)));
    std::sort(found.begin(), found.end());
    for (const auto& [relative, file] : found) {
      const std::size_t slash = relative.find_last_of("/\\");
      const std::string below = slash == std::string::npos ? "" : relative.substr(0, slash + 1);
      files.push_back({file, below + WithoutExtension(BaseName(file)), false});
    }
  }
  // Two inputs never share a folder: DATA.ARC and DATA.GP8 side by side, or
  // a/DATA.ARC and b/DATA.ARC named on the command line.
  std::set<std::string> taken;
  for (BatchFile& file : files) {
    std::string folder = file.folder;
    for (unsigned n = 2; !taken.insert(folder).second; ++n)
      folder = file.folder + "~" + std::to_string(n);
    file.folder = folder;
  }
  return files;
}

std::vector<BatchFile> Recognised(const PluginSet& set, std::vector<BatchFile> files,
                                  PluginKind kind) {
  std::erase_if(files, [&](const BatchFile& file) {
    if (file.named) return false;
    try {
      return set.Recognise(file.path, ReadHead(file.path, kHeadSize), kind) == nullptr;
    } catch (const HostError&) {
      return false;  // the command says why it cannot be read
    }
  });
  return files;
}

std::string BatchSummary(std::size_t inputs, std::size_t failed, const std::string& noun) {
  return Counted(inputs, noun) + ": " + std::to_string(inputs - failed) + " done, " +
         std::to_string(failed) + " failed";
}
