// tavio32: the library from the command line. See `tavio32 --help`. Each
// subcommand lives in commands/ (serve in serve/); main wires them together.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <string>

#include "cli_common.h"
#include "cli_system.h"
#include "commands/commands.h"

using namespace tavio::cli;

int main(int argc, char **argv) {
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
    // The library is loaded at a subcommand's first call into it (library.h):
    // help and argument errors need none.
    for (const Subcommand &s : subcommands)
      if (s.app->parsed()) return s.run();
  } catch (const Failure &f) {
    std::fflush(stdout);
    std::fprintf(stderr, "tavio32: %s\n", f.message.c_str());
    return f.status;
  }
  return kExitUsage;
}
