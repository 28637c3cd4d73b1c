// Member names are bytes in the code page of the system that made the
// archive (for ARC archives the Japanese code page CP932, whose double-byte
// characters may hold 0x5C, "\", as their second byte). A NameEncoding turns
// such bytes into Unicode text and text back into bytes, one character at a
// time, so that a byte that does not decode is kept rather than lost.
#pragma once

#include <optional>
#include <string>
#include <string_view>

// A byte of a name kept as it is, because it does not decode or belongs to a
// control character: U+DC00 + the byte, a lone surrogate, which no decoded
// character can be.
constexpr char32_t kKeptByteBase = 0xDC00;
inline bool IsKeptByte(char32_t c) { return c >= kKeptByteBase && c <= kKeptByteBase + 0xFF; }
inline unsigned char KeptByteValue(char32_t c) {
  return static_cast<unsigned char>(c - kKeptByteBase);
}

// Characters that must never reach a terminal or a file name raw: C0
// controls, DEL and the C1 controls (U+0080 to U+009F, which some terminals
// take as escape sequences).
inline bool IsControlCharacter(char32_t c) {
  return c < 0x20 || c == 0x7F || (c >= 0x80 && c < 0xA0);
}

class NameEncoding {
 public:
  // The default for ARC archives.
  static constexpr char kDefault[] = "cp932";

  // A code page by name: any the system's converter knows (iconv; on
  // Windows the code pages of MultiByteToWideChar, by the usual names or
  // as cpNNN). Throws UsageError for a name it does not know.
  explicit NameEncoding(const std::string& name);
  ~NameEncoding();
  NameEncoding(const NameEncoding&) = delete;
  NameEncoding& operator=(const NameEncoding&) = delete;

  const std::string& name() const { return name_; }

  // Every byte accounted for: a character where bytes decode, kept bytes
  // where they do not, and a control character as the bytes it came from.
  // Bytes that decode to a character whose bytes in this code page are
  // others (CP932 holds some characters twice, at NEC's and at IBM's places)
  // are kept too, so that every decoded name encodes back to its own bytes.
  // A byte below 0x80 that stands alone is always its ASCII character, so
  // ASCII names read the same in every code page.
  std::u32string Decode(std::string_view bytes) const;

  // The bytes of a character in this code page, or nothing when the code
  // page has no such character (or only a look-alike).
  std::optional<std::string> Encode(char32_t c) const;

 private:
  // One character's code points from the bytes at `at`, and how many bytes
  // it takes; nothing when the bytes there do not begin a character.
  std::optional<std::u32string> DecodeCharacter(std::string_view bytes, std::size_t at,
                                                std::size_t& length) const;

  // Whether the character encodes back to exactly these bytes.
  bool EncodesAs(const std::u32string& character, std::string_view bytes) const;

  std::string name_;
  bool utf8_ = false;  // handled here, the same on every system
#if defined(_WIN32)
  unsigned code_page_ = 0;
#else
  void* to_unicode_ = nullptr;    // iconv_t
  void* from_unicode_ = nullptr;  // iconv_t
#endif
};

// UTF-8, strictly: no overlong forms, no surrogates, nothing above U+10FFFF.
void AppendUtf8(std::string& out, char32_t c);
// The character at `at` and its length, or nothing when the bytes there are
// not UTF-8.
std::optional<char32_t> NextUtf8(std::string_view text, std::size_t at, std::size_t& length);
// UTF-8 text as characters, each byte that is not UTF-8 kept.
std::u32string DecodeUtf8(std::string_view text);
