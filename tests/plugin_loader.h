// Loads a plug-in the way a host viewer does (dlopen here, LoadLibrary on
// Windows) and finds its exports by name, so that one export-level suite runs
// against the native modules and the Windows DLLs alike.
#pragma once

#include <string>
#include <vector>

#include "platform.h"

class PluginModule {
 public:
  explicit PluginModule(const std::string& path);
  ~PluginModule();
  PluginModule(const PluginModule&) = delete;
  PluginModule& operator=(const PluginModule&) = delete;

  bool loaded() const { return handle_ != nullptr; }
  const std::string& error() const { return error_; }
  void* Find(const char* name) const;

  template <class Fn>
  Fn Export(const char* name) const {
    return reinterpret_cast<Fn>(Find(name));
  }

 private:
  void* handle_ = nullptr;
  std::string error_;
};

// Path of a plug-in ("cobbet", "wennel") built beside the test program, or
// in the directory VYN_TEST_PLUGIN_DIR names when it is set.
std::string PluginPath(const std::string& name);

// Directory that holds the running test program.
std::string ProgramDirectory();

// Live local-memory blocks in the whole process, plug-ins included.
long LiveBlocks();

// Local blocks freed while still locked, by the test program or a plug-in.
long LockedFrees();

// Takes over a block a plug-in handed out, as a host does: its bytes, then
// frees it. An empty vector for a null handle or a block of 0 bytes.
std::vector<unsigned char> TakeBlock(HLOCAL block);

// From now on every local block allocated without LMEM_ZEROINIT starts filled
// with this byte, as under a debugging heap, so that bytes a plug-in hands out
// without setting them show; -1 (the default) leaves them as they come.
void FillNewBlocks(int byte);
