// Damaged pictures: every truncation of a valid picture and every
// single-byte corruption of its header and palette, through every export,
// from memory and from a file. Each call either succeeds with exactly what
// the damaged bytes describe or fails with -1, handing nothing out.
#include <cstring>
#include <optional>
#include <string>

#include "ring_window_decoder.h"
#include "test_files.h"
#include "wennel_api.h"

namespace {

std::uint16_t Field(const Bytes& file, std::size_t at) {
  return static_cast<std::uint16_t>(file[at] | (file[at + 1] << 8));
}

class PictureDamage : public WennelTest {
 protected:
  // What GetPicture must make of these bytes: the pixel block, or nothing.
  static std::optional<Bytes> ModelPixels(const Bytes& file) {
    if (file.size() < 1032 || Field(file, 0) != 0 || Field(file, 2) != 0) return std::nullopt;
    const std::size_t right = Field(file, 4), bottom = Field(file, 6);
    const auto pixels = RingWindowDecode(Bytes(file.begin() + 1032, file.end()), right * bottom);
    if (!pixels) return std::nullopt;
    Bytes block((right + 3) * bottom, 0);
    const std::size_t stride = (right + 3) / 4 * 4;
    for (std::size_t i = 0; i < pixels->size(); ++i) block[i / right * stride + i % right] = (*pixels)[i];
    return block;
  }

  // What IsSupported must say of these bytes, from the head it is handed
  // (zero past the file's end): -1 for a header at the origin that is not
  // empty both ways, followed by a palette whose fourth bytes are all zero.
  static std::int32_t ModelRecognition(const Bytes& file) {
    Bytes head(1032, 0);
    std::copy_n(file.begin(), std::min(file.size(), head.size()), head.begin());
    if (Field(head, 0) != 0 || Field(head, 2) != 0) return 0;
    if (Field(head, 4) == 0 && Field(head, 6) == 0) return 0;
    for (std::size_t i = 0; i < 256; ++i)
      if (head[8 + 4 * i + 3] != 0) return 0;
    return -1;
  }

  void Check(const Bytes& file, const std::string& what) {
    ASSERT_EQ(Recognise(file), ModelRecognition(file)) << what;

    const std::string path = dir_.File("damaged.gp8");
    WriteBytes(path, file);
    const auto expected = ModelPixels(file);
    for (std::uint32_t flags : {0u, 1u}) {
      const char* source = flags == 0 ? path.c_str() : reinterpret_cast<const char*>(file.data());
      PictureInfoRecord info;
      std::memset(&info, 0xA5, sizeof info);
      const auto rc = api_.GetPictureInfo(source, static_cast<std::int32_t>(file.size()), flags, &info);
      if (file.size() < 8) {
        ASSERT_EQ(rc, -1) << what;
        ASSERT_EQ(info.left, static_cast<std::int32_t>(0xA5A5A5A5)) << what;
      } else {
        ASSERT_EQ(rc, 0) << what;
        ASSERT_EQ(info.width, Field(file, 4) - Field(file, 0)) << what;
        ASSERT_EQ(info.height, Field(file, 6) - Field(file, 2)) << what;
      }

      const Dib dib = Picture(source, static_cast<std::int32_t>(file.size()), flags);
      ASSERT_EQ(dib.result, expected ? 0 : -1) << what << " flags " << flags;
      if (!expected) continue;
      ASSERT_EQ(dib.pixels, *expected) << what;
      ASSERT_EQ(dib.header.size(), 1078u) << what;
      for (std::size_t i = 0; i < 256; ++i) {
        ASSERT_EQ(std::memcmp(&dib.header[40 + 4 * i], &file[8 + 4 * i], 3), 0) << what;
        ASSERT_EQ(dib.header[43 + 4 * i], 0) << what;
      }
    }
    ASSERT_EQ(LiveBlocks(), live_at_start_) << what;
  }

  // 9 x 7 pixels: literals, a run over the write position, matches far back.
  const Bytes valid_ = Gp8File(0, 0, 9, 7,
                               HexBytes("FD 41 EE FF 42 43 44 45 46 47 00 EE F3 F0 F5 00 01 EE FF 0F"
                                        " 10 20 30 40 50 60 70 80 F0 F0 F0 F0"));
  ScratchDirectory dir_;
};

TEST_F(PictureDamage, TheValidPictureDecodes) {
  ASSERT_EQ(Recognise(valid_), -1);
  ASSERT_TRUE(ModelPixels(valid_).has_value());
  Check(valid_, "valid");
}

TEST_F(PictureDamage, EveryTruncation) {
  for (std::size_t length = 0; length < valid_.size(); ++length) {
    Check(Bytes(valid_.begin(), valid_.begin() + static_cast<std::ptrdiff_t>(length)),
          "length " + std::to_string(length));
  }
}

TEST_F(PictureDamage, EverySingleByteCorruptionOfHeaderAndPalette) {
  for (std::size_t at = 0; at < 1032; ++at) {
    // Every header byte takes many values; of the palette, the fourth byte
    // of each entry (which recognition examines) and a sample of the others.
    const bool header = at < 8;
    if (!header && (at - 8) % 4 != 3 && at % 61 != 0) continue;
    const unsigned char values[] = {0x00, 0x01, 0x7F, 0x80, 0xFF, static_cast<unsigned char>(valid_[at] ^ 0x01),
                                    static_cast<unsigned char>(valid_[at] ^ 0x10)};
    for (unsigned char value : values) {
      Bytes damaged = valid_;
      damaged[at] = value;
      Check(damaged, "byte " + std::to_string(at) + "=" + std::to_string(value));
    }
  }
}

}  // namespace
