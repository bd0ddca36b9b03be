// tavio32 ports: COM1..COM9 with their devices, and the machine's serial devices.
#include <cstdio>

#include "cli_common.h"
#include "cli_system.h"
#include "commands.h"

namespace tavio::cli {

static int cmd_ports() {
  std::printf("Ports (the library looks the device up at every open):\n");
  for (int n = 1; n <= 9; ++n) {
    const Mapping m = map_port(n);
    std::string state;
    if (m.path.empty()) state = "no device";
    else if (m.path.rfind("rfc2217://", 0) == 0) state = "network port (not tried)";
    else {
      if (!device_exists(m.path)) state = "missing";
      else {
        std::string problem = open_problem(com(n), m);
        state = problem.empty() ? "can be opened" : problem;
      }
    }
    std::printf("  %-5s %-24s %-14s %s\n", com(n).c_str(), m.path.empty() ? "-" : m.path.c_str(),
                m.source == "default" ? "(default)" : ("(" + m.source + ")").c_str(), state.c_str());
  }
  const std::vector<SerialDevice> devices = serial_devices();
  std::printf("\nSerial devices on this machine:%s\n", devices.empty() ? " none found" : "");
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
    if (mapped) {
      std::printf("  %-40s is %s%s\n", d.c_str(), com(mapped).c_str(), about.c_str());
    } else if (next < free_ports.size()) {
      std::printf("  %-40s TAVIO32_COM%d=%s%s\n", d.c_str(), free_ports[next++], d.c_str(), about.c_str());
    } else {
      std::printf("  %-40s TAVIO32_COMn=%s (every COM port is taken)%s\n", d.c_str(), d.c_str(), about.c_str());
    }
  }
  return 0;
}

Subcommand add_ports(CLI::App &app) {
  return {app.add_subcommand("ports", "COM1..COM9 with their devices, and the serial devices on this machine"), cmd_ports};
}

} // namespace tavio::cli
