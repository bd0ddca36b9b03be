// The tavio32 command's subcommands, one file each. Each adds itself to the
// application and returns what to run when it is the one given.
#pragma once

#include <CLI/CLI.hpp>
#include <functional>
#include <string>

#include "cli_common.h"
#include "i18n.h"

namespace tavio::cli {

struct Subcommand {
  CLI::App *app;
  std::function<int()> run;
};

// The choice of interface that read and serve share: --interface NAME with
// --port N (each needs the other), or --detect, which excludes them.
// Returns the --detect flag.
inline CLI::Option *add_interface_choice(CLI::App *sub, std::string &name, int &port, bool &detect) {
  auto *i = sub->add_option("--interface", name, tr("Interface to open"))->check(CLI::IsMember(interface_names()));
  auto *p = sub->add_option("--port", port, tr("COM port number of the interface"))->check(CLI::Range(0, 9));
  i->needs(p);
  p->needs(i);
  return sub->add_flag("--detect", detect, tr("Look for the interface first"))->excludes(i);
}

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
