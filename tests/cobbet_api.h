// The archive plug-in as a host sees it: loaded once, its exports by name.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>

#include "plugin_abi.h"
#include "arc_writer.h"
#include "plugin_loader.h"

struct Cobbet {
  GetPluginInfoFn GetPluginInfo = nullptr;
  IsSupportedFn IsSupported = nullptr;
  GetArchiveInfoFn GetArchiveInfo = nullptr;
  GetFileInfoFn GetFileInfo = nullptr;
  GetFileFn GetFile = nullptr;
};

inline PluginModule& CobbetModule() {
  static PluginModule module(PluginPath("cobbet"));
  return module;
}

inline const Cobbet& LoadCobbet() {
  static const Cobbet api = [] {
    PluginModule& m = CobbetModule();
    Cobbet a;
    a.GetPluginInfo = m.Export<GetPluginInfoFn>("GetPluginInfo");
    a.IsSupported = m.Export<IsSupportedFn>("IsSupported");
    a.GetArchiveInfo = m.Export<GetArchiveInfoFn>("GetArchiveInfo");
    a.GetFileInfo = m.Export<GetFileInfoFn>("GetFileInfo");
    a.GetFile = m.Export<GetFileFn>("GetFile");
    return a;
  }();
  return api;
}

// Every test starts with all exports present and checks at its end that the
// calls it made left no block allocated besides the ones it took over.
class CobbetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(CobbetModule().loaded()) << CobbetModule().error();
    api_ = LoadCobbet();
    ASSERT_NE(api_.GetPluginInfo, nullptr);
    ASSERT_NE(api_.IsSupported, nullptr);
    ASSERT_NE(api_.GetArchiveInfo, nullptr);
    ASSERT_NE(api_.GetFileInfo, nullptr);
    ASSERT_NE(api_.GetFile, nullptr);
    live_at_start_ = LiveBlocks();
    locked_frees_at_start_ = LockedFrees();
  }
  void TearDown() override {
    EXPECT_EQ(LiveBlocks(), live_at_start_) << "a block was left allocated";
    EXPECT_EQ(LockedFrees(), locked_frees_at_start_) << "a block was freed still locked";
  }

  // Recognises an image through the memory form of IsSupported.
  std::int32_t Recognise(const Bytes& file) {
    Bytes head = HeadOf(file);
    return api_.IsSupported("test.arc", reinterpret_cast<HandleOrHead>(head.data()));
  }

  Cobbet api_;
  long live_at_start_ = 0;
  long locked_frees_at_start_ = 0;
};
