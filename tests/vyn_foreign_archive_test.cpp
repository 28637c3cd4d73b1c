// vyn on archives made by other tools: members that share a position,
// members of one name, names in the code page of their maker, names that
// would lead elsewhere, the choice of members by name and pattern, and
// pictures converted straight out of them. The
// archives are built directly by the tests' own writer, never by vyn pack.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <map>
#include <regex>
#include <set>
#include <sstream>

#include "arc_writer.h"
#include "gp8_writer.h"
#include "host/formats/picture_io.h"
#include "host/plugins/archive_members.h"
#include "host_test_support.h"

#if !defined(_WIN32)
#include <sys/resource.h>
#endif

namespace {

using host_test::VynRun;

using host_test::Contains;

// Every file of a directory by its name in UTF-8, with its bytes.
std::map<std::string, Bytes> FilesIn(const std::string& directory) {
  std::map<std::string, Bytes> files;
  for (const auto& entry : std::filesystem::directory_iterator(directory)) {
    const std::u8string name = entry.path().filename().u8string();
    std::ifstream in(entry.path(), std::ios::binary);
    files[std::string(name.begin(), name.end())] =
        Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  return files;
}

class ForeignArchive : public ::testing::Test {
 protected:
  VynRun Vyn(const std::vector<std::string>& args) { return host_test::RunVyn(args, capture_); }

  std::string Write(const std::string& name, const Bytes& bytes) {
    const std::string path = dir_.File(name);
    WriteBytes(path, bytes);
    return path;
  }

#if !defined(_WIN32)
  // vyn run with no file allowed to grow past `limit` bytes, and the signal
  // for one that tries ignored, so that the write fails as on a full disk.
  VynRun VynWithFileSizeLimit(const std::vector<std::string>& args, std::uint64_t limit) {
    rlimit old_limit{};
    ::getrlimit(RLIMIT_FSIZE, &old_limit);
    auto* old_handler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old_limit;
    small.rlim_cur = limit;
    ::setrlimit(RLIMIT_FSIZE, &small);
    VynRun run = Vyn(args);
    ::setrlimit(RLIMIT_FSIZE, &old_limit);
    std::signal(SIGXFSZ, old_handler);
    return run;
  }
#endif

  // A fresh directory to extract into, not yet made.
  std::string Out() { return dir_.File("out" + std::to_string(++outs_)); }

  ScratchDirectory dir_;
  ScratchDirectory capture_;
  int outs_ = 0;
};

TEST_F(ForeignArchive, EveryListedMemberComesOutWithItsOwnSize) {
  // A member of 0 bytes at the position of the member after it, and two
  // members at one position with different sizes. GetFile's lookup by
  // position finds the first of each.
  const Bytes data = TextBytes("0123456789ABCDEF");
  const std::string archive =
      Write("shared.ARC", ArcImage(5,
                                   {ArcEntry("ZERO.TXT", 0, 104), ArcEntry("TEN.TXT", 10, 104),
                                    ArcEntry("FOUR.TXT", 4, 114), ArcEntry("SIX.TXT", 6, 114),
                                    ArcEntry("LAST.TXT", 2, 118)},
                                   false, data));
  // Listed as they are, with a note for each member that overlaps another.
  const VynRun listed = Vyn({"list", archive});
  EXPECT_EQ(listed.status, 0);
  EXPECT_EQ(listed.err, "vyn: note: " + archive + ": member #4 (SIX.TXT) overlaps #3 (FOUR.TXT)\n" +
                            "vyn: note: " + archive + ": member #5 (LAST.TXT) overlaps #4 (SIX.TXT)\n");
  EXPECT_EQ(Vyn({"identify", archive}).out,
            archive + ": Vyn Archived File(ARC), 5 members, plain directory, 2 members "
                      "overlapping another\n");
  const std::string out = Out();
  const VynRun run = Vyn({"extract", archive, "-o", out});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "extracted 5 of 5 members (22 bytes) from " + archive + " into " + out + "\n");
  EXPECT_EQ(FilesIn(out), (std::map<std::string, Bytes>{{"ZERO.TXT", {}},
                                                        {"TEN.TXT", TextBytes("0123456789")},
                                                        {"FOUR.TXT", TextBytes("ABCD")},
                                                        {"SIX.TXT", TextBytes("ABCDEF")},
                                                        {"LAST.TXT", TextBytes("EF")}}));

  // To standard output, in directory order, and no file.
  const VynRun piped = Vyn({"extract", "--stdout", archive, "SIX.TXT", "TEN.TXT"});
  EXPECT_EQ(piped.status, 0) << piped.err;
  EXPECT_EQ(piped.out, "0123456789ABCDEF");
  EXPECT_EQ(piped.err, "");
  EXPECT_EQ(dir_.Entries(), (std::vector<std::string>{"out1", "shared.ARC"}));
  EXPECT_EQ(Vyn({"extract", "--stdout", "-o", out, archive}).status, 2);  // no directory for it
}

TEST_F(ForeignArchive, MembersOfOneNameAreAllKept) {
  const std::string archive =
      Write("same.ARC", BuildArchive({{"a.txt", TextBytes("first")},
                                      {"a.txt", TextBytes("second")},
                                      {"a~2.txt", TextBytes("own")},  // a numbered name is taken
                                      {"a.txt", TextBytes("third")}}));
  struct Case {
    std::vector<std::string> options;
    Bytes existing;  // of a.txt before the run; empty: none
    std::map<std::string, Bytes> files;
    std::string counts;  // of the summary line
    std::string kept;
    std::string note;
  };
  const std::vector<Case> cases = {
      {{},
       {},
       {{"a.txt", TextBytes("first")},
        {"a~2.txt", TextBytes("own")},
        {"a~3.txt", TextBytes("second")},
        {"a~4.txt", TextBytes("third")}},
       "4 of 4 members (19 bytes)",
       "",
       "holds more than one member named a.txt; the later one is written as a~3.txt"},
      {{"--overwrite"},
       {},
       {{"a.txt", TextBytes("third")}, {"a~2.txt", TextBytes("own")}},
       "4 of 4 members (19 bytes)",
       "",
       "holds more than one member named a.txt; the later one is kept"},
      {{"-k"},
       TextBytes("old"),
       {{"a.txt", TextBytes("old")},
        {"a~2.txt", TextBytes("own")},
        {"a~3.txt", TextBytes("second")},
        {"a~4.txt", TextBytes("third")}},
       "3 of 4 members (14 bytes)",
       "; 1 file already there left alone",
       "holds more than one member named a.txt; the later one is written as a~4.txt"},
  };
  for (const Case& c : cases) {
    const std::string out = Out();
    if (!c.existing.empty()) {
      std::filesystem::create_directory(out);
      WriteBytes(out + "/a.txt", c.existing);
    }
    std::vector<std::string> args = {"extract", archive, "-o", out};
    args.insert(args.end(), c.options.begin(), c.options.end());
    const VynRun run = Vyn(args);
    const std::string what = c.options.empty() ? "default" : c.options[0];
    EXPECT_EQ(run.status, 0) << what << run.err;
    EXPECT_EQ(FilesIn(out), c.files) << what;
    EXPECT_EQ(run.out,
              "extracted " + c.counts + " from " + archive + " into " + out + c.kept + "\n");
    EXPECT_TRUE(Contains(run.err, "vyn: note: " + archive + ": " + c.note)) << what << run.err;
  }
}

TEST_F(ForeignArchive, NamesAreReadInTheirMakersCodePage) {
  struct Case {
    std::string raw;
    std::string encoding;
    std::string shown;  // in the table, and as the file's name
  };
  std::vector<Case> cases = {
      {"\x83\x5C\x95\x5C.TXT", "cp932", "ソ表.TXT"},  // second bytes 0x5C
      {"\x83\x74\x83\x67.TXT", "cp932", "フト.TXT"},
      {"\xE9t\xE9.txt", "latin1", "été.txt"},
      {"\xC3\xA9t\xC3\xA9.txt", "utf-8", "été.txt"},
      {"\xE9t\xE9.txt", "utf-8", "%xE9t%xE9.txt"},  // does not decode
      {"\x83.txt", "cp932", "%x83.txt"},             // a lead byte without its second
      {"a\x1B[2J.t", "cp932", "a%x1B[2J.t"},         // control characters
      {"n\n.txt", "latin1", "n%x0A.txt"},
      {"\x9Bm.txt", "latin1", "%x9Bm.txt"},  // a C1 control
  };
  for (const char* encoding : {"cp932", "latin1", "utf-8", "CP932"})
    cases.push_back({"Read~Me.1st", encoding, "Read~Me.1st"});  // ASCII as it is in all

  for (const Case& c : cases) {
    const std::string what = c.encoding + " " + c.shown;
    const std::string archive =
        Write("names.ARC", BuildArchive({{c.raw, TextBytes("x")}, {"OTHER.TXT", TextBytes("y")}}));
    const VynRun list = Vyn({"list", archive, "--encoding", c.encoding});
    EXPECT_EQ(list.status, 0) << what << list.err;
    EXPECT_TRUE(Contains(list.out, "    1           1          44  " + c.shown + "\n"))
        << what << list.out;
    const std::string out = Out();
    const VynRun run = Vyn({"extract", archive, "-o", out, "--encoding", c.encoding});
    EXPECT_EQ(run.status, 0) << what << run.err;
    EXPECT_EQ(FilesIn(out), (std::map<std::string, Bytes>{{c.shown, TextBytes("x")},
                                                          {"OTHER.TXT", TextBytes("y")}}))
        << what;
  }

  const VynRun unknown = Vyn({"list", dir_.File("names.ARC"), "--encoding", "no-such-code"});
  EXPECT_EQ(unknown.status, 2);
  EXPECT_TRUE(Contains(unknown.err, "unknown encoding \"no-such-code\"")) << unknown.err;
}

// Every name becomes one file in the destination, named the same on every
// system: what would lead elsewhere, or what Windows allows in no file name,
// is escaped, and so is the escape character itself.
TEST_F(ForeignArchive, EveryNameBecomesOneFileInTheDestination) {
  struct Case {
    std::string raw;
    std::string file;
  };
  const std::vector<Case> cases = {
      {"../up.txt", "..%x2Fup.txt"}, {"a/b.txt", "a%x2Fb.txt"},  {"..", ".%x2E"},
      {".", "%x2E"},                 {"\x1B/.txt", "%x1B%x2F.txt"}, {"a\\b.txt", "a%x5Cb.txt"},
      {"c:d.txt", "c%x3Ad.txt"},     {"CON.TXT", "%x43ON.TXT"},   {"lpt1.x", "%x6Cpt1.x"},
      {"A.T*", "A.T%x2A"},           {"<|>?.\"", "%x3C%x7C%x3E%x3F.%x22"},
      {"a..", "a.%x2E"},             {"100%.T", "100%x25.T"},     {"\\x81.T", "%x5Cx81.T"},
      {"\x81.T", "%x81.T"},
  };
  for (const Case& c : cases) {
    const std::string archive =
        Write("esc.ARC", BuildArchive({{c.raw, TextBytes("odd")}, {"ok.txt", TextBytes("ok")}}));
    const std::string out = Out();
    const VynRun run = Vyn({"extract", archive, "-o", out});
    EXPECT_EQ(run.status, 0) << c.file << run.err;
    EXPECT_EQ(FilesIn(out), (std::map<std::string, Bytes>{{c.file, TextBytes("odd")},
                                                          {"ok.txt", TextBytes("ok")}}))
        << c.file;
    EXPECT_TRUE(Contains(Vyn({"list", archive}).out, "  " + c.file + "\n")) << c.file;
    EXPECT_EQ(dir_.Entries().size(), static_cast<std::size_t>(outs_ + 1)) << c.file;
  }
}

// Each member's name bytes and size, as list --json gives them.
std::multiset<std::string> RawNamesAndSizes(const std::string& json) {
  std::multiset<std::string> members;
  std::istringstream lines(json);
  const std::regex member("\"size\": ([0-9]+),.*\"raw\": \"([0-9A-F ]*)\"");
  std::smatch found;
  for (std::string line; std::getline(lines, line);) {
    if (std::regex_search(line, found, member)) members.insert(found[2].str() + " / " + found[1].str());
  }
  return members;
}

// Names holding every byte from 0x01 to 0xFF, in CP932, go through extract
// and pack and come back as the same bytes: the file names on disk read back
// to the names they were written for.
TEST_F(ForeignArchive, EveryByteOfANameComesBackThroughExtractAndPack) {
  std::vector<std::string> names = {"A.T*", "100%.T", "\\x81.T", "a/b.txt", "CON.TXT",
                                    "<|>?.\"", "#1.T", "[1].T"};
  std::string stem;
  for (int byte = 1; byte <= 0xFF; ++byte) {
    if (byte != '.') stem += static_cast<char>(byte);
    if (stem.size() == 9 || byte == 0xFF) {
      names.push_back(stem + ".T");
      stem.clear();
    }
  }
  std::vector<ArcMember> members;
  for (const std::string& name : names)
    members.push_back({name, Bytes(members.size() + 1, 'm')});
  const std::string original = Write("all.ARC", BuildArchive(members, true));
  const std::string out = Out();
  const VynRun extracted = Vyn({"extract", original, "-o", out});
  ASSERT_EQ(extracted.status, 0) << extracted.err;
  EXPECT_EQ(FilesIn(out).size(), names.size());
  const VynRun packed = Vyn({"pack", "-o", dir_.File("back.ARC"), out});
  ASSERT_EQ(packed.status, 0) << packed.err;
  const std::multiset<std::string> before = RawNamesAndSizes(Vyn({"list", "--json", original}).out);
  EXPECT_EQ(before.size(), names.size());
  EXPECT_EQ(RawNamesAndSizes(Vyn({"list", "--json", dir_.File("back.ARC")}).out), before);
}

// A member larger than a piece comes through GetFile in pieces, each in its
// place: written to a file, to standard output and read by test alike.
TEST_F(ForeignArchive, AMemberOfSeveralPiecesComesOutWhole) {
  Bytes large(kMemberPieceSize * 5 / 2 + 3);
  for (std::size_t i = 0; i < large.size(); ++i) large[i] = static_cast<unsigned char>(i % 251);
  const std::string archive =
      Write("large.ARC", BuildArchive({{"LARGE.BIN", large}, {"after.txt", TextBytes("after")}}));
  const std::string out = Out();
  ASSERT_EQ(Vyn({"extract", archive, "-o", out}).status, 0);
  EXPECT_TRUE(ReadBytes(out + "/LARGE.BIN") == large);
  EXPECT_EQ(ReadBytes(out + "/after.txt"), TextBytes("after"));
  const VynRun streamed = Vyn({"extract", "--stdout", archive});
  EXPECT_TRUE(streamed.out == std::string(large.begin(), large.end()) + "after");
  EXPECT_EQ(Vyn({"test", archive}).status, 0);
}

TEST_F(ForeignArchive, TheArchiveIsNeverReplacedByItsOwnMember) {
  const Bytes image =
      BuildArchive({{"x.ARC", TextBytes("not an archive")}, {"b.txt", TextBytes("b")}});
  const std::string archive = Write("x.ARC", image);
  const VynRun run = Vyn({"extract", archive, "-o", dir_.path().string()});
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(Contains(
      run.err, "member \"x.ARC\" is not extracted: it would replace the archive being read"))
      << run.err;
  EXPECT_EQ(ReadBytes(archive), image);
  EXPECT_EQ(ReadBytes(dir_.File("b.txt")), TextBytes("b"));
}

TEST_F(ForeignArchive, MembersAreChosenByNameOrPattern) {
  const std::string archive = Write("pick.ARC", BuildArchive({{"PIC.GP8", TextBytes("1")},
                                                              {"pic2.gp8", TextBytes("2")},
                                                              {"a.txt", TextBytes("3")},
                                                              {"b.txt", TextBytes("4")},
                                                              {"[x].txt", TextBytes("5")},
                                                              {"[1].TXT", TextBytes("6")},
                                                              {"1.TXT", TextBytes("7")},
                                                              {"A.T*", TextBytes("8")},
                                                              {"\x83\x5C\x95\x5C.TXT", {}}}));
  struct Case {
    std::vector<std::string> args;
    std::set<std::string> chosen;
    std::string complaint;  // when something chose nothing
  };
  const std::vector<Case> cases = {
    {{"*.GP8"}, {"PIC.GP8"}, ""},
    {{"*.GP8", "--ignore-case"}, {"PIC.GP8", "pic2.gp8"}, ""},
    {{"?.txt"}, {"a.txt", "b.txt"}, ""},
    {{"[ab].txt"}, {"a.txt", "b.txt"}, ""},
    {{"[!a-a].txt", "p*"}, {"b.txt", "pic2.gp8"}, ""},
    {{"[x].txt"}, {"[x].txt"}, ""},  // the name itself, though no "x.txt" matches
    {{"[1].TXT"}, {"[1].TXT", "1.TXT"}, ""},  // the name, and what it matches as a pattern
    {{"%x5B1].TXT"}, {"[1].TXT"}, ""},        // escaped: a "[" as it is
    {{"[[]1].TXT"}, {"[1].TXT"}, ""},
    {{"*%x2A"}, {"A.T%x2A"}, ""},
    {{"A.T%x2A"}, {"A.T%x2A"}, ""},
    {{"A.T*"}, {"A.T%x2A"}, ""},  // a pattern that matches the name
    {{"A.TXT", "--ignore-case"}, {"a.txt"}, ""},
    {{"A.TXT", "b.txt"}, {"b.txt"}, "has no member named \"A.TXT\""},
    {{"*.bmp"}, {}, "has no member matching \"*.bmp\""},
#if !defined(_WIN32)
    {{"ソ*"}, {"ソ表.TXT"}, ""},
#endif
  };
  for (const Case& c : cases) {
    const std::string out = Out();
    std::vector<std::string> args = {"extract", archive, "-o", out};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const VynRun run = Vyn(args);
    std::set<std::string> names;
    for (const auto& [name, bytes] : FilesIn(out)) names.insert(name);
    EXPECT_EQ(names, c.chosen) << c.args[0];
    EXPECT_EQ(run.status, c.complaint.empty() ? 0 : 1) << c.args[0] << run.err;
    if (!c.complaint.empty())
      EXPECT_TRUE(Contains(run.err, archive + ": " + c.complaint)) << run.err;
  }
}

#if !defined(_WIN32)
// Files named in UTF-8, as a POSIX system names them.
TEST_F(ForeignArchive, PackStoresNamesInTheCodePageAndListingGivesThemBack) {
  const std::map<std::string, Bytes> files = {
      {"ソフト.txt", TextBytes("soft")}, {"ソ表.TXT", TextBytes("table")}, {"plain.txt", {}}};
  std::vector<std::string> pack = {"pack", "-o", dir_.File("new.ARC")};
  for (const auto& [name, bytes] : files) pack.push_back(Write(name, bytes));
  const VynRun packed = Vyn(pack);
  ASSERT_EQ(packed.status, 0) << packed.err;
  const VynRun json = Vyn({"list", "--json", dir_.File("new.ARC")});
  // "ソフト.txt" takes 10 bytes in CP932, and 14 in UTF-8.
  EXPECT_TRUE(Contains(json.out, "\"name\": \"ソフト.txt\", \"size\": 4, ")) << json.out;
  EXPECT_TRUE(Contains(json.out, "\"raw\": \"83 5C 83 74 83 67 2E 74 78 74\"")) << json.out;
  const std::string out = Out();
  ASSERT_EQ(Vyn({"extract", dir_.File("new.ARC"), "-o", out}).status, 0);
  EXPECT_EQ(FilesIn(out), files);

  // Another code page, both ways.
  const VynRun katakana = Vyn({"pack", "--encoding", "latin1", "-o", dir_.File("l.ARC"),
                               Write("été.txt", {}), dir_.File("ソフト.txt")});
  EXPECT_TRUE(Contains(katakana.err, "holds \"ソ\", which latin1 does not have")) << katakana.err;
  ASSERT_EQ(Vyn({"pack", "--encoding", "latin1", "-o", dir_.File("l.ARC"), dir_.File("été.txt"),
                 dir_.File("plain.txt")})
                .status,
            0);
  EXPECT_TRUE(Contains(Vyn({"list", "--encoding", "latin1", dir_.File("l.ARC")}).out, "été.txt"));
  EXPECT_TRUE(Contains(Vyn({"list", "--json", dir_.File("l.ARC")}).out, "\"raw\": \"E9 74 E9"));

  struct Case {
    std::string name;
    std::string reason;
  };
  const std::vector<Case> refused = {
      {"€.txt", "its name \"€.txt\" holds \"€\", which cp932 does not have"},
      {"〜.txt", "its name \"〜.txt\" would be listed as \"～.txt\" in cp932"},
      {"ソフトウェア.txt", "member name \"ソフトウェア.txt\" is 16 bytes long as stored"},
      {"\xE9t\xE9.txt", "its name \"\\xE9t\\xE9.txt\" is not UTF-8 text"},
  };
  for (const Case& c : refused) {
    const std::string path = Write(c.name, {});
    const VynRun run = Vyn({"pack", "-o", dir_.File("bad.ARC"), path, dir_.File("plain.txt")});
    EXPECT_EQ(run.status, 1) << c.name;
    EXPECT_TRUE(Contains(run.err, path + ": " + c.reason)) << run.err;
    EXPECT_FALSE(std::filesystem::exists(dir_.File("bad.ARC")));
  }
}
#endif

}  // namespace

namespace {

// Text with "OUT" standing for the output directory.
std::string ReplaceOut(std::string text, const std::string& out) {
  const std::size_t at = text.find("OUT");
  if (at != std::string::npos) text.replace(at, 3, out);
  return text;
}

TEST_F(ForeignArchive, PicturesAreConvertedStraightOutOfTheArchive) {
  // Three records at one position: the whole extent with bytes after the
  // picture, the picture, and the picture cut short. Then a second picture
  // whose converted name is the first one's, and text.
  const Bytes a = LiteralPicture(3, 2, TextBytes("abcdef"));
  const Bytes b = LiteralPicture(2, 2, TextBytes("wxyz"));
  const Bytes notes = TextBytes("not a picture");
  Bytes data = a;
  for (const char c : std::string("TRAILER")) data.push_back(static_cast<unsigned char>(c));
  data.insert(data.end(), b.begin(), b.end());
  data.insert(data.end(), notes.begin(), notes.end());
  const auto size = [](const Bytes& bytes) { return static_cast<std::uint32_t>(bytes.size()); };
  const std::uint32_t at = 104;
  const std::string archive = Write(
      "pics.ARC",
      ArcImage(5,
               {ArcEntry("WHOLE.DAT", size(a) + 7, at), ArcEntry("A.GP8", size(a), at),
                ArcEntry("CUT.GP8", size(a) - 3, at), ArcEntry("A.PIC", size(b), at + size(a) + 7),
                ArcEntry("notes.txt", size(notes), at + size(a) + 7 + size(b))},
               false, data));
  // What converting the pictures as files of their own gives.
  std::map<std::string, Bytes> as;
  for (const auto& [name, picture] : {std::pair{"a", a}, std::pair{"b", b}}) {
    for (const char* type : {"png", "bmp"}) {
      const std::string file = name + std::string(".") + type;
      EXPECT_EQ(Vyn({"convert", Write(name + std::string(".GP8"), picture), "-o", dir_.File(file)})
                    .status,
                0);
      as[file] = ReadBytes(dir_.File(file));
    }
  }

  struct Case {
    std::vector<std::string> args;  // OUT stands for the output directory
    int status;
    std::map<std::string, Bytes> files;
    std::string out;  // a part of standard output
    std::string err;  // a part of standard error
  };
  const std::string cut_reason = "CUT.GP8: the image plug-in could not decode it: its pixel stream";
  const std::vector<Case> cases = {
      {{"convert", archive, "-o", "OUT"},
       1,
       {{"WHOLE.png", as["a.png"]}, {"A.png", as["a.png"]}, {"A~2.png", as["b.png"]}},
       "converted 3 of 4 pictures",
       cut_reason},
      {{"convert", archive, "--format", "bmp", "-o", "OUT"},
       1,
       {{"WHOLE.bmp", as["a.bmp"]}, {"A.bmp", as["a.bmp"]}, {"A~2.bmp", as["b.bmp"]}},
       "; 1 other member left out",
       "the later one is written as A~2.bmp"},
      {{"convert", archive + ":A.PIC", "-o", "OUT/one.png"},
       0,
       {{"one.png", as["b.png"]}},
       "converted " + archive + ":A.PIC into",
       ""},
      {{"convert", archive + ":a.p?c", "--ignore-case", "-o", "OUT/one.bmp"},
       0,
       {{"one.bmp", as["b.bmp"]}},
       "",
       ""},
      {{"convert", archive + ":A.*", "-o", "OUT/one.png"}, 2, {}, "", "chooses 2 pictures"},
      {{"convert", archive + ":notes.txt", "-o", "OUT/one.png"},
       1,
       {},
       "",
       "notes.txt is not a picture"},
      {{"convert", archive + ":A.GP8", "--format", "bmp", "-o", "OUT/one.png"},
       2,
       {},
       "",
       "does not end in .bmp"},
      // Extracting loses nothing: a picture that does not decode comes out
      // as it is stored, and only members named *.GP8 are taken for pictures
      // unless by content.
      {{"extract", "--convert", "png", archive, "-o", "OUT", "notes.txt", "A.GP8", "CUT.GP8"},
       0,
       {{"notes.txt", notes}, {"A.png", as["a.png"]}, {"CUT.GP8", Bytes(a.begin(), a.end() - 3)}},
       "extracted 3 of 3 members (" +
           std::to_string(notes.size() + as["a.png"].size() + size(a) - 3) +
           " bytes: 1 converted to PNG, 2 as stored) from " + archive +
           " into OUT; 1 picture that did not decode stored as it is\n",
       "note: " + archive + ": " + cut_reason},
      {{"extract", "--convert", "png", archive, "-o", "OUT", "WHOLE.DAT", "A.PIC"},
       0,
       {{"WHOLE.DAT", Bytes(data.begin(), data.begin() + size(a) + 7)}, {"A.PIC", b}},
       "(" + std::to_string(size(a) + 7 + size(b)) + " bytes: 0 converted to PNG, 2 as stored)",
       ""},
      // Testing reads every member and decodes every picture; nothing is
      // written.
      {{"test", archive}, 1, {}, archive + ": 5 members, 4 pictures: 1 damaged\n", cut_reason},
      {{"test", dir_.File("a.GP8"), archive + "x"},
       1,
       {},
       dir_.File("a.GP8") + ": a picture: no damage found\n" + archive +
           "x: damaged or unreadable\n",
       archive + "x: no such file"},
      {{"extract", "--convert", "png", "--convert-by-content", archive, "-o", "OUT", "WHOLE.DAT",
        "A.PIC"},
       0,
       {{"WHOLE.png", as["a.png"]}, {"A.png", as["b.png"]}},
       "2 converted to PNG, 0 as stored",
       ""},
  };
  for (const Case& c : cases) {
    const std::string out = Out();
    std::filesystem::create_directory(out);
    std::vector<std::string> args;
    for (const std::string& arg : c.args)
      args.push_back(arg.rfind("OUT", 0) == 0 ? out + arg.substr(3) : arg);
    std::string trace;
    for (const std::string& arg : args) trace += arg + " ";
    SCOPED_TRACE(trace);
    const VynRun run = Vyn(args);
    EXPECT_EQ(run.status, c.status) << run.err;
    EXPECT_EQ(FilesIn(out), c.files);
    EXPECT_TRUE(Contains(run.out, ReplaceOut(c.out, out))) << run.out;
    EXPECT_TRUE(Contains(run.err, c.err)) << run.err;
  }
  EXPECT_EQ(TextBytes(Vyn({"convert", archive + ":A.GP8", "-o", "-"}).out), as["a.png"]);
}

// An archive as game makers ship them and update and pack --like must keep
// them: a Shift-JIS name whose second bytes are 0x5C, a name of all 12
// bytes, two members of one name, bytes after a name's NUL, an empty member.
std::vector<ArcMember> GameMembers() {
  return {{"\x83\x5C\x95\x5C.TXT", TextBytes("soft")},
          {"ABCDEFGH.TXT", TextBytes("twelve bytes")},
          {"a.txt", TextBytes("first")},
          {"a.txt", TextBytes("second")},
          {std::string("J.DAT\0\x01\x02", 8), TextBytes("junk after the name")},
          {"EMPTY.DAT", {}}};
}

std::vector<ArcMember> With(std::vector<ArcMember> members, std::size_t i, const Bytes& data) {
  members[i].data = data;
  return members;
}

// Every byte of the result is the one expected: the directory, raw and
// scrambled as before, and every member untouched where it was.
TEST_F(ForeignArchive, UpdateChangesOnlyTheMembersNamed) {
  std::filesystem::create_directory(dir_.File("new"));
  const Bytes big(2000, 'x');
  const std::string twelve = Write("new/ABCDEFGH.TXT", big);
  const std::string second = Write("second.txt", TextBytes("2nd"));
  const std::string soft = Write("soft.txt", TextBytes("softer"));
  const std::string added = Write("new/ADDED.TXT", TextBytes("added"));
  const std::string numbered = Write("new/a~2.txt", TextBytes("2nd"));  // as extract names #4
  const std::vector<ArcMember> game = GameMembers();
  std::vector<ArcMember> moved(game.begin() + 1, game.end());
  moved.push_back({"ADDED.TXT", TextBytes("added")});
  struct Case {
    bool scrambled;
    std::vector<std::string> args;  // after the archive
    std::vector<ArcMember> expected;
    std::string summary;    // after "updated ARCHIVE: "
    bool to_other = false;  // -o: the archive stays as it was
  };
  const std::vector<Case> cases = {
      {false,
       {twelve},
       With(game, 1, big),
       "1 member replaced, 0 added, 0 deleted, 5 kept (2,158 bytes)"},
      {true,
       {twelve},
       With(game, 1, big),
       "1 member replaced, 0 added, 0 deleted, 5 kept (2,158 bytes)"},
      {true,
       {"#4=" + second},
       With(game, 3, TextBytes("2nd")),
       "1 member replaced, 0 added, 0 deleted, 5 kept (167 bytes)"},
      {true,
       {numbered},
       With(game, 3, TextBytes("2nd")),
       "1 member replaced, 0 added, 0 deleted, 5 kept (167 bytes)"},
#if !defined(_WIN32)
      // The tests start vyn.exe through the ANSI command line, which cannot
      // carry this UTF-8 name; the platform comparison passes such names.
      {true,
       {"ソ表.TXT=" + soft},
       With(game, 0, TextBytes("softer")),
       "1 member replaced, 0 added, 0 deleted, 5 kept (172 bytes)",
       true},
#endif
      {true,
       {added, "--delete", "#1"},
       moved,
       "0 members replaced, 1 added, 1 deleted, 5 kept (171 bytes)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0]);
    const Bytes original = BuildArchive(game, c.scrambled, true);
    const std::string archive = Write("game.ARC", original);
    const std::string other = dir_.File("other.ARC");
    std::vector<std::string> args = {"update", archive};
    args.insert(args.end(), c.args.begin(), c.args.end());
    if (c.to_other) args.insert(args.end(), {"-o", other});
    const VynRun run = Vyn(args);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "updated " + archive + (c.to_other ? " into " + other : "") + ": " +
                           c.summary + "\n");
    EXPECT_EQ(ReadBytes(c.to_other ? other : archive), BuildArchive(c.expected, c.scrambled, true));
    if (c.to_other) EXPECT_EQ(ReadBytes(archive), original);
    std::filesystem::remove(other);
  }
}

// The modder's round trip: a picture converted out of the archive, edited
// (or not) and put back with --palette-from-original comes back in its own
// palette; every other byte of the archive stays as it was.
TEST_F(ForeignArchive, UpdateKeepsThePaletteOfThePictureItReplaces) {
  using host_test::MakePicture;
  using host_test::PictureKind;
  IndexedPicture title = MakePicture(PictureKind::kGradient, 16, 8, 200);
  const std::string made = Write("made.png", EncodePicture(title, PictureFileType::kPng));
  ASSERT_EQ(Vyn({"encode", made, "-o", dir_.File("TITLE.GP8")}).status, 0);
  std::vector<ArcMember> game = GameMembers();
  game.push_back({"TITLE.GP8", ReadBytes(dir_.File("TITLE.GP8"))});
  const Bytes original = BuildArchive(game, true, true);
  const std::string archive = Write("game.ARC", original);
  std::filesystem::create_directory(dir_.File("out"));
  const std::string png = dir_.File("out/TITLE.png");
  ASSERT_EQ(Vyn({"convert", archive + ":TITLE.GP8", "-o", png}).status, 0);
  // One pixel redrawn in another colour of the palette, as a paint program
  // saves it: a palette of only the colours used, in another order.
  title.pixels[5] = 199;
  IndexedPicture edited;
  edited.width = title.width;
  edited.height = title.height;
  for (const std::uint8_t index : title.pixels) {
    const Rgb colour = title.palette[index];
    auto at = std::find(edited.palette.begin(), edited.palette.end(), colour);
    if (at == edited.palette.end()) at = edited.palette.insert(edited.palette.end(), colour);
    edited.pixels.push_back(static_cast<std::uint8_t>(at - edited.palette.begin()));
  }
  std::reverse(edited.palette.begin(), edited.palette.end());
  for (std::uint8_t& index : edited.pixels)
    index = static_cast<std::uint8_t>(edited.palette.size() - 1 - index);
  std::filesystem::create_directory(dir_.File("redrawn"));
  const std::string redrawn = Write("redrawn/TITLE.png", EncodePicture(edited, PictureFileType::kPng));
  // What vyn encode makes of it in the original's palette.
  ASSERT_EQ(Vyn({"encode", redrawn, "--palette", dir_.File("TITLE.GP8"), "-o",
                 dir_.File("expected.GP8")})
                .status,
            0);

  struct Case {
    std::string file;
    Bytes expected;
  };
  const Case cases[] = {
      {png, original},
      {redrawn, BuildArchive(With(game, game.size() - 1, ReadBytes(dir_.File("expected.GP8"))),
                             true, true)},
  };
  for (const Case& c : cases) {
    WriteBytes(archive, original);
    const VynRun run = Vyn({"update", archive, "--palette-from-original", c.file});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(ReadBytes(archive), c.expected) << c.file;
  }
}

TEST_F(ForeignArchive, UpdateRefusesAndWritesNothing) {
  const std::string file = Write("f.txt", TextBytes("new"));
  const std::string game = Write("game.ARC", BuildArchive(GameMembers(), true, true));
  const std::string pair =
      Write("pair.ARC", BuildArchive({{"a.txt", TextBytes("a")}, {"b.txt", TextBytes("b")}}));
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string message;
    std::uint64_t file_size_limit = 0;  // bytes a file may grow to; 0: no limit
  };
  const std::vector<Case> cases = {
      {{game, "a.txt=" + file},
       1,
       game +
           ": has more than one member named \"a.txt\" (#3 and #4); choose one by its place, "
           "as in #3=" +
           file},
      {{game, "--delete", "a.txt"}, 1, "has more than one member named \"a.txt\" (#3 and #4)"},
      {{game, "#7=" + file}, 1, game + ": has no member #7; its members are #1 to #6"},
      {{game, "--delete", "no.txt"}, 1, game + ": has no member named \"no.txt\" to delete"},
      {{game, "#2=" + dir_.File("none.txt")}, 1, dir_.File("none.txt") + ": no such file"},
      {{game, "#2=" + file, "--delete", "#2"}, 1, "member #2 (ABCDEFGH.TXT) is changed twice"},
      {{pair, "--delete", "#1"}, 1, pair + ": an archive needs at least 2 members"},
      {{pair, "--dither", file}, 2, "--dither requires --palette-from-original"},
      {{pair}, 2, "give members to replace"},
#if !defined(_WIN32)
      // No room for the new archive beside the old: a file-size limit stands
      // for a full disk, as a write fails the same way on both.
      {{game, "BIG.BIN=" + Write("big.bin", Bytes(64 * 1024, 'b'))},
       1,
       ": cannot write: File too large",
       16 * 1024},
#endif
  };
  const std::vector<std::string> entries = dir_.Entries();
  for (const Case& c : cases) {
    std::vector<std::string> args = {"update"};
    args.insert(args.end(), c.args.begin(), c.args.end());
#if defined(_WIN32)
    const VynRun run = Vyn(args);  // no case has a file-size limit there
#else
    const VynRun run =
        c.file_size_limit == 0 ? Vyn(args) : VynWithFileSizeLimit(args, c.file_size_limit);
#endif
    EXPECT_EQ(run.status, c.status) << c.message;
    EXPECT_TRUE(Contains(run.err, c.message)) << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(dir_.Entries(), entries) << c.message;
  }
  EXPECT_EQ(ReadBytes(game), BuildArchive(GameMembers(), true, true));
  EXPECT_EQ(ReadBytes(pair), BuildArchive({{"a.txt", TextBytes("a")}, {"b.txt", TextBytes("b")}}));
}

// Extracted and packed back --like the archive, an archive laid out as vyn
// writes them comes back byte for byte, plain and scrambled; a member
// changed in the directory goes in at its place.
TEST_F(ForeignArchive, PackLikeGivesTheArchiveBack) {
  for (const bool scrambled : {false, true}) {
    SCOPED_TRACE(scrambled);
    const Bytes original = BuildArchive(GameMembers(), scrambled, true);
    const std::string archive = Write("game.ARC", original);
    const std::string out = Out();
    ASSERT_EQ(Vyn({"extract", archive, "-o", out}).status, 0);
    const VynRun same = Vyn({"pack", "--like", archive, out, "-o", dir_.File("same.ARC")});
    ASSERT_EQ(same.status, 0) << same.err;
    EXPECT_EQ(ReadBytes(dir_.File("same.ARC")), original);

    WriteBytes(out + "/a~2.txt", TextBytes("changed"));  // the second a.txt, as extract named it
    ASSERT_EQ(Vyn({"pack", "--like", archive, out, "-o", dir_.File("changed.ARC")}).status, 0);
    EXPECT_EQ(ReadBytes(dir_.File("changed.ARC")),
              BuildArchive(With(GameMembers(), 3, TextBytes("changed")), scrambled, true));

    std::filesystem::remove(out + "/EMPTY.DAT");
    const VynRun missing = Vyn({"pack", "--like", archive, out, "-o", dir_.File("no.ARC")});
    EXPECT_EQ(missing.status, 1);
    EXPECT_TRUE(Contains(missing.err, "EMPTY.DAT: no such file")) << missing.err;
    EXPECT_FALSE(std::filesystem::exists(dir_.File("no.ARC")));
  }
}

}  // namespace
