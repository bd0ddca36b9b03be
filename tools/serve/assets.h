// The page's files (web/ and uPlot), embedded into the program at build
// time (cmake/embed.cmake writes the table).
#pragma once

#include <cstddef>
#include <string>

namespace tavio::serve {

struct Asset {
  const char *path; // "/index.html"
  const char *type; // Content-Type
  const unsigned char *data;
  size_t size;
};
const Asset *find_asset(const std::string &path);

} // namespace tavio::serve
