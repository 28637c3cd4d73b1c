// The server of vyn view, through HTTP as the page uses it: the access
// token, that only the inputs are served and only by number, the pixel
// limit, and the archive plug-in's calls kept apart under parallel requests.
#include "host/view/view_server.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <atomic>
#include <nlohmann/json.hpp>
#include <thread>

#include "arc_writer.h"
#include "gp8_writer.h"
#include "host_test_support.h"
#include "raw_client.h"

namespace {

constexpr char kToken[] = "0123456789abcdef0123456789abcdef";

Bytes Pattern(std::size_t count, unsigned seed) {
  Bytes bytes(count);
  for (std::size_t i = 0; i < count; ++i) bytes[i] = static_cast<unsigned char>(i * 7 + seed);
  return bytes;
}

void Quiet(const std::string&) {}

// The picture file's name, with a tilde: printable, so kept in a download's
// plain file name, though escaped in its encoded one; on Linux also with what
// the plain name must not carry (a quote, a backslash, control bytes, UTF-8).
#if defined(_WIN32)
const std::string kAlone = "alone~.GP8";
#else
const std::string kAlone = "alone~ \"\\\x1F\x7F\xC3\xA9.GP8";
#endif

// Two archives, one with a scrambled directory and one plain, so that an
// extraction that follows the other archive's recognition reads its
// directory wrongly; and a picture file.
class ViewServerTest : public ::testing::Test {
 protected:
  void Start(ViewOptions options = {}) {
    WriteBytes(scratch_.File("plain.ARC"), BuildArchive(plain_));
    WriteBytes(scratch_.File("mixed.ARC"), BuildArchive(scrambled_, true));
    WriteBytes(scratch_.File(kAlone), LiteralPicture(3, 2, Pattern(6, 40)));
    WriteBytes(scratch_.File("shared.ARC"), SharedArchive());
    plugins_ = LoadPlugins(ProgramDirectory());
    std::vector<ViewInput> inputs = GatherInputs(
        plugins_, {scratch_.File("plain.ARC"), scratch_.path().string()}, false, Quiet);
    // plain.ARC by name, then the directory: the picture (kAlone), mixed.ARC, plain.ARC,
    // shared.ARC.
    ASSERT_EQ(inputs.size(), 5u);
    server_ = std::make_unique<ViewServer>(plugins_, std::move(inputs), options, kToken);
    port_ = server_->Bind(0);
    serving_ = std::thread([this] { server_->Serve(); });
  }

  void TearDown() override {
    if (server_ == nullptr) return;
    server_->Stop();
    serving_.join();
  }

  httplib::Client Client() const {
    httplib::Client client("127.0.0.1", port_);
    client.set_connection_timeout(5);
    return client;
  }

  // The status of a GET with the token in the query.
  int Status(const std::string& path) {
    const auto result =
        Client().Get(path + (path.find('?') == std::string::npos ? "?t=" : "&t=") + kToken);
    return result ? result->status : -1;
  }

  // Three records at one position, as other tools write them: the whole
  // extent, the picture at its start, and the picture cut short.
  Bytes SharedArchive() const {
    Bytes data = shared_picture_;
    data.insert(data.end(), 10, 0xEE);
    const auto size = static_cast<std::uint32_t>(shared_picture_.size());
    return ArcImage(3,
                    {ArcEntry("ALL.DAT", size + 10, 64), ArcEntry("PIC.GP8", size, 64),
                     ArcEntry("CUT.GP8", size - 5, 64)},
                    false, data);
  }

  // Archives inside an archive: LOOP.ARC is the whole of NEST.ARC again
  // (nesting without end), IN.ARC a scrambled archive two levels down, and
  // BAD.ARC one whose members run past its end.
  static Bytes NestedArchives() {
    const Bytes inner = BuildArchive(
        {{"X.GP8", LiteralPicture(2, 1, Pattern(2, 11))}, {"Y.DAT", Pattern(40, 12)}}, true);
    Bytes bad = BuildArchive({{"P.DAT", Pattern(30, 13)}, {"Q.DAT", Pattern(30, 14)}});
    bad.resize(4 + 2 * 20 + 10);
    Bytes data = inner;
    data.insert(data.end(), bad.begin(), bad.end());
    const auto total = static_cast<std::uint32_t>(4 + 3 * 20 + data.size());
    const auto in_size = static_cast<std::uint32_t>(inner.size());
    return ArcImage(3,
                    {ArcEntry("LOOP.ARC", total, 0), ArcEntry("IN.ARC", in_size, 64),
                     ArcEntry("BAD.ARC", static_cast<std::uint32_t>(bad.size()), 64 + in_size)},
                    false, data);
  }

  Bytes shared_picture_ = LiteralPicture(5, 4, Pattern(20, 8));
  std::vector<ArcMember> plain_ = {
      {"ONE.GP8", LiteralPicture(4, 3, Pattern(12, 1))},
      {"TWO.DAT", Pattern(3000, 2)},
      {"WIDE.GP8", Gp8File(0, 0, 2000, 2000, LiteralStream(Pattern(8, 3)))},
      {"NEST.ARC", NestedArchives()}};
  std::vector<ArcMember> scrambled_ = {{"A.DAT", Pattern(500, 4)},
                                       {"B.DAT", Pattern(700, 5)},
                                       {"C.GP8", LiteralPicture(2, 2, Pattern(4, 6))},
                                       {"D.DAT", {0x44}}};
  ScratchDirectory scratch_;
  PluginSet plugins_;
  std::unique_ptr<ViewServer> server_;
  int port_ = 0;
  std::thread serving_;
};

TEST_F(ViewServerTest, AnswersOnlyRequestsThatCarryTheTokenAndNameThisHost) {
  Start();
  const std::string here = "127.0.0.1:" + std::to_string(port_);
  const std::string token = kToken;
  struct Case {
    const char* what;
    std::string path;
    httplib::Headers headers;
    int status;
  };
  const std::vector<Case> cases = {
      {"no token", "/api/inputs", {}, 403},
      {"a token with its first digit off",
       "/api/inputs?t=" + std::string(token[0] == '0' ? "1" : "0") + token.substr(1), {}, 403},
      {"a token with its last digit off",
       "/api/inputs?t=" + token.substr(0, token.size() - 1) + (token.back() == '0' ? "1" : "0"),
       {},
       403},
      {"a cookie, as an older viewer set it",
       "/api/inputs",
       {{"Cookie", "vyn_token_" + std::to_string(port_) + "=" + token}},
       403},
      {"the token in the header", "/api/inputs", {{"X-Vyn-Token", token}}, 200},
      {"the token in the query", "/download/0/1/original?t=" + token, {}, 200},
      {"no token for a path that is not there", "/no-such-thing", {}, 403},
      {"another site's name",
       "/api/inputs",
       {{"Host", "evil.example:" + std::to_string(port_)}, {"X-Vyn-Token", token}},
       403},
      {"another port",
       "/api/inputs",
       {{"Host", "127.0.0.1:" + std::to_string(port_ + 1)}, {"X-Vyn-Token", token}},
       403},
      {"localhost",
       "/api/inputs",
       {{"Host", "localhost:" + std::to_string(port_)}, {"X-Vyn-Token", token}},
       200},
      // The page's own files hold nothing of the inputs; the page that
      // loads them takes the token from its address.
      {"the page", "/", {}, 200},
      {"the page's script", "/view.js", {}, 200},
      {"the page under another name",
       "/",
       {{"Host", "evil.example:" + std::to_string(port_)}},
       403},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    httplib::Headers headers = c.headers;
    headers.emplace("Accept-Encoding", "br, gzip, deflate");
    const auto answer = Client().Get(c.path, headers);
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->status, c.status);
    EXPECT_FALSE(answer->has_header("Set-Cookie"));
    EXPECT_FALSE(answer->has_header("Content-Encoding")) << "nothing is compressed on loopback";
    EXPECT_EQ(answer->get_header_value("X-Frame-Options"), "DENY");
    EXPECT_EQ(answer->get_header_value("Referrer-Policy"), "no-referrer");
    EXPECT_EQ(answer->get_header_value_count("Cache-Control"), 1u);
  }
  // Tokens are 32 hex digits, a new one each time.
  const std::string made = MakeAccessToken();
  EXPECT_EQ(made.size(), 32u);
  EXPECT_EQ(made.find_first_not_of("0123456789abcdef"), std::string::npos) << made;
  EXPECT_NE(made, MakeAccessToken());
  const auto page = Client().Get("/");
  EXPECT_NE(page->get_header_value("Content-Security-Policy").find("frame-ancestors 'none'"),
            std::string::npos);
}

TEST_F(ViewServerTest, ServesOneRangeOfADownloadAtMost) {
  Start();
  const Bytes& whole = plain_[1].data;  // 3000 bytes
  struct Case {
    const char* range;
    int status;
    std::size_t first, count;
  };
  const std::vector<Case> cases = {
      {"bytes=0-9", 206, 0, 10},
      {"bytes=2990-", 206, 2990, 10},
      {"bytes=-5", 206, 2995, 5},
      {"bytes=100-99999", 206, 100, 2900},
      {"bytes=0-9,20-29", 200, 0, 3000},  // several: the whole, never a multipart
      {"bytes=0-0,0-0,0-0,0-0,0-0,0-0,0-0,0-0,0-0,0-0,0-0,0-0,0-0,0-0,0-0", 200, 0, 3000},
      {"bytes=3000-", 416, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.range);
    const auto answer =
        Client().Get(std::string("/download/0/1/original?t=") + kToken, {{"Range", c.range}});
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->status, c.status);
    EXPECT_EQ(Bytes(answer->body.begin(), answer->body.end()),
              Bytes(whole.begin() + static_cast<std::ptrdiff_t>(c.first),
                    whole.begin() + static_cast<std::ptrdiff_t>(c.first + c.count)));
  }
}

TEST_F(ViewServerTest, ServesTheInputsByNumberAndNothingElse) {
  Start();
  EXPECT_EQ(Status("/download/0/1/original"), 200);
  const auto bytes = Client().Get(std::string("/download/0/1/original?t=") + kToken);
  EXPECT_EQ(Bytes(bytes->body.begin(), bytes->body.end()), plain_[1].data);
  EXPECT_EQ(bytes->get_header_value("Content-Disposition"),
            "attachment; filename=\"TWO.DAT\"; filename*=UTF-8''TWO.DAT");
  // The header as sent: the test client would decode its %-escapes.
  for (const char* as : {"original", "png", "bmp"}) {
    RawClient raw(port_);
    ASSERT_TRUE(raw.Send(std::string("GET /download/1/") + as + " HTTP/1.1\r\nHost: 127.0.0.1:" +
                         std::to_string(port_) + "\r\nX-Vyn-Token: " + kToken +
                         "\r\nConnection: close\r\n\r\n"));
    const std::string answer = raw.ReadToEnd();
    const std::string type = as == std::string("original") ? "GP8" : as;
    const std::string body = answer.substr(answer.find("\r\n\r\n") + 4);
    const std::string magic = type == "png"   ? std::string("\x89P")
                              : type == "bmp" ? std::string("BM")
                                              : std::string(2, '\0');  // the picture at 0,0
    EXPECT_EQ(body.substr(0, 2), magic) << "the file asked for";
#if defined(_WIN32)
    const std::string expected = "attachment; filename=\"alone~." + type +
                                 "\"; filename*=UTF-8''alone%7E." + type;
#else
    const std::string expected = "attachment; filename=\"alone~ ______." + type +
                                 "\"; filename*=UTF-8''alone%7E%20%22%5C%1F%7F%C3%A9." + type;
#endif
    EXPECT_NE(answer.find("\r\nContent-Disposition: " + expected + "\r\n"), std::string::npos)
        << answer.substr(0, answer.find("\r\n\r\n"));
  }
  for (const char* path :
       {"/download/0/4/original", "/download/4/original", "/download/0/original",
        "/download/1/0/original", "/api/picture/0/-1", "/api/picture/0/99999999999",
        "/api/picture/0/99999999999999999999999", "/api/thumb/7",
        "/etc/passwd", "/../../etc/passwd", "/download/0/1/../../../etc/passwd",
        "/download/0/1/original/../../x", "/%2e%2e/%2e%2e/etc/passwd", "/api/file?path=/etc/passwd",
        "/page/../CMakeLists.txt", "/missing.js"}) {
    SCOPED_TRACE(path);
    EXPECT_EQ(Status(path), 404);
  }
}

TEST_F(ViewServerTest, RefusesPicturesBeyondThePixelLimitWithTheReason) {
  ViewOptions options;
  options.max_pixels = 4 * 3;  // ONE.GP8's pixel block exactly
  Start(options);
  for (const char* path : {"/api/picture/0/2", "/api/thumb/0/2", "/download/0/2/png"}) {
    SCOPED_TRACE(path);
    const auto answer = Client().Get(path + std::string("?t=") + kToken);
    EXPECT_EQ(answer->status, 413);
    EXPECT_NE(answer->body.find("2000x2000"), std::string::npos) << answer->body;
    EXPECT_NE(answer->body.find("--max-pixels"), std::string::npos) << answer->body;
    EXPECT_EQ(nlohmann::json::parse(answer->body)["picture"]["width"], 2000);
  }
  EXPECT_EQ(Status("/api/picture/0/0"), 200);
  EXPECT_EQ(Status("/api/members/0/3"), 200);
  EXPECT_EQ(Status("/api/picture/0/1"), 422) << "TWO.DAT is no picture";
}

TEST_F(ViewServerTest, RefusesArchivesInsideArchivesBeyondTheSizeLimit) {
  ViewOptions options;
  options.max_nested_bytes = 100;
  Start(options);
  const auto answer = Client().Get(std::string("/api/members/0/3?t=") + kToken);
  EXPECT_EQ(answer->status, 413);
  EXPECT_NE(answer->body.find("inside another archive"), std::string::npos) << answer->body;
}

TEST_F(ViewServerTest, GivesPaletteAndIndexesTopRowFirst) {
  Start();
  const auto answer = Client().Get(std::string("/api/picture/0/0?t=") + kToken);
  ASSERT_EQ(answer->status, 200);
  const std::string& body = answer->body;
  ASSERT_EQ(body.size(), 16u + 768u + 12u);
  const auto u32 = [&](std::size_t at) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(body[at]) |
                                      static_cast<unsigned char>(body[at + 1]) << 8 |
                                      static_cast<unsigned char>(body[at + 2]) << 16 |
                                      static_cast<unsigned char>(body[at + 3]) << 24);
  };
  EXPECT_EQ(u32(0), 4u);
  EXPECT_EQ(u32(4), 3u);
  EXPECT_EQ(u32(8), 8u);
  EXPECT_EQ(u32(12), 256u);
  const Bytes palette = TestPalette();  // blue, green, red, 0 per entry
  for (std::size_t i = 0; i < 256; ++i) {
    EXPECT_EQ(static_cast<unsigned char>(body[16 + 3 * i]), palette[4 * i + 2]);
    EXPECT_EQ(static_cast<unsigned char>(body[16 + 3 * i + 2]), palette[4 * i]);
  }
  // The stream's first row is the picture's bottom row; the page draws the
  // top row first.
  const Bytes stream_rows = Pattern(12, 1);
  Bytes top_first;
  for (std::size_t row = 3; row-- > 0;)
    top_first.insert(top_first.end(), stream_rows.begin() + static_cast<std::ptrdiff_t>(row * 4),
                     stream_rows.begin() + static_cast<std::ptrdiff_t>(row * 4 + 4));
  EXPECT_EQ(Bytes(body.begin() + 16 + 768, body.end()), top_first);

  // Each picture's thumbnail is its own PNG, here of its own size (smaller
  // than a thumbnail's bound), and asked again it is the same.
  struct Thumb {
    std::string path;
    std::uint32_t width, height;
  };
  std::vector<std::string> thumbs;
  for (const Thumb& t : {Thumb{"/api/thumb/0/0", 4, 3}, Thumb{"/api/thumb/1", 3, 2},
                         Thumb{"/api/thumb/0/0", 4, 3}}) {
    SCOPED_TRACE(t.path);
    const auto thumb = Client().Get(t.path + "?t=" + kToken);
    ASSERT_EQ(thumb->status, 200);
    const Bytes png(thumb->body.begin(), thumb->body.end());
    ASSERT_GT(png.size(), 24u);
    EXPECT_EQ(Bytes(png.begin(), png.begin() + 8),
              (Bytes{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'}));
    EXPECT_EQ(png[19], t.width);
    EXPECT_EQ(png[23], t.height);
    thumbs.push_back(thumb->body);
  }
  EXPECT_NE(thumbs[0], thumbs[1]);
  EXPECT_EQ(thumbs[0], thumbs[2]);
}

TEST_F(ViewServerTest, MembersSharingAPositionKeepTheirOwnBytes) {
  Start();
  const auto get = [&](const std::string& path) { return Client().Get(path + "?t=" + kToken); };
  const auto listing = nlohmann::json::parse(get("/api/inputs")->body);
  std::vector<bool> pictures;
  for (const auto& member : listing[4]["members"]) pictures.push_back(member["picture"]);
  EXPECT_EQ(pictures, (std::vector<bool>{true, true, true}));  // by their heads

  const auto picture = get("/download/4/1/original");
  EXPECT_EQ(Bytes(picture->body.begin(), picture->body.end()), shared_picture_);
  EXPECT_EQ(get("/download/4/0/original")->body.size(), shared_picture_.size() + 10);
  EXPECT_EQ(get("/api/picture/4/1")->status, 200);
  // The cut one is refused with the reason the command line gives.
  const auto cut = get("/api/picture/4/2");
  EXPECT_EQ(cut->status, 422);
  EXPECT_NE(cut->body.find("CUT.GP8: the image plug-in could not decode it: its pixel stream"),
            std::string::npos)
      << cut->body;
  // What its header tells is given still: the geometry, and the palette.
  const auto known = nlohmann::json::parse(cut->body)["picture"];
  EXPECT_EQ(known["width"], 5);
  EXPECT_EQ(known["height"], 4);
  const std::string palette = known["palette"];
  const Bytes expected = TestPalette();  // blue, green, red, 0 per entry
  ASSERT_EQ(palette.size(), 256u * 6);
  for (std::size_t i : {0u, 1u, 77u, 255u}) {
    char rgb[7];
    std::snprintf(rgb, sizeof rgb, "%02x%02x%02x", expected[4 * i + 2], expected[4 * i + 1],
                  expected[4 * i]);
    EXPECT_EQ(palette.substr(6 * i, 6), rgb) << "entry " << i;
  }
}

TEST_F(ViewServerTest, OpensArchivesInsideArchivesToABoundedDepth) {
  Start();
  const auto get = [&](const std::string& path) { return Client().Get(path + "?t=" + kToken); };
  const auto names = [](const std::string& body) {
    std::string found;
    const auto listing = nlohmann::json::parse(body);
    for (const auto& member : listing["members"])
      found += member["name"].get<std::string>() + (member.value("archive", false) ? "/ " : " ");
    return found;
  };
  EXPECT_EQ(nlohmann::json::parse(get("/api/inputs")->body)[0]["members"][3].value("archive", false),
            true);
  std::string loop = "/0/3";
  for (int level = 1; level < 16; ++level) loop += "/0";  // LOOP.ARC within LOOP.ARC ...
  struct Case {
    std::string path;
    int status;
    std::string holds;  // the member names, or part of the reason
  };
  const std::vector<Case> cases = {
      {"/api/members/0/3", 200, "LOOP.ARC/ IN.ARC/ BAD.ARC/ "},
      {"/api/members/0/3/1", 200, "X.GP8 Y.DAT "},
      {"/api/members/0/3/0/0/0/1", 200, "X.GP8 Y.DAT "},
      {"/api/members" + loop, 200, "LOOP.ARC/ IN.ARC/ BAD.ARC/ "},
      {"/api/members" + loop + "/0", 422, "more than 16 archives deep"},
      {"/api/members/0/3/2", 200, "P.DAT Q.DAT "},
      {"/download/0/3/2/0/original", 422, "P.DAT runs past the end of the archive it is in"},
      {"/api/members/0/1", 404, "TWO.DAT is not an archive"},
      {"/api/members/0/3/1/0", 404, "X.GP8 is not an archive"},
      {"/api/members/0/3/9", 404, "no such member"},
      {"/api/picture/0/3/1/0", 200, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    const auto answer = get(c.path);
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->status, c.status) << answer->body;
    if (c.path.find("/api/members") == 0 && c.status == 200)
      EXPECT_EQ(names(answer->body), c.holds);
    else
      EXPECT_NE(answer->body.find(c.holds), std::string::npos) << answer->body;
  }
  const auto bytes = get("/download/0/3/1/1/original");
  EXPECT_EQ(Bytes(bytes->body.begin(), bytes->body.end()), Pattern(40, 12));
}

TEST_F(ViewServerTest, ReadsAnInputAgainWhenItChangesOnDisk) {
  Start();
  const auto get = [&](const std::string& path) { return Client().Get(path + "?t=" + kToken); };
  const auto json = [&](const std::string& path) { return nlohmann::json::parse(get(path)->body); };
  EXPECT_EQ(json("/api/generation")["generation"], 0);
  WriteBytes(scratch_.File("plain.ARC"),
             BuildArchive({{"NEW.DAT", Pattern(10, 20)}, {"TWO.DAT", Pattern(5, 21)}}));
  std::filesystem::remove(scratch_.File(kAlone));
  // Numbers from the old listing are refused, with the reason, once.
  const auto stale = get("/download/0/1/original");
  EXPECT_EQ(stale->status, 409);
  EXPECT_NE(stale->body.find("plain.ARC changed on disk"), std::string::npos) << stale->body;
  const auto listing = json("/api/inputs");
  EXPECT_EQ(listing[0]["members"][0]["name"], "NEW.DAT");
  EXPECT_EQ(listing[0]["generation"], 1);
  EXPECT_EQ(listing[3]["members"][0]["name"], "NEW.DAT") << "the same file in the directory";
  EXPECT_TRUE(listing[1].contains("error")) << "alone.GP8 is gone";
  const auto state = json("/api/generation");
  EXPECT_EQ(state["generation"], 3);
  EXPECT_EQ(state["inputs"], nlohmann::json::parse("[1, 1, 0, 1, 0]"));
  const auto bytes = get("/download/0/0/original");
  EXPECT_EQ(Bytes(bytes->body.begin(), bytes->body.end()), Pattern(10, 20));
  EXPECT_EQ(get("/api/picture/1")->status, 422);
}

TEST_F(ViewServerTest, KeepsArchiveCallsApartUnderParallelRequests) {
  Start();
  // Members of the plain and the scrambled archive asked for at once, over
  // and over: each answer must be its member's bytes.
  struct Ask {
    std::string path;
    const Bytes* expected;
  };
  const std::vector<Ask> asks = {{"/download/0/1/original", &plain_[1].data},
                                 {"/download/2/0/original", &scrambled_[0].data},
                                 {"/download/3/1/original", &plain_[1].data},
                                 {"/download/2/1/original", &scrambled_[1].data},
                                 {"/download/2/2/original", &scrambled_[2].data},
                                 {"/download/2/3/original", &scrambled_[3].data}};
  std::atomic<int> wrong{0};
  std::atomic<int> answered{0};
  std::vector<std::thread> clients;
  for (int c = 0; c < 8; ++c) {
    clients.emplace_back([&, c] {
      auto client = Client();
      for (int i = 0; i < 120; ++i) {
        const Ask& ask = asks[static_cast<std::size_t>(c + i) % asks.size()];
        const auto answer = client.Get(ask.path + "?t=" + kToken);
        ++answered;
        if (!answer || answer->status != 200 ||
            Bytes(answer->body.begin(), answer->body.end()) != *ask.expected)
          ++wrong;
      }
    });
  }
  for (std::thread& client : clients) client.join();
  EXPECT_EQ(answered.load(), 8 * 120);
  EXPECT_EQ(wrong.load(), 0);
}

}  // namespace

namespace {

TEST(ViewInputs, FindsArchivesAndPicturesInDirectoriesByContent) {
  ScratchDirectory scratch;
  std::filesystem::create_directory(scratch.path() / "deeper");
  // Names that say the opposite of what the files are.
  WriteBytes(scratch.File("picture.txt"), LiteralPicture(2, 1, Pattern(2, 9)));
  WriteBytes(scratch.File("notes.ARC"), TextBytes("just some words, no archive"));
  WriteBytes(scratch.File("b.bin"),
             BuildArchive({{"X.GP8", LiteralPicture(1, 1, {7})}, {"Y.TXT", TextBytes("text")}}));
  WriteBytes(scratch.File("deeper/inner.GP8"), LiteralPicture(1, 1, {3}));
  const PluginSet plugins = LoadPlugins(ProgramDirectory());
  const auto names = [](const std::vector<ViewInput>& inputs) {
    std::vector<std::string> found;
    for (const ViewInput& input : inputs) found.push_back(BaseName(input.path));
    return found;
  };
  std::vector<std::string> complaints;
  const auto complain = [&](const std::string& message) { complaints.push_back(message); };

#if !defined(_WIN32)
  const auto open_files = [] {
    const std::filesystem::directory_iterator fds("/proc/self/fd");
    return std::distance(begin(fds), end(fds));
  };
  const auto open_before = open_files();
#endif
  const auto flat = GatherInputs(plugins, {scratch.path().string()}, false, complain);
#if !defined(_WIN32)
  EXPECT_EQ(open_files(), open_before) << "every file read is closed again";
#endif
  EXPECT_EQ(names(flat), (std::vector<std::string>{"b.bin", "picture.txt"}));
  ASSERT_EQ(flat[0].kind, ViewInput::Kind::kArchive);
  ASSERT_EQ(flat[0].members.size(), 2u);
  EXPECT_TRUE(flat[0].members[0].picture);
  EXPECT_FALSE(flat[0].members[1].picture);
  EXPECT_EQ(flat[1].kind, ViewInput::Kind::kPicture);
  EXPECT_TRUE(complaints.empty()) << "files a directory holds are passed over quietly";

  const auto deep = GatherInputs(plugins, {scratch.path().string()}, true, complain);
  EXPECT_EQ(names(deep), (std::vector<std::string>{"b.bin", "inner.GP8", "picture.txt"}));

  // A file named on the command line that nothing recognises is reported.
  const auto named =
      GatherInputs(plugins, {scratch.File("notes.ARC"), scratch.File("none")}, false, complain);
  EXPECT_TRUE(named.empty());
  ASSERT_EQ(complaints.size(), 2u);
  EXPECT_NE(complaints[0].find("not recognised"), std::string::npos) << complaints[0];
}

}  // namespace
