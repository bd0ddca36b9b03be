#include "library.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>

#include "cli_common.h"
#include "cli_system.h"
#include "tavio32.h"

namespace tavio::cli {

namespace {

std::mutex g_mutex;
void *g_library = nullptr;

} // namespace

void load_library() {
  std::lock_guard<std::mutex> hold(g_mutex);
  if (g_library) return;
  // Asked before loading: the library itself refuses a second program with
  // a bare message (on Windows a message box) and ends it.
  bool held = false;
  const Holder h = library_holder(&held);
  if (held) {
    const std::string who = h.pid ? "process " + std::to_string(h.pid) + " (" + h.name + ")" : "another process";
    fail(who + " is using the tavio32 library, and only one program at a time can: end it and try again");
  }
  std::string error;
  g_library = open_library(error);
  if (!g_library) fail("cannot load the tavio32 library: " + error);
  // The command says what went wrong itself.
  using Handler = void (*)(tavio32_message_handler);
  if (auto set = reinterpret_cast<Handler>(library_address(g_library, "tavio32_set_message_handler")))
    set(quiet_messages);
}

void *library_function(const char *name, bool required) {
  load_library(); // a Failure goes through the forwarding function to main
  void *f = library_address(g_library, name);
  if (!f && required) {
    std::fflush(stdout);
    std::fprintf(stderr, "tavio32: the tavio32 library has no %s: install the library of this program's version\n",
                 name);
    std::_Exit(kExitFailure);
  }
  return f;
}

} // namespace tavio::cli
