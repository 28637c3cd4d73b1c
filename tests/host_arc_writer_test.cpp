// The host's ARC writer: every rule that keeps an archive recognisable and
// listable is enforced before a byte is written, and what it writes comes
// back through the archive plug-in byte for byte, plain and scrambled.
#include <gtest/gtest.h>

#include "host/formats/arc_writer.h"
#include "host/host_error.h"
#include "host/plugins/plugin_host.h"
#include "host_test_support.h"

namespace {

std::vector<ArcSource> Sources(const std::vector<std::pair<std::string, std::uint64_t>>& members) {
  std::vector<ArcSource> sources;
  for (const auto& [name, size] : members) sources.push_back({"dir/" + name, name, size});
  return sources;
}

TEST(ArcWriterPlan, RefusesWithTheFileAndTheRule) {
  struct Case {
    const char* what;
    std::vector<std::pair<std::string, std::uint64_t>> members;
    const char* file;    // named first in the message
    const char* reason;  // part of the rule's text
  };
  const std::vector<Case> cases = {
      {"one member", {{"a.txt", 1}}, "out.arc", "at least 2 members"},
      {"no member", {}, "out.arc", "at least 2 members"},
      {"name of 13 bytes",
       {{"abcdefghi.txt", 1}, {"b.txt", 1}},
       "dir/abcdefghi.txt",
       "13 bytes long"},
      {"no dot", {{"a.txt", 1}, {"README", 1}}, "dir/README", "has no \".\""},
      {"space after the dot", {{"a.b c", 1}, {"b.txt", 1}}, "dir/a.b c", "byte 0x20"},
      {"tilde after the dot", {{"a.t~", 1}, {"b.txt", 1}}, "dir/a.t~", "byte 0x7E"},
      {"brace after the dot", {{"a.{", 1}, {"b.txt", 1}}, "dir/a.{", "byte 0x7B"},
      {"high byte after the dot", {{"a.\xE8", 1}, {"b.txt", 1}}, "dir/a.\xE8", "byte 0xE8"},
      {"size byte read as extension",
       {{"abcdefghijk.", 5}, {"b.txt", 1}},
       "dir/abcdefghijk.",
       "size byte 0x05"},
      {"size byte after two",
       {{"abcdefghij.x", 0x20}, {"b.txt", 1}},
       "dir/abcdefghij.x",
       "size byte 0x20"},
      {"separator", {{"a:b.txt", 1}, {"b.txt", 1}}, "dir/a:b.txt", "path separator"},
      {"backslash", {{"a\\b.txt", 1}, {"b.txt", 1}}, "dir/a\\b.txt", "path separator"},
      {"same name twice", {{"a.txt", 1}, {"a.txt", 2}}, "dir/a.txt", "taken already by dir/a.txt"},
      {"names differing in case", {{"a.txt", 1}, {"A.TXT", 2}}, "dir/A.TXT", "differ only in case"},
      {"beyond 4 GiB",
       {{"a.bin", 0xFFFFFFFFull - 44}, {"b.bin", 1}},
       "dir/b.bin",
       "beyond the 4 GiB"},
      {"one member beyond 4 GiB",
       {{"a.bin", 0x100000000ull}, {"b.bin", 1}},
       "dir/a.bin",
       "beyond the 4 GiB"},
  };
  for (const Case& c : cases) {
    try {
      PlanArchive("out.arc", Sources(c.members));
      ADD_FAILURE() << c.what << ": accepted";
    } catch (const HostError& error) {
      const std::string message = error.what();
      EXPECT_EQ(message.rfind(std::string(c.file) + ": ", 0), 0u) << c.what << ": " << message;
      EXPECT_NE(message.find(c.reason), std::string::npos) << c.what << ": " << message;
    }
  }
}

TEST(ArcWriterPlan, AcceptsTheLimitsOfEachRule) {
  const std::vector<std::vector<std::pair<std::string, std::uint64_t>>> accepted = {
      {{"a.txt", 1}, {"b.txt", 1}},
      {{"abcdefgh.txt", 1}, {"FILE.", 0}},                // 12 bytes; "." at the end
      {{"abcdefghijk.", 0x100}, {"abcdefghij.x", 0x41}},  // size bytes 0 and "A"
      {{"A.TXT", 3}, {"x.!z", 4}, {"y.a.b", 5}},          // extension bounds; a second "."
      {{"a.bin", 0xFFFFFFFFull - 44 - 1}, {"b.bin", 1}},  // ends at the last 32-bit offset
  };
  for (const auto& members : accepted) {
    EXPECT_NO_THROW(PlanArchive("out.arc", Sources(members))) << members.front().first;
  }
  std::vector<ArcSource> most(kMaxRecognisedCount);
  for (std::size_t i = 0; i < most.size(); ++i) most[i] = {"f", std::to_string(i) + ".d", 1};
  EXPECT_NO_THROW(PlanArchive("out.arc", most));
  most.push_back({"f", "last.d", 1});
  EXPECT_THROW(PlanArchive("out.arc", most), HostError);
}

TEST(ArcWriterPlan, MembersFollowTheDirectoryAndEmptyOnesPointAtTheEnd) {
  const ArcPlan plan = PlanArchive("out.arc", Sources({{"a.txt", 10}, {"e.txt", 0}, {"b.txt", 5}}));
  ASSERT_EQ(plan.entries.size(), 3u);
  EXPECT_EQ(plan.entries[0].position, 4u + 3 * 20);
  EXPECT_EQ(plan.entries[2].position, 4u + 3 * 20 + 10);
  EXPECT_EQ(plan.total_size, 4u + 3 * 20 + 15);
  // Extraction finds a member by its position: an empty member must not
  // share one with a member that has bytes.
  EXPECT_EQ(plan.entries[1].position, plan.total_size);
}

TEST(ArcWriterPlan, DirectoryBytesPlainAndScrambled) {
  const ArcPlan plan = PlanArchive("out.arc", Sources({{"abcdefgh.txt", 0x01020304}, {"b.c", 7}}));
  const Bytes plain = ArcDirectoryBytes(plan, false);
  const Bytes scrambled = ArcDirectoryBytes(plan, true);
  ASSERT_EQ(plain.size(), 4u + 2 * 20);
  EXPECT_EQ(Bytes(plain.begin(), plain.begin() + 4), (Bytes{2, 0, 0, 0}));
  EXPECT_EQ(Bytes(plain.begin() + 4, plain.begin() + 16),
            TextBytes("abcdefgh.txt"));  // no terminator
  EXPECT_EQ(Bytes(plain.begin() + 16, plain.begin() + 24), (Bytes{4, 3, 2, 1, 44, 0, 0, 0}));
  EXPECT_EQ(Bytes(plain.begin() + 24, plain.begin() + 28), (Bytes{'b', '.', 'c', 0}));
  // The count stays plain; each entry is combined with the same mask.
  EXPECT_EQ(Bytes(scrambled.begin(), scrambled.begin() + 4),
            Bytes(plain.begin(), plain.begin() + 4));
  for (std::size_t i = 4; i < plain.size(); ++i)
    EXPECT_EQ(scrambled[i], plain[i] ^ kDirectoryMask[(i - 4) % 20]) << i;
}

// Packs real files and takes them back out through the archive plug-in.
class ArcRoundTrip : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    cobbet_ = Plugin::Load(PluginPath("cobbet"), why);
    ASSERT_NE(cobbet_, nullptr) << why;
    live_at_start_ = LiveBlocks();
  }
  void TearDown() override {
    EXPECT_EQ(LiveBlocks(), live_at_start_) << "a block was left allocated";
  }

  // Writes each member's bytes to a file and packs them all.
  std::string Pack(const std::vector<std::pair<std::string, Bytes>>& members, bool scrambled) {
    std::vector<ArcSource> sources;
    for (std::size_t i = 0; i < members.size(); ++i) {
      const std::string path = scratch_.File("source" + std::to_string(i));
      WriteBytes(path, members[i].second);
      sources.push_back({path, members[i].first, members[i].second.size()});
    }
    const std::string archive = scratch_.File(scrambled ? "scrambled.arc" : "plain.arc");
    const ArcPlan plan = PlanArchive(archive, sources);
    PendingFile out(archive);
    WriteArchive(plan, sources, scrambled, out);
    out.Commit();
    EXPECT_EQ(ReadBytes(archive).size(), plan.total_size);
    return archive;
  }

  void ExpectRoundTrip(const std::vector<std::pair<std::string, Bytes>>& members, bool scrambled) {
    const std::string archive = Pack(members, scrambled);
    ASSERT_TRUE(cobbet_->Recognises(archive, ReadBytes(archive)));
    const std::vector<ArchiveMember> listed = cobbet_->List(archive);
    ASSERT_EQ(listed.size(), members.size());
    for (std::size_t i = 0; i < members.size(); ++i) {
      EXPECT_EQ(listed[i].name, members[i].first);
      ASSERT_EQ(listed[i].size, members[i].second.size());
      if (listed[i].size == 0) continue;  // the plug-in does not extract empty members
      const auto block = cobbet_->ExtractAt(archive, listed[i].position);
      ASSERT_NE(block, nullptr) << members[i].first;
      EXPECT_EQ(Bytes(block->data(), block->data() + block->size()), members[i].second)
          << members[i].first;
    }
  }

  std::unique_ptr<Plugin> cobbet_;
  long live_at_start_ = 0;
  ScratchDirectory scratch_;
};

std::vector<std::pair<std::string, Bytes>> MixedMembers() {
  host_test::Lcg random(11);
  Bytes binary(70000);
  for (auto& b : binary) b = static_cast<unsigned char>(random.Next());
  return {{"README.TXT", TextBytes("read me\n")},
          {"EMPTY.DAT", {}},
          {"binary.bin", binary},
          {"abcdefgh.txt", TextBytes("a name of twelve bytes")},
          {"\xE9t\xE9.txt", TextBytes("a name of 8-bit bytes")},
          {"FILE.", TextBytes("a name ending in a dot")},
          {"last.z", {0}}};
}

TEST_F(ArcRoundTrip, PlainArchiveGivesEveryFileBack) { ExpectRoundTrip(MixedMembers(), false); }

TEST_F(ArcRoundTrip, ScrambledArchiveGivesEveryFileBack) { ExpectRoundTrip(MixedMembers(), true); }

TEST_F(ArcRoundTrip, MoreMembersThanRecognitionExamines) {
  std::vector<std::pair<std::string, Bytes>> members;
  for (int i = 0; i < 300; ++i)
    members.push_back({"m" + std::to_string(i) + ".dat", TextBytes(std::to_string(i * i))});
  ExpectRoundTrip(members, false);
  ExpectRoundTrip(members, true);
}

TEST_F(ArcRoundTrip, SourceThatChangesSizeIsRefused) {
  const std::string path = scratch_.File("grows.txt");
  WriteBytes(path, TextBytes("12345"));
  const std::string other = scratch_.File("other.txt");
  WriteBytes(other, TextBytes("x"));
  const std::vector<ArcSource> sources = {{path, "grows.txt", 3}, {other, "other.txt", 1}};
  const std::string archive = scratch_.File("out.arc");
  const ArcPlan plan = PlanArchive(archive, sources);
  {
    PendingFile out(archive);
    try {
      WriteArchive(plan, sources, false, out);
      ADD_FAILURE() << "a source of another size was packed";
    } catch (const HostError& error) {
      EXPECT_NE(std::string(error.what()).find("changed while it was being packed"),
                std::string::npos);
    }
  }
  EXPECT_EQ(scratch_.Entries(),
            (std::vector<std::string>{"grows.txt", "other.txt"}));  // no archive, no partial file
}

}  // namespace
