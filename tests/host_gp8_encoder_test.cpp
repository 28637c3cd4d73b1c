// The host's GP8 encoder: its LZSS stream decodes bit-exactly by the
// format's rules, it is never longer than a greedy one, and whole pictures
// come back through the image plug-in pixel for pixel.
#include <gtest/gtest.h>

#include <algorithm>

#include "byte_order.h"
#include "gp8_corpus.h"
#include "greedy_lzss.h"
#include "host/formats/gp8_encoder.h"
#include "host/host_error.h"
#include "host/plugins/plugin_host.h"
#include "host_test_support.h"

namespace {

using host_test::BottomUpRows;
using host_test::MakePicture;
using host_test::PictureKind;
using host_test::ReferenceDecode;

Bytes Repeated(std::size_t count, unsigned char byte) { return Bytes(count, byte); }

Bytes Noise(std::size_t count, std::uint32_t symbols, std::uint32_t seed) {
  host_test::Lcg random(seed);
  Bytes bytes(count);
  for (auto& b : bytes) b = static_cast<unsigned char>(random.Next() % symbols);
  return bytes;
}

// A block that comes back exactly `period` bytes later: with 4096, matches at
// the far edge of the window; with 4097, just out of its reach.
Bytes PeriodOf(std::size_t period) {
  Bytes bytes = Noise(period, 256, 7);
  const Bytes again = bytes;
  bytes.insert(bytes.end(), again.begin(), again.end());
  return bytes;
}
Bytes PeriodOfWindow() { return PeriodOf(4096); }

// Zeros early on, between other bytes: matches that start in the window's
// never-written positions and run on into bytes already written.
Bytes ZerosNearTheStart() {
  Bytes bytes = {0, 0, 5, 0, 0, 0, 0, 9, 9, 9, 9, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 7};
  const Bytes noise = Noise(300, 3, 3);
  bytes.insert(bytes.end(), noise.begin(), noise.end());
  return bytes;
}

struct StreamCase {
  const char* name;
  Bytes data;
};

TEST(Gp8Encoder, StreamDecodesToExactlyItsInput) {
  std::vector<StreamCase> cases = {
      {"empty", {}},
      {"one byte", {42}},
      {"two bytes", {0, 0}},
      {"eighteen zeros", Repeated(18, 0)},
      {"zeros beyond the window", Repeated(9000, 0)},
      {"run of one byte", Repeated(1000, 0x41)},
      {"four symbols, window wraps twice", Noise(10000, 4, 1)},
      {"all byte values", Noise(6000, 256, 2)},
      {"period of the window", PeriodOfWindow()},
      {"period one beyond the window", PeriodOf(4097)},
      {"zeros near the start", ZerosNearTheStart()},
  };
  // Every kind of picture the benchmarks encode, runs of 18 and trees of
  // strings sharing long prefixes among them.
  for (CorpusKind kind : kCorpusKinds)
    cases.push_back({CorpusKindName(kind), MakeCorpusPicture(kind, 300, 90).pixels});
  for (const StreamCase& c : cases) {
    const Bytes stream = EncodeLzss(c.data);
    const host_test::Decoded decoded = ReferenceDecode(stream, c.data.size());
    EXPECT_FALSE(decoded.input_ran_out_early) << c.name;
    // No item beyond the data: the last group ends with the stream.
    EXPECT_EQ(decoded.output, c.data) << c.name;
    EXPECT_EQ(decoded.consumed, stream.size()) << c.name;
  }
}

TEST(Gp8Encoder, ShortestStreamsOfKnownInputs) {
  // A literal, then one match of 18 that repeats it from the position just
  // behind the write position: the smallest possible encoding.
  EXPECT_EQ(EncodeLzss(Repeated(19, 0x41)), (Bytes{0x01, 0x41, 0xEE, 0xFF}));
  // Zeros come from the never-written window: one match per 18 bytes and
  // no literal at all.
  EXPECT_EQ(EncodeLzss(Repeated(18, 0)).size(), 3u);
  const std::size_t matches = (5000 + 17) / 18;
  EXPECT_EQ(EncodeLzss(Repeated(5000, 0)).size(), 2 * matches + (matches + 7) / 8);
  // Bytes unlike anything before them can only be literals.
  EXPECT_EQ(EncodeLzss(Bytes{1, 2, 3}), (Bytes{0x07, 1, 2, 3}));
}

constexpr PictureKind kEveryKind[] = {
    PictureKind::kGradient, PictureKind::kNoise,  PictureKind::kStripes, PictureKind::kSparse,
    PictureKind::kFlat,     PictureKind::kBlocks, PictureKind::kRuns};

TEST(Gp8Encoder, FindsTheFewestBitsTheWindowAllows) {
  std::vector<StreamCase> cases = {{"period of the window", PeriodOfWindow()},
                                   {"zeros near the start", ZerosNearTheStart()}};
  for (PictureKind kind : kEveryKind)
    cases.push_back({KindName(kind), BottomUpRows(MakePicture(kind, 41, 30))});
  for (const StreamCase& c : cases) {
    const host_test::Decoded decoded = ReferenceDecode(EncodeLzss(c.data), c.data.size());
    ASSERT_EQ(decoded.output, c.data) << c.name;
    EXPECT_EQ(9 * decoded.literals + 17 * decoded.matches, host_test::FewestBits(c.data)) << c.name;
  }
}

TEST(Gp8Encoder, NeverLongerThanGreedy) {
  std::size_t optimal_total = 0;
  std::size_t greedy_total = 0;
  for (PictureKind kind : kEveryKind) {
    const Bytes rows = BottomUpRows(MakePicture(kind, 61, 45));
    const Bytes optimal = EncodeLzss(rows);
    const Bytes greedy = GreedyLzssEncode(rows);
    // Shorter only counts when it still gives the rows back.
    ASSERT_EQ(ReferenceDecode(optimal, rows.size()).output, rows) << KindName(kind);
    EXPECT_LE(optimal.size(), greedy.size()) << KindName(kind);
    optimal_total += optimal.size();
    greedy_total += greedy.size();
  }
  // Optimal parsing pays off somewhere, or it would not be worth its time.
  EXPECT_LT(optimal_total, greedy_total);
}

// A long encoding says how far it has come, now and then and at the end,
// and what it reports never goes back.
TEST(Gp8Encoder, ReportsItsProgress) {
  const IndexedPicture picture = MakePicture(PictureKind::kNoise, 700, 800, 4);
  std::vector<std::uint64_t> reports;
  const Bytes file = EncodeGp8(picture, [&](std::uint64_t done, std::uint64_t total) {
    EXPECT_EQ(total, 560000u);
    reports.push_back(done);
  });
  ASSERT_GE(reports.size(), 3u);
  EXPECT_TRUE(std::is_sorted(reports.begin(), reports.end()));
  EXPECT_EQ(reports.back(), 560000u);
  EXPECT_EQ(file, EncodeGp8(picture));
}

TEST(Gp8File, HeaderPaletteAndBottomRowFirst) {
  IndexedPicture picture = MakePicture(PictureKind::kGradient, 5, 3, 10);
  const Bytes file = EncodeGp8(picture);
  ASSERT_GE(file.size(), kGp8StreamOffset);
  EXPECT_EQ(ReadLe16(file.data() + 0), 0);  // left
  EXPECT_EQ(ReadLe16(file.data() + 2), 0);  // top
  EXPECT_EQ(ReadLe16(file.data() + 4), 5);  // right
  EXPECT_EQ(ReadLe16(file.data() + 6), 3);  // bottom
  for (std::size_t i = 0; i < 256; ++i) {
    const unsigned char* entry = file.data() + 8 + 4 * i;
    const Rgb expected = i < picture.palette.size() ? picture.palette[i] : Rgb{};
    EXPECT_EQ(entry[0], expected.blue) << i;
    EXPECT_EQ(entry[1], expected.green) << i;
    EXPECT_EQ(entry[2], expected.red) << i;
    EXPECT_EQ(entry[3], 0) << i;
  }
  const Bytes stream(file.begin() + kGp8StreamOffset, file.end());
  const Bytes pixels = ReferenceDecode(stream, 15).output;
  ASSERT_EQ(pixels.size(), 15u);
  for (std::uint32_t y = 0; y < 3; ++y) {
    for (std::uint32_t x = 0; x < 5; ++x) EXPECT_EQ(pixels[(2 - y) * 5 + x], picture.At(x, y));
  }
}

TEST(Gp8File, RefusesWhatTheFormatCannotHold) {
  struct Case {
    const char* name;
    std::uint32_t width, height, palette;
    const char* reason;
  };
  const Case cases[] = {
      {"no width", 0, 5, 4, "no pixels"},
      {"no height", 5, 0, 4, "no pixels"},
      {"too wide", 65536, 1, 4, "at most 65535"},
      {"too high", 1, 65536, 4, "at most 65535"},
      {"pixel block beyond 32 bits", 65535, 65535, 4, "32-bit pixel block"},
      {"no palette", 2, 2, 0, "1 to 256"},
      {"palette of 257", 2, 2, 257, "1 to 256"},
  };
  for (const Case& c : cases) {
    IndexedPicture picture;
    picture.width = c.width;
    picture.height = c.height;
    picture.palette.resize(c.palette);
    if (std::uint64_t{c.width} * c.height < 1000000)
      picture.pixels.resize(std::size_t{c.width} * c.height);
    try {
      EncodeGp8(picture);
      ADD_FAILURE() << c.name << ": accepted";
    } catch (const HostError& error) {
      EXPECT_NE(std::string(error.what()).find(c.reason), std::string::npos)
          << c.name << ": " << error.what();
    }
  }
}

// Through the image plug-in: the DIB it delivers holds the palette and, at
// rows a multiple of 4 bytes apart, bottom row first, the very pixels.
class Gp8ThroughWennel : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    wennel_ = Plugin::Load(PluginPath("wennel"), why);
    ASSERT_NE(wennel_, nullptr) << why;
    live_at_start_ = LiveBlocks();
  }
  void TearDown() override {
    EXPECT_EQ(LiveBlocks(), live_at_start_) << "a block was left allocated";
  }

  std::unique_ptr<Plugin> wennel_;
  long live_at_start_ = 0;
  ScratchDirectory scratch_;
};

TEST_F(Gp8ThroughWennel, EveryPixelAndPaletteEntryComesBack) {
  const std::uint32_t widths[] = {1, 2, 3, 4, 5, 7, 8, 13, 64, 333};
  const std::uint32_t heights[] = {1, 5, 47, 48};
  const PictureKind kinds[] = {PictureKind::kGradient, PictureKind::kNoise, PictureKind::kSparse};
  int n = 0;
  for (std::uint32_t width : widths) {
    for (std::uint32_t height : heights) {
      const PictureKind kind = kinds[n++ % 3];
      const IndexedPicture picture = MakePicture(kind, width, height, 200, n);
      const std::string path = scratch_.File("p.gp8");
      WriteBytes(path, EncodeGp8(picture));
      const std::string what =
          std::to_string(width) + "x" + std::to_string(height) + " " + KindName(kind);

      ASSERT_TRUE(wennel_->Recognises(path, ReadBytes(path))) << what;
      const DeliveredPicture dib = wennel_->Picture(path);
      ASSERT_GE(dib.header.size(), 40u + 1024u) << what;
      EXPECT_EQ(ReadLe32(dib.header.data() + 4), width) << what;
      EXPECT_EQ(ReadLe32(dib.header.data() + 8), height) << what;
      EXPECT_EQ(ReadLe16(dib.header.data() + 14), 8) << what;
      for (std::size_t i = 0; i < 256; ++i) {
        const unsigned char* quad = dib.header.data() + 40 + 4 * i;
        const Rgb expected = i < picture.palette.size() ? picture.palette[i] : Rgb{};
        ASSERT_EQ((Rgb{quad[2], quad[1], quad[0]}), expected) << what << " entry " << i;
      }
      const std::size_t stride = (width + 3) / 4 * 4;
      ASSERT_GE(dib.pixels.size(), stride * height) << what;
      for (std::uint32_t y = 0; y < height; ++y) {
        const unsigned char* row = dib.pixels.data() + (height - 1 - y) * stride;
        for (std::uint32_t x = 0; x < width; ++x)
          ASSERT_EQ(row[x], picture.At(x, y)) << what << " at " << x << "," << y;
      }
    }
  }
}

}  // namespace
