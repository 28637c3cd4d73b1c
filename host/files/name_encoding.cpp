#include "host/files/name_encoding.h"

#include <algorithm>
#include <cctype>

#include "host/host_error.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <iconv.h>

#include <cerrno>
#endif

namespace {

// The longest character of any code page vyn reads (GB18030 and UTF-8).
constexpr std::size_t kLongestCharacter = 4;

std::string Normalised(const std::string& name) {
  std::string folded;
  for (const char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    folded += c == '_' ? '-' : static_cast<char>(std::tolower(byte));
  }
  return folded;
}

bool IsUtf8Name(const std::string& name) {
  const std::string n = Normalised(name);
  return n == "utf-8" || n == "utf8" || n == "cp65001" || n == "65001";
}

[[noreturn]] void UnknownEncoding(const std::string& name) {
  throw UsageError("unknown encoding \"" + name +
                   "\": give a code page the system knows, such as cp932, latin1 or utf-8");
}

#if defined(_WIN32)

// Code pages by the names iconv users know them by; cpNNN, windows-NNN,
// ibmNNN and plain numbers name a code page by its number.
struct NamedCodePage {
  const char* name;
  unsigned code_page;
};
constexpr NamedCodePage kCodePages[] = {
    {"shift-jis", 932},   {"shiftjis", 932},     {"sjis", 932},        {"ms-kanji", 932},
    {"windows-31j", 932}, {"ms932", 932},        {"latin1", 28591},    {"latin-1", 28591},
    {"l1", 28591},        {"iso-8859-1", 28591}, {"iso8859-1", 28591}, {"ascii", 20127},
    {"us-ascii", 20127},  {"gbk", 936},          {"gb2312", 936},      {"gb18030", 54936},
    {"big5", 950},        {"euc-kr", 949},       {"uhc", 949},         {"euc-jp", 20932},
    {"koi8-r", 20866},    {"koi8-u", 21866},
};

bool AllDigits(const std::string& text) {
  return !text.empty() && text.size() <= 5 &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The number of a code page given by name, or 0.
unsigned CodePageNumber(const std::string& name) {
  const std::string n = Normalised(name);
  for (const NamedCodePage& known : kCodePages) {
    if (n == known.name) return known.code_page;
  }
  for (const std::string iso : {"iso-8859-", "iso8859-"}) {
    if (n.compare(0, iso.size(), iso) == 0) {
      const std::string part = n.substr(iso.size());
      return AllDigits(part) && part.size() <= 2 ? 28590 + static_cast<unsigned>(std::stoul(part))
                                                 : 0;
    }
  }
  std::string digits = n;
  for (const std::string prefix : {"windows-", "cp", "ibm"}) {
    if (n.compare(0, prefix.size(), prefix) == 0) digits = n.substr(prefix.size());
  }
  return AllDigits(digits) ? static_cast<unsigned>(std::stoul(digits)) : 0;
}

// The code pages of escape sequences and the like take no flags.
bool TakesFlags(unsigned code_page) {
  return !((code_page >= 50220 && code_page <= 50229) || code_page == 52936 ||
           (code_page >= 57002 && code_page <= 57011) || code_page == 65000 || code_page == 42);
}

std::u32string FromUtf16(const wchar_t* units, int count) {
  std::u32string text;
  for (int i = 0; i < count; ++i) {
    const auto unit = static_cast<char32_t>(static_cast<unsigned short>(units[i]));
    if (unit >= 0xD800 && unit < 0xDC00 && i + 1 < count) {
      const auto low = static_cast<char32_t>(static_cast<unsigned short>(units[i + 1]));
      if (low >= 0xDC00 && low < 0xE000) {
        text += 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
        ++i;
        continue;
      }
    }
    text += unit;
  }
  return text;
}

#endif

}  // namespace

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

std::optional<char32_t> NextUtf8(std::string_view text, std::size_t at, std::size_t& length) {
  const auto lead = static_cast<unsigned char>(text[at]);
  length = 1;
  if (lead < 0x80) return lead;
  std::size_t more = 0;
  char32_t c = 0;
  char32_t lowest = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    more = 1, c = lead & 0x1Fu, lowest = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    more = 2, c = lead & 0x0Fu, lowest = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    more = 3, c = lead & 0x07u, lowest = 0x10000;
  } else {
    return std::nullopt;
  }
  if (text.size() - at <= more) return std::nullopt;
  for (std::size_t k = 1; k <= more; ++k) {
    const auto next = static_cast<unsigned char>(text[at + k]);
    if ((next & 0xC0) != 0x80) return std::nullopt;
    c = (c << 6) | (next & 0x3Fu);
  }
  if (c < lowest || c > 0x10FFFF || (c >= 0xD800 && c < 0xE000)) return std::nullopt;
  length = more + 1;
  return c;
}

std::u32string DecodeUtf8(std::string_view text) {
  std::u32string decoded;
  for (std::size_t at = 0; at < text.size();) {
    std::size_t length = 1;
    const auto c = NextUtf8(text, at, length);
    decoded += c ? *c : kKeptByteBase + static_cast<unsigned char>(text[at]);
    at += length;
  }
  return decoded;
}

NameEncoding::NameEncoding(const std::string& name) : name_(name), utf8_(IsUtf8Name(name)) {
  if (utf8_) return;
#if defined(_WIN32)
  code_page_ = CodePageNumber(name);
  if (code_page_ == 0 || IsValidCodePage(code_page_) == 0) UnknownEncoding(name);
#else
  // UTF-32LE on our side: one code point per four bytes, in a known order.
  iconv_t to = iconv_open("UTF-32LE", name.c_str());
  if (to == reinterpret_cast<iconv_t>(-1)) UnknownEncoding(name);
  iconv_t from = iconv_open(name.c_str(), "UTF-32LE");
  if (from == reinterpret_cast<iconv_t>(-1)) {
    iconv_close(to);
    UnknownEncoding(name);
  }
  to_unicode_ = to;
  from_unicode_ = from;
#endif
}

NameEncoding::~NameEncoding() {
#if !defined(_WIN32)
  if (to_unicode_ != nullptr) iconv_close(static_cast<iconv_t>(to_unicode_));
  if (from_unicode_ != nullptr) iconv_close(static_cast<iconv_t>(from_unicode_));
#endif
}

std::optional<std::u32string> NameEncoding::DecodeCharacter(std::string_view bytes, std::size_t at,
                                                            std::size_t& length) const {
  length = 1;
  const auto lead = static_cast<unsigned char>(bytes[at]);
  if (lead < 0x80) return std::u32string(1, lead);
  if (utf8_) {
    const auto c = NextUtf8(bytes, at, length);
    if (!c) return std::nullopt;
    return std::u32string(1, *c);
  }
  // The shortest run of bytes from `at` that converts whole is the character.
  const std::size_t longest = std::min(kLongestCharacter, bytes.size() - at);
  for (std::size_t n = 1; n <= longest; ++n) {
#if defined(_WIN32)
    wchar_t units[8];
    const int made = MultiByteToWideChar(
        code_page_, TakesFlags(code_page_) ? MB_ERR_INVALID_CHARS : 0, bytes.data() + at,
        static_cast<int>(n), units, static_cast<int>(std::size(units)));
    if (made > 0) {
      length = n;
      return FromUtf16(units, made);
    }
    // An incomplete character and an invalid one look alike here; a longer
    // run decides.
#else
    auto cd = static_cast<iconv_t>(to_unicode_);
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    char* in = const_cast<char*>(bytes.data() + at);
    std::size_t in_left = n;
    char out[32];
    char* out_at = out;
    std::size_t out_left = sizeof out;
    errno = 0;
    const std::size_t result = iconv(cd, &in, &in_left, &out_at, &out_left);
    if (result != static_cast<std::size_t>(-1) && in_left == 0 &&
        iconv(cd, nullptr, nullptr, &out_at, &out_left) != static_cast<std::size_t>(-1) &&
        out_at != out) {
      std::u32string text;
      for (const char* p = out; p + 4 <= out_at; p += 4) {
        char32_t c = 0;
        for (int k = 3; k >= 0; --k) c = (c << 8) | static_cast<unsigned char>(p[k]);
        text += c;
      }
      length = n;
      return text;
    }
    if (errno != EINVAL) return std::nullopt;  // invalid, not merely incomplete
#endif
  }
  return std::nullopt;
}

std::u32string NameEncoding::Decode(std::string_view bytes) const {
  std::u32string decoded;
  for (std::size_t at = 0; at < bytes.size();) {
    std::size_t length = 1;
    const auto character = DecodeCharacter(bytes, at, length);
    const bool control =
        character && std::any_of(character->begin(), character->end(),
                                 [](char32_t c) { return IsControlCharacter(c) || IsKeptByte(c); });
    if (character && !control && EncodesAs(*character, bytes.substr(at, length))) {
      decoded += *character;
    } else {
      for (std::size_t k = 0; k < length; ++k)
        decoded += kKeptByteBase + static_cast<unsigned char>(bytes[at + k]);
    }
    at += length;
  }
  return decoded;
}

bool NameEncoding::EncodesAs(const std::u32string& character, std::string_view bytes) const {
  if (utf8_) return true;  // UTF-8 has one form for each character
  std::string encoded;
  for (const char32_t c : character) {
    const auto part = Encode(c);
    if (!part) return false;
    encoded += *part;
  }
  return encoded == bytes;
}

std::optional<std::string> NameEncoding::Encode(char32_t c) const {
  if (c < 0x80) return std::string(1, static_cast<char>(c));
  if (c > 0x10FFFF || (c >= 0xD800 && c < 0xE000)) return std::nullopt;
  if (utf8_) {
    std::string bytes;
    AppendUtf8(bytes, c);
    return bytes;
  }
#if defined(_WIN32)
  wchar_t units[2];
  int count = 1;
  if (c >= 0x10000) {
    units[0] = static_cast<wchar_t>(0xD800 + ((c - 0x10000) >> 10));
    units[1] = static_cast<wchar_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    count = 2;
  } else {
    units[0] = static_cast<wchar_t>(c);
  }
  char bytes[16];
  BOOL used_default = FALSE;
  // GB18030 holds every character, and takes no flags when encoding.
  const bool flags_allowed = TakesFlags(code_page_) && code_page_ != 54936;
  const int made = WideCharToMultiByte(code_page_, flags_allowed ? WC_NO_BEST_FIT_CHARS : 0, units,
                                       count, bytes, static_cast<int>(sizeof bytes), nullptr,
                                       flags_allowed ? &used_default : nullptr);
  if (made <= 0 || used_default) return std::nullopt;
  return std::string(bytes, static_cast<std::size_t>(made));
#else
  auto cd = static_cast<iconv_t>(from_unicode_);
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  char unit[4];
  for (int k = 0; k < 4; ++k) unit[k] = static_cast<char>((c >> (8 * k)) & 0xFF);
  char* in = unit;
  std::size_t in_left = sizeof unit;
  char out[16];
  char* out_at = out;
  std::size_t out_left = sizeof out;
  // A result above 0 counts conversions that are not exact.
  if (iconv(cd, &in, &in_left, &out_at, &out_left) != 0 || in_left != 0) return std::nullopt;
  if (iconv(cd, nullptr, nullptr, &out_at, &out_left) == static_cast<std::size_t>(-1))
    return std::nullopt;
  return std::string(out, static_cast<std::size_t>(out_at - out));
#endif
}
