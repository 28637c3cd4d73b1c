#include "host/files/system_path.h"

#include <cstdlib>

#include "host/files/name_encoding.h"

#if defined(_WIN32)
#include <windows.h>
#include <shellapi.h>
#endif

namespace {

constexpr char32_t kReplacement = 0xFFFD;

}  // namespace

std::string Utf16ToUtf8(std::u16string_view text) {
  std::string utf8;
  utf8.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (char32_t{text[i + 1]} - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c < 0xE000) {
      c = kReplacement;  // a lone surrogate is no character
    }
    AppendUtf8(utf8, c);
  }
  return utf8;
}

void AppendUtf16(std::u16string& out, char32_t c) {
  if (c >= 0x10000) {
    out += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
    out += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
  } else {
    out += static_cast<char16_t>(c);
  }
}

std::u16string Utf8ToUtf16(std::string_view text) {
  std::u16string wide;
  wide.reserve(text.size());
  for (std::size_t at = 0; at < text.size();) {
    std::size_t length = 1;
    AppendUtf16(wide, NextUtf8(text, at, length).value_or(kReplacement));
    at += length;
  }
  return wide;
}

std::filesystem::path SystemPath(const std::string& path) {
#if defined(_WIN32)
  const std::u16string wide = Utf8ToUtf16(path);
  return std::filesystem::path(std::wstring(wide.begin(), wide.end()));
#else
  return std::filesystem::path(path);
#endif
}

std::string ShownPath(const std::filesystem::path& path) {
#if defined(_WIN32)
  const std::wstring& wide = path.native();
  return Utf16ToUtf8(std::u16string(wide.begin(), wide.end()));
#else
  return path.native();
#endif
}

std::optional<std::string> PathInCodePage(const std::string& path, const NameEncoding& code_page) {
  std::string bytes;
  for (std::size_t at = 0; at < path.size();) {
    std::size_t length = 1;
    const auto c = NextUtf8(path, at, length);
    if (!c) return std::nullopt;
    const auto encoded = code_page.Encode(*c);
    if (!encoded) return std::nullopt;
    bytes += *encoded;
    at += length;
  }
  return bytes;
}

std::optional<std::string> PathForPlugins(const std::string& path) {
#if defined(_WIN32)
  static const NameEncoding ansi("cp" + std::to_string(GetACP()));
  return PathInCodePage(path, ansi);
#else
  return path;
#endif
}

std::vector<std::string> CommandLineArguments(int argc, char** argv) {
#if defined(_WIN32)
  (void)argc;
  (void)argv;
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  std::vector<std::string> arguments;
  for (int i = 0; wide != nullptr && i < count; ++i) {
    const std::wstring_view argument(wide[i]);
    arguments.push_back(Utf16ToUtf8(std::u16string(argument.begin(), argument.end())));
  }
  if (wide != nullptr) LocalFree(wide);
  return arguments;
#else
  return std::vector<std::string>(argv, argv + argc);
#endif
}

std::string EnvironmentValue(const char* name) {
#if defined(_WIN32)
  const std::u16string wide_name = Utf8ToUtf16(name);
  const std::wstring key(wide_name.begin(), wide_name.end());
  const wchar_t* value = _wgetenv(key.c_str());
  if (value == nullptr) return {};
  const std::wstring_view text(value);
  return Utf16ToUtf8(std::u16string(text.begin(), text.end()));
#else
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
#endif
}

#if defined(_WIN32)
std::string WindowsReason(unsigned long error) {
  wchar_t* text = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring sentence = length > 0 && text != nullptr ? std::wstring(text, length) : L"";
  if (text != nullptr) LocalFree(text);
  // The system's sentence ends in a full stop and a line break.
  while (!sentence.empty() && (sentence.back() == L'\n' || sentence.back() == L'\r' ||
                               sentence.back() == L' ' || sentence.back() == L'.'))
    sentence.pop_back();
  if (sentence.empty()) return "the system's error " + std::to_string(error);
  if (sentence.front() >= L'A' && sentence.front() <= L'Z')
    sentence.front() = static_cast<wchar_t>(sentence.front() - L'A' + L'a');
  return Utf16ToUtf8(std::u16string(sentence.begin(), sentence.end()));
}
#endif

std::string ReasonText(const std::error_code& error) {
#if defined(_WIN32)
  if (error.category() == std::system_category())
    return WindowsReason(static_cast<unsigned long>(error.value()));
#endif
  return error.message();
}
