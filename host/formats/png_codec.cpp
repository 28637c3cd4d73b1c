#include "host/formats/png_codec.h"

#include <libdeflate.h>
#include <png.h>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <new>
#include <optional>
#include <string>

#include "host/host_error.h"

// libpng reports a failure by calling the error function, which must not
// return: it jumps back to the setjmp of the function that called libpng.
// The functions that hold a setjmp (ReadHeader, ReadRows, WriteRows) have no
// object with a destructor, and the callbacks libpng calls are plain
// functions that throw nothing: the jump skips no destructor and no C++
// exception ever passes through libpng. Everything that owns memory lives in
// their callers.

namespace {

constexpr std::size_t kSignatureSize = 8;
constexpr std::size_t kMessageCapacity = 200;

// What the error function leaves for the caller.
struct PngFailure {
  char message[kMessageCapacity] = {};
};

[[noreturn]] void OnError(png_structp png, png_const_charp message) {
  auto* failure = static_cast<PngFailure*>(png_get_error_ptr(png));
  std::snprintf(failure->message, sizeof failure->message, "%s",
                message != nullptr ? message : "unknown error");
  png_longjmp(png, 1);
}

// Warnings (an odd colour profile, an ancillary chunk's CRC) leave the
// pixels as they are.
void OnWarning(png_structp, png_const_charp) {}

struct MemoryInput {
  const unsigned char* data = nullptr;
  std::size_t size = 0;
  std::size_t at = 0;
};

void ReadFromMemory(png_structp png, png_bytep out, std::size_t count) {
  auto* input = static_cast<MemoryInput*>(png_get_io_ptr(png));
  if (count > input->size - input->at) png_error(png, "file truncated");
  std::memcpy(out, input->data + input->at, count);
  input->at += count;
}

struct PngHeader {
  png_uint_32 width = 0;
  png_uint_32 height = 0;
  int bit_depth = 0;
  int colour_type = 0;
  bool interlaced = false;
  png_color palette[PNG_MAX_PALETTE_LENGTH] = {};
  int palette_size = 0;
  bool transparency = false;  // a tRNS chunk with an entry below opaque
  std::size_t row_bytes = 0;  // of a row as the transformations deliver it
  int passes = 1;
};

bool IsPalette(const PngHeader& header) { return header.colour_type == PNG_COLOR_TYPE_PALETTE; }

// Reads the chunks up to the pixels and sets the transformations: palette
// indexes one a byte; any other colour type as red, green, blue and alpha
// samples of its own depth (8 or 16 bits).
bool ReadHeader(png_structp png, png_infop info, PngHeader& header) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_read_info(png, info);
  int interlace = 0;
  png_get_IHDR(png, info, &header.width, &header.height, &header.bit_depth, &header.colour_type,
               &interlace, nullptr, nullptr);
  header.interlaced = interlace != PNG_INTERLACE_NONE;
  if (IsPalette(header)) {
    png_colorp palette = nullptr;
    if (png_get_PLTE(png, info, &palette, &header.palette_size) == 0) header.palette_size = 0;
    for (int i = 0; i < header.palette_size; ++i) header.palette[i] = palette[i];
    png_bytep alpha = nullptr;
    int alpha_count = 0;
    if (png_get_tRNS(png, info, &alpha, &alpha_count, nullptr) != 0 && alpha != nullptr) {
      for (int i = 0; i < alpha_count; ++i)
        header.transparency = header.transparency || alpha[i] != 0xFF;
    }
    if (header.bit_depth < 8) png_set_packing(png);
  } else {
    png_set_expand(png);  // grey below 8 bits to 8, a tRNS colour to alpha
    if ((header.colour_type & PNG_COLOR_MASK_COLOR) == 0) png_set_gray_to_rgb(png);
    if ((header.colour_type & PNG_COLOR_MASK_ALPHA) == 0 &&
        png_get_valid(png, info, PNG_INFO_tRNS) == 0)
      png_set_filler(png, 0xFFFF, PNG_FILLER_AFTER);
  }
  header.passes = png_set_interlace_handling(png);
  png_read_update_info(png, info);
  header.row_bytes = png_get_rowbytes(png, info);
  return true;
}

// Where the rows go: all of them into `rows` (a row pointer each), or, for a
// picture read row by row, each into rows[0] and then to `take_row`.
struct RowTarget {
  png_bytep* rows = nullptr;
  bool one_row_buffer = false;
  void (*take_row)(void* context, png_uint_32 y, png_const_bytep row) = nullptr;
  void* context = nullptr;
};

bool ReadRows(png_structp png, png_infop info, const PngHeader& header, const RowTarget& target) {
  if (setjmp(png_jmpbuf(png))) return false;
  for (int pass = 0; pass < header.passes; ++pass) {
    for (png_uint_32 y = 0; y < header.height; ++y) {
      png_bytep row = target.rows[target.one_row_buffer ? 0 : y];
      png_read_row(png, row, nullptr);
      if (target.take_row != nullptr) target.take_row(target.context, y, row);
    }
  }
  // The chunks after the pixels, to IEND: a file cut after its pixel data
  // is truncated all the same.
  png_read_end(png, info);
  return true;
}

struct ReadStructs {
  png_structp png = nullptr;
  png_infop info = nullptr;
  ~ReadStructs() { png_destroy_read_struct(&png, &info, nullptr); }
};

[[noreturn]] void Refuse(const PngFailure& failure) {
  throw HostError(std::string("cannot be read as PNG: ") + failure.message);
}

// Truecolour and grey rows, red, green, blue and alpha samples of 8 or 16
// bits, to colours.
struct ColourRows {
  png_structp png = nullptr;
  RgbPicture* picture = nullptr;
  bool sixteen_bits = false;
  bool* transparent = nullptr;
  // A row's colours can be taken only once every pass has delivered it.
  bool rows_complete = true;
  // Set when a row could not be taken; the exception is thrown again once
  // libpng's structures are released.
  std::exception_ptr failed;
};

void TakeColourRow(ColourRows& target, png_uint_32 y, png_const_bytep row) {
  RgbPicture& picture = *target.picture;
  Rgb* out = picture.pixels.data() + std::size_t{y} * picture.width;
  if (!target.sixteen_bits) {
    for (std::uint32_t x = 0; x < picture.width; ++x, row += 4) {
      *target.transparent = *target.transparent || row[3] != 0xFF;
      out[x] = {row[0], row[1], row[2]};
    }
    return;
  }
  for (std::uint32_t x = 0; x < picture.width; ++x, row += 8) {
    for (int sample = 0; sample < 4; ++sample) {
      if (row[2 * sample] != row[2 * sample + 1])
        throw HostError("has 16 bits a sample, and the sample at " + std::to_string(x) + "," +
                        std::to_string(y) + " (" +
                        std::to_string(row[2 * sample] * 256 + row[2 * sample + 1]) +
                        ") is not an 8-bit value; only pictures whose samples 8 bits hold can "
                        "be encoded");
    }
    *target.transparent = *target.transparent || row[6] != 0xFF;
    out[x] = {row[0], row[2], row[4]};
  }
}

// Called from ReadRows, whose setjmp no exception may pass: a failure is
// kept for the caller, and the reading ends through libpng's own error path.
void TakeColourRowSafely(void* context, png_uint_32 y, png_const_bytep row) {
  auto& target = *static_cast<ColourRows*>(context);
  if (!target.rows_complete) return;
  try {
    TakeColourRow(target, y, row);
  } catch (...) {
    target.failed = std::current_exception();
  }
  if (target.failed) png_error(target.png, "the picture cannot be taken");
}

struct MemoryOutput {
  Bytes* out = nullptr;
};

void WriteToMemory(png_structp png, png_bytep data, std::size_t count) {
  auto* output = static_cast<MemoryOutput*>(png_get_io_ptr(png));
  bool stored = true;
  try {
    output->out->insert(output->out->end(), data, data + count);
  } catch (const std::bad_alloc&) {
    stored = false;
  }
  if (!stored) png_error(png, "out of memory");
}

void FlushMemory(png_structp) {}

struct WriteStructs {
  png_structp png = nullptr;
  png_infop info = nullptr;
  ~WriteStructs() { png_destroy_write_struct(&png, &info); }
};

constexpr int kDeflateLevel = 6;

struct CompressorFree {
  void operator()(libdeflate_compressor* compressor) const { libdeflate_free_compressor(compressor); }
};

// The PNG image data of a palette picture: each row after its filter byte
// (0, none, as for every palette picture), in one zlib stream.
Bytes CompressedRows(const IndexedPicture& picture) {
  const std::size_t row = picture.width;
  Bytes filtered((row + 1) * picture.height);
  for (std::uint32_t y = 0; y < picture.height; ++y) {
    filtered[y * (row + 1)] = 0;
    std::copy_n(picture.pixels.data() + std::size_t{y} * row, row,
                filtered.data() + y * (row + 1) + 1);
  }
  const std::unique_ptr<libdeflate_compressor, CompressorFree> compressor(
      libdeflate_alloc_compressor(kDeflateLevel));
  if (compressor == nullptr) throw std::bad_alloc();
  Bytes compressed(libdeflate_zlib_compress_bound(compressor.get(), filtered.size()));
  const std::size_t size = libdeflate_zlib_compress(compressor.get(), filtered.data(),
                                                    filtered.size(), compressed.data(),
                                                    compressed.size());
  if (size == 0) throw HostError("cannot be written as PNG: the compressor ran out of room");
  compressed.resize(size);
  return compressed;
}

bool WriteRows(png_structp png, png_infop info, const IndexedPicture& picture,
               const png_color* palette, int palette_size, const Bytes* compressed,
               const RowProgress* progress) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_set_IHDR(png, info, picture.width, picture.height, 8, PNG_COLOR_TYPE_PALETTE,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_set_PLTE(png, info, palette, palette_size);
  png_write_info(png, info);
  if (compressed != nullptr) {
    // The image data made already: one IDAT chunk, then the end.
    static constexpr png_byte kImageData[5] = {'I', 'D', 'A', 'T', '\0'};
    static constexpr png_byte kEnd[5] = {'I', 'E', 'N', 'D', '\0'};
    png_write_chunk(png, kImageData, compressed->data(), compressed->size());
    png_write_chunk(png, kEnd, nullptr, 0);
    if (*progress) (*progress)(picture.height, picture.height);
    return true;
  }
  constexpr std::uint32_t kRowsBetweenReports = 64;
  for (std::uint32_t y = 0; y < picture.height; ++y) {
    png_write_row(png, picture.pixels.data() + std::size_t{y} * picture.width);
    if (*progress && (y + 1) % kRowsBetweenReports == 0) (*progress)(y + 1, picture.height);
  }
  png_write_end(png, info);
  return true;
}

}  // namespace

bool IsPng(std::span<const unsigned char> bytes) {
  return bytes.size() >= kSignatureSize && png_sig_cmp(bytes.data(), 0, kSignatureSize) == 0;
}

PictureFile DecodePng(std::span<const unsigned char> bytes, bool& transparent) {
  transparent = false;
  if (!IsPng(bytes)) throw HostError("is not a PNG file");
  PngFailure failure;
  ReadStructs structs;
  structs.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &failure, OnError, OnWarning);
  if (structs.png != nullptr) structs.info = png_create_info_struct(structs.png);
  if (structs.png == nullptr || structs.info == nullptr) throw std::bad_alloc();
  MemoryInput input{bytes.data(), bytes.size(), 0};
  png_set_read_fn(structs.png, &input, ReadFromMemory);

  PngHeader header;
  if (!ReadHeader(structs.png, structs.info, header)) Refuse(failure);
  CheckPictureSize(header.width, header.height);

  PictureFile file;
  if (IsPalette(header)) {
    IndexedPicture& picture = file.indexed;
    picture.width = header.width;
    picture.height = header.height;
    picture.pixels.resize(std::size_t{picture.width} * picture.height);
    if (header.palette_size == 0) throw HostError("cannot be read as PNG: it has no palette");
    // Indexes go straight into the picture, one a byte.
    std::vector<png_bytep> rows(picture.height);
    for (std::uint32_t y = 0; y < picture.height; ++y)
      rows[y] = picture.pixels.data() + std::size_t{y} * picture.width;
    if (!ReadRows(structs.png, structs.info, header, {rows.data(), false, nullptr, nullptr}))
      Refuse(failure);
    for (int i = 0; i < header.palette_size; ++i)
      picture.palette.push_back(
          {header.palette[i].red, header.palette[i].green, header.palette[i].blue});
    const auto beyond =
        std::find_if(picture.pixels.begin(), picture.pixels.end(),
                     [&](std::uint8_t index) { return index >= header.palette_size; });
    if (beyond != picture.pixels.end()) {
      const std::size_t at = static_cast<std::size_t>(beyond - picture.pixels.begin());
      throw HostError("is damaged: the pixel at " + std::to_string(at % picture.width) + "," +
                      std::to_string(at / picture.width) + " has palette index " +
                      std::to_string(*beyond) + " but the palette has " +
                      std::to_string(header.palette_size) + " entries");
    }
    transparent = header.transparency;
    return file;
  }

  RgbPicture& picture = file.colours;
  picture.width = header.width;
  picture.height = header.height;
  picture.pixels.resize(std::size_t{picture.width} * picture.height);
  ColourRows target{structs.png, &picture, header.bit_depth == 16, &transparent, true, {}};
  // A picture read in one pass goes row by row through one row buffer; an
  // interlaced one needs all its rows before any is complete.
  const bool row_by_row = header.passes == 1;
  std::vector<unsigned char> buffer(header.row_bytes * (row_by_row ? 1 : picture.height));
  std::vector<png_bytep> rows(row_by_row ? 1 : picture.height);
  for (std::size_t y = 0; y < rows.size(); ++y) rows[y] = buffer.data() + y * header.row_bytes;
  target.rows_complete = row_by_row;
  const bool read = ReadRows(structs.png, structs.info, header,
                             {rows.data(), row_by_row, TakeColourRowSafely, &target});
  if (target.failed) std::rethrow_exception(target.failed);
  if (!read) Refuse(failure);
  if (!row_by_row) {
    for (std::uint32_t y = 0; y < picture.height; ++y) {
      TakeColourRow(target, y, rows[y]);
    }
  }
  return file;
}

Bytes EncodeIndexedPng(const IndexedPicture& picture, const RowProgress& progress,
                       std::uint64_t one_go_pixels) {
  if (picture.width == 0 || picture.height == 0 || picture.width > PNG_UINT_31_MAX ||
      picture.height > PNG_UINT_31_MAX || picture.palette.empty() ||
      picture.palette.size() > kMaxPaletteSize)
    throw HostError("a PNG cannot hold a picture of " + std::to_string(picture.width) + "x" +
                    std::to_string(picture.height) + " with " +
                    std::to_string(picture.palette.size()) + " palette entries");
  png_color palette[PNG_MAX_PALETTE_LENGTH] = {};
  for (std::size_t i = 0; i < picture.palette.size(); ++i)
    palette[i] = {picture.palette[i].red, picture.palette[i].green, picture.palette[i].blue};

  PngFailure failure;
  WriteStructs structs;
  structs.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &failure, OnError, OnWarning);
  if (structs.png != nullptr) structs.info = png_create_info_struct(structs.png);
  if (structs.png == nullptr || structs.info == nullptr) throw std::bad_alloc();
  const std::uint64_t pixels = std::uint64_t{picture.width} * picture.height;
  const std::optional<Bytes> compressed =
      pixels <= one_go_pixels ? std::optional(CompressedRows(picture)) : std::nullopt;
  Bytes out;
  MemoryOutput output{&out};
  png_set_write_fn(structs.png, &output, WriteToMemory, FlushMemory);
  if (!WriteRows(structs.png, structs.info, picture, palette,
                 static_cast<int>(picture.palette.size()), compressed ? &*compressed : nullptr,
                 &progress)) {
    if (std::strcmp(failure.message, "out of memory") == 0) throw std::bad_alloc();
    throw HostError(std::string("cannot be written as PNG: ") + failure.message);
  }
  return out;
}
