// tavio32 detect: look for an interface on COM1..COM8.
#include <cstdio>

#include "cli_common.h"
#include "cli_system.h"
#include "commands.h"
#include "i18n.h"
#include "tavio32.h"

namespace tavio::cli {

static int cmd_detect() {
  const int32_t code = FINDHARD(0);
  if (code == 0) {
    std::printf("%s\n", tr("No interface answered on COM1 to COM8: the simulation is in use."));
    std::printf("%s\n", tr("Check cable and power, or map a port: TAVIO32_COM3=/dev/ttyUSB0 (see `tavio32 ports`)."));
    return kExitFailure;
  }
  const Interface *i = interface_by_code(code);
  const int port = port_of_primary();
  std::printf(tr("%s on %s%s\n"), i ? i->title : tr("interface"), port ? com(port).c_str() : tr("a port"),
              port ? (" (" + map_port(port).path + ")").c_str() : "");
  CLOSECOM();
  return 0;
}

Subcommand add_detect(CLI::App &app) {
  return {app.add_subcommand("detect", tr("Look for an interface on COM1..COM8")), cmd_detect};
}

} // namespace tavio::cli
