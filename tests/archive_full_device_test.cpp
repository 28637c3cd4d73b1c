// Extraction onto a device with no room left: the write fails, and the
// existing file of the member's name survives byte for byte with no partial
// file beside it. Two ways of running out of room: a small tmpfs (when the
// test may mount one) and a file-size limit on the process.
#include <cstring>
#include <string>
#include <vector>

#include "cobbet_api.h"

#if !defined(_WIN32)
#include <sys/mount.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>

namespace {

class FullDevice : public CobbetTest {
 protected:
  void SetUp() override {
    CobbetTest::SetUp();
    archive_ = BuildArchive(members_);
    path_ = dir_.File("a.arc");
    WriteBytes(path_, archive_);
    ASSERT_EQ(Recognise(archive_), -1);
  }

  // Extracts BIG.BIN over an existing file in dest on both file-output paths
  // and checks that it fails and loses nothing.
  void ExpectNothingLost(const std::string& dest_dir) {
    const std::string target = dest_dir + "/BIG.BIN";
    const Bytes old_contents(1000, 'o');
    std::string prefix = dest_dir + "/";
    for (std::uint32_t flags : {0x000u, 0x001u}) {
      WriteBytes(target, old_contents);
      ASSERT_EQ(ReadBytes(target), old_contents);
      FileInfoRecord record{};
      ASSERT_EQ(api_.GetFileInfo(path_.c_str(), 0, "BIG.BIN", 0, &record), 0);
      const char* source = flags == 0 ? path_.c_str() : reinterpret_cast<const char*>(members_[1].data.data());
      const std::int32_t second = flags == 0 ? static_cast<std::int32_t>(record.position)
                                             : static_cast<std::int32_t>(members_[1].data.size());
      EXPECT_EQ(api_.GetFile(source, second, prefix.data(), flags, 0, 0), -1) << flags;
      EXPECT_EQ(ReadBytes(target), old_contents) << flags;
      std::vector<std::string> left;
      for (const auto& e : std::filesystem::directory_iterator(dest_dir))
        left.push_back(e.path().filename().string());
      std::sort(left.begin(), left.end());
      EXPECT_TRUE(left == std::vector<std::string>{"BIG.BIN"} ||
                  left == (std::vector<std::string>{"BIG.BIN", "FILLER"}))
          << flags << ": a partial file was left";
    }
  }

  const std::vector<ArcMember> members_ = {{"SMALL.TXT", TextBytes("small")},
                                           {"BIG.BIN", Bytes(64 * 1024, 0xB1)}};
  ScratchDirectory dir_;
  Bytes archive_;
  std::string path_;
};

TEST_F(FullDevice, SmallTmpfsKeepsTheExistingFile) {
  ScratchDirectory mount_point;
  const std::string where = mount_point.path().string();
  if (::mount("tmpfs", where.c_str(), "tmpfs", 0, "size=32k") != 0) {
    GTEST_SKIP() << "cannot mount a tmpfs here (" << std::strerror(errno)
                 << "); the file-size limit case covers the same ground";
  }
  // Leave a few kilobytes free: less than the member, more than nothing.
  WriteBytes(where + "/FILLER", Bytes(20 * 1024, 'f'));
  ExpectNothingLost(where);
  ::umount2(where.c_str(), MNT_DETACH);
}

TEST_F(FullDevice, FileSizeLimitKeepsTheExistingFile) {
  ScratchDirectory out;
  rlimit old_limit{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old_limit), 0);
  auto* old_handler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit small = old_limit;
  small.rlim_cur = 16 * 1024;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  ExpectNothingLost(out.path().string());
  ::setrlimit(RLIMIT_FSIZE, &old_limit);
  std::signal(SIGXFSZ, old_handler);
}

}  // namespace
#endif
