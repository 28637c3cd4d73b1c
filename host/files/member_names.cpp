#include "host/files/member_names.h"

#include <cstring>

#include "host/files/name_encoding.h"
#include "host/files/system_path.h"

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

// "\x83": how a byte of text from elsewhere shows.
void AppendEscaped(std::string& out, unsigned char byte) {
  out += "\\x";
  out += kHexDigits[byte >> 4];
  out += kHexDigits[byte & 0xF];
}

// "%x83": how a kept byte, or a character no file name may hold, shows in a
// member's name.
void AppendNameEscape(std::string& out, unsigned char byte) {
  out += "%x";
  out += kHexDigits[byte >> 4];
  out += kHexDigits[byte & 0xF];
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// The byte of a "%xNN" at `at`, or -1 when none begins there.
int EscapeAt(std::string_view text, std::size_t at) {
  if (at + 4 > text.size() || text[at] != '%' || text[at + 1] != 'x') return -1;
  const int high = HexValue(text[at + 2]);
  const int low = HexValue(text[at + 3]);
  return high < 0 || low < 0 ? -1 : high * 16 + low;
}

// The character a byte of a "%xNN" stands for: printable ASCII as itself,
// any other byte kept, as decoding keeps it.
char32_t EscapedCharacter(int byte) {
  const auto c = static_cast<char32_t>(byte);
  return c < 0x80 && !IsControlCharacter(c) ? c : kKeptByteBase + c;
}

std::u32string Characters(const std::string& ascii) { return {ascii.begin(), ascii.end()}; }

std::u32string Folded(std::u32string_view text) {
  std::u32string folded(text);
  for (char32_t& c : folded) c = FoldCase(c);
  return folded;
}

// CON, PRN, AUX, NUL, CONIN$, CONOUT$, COM1-9 and LPT1-9 name devices in every
// directory on Windows, whatever extension follows.
bool IsDeviceName(const std::u32string& decoded) {
  std::u32string stem = Folded(decoded.substr(0, decoded.find(U'.')));
  while (!stem.empty() && stem.back() == U' ') stem.pop_back();
  for (const char* device : {"con", "prn", "aux", "nul", "conin$", "conout$"}) {
    if (stem == Characters(device)) return true;
  }
  return stem.size() == 4 && stem[3] >= U'1' && stem[3] <= U'9' &&
         (stem.compare(0, 3, U"com") == 0 || stem.compare(0, 3, U"lpt") == 0);
}

bool ForbiddenInFileNames(char32_t c) {
  return c < 0x80 && c != 0 && std::strchr("%<>:\"/\\|?*", static_cast<int>(c)) != nullptr;
}

}  // namespace

std::string ShownName(const std::u32string& decoded) {
  std::string shown;
  const bool device = IsDeviceName(decoded);
  for (std::size_t i = 0; i < decoded.size(); ++i) {
    const char32_t c = decoded[i];
    const bool last = i + 1 == decoded.size();
    if (IsKeptByte(c)) {
      AppendNameEscape(shown, KeptByteValue(c));
    } else if (ForbiddenInFileNames(c) || (last && (c == U'.' || c == U' ')) ||
               (device && i == 0)) {
      AppendNameEscape(shown, static_cast<unsigned char>(c));
    } else {
      AppendUtf8(shown, c);
    }
  }
  return shown;
}

std::u32string NameFromShown(std::string_view shown) {
  std::u32string name;
  for (std::size_t at = 0; at < shown.size();) {
    const int escaped = EscapeAt(shown, at);
    if (escaped >= 0) {
      name += EscapedCharacter(escaped);
      at += 4;
      continue;
    }
    std::size_t length = 1;
    const auto c = NextUtf8(shown, at, length);
    name += c ? *c : kKeptByteBase + static_cast<unsigned char>(shown[at]);
    at += length;
  }
  return name;
}

std::string CanonicalName(std::string_view text) { return ShownName(NameFromShown(text)); }

std::string ShownText(const std::string& text) {
  std::string shown;
  for (std::size_t at = 0; at < text.size();) {
    std::size_t length = 1;
    const auto c = NextUtf8(text, at, length);
    if (c && !IsControlCharacter(*c)) {
      shown.append(text, at, length);
    } else {
      for (std::size_t k = 0; k < length; ++k)
        AppendEscaped(shown, static_cast<unsigned char>(text[at + k]));
    }
    at += length;
  }
  return shown;
}

std::string UnsafeNameProblem(const std::u32string& decoded, const std::string& /*directory*/) {
  if (decoded.empty()) return "its name is empty";
  return {};
}

std::filesystem::path MemberFileName(const std::u32string& decoded) {
  return SystemPath(ShownName(decoded));
}

std::u32string FileNameKey(const std::filesystem::path& file_name) {
#if defined(_WIN32)
  const std::wstring& wide = file_name.native();
  std::u32string key;
  for (const wchar_t unit : wide) key += FoldCase(static_cast<char32_t>(unit));
  return key;
#else
  return DecodeUtf8(file_name.native());
#endif
}

std::u32string NumberedName(const std::u32string& decoded, unsigned n) {
  const std::size_t dot = decoded.rfind(U'.');
  const std::size_t cut = dot == std::u32string::npos || dot == 0 ? decoded.size() : dot;
  return decoded.substr(0, cut) + Characters("~" + std::to_string(n)) + decoded.substr(cut);
}

char32_t FoldCase(char32_t c) {
  if (c >= U'A' && c <= U'Z') return c + 0x20;
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 0x20;     // Latin-1
  if (c >= 0x391 && c <= 0x3A9 && c != 0x3A2) return c + 0x20;  // Greek
  if (c >= 0x410 && c <= 0x42F) return c + 0x20;                // Cyrillic
  if (c >= 0x400 && c <= 0x40F) return c + 0x50;
  if (c >= 0xFF21 && c <= 0xFF3A) return c + 0x20;  // fullwidth A to Z
  return c;
}

namespace {

bool SameCharacter(char32_t a, char32_t b, bool ignore_case) {
  return a == b || (ignore_case && FoldCase(a) == FoldCase(b));
}

bool InRange(char32_t c, char32_t low, char32_t high, bool ignore_case) {
  if (low <= c && c <= high) return true;
  return ignore_case && FoldCase(low) <= FoldCase(c) && FoldCase(c) <= FoldCase(high);
}

// The set that opens at pattern[open] ("["): whether it holds c, and where
// the pattern goes on after its "]". A "[" that no "]" closes is a plain
// character: `next` is then 0.
bool InSet(std::u32string_view pattern, std::size_t open, char32_t c, bool ignore_case,
           std::size_t& next) {
  next = 0;
  std::size_t at = open + 1;
  bool negated = false;
  if (at < pattern.size() && (pattern[at] == U'!' || pattern[at] == U'^')) {
    negated = true;
    ++at;
  }
  bool found = false;
  for (bool first = true; at < pattern.size() && (first || pattern[at] != U']'); first = false) {
    const char32_t low = pattern[at];
    char32_t high = low;
    if (at + 2 < pattern.size() && pattern[at + 1] == U'-' && pattern[at + 2] != U']') {
      high = pattern[at + 2];
      at += 3;
    } else {
      ++at;
    }
    found = found || InRange(c, low, high, ignore_case);
  }
  if (at >= pattern.size()) return false;
  next = at + 1;
  return found != negated;
}

}  // namespace

bool MatchesPattern(std::u32string_view pattern, std::u32string_view name, bool ignore_case) {
  // Each "*" matches as little as it can; on a mismatch the last "*" takes
  // one more character and matching resumes after it.
  std::size_t p = 0;
  std::size_t n = 0;
  std::size_t star = std::u32string_view::npos;
  std::size_t star_name = 0;
  while (n < name.size()) {
    bool advanced = false;
    if (p < pattern.size()) {
      const char32_t want = pattern[p];
      std::size_t next = 0;
      if (want == U'*') {
        star = p++;
        star_name = n;
        continue;
      }
      if (want == U'?') {
        advanced = true;
        ++p;
      } else if (want == U'[' && InSet(pattern, p, name[n], ignore_case, next)) {
        advanced = true;
        p = next;
      } else if ((want != U'[' || next == 0) && SameCharacter(want, name[n], ignore_case)) {
        advanced = true;
        ++p;
      }
    }
    if (advanced) {
      ++n;
      continue;
    }
    if (star == std::u32string_view::npos) return false;
    p = star + 1;
    n = ++star_name;
  }
  while (p < pattern.size() && pattern[p] == U'*') ++p;
  return p == pattern.size();
}

MemberSelection::MemberSelection(const std::vector<std::string>& arguments, bool ignore_case)
    : ignore_case_(ignore_case) {
  for (const std::string& text : arguments) {
    Argument chosen;
    chosen.text = text;
    chosen.characters = NameFromShown(text);
    // The pattern: escaped characters stand for themselves, so "*", "?" and
    // "[" among them go into a set of their own.
    for (std::size_t at = 0; at < text.size();) {
      const int escaped = EscapeAt(text, at);
      if (escaped >= 0) {
        const char32_t c = EscapedCharacter(escaped);
        if (c == U'*' || c == U'?' || c == U'[') {
          chosen.pattern += U'[';
          chosen.pattern += c;
          chosen.pattern += U']';
        } else {
          chosen.pattern += c;
        }
        at += 4;
        continue;
      }
      std::size_t length = 1;
      const auto c = NextUtf8(text, at, length);
      const char32_t character = c ? *c : kKeptByteBase + static_cast<unsigned char>(text[at]);
      chosen.is_pattern = chosen.is_pattern || character == U'*' || character == U'?' ||
                          character == U'[';
      chosen.pattern += character;
      at += length;
    }
    arguments_.push_back(std::move(chosen));
  }
}

bool MemberSelection::Chooses(const std::u32string& name) {
  if (arguments_.empty()) return true;
  bool chosen = false;
  for (Argument& argument : arguments_) {
    const bool equal =
        ignore_case_ ? Folded(argument.characters) == Folded(name) : argument.characters == name;
    if (equal || (argument.is_pattern && MatchesPattern(argument.pattern, name, ignore_case_))) {
      argument.used = true;
      chosen = true;
    }
  }
  return chosen;
}

std::vector<std::string> MemberSelection::Unused() const {
  std::vector<std::string> unused;
  for (const Argument& argument : arguments_) {
    if (!argument.used)
      unused.push_back(
          std::string(argument.is_pattern ? "no member matching \"" : "no member named \"") +
          ShownText(argument.text) + "\"");
  }
  return unused;
}
