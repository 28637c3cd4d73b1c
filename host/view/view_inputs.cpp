#include "host/view/view_inputs.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "host/host_error.h"

#if !defined(_WIN32)
#include <iconv.h>
#endif

namespace fs = std::filesystem;

namespace {

std::string Latin1ToUtf8(const std::string& text) {
  std::string out;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x80) {
      out += c;
    } else {
      out += static_cast<char>(0xC0 | (byte >> 6));
      out += static_cast<char>(0x80 | (byte & 0x3F));
    }
  }
  return out;
}

bool IsAscii(const std::string& text) {
  return std::all_of(text.begin(), text.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// The input's first bytes, as a content test sees them.
Bytes HeadOf(const Bytes& bytes) {
  Bytes head(kHeadSize, 0);
  std::copy_n(bytes.begin(), std::min(bytes.size(), head.size()), head.begin());
  return head;
}

void AddFile(const PluginSet& plugins, const std::string& path, bool named,
             std::vector<ViewInput>& inputs,
             const std::function<void(const std::string&)>& complain) {
  try {
    const Bytes head = ReadHead(path, kHeadSize);
    ViewInput input;
    input.path = path;
    input.display_name = path;
    input.size = RegularFileSize(path);
    // An archive plug-in first: an archive may begin with bytes a picture
    // test would accept, the other way round is not possible for GP8.
    input.plugin = plugins.Recognise(path, head, PluginKind::kArchive);
    if (input.plugin != nullptr) {
      input.kind = ViewInput::Kind::kArchive;
      for (const ArchiveMember& member : input.plugin->List(path)) {
        ViewMember entry{member, DisplayName(member.name), false};
        input.members.push_back(entry);
      }
      for (ViewMember& entry : input.members) {
        // The listing was made right after recognition; each extraction
        // repeats the recognition so that the directory is read alike.
        if (!input.plugin->Recognises(path, head))
          throw HostError(FileMessage(path, "the archive plug-in no longer recognises it"));
        Bytes bytes;
        try {
          bytes = input.plugin->Extract(path, entry.member);
        } catch (const HostError&) {
          continue;  // shown as data; opening it says why it cannot be read
        }
        entry.picture = plugins.Recognise(entry.member.name, HeadOf(bytes), PluginKind::kImage);
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

std::string DisplayName(const std::string& stored) {
  if (IsAscii(stored)) return stored;
#if !defined(_WIN32)
  iconv_t converter = iconv_open("UTF-8", "CP932");
  if (converter != reinterpret_cast<iconv_t>(-1)) {
    std::string in = stored;
    std::string out(stored.size() * 4, '\0');
    char* from = in.data();
    std::size_t from_left = in.size();
    char* to = out.data();
    std::size_t to_left = out.size();
    const std::size_t result = iconv(converter, &from, &from_left, &to, &to_left);
    iconv_close(converter);
    if (result != static_cast<std::size_t>(-1) && from_left == 0) {
      out.resize(out.size() - to_left);
      return out;
    }
  }
#endif
  return Latin1ToUtf8(stored);
}

std::vector<ViewInput> GatherInputs(const PluginSet& plugins, const std::vector<std::string>& paths,
                                    bool recursive,
                                    const std::function<void(const std::string&)>& complain) {
  std::vector<ViewInput> inputs;
  for (const std::string& path : paths) {
    std::error_code error;
    if (!fs::is_directory(fs::path(path), error)) {
      AddFile(plugins, path, true, inputs, complain);
      continue;
    }
    std::vector<std::string> files;
    const auto options = fs::directory_options::skip_permission_denied;
    if (recursive) {
      for (fs::recursive_directory_iterator it(fs::path(path), options, error), end;
           !error && it != end; it.increment(error)) {
        if (it->is_regular_file(error)) files.push_back(it->path().string());
      }
    } else {
      for (fs::directory_iterator it(fs::path(path), options, error), end; !error && it != end;
           it.increment(error)) {
        if (it->is_regular_file(error)) files.push_back(it->path().string());
      }
    }
    if (error) complain(FileMessage(path, "cannot read the directory: " + error.message()));
    std::sort(files.begin(), files.end());
    for (const std::string& file : files) AddFile(plugins, file, false, inputs, complain);
  }
  return inputs;
}
