// Whether a member name, joined to a destination, names a file directly in
// it. Names are bytes in a code page that may have double-byte characters,
// whose second byte can be any value from 0x40 up, "\" (0x5C) included: the
// name is walked character by character, and only a separator that is a
// character of its own counts. A byte below 0x40 ("/" and ":" among them)
// ends no double-byte character in any code page, so it always stands alone.
#pragma once

#include <cstring>

// Tells whether a byte begins a double-byte character of the code page in
// force (on Windows, the ANSI code page's IsDBCSLeadByte).
using LeadBytePredicate = bool (*)(unsigned char byte);

constexpr unsigned char kLowestSecondByte = 0x40;

inline bool NameStaysInDirectory(const char* name, const char* separators,
                                 LeadBytePredicate is_lead_byte) {
  if (name[0] == '\0') return false;
  if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) return false;
  for (const char* at = name; *at != '\0';) {
    if (std::strchr(separators, *at) != nullptr) return false;
    const bool pair = is_lead_byte(static_cast<unsigned char>(*at)) &&
                      static_cast<unsigned char>(at[1]) >= kLowestSecondByte;
    at += pair ? 2 : 1;
  }
  return true;
}
