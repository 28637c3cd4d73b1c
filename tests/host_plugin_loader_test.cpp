// The host's side of the plug-in interface: which modules count as
// plug-ins, and that a failing export leaves the host nothing to free.
#include <gtest/gtest.h>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include "host/host_error.h"
#include "host/plugins/archive_members.h"
#include "host/plugins/plugin_host.h"
#include "arc_writer.h"
#include "host_test_support.h"
#include "platform.h"

namespace {

TEST(HostPluginLoader, KnowsEachPluginByItsKind) {
  const PluginSet set = LoadPlugins(ProgramDirectory());
  ASSERT_TRUE(set.Has(PluginKind::kArchive));
  ASSERT_TRUE(set.Has(PluginKind::kImage));
  for (const auto& plugin : set.plugins) {
    if (plugin->kind() == PluginKind::kArchive) {
      EXPECT_EQ(plugin->information()[kKindIndex], "00AM");
      EXPECT_EQ(plugin->format_name(), "Vyn Archived File(ARC)");
    } else {
      EXPECT_EQ(plugin->information()[kPatternIndex], "*.GP8");
    }
  }
  std::string why;
  EXPECT_EQ(Plugin::Load(ProgramDirectory() + "/no-such-module.so", why), nullptr);
  EXPECT_FALSE(why.empty());
  EXPECT_THROW(LoadPlugins(ProgramDirectory() + "/no-such-directory"), HostError);
}

TEST(HostPluginLoader, FailingExportsLeaveNothingAllocated) {
  const PluginSet set = LoadPlugins(ProgramDirectory());
  const long live_at_start = LiveBlocks();
  ScratchDirectory scratch;
  const std::string text = scratch.File("t.txt");
  WriteBytes(text, TextBytes("neither an archive nor a picture"));
  const Bytes head = ReadBytes(text);
  EXPECT_EQ(set.Recognise(text, head), nullptr);

  for (const auto& plugin : set.plugins) {
    if (plugin->kind() == PluginKind::kArchive) {
      EXPECT_THROW(plugin->List(scratch.File("missing.arc")), HostError);
      EXPECT_EQ(plugin->ExtractAt(scratch.File("missing.arc"), 44), nullptr);
    } else {
      EXPECT_THROW(plugin->Picture(scratch.File("missing.gp8")), HostError);
    }
  }
  EXPECT_EQ(LiveBlocks(), live_at_start);
}

TEST(HostPluginLoader, AShortMemberIsRecognisedAsTheSameBytesInAFile) {
  // Past a short member's end its head reads zeros, as past a file's end: an
  // archive cut just after its second name's "B.T" is still an archive.
  const PluginSet set = LoadPlugins(ProgramDirectory());
  Bytes cut = BuildArchive({{"A.TXT", TextBytes("1")}, {"B.TXT", TextBytes("2")}});
  cut.resize(4 + 20 + 3);
  EXPECT_NE(set.Recognise("member", ContentHead(cut), PluginKind::kArchive), nullptr);
}

#if !defined(_WIN32)
TEST(HostPluginLoader, AMemberThePluginFailsToDeliverIsNamed) {
  // The plug-in's block cannot be had once, though memory is plentiful: the
  // member is named as not extracted, not as too large to hold.
  const PluginSet set = LoadPlugins(ProgramDirectory());
  ScratchDirectory scratch;
  const std::string path = scratch.File("a.arc");
  WriteBytes(path, BuildArchive({{"A.TXT", TextBytes("some text")}, {"B.TXT", TextBytes("more")}}));
  const Plugin* archive = set.Recognise(path, ReadBytes(path), PluginKind::kArchive);
  ASSERT_NE(archive, nullptr);
  const std::vector<ArchiveMember> members = archive->List(path);
  MemberReader reader(*archive, path);
  PlatformFailNth(PlatformFault::kAlloc, 1);
  try {
    reader.TakeWhole(members[0], "A.TXT");
    ADD_FAILURE() << "a member was delivered without its block";
  } catch (const HostError& error) {
    EXPECT_NE(std::string(error.what()).find("could not extract A.TXT"), std::string::npos)
        << error.what();
  }
  PlatformResetFaults();
}
#endif

#if defined(__GLIBC__)
TEST(HostPluginLoader, AReaderHoldsNoWholeMemberOnceItIsTaken) {
  // A member larger than a piece, taken whole: the reader lets its own copy
  // go, so that only the block handed over stays (heap and mapped bytes).
  const PluginSet set = LoadPlugins(ProgramDirectory());
  ScratchDirectory scratch;
  const std::string path = scratch.File("a.arc");
  const Bytes large(kMemberPieceSize + (4u << 20), 0x5A);
  WriteBytes(path, BuildArchive({{"LARGE.BIN", large}, {"B.TXT", TextBytes("more")}}));
  const Plugin* archive = set.Recognise(path, ReadBytes(path), PluginKind::kArchive);
  ASSERT_NE(archive, nullptr);
  const std::vector<ArchiveMember> members = archive->List(path);
  const auto held = [] {
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
  };
  const std::size_t before = held();
  MemberReader reader(*archive, path);
  const auto block = reader.TakeWhole(members[0], "LARGE.BIN");
  ASSERT_EQ(block->size(), large.size());
  EXPECT_LT(held() - before, large.size() + large.size() / 2);
}
#endif

}  // namespace
