// Writes the fuzzers' seed corpora: archives and pictures made by the
// project's own writers, plain and scrambled, of several shapes, and raw
// inputs for the round-trip harnesses.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "fuzz_inputs.h"

namespace {

namespace fs = std::filesystem;

void Save(const fs::path& dir, const std::string& name, const Bytes& bytes) {
  fs::create_directories(dir);
  std::ofstream out(dir / name, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

std::vector<std::pair<std::string, Bytes>> Members(int count, std::size_t size) {
  std::vector<std::pair<std::string, Bytes>> members;
  for (int i = 0; i < count; ++i) {
    Bytes data(size + static_cast<std::size_t>(i), static_cast<unsigned char>('a' + i % 26));
    members.push_back({"M" + std::to_string(i) + ".DAT", data});
  }
  return members;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_seeds DIR\n");
    return 2;
  }
  const fs::path root(argv[1]);
  std::vector<Bytes> archives;
  for (bool scrambled : {false, true}) {
    archives.push_back(PackArchive({{"README.TXT", Text("read me first\n")}, {"PIC.GP8", Bytes(64, 7)}}, scrambled));
    archives.push_back(PackArchive({{"A.B", {}}, {"ABCDEFGH.TXT", Text("twelve")}, {"Z.", Text("z")}}, scrambled));
    archives.push_back(PackArchive(Members(40, 3), scrambled));
    archives.push_back(PackArchive(Members(120, 1), scrambled));
  }
  std::vector<Bytes> pictures;
  const std::uint32_t shapes[][3] = {{1, 1, 2}, {5, 5, 3}, {7, 3, 16}, {16, 16, 256}, {33, 20, 64}, {64, 48, 2}};
  std::uint32_t seed = 1;
  for (const auto& s : shapes) pictures.push_back(EncodeGp8(SamplePicture(s[0], s[1], s[2], seed++)));

  for (std::size_t i = 0; i < archives.size(); ++i) {
    const std::string name = "archive" + std::to_string(i);
    for (const char* harness : {"cobbet_recognise_fuzzer", "cobbet_listing_fuzzer", "cobbet_getfile_fuzzer"})
      Save(root / harness, name, archives[i]);
  }
  for (std::size_t i = 0; i < pictures.size(); ++i) {
    const std::string name = "picture" + std::to_string(i);
    for (const char* harness : {"wennel_recognise_fuzzer", "wennel_picture_fuzzer"})
      Save(root / harness, name, pictures[i]);
  }
  // The round trips take raw bytes that they shape into members or pixels.
  for (std::size_t i = 0; i < 4; ++i) {
    Bytes raw;
    for (std::size_t k = 0; k < 64 * (i + 1); ++k) raw.push_back(static_cast<unsigned char>((k * (i + 3)) ^ (k >> 3)));
    Save(root / "arc_roundtrip_fuzzer", "raw" + std::to_string(i), raw);
    Save(root / "gp8_roundtrip_fuzzer", "raw" + std::to_string(i), raw);
  }
  std::printf("seed corpora written to %s\n", root.string().c_str());
  return 0;
}
