// Text the host prints: JSON strings for listings, counts with their nouns.
#pragma once

#include <cstdint>
#include <string>

// A JSON string literal of 8-bit text: quotes, backslashes and control
// characters escaped, and every byte of 0x80 and above written as \u00XX, so
// that the output is plain ASCII whatever the archive's names hold.
std::string JsonString(const std::string& text);

// "1 member", "3 members".
std::string Counted(std::uint64_t count, const std::string& noun);
