// Text the host prints: counts with their nouns.
#pragma once

#include <cstdint>
#include <string>

// "1 member", "3 members".
std::string Counted(std::uint64_t count, const std::string& noun);

// "70,312": digits in groups of three.
std::string Grouped(std::uint64_t count);
