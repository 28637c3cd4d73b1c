// The project's performance figures, side by side in one run, printed as one
// table with each ratio against its target:
//   decoding    GetPicture (memory input) against the classic ring-window
//               decoder on the same streams, from the host's encoder and from
//               the greedy one, and memcpy of the same size, in interleaved
//               rounds (minimum / median of the ratios);
//   listing     GetArchiveInfo of 10,240 members against writing a
//               zero-filled block of the listing's size (4.4 MB);
//   lookup      GetFile (file input, memory output) of a small member from
//               archives of 16, 1,024 and 10,240 members;
//   extraction  `vyn extract` of 10,240 members against `cp -r` of the files;
//   encoding    the host encoder's CPU time against the classic binary-tree
//               encoder (greedy; lazy for scale) and against the per-length
//               tables it had before, in interleaved rounds; its stream sizes
//               against a greedy encoder that reaches the whole window, and
//               the others;
//   memory      the heap GetPicture holds at its peak, against the picture,
//               the header block and the pixel block; the heap the host's
//               encoder holds beyond the picture, a pixel, and its time, on
//               4096x4096 pictures;
//   big member  `vyn extract` of a 1 GiB member against `cat`, its peak
//               memory, and the bytes read against the archive's size (also
//               for 10,240 members);
//   convert     pictures a second of `vyn convert` with -j 1 and -j 2;
//   win32       the 32-bit DLL's decoding under Wine, read from the file the
//               Windows benchmark wrote.
//
// vyn_bench --work DIR [--prepare-only] [--decoder-only | --encoder-only] [--win32 FILE] [benchmark flags]
// The corpus and the archives are made in DIR (the corpus only once).
// --decoder-only measures and prints the decoding rows alone.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <csignal>
#include <tuple>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "bench_support.h"
#include "classic_lzss.h"
#include "classic_tree_lzss.h"
#include "greedy_lzss.h"
#include "heap_census.h"
#include "host/formats/arc_writer.h"
#include "host/formats/gp8_encoder.h"
#include "platform.h"
#include "plugin_abi.h"
#include "table_optimal_lzss.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

constexpr std::size_t kHeaderBlockSize = 1078;
constexpr std::size_t kListingMembers = 10240;
constexpr std::size_t kLookupMemberCounts[] = {16, 1024, 10240};
constexpr std::uint32_t kSmallMemberSize = 100;
constexpr double kMegabyte = 1e6;

// ---------------------------------------------------------------- corpus

struct CorpusEntry {
  std::string name;
  CorpusKind kind;
  CorpusSize size;
  std::string path;
  Bytes file;                    // the GP8 file
  Bytes pixels;                  // the stream's pixels, bottom row first
  std::size_t greedy_bytes = 0;  // the greedy encoder's stream
  Bytes greedy_file;             // the same picture with the greedy encoder's stream
};

std::vector<CorpusEntry> corpus;

IndexedPicture ToIndexedPicture(const CorpusPicture& picture) {
  IndexedPicture indexed;
  indexed.width = picture.width;
  indexed.height = picture.height;
  for (const auto& rgb : picture.palette) indexed.palette.push_back({rgb[0], rgb[1], rgb[2]});
  indexed.pixels = picture.pixels;
  return indexed;
}

Bytes BottomUpRows(const CorpusPicture& picture) {
  Bytes rows;
  rows.reserve(picture.pixels.size());
  for (std::uint32_t y = picture.height; y-- > 0;) {
    const auto row =
        picture.pixels.begin() + static_cast<std::ptrdiff_t>(std::size_t{y} * picture.width);
    rows.insert(rows.end(), row, row + picture.width);
  }
  return rows;
}

// Encodes every picture once with the host's encoder (the one `vyn encode`
// runs) and with the greedy one; later runs read the files back.
bool PrepareCorpus(const std::string& directory) {
  fs::create_directories(directory);
  for (CorpusKind kind : kCorpusKinds) {
    for (CorpusSize size : kCorpusSizes) {
      CorpusEntry entry{CorpusName(kind, size),
                        kind,
                        size,
                        directory + "/" + CorpusName(kind, size) + ".gp8",
                        {},
                        {},
                        0,
                        {}};
      const CorpusPicture picture = MakeCorpusPicture(kind, size.width, size.height);
      entry.pixels = BottomUpRows(picture);
      const std::string greedy_path = directory + "/" + entry.name + ".greedy-gp8";
      if (!ReadFileBytes(entry.path, entry.file) ||
          !ReadFileBytes(greedy_path, entry.greedy_file)) {
        std::fprintf(stderr, "encoding %s\n", entry.name.c_str());
        entry.file = EncodeGp8(ToIndexedPicture(picture));
        entry.greedy_file.assign(entry.file.begin(), entry.file.begin() + kGp8StreamOffset);
        const Bytes greedy = GreedyLzssEncode(entry.pixels);
        entry.greedy_file.insert(entry.greedy_file.end(), greedy.begin(), greedy.end());
        if (!WriteFileBytes(entry.path, entry.file) ||
            !WriteFileBytes(greedy_path, entry.greedy_file))
          return false;
      }
      const std::size_t greedy = entry.greedy_file.size() - kGp8StreamOffset;
      entry.greedy_bytes = greedy;
      corpus.push_back(std::move(entry));
    }
  }
  return true;
}

// ---------------------------------------------------------------- archives

struct ArchiveSet {
  std::size_t members = 0;
  std::string path;
  Bytes image;                       // the whole archive
  std::uint32_t small_position = 0;  // of the last member, a small one
};

std::vector<ArchiveSet> archives;
std::string members_directory;  // the 10,240 files the big archive holds
std::string work_directory;

// An archive of `count` members of 64 to 4,096 seeded random bytes, the last
// one small; its directory scrambled, as the heavier case to list. With
// `files`, every member is also written as a file of its own there.
ArchiveSet MakeArchive(std::size_t count, const std::string& path, const std::string& files) {
  std::mt19937 random(static_cast<std::uint32_t>(count));
  std::vector<ArcSource> sources;
  std::vector<Bytes> contents;
  for (std::size_t i = 0; i < count; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "M%05zu.DAT", i);
    const std::uint32_t size =
        i + 1 == count ? kSmallMemberSize : 64 + static_cast<std::uint32_t>(random() % 4033);
    Bytes bytes(size);
    for (unsigned char& b : bytes) b = static_cast<unsigned char>(random());
    ArcSource source;
    source.path = files.empty() ? name : files + "/" + name;
    source.name = name;
    source.size = size;
    sources.push_back(std::move(source));
    contents.push_back(std::move(bytes));
  }
  const ArcPlan plan = PlanArchive(path, sources);
  ArchiveSet set;
  set.members = count;
  set.path = path;
  set.image = ArcDirectoryBytes(plan, true);
  for (std::size_t i = 0; i < count; ++i) {
    set.image.insert(set.image.end(), contents[i].begin(), contents[i].end());
    if (!files.empty()) WriteFileBytes(sources[i].path, contents[i]);
  }
  set.small_position = plan.entries.back().position;
  WriteFileBytes(path, set.image);
  return set;
}

void PrepareArchives() {
  const std::string directory = work_directory + "/archives";
  fs::remove_all(directory);
  fs::create_directories(directory);
  members_directory = directory + "/members";
  fs::create_directories(members_directory);
  for (std::size_t count : kLookupMemberCounts) {
    const bool big = count == kListingMembers;
    archives.push_back(MakeArchive(count, directory + "/a" + std::to_string(count) + ".arc",
                                   big ? members_directory : ""));
  }
}

// ---------------------------------------------------------------- plug-ins

struct Plugins {
  PluginLibrary wennel{"wennel"};
  PluginLibrary cobbet{"cobbet"};
  GetPictureFn GetPicture = nullptr;
  IsSupportedFn IsSupported = nullptr;
  GetArchiveInfoFn GetArchiveInfo = nullptr;
  GetFileFn GetFile = nullptr;
};

Plugins* plugins = nullptr;

// Recognises the archive from its head, as a host does before listing it:
// that is what leaves the directory to be read descrambled.
bool Recognise(const ArchiveSet& set) {
  Bytes head(kHeadSize, 0);
  std::copy_n(set.image.begin(), std::min(set.image.size(), head.size()), head.begin());
  return plugins->IsSupported(set.path.c_str(), reinterpret_cast<HandleOrHead>(head.data())) ==
         kRecognised;
}

// ---------------------------------------------------------------- benchmarks

void ListArchive(benchmark::State& state, const ArchiveSet* set, bool memory_input) {
  if (!Recognise(*set)) state.SkipWithError("archive not recognised");
  for (auto _ : state) {
    HLOCAL listing = nullptr;
    const std::int32_t result =
        memory_input
            ? plugins->GetArchiveInfo(reinterpret_cast<const char*>(set->image.data()),
                                      static_cast<std::int32_t>(set->image.size()), 1, &listing)
            : plugins->GetArchiveInfo(set->path.c_str(), 0, 0, &listing);
    if (result != kPluginOk) {
      state.SkipWithError("GetArchiveInfo failed");
      break;
    }
    LocalFree(listing);
  }
}

// The floor of a listing: a block of the listing's size, written with zeros.
void WriteZeroBlock(benchmark::State& state, std::size_t bytes) {
  for (auto _ : state) {
    HLOCAL block = LocalAlloc(LMEM_MOVEABLE, bytes);
    void* data = LocalLock(block);
    std::memset(data, 0, bytes);
    benchmark::DoNotOptimize(data);
    benchmark::ClobberMemory();
    LocalUnlock(block);
    LocalFree(block);
  }
}

void LookUpMember(benchmark::State& state, const ArchiveSet* set) {
  if (!Recognise(*set)) state.SkipWithError("archive not recognised");
  for (auto _ : state) {
    HLOCAL member = nullptr;
    if (plugins->GetFile(set->path.c_str(), static_cast<std::int32_t>(set->small_position),
                         reinterpret_cast<char*>(&member), 0x100, 0, 0) != kPluginOk) {
      state.SkipWithError("GetFile failed");
      break;
    }
    LocalFree(member);
  }
}

// Runs a program with its output thrown away; true when it exits with 0.
bool RunQuietly(const std::vector<std::string>& arguments) {
  std::vector<char*> argv;
  for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t child = 0;
  const int rc = posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return false;
  int status = 0;
  while (waitpid(child, &status, 0) < 0) {
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void ExtractAll(benchmark::State& state, bool with_vyn) {
  const ArchiveSet& set = archives.back();
  const std::string out = work_directory + (with_vyn ? "/out-vyn" : "/out-cp");
  const std::vector<std::string> command =
      with_vyn
          ? std::vector<std::string>{ProgramDirectory() + "vyn", "extract", set.path, "-o", out}
          : std::vector<std::string>{"cp", "-r", members_directory, out};
  for (auto _ : state) {
    state.PauseTiming();
    fs::remove_all(out);
    state.ResumeTiming();
    if (!RunQuietly(command)) {
      state.SkipWithError("the command failed");
      break;
    }
  }
  // The loop is over: what follows is not timed.
  const auto files = std::distance(fs::directory_iterator(out), fs::directory_iterator{});
  if (static_cast<std::size_t>(files) != set.members) state.SkipWithError("files missing");
  fs::remove_all(out);
}

// ---------------------------------------------------------------- checks

// GetPicture, the classic decoder and the picture itself agree on every stream.
bool CheckDecoders() {
  for (const CorpusEntry& entry : corpus) {
    for (const Bytes* file : {&entry.file, &entry.greedy_file}) {
      HLOCAL header = nullptr;
      HLOCAL pixels = nullptr;
      if (plugins->GetPicture(reinterpret_cast<const char*>(file->data()),
                              static_cast<std::int32_t>(file->size()), 1, &header, &pixels, 0,
                              0) != kPluginOk) {
        std::fprintf(stderr, "GetPicture failed on %s\n", entry.name.c_str());
        return false;
      }
      const auto* block = static_cast<const unsigned char*>(LocalLock(pixels));
      const bool same = std::equal(entry.pixels.begin(), entry.pixels.end(), block);
      LocalUnlock(pixels);
      LocalFree(pixels);
      LocalFree(header);
      Bytes classic(entry.pixels.size());
      const std::size_t got =
          ClassicLzssDecode(file->data() + kGp8StreamOffset, file->size() - kGp8StreamOffset,
                            classic.data(), classic.size());
      if (!same || got != classic.size() || classic != entry.pixels) {
        std::fprintf(stderr, "the decoders disagree on %s\n", entry.name.c_str());
        return false;
      }
    }
  }
  return true;
}

struct PeakFigure {
  std::string name;
  std::int64_t peak = 0;      // heap bytes GetPicture added at its peak
  std::int64_t expected = 0;  // the file, the header block and the pixel block
};

// GetPicture with file input: the working copy of the file, the header block
// and the pixel block are all it may hold at once.
std::vector<PeakFigure> MeasurePeaks() {
  std::vector<PeakFigure> figures;
  for (const CorpusEntry& entry : corpus) {
    if (entry.size.width != 4096) continue;
    HLOCAL header = nullptr;
    HLOCAL pixels = nullptr;
    const std::int64_t before = HeapBytesInUse();
    ResetHeapPeak();
    const std::int32_t result =
        plugins->GetPicture(entry.path.c_str(), 0, 0, &header, &pixels, 0, 0);
    const std::int64_t peak = HeapPeak() - before;
    if (result != kPluginOk) continue;
    const std::int64_t pixel_block = (std::int64_t{entry.size.width} + 3) * entry.size.height;
    figures.push_back(
        {entry.name, peak,
         static_cast<std::int64_t>(entry.file.size() + kHeaderBlockSize) + pixel_block});
    LocalFree(header);
    LocalFree(pixels);
  }
  return figures;
}

struct EncoderFigure {
  std::string name;
  std::uint64_t pixels = 0;
  std::int64_t working = 0;  // heap bytes beyond the picture at the peak, the file included
  double seconds = 0;
};

// EncodeGp8 once on each large picture of two kinds, the most and the least
// compressible: the heap it adds at its peak (the GP8 file it returns
// included) and its time.
std::vector<EncoderFigure> MeasureEncoder() {
  std::vector<EncoderFigure> figures;
  for (CorpusKind kind : {CorpusKind::kDithered, CorpusKind::kNoise}) {
    const CorpusSize size = kCorpusSizes[std::size(kCorpusSizes) - 1];
    const IndexedPicture picture =
        ToIndexedPicture(MakeCorpusPicture(kind, size.width, size.height));
    const std::int64_t before = HeapBytesInUse();
    ResetHeapPeak();
    const auto started = std::chrono::steady_clock::now();
    const Bytes file = EncodeGp8(picture);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - started;
    figures.push_back(
        {CorpusName(kind, size), picture.pixels.size(), HeapPeak() - before, took.count()});
  }
  return figures;
}

struct ExtractFigure {
  std::uint64_t member = 0;
  long peak_kb = 0;      // of vyn extract of the big member
  std::vector<double> vyn_seconds, cat_seconds;  // interleaved rounds
  std::uint64_t big_read = 0, big_archive = 0;   // bytes vyn read, and the archive's size
  std::uint64_t many_read = 0, many_archive = 0;  // the same for 10,240 members
  std::vector<double> convert_seconds[2];         // -j 1, -j 2 over kConvertPictures pictures
  bool ok = false;
};

constexpr std::uint64_t kBigMember = std::uint64_t{1} << 30;
constexpr int kExtractRounds = 5;
constexpr int kConvertPictures = 200;

// A program's wall time and the bytes it read (rchar of /proc/PID/io, read
// once it has exited and before it is reaped), output thrown away; false
// when it fails. `into` is given its standard output, when not empty.
bool TimeAndCount(const std::vector<std::string>& arguments, double& seconds,
                  std::uint64_t& read_bytes, const std::string& into = {}) {
  std::vector<char*> argv;
  for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, into.empty() ? "/dev/null" : into.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  const auto start = std::chrono::steady_clock::now();
  pid_t child = 0;
  const int rc = posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return false;
  siginfo_t info{};
  while (waitid(P_PID, static_cast<id_t>(child), &info, WEXITED | WNOWAIT) < 0) {
  }
  seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  read_bytes = 0;
  std::ifstream io("/proc/" + std::to_string(child) + "/io");
  for (std::string key; io >> key;) {
    std::uint64_t value = 0;
    io >> value;
    if (key == "rchar:") read_bytes = value;
  }
  int status = 0;
  while (waitpid(child, &status, 0) < 0) {
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// The peak resident memory of a vyn command, as /usr/bin/time reports it for
// the process it starts: a process started from this one directly would
// count this one's memory, which it shares until it runs vyn.
long PeakOfVyn(const std::vector<std::string>& arguments) {
  const std::string report = work_directory + "/peak.txt";
  std::vector<std::string> command = {"/usr/bin/time",           "-f", "%M", "-o", report,
                                      ProgramDirectory() + "vyn"};
  command.insert(command.end(), arguments.begin(), arguments.end());
  long peak_kb = 0;
  if (!RunQuietly(command) || !(std::ifstream(report) >> peak_kb)) peak_kb = 0;
  fs::remove(report);
  return peak_kb;
}

// Extraction at scale: `vyn extract` of an archive that holds one 1 GiB
// member (and a small one) against `cat` of the archive into a file, in
// interleaved rounds, with vyn's peak memory and the bytes it read; the
// bytes read extracting the 10,240-member archive; and `vyn convert` of 200
// photographic 640x480 pictures with one job and with two.
ExtractFigure MeasureExtraction() {
  ExtractFigure figure;
  figure.member = kBigMember;
  const std::string directory = work_directory + "/big-member";
  fs::remove_all(directory);
  fs::create_directories(directory);
  const std::string big = directory + "/BIG.DAT";
  const std::string small = directory + "/SMALL.TXT";
  {
    std::mt19937 random(7);
    Bytes block(1 << 20);
    for (unsigned char& b : block) b = static_cast<unsigned char>(random());
    std::ofstream out(big, std::ios::binary);
    for (std::uint64_t written = 0; written < kBigMember; written += block.size())
      out.write(reinterpret_cast<const char*>(block.data()),
                static_cast<std::streamsize>(
                    std::min<std::uint64_t>(block.size(), kBigMember - written)));
    WriteFileBytes(small, Bytes(100, 'x'));
  }
  const std::string archive = directory + "/big.arc";
  const std::string vyn = ProgramDirectory() + "vyn";
  bool ok = RunQuietly({vyn, "pack", "-o", archive, big, small});
  fs::remove(big);
  figure.big_archive = ok ? fs::file_size(archive) : 0;
  for (int round = 0; ok && round < kExtractRounds; ++round) {
    double seconds = 0;
    std::uint64_t read = 0;
    fs::remove_all(directory + "/out");
    ok = TimeAndCount({vyn, "extract", archive, "-o", directory + "/out"}, seconds, read);
    figure.vyn_seconds.push_back(seconds);
    figure.big_read = read;
    std::uint64_t cat_read = 0;
    ok = ok && TimeAndCount({"cat", archive}, seconds, cat_read, directory + "/cat.out");
    figure.cat_seconds.push_back(seconds);
    fs::remove(directory + "/cat.out");
  }
  std::error_code error;
  ok = ok && fs::file_size(directory + "/out/BIG.DAT", error) == kBigMember;
  fs::remove_all(directory + "/out");
  if (ok) figure.peak_kb = PeakOfVyn({"extract", archive, "-o", directory + "/out"});
  fs::remove_all(directory);

  const ArchiveSet& many = archives.back();
  double seconds = 0;
  figure.many_archive = fs::file_size(many.path);
  ok = ok && TimeAndCount({vyn, "extract", many.path, "-o", work_directory + "/out-many"},
                          seconds, figure.many_read);
  fs::remove_all(work_directory + "/out-many");

  // Photographic pictures, the kind whose PNG compression costs most.
  const std::string pictures = work_directory + "/convert-pictures";
  fs::remove_all(pictures);
  fs::create_directories(pictures);
  for (const CorpusEntry& entry : corpus) {
    if (entry.name != "photo-640x480") continue;
    for (int i = 0; i < kConvertPictures; ++i)
      WriteFileBytes(pictures + "/P" + std::to_string(i) + ".GP8", entry.file);
  }
  for (int round = 0; ok && round < 3; ++round) {
    for (int jobs = 1; jobs <= 2; ++jobs) {
      std::uint64_t read = 0;
      fs::remove_all(work_directory + "/converted");
      ok = ok && TimeAndCount({vyn, "convert", pictures, "-o", work_directory + "/converted", "-j",
                               std::to_string(jobs)},
                              seconds, read);
      figure.convert_seconds[jobs - 1].push_back(seconds);
    }
  }
  fs::remove_all(work_directory + "/converted");
  fs::remove_all(pictures);
  figure.ok = ok && figure.peak_kb > 0 && !figure.convert_seconds[0].empty();
  return figure;
}

std::string Fixed(double value, int decimals);

// ---------------------------------------------------------------- codec rounds

// The encoder and the decoder against their yardsticks in interleaved
// rounds: each round times every program once on every picture, so that
// whatever else the machine is doing weighs on all of them alike; each
// figure is a ratio taken within one round, reported as the minimum and the
// median over the rounds. Times are CPU time of this process, a call being
// repeated until it has taken kLeastSample.
constexpr int kCodecRounds = 7;
constexpr double kLeastSample = 0.02;

double CpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// CPU seconds a call of `step`.
template <class Step>
double TimeCall(Step step) {
  int calls = 0;
  const double start = CpuSeconds();
  double took = 0;
  do {
    step();
    ++calls;
    took = CpuSeconds() - start;
  } while (took < kLeastSample);
  return took / calls;
}

struct Spread {
  double min = 0;
  double median = 0;
  bool ok = false;
};

Spread SpreadOf(std::vector<double> values) {
  if (values.empty()) return {};
  std::sort(values.begin(), values.end());
  return {values.front(), values[values.size() / 2], true};
}

std::string ShowSpread(const Spread& s, int decimals) {
  return Fixed(s.min, decimals) + " / " + Fixed(s.median, decimals);
}

// The encoders timed and sized, on the 640x480 picture of each kind.
enum Encoder { kVyn, kClassicGreedy, kClassicLazy, kGreedyWholeWindow, kTableOptimal, kEncoders };
constexpr const char* kEncoderNames[kEncoders] = {"vyn encode", "classic greedy", "classic lazy",
                                                  "greedy, whole window", "per-length tables"};

struct EncoderRound {
  std::string name;
  std::size_t pixels = 0;
  std::array<std::size_t, kEncoders> bytes{};
  std::array<std::vector<double>, kEncoders> seconds;
};

Bytes RunEncoder(Encoder encoder, const Bytes& pixels) {
  switch (encoder) {
    case kVyn:
      return EncodeLzss(pixels);
    case kClassicGreedy:
      return ClassicTreeLzssEncode(pixels, false);
    case kClassicLazy:
      return ClassicTreeLzssEncode(pixels, true);
    case kGreedyWholeWindow:
      return GreedyLzssEncode(pixels);
    default:
      return TableOptimalLzssEncode(pixels);
  }
}

std::vector<EncoderRound> MeasureEncoderRounds() {
  std::vector<EncoderRound> figures;
  for (const CorpusEntry& entry : corpus) {
    if (entry.size.width != 640) continue;
    EncoderRound f;
    f.name = entry.name;
    f.pixels = entry.pixels.size();
    for (int e = 0; e < kEncoders; ++e) {
      const Bytes stream = RunEncoder(Encoder(e), entry.pixels);
      Bytes out(entry.pixels.size());
      if (ClassicLzssDecode(stream.data(), stream.size(), out.data(), out.size()) != out.size() ||
          out != entry.pixels) {
        std::fprintf(stderr, "%s: the stream of %s does not decode\n", entry.name.c_str(),
                     kEncoderNames[e]);
        return {};
      }
      f.bytes[e] = stream.size();
    }
    figures.push_back(std::move(f));
  }
  for (int round = 0; round < kCodecRounds; ++round) {
    std::fprintf(stderr, "  encoder round %d of %d\n", round + 1, kCodecRounds);
    for (std::size_t i = 0, k = 0; i < corpus.size(); ++i) {
      if (corpus[i].size.width != 640) continue;
      for (int e = 0; e < kEncoders; ++e) {
        figures[k].seconds[e].push_back(TimeCall(
            [&] { benchmark::DoNotOptimize(RunEncoder(Encoder(e), corpus[i].pixels).size()); }));
      }
      ++k;
    }
  }
  return figures;
}

// What a decoder works through: the decoder here spends its time per item
// (a literal or a match), the classic one per byte, so the fewer pixels an
// item gives, the less its lead. Matches from fewer than 16 bytes back cost
// it more again: their copies read bytes stored an instant before, and which
// distance comes next cannot be foreseen in a photograph or a dithered area.
struct StreamShape {
  double pixels_per_item = 0;
  double near = 0;  // share of the items that are matches from near back
};

StreamShape ShapeOf(const Bytes& file, std::size_t count) {
  const unsigned char* in = file.data() + kGp8StreamOffset;
  const unsigned char* const end = file.data() + file.size();
  std::size_t out = 0, items = 0, near = 0;
  while (out < count && in < end) {
    const unsigned flags = *in++;
    for (unsigned bit = 0; bit < 8 && out < count && in < end; ++bit, ++items) {
      if ((flags >> bit) & 1) {
        ++in;
        ++out;
        continue;
      }
      if (end - in < 2) break;
      const std::size_t position = in[0] | ((in[1] & 0xF0u) << 4);
      const std::size_t distance = ((4078 + out - position - 1) & 4095) + 1;
      near += distance < 16 ? 1 : 0;
      out += (in[1] & 0x0Fu) + 3;
      in += 2;
    }
  }
  if (items == 0) return {};
  return {static_cast<double>(out) / static_cast<double>(items),
          static_cast<double>(near) / static_cast<double>(items)};
}

// The decoder: GetPicture (memory input) and the classic decoder on the
// streams of both encoders, every picture of the corpus.
struct DecoderRound {
  std::string name;  // picture and encoder
  std::size_t pixels = 0;
  std::vector<double> plugin, classic, copy;
  StreamShape shape;
};

std::vector<DecoderRound> MeasureDecoderRounds() {
  std::vector<DecoderRound> figures;
  std::vector<std::pair<const CorpusEntry*, const Bytes*>> streams;
  for (const CorpusEntry& entry : corpus) {
    streams.push_back({&entry, &entry.file});
    streams.push_back({&entry, &entry.greedy_file});
    figures.push_back({entry.name + ", vyn encode", entry.pixels.size(), {}, {}, {},
                       ShapeOf(entry.file, entry.pixels.size())});
    figures.push_back({entry.name + ", greedy", entry.pixels.size(), {}, {}, {},
                       ShapeOf(entry.greedy_file, entry.pixels.size())});
  }
  for (int round = 0; round < kCodecRounds; ++round) {
    std::fprintf(stderr, "  decoder round %d of %d\n", round + 1, kCodecRounds);
    for (std::size_t i = 0; i < streams.size(); ++i) {
      const Bytes& file = *streams[i].second;
      const std::size_t count = streams[i].first->pixels.size();
      Bytes out(count);
      Bytes from(count, 0x5A);
      figures[i].plugin.push_back(TimeCall([&] {
        HLOCAL header = nullptr;
        HLOCAL pixels = nullptr;
        if (plugins->GetPicture(reinterpret_cast<const char*>(file.data()),
                                static_cast<std::int32_t>(file.size()), 1, &header, &pixels, 0,
                                0) == kPluginOk) {
          LocalFree(header);
          LocalFree(pixels);
        }
      }));
      figures[i].classic.push_back(TimeCall([&] {
        benchmark::DoNotOptimize(ClassicLzssDecode(
            file.data() + kGp8StreamOffset, file.size() - kGp8StreamOffset, out.data(), count));
        benchmark::ClobberMemory();
      }));
      figures[i].copy.push_back(TimeCall([&] {
        std::memcpy(out.data(), from.data(), count);
        benchmark::ClobberMemory();
      }));
    }
  }
  return figures;
}

// ---------------------------------------------------------------- the table

struct Result {
  double seconds = 0;  // per iteration
  bool ok = false;
};

class Collector : public benchmark::BenchmarkReporter {
 public:
  bool ReportContext(const Context&) override { return true; }
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type != Run::RT_Iteration) continue;
      Result r;
      r.ok = !run.error_occurred;
      r.seconds = run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
      // The name as registered, without the run's settings (/real_time...).
      const std::string name = run.run_name.function_name;
      results[name] = r;
      std::fprintf(stderr, "  %-36s %s\n", name.c_str(), r.ok ? "" : run.error_message.c_str());
    }
  }
  std::map<std::string, Result> results;
};

std::string Fixed(double value, int decimals) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

// 1234567 -> "1,234,567"
std::string Grouped(std::int64_t value) {
  const std::string digits = std::to_string(value < 0 ? -value : value);
  std::string text = value < 0 ? "-" : "";
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i != 0 && (digits.size() - i) % 3 == 0) text += ',';
    text += digits[i];
  }
  return text;
}

std::string Duration(double seconds) {
  if (seconds >= 1) return Fixed(seconds, 2) + " s";
  if (seconds >= 1e-3) return Fixed(seconds * 1e3, 2) + " ms";
  return Fixed(seconds * 1e6, 1) + " us";
}

struct Row {
  std::string what, measured, against, ratio, target, met, note;
};

class Table {
 public:
  void Add(Row row) { rows_.push_back(std::move(row)); }
  void Rule() { rows_.push_back({}); }
  void Print() const {
    const Row head{"figure", "measured", "against", "ratio", "target", "met", "for scale"};
    std::size_t w[7] = {};
    auto widen = [&w](const Row& r) {
      const std::string* cells[] = {&r.what,   &r.measured, &r.against, &r.ratio,
                                    &r.target, &r.met,      &r.note};
      for (int i = 0; i < 7; ++i) w[i] = std::max(w[i], cells[i]->size());
    };
    widen(head);
    for (const Row& r : rows_) widen(r);
    auto print = [&w](const Row& r) {
      std::printf("| %-*s | %*s | %*s | %*s | %-*s | %-*s | %-*s |\n", int(w[0]), r.what.c_str(),
                  int(w[1]), r.measured.c_str(), int(w[2]), r.against.c_str(), int(w[3]),
                  r.ratio.c_str(), int(w[4]), r.target.c_str(), int(w[5]), r.met.c_str(), int(w[6]),
                  r.note.c_str());
    };
    auto rule = [&w]() {
      std::printf("|");
      for (std::size_t width : w) std::printf("%s|", std::string(width + 2, '-').c_str());
      std::printf("\n");
    };
    print(head);
    rule();
    for (const Row& r : rows_) {
      if (r.what.empty()) continue;
      print(r);
    }
  }

 private:
  std::vector<Row> rows_;
};

std::string Met(bool met) { return met ? "yes" : "NO"; }

std::string MachineLine() {
  std::ifstream cpuinfo("/proc/cpuinfo");
  std::string line, model = "unknown CPU";
  while (std::getline(cpuinfo, line)) {
    if (line.rfind("model name", 0) == 0) {
      model = line.substr(line.find(':') + 2);
      break;
    }
  }
  return std::to_string(sysconf(_SC_NPROCESSORS_ONLN)) + " cores (nproc), " + model;
}

std::vector<Win32DecodeFigure> ReadWin32Figures(const std::string& path) {
  std::vector<Win32DecodeFigure> figures;
  std::ifstream in(path);
  Win32DecodeFigure f;
  while (in >> f.name >> f.dll_mbps >> f.classic_mbps >> f.memcpy_mbps >> f.classic_in_block_mbps >>
         f.decoder_alone_mbps)
    figures.push_back(f);
  return figures;
}

// Decoding, in interleaved rounds: GetPicture against the classic decoder
// on the same stream, for the streams of both encoders.
void AddDecoderRows(Table& table, const std::vector<DecoderRound>& decoder) {
  for (const DecoderRound& d : decoder) {
    std::vector<double> ratios, copy_ratios;
    for (std::size_t r = 0; r < d.plugin.size(); ++r) {
      ratios.push_back(d.classic[r] / d.plugin[r]);
      copy_ratios.push_back(d.copy[r] / d.plugin[r]);
    }
    const Spread ratio = SpreadOf(ratios);
    const double bytes = static_cast<double>(d.pixels);
    const Spread plugin = SpreadOf(d.plugin);
    const Spread classic = SpreadOf(d.classic);
    table.Add({"decode " + d.name + " (MB/s)",
               "GetPicture " + Fixed(bytes / plugin.median / kMegabyte, 0),
               "classic " + Fixed(bytes / classic.median / kMegabyte, 0),
               ShowSpread(ratio, 2) + "x", ">= 4x", Met(ratio.ok && ratio.min >= 4),
               Fixed(100 * SpreadOf(copy_ratios).median, 0) + "% of memcpy; " +
                   Fixed(d.shape.pixels_per_item, 1) + " pixels an item, " +
                   Fixed(100 * d.shape.near, 0) + "% near"});
  }
}

// Encoding, in interleaved rounds on the 640x480 pictures: CPU time against
// the classic greedy encoder and against the per-length tables the encoder
// had before; sizes against every yardstick.
void AddEncoderRows(Table& table, const std::vector<EncoderRound>& encoder_rounds) {
  for (const EncoderRound& e : encoder_rounds) {
    std::vector<double> against_classic, against_tables, against_lazy;
    for (std::size_t r = 0; r < e.seconds[kVyn].size(); ++r) {
      against_classic.push_back(e.seconds[kVyn][r] / e.seconds[kClassicGreedy][r]);
      against_lazy.push_back(e.seconds[kVyn][r] / e.seconds[kClassicLazy][r]);
      against_tables.push_back(e.seconds[kTableOptimal][r] / e.seconds[kVyn][r]);
    }
    const Spread classic = SpreadOf(against_classic);
    const Spread tables = SpreadOf(against_tables);
    const double ns = 1e9 / static_cast<double>(e.pixels);
    table.Add({"encode " + e.name + " CPU time (ns/pixel)",
               "vyn encode " + Fixed(SpreadOf(e.seconds[kVyn]).median * ns, 0),
               "classic greedy " + Fixed(SpreadOf(e.seconds[kClassicGreedy]).median * ns, 0),
               ShowSpread(classic, 2), "<= 1.0", Met(classic.ok && classic.median <= 1.0),
               "classic lazy " + Fixed(SpreadOf(e.seconds[kClassicLazy]).median * ns, 0) + " (" +
                   ShowSpread(SpreadOf(against_lazy), 2) + "); greedy, whole window " +
                   Fixed(SpreadOf(e.seconds[kGreedyWholeWindow]).median * ns, 0)});
    table.Add({"encode " + e.name + " speed-up on the old parse",
               "vyn encode " + Fixed(SpreadOf(e.seconds[kVyn]).median * ns, 0),
               "per-length tables " + Fixed(SpreadOf(e.seconds[kTableOptimal]).median * ns, 0),
               ShowSpread(tables, 2) + "x", ">= 3x", Met(tables.ok && tables.median >= 3), ""});
    const auto vyn_bytes = static_cast<double>(e.bytes[kVyn]);
    const std::size_t whole = e.bytes[kGreedyWholeWindow];
    table.Add(
        {"encode " + e.name + " (stream bytes)",
         "vyn encode " + Grouped(static_cast<std::int64_t>(e.bytes[kVyn])),
         "greedy, whole window " + Grouped(static_cast<std::int64_t>(whole)),
         Fixed(vyn_bytes / static_cast<double>(whole), 4), "<= 1", Met(e.bytes[kVyn] <= whole),
         "classic greedy " + Fixed(vyn_bytes / static_cast<double>(e.bytes[kClassicGreedy]), 4) +
             ", lazy " + Fixed(vyn_bytes / static_cast<double>(e.bytes[kClassicLazy]), 4) +
             ", per-length tables " +
             Fixed(vyn_bytes / static_cast<double>(e.bytes[kTableOptimal]), 4)});
  }
}

void PrintTable(const Collector& collector, const std::vector<DecoderRound>& decoder,
                const std::vector<EncoderRound>& encoder_rounds,
                const std::vector<PeakFigure>& peaks, const std::vector<EncoderFigure>& encoder,
                const ExtractFigure& extraction, const std::string& win32_path) {
  auto get = [&collector](const std::string& name) {
    const auto it = collector.results.find(name);
    return it == collector.results.end() ? Result{} : it->second;
  };
  Table table;
  AddDecoderRows(table, decoder);

  // Listing.
  const std::size_t listing_bytes = (kListingMembers + 1) * sizeof(FileInfoRecord);
  const Result floor = get("listing/zero-filled-block");
  for (const char* input : {"memory", "file"}) {
    const Result listing = get(std::string("listing/10240/") + input);
    if (!listing.ok || !floor.ok) continue;
    const double ratio = listing.seconds / floor.seconds;
    table.Add(
        {std::string("list 10,240 members, ") + input + " input",
         "GetArchiveInfo " + Duration(listing.seconds),
         "zero-filled " + Fixed(listing_bytes / kMegabyte, 1) + " MB " + Duration(floor.seconds),
         Fixed(ratio, 2) + "x", "<= 2x", Met(ratio <= 2), ""});
  }

  // Lookup.
  const Result smallest = get("lookup/16");
  for (std::size_t count : kLookupMemberCounts) {
    const Result lookup = get("lookup/" + std::to_string(count));
    if (!lookup.ok || !smallest.ok) continue;
    const double ratio = lookup.seconds / smallest.seconds;
    const bool targeted = count == kListingMembers;
    table.Add({"look up a member of " + Grouped(static_cast<std::int64_t>(count)),
               "GetFile " + Duration(lookup.seconds), "16 members " + Duration(smallest.seconds),
               Fixed(ratio, 2) + "x", targeted ? "<= 5x" : "", targeted ? Met(ratio <= 5) : "",
               ""});
  }

  // Extraction.
  const Result vyn = get("extract/10240/vyn");
  const Result cp = get("extract/10240/cp");
  if (vyn.ok && cp.ok) {
    const double ratio = vyn.seconds / cp.seconds;
    table.Add({"extract 10,240 members", "vyn extract " + Duration(vyn.seconds),
               "cp -r " + Duration(cp.seconds), Fixed(ratio, 2) + "x", "<= 1.5x", Met(ratio <= 1.5),
               ""});
  } else {
    table.Add({"extract 10,240 members", "not measured", "", "", "<= 1.5x", "NO", ""});
  }

  AddEncoderRows(table, encoder_rounds);
  for (const CorpusEntry& entry : corpus) {
    if (entry.size.width == 640) continue;
    const auto optimal = static_cast<std::int64_t>(entry.file.size() - kGp8StreamOffset);
    const auto greedy = static_cast<std::int64_t>(entry.greedy_bytes);
    const double ratio = static_cast<double>(optimal) / static_cast<double>(greedy);
    table.Add(
        {"encode " + entry.name + " (stream bytes)", "vyn encode " + Grouped(optimal),
         "greedy, whole window " + Grouped(greedy), Fixed(ratio, 4), "<= 1", Met(optimal <= greedy),
         Fixed(100.0 * static_cast<double>(optimal) / static_cast<double>(entry.pixels.size()), 1) +
             "% of the pixels"});
  }

  // Peak memory.
  for (const PeakFigure& p : peaks) {
    const std::int64_t beyond = p.peak - p.expected;
    table.Add({"GetPicture peak heap, " + p.name + ", file input", Grouped(p.peak) + " B",
               "file+header+pixels " + Grouped(p.expected) + " B",
               Fixed(static_cast<double>(p.peak) / static_cast<double>(p.expected), 4),
               "nothing more of size", Met(beyond < 65536), Grouped(beyond) + " B besides"});
  }

  // The encoder's memory and time.
  for (const EncoderFigure& e : encoder) {
    const double per_pixel = static_cast<double>(e.working) / static_cast<double>(e.pixels);
    table.Add({"EncodeGp8 heap beyond the picture, " + e.name, Fixed(per_pixel, 2) + " B/pixel",
               Grouped(e.working) + " B", "", "<= 8 B/pixel", Met(per_pixel <= 8),
               Duration(e.seconds) + ", " +
                   Fixed(e.seconds * 1e9 / static_cast<double>(e.pixels), 0) + " ns/pixel"});
  }

  // Extraction at scale, and convert with and without -j.
  if (extraction.ok) {
    std::vector<double> ratios;
    for (std::size_t i = 0; i < extraction.vyn_seconds.size(); ++i)
      ratios.push_back(extraction.vyn_seconds[i] / extraction.cat_seconds[i]);
    std::sort(ratios.begin(), ratios.end());
    const double median = ratios[ratios.size() / 2];
    table.Add({"vyn extract of a 1 GiB member",
               "vyn " + Duration(*std::min_element(extraction.vyn_seconds.begin(),
                                                   extraction.vyn_seconds.end())),
               "cat " + Duration(*std::min_element(extraction.cat_seconds.begin(),
                                                   extraction.cat_seconds.end())),
               Fixed(ratios.front(), 2) + "x / " + Fixed(median, 2) + "x", "<= 2x",
               Met(median <= 2), "min / median of " + std::to_string(ratios.size()) +
                                     " interleaved rounds, wall time"});
    const double peak_mb = static_cast<double>(extraction.peak_kb) * 1024.0 / 1e6;
    table.Add({"vyn extract of a 1 GiB member, peak memory", Fixed(peak_mb, 0) + " MB",
               "member " + Fixed(static_cast<double>(extraction.member) / 1e6, 0) + " MB",
               Fixed(peak_mb * 1e6 / static_cast<double>(extraction.member), 3) + "x", "< 100 MB",
               Met(peak_mb < 100), "peak RSS by /usr/bin/time; members come in 16 MiB pieces"});
    for (const auto& [what, read, size] :
         {std::tuple{"1 GiB member", extraction.big_read, extraction.big_archive},
          std::tuple{"10,240 members", extraction.many_read, extraction.many_archive}}) {
      const double ratio = static_cast<double>(read) / static_cast<double>(size);
      table.Add({std::string("bytes read extracting ") + what, Grouped(read) + " B",
                 "archive " + Grouped(size) + " B", Fixed(ratio, 3) + "x", "<= 1.1x",
                 Met(ratio <= 1.1), "rchar of /proc/PID/io, plug-ins' own files included"});
    }
    std::vector<double> speedups;
    for (std::size_t i = 0; i < extraction.convert_seconds[0].size(); ++i)
      speedups.push_back(extraction.convert_seconds[0][i] / extraction.convert_seconds[1][i]);
    std::sort(speedups.begin(), speedups.end());
    const double fastest = *std::min_element(extraction.convert_seconds[1].begin(),
                                             extraction.convert_seconds[1].end());
    table.Add({"vyn convert of 200 photographic 640x480 GP8s, -j 2",
               Fixed(kConvertPictures / fastest, 0) + " pictures/s",
               "-j 1 " + Fixed(kConvertPictures / *std::min_element(
                                                       extraction.convert_seconds[0].begin(),
                                                       extraction.convert_seconds[0].end()),
                               0) + " pictures/s",
               Fixed(speedups.back(), 2) + "x / " + Fixed(speedups[speedups.size() / 2], 2) + "x",
               "near the cores", Met(speedups[speedups.size() / 2] >= 1.5),
               "max / median of 3 interleaved rounds; PNG data through libdeflate level 6"});
  } else {
    table.Add({"vyn extract of a 1 GiB member", "not measured", "", "", "<= 2x", "NO", ""});
  }

  // The 32-bit DLL under Wine.
  const std::vector<Win32DecodeFigure> win32 = ReadWin32Figures(win32_path);
  double win32_log = 0;
  double win32_block_log = 0;
  double win32_alone_log = 0;
  for (const Win32DecodeFigure& f : win32) {
    const double ratio = f.dll_mbps / f.classic_mbps;
    const double block_ratio = f.dll_mbps / f.classic_in_block_mbps;
    win32_log += std::log(ratio);
    win32_block_log += std::log(block_ratio);
    win32_alone_log += std::log(f.decoder_alone_mbps / f.classic_mbps);
    // The target is the decoder's own: GetPicture also pays for the fresh
    // pages of every block it hands over, which the classic decoder writing
    // into a kept buffer does not.
    const double alone_ratio = f.decoder_alone_mbps / f.classic_mbps;
    table.Add({"win32 decode " + f.name + " (MB/s)",
               "decoder alone " + Fixed(f.decoder_alone_mbps, 0),
               "classic i686 " + Fixed(f.classic_mbps, 0), Fixed(alone_ratio, 2) + "x", ">= 4x",
               Met(alone_ratio >= 4),
               "wennel.dll GetPicture " + Fixed(f.dll_mbps, 0) + " (" + Fixed(ratio, 2) +
                   "x); memcpy " + Fixed(f.memcpy_mbps, 0) + "; classic into a new block " +
                   Fixed(f.classic_in_block_mbps, 0) + " (" + Fixed(block_ratio, 2) + "x)"});
  }
  if (!win32.empty()) {
    const double n = static_cast<double>(win32.size());
    table.Add({"win32 decode, geometric mean of " + std::to_string(win32.size()), "", "",
               Fixed(std::exp(win32_alone_log / n), 2) + "x", ">= 4x",
               Met(std::exp(win32_alone_log / n) >= 4),
               "decoder alone; one process under Wine; GetPicture " +
                   Fixed(std::exp(win32_log / n), 2) + "x; against classic into a new block " +
                   Fixed(std::exp(win32_block_log / n), 2) + "x"});
  } else {
    table.Add({"win32 decode, geometric mean", "not measured", "", "", ">= 4x", "NO",
               "no figures in " + win32_path});
  }

  std::printf("Machine: %s\n\n", MachineLine().c_str());
  table.Print();
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  std::string win32_path;
  bool prepare_only = false;
  bool decoder_only = false;
  bool encoder_only = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--work" && i + 1 < argc) {
      work_directory = argv[++i];
    } else if (arg == "--win32" && i + 1 < argc) {
      win32_path = argv[++i];
    } else if (arg == "--prepare-only") {
      prepare_only = true;
    } else if (arg == "--decoder-only") {
      decoder_only = true;
    } else if (arg == "--encoder-only") {
      encoder_only = true;
    } else {
      std::fprintf(stderr,
                   "usage: %s --work DIR [--prepare-only] [--decoder-only | --encoder-only] [--win32 FILE] "
                   "[benchmark flags]\n",
                   argv[0]);
      return 2;
    }
  }
  if (work_directory.empty()) work_directory = ProgramDirectory() + "../bench-work";

  if (!PrepareCorpus(work_directory + "/corpus")) {
    std::fprintf(stderr, "cannot write the corpus in %s\n", work_directory.c_str());
    return 1;
  }
  if (prepare_only) return 0;
  // One part of the table alone, for quick looks at the codecs.
  const auto print_alone = [](const char* what, const std::function<void(Table&)>& add) {
    std::fprintf(stderr, "%s in interleaved rounds\n", what);
    Table table;
    add(table);
    std::printf("Machine: %s\n\n", MachineLine().c_str());
    table.Print();
    return 0;
  };
  if (encoder_only) {
    return print_alone("the encoders",
                       [](Table& table) { AddEncoderRows(table, MeasureEncoderRounds()); });
  }
  if (!decoder_only) PrepareArchives();

  Plugins loaded;
  plugins = &loaded;
  loaded.GetPicture = loaded.wennel.Export<GetPictureFn>("GetPicture");
  loaded.IsSupported = loaded.cobbet.Export<IsSupportedFn>("IsSupported");
  loaded.GetArchiveInfo = loaded.cobbet.Export<GetArchiveInfoFn>("GetArchiveInfo");
  loaded.GetFile = loaded.cobbet.Export<GetFileFn>("GetFile");
  if (!loaded.GetPicture || !loaded.IsSupported || !loaded.GetArchiveInfo || !loaded.GetFile) {
    std::fprintf(stderr, "the plug-ins cannot be loaded from %s\n", ProgramDirectory().c_str());
    return 1;
  }
  if (!CheckDecoders()) return 1;
  if (decoder_only) {
    return print_alone("the decoder",
                       [](Table& table) { AddDecoderRows(table, MeasureDecoderRounds()); });
  }
  const std::vector<PeakFigure> peaks = MeasurePeaks();
  std::fprintf(stderr, "measuring the encoder, extraction of a 1 GiB member and convert\n");
  const std::vector<EncoderFigure> encoder = MeasureEncoder();
  const ExtractFigure extraction = MeasureExtraction();
  std::fprintf(stderr, "the decoder and the encoders in interleaved rounds\n");
  const std::vector<DecoderRound> decoder_rounds = MeasureDecoderRounds();
  const std::vector<EncoderRound> encoder_rounds = MeasureEncoderRounds();

  const ArchiveSet* big = &archives.back();
  benchmark::RegisterBenchmark("listing/10240/memory", ListArchive, big, true)->UseRealTime();
  benchmark::RegisterBenchmark("listing/10240/file", ListArchive, big, false)->UseRealTime();
  benchmark::RegisterBenchmark("listing/zero-filled-block", WriteZeroBlock,
                               (kListingMembers + 1) * sizeof(FileInfoRecord))
      ->UseRealTime();
  for (const ArchiveSet& set : archives) {
    benchmark::RegisterBenchmark(("lookup/" + std::to_string(set.members)).c_str(), LookUpMember,
                                 &set)
        ->UseRealTime();
  }
  benchmark::RegisterBenchmark("extract/10240/vyn", ExtractAll, true)->UseRealTime()->Iterations(3);
  benchmark::RegisterBenchmark("extract/10240/cp", ExtractAll, false)->UseRealTime()->Iterations(3);

  Collector collector;
  benchmark::RunSpecifiedBenchmarks(&collector);
  benchmark::Shutdown();
  std::fprintf(stderr, "\n");
  PrintTable(collector, decoder_rounds, encoder_rounds, peaks, encoder, extraction, win32_path);
  return 0;
}
