// The page's files (web/ and its libraries), embedded into the program at
// build time (cmake/embed.cmake writes the table), each also gzip-compressed
// where that is smaller. index.html is there a second time as a watcher gets
// it, under "/index.html#watch".
#pragma once

#include <cstddef>
#include <string>

namespace tavio::serve {

struct Asset {
  const char *path; // "/index.html"
  const char *type; // Content-Type
  const unsigned char *data;
  size_t size;
  const unsigned char *gzip; // null: none
  size_t gzip_size;
};
const Asset *find_asset(const std::string &path);

} // namespace tavio::serve
