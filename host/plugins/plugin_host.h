// The host's side of the viewer plug-in interface: finding and loading the
// plug-ins of a directory, learning their kind from their information
// strings, asking them about a file, and taking over the blocks they hand
// out. Everything the host learns from a plug-in comes through its exports.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "host/files/file_io.h"
#include "plugin_abi.h"

enum class PluginKind { kArchive, kImage };

// Information-string indexes.
constexpr int kKindIndex = 0;
constexpr int kDescriptionIndex = 1;
constexpr int kPatternIndex = 2;
constexpr int kFormatNameIndex = 3;

constexpr char kArchiveKindTag[] = "00AM";
constexpr char kImageKindTag[] = "00IN";

// GetFile's flags words: file or memory input, memory output.
constexpr std::uint32_t kFileInputToMemory = 0x100;
constexpr std::uint32_t kMemoryInputToMemory = 0x101;

// A block a plug-in handed to the host: locked while held, unlocked and
// freed when it goes out of scope. Its bytes are read where they lie.
class ReceivedBlock {
 public:
  ReceivedBlock() = default;
  explicit ReceivedBlock(HLOCAL handle);
  ~ReceivedBlock();
  ReceivedBlock(ReceivedBlock&& other) noexcept;
  ReceivedBlock& operator=(ReceivedBlock&& other) noexcept;

  const unsigned char* data() const { return data_; }
  std::size_t size() const { return size_; }
  const unsigned char* begin() const { return data_; }
  const unsigned char* end() const { return data_ + size_; }
  std::span<const unsigned char> bytes() const { return {data_, size_}; }

 private:
  void Release();

  HLOCAL handle_ = nullptr;
  const unsigned char* data_ = nullptr;
  std::size_t size_ = 0;
};

// One member as the archive plug-in lists it.
struct ArchiveMember {
  std::string name;  // the bytes of the record, in the archive maker's code page
  std::uint32_t size = 0;
  std::uint32_t position = 0;
};

// A DIB as the image plug-in delivers it: the header block (BITMAPINFOHEADER
// and palette) and the pixel block, both taken over from the plug-in.
struct DeliveredPicture {
  ReceivedBlock header;
  ReceivedBlock pixels;
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
  // GetArchiveInfo with memory input, for an archive whose bytes are in
  // memory (a member of another archive): its head and directory go to the
  // plug-in as a copy. Nothing when the bytes are too short for the
  // directory they announce or the plug-in refuses them.
  std::optional<std::vector<ArchiveMember>> ListImage(std::span<const unsigned char> archive) const;
  // GetFile, file input, memory output: the block the plug-in delivers
  // for the first record it lists at the position; null when GetFile fails.
  std::unique_ptr<ReceivedBlock> ExtractAt(const std::string& archive,
                                           std::uint32_t position) const;
  // GetFile, memory input, memory output: the block the plug-in makes of a
  // member's bytes that the host read itself; null when GetFile fails.
  std::unique_ptr<ReceivedBlock> ExtractFromImage(std::span<const unsigned char> image) const;
  // Members with their listed sizes: see archive_members.h.

  // Image plug-ins.
  PictureInfoRecord PictureInfo(const std::string& picture) const;
  DeliveredPicture Picture(const std::string& picture) const;
  // The same for a picture whose bytes are already in memory (memory
  // input), such as a member just taken out of an archive. Failures give the
  // reason only, without a file name.
  PictureInfoRecord PictureInfoInMemory(std::span<const unsigned char> picture) const;
  DeliveredPicture PictureInMemory(std::span<const unsigned char> picture) const;

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
