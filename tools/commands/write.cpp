// tavio32 write: digital outputs, an analog output or the status output.
#include <cstdio>
#include <memory>

#include "cli_common.h"
#include "commands.h"
#include "i18n.h"
#include "tavio32.h"

namespace tavio::cli {

namespace {

int cmd_write(const std::string &name, int port, const std::string &what, int a, int b) {
  const Interface &i = open_interface(name, port);
  int32_t ok = 0;
  if (what == "dout") {
    ok = DOUT(a);
  } else if (what == "aout") {
    if (!i.analog_outputs) {
      CLOSECOM();
      fail(format(tr("the %s has no analog outputs"), i.title));
    }
    ok = AOUT(a, b);
  } else {
    if (!i.status_output) {
      CLOSECOM();
      fail(format(tr("status outputs exist on the Zelle and the Sios, not on the %s"), i.title));
    }
    ok = STAUS(a);
  }
  CLOSECOM();
  if (!ok) fail(format(tr("the %s on %s did not take the command: check the connection"), i.title, com(port).c_str()));
  std::printf(tr("%s %d%s sent to the %s on %s\n"), what.c_str(), a, what == "aout" ? (" " + std::to_string(b)).c_str() : "",
              i.title, com(port).c_str());
  return 0;
}

struct WriteOptions {
  std::string name;
  int port = 0, a = 0, b = 0;
};

} // namespace

Subcommand add_write(CLI::App &app) {
  auto o = std::make_shared<WriteOptions>();
  auto *write = app.add_subcommand("write", tr("Set digital outputs, an analog output or the status output"));
  write->add_option("--interface", o->name, tr("Interface"))->required()->check(CLI::IsMember(interface_names()));
  write->add_option("--port", o->port, tr("COM port number"))->required()->check(CLI::Range(0, 9));
  write->require_subcommand(1);
  auto *wd = write->add_subcommand("dout", tr("Digital outputs"));
  wd->add_option("VALUE", o->a, "0..255")->required()->check(CLI::Range(0, 255));
  auto *wao = write->add_subcommand("aout", tr("Analog output"));
  wao->add_option("CHANNEL", o->a, tr("Channel"))->required()->check(CLI::Range(1, 4));
  wao->add_option("VALUE", o->b, "0..255")->required()->check(CLI::Range(0, 255));
  auto *ws = write->add_subcommand("status", tr("Status output (Zelle, Sios)"));
  ws->add_option("VALUE", o->a, "0..255")->required()->check(CLI::Range(0, 255));
  return {write, [o, wd, wao] {
            const std::string what = wd->parsed() ? "dout" : wao->parsed() ? "aout" : "status";
            return cmd_write(o->name, o->port, what, o->a, o->b);
          }};
}

} // namespace tavio::cli
