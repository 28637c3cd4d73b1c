#include "bench_support.h"

#include <cstdio>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#endif

bool ReadFileBytes(const std::string& path, Bytes& bytes) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return false;
  bytes.clear();
  unsigned char chunk[1 << 16];
  std::size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
    bytes.insert(bytes.end(), chunk, chunk + got);
  }
  const bool ok = std::ferror(file) == 0;
  std::fclose(file);
  return ok;
}

bool WriteFileBytes(const std::string& path, const Bytes& bytes) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  ok = std::fclose(file) == 0 && ok;
  return ok;
}

#if defined(_WIN32)

std::string ProgramDirectory() {
  char path[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string dir(path, length);
  return dir.substr(0, dir.find_last_of("\\/") + 1);
}

PluginLibrary::PluginLibrary(const std::string& name)
    : handle_(LoadLibraryA((ProgramDirectory() + name + ".dll").c_str())) {}

PluginLibrary::~PluginLibrary() {
  if (handle_ != nullptr) FreeLibrary(static_cast<HMODULE>(handle_));
}

void* PluginLibrary::Find(const char* name) const {
  return handle_ == nullptr
             ? nullptr
             : reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), name));
}

#else

std::string ProgramDirectory() {
  char path[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", path, sizeof path);
  if (length <= 0) return "./";
  std::string dir(path, static_cast<std::size_t>(length));
  return dir.substr(0, dir.find_last_of('/') + 1);
}

PluginLibrary::PluginLibrary(const std::string& name)
    : handle_(dlopen((ProgramDirectory() + name + ".so").c_str(), RTLD_NOW | RTLD_LOCAL)) {}

PluginLibrary::~PluginLibrary() {
  if (handle_ != nullptr) dlclose(handle_);
}

void* PluginLibrary::Find(const char* name) const {
  return handle_ == nullptr ? nullptr : dlsym(handle_, name);
}

#endif
