// Text the host prints: JSON strings for listings, counts with their nouns.
#pragma once

#include <cstdint>
#include <string>

// A JSON string literal of UTF-8 text: quotes, backslashes and control
// characters (C1 included) escaped, UTF-8 as it is, and any byte that is not
// UTF-8 written as \u00XX, so that the output is always valid UTF-8.
std::string JsonString(const std::string& text);

// "1 member", "3 members".
std::string Counted(std::uint64_t count, const std::string& noun);
