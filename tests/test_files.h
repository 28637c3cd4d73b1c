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
