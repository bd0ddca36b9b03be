// tavio32 version.
#include <cstdio>

#include "commands.h"
#include "i18n.h"
#include "tavio32.h"

namespace tavio::cli {

Subcommand add_version(CLI::App &app) {
  return {app.add_subcommand("version", tr("Show the version")), [] {
            std::printf(tr("tavio32 1.22 (library version %d)\n"), VERSION(0));
            return 0;
          }};
}

} // namespace tavio::cli
