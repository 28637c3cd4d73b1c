#include "host/plugins/plugin_host.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <optional>
#include <system_error>
#include <utility>

#include "archive/arc_layout.h"
#include "host/host_error.h"
#include "host/plugins/refusal_reasons.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

#if defined(_WIN32)
constexpr char kModuleSuffix[] = ".dll";
#else
constexpr char kModuleSuffix[] = ".so";
#endif

// Information strings are short texts; a plug-in that needs more than this
// for one is not one the host can show.
constexpr std::int32_t kInformationCapacity = 1024;

void* OpenModule(const std::string& path) {
#if defined(_WIN32)
  return reinterpret_cast<void*>(LoadLibraryW(SystemPath(path).c_str()));
#else
  return dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
#endif
}

void CloseModule(void* module) {
#if defined(_WIN32)
  FreeLibrary(static_cast<HMODULE>(module));
#else
  dlclose(module);
#endif
}

void* FindExport(void* module, const char* name) {
#if defined(_WIN32)
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module), name));
#else
  return dlsym(module, name);
#endif
}

bool HasModuleSuffix(const std::string& name) {
  const std::size_t n = sizeof kModuleSuffix - 1;
  if (name.size() <= n) return false;
  for (std::size_t i = 0; i < n; ++i) {
    const char c = name[name.size() - n + i];
#if defined(_WIN32)
    if (std::tolower(static_cast<unsigned char>(c)) != kModuleSuffix[i]) return false;
#else
    if (c != kModuleSuffix[i]) return false;
#endif
  }
  return true;
}

std::string FieldText(const char* field, std::size_t capacity) {
  return std::string(field, strnlen(field, capacity));
}

// "what failed: why", or what failed alone when the file shows no reason.
std::string WithReason(const std::string& what, const std::string& why) {
  return why.empty() ? what : what + ": " + why;
}

}  // namespace

ReceivedBlock::ReceivedBlock(HLOCAL handle) : handle_(handle) {
  if (handle_ == nullptr) return;
  size_ = LocalSize(handle_);
  // A block of 0 bytes has no address to lock.
  if (size_ != 0) {
    data_ = static_cast<const unsigned char*>(LocalLock(handle_));
    if (data_ == nullptr) size_ = 0;
  }
}

ReceivedBlock::~ReceivedBlock() { Release(); }

ReceivedBlock::ReceivedBlock(ReceivedBlock&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)),
      data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0)) {}

ReceivedBlock& ReceivedBlock::operator=(ReceivedBlock&& other) noexcept {
  if (this != &other) {
    Release();
    handle_ = std::exchange(other.handle_, nullptr);
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
  }
  return *this;
}

void ReceivedBlock::Release() {
  if (handle_ == nullptr) return;
  if (data_ != nullptr) LocalUnlock(handle_);
  LocalFree(handle_);
  handle_ = nullptr;
  data_ = nullptr;
  size_ = 0;
}

std::unique_ptr<Plugin> Plugin::Load(const std::string& path, std::string& why) {
  why.clear();
  std::unique_ptr<Plugin> plugin(new Plugin());
  plugin->path_ = path;
  plugin->module_ = OpenModule(path);
  if (plugin->module_ == nullptr) {
#if defined(_WIN32)
    why = "cannot be loaded: " + WindowsReason(GetLastError());
#else
    const char* reason = dlerror();
    why = std::string("cannot be loaded: ") + (reason != nullptr ? reason : "unknown error");
#endif
    return nullptr;
  }
  const auto get_plugin_info = plugin->Find<GetPluginInfoFn>("GetPluginInfo");
  if (get_plugin_info == nullptr) return nullptr;  // not a plug-in at all

  for (int i = 0; i < 4; ++i) {
    char text[kInformationCapacity] = {};
    const std::int32_t length = get_plugin_info(i, text, kInformationCapacity);
    if (length <= 0 || length >= kInformationCapacity) {
      why = "gives no information string " + std::to_string(i);
      return nullptr;
    }
    plugin->information_[static_cast<std::size_t>(i)] =
        FieldText(text, static_cast<std::size_t>(length));
  }
  const std::string& tag = plugin->information_[kKindIndex];
  plugin->is_supported_ = plugin->Find<IsSupportedFn>("IsSupported");
  if (tag == kArchiveKindTag) {
    plugin->kind_ = PluginKind::kArchive;
    plugin->get_archive_info_ = plugin->Find<GetArchiveInfoFn>("GetArchiveInfo");
    plugin->get_file_ = plugin->Find<GetFileFn>("GetFile");
    if (plugin->is_supported_ == nullptr || plugin->get_archive_info_ == nullptr ||
        plugin->get_file_ == nullptr) {
      why = "is an archive plug-in without IsSupported, GetArchiveInfo or GetFile";
      return nullptr;
    }
  } else if (tag == kImageKindTag) {
    plugin->kind_ = PluginKind::kImage;
    plugin->get_picture_info_ = plugin->Find<GetPictureInfoFn>("GetPictureInfo");
    plugin->get_picture_ = plugin->Find<GetPictureFn>("GetPicture");
    if (plugin->is_supported_ == nullptr || plugin->get_picture_info_ == nullptr ||
        plugin->get_picture_ == nullptr) {
      why = "is an image plug-in without IsSupported, GetPictureInfo or GetPicture";
      return nullptr;
    }
  } else {
    why = "is a plug-in of kind \"" + tag + "\", which this host does not use";
    return nullptr;
  }
  return plugin;
}

Plugin::~Plugin() {
  if (module_ != nullptr) CloseModule(module_);
}

template <class Fn>
Fn Plugin::Find(const char* name) const {
  return reinterpret_cast<Fn>(FindExport(module_, name));
}

bool Plugin::Recognises(const std::string& path, const Bytes& head) const {
  Bytes copy(kHeadSize, 0);
  std::copy_n(head.begin(), std::min(head.size(), copy.size()), copy.begin());
  // The name is not consulted; it goes as the plug-in could open it.
  const std::string name = PathForPlugins(path).value_or("");
  return is_supported_(name.c_str(), reinterpret_cast<HandleOrHead>(copy.data())) != kNotRecognised;
}

namespace {

// The archive's head and directory, as the plug-in takes them from memory
// for an archive whose name the plug-in cannot be given: exactly what it
// would read from the file. Nothing when the file is too short to hold
// them, which the plug-in's own read of the file would refuse too.
std::optional<Bytes> DirectoryImage(const std::string& archive) {
  const std::uint64_t file_size = RegularFileSize(archive);
  // The count is the 16-bit value at the start.
  const Bytes count_bytes = ReadHead(archive, kCountOffset + 2);
  const std::uint64_t count =
      count_bytes[kCountOffset] | std::uint64_t{count_bytes[kCountOffset + 1]} << 8;
  const std::uint64_t wanted = kDirectoryOffset + count * kEntrySize;
  if (wanted > file_size) return std::nullopt;
  return ReadFileRange(archive, 0, static_cast<std::size_t>(wanted));
}

}  // namespace

namespace {

// The members of a listing block, up to its end record; nothing when the
// block has none.
std::optional<std::vector<ArchiveMember>> MembersOf(const ReceivedBlock& listing) {
  std::vector<ArchiveMember> members;
  const std::size_t records = listing.size() / sizeof(FileInfoRecord);
  for (std::size_t i = 0; i < records; ++i) {
    FileInfoRecord record;
    std::memcpy(&record, listing.data() + i * sizeof record, sizeof record);
    if (record.method[0] == '\0') return members;
    members.push_back(
        {FieldText(record.name, sizeof record.name), record.extracted_size, record.position});
  }
  return std::nullopt;
}

}  // namespace

std::vector<ArchiveMember> Plugin::List(const std::string& archive) const {
  HLOCAL handle = nullptr;
  std::int32_t result;
  if (const auto name = PathForPlugins(archive)) {
    result = get_archive_info_(name->c_str(), 0, 0, &handle);
  } else {
    // The image is the plug-in's to descramble in place: a copy of ours.
    std::optional<Bytes> image = DirectoryImage(archive);
    result = image ? get_archive_info_(reinterpret_cast<const char*>(image->data()),
                                       static_cast<std::int32_t>(image->size()), kMemoryInput,
                                       &handle)
                   : kPluginFailed;
  }
  if (result != kPluginOk || handle == nullptr)
    throw HostError(FileMessage(archive, WithReason("the archive plug-in could not list it",
                                                    WhyArchiveNotListed(archive))));
  const ReceivedBlock listing(handle);
  if (auto members = MembersOf(listing)) return std::move(*members);
  throw HostError(
      FileMessage(archive, "the archive plug-in gave a listing without its end record"));
}

std::optional<std::vector<ArchiveMember>> Plugin::ListImage(
    std::span<const unsigned char> archive) const {
  if (archive.size() < kDirectoryOffset) return std::nullopt;
  const std::uint64_t count = archive[kCountOffset] | std::uint64_t{archive[kCountOffset + 1]} << 8;
  const std::uint64_t wanted = kDirectoryOffset + count * kEntrySize;
  if (wanted > archive.size()) return std::nullopt;
  // The head and directory only, as a copy the plug-in may descramble.
  Bytes image(archive.begin(), archive.begin() + static_cast<std::ptrdiff_t>(wanted));
  HLOCAL handle = nullptr;
  if (get_archive_info_(reinterpret_cast<const char*>(image.data()),
                        static_cast<std::int32_t>(image.size()), kMemoryInput,
                        &handle) != kPluginOk ||
      handle == nullptr)
    return std::nullopt;
  return MembersOf(ReceivedBlock(handle));
}

std::unique_ptr<ReceivedBlock> Plugin::ExtractAt(const std::string& archive,
                                                 std::uint32_t position) const {
  const auto name = PathForPlugins(archive);
  if (!name) return nullptr;
  HLOCAL handle = nullptr;
  if (get_file_(name->c_str(), static_cast<std::int32_t>(position),
                reinterpret_cast<char*>(&handle), kFileInputToMemory, 0, 0) != kPluginOk ||
      handle == nullptr)
    return nullptr;
  return std::make_unique<ReceivedBlock>(handle);
}

std::unique_ptr<ReceivedBlock> Plugin::ExtractFromImage(
    std::span<const unsigned char> image) const {
  // The length goes as a 32-bit argument, which the plug-in reads unsigned.
  if (image.size() > std::numeric_limits<std::uint32_t>::max()) return nullptr;
  static const unsigned char kNoBytes = 0;
  HLOCAL handle = nullptr;
  if (get_file_(reinterpret_cast<const char*>(image.empty() ? &kNoBytes : image.data()),
                static_cast<std::int32_t>(static_cast<std::uint32_t>(image.size())),
                reinterpret_cast<char*>(&handle), kMemoryInputToMemory, 0, 0) != kPluginOk ||
      handle == nullptr)
    return nullptr;
  return std::make_unique<ReceivedBlock>(handle);
}

namespace {

// A picture whose name the plug-in cannot be given goes to it as memory
// input; its failures then name the file, as they do from file input.
template <class Step>
auto InMemoryNamingFile(const std::string& picture, Step step) {
  const Bytes bytes = ReadWholeFile(picture);
  try {
    return step(bytes);
  } catch (const HostError& error) {
    throw HostError(FileMessage(picture, error.what()));
  }
}

}  // namespace

PictureInfoRecord Plugin::PictureInfo(const std::string& picture) const {
  const auto name = PathForPlugins(picture);
  if (!name)
    return InMemoryNamingFile(picture, [&](const Bytes& bytes) { return PictureInfoInMemory(bytes); });
  PictureInfoRecord record{};
  if (get_picture_info_(name->c_str(), 0, 0, &record) != kPluginOk)
    throw HostError(
        FileMessage(picture, "the image plug-in could not read its picture information"));
  return record;
}

DeliveredPicture Plugin::Picture(const std::string& picture) const {
  const auto name = PathForPlugins(picture);
  if (!name)
    return InMemoryNamingFile(picture, [&](const Bytes& bytes) { return PictureInMemory(bytes); });
  HLOCAL header = nullptr;
  HLOCAL pixels = nullptr;
  const std::int32_t result = get_picture_(name->c_str(), 0, 0, &header, &pixels, 0, 0);
  DeliveredPicture delivered{ReceivedBlock(result == kPluginOk ? header : nullptr),
                             ReceivedBlock(result == kPluginOk ? pixels : nullptr)};
  if (result != kPluginOk || header == nullptr)
    throw HostError(FileMessage(picture, WithReason("the image plug-in could not decode it",
                                                    WhyPictureNotDecoded(picture))));
  return delivered;
}

namespace {

std::int32_t MemoryLength(std::span<const unsigned char> bytes) {
  if (bytes.size() > static_cast<std::size_t>(INT32_MAX))
    throw HostError("the picture is too large for the image plug-in's memory input");
  return static_cast<std::int32_t>(bytes.size());
}

}  // namespace

PictureInfoRecord Plugin::PictureInfoInMemory(std::span<const unsigned char> picture) const {
  PictureInfoRecord record{};
  if (get_picture_info_(reinterpret_cast<const char*>(picture.data()), MemoryLength(picture),
                        kMemoryInput, &record) != kPluginOk)
    throw HostError("the image plug-in could not read its picture information");
  return record;
}

DeliveredPicture Plugin::PictureInMemory(std::span<const unsigned char> picture) const {
  HLOCAL header = nullptr;
  HLOCAL pixels = nullptr;
  const std::int32_t result =
      get_picture_(reinterpret_cast<const char*>(picture.data()), MemoryLength(picture),
                   kMemoryInput, &header, &pixels, 0, 0);
  DeliveredPicture delivered{ReceivedBlock(result == kPluginOk ? header : nullptr),
                             ReceivedBlock(result == kPluginOk ? pixels : nullptr)};
  if (result != kPluginOk || header == nullptr)
    throw HostError(WithReason("the image plug-in could not decode it", WhyPictureNotDecoded(picture)));
  return delivered;
}

const Plugin* PluginSet::Recognise(const std::string& path, const Bytes& head,
                                   PluginKind kind) const {
  for (const auto& plugin : plugins) {
    if (plugin->kind() == kind && plugin->Recognises(path, head)) return plugin.get();
  }
  return nullptr;
}

const Plugin* PluginSet::Recognise(const std::string& path, const Bytes& head) const {
  for (const auto& plugin : plugins) {
    if (plugin->Recognises(path, head)) return plugin.get();
  }
  return nullptr;
}

bool PluginSet::Has(PluginKind kind) const {
  return std::any_of(plugins.begin(), plugins.end(),
                     [kind](const auto& plugin) { return plugin->kind() == kind; });
}

std::string ExecutableDirectory() {
#if defined(_WIN32)
  std::wstring path(32768, L'\0');
  const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
  path.resize(n < path.size() ? n : 0);
  const std::string program = ShownPath(fs::path(path));
  const std::size_t cut = program.find_last_of("\\/");
#else
  char path[PATH_MAX] = {};
  const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  const std::string program(path, n > 0 ? static_cast<std::size_t>(n) : 0);
  const std::size_t cut = program.find_last_of('/');
#endif
  return cut == std::string::npos ? std::string(".") : program.substr(0, cut);
}

std::string PluginDirectory(const std::string& option) {
  if (!option.empty()) return option;
  const std::string variable = EnvironmentValue("VYN_PLUGINS");
  if (!variable.empty()) return variable;
  return ExecutableDirectory();
}

PluginSet LoadPlugins(const std::string& directory) {
  PluginSet set;
  set.directory = directory;
  std::error_code error;
  const fs::path system_directory = SystemPath(directory);
  if (!fs::is_directory(system_directory, error))
    throw HostError(FileMessage(directory, "no such plug-in directory"));
  std::vector<std::string> names;
  for (fs::directory_iterator it(system_directory, error), end; !error && it != end;
       it.increment(error)) {
    const std::string name = ShownPath(it->path().filename());
    if (HasModuleSuffix(name)) names.push_back(name);
  }
  if (error)
    throw HostError(
        FileMessage(directory, "cannot read the plug-in directory: " + ReasonText(error)));
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    const std::string path = JoinPath(directory, name);
    std::string why;
    std::unique_ptr<Plugin> plugin = Plugin::Load(path, why);
    if (plugin != nullptr) {
      set.plugins.push_back(std::move(plugin));
    } else if (!why.empty()) {
      set.skipped.push_back({path, why});
    }
  }
  return set;
}
