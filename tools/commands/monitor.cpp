// tavio32 monitor: a small terminal on a raw port, for checking wiring.
#include <cstdio>
#include <memory>

#include "cli_common.h"
#include "cli_system.h"
#include "commands.h"
#include "i18n.h"
#include "tavio32.h"

namespace tavio::cli {

namespace {

int cmd_monitor(const std::string &port_name, const std::string &settings, bool hex) {
  int n = 0;
  if (std::sscanf(port_name.c_str(), "%*1[Cc]%*1[Oo]%*1[Mm]%d", &n) != 1 || n < 0 || n > 9)
    fail(format(tr("the port is COM0 to COM9, not %s"), port_name.c_str()), kExitUsage);
  const Mapping m = map_port(n);
  std::string problem = open_problem(com(n), m);
  if (!problem.empty()) fail(problem);
  std::string mode = com(n) + ":" + settings;
  const int32_t fd = IX_OPENCOM(0, mode.data());
  if (fd <= 0) {
    IX_CLOSECOM(0); // a slot keeps a device whose settings failed open
    problem = open_problem(com(n), m);
    fail(problem.empty() ? format(tr("cannot open %s with the settings %s (baud,parity,data,stop such as 9600,N,8,1)"),
                                  com(n).c_str(), settings.c_str())
                         : problem);
  }
  const bool line_ok = monitor_loop(fd, hex, com(n), format(tr("Monitoring %s (%s) at %s"), com(n).c_str(), m.path.c_str(), settings.c_str()));
  if (hex) std::printf("\n");
  IX_CLOSECOM(0);
  return line_ok ? 0 : kExitFailure;
}

struct MonitorOptions {
  std::string port, settings = "9600,N,8,1";
  bool hex = false;
};

} // namespace

Subcommand add_monitor(CLI::App &app) {
  auto o = std::make_shared<MonitorOptions>();
  auto *monitor = app.add_subcommand("monitor", tr("A small terminal on a raw port, for checking wiring"));
  monitor->add_option("PORT", o->port, tr("COM0..COM9"))->required();
  monitor->add_option("--settings", o->settings, tr("baud,parity,data,stop (default 9600,N,8,1)"));
  monitor->add_flag("--hex", o->hex, tr("Show received bytes as hex"));
  return {monitor, [o] { return cmd_monitor(o->port, o->settings, o->hex); }};
}

} // namespace tavio::cli
