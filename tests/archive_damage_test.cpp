// Damaged archives: every truncation of a valid archive and every single-byte
// corruption of its count and directory, through every export. Each call
// either succeeds with exactly what the damaged directory describes or
// fails with -1, leaving nothing allocated and no file behind.
#include <cctype>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "cobbet_api.h"

namespace {

struct ModelEntry {
  std::string name;
  std::uint32_t size;
  std::uint32_t position;
};

// What a listing of these bytes must say: the count's low 16 bits, entries
// descrambled when the archive was recognised as scrambled; nothing when the
// directory does not lie wholly within the bytes.
std::optional<std::vector<ModelEntry>> ModelDirectory(const Bytes& file, bool scrambled) {
  if (file.size() < 4) return std::nullopt;
  const std::uint32_t count = file[0] | (file[1] << 8);
  if (4 + 20ull * count > file.size()) return std::nullopt;
  std::vector<ModelEntry> entries;
  for (std::uint32_t i = 0; i < count; ++i) {
    unsigned char e[20];
    std::memcpy(e, file.data() + 4 + 20 * i, 20);
    if (scrambled) ScrambleEntry(e);
    std::string name;
    for (int k = 0; k < 12 && e[k] != 0; ++k) name.push_back(static_cast<char>(e[k]));
    const std::uint32_t size = e[12] | (e[13] << 8) | (e[14] << 16) | (static_cast<std::uint32_t>(e[15]) << 24);
    const std::uint32_t pos = e[16] | (e[17] << 8) | (e[18] << 16) | (static_cast<std::uint32_t>(e[19]) << 24);
    entries.push_back({name, size, pos});
  }
  return entries;
}

// A name that stays in the destination: on POSIX one without "/"; on Windows
// one without "/", "\\" or ":" except as the second byte of a double-byte
// character of the ANSI code page.
bool SafeName(const std::string& name) {
  if (name.empty() || name == "." || name == "..") return false;
#if defined(_WIN32)
  for (std::size_t i = 0; i < name.size(); ++i) {
    const auto byte = static_cast<unsigned char>(name[i]);
    if (byte == '/' || byte == '\\' || byte == ':') return false;
    if (IsDBCSLeadByte(byte) && i + 1 < name.size() && static_cast<unsigned char>(name[i + 1]) >= 0x40) ++i;
  }
  return true;
#else
  return name.find('/') == std::string::npos;
#endif
}

// The name under which an extracted member lands in the destination, or
// nothing when GetFile must refuse it. Windows refuses control characters,
// wildcards and device names, and drops trailing dots and spaces.
std::optional<std::string> NameOnDisk(const std::string& name) {
  if (!SafeName(name)) return std::nullopt;
#if defined(_WIN32)
  for (const char c : name) {
    if (static_cast<unsigned char>(c) < 0x20 || std::strchr("<>\"|?*", c) != nullptr)
      return std::nullopt;
  }
  std::string kept = name.substr(0, name.find_last_not_of(". ") + 1);
  std::string device = kept.substr(0, kept.find('.'));
  for (char& c : device) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  const bool numbered = device.size() == 4 && device[3] >= '1' && device[3] <= '9' &&
                        (device.compare(0, 3, "COM") == 0 || device.compare(0, 3, "LPT") == 0);
  if (kept.empty() || numbered || device == "CON" || device == "PRN" || device == "AUX" ||
      device == "NUL")
    return std::nullopt;
  return kept;
#else
  return name;
#endif
}

class Damage : public CobbetTest {
 protected:
  // Runs every export over one damaged archive and checks each outcome
  // against the model of what its directory says.
  void Check(const Bytes& file, const std::string& what) {
    const std::string path = dir_.File("damaged.arc");
    WriteBytes(path, file);
    const std::int32_t recognised = Recognise(file);
    ASSERT_TRUE(recognised == 0 || recognised == -1) << what;
    // A count the head cannot hold (fewer than two members, more than
    // 10,240) is never taken for an archive, whatever the names say.
    if (file.size() >= 4) {
      const std::uint32_t count = file[0] | file[1] << 8 | file[2] << 16 | std::uint32_t{file[3]} << 24;
      if (count < 2 || count > 10240) ASSERT_EQ(recognised, 0) << what;
    }
    // The flag the listing follows is whatever recognition last left.
    Bytes probe = BuildArchive({{"A.TXT", {}}, {"B.TXT", {}}}, scrambled_);
    if (recognised == 0) ASSERT_EQ(Recognise(probe), -1);
    const auto model = ModelDirectory(file, scrambled_);

    for (std::uint32_t flags : {0u, 1u}) {
      HLOCAL listing = reinterpret_cast<HLOCAL>(0x99);
      const auto rc = api_.GetArchiveInfo(flags == 1 ? reinterpret_cast<const char*>(file.data()) : path.c_str(),
                                          static_cast<std::int32_t>(file.size()), flags, &listing);
      if (!model) {
        ASSERT_EQ(rc, -1) << what;
        ASSERT_EQ(listing, reinterpret_cast<HLOCAL>(0x99)) << what;
        continue;
      }
      ASSERT_EQ(rc, 0) << what;
      const Bytes block = TakeBlock(listing);
      ASSERT_EQ(block.size(), (model->size() + 1) * 428) << what;
      const auto* records = reinterpret_cast<const FileInfoRecord*>(block.data());
      for (std::size_t i = 0; i < model->size(); ++i) {
        ASSERT_EQ(std::string(records[i].name), (*model)[i].name) << what;
        ASSERT_EQ(records[i].position, (*model)[i].position) << what;
        ASSERT_EQ(records[i].extracted_size, (*model)[i].size) << what;
      }
    }
    if (!model) return;

    for (std::size_t i = 0; i < model->size() && i < 8; ++i) {
      const ModelEntry& entry = (*model)[i];
      // The first entry with this position is the one extracted.
      const ModelEntry* first = &entry;
      for (const auto& e : *model) {
        if (e.position == entry.position) {
          first = &e;
          break;
        }
      }
      const bool fits = first->size != 0 && first->position <= file.size() &&
                        first->size <= file.size() - first->position;
      Bytes expected;
      if (fits) expected.assign(file.begin() + first->position, file.begin() + first->position + first->size);

      HLOCAL handle = nullptr;
      const auto rc = api_.GetFile(path.c_str(), static_cast<std::int32_t>(entry.position),
                                   reinterpret_cast<char*>(&handle), 0x100, 0, 0);
      ASSERT_EQ(rc, fits ? 0 : -1) << what << " member " << i;
      if (rc == 0) ASSERT_EQ(TakeBlock(handle), expected) << what;

      ScratchDirectory out;
      std::string prefix = out.Prefix();
      const auto rc_file = api_.GetFile(path.c_str(), static_cast<std::int32_t>(entry.position), prefix.data(), 0, 0, 0);
      const auto on_disk = fits ? NameOnDisk(first->name) : std::nullopt;
      ASSERT_EQ(rc_file, on_disk ? 0 : -1) << what << " member " << i;
      if (on_disk) {
        ASSERT_EQ(out.Entries(), std::vector<std::string>{*on_disk}) << what;
        ASSERT_EQ(ReadBytes(out.File(*on_disk)), expected) << what;
      } else {
        ASSERT_TRUE(out.Entries().empty()) << what;
      }
    }
    ASSERT_EQ(LiveBlocks(), live_at_start_) << what;
  }

  Bytes Valid() const {
    return BuildArchive({{"README.TXT", TextBytes("read me")},
                         {"PIC.GP8", Bytes(40, 0x11)},
                         {"EMPTY.DAT", {}},
                         {"Z.Z", TextBytes("z")}},
                        scrambled_);
  }

  ScratchDirectory dir_;
  bool scrambled_ = false;
};

TEST_F(Damage, EveryTruncation) {
  for (bool scrambled : {false, true}) {
    scrambled_ = scrambled;
    const Bytes valid = Valid();
    for (std::size_t length = 0; length <= valid.size(); ++length) {
      Check(Bytes(valid.begin(), valid.begin() + static_cast<std::ptrdiff_t>(length)),
            "length " + std::to_string(length) + (scrambled ? " scrambled" : " plain"));
    }
  }
}

TEST_F(Damage, EverySingleByteCorruptionOfCountAndDirectory) {
  for (bool scrambled : {false, true}) {
    scrambled_ = scrambled;
    const Bytes valid = Valid();
    const std::size_t directory_end = 4 + 20 * 4;
    for (std::size_t at = 0; at < directory_end; ++at) {
      const unsigned char values[] = {0x00, 0x01, 0x2E, 0x7F, 0x80, 0xFF,
                                      static_cast<unsigned char>(valid[at] ^ 0x01),
                                      static_cast<unsigned char>(valid[at] ^ 0x80)};
      for (unsigned char value : values) {
        Bytes damaged = valid;
        damaged[at] = value;
        Check(damaged, "byte " + std::to_string(at) + "=" + std::to_string(value) +
                           (scrambled ? " scrambled" : " plain"));
      }
    }
  }
}

}  // namespace
