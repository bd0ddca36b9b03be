// The tavio32 command loads the library when a subcommand first needs it,
// not when the program starts: help and argument errors work while another
// program holds the library, and a second program hears who holds it
// instead of the library's own refusal. The library's exports are
// forwarding functions (library_stubs.cpp, made from include/tavio32.h by
// cmake/library_stubs.cmake) that ask library_function() for the real ones.
#pragma once

namespace tavio::cli {

// Loads the library unless it is loaded: fails (a Failure with status 1)
// naming the program that holds it, or saying why it cannot be loaded. A
// subcommand that starts threads calling the library loads it first.
void load_library();
// The address of the library's export `name`, loading the library first;
// null for an export the library lacks unless `required` (then the program
// ends with a message). Fails as load_library() does.
void *library_function(const char *name, bool required);

} // namespace tavio::cli
