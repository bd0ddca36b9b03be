// tavio32 detect: look for an interface on COM1..COM8.
#include <cstdio>

#include "cli_common.h"
#include "cli_system.h"
#include "commands.h"
#include "tavio32.h"

namespace tavio::cli {

static int cmd_detect() {
  const int32_t code = FINDHARD(0);
  if (code == 0) {
    std::printf("No interface answered on COM1 to COM8: the simulation is in use.\n");
    std::printf("Check cable and power, or map a port: TAVIO32_COM3=/dev/ttyUSB0 (see `tavio32 ports`).\n");
    return kExitFailure;
  }
  const Interface *i = interface_by_code(code);
  const int port = port_of_primary();
  std::printf("%s on %s%s\n", i ? i->title : "interface", port ? com(port).c_str() : "a port",
              port ? (" (" + map_port(port).path + ")").c_str() : "");
  CLOSECOM();
  return 0;
}

Subcommand add_detect(CLI::App &app) {
  return {app.add_subcommand("detect", "Look for an interface on COM1..COM8"), cmd_detect};
}

} // namespace tavio::cli
