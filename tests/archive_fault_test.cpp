// Faults injected into the platform layer under every export of the archive
// plug-in: each allocation, open, read, write and close in turn fails (or a
// read or write comes up short). Every call then either succeeds as usual or
// returns -1 with nothing allocated, nothing stored through the caller's
// pointers and no file left behind.
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "cobbet_api.h"

#if !defined(_WIN32)

namespace {

struct Outcome {
  std::int32_t result;
  bool caller_untouched;  // handle variable, record or destination as it was before
};

class FaultSweep : public CobbetTest {
 protected:
  void SetUp() override {
    CobbetTest::SetUp();
    archive_ = BuildArchive(members_, true);
    path_ = dir_.File("a.arc");
    WriteBytes(path_, archive_);
    ASSERT_EQ(Recognise(archive_), -1);
  }
  void TearDown() override {
    PlatformResetFaults();
    CobbetTest::TearDown();
  }

  // Fails the nth call of each kind of operation in turn, for n = 1, 2, ...
  // until the call no longer reaches the nth one; returns how many points
  // were swept.
  int Sweep(const std::string& what, const std::function<Outcome()>& call) {
    int points = 0;
    for (int k = 0; k < static_cast<int>(PlatformFault::kCount); ++k) {
      const auto fault = static_cast<PlatformFault>(k);
      for (long nth = 1;; ++nth) {
        PlatformResetFaults();
        PlatformFailNth(fault, nth);
        const Outcome outcome = call();
        const bool reached = PlatformCalls(fault) >= nth;
        PlatformResetFaults();
        const std::string where = what + ", fault " + std::to_string(k) + " at call " + std::to_string(nth);
        if (outcome.result != 0) {
          EXPECT_EQ(outcome.result, -1) << where;
          EXPECT_TRUE(outcome.caller_untouched) << where;
        }
        EXPECT_EQ(LiveBlocks(), live_at_start_) << where;
        const auto left = out_.Entries();
        if (outcome.result != 0) EXPECT_TRUE(left.empty()) << where;
        for (const auto& name : left) {
          EXPECT_EQ(name, "PIC.GP8") << where << ": a partial file was left";
          std::filesystem::remove(out_.File(name));
        }
        if (!reached) break;
        ++points;
      }
    }
    return points;
  }

  Outcome Listing(const char* source, std::int32_t length, std::uint32_t flags) {
    HLOCAL handle = reinterpret_cast<HLOCAL>(0x77);
    const auto rc = api_.GetArchiveInfo(source, length, flags, &handle);
    const bool untouched = handle == reinterpret_cast<HLOCAL>(0x77);
    if (rc == 0) LocalFree(handle);
    return {rc, untouched};
  }

  Outcome Lookup(const char* source, std::int32_t length, std::uint32_t flags) {
    FileInfoRecord record;
    std::memset(&record, 0x5C, sizeof record);
    const auto rc = api_.GetFileInfo(source, length, "PIC.GP8", flags, &record);
    bool untouched = true;
    for (std::size_t i = 0; i < sizeof record; ++i)
      untouched = untouched && reinterpret_cast<unsigned char*>(&record)[i] == 0x5C;
    if (rc == 0) EXPECT_EQ(std::string(record.name), "PIC.GP8");
    return {rc, untouched};
  }

  Outcome Extract(const char* source, std::int32_t second, std::uint32_t flags) {
    HLOCAL handle = reinterpret_cast<HLOCAL>(0x66);
    std::string prefix = out_.Prefix();
    char* destination = (flags & 0x700) != 0 ? reinterpret_cast<char*>(&handle) : prefix.data();
    const auto rc = api_.GetFile(source, second, destination, flags, 0, 0);
    if ((flags & 0x700) == 0) {
      // A file reported written holds the whole member.
      if (rc == 0) EXPECT_EQ(ReadBytes(out_.File("PIC.GP8")), members_[1].data);
      return {rc, prefix == out_.Prefix()};
    }
    const bool untouched = handle == reinterpret_cast<HLOCAL>(0x66);
    if (rc == 0) {
      if ((flags & 7) == 0) EXPECT_EQ(TakeBlock(handle), members_[1].data);
      else LocalFree(handle);
    }
    return {rc, untouched};
  }

  const std::vector<ArcMember> members_ = {{"README.TXT", TextBytes("read me")},
                                           {"PIC.GP8", Bytes(3000, 0x42)}};
  const std::int32_t pic_position_ = 4 + 40 + 7;
  ScratchDirectory dir_;
  ScratchDirectory out_;
  Bytes archive_;
  std::string path_;
};

TEST_F(FaultSweep, EveryExportUnderEveryFault) {
  const char* image = reinterpret_cast<const char*>(archive_.data());
  const auto length = static_cast<std::int32_t>(archive_.size());
  int points = 0;
  points += Sweep("listing a file", [&] { return Listing(path_.c_str(), 0, 0); });
  points += Sweep("listing an image", [&] { return Listing(image, length, 1); });
  points += Sweep("lookup in a file", [&] { return Lookup(path_.c_str(), 0, 0); });
  points += Sweep("lookup in an image", [&] { return Lookup(image, length, 1); });
  points += Sweep("file to memory", [&] { return Extract(path_.c_str(), pic_position_, 0x100); });
  points += Sweep("file to file", [&] { return Extract(path_.c_str(), pic_position_, 0x000); });
  points += Sweep("memory to memory", [&] { return Extract(image, length, 0x101); });
  FileInfoRecord record{};
  ASSERT_EQ(api_.GetFileInfo(path_.c_str(), 0, "PIC.GP8", 0, &record), 0);
  const char* member = image + pic_position_;
  points += Sweep("memory to file", [&] { return Extract(member, 3000, 0x001); });
  RecordProperty("fault_points", points);
  EXPECT_GT(points, 40);
}

}  // namespace

#endif
