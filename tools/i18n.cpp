#include "i18n.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>

#ifdef _WIN32
#include <windows.h>

#include <cstdint>
#include <unordered_map>
#else
#include <clocale>
#include <libintl.h>
#include <unistd.h>
#endif

namespace tavio::cli {

// Only the thread that set the language up translates: the server's threads
// answer the browser page in the library's English, which the page
// translates itself.
static thread_local bool translating = false;

#ifdef _WIN32
// The German catalog, compiled in (cmake/command.cmake); empty when the
// build had no msgfmt.
extern const unsigned char kGermanCatalog[];
extern const unsigned kGermanCatalogSize;

namespace {
std::unordered_map<std::string, std::string> &catalog() {
  static std::unordered_map<std::string, std::string> c;
  return c;
}
uint32_t word(const unsigned char *p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }

// Reads a little-endian .mo file: the originals' and translations' tables of
// (length, offset); an entry outside the data ends the reading.
void load_mo(const unsigned char *mo, size_t size) {
  if (size < 28 || word(mo) != 0x950412deu) return;
  const uint32_t n = word(mo + 8), originals = word(mo + 12), translations = word(mo + 16);
  for (uint32_t i = 0; i < n; ++i) {
    const size_t o = size_t(originals) + 8 * size_t(i), t = size_t(translations) + 8 * size_t(i);
    if (o + 8 > size || t + 8 > size) return;
    const size_t olen = word(mo + o), ooff = word(mo + o + 4), tlen = word(mo + t), toff = word(mo + t + 4);
    if (ooff + olen >= size || toff + tlen >= size) return;
    if (olen == 0 || tlen == 0) continue; // the header
    catalog()[std::string(reinterpret_cast<const char *>(mo + ooff), olen)] =
        std::string(reinterpret_cast<const char *>(mo + toff), tlen);
  }
}
} // namespace

void init_language(const char *) {
  translating = true;
  if (PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_GERMAN) load_mo(kGermanCatalog, kGermanCatalogSize);
}

const char *tr(const char *text) {
  if (!translating) return text;
  const auto it = catalog().find(text);
  return it == catalog().end() ? text : it->second.c_str();
}
#else
namespace {
bool is_directory(const std::string &path) {
  struct stat s {};
  return ::stat(path.c_str(), &s) == 0 && S_ISDIR(s.st_mode);
}
} // namespace

void init_language(const char *argv0) {
  translating = true;
  // Messages and characters only: numbers keep their decimal point.
  std::setlocale(LC_MESSAGES, "");
  std::setlocale(LC_CTYPE, "");
  // The catalog: locale/ beside the program in the build tree, else
  // ../share/locale from it, as installed.
  char self[4096];
  const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  std::string dir = n > 0 ? std::string(self, size_t(n)) : std::string(argv0 ? argv0 : "");
  dir = dir.find('/') == std::string::npos ? "." : dir.substr(0, dir.rfind('/'));
  const std::string built = dir + "/locale";
  ::bindtextdomain("tavio32", (is_directory(built) ? built : dir + "/../share/locale").c_str());
  ::bind_textdomain_codeset("tavio32", "UTF-8");
  ::textdomain("tavio32");
}

const char *tr(const char *text) { return translating ? ::dgettext("tavio32", text) : text; }
#endif

std::string format(const char *fmt, ...) {
  va_list a, b;
  va_start(a, fmt);
  va_copy(b, a);
  const int n = std::vsnprintf(nullptr, 0, fmt, a);
  va_end(a);
  std::string s(n > 0 ? size_t(n) : 0, '\0');
  if (n > 0) std::vsnprintf(s.data(), s.size() + 1, fmt, b);
  va_end(b);
  return s;
}

} // namespace tavio::cli
