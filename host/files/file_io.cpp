#include "host/files/file_io.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <new>
#include <system_error>
#include <utility>

#include "host/host_error.h"
#include "host/files/interrupt.h"
#include "partial_name.h"
#include "platform.h"

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kCopyChunk = 1 << 16;

// A FILE closed on every path out of a function.
class InputFile {
 public:
  explicit InputFile(const std::string& path) : file_(OpenForReading(path)) {}
  ~InputFile() {
    if (file_ != nullptr) std::fclose(file_);
  }
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;
  std::FILE* get() const { return file_; }

 private:
  std::FILE* file_;
};

// Refuses a target that exists and is neither a regular file nor a link:
// renaming over it would replace a directory entry the user never meant as
// an output file (a device, a FIFO, a socket), and a directory cannot be.
void RefuseOddTarget(const fs::path& target, const std::string& shown) {
  std::error_code error;
  const fs::file_status status = fs::symlink_status(target, error);
  if (error) return;  // missing, or not to be examined: the creation tells
  const char* kind = nullptr;
  switch (status.type()) {
    case fs::file_type::not_found:
    case fs::file_type::regular:
    case fs::file_type::symlink:
      return;
    case fs::file_type::directory:
      kind = "a directory";
      break;
    case fs::file_type::block:
      kind = "a block device";
      break;
    case fs::file_type::character:
      kind = "a character device";
      break;
    case fs::file_type::fifo:
      kind = "a FIFO";
      break;
    case fs::file_type::socket:
      kind = "a socket";
      break;
    default:
      kind = "something other than a file";
      break;
  }
  throw HostError(
      FileMessage(shown, std::string("is ") + kind + ", not a regular file; it is left as it is"));
}

// The result of one exclusive creation.
struct Created {
  std::FILE* file = nullptr;
  bool name_taken = false;  // another name is worth a try
  std::string reason;       // why it failed otherwise
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
};

// Removes a file by the name the system's calls take.
void RemoveFile(const fs::path& path) {
#if defined(_WIN32)
  _wremove(path.c_str());
#else
  std::remove(path.c_str());
#endif
}

Created CreateExclusively(const fs::path& path) {
  Created created;
#if defined(_WIN32)
  // FILE_SHARE_DELETE lets an interrupt remove the name while it is open.
  const HANDLE handle =
      CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                  CREATE_NEW, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    created.name_taken = error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS ||
                         (error == ERROR_ACCESS_DENIED &&
                          GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES);
    created.reason = WindowsReason(error);
    return created;
  }
  const int fd = _open_osfhandle(reinterpret_cast<std::intptr_t>(handle), _O_WRONLY | _O_BINARY);
  if (fd < 0) {
    CloseHandle(handle);
    DeleteFileW(path.c_str());
    created.reason = "cannot take its handle";
    return created;
  }
  created.file = _fdopen(fd, "wb");
  if (created.file == nullptr) {
    _close(fd);
    DeleteFileW(path.c_str());
    created.reason = SystemReason();
  }
#else
  int fd;
  do {
    errno = 0;
    fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    created.name_taken = errno == EEXIST;
    created.reason = SystemReason();
    return created;
  }
  struct stat st {};
  if (::fstat(fd, &st) == 0) {
    created.device = static_cast<std::uint64_t>(st.st_dev);
    created.inode = static_cast<std::uint64_t>(st.st_ino);
  }
  created.file = ::fdopen(fd, "wb");
  if (created.file == nullptr) {
    created.reason = SystemReason();
    ::close(fd);
    ::unlink(path.c_str());
  }
#endif
  return created;
}

// Copies a file to standard output: false when the file cannot be read
// back; throws StandardOutputError when standard output cannot be written.
bool CopyToStandardOutput(const std::string& path) {
  InputFile file(path);
  if (file.get() == nullptr) return false;
  Bytes chunk(kCopyChunk);
  for (;;) {
    const std::size_t got = std::fread(chunk.data(), 1, chunk.size(), file.get());
    if (got == 0) break;
    errno = 0;
    if (std::fwrite(chunk.data(), 1, got, stdout) != got) throw StandardOutputError(errno);
  }
  if (std::ferror(file.get()) != 0) return false;
  WriteStandardOutput({});
  return true;
}

// True while the name still holds the partial file as it was created, and
// not something another user of the directory put in its place.
bool StillOurs(const fs::path& path, std::uint64_t device, std::uint64_t inode) {
#if defined(_WIN32)
  (void)path;
  (void)device;
  (void)inode;
  return true;
#else
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
         static_cast<std::uint64_t>(st.st_dev) == device &&
         static_cast<std::uint64_t>(st.st_ino) == inode;
#endif
}

}  // namespace

std::FILE* OpenForReading(const std::string& path) {
#if defined(_WIN32)
  return _wfopen(SystemPath(path).c_str(), L"rb");
#else
  return std::fopen(path.c_str(), "rb");
#endif
}

std::string SystemReason() {
  const int error = errno;
  return error != 0 ? std::strerror(error) : "unknown error";
}

std::uint64_t RegularFileSize(const std::string& path) {
  std::error_code error;
  const fs::path system_path = SystemPath(path);
  const fs::file_status status = fs::status(system_path, error);
  if (error || !fs::exists(status)) throw HostError(FileMessage(path, "no such file"));
  if (fs::is_directory(status)) throw HostError(FileMessage(path, "is a directory, not a file"));
  if (!fs::is_regular_file(status)) throw HostError(FileMessage(path, "is not a regular file"));
  const std::uintmax_t size = fs::file_size(system_path, error);
  if (error) throw HostError(FileMessage(path, "cannot take its size: " + ReasonText(error)));
  return size;
}

bool IsRegularFile(const std::string& path) {
  std::error_code error;
  return fs::is_regular_file(SystemPath(path), error);
}

bool IsDirectory(const std::string& path) {
  std::error_code error;
  return fs::is_directory(SystemPath(path), error);
}

Bytes ReadWholeFile(const std::string& path) {
  const std::uint64_t size = RegularFileSize(path);
  if (size > SIZE_MAX / 2) throw HostError(FileMessage(path, NotEnoughMemory("it", size)));
  errno = 0;
  InputFile file(path);
  if (file.get() == nullptr) throw HostError(FileMessage(path, "cannot open: " + SystemReason()));
  Bytes bytes;
  try {
    bytes.resize(static_cast<std::size_t>(size));
  } catch (const std::bad_alloc&) {
    throw HostError(FileMessage(path, NotEnoughMemory("it", size)));
  }
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
  const fs::path directory = SystemPath(path);
  if (fs::is_directory(directory, error)) return;
#if defined(_WIN32)
  // Made one level at a time by the system's own call, so that a failure
  // comes with the system's reason (the C++ library's says "File name too
  // long" for a drive that is not there).
  fs::path made = directory.root_path();
  for (const fs::path& part : directory.relative_path()) {
    made /= part;
    std::error_code missing;  // a level not made yet
    if (part.empty() || fs::is_directory(made, missing)) continue;
    if (CreateDirectoryW(made.c_str(), nullptr) != 0) continue;
    const DWORD failure = GetLastError();
    if (failure != ERROR_ALREADY_EXISTS)
      throw HostError(FileMessage(path, "cannot create the directory: " + WindowsReason(failure)));
  }
  error.clear();
#else
  fs::create_directories(directory, error);
#endif
  if (error || !fs::is_directory(directory, error))
    throw HostError(
        FileMessage(path, "cannot create the directory: " +
                              (error ? ReasonText(error) : std::string("not a directory"))));
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
  if (a == kStandardOutput || b == kStandardOutput) return false;
  std::error_code error;
  return fs::equivalent(SystemPath(a), SystemPath(b), error) && !error;
}

Bytes ReadFileRange(const std::string& path, std::uint64_t offset, std::size_t size) {
  FileRangeReader reader(path);
  Bytes bytes(size);
  reader.Read(offset, bytes);
  return bytes;
}

FileRangeReader::FileRangeReader(std::string path) : path_(std::move(path)) {
  errno = 0;
  file_ = OpenForReading(path_);
  if (file_ == nullptr) throw HostError(FileMessage(path_, "cannot open: " + SystemReason()));
}

FileRangeReader::~FileRangeReader() { std::fclose(file_); }

void FileRangeReader::Read(std::uint64_t offset, std::span<unsigned char> into) {
#if defined(_WIN32)
  const bool sought = _fseeki64(file_, static_cast<__int64>(offset), SEEK_SET) == 0;
#else
  const bool sought = fseeko(file_, static_cast<off_t>(offset), SEEK_SET) == 0;
#endif
  errno = 0;
  const std::size_t got =
      !sought || into.empty() ? 0 : std::fread(into.data(), 1, into.size(), file_);
  if (!sought || got != into.size())
    throw HostError(FileMessage(
        path_,
        "cannot read " + std::to_string(into.size()) + " bytes at offset " +
            std::to_string(offset) +
            (std::ferror(file_) != 0 ? ": " + SystemReason() : ": the file is shorter")));
}

void PrefetchFileRanges(const std::string& path,
                        const std::vector<std::pair<std::uint64_t, std::size_t>>& ranges) {
#if defined(POSIX_FADV_WILLNEED)
  const int fd = open(SystemPath(path).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return;
  for (const auto& [offset, size] : ranges)
    posix_fadvise(fd, static_cast<off_t>(offset), static_cast<off_t>(size), POSIX_FADV_WILLNEED);
  close(fd);
#else
  (void)path;
  (void)ranges;
#endif
}

void WriteStandardOutput(std::span<const unsigned char> bytes) {
  errno = 0;
  if ((!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), stdout) != bytes.size()) ||
      std::fflush(stdout) != 0)
    throw StandardOutputError(errno);
}

PendingFile::PendingFile(std::string target) : target_(std::move(target)) {
  if (to_standard_output()) {
    std::error_code error;
    const fs::path directory = fs::temp_directory_path(error);
    if (error)
      throw HostError(FileMessage(
          ShownName(), "no temporary directory to make the output in: " + ReasonText(error)));
    Create(directory, partial_name::kMaxNameLength);
    return;
  }
  Prepare(SystemPath(target_));
}

PendingFile::PendingFile(const std::filesystem::path& target) : target_(ShownPath(target)) {
  Prepare(target);
}

void PendingFile::Prepare(const std::filesystem::path& target) {
  system_target_ = target;
  RefuseOddTarget(system_target_, target_);
  // The partial file lies beside the target, under a name no longer than
  // the target's own.
  Create(system_target_.parent_path(), system_target_.filename().native().size());
}

void PendingFile::Create(const std::filesystem::path& directory, std::size_t target_name_length) {
  char name[partial_name::kMaxNameLength + 1];
  for (int attempt = 0; attempt < partial_name::kAttempts; ++attempt) {
    partial_name::WriteName(partial_name::Seed(),
                            partial_name::NameLength(target_name_length, attempt), name);
    system_partial_ = directory.empty() ? fs::path(name) : directory / name;
    partial_ = ShownPath(system_partial_);
    // Created and registered in one step: an interrupt finds the file
    // registered as soon as it exists.
    const InterruptsHeld held;
    Created created = CreateExclusively(system_partial_);
    if (created.file == nullptr) {
      if (created.name_taken) continue;
      throw HostError(FileMessage(ShownName(), "cannot create: " + created.reason));
    }
    slot_ = RegisterPartialFile(system_partial_);
    if (slot_ < 0) {
      std::fclose(created.file);
      RemoveFile(system_partial_);
      throw HostError(FileMessage(ShownName(), "cannot create: too many files being written"));
    }
    file_ = created.file;
    device_ = created.device;
    inode_ = created.inode;
    return;
  }
  throw HostError(FileMessage(
      ShownName(), "cannot create: every name tried for its partial file is taken in " +
                       (directory.empty() ? std::string(".") : ShownPath(directory))));
}

std::string PendingFile::ShownName() const {
  return to_standard_output() ? std::string("standard output") : target_;
}

PendingFile::~PendingFile() {
  if (!committed_) Discard();
}

void PendingFile::Discard() {
  if (file_ != nullptr) std::fclose(std::exchange(file_, nullptr));
  if (slot_ < 0) return;
  const InterruptsHeld held;
  RemoveFile(system_partial_);
  UnregisterPartialFile(std::exchange(slot_, -1));
}

void PendingFile::Fail(const std::string& reason) {
  const std::string message = FileMessage(ShownName(), reason);
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
  if (to_standard_output()) {
    // Copied, and the partial file removed, however the copy ends.
    const bool read_back = CopyToStandardOutput(partial_);
    if (!read_back) Fail("cannot read back its partial file " + partial_);
    Discard();
    committed_ = true;
    return;
  }
  if (!StillOurs(system_partial_, device_, inode_))
    Fail("its partial file " + partial_ +
         " was replaced while it was written; nothing was written");
  // Renamed and unregistered in one step, so that an interrupt never removes
  // the finished file's old name after someone else has taken it.
  const InterruptsHeld held;
  errno = 0;
#if defined(_WIN32)
  if (MoveFileExW(system_partial_.c_str(), system_target_.c_str(), MOVEFILE_REPLACE_EXISTING) ==
      0) {
    Fail("cannot give the file its name: " + WindowsReason(GetLastError()));
  }
#else
  if (MoveFileExA(system_partial_.c_str(), system_target_.c_str(), MOVEFILE_REPLACE_EXISTING) == 0)
    Fail("cannot give the file its name: " + SystemReason());
#endif
  UnregisterPartialFile(std::exchange(slot_, -1));
  committed_ = true;
}

void WriteFileAtomically(const std::string& path, std::span<const unsigned char> bytes) {
  if (path == kStandardOutput) {
    WriteStandardOutput(bytes);
    return;
  }
  PendingFile file(path);
  file.Write(bytes);
  file.Commit();
}

void WriteFileAtomically(const std::filesystem::path& path, std::span<const unsigned char> bytes) {
  PendingFile file(path);
  file.Write(bytes);
  file.Commit();
}
