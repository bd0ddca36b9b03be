// tavio32 ports: COM1..COM9 with their devices, and the machine's serial devices.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "cli_common.h"
#include "cli_system.h"
#include "commands.h"
#include "i18n.h"

namespace tavio::cli {

namespace {
struct PortsOptions {
  std::vector<std::string> assign;
  std::string forget;
  bool assign_new = false;
};

// COMn=DEVICE, or COMn alone for --forget.
int com_number(const std::string &text) {
  if (text.size() == 4 && (text[0] == 'C' || text[0] == 'c') && (text[1] == 'O' || text[1] == 'o') &&
      (text[2] == 'M' || text[2] == 'm') && text[3] >= '1' && text[3] <= '9')
    return text[3] - '0';
  return 0;
}

int cmd_numbers(const PortsOptions &o) {
  std::vector<std::string> lines;
  std::string error;
  bool ok = true;
  if (!o.forget.empty()) {
    const int n = com_number(o.forget);
    if (!n) fail(format(tr("--forget takes a port name such as COM3, not %s"), o.forget.c_str()), kExitUsage);
    ok = forget_number(n, error);
    if (ok) lines.push_back(format(tr("%s is no adapter's number now"), com(n).c_str()));
  }
  for (const std::string &a : o.assign) {
    if (!ok) break;
    const size_t eq = a.find('=');
    const int n = eq == std::string::npos ? 0 : com_number(a.substr(0, eq));
    if (!n || eq + 1 >= a.size()) fail(format(tr("--assign takes COMn=DEVICE, such as COM5=/dev/ttyUSB0, not %s"), a.c_str()), kExitUsage);
    ok = number_adapters(n, a.substr(eq + 1), lines, error);
  }
  if (ok && o.assign_new) {
    ok = number_adapters(0, "", lines, error);
    if (ok && lines.empty()) lines.push_back(tr("every USB adapter that is plugged in has its number"));
  }
  for (const std::string &l : lines) std::printf("%s\n", l.c_str());
  if (!ok) fail(error + (error.find("ermission") != std::string::npos ? tr(" (the numbers are the machine's: run it as root)") : ""));
  return 0;
}
} // namespace

static int cmd_ports() {
  std::printf("%s\n", tr("Ports (the library looks the device up at every open):"));
  for (int n = 1; n <= 9; ++n) {
    const Mapping m = map_port(n);
    std::string state;
    if (m.absent) state = format(tr("not plugged in: %s"), m.adapter.c_str());
    else if (m.path.empty()) state = tr("no device");
    else if (m.path.rfind("rfc2217://", 0) == 0) state = tr("network port (not tried)");
    else {
      if (!device_exists(m.path)) state = tr("missing");
      else {
        std::string problem = open_problem(com(n), m);
        state = problem.empty() ? tr("can be opened") : problem;
        if (!m.adapter.empty()) state += " (" + m.adapter + ")";
      }
    }
    std::printf("  %-5s %-24s %-14s %s\n", com(n).c_str(), m.path.empty() ? "-" : m.path.c_str(),
                m.source == "default" ? tr("(default)") : ("(" + std::string(tr(m.source.c_str())) + ")").c_str(), state.c_str());
  }
  const std::vector<UsbAdapter> usb = usb_adapters();
  if (!usb.empty()) {
    std::printf(tr("\nUSB adapters (their numbers: %s):\n"), numbers_place().c_str());
    bool unnumbered = false;
    for (const UsbAdapter &a : usb) {
      unnumbered |= a.com == 0;
      std::printf("  %-5s %-24s %s\n", a.com ? com(a.com).c_str() : "-", a.device.c_str(),
                  a.about.empty() ? "" : a.about.c_str());
    }
    if (unnumbered) std::printf("  %s\n", tr("(tavio32 ports --assign numbers those without a number)"));
  }
  const std::vector<SerialDevice> devices = serial_devices();
  std::printf(tr("\nSerial devices on this machine:%s\n"), devices.empty() ? tr(" none found") : "");
  // Suggest port numbers that lead nowhere now, in order.
  std::vector<int> free_ports;
  for (int n = 1; n <= 9; ++n) {
    const Mapping m = map_port(n);
    if (m.path.empty() || (m.path.rfind("rfc2217://", 0) != 0 && !device_exists(m.path)))
      free_ports.push_back(n);
  }
  size_t next = 0;
  for (const SerialDevice &device : devices) {
    const std::string &d = device.path;
    const std::string about = device.description.empty() ? "" : "  " + device.description;
    int mapped = 0;
    for (int n = 1; n <= 9 && !mapped; ++n)
      if (map_port(n).path == d) mapped = n;
    bool numbered = false;
    for (const UsbAdapter &a : usb) numbered |= a.com != 0 && a.device == d;
    if (numbered && !mapped) continue; // numbered, but another variable takes its COM name
    if (mapped) {
      std::printf(tr("  %-40s is %s%s\n"), d.c_str(), com(mapped).c_str(), about.c_str());
    } else if (next < free_ports.size()) {
      std::printf("  %-40s TAVIO32_COM%d=%s%s\n", d.c_str(), free_ports[next++], d.c_str(), about.c_str());
    } else {
      std::printf(tr("  %-40s TAVIO32_COMn=%s (every COM port is taken)%s\n"), d.c_str(), d.c_str(), about.c_str());
    }
  }
  return 0;
}

Subcommand add_ports(CLI::App &app) {
  auto o = std::make_shared<PortsOptions>();
  auto *ports = app.add_subcommand("ports", tr("COM1..COM9 with their devices, and the serial devices on this machine"));
  ports->add_flag("--assign-new", o->assign_new, tr("Give a COM number (COM3 up) to every USB adapter that has none"));
  ports->add_option("--assign", o->assign, tr("Give COMn to a USB adapter, wherever it is plugged in later: COMn=DEVICE"))
      ->type_name("COMn=DEVICE");
  ports->add_option("--forget", o->forget, tr("Take COMn's number from its USB adapter"))->type_name("COMn");
  ports->footer(tr("On Linux a USB adapter keeps the COM number it was given (as on Windows): the package's udev rule "
                   "numbers each new adapter when it is plugged in, and these options number them by hand."));
  return {ports, [o] {
            if (o->assign_new || !o->assign.empty() || !o->forget.empty()) return cmd_numbers(*o);
            return cmd_ports();
          }};
}

} // namespace tavio::cli
