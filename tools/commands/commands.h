// The tavio32 command's subcommands, one file each. Each adds itself to the
// application and returns what to run when it is the one given.
#pragma once

#include <CLI/CLI.hpp>
#include <functional>

namespace tavio::cli {

struct Subcommand {
  CLI::App *app;
  std::function<int()> run;
};

Subcommand add_ports(CLI::App &app);
Subcommand add_detect(CLI::App &app);
Subcommand add_version(CLI::App &app);
Subcommand add_read(CLI::App &app);
Subcommand add_write(CLI::App &app);
Subcommand add_record(CLI::App &app);
Subcommand add_table(CLI::App &app);
Subcommand add_monitor(CLI::App &app);
Subcommand add_serve(CLI::App &app); // serve/serve.cpp

} // namespace tavio::cli
