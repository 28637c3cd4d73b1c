#include "file_io.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <utility>

#include "host_error.h"
#include "platform.h"

namespace fs = std::filesystem;

namespace {

constexpr char kPartialSuffix[] = ".vyn-part";

// A FILE closed on every path out of a function.
class InputFile {
 public:
  explicit InputFile(const std::string& path) : file_(std::fopen(path.c_str(), "rb")) {}
  ~InputFile() {
    if (file_ != nullptr) std::fclose(file_);
  }
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;
  std::FILE* get() const { return file_; }

 private:
  std::FILE* file_;
};

}  // namespace

std::string SystemReason() {
  const int error = errno;
  return error != 0 ? std::strerror(error) : "unknown error";
}

std::uint64_t RegularFileSize(const std::string& path) {
  std::error_code error;
  const fs::file_status status = fs::status(fs::path(path), error);
  if (error || !fs::exists(status)) throw HostError(FileMessage(path, "no such file"));
  if (fs::is_directory(status)) throw HostError(FileMessage(path, "is a directory, not a file"));
  if (!fs::is_regular_file(status)) throw HostError(FileMessage(path, "is not a regular file"));
  const std::uintmax_t size = fs::file_size(fs::path(path), error);
  if (error) throw HostError(FileMessage(path, "cannot take its size: " + error.message()));
  return size;
}

bool IsRegularFile(const std::string& path) {
  std::error_code error;
  return fs::is_regular_file(fs::path(path), error);
}

Bytes ReadWholeFile(const std::string& path) {
  const std::uint64_t size = RegularFileSize(path);
  if (size > SIZE_MAX / 2) throw HostError(FileMessage(path, "too large to read into memory"));
  errno = 0;
  InputFile file(path);
  if (file.get() == nullptr) throw HostError(FileMessage(path, "cannot open: " + SystemReason()));
  Bytes bytes(static_cast<std::size_t>(size));
  errno = 0;
  const std::size_t got = bytes.empty() ? 0 : std::fread(bytes.data(), 1, bytes.size(), file.get());
  if (got != bytes.size() || std::ferror(file.get()) != 0)
    throw HostError(FileMessage(path, "cannot read: " + SystemReason()));
  return bytes;
}

Bytes ReadHead(const std::string& path, std::size_t size) {
  RegularFileSize(path);  // a clear message for directories and missing files
  errno = 0;
  InputFile file(path);
  if (file.get() == nullptr) throw HostError(FileMessage(path, "cannot open: " + SystemReason()));
  Bytes head(size, 0);
  errno = 0;
  std::fread(head.data(), 1, head.size(), file.get());
  if (std::ferror(file.get()) != 0)
    throw HostError(FileMessage(path, "cannot read: " + SystemReason()));
  return head;
}

void MakeDirectories(const std::string& path) {
  std::error_code error;
  const fs::path directory(path);
  if (fs::is_directory(directory, error)) return;
  fs::create_directories(directory, error);
  if (error || !fs::is_directory(directory, error))
    throw HostError(
        FileMessage(path, "cannot create the directory: " +
                              (error ? error.message() : std::string("not a directory"))));
}

std::string JoinPath(const std::string& directory, const std::string& name) {
  if (directory.empty()) return name;
  const char last = directory.back();
#if defined(_WIN32)
  if (last == '/' || last == '\\' || last == ':') return directory + name;
  return directory + "\\" + name;
#else
  if (last == '/') return directory + name;
  return directory + "/" + name;
#endif
}

std::string BaseName(const std::string& path) {
#if defined(_WIN32)
  const std::size_t cut = path.find_last_of("/\\:");
#else
  const std::size_t cut = path.find_last_of('/');
#endif
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

bool SameFile(const std::string& a, const std::string& b) {
  std::error_code error;
  return fs::equivalent(fs::path(a), fs::path(b), error) && !error;
}

std::filesystem::path SystemPath(const std::string& path) {
#if defined(_WIN32)
  std::wstring wide(path.size(), L'\0');
  const int made = path.empty()
                       ? 0
                       : MultiByteToWideChar(CP_ACP, 0, path.data(), static_cast<int>(path.size()),
                                             wide.data(), static_cast<int>(wide.size()));
  wide.resize(made > 0 ? static_cast<std::size_t>(made) : 0);
  return fs::path(wide);
#else
  return fs::path(path);
#endif
}

std::string ShownPath(const std::filesystem::path& path) {
#if defined(_WIN32)
  const std::wstring& wide = path.native();
  if (wide.empty()) return {};
  const int size = static_cast<int>(wide.size());
  std::string utf8(wide.size() * 3, '\0');
  const int made = WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, utf8.data(),
                                       static_cast<int>(utf8.size()), nullptr, nullptr);
  utf8.resize(made > 0 ? static_cast<std::size_t>(made) : 0);
  return utf8;
#else
  return path.native();
#endif
}

Bytes ReadFileRange(const std::string& path, std::uint64_t offset, std::size_t size) {
  errno = 0;
  InputFile file(path);
  if (file.get() == nullptr) throw HostError(FileMessage(path, "cannot open: " + SystemReason()));
  Bytes bytes(size);
#if defined(_WIN32)
  const bool sought = _fseeki64(file.get(), static_cast<__int64>(offset), SEEK_SET) == 0;
#else
  const bool sought = fseeko(file.get(), static_cast<off_t>(offset), SEEK_SET) == 0;
#endif
  errno = 0;
  const std::size_t got =
      !sought || bytes.empty() ? 0 : std::fread(bytes.data(), 1, size, file.get());
  if (!sought || got != size)
    throw HostError(FileMessage(
        path,
        "cannot read " + std::to_string(size) + " bytes at offset " + std::to_string(offset) +
            (std::ferror(file.get()) != 0 ? ": " + SystemReason() : ": the file is shorter")));
  return bytes;
}

PendingFile::PendingFile(std::string target) : PendingFile(SystemPath(target), target) {}

PendingFile::PendingFile(const std::filesystem::path& target)
    : PendingFile(target, ShownPath(target)) {}

PendingFile::PendingFile(std::filesystem::path system_target, std::string shown_target)
    : target_(std::move(shown_target)), system_target_(std::move(system_target)) {
  partial_ = target_ + kPartialSuffix;
  system_partial_ = system_target_;
  system_partial_ += kPartialSuffix;
  errno = 0;
#if defined(_WIN32)
  file_ = _wfopen(system_partial_.c_str(), L"wb");
#else
  file_ = std::fopen(system_partial_.c_str(), "wb");
#endif
  if (file_ == nullptr) throw HostError(FileMessage(target_, "cannot create: " + SystemReason()));
}

PendingFile::~PendingFile() {
  if (!committed_) Discard();
}

void PendingFile::Discard() {
  if (file_ != nullptr) std::fclose(std::exchange(file_, nullptr));
#if defined(_WIN32)
  _wremove(system_partial_.c_str());
#else
  std::remove(system_partial_.c_str());
#endif
}

void PendingFile::Fail(const std::string& reason) {
  const std::string message = FileMessage(target_, reason);
  Discard();
  committed_ = true;  // nothing left to clean up
  throw HostError(message);
}

void PendingFile::Write(std::span<const unsigned char> bytes) {
  if (file_ == nullptr) Fail("cannot write: the file is closed");
  if (bytes.empty()) return;
  errno = 0;
  if (std::fwrite(bytes.data(), 1, bytes.size(), file_) != bytes.size())
    Fail("cannot write: " + SystemReason());
}

void PendingFile::Close() {
  if (file_ == nullptr) return;
  errno = 0;
  const bool flushed = std::fflush(file_) == 0 && std::ferror(file_) == 0;
  const std::string reason = SystemReason();
  const bool closed = std::fclose(std::exchange(file_, nullptr)) == 0;
  if (!flushed || !closed) Fail("cannot write: " + reason);
}

void PendingFile::Commit() {
  Close();
  errno = 0;
#if defined(_WIN32)
  if (MoveFileExW(system_partial_.c_str(), system_target_.c_str(), MOVEFILE_REPLACE_EXISTING) ==
      0) {
    Fail("cannot give the file its name (system error " + std::to_string(GetLastError()) + ")");
  }
#else
  if (MoveFileExA(system_partial_.c_str(), system_target_.c_str(), MOVEFILE_REPLACE_EXISTING) == 0)
    Fail("cannot give the file its name: " + SystemReason());
#endif
  committed_ = true;
}

void WriteFileAtomically(const std::string& path, std::span<const unsigned char> bytes) {
  PendingFile file(path);
  file.Write(bytes);
  file.Commit();
}

void WriteFileAtomically(const std::filesystem::path& path, std::span<const unsigned char> bytes) {
  PendingFile file(path);
  file.Write(bytes);
  file.Commit();
}
