// Reading an archive's directory and turning its entries into the records the
// host sees. Shared by the listing and by extraction.
#pragma once

#include <cstdint>

#include "local_block.h"
#include "plugin_abi.h"

struct ArchiveDirectory {
  LockedBlock block;                       // file input: the directory as read
  const unsigned char* entries = nullptr;  // count raw entries, possibly scrambled
  std::uint32_t count = 0;
};

// Reads the member count and the directory, from the archive file named by
// source or, with memory input, from the image at source of the given length.
// Nothing is read beyond the image or the file; a directory that cannot be
// had whole is a failure.
bool ReadArchiveDirectory(const char* source, std::uint32_t length, bool memory_input,
                          ArchiveDirectory& directory);

// Fills a zeroed record from one raw directory entry, descrambling a private
// copy of the entry as the last recognition decided.
void FillRecord(const unsigned char* raw_entry, FileInfoRecord& record);

// The record of the most recent GetFileInfo.
extern FileInfoRecord LastFileInfo;
