#include "host/cli/console_output.h"

#include <iostream>

#include "host/files/name_encoding.h"
#include "host/files/system_path.h"

#if defined(_WIN32)
#include <windows.h>
#endif

namespace {

constexpr char16_t kReplacement = 0xFFFD;
// A line longer than this goes out in parts.
constexpr std::size_t kLineLimit = 4096;

// How many bytes a UTF-8 sequence with this lead byte takes; 0 when the
// byte leads none.
std::size_t SequenceLength(unsigned char lead) {
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) return 2;
  if (lead >= 0xE0 && lead <= 0xEF) return 3;
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  return 0;
}

// Whether bytes shorter than their sequence could still become a character:
// each one after the lead a continuation byte, the second within the range
// its lead allows (no overlong forms, surrogates or code points past
// U+10FFFF).
bool BeginsCharacter(std::string_view bytes) {
  const auto lead = static_cast<unsigned char>(bytes[0]);
  for (std::size_t i = 1; i < bytes.size(); ++i) {
    const auto c = static_cast<unsigned char>(bytes[i]);
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (i == 1) {
      if (lead == 0xE0) low = 0xA0;
      if (lead == 0xED) high = 0x9F;
      if (lead == 0xF0) low = 0x90;
      if (lead == 0xF4) high = 0x8F;
    }
    if (c < low || c > high) return false;
  }
  return true;
}

}  // namespace

std::u16string Utf8Pieces::Take(std::string_view bytes) {
  waiting_.append(bytes);
  std::u16string out;
  std::size_t at = 0;
  while (at < waiting_.size()) {
    const std::size_t needed = SequenceLength(static_cast<unsigned char>(waiting_[at]));
    // A sequence cut short by the end of the piece waits for the next one,
    // unless what has come already cannot begin a character.
    if (needed > 1 && waiting_.size() - at < needed &&
        BeginsCharacter(std::string_view(waiting_).substr(at)))
      break;
    std::size_t length = 1;
    const auto c = NextUtf8(waiting_, at, length);
    if (c) {
      AppendUtf16(out, *c);
    } else {
      out += kReplacement;
      length = 1;
    }
    at += length;
  }
  waiting_.erase(0, at);
  return out;
}

std::u16string Utf8Pieces::Finish() {
  std::u16string out(waiting_.size(), kReplacement);
  waiting_.clear();
  return out;
}

ConsoleBuffer::~ConsoleBuffer() { sync(); }

bool ConsoleBuffer::Deliver(std::string_view bytes) {
  const std::u16string text = pieces_.Take(bytes);
  return text.empty() || sink_(text);
}

ConsoleBuffer::int_type ConsoleBuffer::overflow(int_type c) {
  if (traits_type::eq_int_type(c, traits_type::eof())) return sync() == 0 ? 0 : c;
  const char one = traits_type::to_char_type(c);
  return xsputn(&one, 1) == 1 ? c : traits_type::eof();
}

std::streamsize ConsoleBuffer::xsputn(const char* bytes, std::streamsize count) {
  line_.append(bytes, static_cast<std::size_t>(count));
  const std::size_t end = line_.rfind('\n');
  if (end != std::string::npos || line_.size() >= kLineLimit) {
    const std::size_t cut = end != std::string::npos ? end + 1 : line_.size();
    const bool written = Deliver(std::string_view(line_).substr(0, cut));
    line_.erase(0, cut);
    if (!written) return 0;
  }
  return count;
}

int ConsoleBuffer::sync() {
  const bool written = Deliver(line_);
  line_.clear();
  return written ? 0 : -1;
}

#if defined(_WIN32)
namespace {

// A sink for a console handle, or null when the handle is no console.
ConsoleBuffer::Sink ConsoleSink(DWORD which) {
  const HANDLE handle = GetStdHandle(which);
  DWORD mode = 0;
  if (handle == INVALID_HANDLE_VALUE || handle == nullptr || GetConsoleMode(handle, &mode) == 0)
    return nullptr;
  return [handle](std::u16string_view text) {
    while (!text.empty()) {
      DWORD written = 0;
      const auto part = static_cast<DWORD>(std::min<std::size_t>(text.size(), 16384));
      if (WriteConsoleW(handle, text.data(), part, &written, nullptr) == 0 || written == 0)
        return false;
      text.remove_prefix(written);
    }
    return true;
  };
}

}  // namespace
#endif

void UseConsoleForText() {
#if defined(_WIN32)
  if (auto sink = ConsoleSink(STD_OUTPUT_HANDLE)) {
    static ConsoleBuffer out(std::move(sink));
    std::cout.rdbuf(&out);
  }
  if (auto sink = ConsoleSink(STD_ERROR_HANDLE)) {
    static ConsoleBuffer err(std::move(sink));
    std::cerr.rdbuf(&err);
  }
#endif
}
