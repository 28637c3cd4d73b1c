// Reading and writing whole files for the host. Paths are held as
// system_path.h says (UTF-8 on Windows) and reach the system through
// SystemPath alone.
//
// Output never appears half-written, and nothing but the target is ever
// written: it goes to a partial file beside the target, created exclusively
// under a random name no longer than the target's (frame/partial_name.h), and
// takes the target's name by a rename only once every byte is out and the
// file is closed cleanly. The rename replaces a link at the target's name; it
// never writes through one. On any failure or interrupt the partial file is
// removed and an existing target stays as it was.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "host/files/system_path.h"

using Bytes = std::vector<unsigned char>;

// The whole file. Throws HostError naming the file and the reason.
Bytes ReadWholeFile(const std::string& path);

// The first `size` bytes of a file, zero past its end.
Bytes ReadHead(const std::string& path, std::size_t size);

// Size of a regular file; throws HostError for anything else (missing, a
// directory, unreadable).
std::uint64_t RegularFileSize(const std::string& path);

// True when the path names an existing regular file, or directory.
bool IsRegularFile(const std::string& path);
bool IsDirectory(const std::string& path);

// Creates the directory and its parents when missing; throws HostError when
// that fails or something other than a directory has the name.
void MakeDirectories(const std::string& path);

// Joins a directory and a name with the platform's separator.
std::string JoinPath(const std::string& directory, const std::string& name);

// The last component of a path.
std::string BaseName(const std::string& path);

// The output name that stands for standard output.
inline constexpr char kStandardOutput[] = "-";

// True when two names refer to the same existing file; standard output ("-")
// is no file's name.
bool SameFile(const std::string& a, const std::string& b);

// `size` bytes of a file from `offset` on. Throws HostError naming the file
// when they cannot all be read.
Bytes ReadFileRange(const std::string& path, std::uint64_t offset, std::size_t size);

// Ranges of one file read one after another through a single open handle,
// as member after member of an archive is read.
class FileRangeReader {
 public:
  // Throws HostError naming the file when it cannot be opened.
  explicit FileRangeReader(std::string path);
  ~FileRangeReader();
  FileRangeReader(const FileRangeReader&) = delete;
  FileRangeReader& operator=(const FileRangeReader&) = delete;

  // Fills `into` with the bytes from `offset` on; throws HostError naming
  // the file when they cannot all be read.
  void Read(std::uint64_t offset, std::span<unsigned char> into);
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  std::FILE* file_ = nullptr;
};
// Tells the system that these ranges of the file are about to be read, so
// that it fetches them all at once rather than one read after another. Only
// a hint: nothing happens where the system takes none.
void PrefetchFileRanges(const std::string& path,
                        const std::vector<std::pair<std::uint64_t, std::size_t>>& ranges);
// Writes bytes to standard output; throws HostError when the write or the
// flush fails.
void WriteStandardOutput(std::span<const unsigned char> bytes);

// An output file that takes its name only when Commit() succeeds.
class PendingFile {
 public:
  // Creates the partial file. A target that exists and is not a regular file
  // (or a link, which the rename replaces) is refused: a directory, device,
  // FIFO or socket is left as it is. The target "-" is standard output: the
  // partial file then lies in the system's temporary directory and Commit()
  // copies it out.
  explicit PendingFile(std::string target);
  // A target named as the system's file calls take it, such as a member's
  // file name made in UTF-16 on Windows.
  explicit PendingFile(const std::filesystem::path& target);
  ~PendingFile();
  PendingFile(const PendingFile&) = delete;
  PendingFile& operator=(const PendingFile&) = delete;

  // Appends bytes; throws HostError naming the target on failure.
  void Write(std::span<const unsigned char> bytes);
  // Closes the partial file without giving it its name yet, so that it can
  // be read back and checked. Throws on failure.
  void Close();
  // Closes (when still open) and renames the partial file to the target, or
  // copies it to standard output.
  void Commit();

  const std::string& target() const { return target_; }
  const std::string& partial() const { return partial_; }
  bool to_standard_output() const { return target_ == kStandardOutput; }

 private:
  void Prepare(const std::filesystem::path& target);
  void Create(const std::filesystem::path& directory, std::size_t target_name_length);
  [[noreturn]] void Fail(const std::string& reason);
  void Discard();
  std::string ShownName() const;

  std::string target_;
  std::string partial_;
  std::filesystem::path system_target_;
  std::filesystem::path system_partial_;
  std::FILE* file_ = nullptr;
  int slot_ = -1;  // in the interrupt registry while the partial file is ours
  bool committed_ = false;
  // The partial file as created, to tell it from one put in its place.
  std::uint64_t device_ = 0;
  std::uint64_t inode_ = 0;
};

// Writes a whole file through a PendingFile, or to standard output for "-".
void WriteFileAtomically(const std::string& path, std::span<const unsigned char> bytes);
void WriteFileAtomically(const std::filesystem::path& path, std::span<const unsigned char> bytes);

// The system's reason for the last failed call of the C library, as text.
std::string SystemReason();

// A file opened for reading by its path; null when it cannot be (errno
// says why).
std::FILE* OpenForReading(const std::string& path);
