// The pixel stream: literals, matches at absolute window positions, the
// window's start and wrap, where decoding stops, and streams that end early.
// Every case goes through GetPicture with the picture in an exact-size buffer.
#include <array>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "gp8_corpus.h"
#include "greedy_lzss.h"
#include "ring_window_decoder.h"
#include "table_optimal_lzss.h"
#include "wennel_api.h"

namespace {

using Decoder = WennelTest;
using Damage = WennelTest;

std::size_t Stride(std::size_t width) { return (width + 3) / 4 * 4; }

// The pixel block a right x bottom picture must come out as: the pixels in
// stream order, row k at k x stride, every other byte 0.
Bytes ExpectedBlock(std::size_t right, std::size_t bottom, const Bytes& pixels) {
  Bytes block((right + 3) * bottom, 0);
  for (std::size_t i = 0; i < pixels.size(); ++i) {
    block[i / right * Stride(right) + i % right] = pixels[i];
  }
  return block;
}

Bytes Repeat(unsigned char value, std::size_t count) { return Bytes(count, value); }

Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

struct Vector {
  std::string what;
  std::uint16_t right;
  std::uint16_t bottom;
  Bytes stream;
  std::optional<Bytes> pixels;  // in stream order; none: the picture is incomplete
};

std::vector<Vector> HandMadeVectors() {
  const Bytes sample = HexBytes("FD 41 EE FF 42 43 44 45 46 47");
  const Bytes nineteen_literals =
      HexBytes("FF 01 02 03 04 05 06 07 08 FF 09 0A 0B 0C 0D 0E 0F 10 07 11 12 13 FE F0 00 00");
  return {
      {"sample: literal, run of 18 at 4078, six literals", 5, 5, sample,
       Join({Repeat(0x41, 19), HexBytes("42 43 44 45 46 47")})},
      {"picture ends inside the run", 4, 4, sample, Repeat(0x41, 16)},
      {"run of two bytes overlapping the write position", 3, 3, HexBytes("03 41 42 EE F4"),
       HexBytes("41 42 41 42 41 42 41 42 41")},
      {"match at 0 reads never-written positions", 3, 1, HexBytes("00 00 00"),
       HexBytes("00 00 00")},
      {"match straddles written and never-written positions", 7, 1, HexBytes("03 41 42 EC F2"),
       HexBytes("41 42 00 00 41 42 00")},
      {"high nibble of b1 is the position's top bits", 5, 1, HexBytes("03 41 42 EF F0"),
       HexBytes("41 42 42 42 42")},
      {"nibble 0 copies 3", 2, 2, HexBytes("01 41 EE F0"), Repeat(0x41, 4)},
      {"nibble 15 copies 18", 19, 1, HexBytes("01 41 EE FF"), Repeat(0x41, 19)},
      {"19th byte wraps to position 0", 5, 5, nineteen_literals,
       HexBytes("01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10 11 12 13 11 12 13 13 11 12")},
      {"width 3: a match crosses rows of the stream", 3, 3, HexBytes("0F 41 42 43 44 EE F2"),
       HexBytes("41 42 43 44 41 42 43 44 41")},
      {"stops inside a flag group", 5, 5, HexBytes("F1 41 EE FF EE F0 EE F0 42 43 44 45"),
       Repeat(0x41, 25)},
      {"stream ends inside the group after the last pixel", 5, 5,
       HexBytes("F1 41 EE FF EE F0 EE F0"), Repeat(0x41, 25)},
      {"stops inside a match", 3, 1, HexBytes("01 41 EE FF"), Repeat(0x41, 3)},
      {"last group would run past a small block", 1, 1, HexBytes("FF 01 02 03 04 05 06 07 08"),
       HexBytes("01")},
      {"width 0: no flag byte read", 0, 5, {}, Bytes{}},
      {"height 0: empty pixel block", 5, 0, HexBytes("FF"), Bytes{}},
      {"empty both ways", 0, 0, {}, Bytes{}},
      // Streams that end before the picture is complete.
      {"empty stream", 1, 1, {}, std::nullopt},
      {"flag byte only", 1, 1, HexBytes("FF"), std::nullopt},
      {"literal missing", 2, 1, HexBytes("03 41"), std::nullopt},
      {"match missing its second byte", 4, 1, HexBytes("01 41 EE"), std::nullopt},
      {"sample one byte short", 5, 5, HexBytes("FD 41 EE FF 42 43 44 45 46"), std::nullopt},
      {"next flag byte missing", 20, 1, HexBytes("01 41 EE FF"), std::nullopt},
  };
}

// More than a window of bytes, then matches reading back 4096, 4095 and 1
// bytes: the output itself must serve as the window.
std::vector<Vector> LongVectors() {
  const Bytes counting = CountingPixels(4104);  // whole groups of eight literals
  // After 4104 bytes the write position is (4078 + 4104) mod 4096 = 4086:
  // position 4086 is 4096 back. Three bytes on, 4090 is 4095 back; three
  // more, 4091 is the byte just written.
  Bytes stream = LiteralStream(counting);
  const Bytes matches = HexBytes("00 F6 F0 FA F0 FB F0");
  stream.insert(stream.end(), matches.begin(), matches.end());
  Bytes pixels = counting;
  for (std::size_t i : {8, 9, 10, 12, 13, 14, 14, 14, 14}) pixels.push_back(counting[i]);
  std::vector<Vector> vectors = {{"matches 4096, 4095 and 1 byte back",
                                  static_cast<std::uint16_t>(pixels.size()), 1, stream, pixels}};

  // Pictures large enough for whole groups to be decoded at once, whose
  // streams end early, in groups of seven matches of 18 bytes and a literal,
  // the group that reads furthest ahead (the literal last): cut within the
  // first window of output, and past it where the last whole group just fits
  // the stream, one byte short of that, and one byte beyond.
  Bytes groups;  // longer than the longest cut, which is taken from it
  for (int g = 0; g < 44; ++g) {
    const Bytes group = HexBytes("80 EE FF 00 FF EE FF 10 FF EE FF 05 FF F0 FF");
    groups.insert(groups.end(), group.begin(), group.end());
    groups.push_back(static_cast<unsigned char>(0x40 + g));
  }
  const std::pair<std::uint16_t, std::size_t> cuts[] = {
      {32, 16 * 8 + 46}, {128, 16 * 39 + 45}, {128, 16 * 39 + 46}, {128, 16 * 39 + 47},
      {128, 16 * 39 + 48}};
  for (const auto& [bottom, length] : cuts) {
    const Bytes cut(groups.begin(), groups.begin() + static_cast<std::ptrdiff_t>(length));
    vectors.push_back({"40x" + std::to_string(bottom) + ", stream of " + std::to_string(length),
                       40, bottom, cut, RingWindowDecode(cut, std::size_t{40} * bottom)});
  }
  return vectors;
}

class DecoderVectors : public WennelTest {
 protected:
  void Run(const std::vector<Vector>& vectors) {
    for (const Vector& v : vectors) {
      SCOPED_TRACE(v.what);
      const Dib dib = PictureFromMemory(Gp8File(0, 0, v.right, v.bottom, v.stream));
      if (!v.pixels) {
        EXPECT_EQ(dib.result, -1);
        continue;
      }
      ASSERT_EQ(dib.result, 0);
      EXPECT_EQ(dib.pixels, ExpectedBlock(v.right, v.bottom, *v.pixels));
    }
  }
};

TEST_F(DecoderVectors, HandMade) { Run(HandMadeVectors()); }

TEST_F(DecoderVectors, BeyondOneWindow) { Run(LongVectors()); }

TEST_F(DecoderVectors, AgreesWithARingWindowDecoder) {
  // Random streams, with matches aimed near the write position half of the
  // time so that runs and recent bytes come up as often as stale ones.
  std::mt19937 random(20260);
  std::vector<Vector> vectors;
  for (int round = 0; round < 60; ++round) {
    const auto right = static_cast<std::uint16_t>(1 + random() % 160);
    const auto bottom = static_cast<std::uint16_t>(1 + random() % 60);
    Bytes stream;
    std::size_t out = 0;
    const std::size_t count = std::size_t{right} * bottom;
    while (out < count) {
      const auto flags = static_cast<unsigned char>(random());
      stream.push_back(flags);
      for (int bit = 0; bit < 8; ++bit) {
        if ((flags >> bit) & 1) {
          stream.push_back(static_cast<unsigned char>(random()));
          ++out;
          continue;
        }
        const std::size_t recent = (4078 + out - 1 - random() % 20) % 4096;
        const std::size_t p = random() % 2 != 0 ? recent : random() % 4096;
        const std::size_t n = random() % 16;
        stream.push_back(static_cast<unsigned char>(p));
        stream.push_back(static_cast<unsigned char>(((p >> 8) << 4) | n));
        out += n + 3;
      }
    }
    if (random() % 4 == 0) stream.resize(stream.size() - stream.size() / 8);  // ends early
    vectors.push_back({"random " + std::to_string(round), right, bottom, stream,
                       RingWindowDecode(stream, count)});
  }
  Run(vectors);
}

TEST_F(DecoderVectors, AgreesWithTheClassicDecoderOnEveryKindOfPicture) {
  // Each kind of picture the benchmarks decode, through a greedy encoder and
  // through an optimal parse (short matches among literals, sources anywhere
  // in the window): runs, copies of the row above, dither patterns and
  // groups of eight literals, at a width whose rows take a fill and at one
  // whose rows do not. Cut short, the same streams come out as the
  // ring-window decoder has them or fail cleanly.
  struct Encoder {
    const char* name;
    Bytes (*encode)(std::span<const unsigned char>);
  };
  const Encoder encoders[] = {
      {"greedy", [](std::span<const unsigned char> p) { return Bytes(GreedyLzssEncode(p)); }},
      {"optimal",
       [](std::span<const unsigned char> p) { return Bytes(TableOptimalLzssEncode(p)); }},
  };
  std::vector<Vector> vectors;
  for (CorpusKind kind : kCorpusKinds) {
    for (const auto& [right, bottom] :
         {std::pair<std::uint16_t, std::uint16_t>{640, 480}, {333, 97}}) {
      const CorpusPicture picture = MakeCorpusPicture(kind, right, bottom);
      for (const Encoder& encoder : encoders) {
        // The optimal parse is slow: its streams at the smaller size only.
        if (encoder.encode != encoders[0].encode && right == 640) continue;
        const Bytes stream = encoder.encode(picture.pixels);
        const Bytes& classic = picture.pixels;
        const std::string what = std::string(CorpusKindName(kind)) + " " + std::to_string(right) +
                                 "x" + std::to_string(bottom) + " " + encoder.name;
        vectors.push_back({what, right, bottom, stream, classic});
        for (std::size_t cut : {std::size_t{1}, std::size_t{17}, stream.size() / 2}) {
          const Bytes shorter(stream.begin(), stream.end() - static_cast<std::ptrdiff_t>(cut));
          vectors.push_back({what + " less " + std::to_string(cut) + " bytes", right, bottom,
                             shorter, RingWindowDecode(shorter, classic.size())});
        }
      }
    }
  }
  Run(vectors);
}

TEST_F(Decoder, EachCallStartsFromAnEmptyWindow) {
  // A first picture fills the window; the second reads never-written
  // positions, which must be 0 again.
  ASSERT_EQ(PictureFromMemory(LiteralPicture(64, 1, Repeat(0x77, 64))).result, 0);
  const Dib dib = PictureFromMemory(Gp8File(0, 0, 4, 1, HexBytes("00 00 00 00 00")));
  ASSERT_EQ(dib.result, 0);
  EXPECT_EQ(dib.pixels, Bytes(7, 0));
}

TEST_F(Damage, EveryTruncationOfTheSampleFails) {
  const Bytes file = Gp8File(0, 0, 5, 5, HexBytes("FD 41 EE FF 42 43 44 45 46 47"));
  for (std::size_t length = 0; length < file.size(); ++length) {
    const Bytes cut(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(length));
    EXPECT_EQ(PictureFromMemory(cut).result, -1) << "length " << length;
  }
  EXPECT_EQ(PictureFromMemory(file).result, 0);
}

TEST_F(Damage, FlippedStreamBytes) {
  // Whatever a damaged stream says, the picture comes out as the ring-window
  // decoder has it, or the call fails cleanly when the stream runs out first.
  const Bytes stream = HexBytes("FD 41 EE FF 42 43 44 45 46 47 00 EE F3 F0 F5 00 01 EE FF");
  for (std::size_t at = 0; at < stream.size(); ++at) {
    for (unsigned flip : {0x01u, 0x10u, 0x80u, 0xFFu}) {
      SCOPED_TRACE(std::to_string(at) + " ^ " + std::to_string(flip));
      Bytes bad = stream;
      bad[at] = static_cast<unsigned char>(bad[at] ^ flip);
      const std::optional<Bytes> expected = RingWindowDecode(bad, 7 * 6);
      const Dib dib = PictureFromMemory(Gp8File(0, 0, 7, 6, bad));
      if (!expected) {
        EXPECT_EQ(dib.result, -1);
      } else {
        ASSERT_EQ(dib.result, 0);
        EXPECT_EQ(dib.pixels, ExpectedBlock(7, 6, *expected));
      }
    }
  }
}

}  // namespace
