// Reading and writing whole files for the host. Paths are 8-bit strings,
// passed to the system as they are, like the names the plug-ins take.
//
// Output never appears half-written: it goes to a partial file beside the
// target and takes the target's name only once every byte is out and the
// file is closed cleanly. On any failure the partial file is removed and an
// existing target stays as it was.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

using Bytes = std::vector<unsigned char>;

// The whole file. Throws HostError naming the file and the reason.
Bytes ReadWholeFile(const std::string& path);

// The first `size` bytes of a file, zero past its end.
Bytes ReadHead(const std::string& path, std::size_t size);

// Size of a regular file; throws HostError for anything else (missing, a
// directory, unreadable).
std::uint64_t RegularFileSize(const std::string& path);

// True when the path names an existing regular file.
bool IsRegularFile(const std::string& path);

// Creates the directory and its parents when missing; throws HostError when
// that fails or something other than a directory has the name.
void MakeDirectories(const std::string& path);

// Joins a directory and a name with the platform's separator.
std::string JoinPath(const std::string& directory, const std::string& name);

// The last component of a path.
std::string BaseName(const std::string& path);

// True when two names refer to the same existing file.
bool SameFile(const std::string& a, const std::string& b);

// A path from the command line as the system's file calls take it: the
// bytes on POSIX, on Windows UTF-16 from the ANSI code page. And a path as
// messages show it: the bytes on POSIX, UTF-8 on Windows.
std::filesystem::path SystemPath(const std::string& path);
std::string ShownPath(const std::filesystem::path& path);

// `size` bytes of a file from `offset` on. Throws HostError naming the file
// when they cannot all be read.
Bytes ReadFileRange(const std::string& path, std::uint64_t offset, std::size_t size);

// An output file that takes its name only when Commit() succeeds.
class PendingFile {
 public:
  explicit PendingFile(std::string target);
  // A target named as the system's file calls take it: on Windows in
  // UTF-16, for names that the ANSI code page cannot hold.
  explicit PendingFile(const std::filesystem::path& target);
  ~PendingFile();
  PendingFile(const PendingFile&) = delete;
  PendingFile& operator=(const PendingFile&) = delete;

  // Appends bytes; throws HostError naming the target on failure.
  void Write(std::span<const unsigned char> bytes);
  // Closes the partial file without giving it its name yet, so that it can
  // be read back and checked. Throws on failure.
  void Close();
  // Closes (when still open) and renames the partial file to the target.
  void Commit();

  const std::string& target() const { return target_; }
  const std::string& partial() const { return partial_; }

 private:
  PendingFile(std::filesystem::path system_target, std::string shown_target);
  [[noreturn]] void Fail(const std::string& reason);
  void Discard();

  std::string target_;
  std::string partial_;
  std::filesystem::path system_target_;
  std::filesystem::path system_partial_;
  std::FILE* file_ = nullptr;
  bool committed_ = false;
};

// Writes a whole file through a PendingFile.
void WriteFileAtomically(const std::string& path, std::span<const unsigned char> bytes);
void WriteFileAtomically(const std::filesystem::path& path, std::span<const unsigned char> bytes);

// The system's reason for the last failed call, as text.
std::string SystemReason();
