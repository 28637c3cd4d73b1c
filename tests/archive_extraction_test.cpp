// GetFile on its four paths: file or memory input, file or memory output.
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "cobbet_api.h"

#if !defined(_WIN32)
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

constexpr std::uint32_t kFileToFile = 0x000;
constexpr std::uint32_t kFileToMemory = 0x100;
constexpr std::uint32_t kMemoryToFile = 0x001;
constexpr std::uint32_t kMemoryToMemory = 0x101;

// The letters and digits of partial names (frame/partial_name.h).
constexpr char kPartialAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";

class Extraction : public CobbetTest {
 protected:
  void SetUp() override {
    CobbetTest::SetUp();
    archive_ = BuildArchive(members_, true);
    path_ = dir_.File("test.arc");
    WriteBytes(path_, archive_);
    ASSERT_EQ(Recognise(archive_), -1);
    out_ = std::make_unique<ScratchDirectory>();
  }

  std::uint32_t PositionOf(std::size_t member) const {
    std::uint32_t position = 4 + 20 * static_cast<std::uint32_t>(members_.size());
    for (std::size_t i = 0; i < member; ++i) position += static_cast<std::uint32_t>(members_[i].data.size());
    return position;
  }

  // A failing call: -1, the handle variable untouched, nothing created.
  void ExpectRefused(const char* source, std::int32_t second, std::uint32_t flags, const std::string& what) {
    const bool memory_output = (flags & 0x700) != 0;
    HLOCAL handle = reinterpret_cast<HLOCAL>(0x4321);
    std::string prefix = out_->Prefix();
    char* destination = memory_output ? reinterpret_cast<char*>(&handle) : prefix.data();
    EXPECT_EQ(api_.GetFile(source, second, destination, flags, 0, 0), -1) << what;
    EXPECT_EQ(handle, reinterpret_cast<HLOCAL>(0x4321)) << what;
    EXPECT_TRUE(out_->Entries().empty()) << what;
    EXPECT_EQ(LiveBlocks(), live_at_start_) << what;
  }

  const std::vector<ArcMember> members_ = {{"README.TXT", TextBytes("read me first\n")},
                                           {"PICTURE.GP8", Bytes(5000, 0xA5)},
                                           {"LAST.BIN", TextBytes("the end")},
                                           {"EMPTY.DAT", {}}};
  ScratchDirectory dir_;
  std::unique_ptr<ScratchDirectory> out_;
  Bytes archive_;
  std::string path_;
};

TEST_F(Extraction, FileInputToMemoryDeliversEachMember) {
  for (std::uint32_t output_kind : {0x100u, 0x200u, 0x700u, 0x7F00u | 0x10000u}) {
    for (std::size_t i : {0u, 1u, 2u}) {
      HLOCAL handle = nullptr;
      ASSERT_EQ(api_.GetFile(path_.c_str(), static_cast<std::int32_t>(PositionOf(i)),
                             reinterpret_cast<char*>(&handle), output_kind, 12345, -7),
                0);
      EXPECT_EQ(TakeBlock(handle), members_[i].data) << members_[i].name;
    }
  }
}

TEST_F(Extraction, FileInputToFileWritesUnderTheMemberName) {
  std::string prefix = out_->Prefix();
  for (std::size_t i : {0u, 1u, 2u}) {
    ASSERT_EQ(api_.GetFile(path_.c_str(), static_cast<std::int32_t>(PositionOf(i)), prefix.data(),
                           kFileToFile, 0, 0),
              0);
    EXPECT_EQ(ReadBytes(out_->File(members_[i].name)), members_[i].data);
  }
  EXPECT_EQ(out_->Entries(), (std::vector<std::string>{"LAST.BIN", "PICTURE.GP8", "README.TXT"}));
  EXPECT_EQ(prefix, out_->Prefix()) << "the destination string is not changed";
#if !defined(_WIN32)
  // Made as any new file is: readable and writable as the umask allows,
  // executable by nobody.
  const mode_t mask = umask(0);
  umask(mask);
  struct stat made {};
  ASSERT_EQ(stat(out_->File("LAST.BIN").c_str(), &made), 0);
  EXPECT_EQ(made.st_mode & 0777, 0666 & ~mask);
#endif
}

TEST_F(Extraction, DestinationIsAPrefixNotADirectory) {
  std::string prefix = out_->File("copy-of-");
  ASSERT_EQ(api_.GetFile(path_.c_str(), static_cast<std::int32_t>(PositionOf(2)), prefix.data(),
                         kFileToFile, 0, 0),
            0);
  EXPECT_EQ(out_->Entries(), std::vector<std::string>{"copy-of-LAST.BIN"});
}

#if !defined(_WIN32)
TEST_F(Extraction, ThePartialFileLiesBesideTheTarget) {
  // Relative destinations, one without any '/', and one into a folder: the
  // member lands where asked, and its partial file is made in the target's
  // own folder (never in the one above it), under a hidden random name no
  // longer than the target's: both folders are watched for creations.
  std::filesystem::create_directory(out_->File("sub"));
  const std::filesystem::path was = std::filesystem::current_path();
  std::filesystem::current_path(out_->Prefix());
  const auto created = [](int watch) {
    std::vector<std::string> names;
    alignas(inotify_event) char events[4096];
    const long got = read(watch, events, sizeof events);
    for (long at = 0; at < got;) {
      const auto* event = reinterpret_cast<const inotify_event*>(events + at);
      names.emplace_back(event->name);
      at += static_cast<long>(sizeof(inotify_event) + event->len);
    }
    close(watch);
    return names;
  };
  const std::string sub = out_->File("sub/");
  struct Row {
    std::string destination;
    std::string folder;  // the target's
    std::size_t partial_length;
  };
  for (const Row& row : {Row{"", out_->Prefix(), 8}, Row{"sub/", sub, 8},
                         Row{sub + "copy-of-", sub, 12}}) {
    SCOPED_TRACE(row.destination);
    const int above = inotify_init1(IN_NONBLOCK);
    const int beside = inotify_init1(IN_NONBLOCK);
    ASSERT_GE(above, 0);
    ASSERT_GE(beside, 0);
    if (row.folder != out_->Prefix()) inotify_add_watch(above, out_->Prefix().c_str(), IN_CREATE);
    inotify_add_watch(beside, row.folder.c_str(), IN_CREATE);
    std::string prefix = row.destination;
    EXPECT_EQ(api_.GetFile(path_.c_str(), static_cast<std::int32_t>(PositionOf(2)), prefix.data(),
                           kFileToFile, 0, 0),
              0);
    EXPECT_EQ(ReadBytes(row.destination + "LAST.BIN"), members_[2].data);
    EXPECT_TRUE(created(above).empty()) << "a file was made above the target's folder";
    const std::vector<std::string> partial = created(beside);
    ASSERT_EQ(partial.size(), 1u);
    EXPECT_EQ(partial[0].size(), row.partial_length) << partial[0];
    EXPECT_EQ(partial[0][0], '.') << partial[0];
    EXPECT_EQ(partial[0].find_first_not_of(kPartialAlphabet, 1), std::string::npos) << partial[0];
  }
  std::filesystem::current_path(was);
}
#endif

TEST_F(Extraction, AnExistingFileIsReplacedWhole) {
  WriteBytes(out_->File("README.TXT"), Bytes(100000, 'x'));
  std::string prefix = out_->Prefix();
  ASSERT_EQ(api_.GetFile(path_.c_str(), static_cast<std::int32_t>(PositionOf(0)), prefix.data(),
                         kFileToFile, 0, 0),
            0);
  EXPECT_EQ(ReadBytes(out_->File("README.TXT")), members_[0].data);
  EXPECT_EQ(out_->Entries(), std::vector<std::string>{"README.TXT"}) << "no partial file left";
}

TEST_F(Extraction, FileInputRefusals) {
  for (std::uint32_t flags : {kFileToFile, kFileToMemory}) {
    ExpectRefused(path_.c_str(), 0, flags, "position 0");
    ExpectRefused(path_.c_str(), static_cast<std::int32_t>(PositionOf(0) + 1), flags, "between members");
    ExpectRefused(path_.c_str(), static_cast<std::int32_t>(PositionOf(3)), flags, "zero-size member");
    ExpectRefused("/nonexistent/test.arc", static_cast<std::int32_t>(PositionOf(0)), flags, "no archive");
  }
}

TEST_F(Extraction, AMemberCutShortIsRefused) {
  // The archive ends in the middle of its last member.
  Bytes cut(archive_.begin(), archive_.end() - 3);
  WriteBytes(path_, cut);
  for (std::uint32_t flags : {kFileToFile, kFileToMemory}) {
    ExpectRefused(path_.c_str(), static_cast<std::int32_t>(PositionOf(2)), flags, "cut member");
  }
  // A member placed past the end of the archive reads nothing at all.
  const Bytes beyond = ArcImage(2, {ArcEntry("A.TXT", 5, 100000), ArcEntry("B.TXT", 1, 44)},
                                false, TextBytes("b"));
  WriteBytes(path_, beyond);
  ASSERT_EQ(Recognise(beyond), -1);
  for (std::uint32_t flags : {kFileToFile, kFileToMemory}) {
    ExpectRefused(path_.c_str(), 100000, flags, "member beyond the end");
  }
}

TEST_F(Extraction, TheFirstOfTwoEqualPositionsWins) {
  const Bytes data = TextBytes("0123456789");
  const Bytes archive = ArcImage(3,
                                 {ArcEntry("SHORT.TXT", 4, 64), ArcEntry("LONG.TXT", 10, 64),
                                  ArcEntry("OTHER.TXT", 1, 64)},
                                 false, data);
  ASSERT_EQ(archive.size(), 74u);
  WriteBytes(path_, archive);
  ASSERT_EQ(Recognise(archive), -1);
  std::string prefix = out_->Prefix();
  ASSERT_EQ(api_.GetFile(path_.c_str(), 64, prefix.data(), kFileToFile, 0, 0), 0);
  EXPECT_EQ(out_->Entries(), std::vector<std::string>{"SHORT.TXT"});
  EXPECT_EQ(ReadBytes(out_->File("SHORT.TXT")), TextBytes("0123"));
}

TEST_F(Extraction, MembersPastTwoGigabytesAreReached) {
  // A sparse archive of 4 GiB whose members sit on both sides of 2^31 and up
  // to its very last byte, 2^32 - 1. A seek takes a signed 32-bit distance,
  // so every position from 2^31 on must be reached in more than one step.
  struct Far {
    const char* name;
    std::uint32_t position;
    Bytes data;
  };
  const std::vector<Far> members = {{"NEAR.TXT", 124, TextBytes("near the start")},
                                    {"EDGE.BIN", 0x7FFFFFFC, TextBytes("edge")},
                                    {"HALF.BIN", 0x80000000, TextBytes("at 2 GiB")},
                                    {"HIGH.BIN", 0xFFFFFF00, TextBytes("256 bytes from the end")},
                                    {"LAST.BIN", 0xFFFFFFFF, TextBytes("!")}};
  std::vector<Bytes> entries;
  std::vector<FilePiece> pieces;
  for (const Far& m : members) {
    entries.push_back(ArcEntry(m.name, static_cast<std::uint32_t>(m.data.size()), m.position));
    pieces.push_back({m.position, m.data});
  }
  const Bytes head = ArcImage(static_cast<std::int32_t>(members.size()), entries, false);
  pieces.push_back({0, head});
  ASSERT_TRUE(WriteSparseFile(path_, std::uint64_t{1} << 32, pieces));
  ASSERT_EQ(Recognise(head), -1);

  std::string prefix = out_->Prefix();
  for (const Far& m : members) {
    SCOPED_TRACE(m.name);
    HLOCAL handle = nullptr;
    ASSERT_EQ(api_.GetFile(path_.c_str(), static_cast<std::int32_t>(m.position),
                           reinterpret_cast<char*>(&handle), kFileToMemory, 0, 0),
              0);
    EXPECT_EQ(TakeBlock(handle), m.data);
    ASSERT_EQ(api_.GetFile(path_.c_str(), static_cast<std::int32_t>(m.position), prefix.data(),
                           kFileToFile, 0, 0),
              0);
    EXPECT_EQ(ReadBytes(out_->File(m.name)), m.data);
  }
#if !defined(_WIN32)
  // A failed seek returns -1, which is also the low 32 bits of the last
  // position: whichever seek fails, the last member comes whole or not at all.
  long nth = 1;
  for (;; ++nth) {
    PlatformFailNth(PlatformFault::kSeek, nth);
    HLOCAL handle = nullptr;
    const auto rc = api_.GetFile(path_.c_str(), static_cast<std::int32_t>(members.back().position),
                                 reinterpret_cast<char*>(&handle), kFileToMemory, 0, 0);
    const bool reached = PlatformCalls(PlatformFault::kSeek) >= nth;
    PlatformResetFaults();
    if (rc == 0) {
      EXPECT_EQ(TakeBlock(handle), members.back().data) << "seek " << nth << " failed";
    } else {
      EXPECT_EQ(rc, -1) << nth;
      EXPECT_EQ(handle, nullptr) << nth;
    }
    if (!reached) break;
  }
  EXPECT_GE(nth, 3) << "the seeks on the way were not all failed in turn";
#endif
}

TEST_F(Extraction, MemberNamesNeverLeadOutsideTheDestination) {
  std::vector<const char*> names = {"../X.BAT", "A/B.TXT", "..", ".", ""};
#if defined(_WIN32)
  names.insert(names.end(), {"..\\X.BAT", "C:X.BAT"});  // POSIX takes them as plain names
#endif
  for (const char* name : names) {
    const Bytes archive =
        ArcImage(2, {ArcEntry(name, 3, 44), ArcEntry("OK.TXT", 3, 44)}, false, TextBytes("bad"));
    WriteBytes(path_, archive);
    ASSERT_EQ(Recognise(BuildArchive({{"A.TXT", {}}, {"B.TXT", {}}})), -1);  // plain directories
    ExpectRefused(path_.c_str(), 44, kFileToFile, name);
    EXPECT_FALSE(std::filesystem::exists(out_->File("X.BAT"))) << name;
    EXPECT_FALSE(std::filesystem::exists(dir_.File("X.BAT"))) << name;

    // Through memory input, once GetFileInfo has found the member.
    FileInfoRecord record{};
    ASSERT_EQ(api_.GetFileInfo(reinterpret_cast<const char*>(archive.data()),
                               static_cast<std::int32_t>(archive.size()), name, 1, &record),
              0);
    ExpectRefused("bad", 3, kMemoryToFile, std::string("memory: ") + name);
  }
}

// A prefix of exactly `length` bytes inside the directory, ending in a
// separator, made of directories that exist; no component is longer than a
// file system allows.
std::string DeepPrefix(const ScratchDirectory& dir, std::size_t length) {
  std::string prefix = dir.Prefix();
  const char separator = prefix.back();
  while (prefix.size() < length) {
    std::size_t step = std::min<std::size_t>(length - prefix.size(), 200);
    if (length - prefix.size() - step == 1) --step;  // never leave a lone separator
    prefix += std::string(step - 1, 'd') + separator;
  }
  std::filesystem::create_directories(prefix);
  return prefix;
}

TEST_F(Extraction, AnOutputPathFitsUpToItsCapacity) {
#if defined(_WIN32)
  const std::size_t capacity = 260;  // MAX_PATH
#else
  const std::size_t capacity = 4096;  // PATH_MAX
#endif
  const std::string name = "README.TXT";
  // Destination, name and NUL exactly fill the capacity: the partial file's
  // name must fit as well as the member's. One byte more is refused.
  for (const std::size_t spare : {0, 1, 9}) {
    const ScratchDirectory fits;
    std::string prefix = DeepPrefix(fits, capacity - 1 - name.size() - spare);
    EXPECT_EQ(api_.GetFile(path_.c_str(), static_cast<std::int32_t>(PositionOf(0)), prefix.data(),
                           kFileToFile, 0, 0),
              0)
        << spare << " bytes to spare";
    EXPECT_EQ(ReadBytes(prefix + name), members_[0].data) << spare;
  }
  // The system refuses such a path too, so the plug-in's own refusal shows
  // in that it never asks the system to create a file: through memory input
  // no file is opened at all. A destination far longer than the capacity,
  // which no system takes, is refused the same way, before it is copied
  // anywhere.
  const ScratchDirectory over;
  FileInfoRecord record{};
  ASSERT_EQ(api_.GetFileInfo(path_.c_str(), 0, name.c_str(), 0, &record), 0);
  const std::string one_over = DeepPrefix(over, capacity - name.size());
  for (std::string prefix : {one_over, one_over + std::string(capacity, 'd') + one_over.back()}) {
    EXPECT_EQ(api_.GetFile(path_.c_str(), static_cast<std::int32_t>(PositionOf(0)), prefix.data(),
                           kFileToFile, 0, 0),
              -1)
        << prefix.size();
#if !defined(_WIN32)
    PlatformResetFaults();
#endif
    EXPECT_EQ(api_.GetFile(reinterpret_cast<const char*>(members_[0].data.data()),
                           static_cast<std::int32_t>(members_[0].data.size()), prefix.data(),
                           kMemoryToFile, 0, 0),
              -1)
        << prefix.size();
#if !defined(_WIN32)
    EXPECT_EQ(PlatformCalls(PlatformFault::kOpen), 0) << "a file was tried for a path too long";
#endif
  }
  EXPECT_TRUE(std::filesystem::is_empty(one_over));
}

TEST_F(Extraction, OnlyTheMembersFileIsWritten) {
  // Files at every name the partial file of a two-byte member is first
  // tried under (a "." and one letter or digit) are neither truncated nor
  // removed: each is found taken and a longer name follows. Nothing but the
  // member's file appears.
  const std::vector<ArcMember> members = {{"A.", TextBytes("first")}, {"B.", TextBytes("second")}};
  const Bytes archive = BuildArchive(members);
  WriteBytes(path_, archive);
  ASSERT_EQ(Recognise(archive), -1);
  const Bytes kept = TextBytes("not the member's");
  for (std::uint32_t flags : {kFileToFile, kMemoryToFile}) {
    out_ = std::make_unique<ScratchDirectory>();
    std::vector<std::string> planted;
    for (const char c : std::string(kPartialAlphabet)) {
      planted.push_back(std::string(".") + c);
      WriteBytes(out_->File(planted.back()), kept);
    }
    FileInfoRecord record{};
    ASSERT_EQ(api_.GetFileInfo(path_.c_str(), 0, "A.", 0, &record), 0);
    const char* source = flags == kFileToFile
                             ? path_.c_str()
                             : reinterpret_cast<const char*>(members[0].data.data());
    const auto second =
        static_cast<std::int32_t>(flags == kFileToFile ? record.position : record.extracted_size);
    std::string prefix = out_->Prefix();
    ASSERT_EQ(api_.GetFile(source, second, prefix.data(), flags, 0, 0), 0) << flags;
    EXPECT_EQ(ReadBytes(out_->File("A.")), members[0].data) << flags;
    for (const std::string& name : planted) EXPECT_EQ(ReadBytes(out_->File(name)), kept) << name;
    EXPECT_EQ(out_->Entries().size(), planted.size() + 1) << "a partial file was left";
  }
}

#if !defined(_WIN32)
TEST_F(Extraction, NoLinkIsWrittenThrough) {
  // Links to a file outside the destination at every name GetFile could
  // write to for these members: each member's own name and every partial
  // name as short as a two-byte member's (they are all taken, so a longer
  // random one has to be found). The member's link is replaced by the
  // member; nothing reaches the file outside.
  const std::vector<ArcMember> members = {{"A.", TextBytes("first")}, {"B.", TextBytes("second")}};
  const Bytes archive = BuildArchive(members);
  WriteBytes(path_, archive);
  ASSERT_EQ(Recognise(archive), -1);
  const std::string sentinel = dir_.File("sentinel");
  const Bytes outside = TextBytes("outside the destination");
  for (std::uint32_t flags : {kFileToFile, kMemoryToFile}) {
    WriteBytes(sentinel, outside);
    out_ = std::make_unique<ScratchDirectory>();
    std::vector<std::string> planted = {"A.", "B."};
    for (const char c : std::string(kPartialAlphabet)) planted.push_back(std::string(".") + c);
    for (const std::string& name : planted)
      std::filesystem::create_symlink(sentinel, out_->File(name));

    std::string prefix = out_->Prefix();
    for (std::size_t i = 0; i < members.size(); ++i) {
      FileInfoRecord record{};
      ASSERT_EQ(api_.GetFileInfo(path_.c_str(), 0, members[i].name.c_str(), 0, &record), 0);
      const char* source = flags == kFileToFile
                               ? path_.c_str()
                               : reinterpret_cast<const char*>(members[i].data.data());
      const auto second =
          static_cast<std::int32_t>(flags == kFileToFile ? record.position : record.extracted_size);
      ASSERT_EQ(api_.GetFile(source, second, prefix.data(), flags, 0, 0), 0) << flags;
      EXPECT_FALSE(std::filesystem::is_symlink(out_->File(members[i].name)));
      EXPECT_EQ(ReadBytes(out_->File(members[i].name)), members[i].data);
    }
    EXPECT_EQ(ReadBytes(sentinel), outside) << flags;
    EXPECT_EQ(out_->Entries().size(), planted.size()) << "a partial file was left";
    for (const std::string& name : planted) {
      if (name == "A." || name == "B.") continue;
      EXPECT_TRUE(std::filesystem::is_symlink(out_->File(name))) << name;
    }
  }
}
#endif

TEST_F(Extraction, MemoryToMemoryCopiesTheImageWhole) {
  const Bytes image = {'a', 'n', 'y', 0, 0xFF, 0x80, '\n', 7};
  for (std::uint32_t flags : {kMemoryToMemory, 0x201u, 0x702u, 0x707u}) {
    HLOCAL handle = nullptr;
    ASSERT_EQ(api_.GetFile(reinterpret_cast<const char*>(image.data()),
                           static_cast<std::int32_t>(image.size()), reinterpret_cast<char*>(&handle),
                           flags, 0, 0),
              0);
    EXPECT_EQ(TakeBlock(handle), image);
  }
  HLOCAL empty = nullptr;
  ASSERT_EQ(api_.GetFile("x", 0, reinterpret_cast<char*>(&empty), kMemoryToMemory, 0, 0), 0);
  ASSERT_NE(empty, nullptr) << "an empty block is still a block";
  EXPECT_EQ(LocalSize(empty), 0u);
  LocalFree(empty);
}

TEST_F(Extraction, MemoryToFileTakesTheLastLookup) {
  FileInfoRecord record{};
  ASSERT_EQ(api_.GetFileInfo(path_.c_str(), 0, "LAST.BIN", 0, &record), 0);
  const Bytes image = TextBytes("the end and more");
  std::string prefix = out_->Prefix();
  for (std::uint32_t flags : {kMemoryToFile, 2u, 7u}) {
    // The image's length only has to cover the member.
    ASSERT_EQ(api_.GetFile(reinterpret_cast<const char*>(image.data()), 7, prefix.data(), flags, 0, 0), 0);
    EXPECT_EQ(ReadBytes(out_->File("LAST.BIN")), TextBytes("the end"));
  }
  out_ = std::make_unique<ScratchDirectory>();
  ExpectRefused(reinterpret_cast<const char*>(image.data()), 6, kMemoryToFile, "image shorter than the member");
}

TEST_F(Extraction, MemoryToFileWithoutAFoundMemberIsRefused) {
  // A lookup that finds nothing must replace the member an earlier lookup
  // found, or GetFile would write that one.
  FileInfoRecord record{};
  ASSERT_EQ(api_.GetFileInfo(path_.c_str(), 0, "LAST.BIN", 0, &record), 0);
  ASSERT_STREQ(record.name, "LAST.BIN");
  ASSERT_EQ(api_.GetFileInfo(path_.c_str(), 0, "MISSING.TXT", 0, &record), 0);
  ExpectRefused("some bytes", 10, kMemoryToFile, "last lookup found nothing");
}

TEST_F(Extraction, MemoryToFileOfAnEmptyMemberMakesAnEmptyFile) {
  FileInfoRecord record{};
  ASSERT_EQ(api_.GetFileInfo(path_.c_str(), 0, "EMPTY.DAT", 0, &record), 0);
  ASSERT_EQ(record.extracted_size, 0u);
  std::string prefix = out_->Prefix();
  ASSERT_EQ(api_.GetFile("", 0, prefix.data(), kMemoryToFile, 0, 0), 0);
  EXPECT_EQ(out_->Entries(), std::vector<std::string>{"EMPTY.DAT"});
  EXPECT_TRUE(ReadBytes(out_->File("EMPTY.DAT")).empty());
}

TEST_F(Extraction, ScrambledArchivesNeedTheirRecognition) {
  // After recognising a plain archive the scrambled directory is read as it
  // stands, so its positions are garbage and the member is not found.
  const Bytes plain = BuildArchive({{"A.TXT", TextBytes("a")}, {"B.TXT", TextBytes("b")}});
  ASSERT_EQ(Recognise(plain), -1);
  ExpectRefused(path_.c_str(), static_cast<std::int32_t>(PositionOf(0)), kFileToMemory, "stale flag");
  ASSERT_EQ(Recognise(archive_), -1);
  HLOCAL handle = nullptr;
  ASSERT_EQ(api_.GetFile(path_.c_str(), static_cast<std::int32_t>(PositionOf(0)),
                         reinterpret_cast<char*>(&handle), kFileToMemory, 0, 0),
            0);
  EXPECT_EQ(TakeBlock(handle), members_[0].data);
}

#if !defined(_WIN32)
// Faults injected into the platform layer: a write that fails or comes up
// short, or a close that reports an error, loses nothing.
TEST_F(Extraction, AFailedWriteKeepsTheExistingFile) {
  const Bytes old_contents = TextBytes("precious old contents");
  std::string prefix = out_->Prefix();
  for (PlatformFault fault : {PlatformFault::kWrite, PlatformFault::kShortWrite, PlatformFault::kClose,
                              PlatformFault::kOpen}) {
    for (std::uint32_t flags : {kFileToFile, kMemoryToFile}) {
      WriteBytes(out_->File("PICTURE.GP8"), old_contents);
      FileInfoRecord record{};
      ASSERT_EQ(api_.GetFileInfo(path_.c_str(), 0, "PICTURE.GP8", 0, &record), 0);
      const char* source = flags == kFileToFile ? path_.c_str()
                                                : reinterpret_cast<const char*>(members_[1].data.data());
      const std::int32_t second = flags == kFileToFile ? static_cast<std::int32_t>(PositionOf(1)) : 5000;
      // Opens and closes of the archive count too: from an archive file the
      // output's creation is the 4th open and its close the 4th close.
      const bool counts_archive = fault == PlatformFault::kOpen || fault == PlatformFault::kClose;
      const long nth = counts_archive && flags == kFileToFile ? 4 : 1;
      PlatformFailNth(fault, nth);
      EXPECT_EQ(api_.GetFile(source, second, prefix.data(), flags, 0, 0), -1)
          << static_cast<int>(fault) << " " << flags;
      PlatformResetFaults();
      EXPECT_EQ(ReadBytes(out_->File("PICTURE.GP8")), old_contents);
      EXPECT_EQ(out_->Entries(), std::vector<std::string>{"PICTURE.GP8"}) << "no partial file left";
    }
  }
}

TEST_F(Extraction, AnAllocationFailureAtAnyPointLeavesNothing) {
  for (std::uint32_t flags : {kFileToFile, kFileToMemory}) {
    for (long nth = 1;; ++nth) {
      PlatformFailNth(PlatformFault::kAlloc, nth);
      HLOCAL handle = nullptr;
      std::string prefix = out_->Prefix();
      char* destination = (flags & 0x700) != 0 ? reinterpret_cast<char*>(&handle) : prefix.data();
      const auto rc = api_.GetFile(path_.c_str(), static_cast<std::int32_t>(PositionOf(1)), destination, flags, 0, 0);
      const long calls = PlatformCalls(PlatformFault::kAlloc);
      PlatformResetFaults();
      if (calls < nth) {  // every allocation was tried: the call succeeded
        EXPECT_EQ(rc, 0);
        if (handle != nullptr) LocalFree(handle);
        break;
      }
      EXPECT_EQ(rc, -1) << "allocation " << nth;
      EXPECT_EQ(handle, nullptr);
      EXPECT_EQ(LiveBlocks(), live_at_start_) << "allocation " << nth;
    }
    std::error_code ignored;
    std::filesystem::remove(out_->File("PICTURE.GP8"), ignored);
  }
}
#endif

}  // namespace
