// What the host can tell from a file itself when a plug-in refuses it: the
// plug-ins answer only -1, so the host looks for the reason in the file's
// layout. Each returns an empty string when the file shows none (the plug-in
// may then have run out of memory, or the file may have changed).
#pragma once

#include <cstdint>
#include <span>
#include <string>

// Why GetArchiveInfo could not list an ARC archive: too short for its member
// count, or a directory that runs past the end of the file.
std::string WhyArchiveNotListed(const std::string& archive);

// Why GetFile could not extract a member: its bytes lie beyond the end of
// the archive.
std::string WhyMemberNotExtracted(const std::string& archive, std::uint32_t position,
                                  std::uint32_t size);

// Why GetPicture could not decode a GP8 picture: too short for its header
// and palette, a rectangle that does not start at 0,0, or a pixel stream too
// short for the size the header declares.
std::string WhyPictureNotDecoded(const std::string& picture);
// The same for a picture's bytes in memory.
std::string WhyPictureNotDecoded(std::span<const unsigned char> picture);
