// tavio32: the library from the command line. See `tavio32 --help`. Each
// subcommand lives in commands/ (serve in serve/); main wires them together.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <string>
#include <unistd.h>

#include "cli_common.h"
#include "cli_system.h"
#include "commands/commands.h"
#include "tavio32.h"

namespace {

using namespace tavio::cli;

// The library refuses a second process by ending it with a bare message
// before main runs; the command asks first and says who holds it. This runs
// before any shared library's initialisers (so before the library's lock).
void check_library_lock(int, char **, char **) {
  bool held = false;
  Holder h = library_holder(&held);
  if (!held) return;
  std::string who = h.pid ? "process " + std::to_string(h.pid) + " (" + h.name + ")" : "another process";
  std::fprintf(stderr,
               "tavio32: %s is using the tavio32 library, and only one program at a time can: "
               "end it and try again\n",
               who.c_str());
  std::fflush(stderr);
  ::_exit(1);
}
__attribute__((section(".preinit_array"), used)) void (*const g_check_lock)(int, char **, char **) =
    check_library_lock;

} // namespace

int main(int argc, char **argv) {
  tavio32_set_message_handler(quiet_messages);
  CLI::App app{"tavio32: measurement interfaces and serial ports from the command line.\n"
               "Ports COM1..COM9 are /dev/ttyS0..8 unless TAVIO32_COMn=PATH says otherwise."};
  app.require_subcommand(1);
  app.set_help_all_flag("--help-all", "Help for every subcommand");

  const Subcommand subcommands[] = {add_ports(app),  add_detect(app), add_version(app), add_read(app),  add_write(app),
                                    add_record(app), add_table(app),  add_monitor(app), add_serve(app)};
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError &e) {
    const int rc = app.exit(e);
    return rc == 0 ? 0 : kExitUsage;
  }
  try {
    for (const Subcommand &s : subcommands)
      if (s.app->parsed()) return s.run();
  } catch (const Failure &f) {
    std::fflush(stdout);
    std::fprintf(stderr, "tavio32: %s\n", f.message.c_str());
    return f.status;
  }
  return kExitUsage;
}
