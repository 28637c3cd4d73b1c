// The image plug-in as a host sees it: loaded once, its exports by name.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>

#include "gp8_writer.h"
#include "plugin_abi.h"
#include "plugin_loader.h"

struct Wennel {
  GetPluginInfoFn GetPluginInfo = nullptr;
  IsSupportedFn IsSupported = nullptr;
  GetPictureInfoFn GetPictureInfo = nullptr;
  GetPictureFn GetPicture = nullptr;
  GetPreviewFn GetPreview = nullptr;
};

inline PluginModule& WennelModule() {
  static PluginModule module(PluginPath("wennel"));
  return module;
}

inline const Wennel& LoadWennel() {
  static const Wennel api = [] {
    PluginModule& m = WennelModule();
    Wennel a;
    a.GetPluginInfo = m.Export<GetPluginInfoFn>("GetPluginInfo");
    a.IsSupported = m.Export<IsSupportedFn>("IsSupported");
    a.GetPictureInfo = m.Export<GetPictureInfoFn>("GetPictureInfo");
    a.GetPicture = m.Export<GetPictureFn>("GetPicture");
    a.GetPreview = m.Export<GetPreviewFn>("GetPreview");
    return a;
  }();
  return api;
}

// A value no plug-in would store through a handle pointer.
inline HLOCAL const kUntouchedHandle = reinterpret_cast<HLOCAL>(std::uintptr_t{0x5EED});

// What GetPicture handed out, taken over from the plug-in.
struct Dib {
  std::int32_t result = 0;
  Bytes header;  // BITMAPINFOHEADER, palette and the 14 zero bytes
  Bytes pixels;
};

// Every test starts with all exports present and checks at its end that the
// calls it made left no block allocated besides the ones it took over.
class WennelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(WennelModule().loaded()) << WennelModule().error();
    api_ = LoadWennel();
    ASSERT_NE(api_.GetPluginInfo, nullptr);
    ASSERT_NE(api_.IsSupported, nullptr);
    ASSERT_NE(api_.GetPictureInfo, nullptr);
    ASSERT_NE(api_.GetPicture, nullptr);
    ASSERT_NE(api_.GetPreview, nullptr);
    live_at_start_ = LiveBlocks();
    locked_frees_at_start_ = LockedFrees();
    // Blocks not asked to be zeroed start as garbage: a byte the plug-in
    // hands out without setting it shows as 0xCD, not as a lucky 0.
    FillNewBlocks(0xCD);
  }
  void TearDown() override {
    FillNewBlocks(-1);
    EXPECT_EQ(LiveBlocks(), live_at_start_) << "a block was left allocated";
    EXPECT_EQ(LockedFrees(), locked_frees_at_start_) << "a block was freed still locked";
  }

  // Recognises a file through the memory form of IsSupported: the first 2048
  // bytes, zero past the file's end.
  std::int32_t Recognise(const Bytes& file) {
    Bytes head(2048, 0);
    std::copy_n(file.begin(), std::min(file.size(), head.size()), head.begin());
    return api_.IsSupported("test.gp8", reinterpret_cast<HandleOrHead>(head.data()));
  }

  // Calls GetPicture and takes over both blocks on success. On failure the
  // handle variables must not have been written.
  Dib Picture(const char* source, std::int32_t length, std::uint32_t flags) {
    HLOCAL header = kUntouchedHandle;
    HLOCAL pixels = kUntouchedHandle;
    Dib dib;
    dib.result = api_.GetPicture(source, length, flags, &header, &pixels, 0, 0);
    if (dib.result != 0) {
      EXPECT_EQ(header, kUntouchedHandle) << "header handle written on failure";
      EXPECT_EQ(pixels, kUntouchedHandle) << "pixel handle written on failure";
      EXPECT_EQ(LiveBlocks(), live_at_start_) << "a block was left allocated on failure";
      return dib;
    }
    EXPECT_NE(header, kUntouchedHandle);
    EXPECT_NE(pixels, kUntouchedHandle);
    if (header != kUntouchedHandle) dib.header = TakeBlock(header);
    if (pixels != kUntouchedHandle) dib.pixels = TakeBlock(pixels);
    return dib;
  }

  // GetPicture on a picture in memory, handed over in a buffer of exactly its
  // size, so that a read past its end is caught by the memory checkers.
  Dib PictureFromMemory(const Bytes& file, std::uint32_t flags = 1) {
    // A vector may hold more than its size; a copy in a block of its own
    // does not.
    const std::unique_ptr<unsigned char[]> exact(new unsigned char[file.size()]);
    std::copy(file.begin(), file.end(), exact.get());
    return Picture(reinterpret_cast<const char*>(exact.get()),
                   static_cast<std::int32_t>(file.size()), flags);
  }

  Wennel api_;
  long live_at_start_ = 0;
  long locked_frees_at_start_ = 0;
};
