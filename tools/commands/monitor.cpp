// tavio32 monitor: a small terminal on a raw port, for checking wiring.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <memory>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include "cli_common.h"
#include "cli_system.h"
#include "commands.h"
#include "tavio32.h"

namespace tavio::cli {

namespace {

int cmd_monitor(const std::string &port_name, const std::string &settings, bool hex) {
  int n = 0;
  if (std::sscanf(port_name.c_str(), "%*1[Cc]%*1[Oo]%*1[Mm]%d", &n) != 1 || n < 0 || n > 9)
    fail("the port is COM0 to COM9, not " + port_name, kExitUsage);
  const Mapping m = map_port(n);
  std::string problem = open_problem(com(n), m);
  if (!problem.empty()) fail(problem);
  std::string mode = com(n) + ":" + settings;
  const int32_t fd = IX_OPENCOM(0, mode.data());
  if (fd <= 0) {
    IX_CLOSECOM(0); // a slot keeps a device whose settings failed open
    problem = open_problem(com(n), m);
    fail(problem.empty() ? "cannot open " + com(n) + " with the settings " + settings +
                               " (baud,parity,data,stop such as 9600,N,8,1)"
                         : problem);
  }
  const bool tty_in = ::isatty(STDIN_FILENO) == 1;
  termios saved{};
  if (tty_in) {
    ::tcgetattr(STDIN_FILENO, &saved);
    termios raw = saved;
    raw.c_lflag &= ~tcflag_t(ICANON | ECHO | ISIG);
    raw.c_iflag &= ~tcflag_t(ICRNL | IXON);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    ::tcsetattr(STDIN_FILENO, TCSANOW, &raw);
    std::fprintf(stderr, "Monitoring %s (%s) at %s; Ctrl-] ends\n", com(n).c_str(), m.path.c_str(), settings.c_str());
  }
  catch_interrupts();
  bool input_open = true, line_ok = true;
  double quiet_until = 0; // after the input ends: wait for answers a little
  while (!g_interrupted && line_ok) {
    pollfd p[2] = {{fd, POLLIN, 0}, {STDIN_FILENO, short(input_open ? POLLIN : 0), 0}};
    const int wait = input_open ? -1 : int(std::max(0.0, quiet_until - now_ms()));
    if (!input_open && wait == 0) break;
    if (::poll(p, input_open ? 2 : 1, wait) < 0) continue;
    if (p[0].revents & (POLLIN | POLLHUP | POLLERR)) {
      char data[256];
      const ssize_t got = ::read(fd, data, sizeof data);
      if (got <= 0) {
        line_ok = got < 0 && (errno == EAGAIN || errno == EINTR);
        if (!line_ok) std::fprintf(stderr, "\r\ntavio32: %s went away\n", com(n).c_str());
      }
      for (ssize_t k = 0; k < got; ++k) {
        if (hex) std::printf("%02x ", static_cast<uint8_t>(data[k]));
        else std::putchar(data[k]);
      }
      std::fflush(stdout);
      if (!input_open) quiet_until = now_ms() + 300;
    }
    if (input_open && (p[1].revents & (POLLIN | POLLHUP))) {
      char data[256];
      const ssize_t got = ::read(STDIN_FILENO, data, sizeof data);
      if (got <= 0) {
        input_open = false;
        quiet_until = now_ms() + 300;
      }
      for (ssize_t k = 0; k < got; ++k) {
        if (tty_in && data[k] == 0x1d) { // Ctrl-]
          g_interrupted = 1;
          break;
        }
        IX_SENDBYTE(0, static_cast<uint8_t>(data[k]));
      }
    }
  }
  if (tty_in) ::tcsetattr(STDIN_FILENO, TCSANOW, &saved);
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
  auto *monitor = app.add_subcommand("monitor", "A small terminal on a raw port, for checking wiring");
  monitor->add_option("PORT", o->port, "COM0..COM9")->required();
  monitor->add_option("--settings", o->settings, "baud,parity,data,stop (default 9600,N,8,1)");
  monitor->add_flag("--hex", o->hex, "Show received bytes as hex");
  return {monitor, [o] { return cmd_monitor(o->port, o->settings, o->hex); }};
}

} // namespace tavio::cli
