// The tavio32 command's own texts in the user's language: English in the
// sources, translated through the catalog of po/command/ (German so far).
// Linux: gettext with the messages' locale (LANGUAGE, LC_ALL, LC_MESSAGES,
// LANG); Windows: the catalog compiled into tavio32.exe and the user's
// interface language. The library's texts and the numbers' format stay as
// they are.
#pragma once

#include <string>

namespace tavio::cli {

// Sets the language up; `argv0` finds the catalog beside the program.
void init_language(const char *argv0);
// `text` in the user's language (itself where there is no translation, and
// in threads other than the one that called init_language: those of serve
// answer the page, which has a catalog of its own).
const char *tr(const char *text) __attribute__((format_arg(1)));
// printf into a string, for messages with values in them.
#ifdef __MINGW32__
std::string format(const char *fmt, ...) __attribute__((format(gnu_printf, 1, 2))); // (C99's, as mingw's libstdc++ has it)
#else
std::string format(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
#endif

} // namespace tavio::cli

// Marks a text for the catalog where it is translated later (tr(variable)).
#define N_(text) text
