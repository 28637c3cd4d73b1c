// The host's side of the viewer plug-in interface: finding and loading the
// plug-ins of a directory, learning their kind from their information
// strings, asking them about a file, and taking over the blocks they hand
// out. Everything the host learns from a plug-in comes through its exports.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "file_io.h"
#include "plugin_abi.h"

enum class PluginKind { kArchive, kImage };

// Information-string indexes.
constexpr int kKindIndex = 0;
constexpr int kDescriptionIndex = 1;
constexpr int kPatternIndex = 2;
constexpr int kFormatNameIndex = 3;

constexpr char kArchiveKindTag[] = "00AM";
constexpr char kImageKindTag[] = "00IN";

// GetFile's flags word: file input, memory output.
constexpr std::uint32_t kFileInputToMemory = 0x100;

// A block a plug-in handed to the host: locked while held, unlocked and
// freed when it goes out of scope.
class ReceivedBlock {
 public:
  explicit ReceivedBlock(HLOCAL handle);
  ~ReceivedBlock();
  ReceivedBlock(const ReceivedBlock&) = delete;
  ReceivedBlock& operator=(const ReceivedBlock&) = delete;

  const unsigned char* data() const { return data_; }
  std::size_t size() const { return size_; }

 private:
  HLOCAL handle_;
  const unsigned char* data_ = nullptr;
  std::size_t size_ = 0;
};

// One member as the archive plug-in lists it.
struct ArchiveMember {
  std::string name;
  std::uint32_t size = 0;
  std::uint32_t position = 0;
};

// A DIB as the image plug-in delivers it: the header block (BITMAPINFOHEADER
// and palette) and the pixel block, both taken over from the plug-in.
struct DeliveredPicture {
  Bytes header;
  Bytes pixels;
};

class Plugin {
 public:
  // Loads a module; null when it is not a viewer plug-in of a kind the host
  // knows (`why` then says what is missing, or stays empty for a module
  // without GetPluginInfo at all, which is simply not a plug-in).
  static std::unique_ptr<Plugin> Load(const std::string& path, std::string& why);
  ~Plugin();
  Plugin(const Plugin&) = delete;
  Plugin& operator=(const Plugin&) = delete;

  const std::string& path() const { return path_; }
  PluginKind kind() const { return kind_; }
  const std::array<std::string, 4>& information() const { return information_; }
  const std::string& format_name() const { return information_[kFormatNameIndex]; }

  // IsSupported on the file's head (kHeadSize bytes), given in memory. The
  // plug-in gets a copy of its own: a content test may rewrite its head.
  bool Recognises(const std::string& path, const Bytes& head) const;

  // Archive plug-ins. The archive must have been recognised just before:
  // the listing reads the directory as that recognition decided.
  std::vector<ArchiveMember> List(const std::string& archive) const;
  // One member's bytes through GetFile (file input, memory output).
  Bytes Extract(const std::string& archive, const ArchiveMember& member) const;

  // Image plug-ins.
  PictureInfoRecord PictureInfo(const std::string& picture) const;
  DeliveredPicture Picture(const std::string& picture) const;
  // The same for a picture whose bytes are already in memory (memory
  // input), such as a member just taken out of an archive. Failures give the
  // reason only, without a file name.
  PictureInfoRecord PictureInfoInMemory(const Bytes& picture) const;
  DeliveredPicture PictureInMemory(const Bytes& picture) const;

 private:
  Plugin() = default;
  template <class Fn>
  Fn Find(const char* name) const;

  void* module_ = nullptr;
  std::string path_;
  PluginKind kind_ = PluginKind::kArchive;
  std::array<std::string, 4> information_;
  IsSupportedFn is_supported_ = nullptr;
  GetArchiveInfoFn get_archive_info_ = nullptr;
  GetFileFn get_file_ = nullptr;
  GetPictureInfoFn get_picture_info_ = nullptr;
  GetPictureFn get_picture_ = nullptr;
};

// A module that has GetPluginInfo but cannot serve as a plug-in.
struct SkippedModule {
  std::string path;
  std::string why;
};

// Every plug-in of a directory, in the order of their file names.
struct PluginSet {
  std::string directory;
  std::vector<std::unique_ptr<Plugin>> plugins;
  std::vector<SkippedModule> skipped;

  // The first plug-in of the kind that recognises the file, or null.
  const Plugin* Recognise(const std::string& path, const Bytes& head, PluginKind kind) const;
  // The first plug-in of any kind that recognises the file, or null.
  const Plugin* Recognise(const std::string& path, const Bytes& head) const;
  bool Has(PluginKind kind) const;
};

// Where plug-ins are looked for: the --plugins option when given, else the
// VYN_PLUGINS environment variable when set, else the directory of the
// running program.
std::string PluginDirectory(const std::string& option);

// Loads every plug-in in the directory. Throws HostError when the directory
// cannot be read.
PluginSet LoadPlugins(const std::string& directory);

// Directory that holds the running program.
std::string ExecutableDirectory();
