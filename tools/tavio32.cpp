// tavio32: the library from the command line. See `tavio32 --help`. Each
// subcommand lives in commands/ (serve in serve/); main wires them together.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <string>

#include "cli_common.h"
#include "cli_system.h"
#include "commands/commands.h"

using namespace tavio::cli;

static int run(CLI::App &app, int argc, char **argv);

int main(int argc, char **argv) {
  CLI::App app{std::string("tavio32: measurement interfaces and serial ports from the command line.\n") +
               port_naming()};
  app.require_subcommand(1);
  app.set_help_all_flag("--help-all", "Help for every subcommand");
  app.allow_windows_style_options(false); // the same options everywhere; /path is a path
  // Double-clicked (Windows): the browser view of the interface detection
  // finds, in the browser, until the window is closed.
  const bool double_clicked = argc == 1 && started_from_explorer();
  char serve[] = "serve", detect[] = "--detect", open[] = "--open";
  char *clicked[] = {argc > 0 ? argv[0] : serve, serve, detect, open, nullptr};
  if (double_clicked) {
    argc = 4;
    argv = clicked;
    std::printf("tavio32: the browser view of the interface found (the simulation if none answers).\n"
                "Closing this window ends it.\n\n");
    std::fflush(stdout);
  }
  const int status = run(app, argc, argv);
  if (double_clicked && status != 0 && status != kExitInterrupted) {
    std::printf("\nPress Enter to close this window.\n");
    std::fflush(stdout);
    std::getchar();
  }
  return status;
}

int run(CLI::App &app, int argc, char **argv) {
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
