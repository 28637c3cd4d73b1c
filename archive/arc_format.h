// The ARC archive: a member count, a directory of fixed 20-byte entries
// (possibly scrambled with a byte mask), and the members stored as they are.
#pragma once

#include <array>
#include <cstdint>

#include "arc_layout.h"
#include "plugin_abi.h"

constexpr char kMethodTag[] = "DERUVU";

// Set by recognition: 1 when the last archive recognised keeps its directory
// scrambled. Every later listing is read the way it says.
extern std::int32_t DirectoryScrambled;

// The content test of the archive plug-in. Works on the head it is given,
// which IsSupported always passes as a private copy.
std::int32_t IsArcArchive(const char* file_name, unsigned char* head, std::int32_t length);

// Combines count entries with the mask while DirectoryScrambled is 1; does
// nothing otherwise. to and from may be the same.
void DescrambleEntries(unsigned char* to, const unsigned char* from, std::uint32_t count);
