#include "plugin_loader.h"

#include "platform.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#include <unistd.h>
#endif

#include <climits>

PluginModule::PluginModule(const std::string& path) {
#if defined(_WIN32)
  handle_ = reinterpret_cast<void*>(LoadLibraryA(path.c_str()));
  if (handle_ == nullptr) error_ = "LoadLibrary failed for " + path;
#else
  handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle_ == nullptr) error_ = dlerror();
#endif
}

PluginModule::~PluginModule() {
  if (handle_ == nullptr) return;
#if defined(_WIN32)
  FreeLibrary(static_cast<HMODULE>(handle_));
#else
  dlclose(handle_);
#endif
}

void* PluginModule::Find(const char* name) const {
  if (handle_ == nullptr) return nullptr;
#if defined(_WIN32)
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), name));
#else
  return dlsym(handle_, name);
#endif
}

std::string ProgramDirectory() {
#if defined(_WIN32)
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string s(path);
  return s.substr(0, s.find_last_of("\\/"));
#else
  char path[PATH_MAX] = {};
  const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  std::string s(path, n > 0 ? static_cast<std::size_t>(n) : 0);
  return s.substr(0, s.find_last_of('/'));
#endif
}

std::string PluginPath(const std::string& name) {
#if defined(_WIN32)
  return ProgramDirectory() + "\\" + name + ".dll";
#else
  return ProgramDirectory() + "/" + name + ".so";
#endif
}

long LiveBlocks() {
#if defined(_WIN32)
  // Count the busy blocks of the process heap, where LocalAlloc places them.
  long busy = 0;
  HANDLE heap = GetProcessHeap();
  HeapLock(heap);
  PROCESS_HEAP_ENTRY entry{};
  while (HeapWalk(heap, &entry)) {
    if ((entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) != 0) ++busy;
  }
  HeapUnlock(heap);
  return busy;
#else
  return PlatformLiveBlocks();
#endif
}
