// What the benchmark programs share: loading a plug-in as a host does, the
// corpus files and their names, and reading and writing whole files.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "gp8_corpus.h"

using Bytes = std::vector<unsigned char>;

// The two picture sizes of the corpus.
struct CorpusSize {
  std::uint32_t width;
  std::uint32_t height;
};
inline constexpr CorpusSize kCorpusSizes[] = {{640, 480}, {4096, 4096}};

// "flat-640x480": how the corpus files and the table name a picture.
inline std::string CorpusName(CorpusKind kind, CorpusSize size) {
  return std::string(CorpusKindName(kind)) + "-" + std::to_string(size.width) + "x" +
         std::to_string(size.height);
}

// The bytes of a file, or none when it cannot be read.
bool ReadFileBytes(const std::string& path, Bytes& bytes);
bool WriteFileBytes(const std::string& path, const Bytes& bytes);

// A plug-in loaded from the directory of the running program. Not the tests'
// PluginModule: on Windows that one redirects the plug-in's LocalAlloc and
// LocalFree to count blocks, which would weigh on every call timed here.
class PluginLibrary {
 public:
  explicit PluginLibrary(const std::string& name);
  ~PluginLibrary();
  PluginLibrary(const PluginLibrary&) = delete;
  PluginLibrary& operator=(const PluginLibrary&) = delete;

  bool loaded() const { return handle_ != nullptr; }
  void* Find(const char* name) const;
  template <class Fn>
  Fn Export(const char* name) const {
    return reinterpret_cast<Fn>(Find(name));
  }

 private:
  void* handle_ = nullptr;
};

// The directory that holds the running program, with a trailing separator.
std::string ProgramDirectory();

// Decode speeds of the 32-bit DLL, one line per corpus picture (see
// win32_decode_bench.cpp).
struct Win32DecodeFigure {
  std::string name;
  double dll_mbps = 0;
  double classic_mbps = 0;
  double memcpy_mbps = 0;
  double classic_in_block_mbps = 0;  // the classic decoder into a new pixel block
  double decoder_alone_mbps = 0;     // the DLL's decoder without GetPicture around it
};
