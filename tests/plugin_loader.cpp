#include "plugin_loader.h"

#include <gtest/gtest.h>

#include "platform.h"

#if defined(_WIN32)
#include <windows.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <unordered_set>
#else
#include <dlfcn.h>
#include <unistd.h>
#endif

#include <climits>
#include <cstdlib>

#if defined(_WIN32)
namespace {

// KERNEL32 keeps no count of local blocks that a test could read (walking
// the process heap also sees every allocation of the C runtime, and a moveable
// block of 0 bytes occupies no heap at all). So the test program and every
// plug-in it loads have the LocalAlloc and LocalFree entries of their import
// tables pointed at the two functions below, which call KERNEL32 and keep the
// set of blocks alive. A block counts from its allocation to its release by
// any of these modules, whichever of them allocated it.
class LocalBlockCensus {
 public:
  static LocalBlockCensus& Instance() {
    static LocalBlockCensus census;
    return census;
  }

  long Live() {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<long>(live_.size());
  }

  void FillNewBlocks(int byte) { fill_ = byte; }

  long LockedFrees() const { return locked_frees_.load(); }

  // Points the module's imports of LocalAlloc and LocalFree at the census.
  // False when the module imports neither.
  bool Watch(HMODULE module) {
    auto* base = reinterpret_cast<unsigned char*>(module);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (imports.VirtualAddress == 0) return false;
    bool watched = false;
    for (auto* library = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
         library->Name != 0; ++library) {
      if (lstrcmpiA(reinterpret_cast<const char*>(base + library->Name), "KERNEL32.dll") != 0)
        continue;
      // The lookup table keeps the names; the address table beside it holds
      // what the loader bound them to.
      auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + library->OriginalFirstThunk);
      auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + library->FirstThunk);
      for (; names->u1.AddressOfData != 0; ++names, ++slots) {
        if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
        const char* name =
            reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData)->Name;
        void* replacement = nullptr;
        if (std::strcmp(name, "LocalAlloc") == 0) replacement = reinterpret_cast<void*>(&Alloc);
        if (std::strcmp(name, "LocalFree") == 0) replacement = reinterpret_cast<void*>(&Free);
        if (replacement == nullptr) continue;
        DWORD protection = 0;
        VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, PAGE_READWRITE, &protection);
        slots->u1.Function = reinterpret_cast<std::uintptr_t>(replacement);
        VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, protection, &protection);
        watched = true;
      }
    }
    return watched;
  }

 private:
  using LocalAllocFn = HLOCAL(WINAPI*)(UINT, SIZE_T);
  using LocalFreeFn = HLOCAL(WINAPI*)(HLOCAL);

  // KERNEL32's own entries, taken before the test program's imports are
  // redirected here.
  LocalBlockCensus()
      : local_alloc_(reinterpret_cast<LocalAllocFn>(
            GetProcAddress(GetModuleHandleA("KERNEL32.dll"), "LocalAlloc"))),
        local_free_(reinterpret_cast<LocalFreeFn>(
            GetProcAddress(GetModuleHandleA("KERNEL32.dll"), "LocalFree"))) {
    Watch(GetModuleHandleA(nullptr));
  }

  static HLOCAL WINAPI Alloc(UINT flags, SIZE_T bytes) {
    LocalBlockCensus& census = Instance();
    HLOCAL block = census.local_alloc_(flags, bytes);
    if (block == nullptr) return nullptr;
    const int fill = census.fill_;
    if ((flags & LMEM_ZEROINIT) == 0 && fill >= 0 && bytes != 0) {
      const bool moveable = (flags & LMEM_MOVEABLE) != 0;
      void* data = moveable ? LocalLock(block) : block;
      if (data != nullptr) std::memset(data, fill, bytes);
      if (moveable) LocalUnlock(block);
    }
    std::lock_guard<std::mutex> lock(census.mutex_);
    census.live_.insert(block);
    return block;
  }

  static HLOCAL WINAPI Free(HLOCAL block) {
    LocalBlockCensus& census = Instance();
    if (block != nullptr && (LocalFlags(block) & LMEM_LOCKCOUNT) != 0) ++census.locked_frees_;
    HLOCAL result = census.local_free_(block);
    if (block != nullptr && result == nullptr) {
      std::lock_guard<std::mutex> lock(census.mutex_);
      census.live_.erase(block);
    }
    return result;
  }

  const LocalAllocFn local_alloc_;
  const LocalFreeFn local_free_;
  std::atomic<int> fill_{-1};
  std::atomic<long> locked_frees_{0};
  std::mutex mutex_;
  std::unordered_set<HLOCAL> live_;
};

}  // namespace
#endif

PluginModule::PluginModule(const std::string& path) {
#if defined(_WIN32)
  HMODULE module = LoadLibraryA(path.c_str());
  handle_ = reinterpret_cast<void*>(module);
  if (module == nullptr) {
    error_ = "LoadLibrary failed for " + path + ", error " + std::to_string(GetLastError());
  } else if (!LocalBlockCensus::Instance().Watch(module)) {
    error_ = path + " imports neither LocalAlloc nor LocalFree from KERNEL32.dll";
    FreeLibrary(module);
    handle_ = nullptr;
  }
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
  // Another build of the plug-ins (the 32-bit decoder's way on a 64-bit
  // machine) is tested by pointing VYN_TEST_PLUGIN_DIR at it.
  const char* other = std::getenv("VYN_TEST_PLUGIN_DIR");
  const std::string directory = other != nullptr && *other != '\0' ? other : ProgramDirectory();
#if defined(_WIN32)
  return directory + "\\" + name + ".dll";
#else
  return directory + "/" + name + ".so";
#endif
}

long LiveBlocks() {
#if defined(_WIN32)
  return LocalBlockCensus::Instance().Live();
#else
  return PlatformLiveBlocks();
#endif
}

long LockedFrees() {
#if defined(_WIN32)
  return LocalBlockCensus::Instance().LockedFrees();
#else
  return PlatformLockedFrees();
#endif
}

void FillNewBlocks(int byte) {
#if defined(_WIN32)
  LocalBlockCensus::Instance().FillNewBlocks(byte);
#else
  PlatformFillNewBlocks(byte);
#endif
}

std::vector<unsigned char> TakeBlock(HLOCAL block) {
  std::vector<unsigned char> bytes;
  if (block == nullptr) return bytes;
  const SIZE_T size = LocalSize(block);
  const auto* data = static_cast<const unsigned char*>(LocalLock(block));
  if (data != nullptr) {
    bytes.assign(data, data + size);
    // Locked once here, a block handed over unlocked is unlocked again by
    // one LocalUnlock. A host that frees without unlocking, as hosts do,
    // would otherwise free a block the plug-in still holds locked.
    if (LocalUnlock(block) != 0) ADD_FAILURE() << "a block was handed over still locked";
  }
  LocalFree(block);
  return bytes;
}
