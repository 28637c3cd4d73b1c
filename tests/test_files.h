// Scratch files for the tests: a fresh directory per test, removed after.
#pragma once

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#if defined(_WIN32)
#include "platform.h"
#include <winioctl.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

using Bytes = std::vector<unsigned char>;

class ScratchDirectory {
 public:
  ScratchDirectory() {
    std::random_device seed;
    const auto base = std::filesystem::temp_directory_path();
    for (;;) {
      path_ = base / ("vyn-test-" + std::to_string(seed()));
      if (std::filesystem::create_directory(path_)) break;
    }
  }
  ~ScratchDirectory() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;

  const std::filesystem::path& path() const { return path_; }
  // A path inside the directory, as the 8-bit string the plug-ins take. The
  // name's bytes are kept as they are, as a plug-in joins a prefix and a name.
  std::string File(const std::string& name) const { return Prefix() + name; }
  // The directory with a trailing separator, ready to take a member name.
  std::string Prefix() const { return (path_ / "").string(); }
  // Names of everything in the directory, sorted.
  std::vector<std::string> Entries() const {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(path_))
      names.push_back(NarrowName(e.path().filename()));
    std::sort(names.begin(), names.end());
    return names;
  }

 private:
  // A name as the plug-ins' 8-bit calls see it: on Windows in the ANSI code
  // page, which is how the file system took it from them.
  static std::string NarrowName(const std::filesystem::path& name) {
#if defined(_WIN32)
    const std::wstring& wide = name.native();
    const int size = static_cast<int>(wide.size());
    std::string narrow(static_cast<std::size_t>(size) * 2, '\0');
    const int n = WideCharToMultiByte(CP_ACP, 0, wide.data(), size, narrow.data(),
                                      static_cast<int>(narrow.size()), nullptr, nullptr);
    narrow.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return narrow;
#else
    return name.string();
#endif
  }

  std::filesystem::path path_;
};

inline void WriteBytes(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline Bytes ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline Bytes TextBytes(const std::string& text) { return Bytes(text.begin(), text.end()); }

// A file of `size` bytes that holds the given pieces at their offsets and
// nothing but a hole elsewhere, so that files of gigabytes cost no disk.
struct FilePiece {
  std::uint64_t offset;
  Bytes bytes;
};
inline bool WriteSparseFile(const std::string& path, std::uint64_t size,
                            const std::vector<FilePiece>& pieces) {
#if defined(_WIN32)
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD ignored = 0;
  DeviceIoControl(file, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &ignored, nullptr);
  bool ok = true;
  for (const FilePiece& piece : pieces) {
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(piece.offset);
    DWORD written = 0;
    ok = ok && SetFilePointerEx(file, at, nullptr, FILE_BEGIN) &&
         WriteFile(file, piece.bytes.data(), static_cast<DWORD>(piece.bytes.size()), &written,
                   nullptr) &&
         written == piece.bytes.size();
  }
  LARGE_INTEGER end;
  end.QuadPart = static_cast<LONGLONG>(size);
  ok = ok && SetFilePointerEx(file, end, nullptr, FILE_BEGIN) && SetEndOfFile(file);
  return CloseHandle(file) && ok;
#else
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  bool ok = ::ftruncate(fd, static_cast<off_t>(size)) == 0;
  for (const FilePiece& piece : pieces) {
    ok = ok && ::pwrite(fd, piece.bytes.data(), piece.bytes.size(),
                        static_cast<off_t>(piece.offset)) ==
                   static_cast<ssize_t>(piece.bytes.size());
  }
  return ::close(fd) == 0 && ok;
#endif
}
