// The viewer's page, built into vyn: its HTML, CSS and JavaScript files.
#pragma once

#include <cstddef>
#include <string>

struct PageFile {
  const char* name;  // as requested, without the leading "/"
  const char* content_type;
  const unsigned char* bytes;
  std::size_t size;
};

// The page file of the name, or null.
const PageFile* FindPageFile(const std::string& name);
