// Where vyn's output goes: only to the files it was asked for, whole or not
// at all, never through a link and never over something that is not a file;
// to standard output for "-", where a failed write is an error; and nothing
// left behind when vyn is interrupted.
#include <gtest/gtest.h>

#include <cstdlib>
#include <set>

#include "arc_writer.h"
#include "host/formats/picture_io.h"
#include "host_test_support.h"

#if defined(_WIN32)
#include <windows.h>

#include <thread>

#include "host/files/file_io.h"
#include "host/files/interrupt.h"
#endif

#if !defined(_WIN32)
#include "host/files/file_io.h"
#include "host/host_error.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#if defined(__linux__)
#include <sys/inotify.h>
#endif

extern char** environ;
#endif

namespace {

using host_test::MakePicture;
using host_test::PictureKind;
using host_test::VynRun;

using host_test::Contains;

#if !defined(_WIN32)
// TMPDIR set for as long as it lives.
class TemporaryDirectoryVariable {
 public:
  explicit TemporaryDirectoryVariable(const std::string& directory) {
    const char* old = std::getenv("TMPDIR");
    had_ = old != nullptr;
    if (had_) old_ = old;
    setenv("TMPDIR", directory.c_str(), 1);
  }
  ~TemporaryDirectoryVariable() {
    if (had_) {
      setenv("TMPDIR", old_.c_str(), 1);
    } else {
      unsetenv("TMPDIR");
    }
  }

 private:
  bool had_ = false;
  std::string old_;
};
#endif

class VynOutput : public ::testing::Test {
 protected:
  void SetUp() override {
    picture_ = Write("in.png", EncodePicture(MakePicture(PictureKind::kGradient, 9, 4, 16),
                                             PictureFileType::kPng));
    gp8_ = dir_.File("in.GP8");
    ASSERT_EQ(Vyn({"encode", picture_, "-o", gp8_}).status, 0);
    archive_ =
        Write("in.ARC", BuildArchive({{"A.", TextBytes("first")}, {"B.", TextBytes("two")}}));
  }

  VynRun Vyn(const std::vector<std::string>& args) { return host_test::RunVyn(args, capture_); }

  std::string Write(const std::string& name, const Bytes& bytes) {
    const std::string path = dir_.File(name);
    WriteBytes(path, bytes);
    return path;
  }

  ScratchDirectory dir_;
  ScratchDirectory capture_;
  std::string picture_;
  std::string gp8_;
  std::string archive_;
};

TEST_F(VynOutput, DashWritesTheOutputToStandardOutput) {
  struct Case {
    std::vector<std::string> to_stdout;
    std::vector<std::string> to_file;
    std::string file;
  };
  const std::string file = dir_.File("out.file");
  const std::vector<Case> cases = {
      {{"convert", gp8_, "-o", "-"}, {"convert", gp8_, "-o", file + ".png"}, file + ".png"},
      {{"encode", picture_, "-o", "-"}, {"encode", picture_, "-o", file}, file},
      {{"pack", "-o", "-", picture_, gp8_}, {"pack", "-o", file, picture_, gp8_}, file},
  };
#if !defined(_WIN32)
  // Pack and encode check their output through a partial file in the
  // temporary directory; it goes once the output is out.
  const ScratchDirectory temporary;
  const TemporaryDirectoryVariable tmpdir(temporary.path().string());
#endif
  for (const Case& c : cases) {
    const VynRun piped = Vyn(c.to_stdout);
    ASSERT_EQ(piped.status, 0) << c.to_stdout[0] << piped.err;
    EXPECT_EQ(piped.err, "") << c.to_stdout[0];
    ASSERT_EQ(Vyn(c.to_file).status, 0) << c.to_stdout[0];
    EXPECT_EQ(TextBytes(piped.out), ReadBytes(c.file)) << c.to_stdout[0];
  }
#if !defined(_WIN32)
  EXPECT_TRUE(temporary.Entries().empty());
#endif
}

TEST_F(VynOutput, ATargetThatIsNotAFileIsLeftAsItIs) {
  const std::string out = dir_.File("out");
  ASSERT_TRUE(std::filesystem::create_directory(out));
  const std::string directory = out + "/dir.ARC";
  ASSERT_TRUE(std::filesystem::create_directory(directory));
  // The file names of the archive's members "A." and "B.": Windows drops a
  // trailing dot, so vyn writes it escaped, on every system.
  const std::string first = "A%x2E", second = "B%x2E";
#if defined(_WIN32)
  const std::string separator = "\\";
#else
  const std::string separator = "/";
#endif
  ASSERT_TRUE(std::filesystem::create_directory(out + "/" + first));
  struct Case {
    std::vector<std::string> args;
    std::string message;
  };
  std::vector<Case> cases = {
      {{"pack", "-o", directory, picture_, gp8_},
       directory + ": is a directory, not a regular file; it is left as it is"},
      {{"extract", archive_, "-o", out},
       out + separator + first + ": is a directory, not a regular file; it is left as it is"},
  };
#if !defined(_WIN32)
  const std::string fifo = out + "/fifo.GP8";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  cases.push_back({{"encode", picture_, "-o", fifo},
                   fifo + ": is a FIFO, not a regular file; it is left as it is"});
  // A folder where no file can be made at all says why.
  cases.push_back({{"convert", gp8_, "-o", "/proc/x.png"},
                   "/proc/x.png: cannot create: No such file or directory"});
  // /dev/full's own numbers, on a node of the test's own.
  const std::string device = out + "/full.png";
  if (::mknod(device.c_str(), S_IFCHR | 0600, makedev(1, 7)) == 0) {
    cases.push_back({{"convert", gp8_, "-o", device},
                     device + ": is a character device, not a regular file; it is left as it is"});
    cases.push_back({{"pack", "-o", device, picture_, gp8_},
                     device + ": is a character device, not a regular file; it is left as it is"});
    cases.push_back({{"update", archive_, "A.=" + gp8_, "-o", device},
                     device + ": is a character device, not a regular file; it is left as it is"});
  }
#endif
  const auto before = [&] {
    std::set<std::pair<std::string, int>> entries;
    for (const auto& e : std::filesystem::directory_iterator(out))
      entries.insert({e.path().filename().string(), static_cast<int>(e.symlink_status().type())});
    return entries;
  };
  const auto entries = before();
  for (const Case& c : cases) {
    const VynRun run = Vyn(c.args);
    EXPECT_EQ(run.status, 1) << c.message;
    EXPECT_TRUE(Contains(run.err, c.message)) << run.err;
    std::filesystem::remove(out + "/" + second);  // extracted beside the refused member
    EXPECT_EQ(before(), entries) << c.message;
  }
}

#if !defined(_WIN32)
// A partial file that someone else replaced while it was written is not
// renamed into place: the target keeps what it held.
TEST_F(VynOutput, APartialFileReplacedWhileWrittenIsNotRenamed) {
  const std::string target = Write("target", TextBytes("as it was"));
  PendingFile out(target);
  out.Write(TextBytes("ours"));
  out.Close();
  std::filesystem::rename(Write("other", TextBytes("someone else's")), out.partial());
  try {
    out.Commit();
    ADD_FAILURE() << "a replaced partial file was renamed into place";
  } catch (const HostError& error) {
    EXPECT_TRUE(Contains(error.what(), "was replaced while it was written")) << error.what();
  }
  EXPECT_EQ(ReadBytes(target), TextBytes("as it was"));
}

// Links to a file outside the destination at every name a command could
// write to: each target, and every partial name as short as a one- or
// two-byte target's (all of them taken, a longer random name has to be
// found). Each target's link is replaced by the
// output; nothing reaches the file outside.
TEST_F(VynOutput, NoLinkIsWrittenThrough) {
  const std::string out = dir_.File("out");
  ASSERT_TRUE(std::filesystem::create_directory(out));
  struct Case {
    std::vector<std::string> args;
    std::vector<std::string> targets;
  };
  const std::vector<Case> cases = {
      {{"extract", archive_, "-o", out}, {"A%x2E", "B%x2E"}},
      {{"pack", "-o", out + "/p", picture_, gp8_}, {"p"}},
      {{"update", archive_, "B.=" + gp8_, "-o", out + "/u"}, {"u"}},
      {{"encode", picture_, "-o", out + "/e"}, {"e"}},
      {{"convert", gp8_, "-o", out + "/c.png"}, {"c.png"}},
  };
  std::set<std::string> planted;
  std::set<std::string> targets;
  for (const Case& c : cases) {
    for (const std::string& target : c.targets) {
      targets.insert(target);
      planted.insert(target);
    }
  }
  for (const char c :
       std::string("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789")) {
    planted.insert(std::string(1, c));
    planted.insert(std::string(".") + c);
  }
  const Bytes outside = TextBytes("outside the destination");
  const std::string sentinel = Write("sentinel", outside);
  for (const std::string& name : planted)
    std::filesystem::create_symlink(sentinel, out + "/" + name);

  for (const Case& c : cases) {
    const VynRun run = Vyn(c.args);
    EXPECT_EQ(run.status, 0) << c.args[0] << ": " << run.err;
    for (const std::string& target : c.targets)
      EXPECT_TRUE(
          std::filesystem::is_regular_file(std::filesystem::symlink_status(out + "/" + target)))
          << target;
  }
  EXPECT_EQ(ReadBytes(sentinel), outside);
  EXPECT_EQ(ReadBytes(out + "/A%x2E"), TextBytes("first"));
  std::size_t entries = 0;
  for (const auto& e : std::filesystem::directory_iterator(out)) {
    const std::string name = e.path().filename().string();
    ++entries;
    if (targets.count(name) == 0) EXPECT_TRUE(e.is_symlink()) << name;
  }
  EXPECT_EQ(entries, planted.size()) << "a partial file was left";
}

// Runs vyn through the shell, its standard output sent to `to`.
VynRun VynWithOutputTo(const std::vector<std::string>& args, const std::string& to,
                       const ScratchDirectory& scratch) {
  const std::string err = scratch.File("vyn-stderr.txt");
  std::string command = host_test::Quoted(host_test::VynPath());
  for (const std::string& arg : args) command += " " + host_test::Quoted(arg);
  command += " >" + to + " 2>" + host_test::Quoted(err);
  std::fflush(nullptr);
  const int raw = std::system(command.c_str());
  VynRun run;
  run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  run.err = host_test::ReadText(err);
  return run;
}

TEST_F(VynOutput, AFailedWriteToStandardOutputFailsTheCommand) {
  const std::string out = dir_.File("out");
  // A listing longer than standard output's buffer fails while it is made.
  std::vector<ArcMember> members;
  for (int i = 0; i < 300; ++i) members.push_back({"M" + std::to_string(i) + ".T", {1}});
  const std::string many = Write("many.ARC", BuildArchive(members));
  const std::vector<std::vector<std::string>> commands = {
      {"plugins"},
      {"list", many},
      {"identify", archive_, gp8_},
      {"list", archive_},
      {"list", archive_, "--json"},
      {"list", "--help"},
      {"extract", archive_, "-o", out},
      {"extract", "--stdout", many},  // one message, not one a member
      {"convert", gp8_, "-o", "-"},
      {"encode", picture_, "-o", "-"},
      {"pack", "-o", "-", picture_, gp8_},
      {"update", archive_, "A.=" + gp8_, "-o", "-"},
  };
  const Bytes archive = ReadBytes(archive_);
  for (const auto& args : commands) {
    const VynRun run = VynWithOutputTo(args, "/dev/full", capture_);
    EXPECT_EQ(run.status, 1) << args[0] << " " << args.back();
    EXPECT_EQ(run.err, "vyn: standard output: cannot write: No space left on device\n")
        << args[0] << " " << args.back();
  }
  EXPECT_EQ(ReadBytes(archive_), archive);
}

#endif

#if defined(__linux__)
// Starts vyn with its output thrown away.
pid_t StartVyn(const std::vector<std::string>& args) {
  std::vector<std::string> all = {host_test::VynPath()};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& arg : all) argv.push_back(arg.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = -1;
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

// The status as a shell gives it: the exit status, or 128 + the signal that
// ended the process.
int ShellStatus(int raw) { return WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw); }

// The name of the first file created in a watched directory, or "" when
// none comes within a few seconds.
std::string FirstCreated(int watch) {
  pollfd ready{watch, POLLIN, 0};
  if (::poll(&ready, 1, 20000) != 1) return "";
  alignas(inotify_event) char events[4096];
  const ssize_t got = ::read(watch, events, sizeof events);
  if (got < static_cast<ssize_t>(sizeof(inotify_event))) return "";
  const auto* event = reinterpret_cast<const inotify_event*>(events);
  return event->len > 0 ? std::string(event->name) : "";
}

// A process of vyn stopped while its partial file exists in a directory.
struct StoppedRun {
  pid_t pid = -1;
  std::string partial;  // the partial file's name
};

// Runs vyn and stops it as soon as it has created a file in the directory,
// empty but for `copied` (a file put there first under its own name), that
// is while it writes or checks its output. A run that finishes before it can
// be stopped (as on a machine so busy that the test wakes late) is tried
// again, up to 100 times; pid is -1 if every try did.
StoppedRun StopWhileWriting(const std::vector<std::string>& args, const std::string& directory,
                            const std::filesystem::path& copied = {}) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::filesystem::remove_all(directory);
    std::filesystem::create_directory(directory);
    if (!copied.empty())
      std::filesystem::copy_file(copied, std::filesystem::path(directory) / copied.filename());
    const int watch = inotify_init1(IN_CLOEXEC);
    if (watch < 0 || inotify_add_watch(watch, directory.c_str(), IN_CREATE) < 0) return {};
    const pid_t pid = StartVyn(args);
    if (pid < 0) return {};
    const std::string partial = FirstCreated(watch);
    ::close(watch);
    ::kill(pid, SIGSTOP);
    int raw = 0;
    if (::waitpid(pid, &raw, WUNTRACED) != pid) return {};
    if (!WIFSTOPPED(raw)) continue;  // finished already
    struct stat st {};
    if (!partial.empty() && ::lstat((directory + "/" + partial).c_str(), &st) == 0)
      return {pid, partial};
    ::kill(pid, SIGCONT);
    ::waitpid(pid, &raw, 0);
  }
  return {};
}

// Resumes a stopped run; its status as a shell gives it.
int Resume(pid_t pid) {
  ::kill(pid, SIGCONT);
  int raw = 0;
  ::waitpid(pid, &raw, 0);
  return ShellStatus(raw);
}

class VynBigOutput : public VynOutput {
 protected:
  void SetUp() override {
    VynOutput::SetUp();
    // Sparse files: cheap to make and to read, as big as they look to vyn.
    big_archive_ = Write(
        "big.ARC",
        ArcImage(2, {ArcEntry("BIG.BIN", kBig, 44), ArcEntry("END.TXT", 1, 44 + kBig)}, false));
    std::filesystem::resize_file(big_archive_, 44 + kBig + 1);
    big_file_ = Write("big.bin", {});
    std::filesystem::resize_file(big_file_, kBig);
    out_ = dir_.File("out");
  }

  static constexpr std::uint32_t kBig = 32u << 20;
  std::string big_archive_;
  std::string big_file_;
  std::string out_;
};

// Sent while the partial file exists, the signal ends vyn as it would have
// anyway, and the directory is as it was: empty, or holding the archive
// being updated in place, unchanged.
TEST_F(VynBigOutput, AnInterruptRemovesWhatWasBeingWritten) {
  struct Case {
    std::vector<std::string> args;
    int signal;
    std::size_t partial_length;  // as long as the target's name: a one-byte name gets one letter
    bool in_place = false;  // big.ARC is copied into the directory and updated there
  };
  const std::string updated = out_ + "/big.ARC";
  const std::vector<Case> cases = {
      {{"extract", big_archive_, "-o", out_}, SIGINT, 7},
      {{"extract", big_archive_, "-o", out_}, SIGTERM, 7},
      {{"pack", "-o", out_ + "/p", big_file_, gp8_}, SIGINT, 1},
      {{"update", updated, "END.TXT=" + gp8_}, SIGINT, 7, true},
  };
  for (const Case& c : cases) {
    const StoppedRun run = StopWhileWriting(c.args, out_, c.in_place ? big_archive_ : "");
    ASSERT_GT(run.pid, 0) << c.args[0] << ": never stopped while writing";
    EXPECT_EQ(run.partial.size(), c.partial_length) << run.partial;
    ::kill(run.pid, c.signal);
    EXPECT_EQ(Resume(run.pid), 128 + c.signal) << c.args[0];
    if (c.in_place) {
      EXPECT_EQ(std::distance(std::filesystem::directory_iterator(out_),
                              std::filesystem::directory_iterator()),
                1);
      EXPECT_TRUE(ReadBytes(updated) == ReadBytes(big_archive_)) << c.args[0];
    } else {
      EXPECT_TRUE(std::filesystem::is_empty(out_)) << c.args[0] << " " << c.signal;
    }
  }
}

// A second extraction runs whole while the first is held in the middle of
// writing the same member: both succeed, and the member is whole.
TEST_F(VynBigOutput, TwoExtractionsIntoOneDirectoryAtOnceBothSucceed) {
  const std::vector<std::string> args = {"extract", big_archive_, "-o", out_};
  const StoppedRun first = StopWhileWriting(args, out_);
  ASSERT_GT(first.pid, 0) << "never stopped while writing";
  const VynRun second = Vyn(args);
  EXPECT_EQ(second.status, 0) << second.err;
  EXPECT_EQ(Resume(first.pid), 0);
  EXPECT_EQ(std::filesystem::file_size(out_ + "/BIG.BIN"), kBig);
  EXPECT_EQ(ReadBytes(out_ + "/BIG.BIN"), Bytes(kBig, 0));
  EXPECT_EQ(ReadBytes(out_ + "/END.TXT"), Bytes(1, 0));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(out_),
                          std::filesystem::directory_iterator()),
            2);
}
#endif

#if defined(_WIN32)
// The console's handler on Windows removes a partial file that another
// handle holds without sharing its deletion, as the image plug-in holds an
// encoded picture while it reads it back, once that handle lets go.
TEST(WindowsInterrupt, AHeldPartialFileGoesOnceItIsLetGo) {
  ScratchDirectory dir;
  const std::filesystem::path partial = dir.path() / L"\u5165\u529B .Ab3";  // 入力 .Ab3
  std::ofstream(partial, std::ios::binary) << "sixteen bytes...";
  const int slot = RegisterPartialFile(partial);
  ASSERT_GE(slot, 0);
  const HANDLE reader = CreateFileW(partial.c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(reader, INVALID_HANDLE_VALUE);
  EXPECT_EQ(RemoveRegisteredFiles(0), 1);  // held, and no patience
  EXPECT_TRUE(std::filesystem::exists(partial));
  std::thread let_go([reader] {
    Sleep(300);
    CloseHandle(reader);
  });
  EXPECT_EQ(RemoveRegisteredFiles(kRemovalPatienceMs), 0);
  let_go.join();
  EXPECT_FALSE(std::filesystem::exists(partial));
  UnregisterPartialFile(slot);
}

// Ctrl-C while vyn writes a member of 200 MB, with its partial file held
// open meanwhile by another reader that does not share its deletion: vyn
// ends as interrupted and, once the reader lets go, leaves nothing behind.
TEST(WindowsInterrupt, CtrlCLeavesNoPartialFile) {
  ScratchDirectory dir;
  constexpr std::uint32_t kBig = 200'000'000;
  const std::string archive = dir.File("big.ARC");
  ASSERT_TRUE(WriteSparseFile(
      archive, 44 + std::uint64_t{kBig},
      {{0, ArcImage(2, {ArcEntry("BIG.BIN", kBig, 44), ArcEntry("END.TXT", 0, 44)}, true)}}));
  const std::string out = dir.File("out");
  std::filesystem::create_directory(out);
  std::wstring command = L"\"" + SystemPath(host_test::VynPath()).native() + L"\" extract \"" +
                         SystemPath(archive).native() + L"\" -o \"" + SystemPath(out).native() +
                         L"\"";
  // In a console of its own, which this process then joins to send Ctrl-C
  // there, ignoring it itself.
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  ASSERT_NE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, CREATE_NEW_CONSOLE,
                           nullptr, nullptr, &startup, &process),
            0);
  HANDLE reader = INVALID_HANDLE_VALUE;
  for (int tries = 0; tries < 4000 && reader == INVALID_HANDLE_VALUE; ++tries) {
    for (const auto& entry : std::filesystem::directory_iterator(out))
      reader = CreateFileW(entry.path().c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (reader == INVALID_HANDLE_VALUE) Sleep(5);
  }
  ASSERT_NE(reader, INVALID_HANDLE_VALUE) << "no partial file appeared";
  FreeConsole();
  if (AttachConsole(process.dwProcessId) == 0 || SetConsoleCtrlHandler(nullptr, TRUE) == 0 ||
      GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0) == 0) {
    TerminateProcess(process.hProcess, 1);
    CloseHandle(reader);
    GTEST_SKIP() << "the system sends no Ctrl-C here";
  }
  Sleep(300);
  CloseHandle(reader);
  ASSERT_EQ(WaitForSingleObject(process.hProcess, 20000), WAIT_OBJECT_0);
  DWORD status = 0;
  GetExitCodeProcess(process.hProcess, &status);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  FreeConsole();
  SetConsoleCtrlHandler(nullptr, FALSE);
  EXPECT_EQ(status, 130u);
  EXPECT_TRUE(std::filesystem::is_empty(out));
}
#endif

}  // namespace
