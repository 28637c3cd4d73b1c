#include "host/cli/text_output.h"

#include <cstdio>

#include "host/files/name_encoding.h"

std::string JsonString(const std::string& text) {
  std::string json = "\"";
  for (std::size_t at = 0; at < text.size();) {
    std::size_t length = 1;
    const auto decoded = NextUtf8(text, at, length);
    // A byte that is not UTF-8 is written as the character of its value.
    const char32_t c = decoded ? *decoded : static_cast<unsigned char>(text[at]);
    switch (c) {
      case U'"':
        json += "\\\"";
        break;
      case U'\\':
        json += "\\\\";
        break;
      case U'\b':
        json += "\\b";
        break;
      case U'\f':
        json += "\\f";
        break;
      case U'\n':
        json += "\\n";
        break;
      case U'\r':
        json += "\\r";
        break;
      case U'\t':
        json += "\\t";
        break;
      default:
        if (!decoded || IsControlCharacter(c)) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04X", static_cast<unsigned>(c));
          json += escaped;
        } else {
          json.append(text, at, length);
        }
    }
    at += length;
  }
  return json + "\"";
}

std::string Counted(std::uint64_t count, const std::string& noun) {
  return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}
