#include "cli_common.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <sys/stat.h>
#include <unistd.h>

#include "cli_system.h"
#include "tavio32.h"

namespace tavio::cli {

void fail(const std::string &message, int status) { throw Failure{status, message}; }

volatile std::sig_atomic_t g_interrupted = 0;
static void on_interrupt(int) { g_interrupted = 1; }
void catch_interrupts() {
  struct sigaction sa {};
  sa.sa_handler = on_interrupt; // no SA_RESTART: waits end early
  sigemptyset(&sa.sa_mask);
  ::sigaction(SIGINT, &sa, nullptr);
  ::sigaction(SIGTERM, &sa, nullptr);
}

bool terminal() { return ::isatty(STDOUT_FILENO) == 1; }

double now_ms() {
  timespec ts{};
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return double(ts.tv_sec) * 1e3 + double(ts.tv_nsec) / 1e6;
}

bool sleep_until(double ms) {
  timespec ts{};
  ts.tv_sec = time_t(ms / 1e3);
  ts.tv_nsec = long((ms - double(ts.tv_sec) * 1e3) * 1e6);
  if (ts.tv_nsec >= 1000000000L) {
    ts.tv_sec += 1;
    ts.tv_nsec -= 1000000000L;
  } else if (ts.tv_nsec < 0) {
    ts.tv_nsec = 0;
  }
  while (!g_interrupted) {
    int rc = ::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr);
    if (rc == 0) return true;
    if (rc != EINTR) return true;
  }
  return false;
}

void progress(const char *label, double fraction, const std::string &text) {
  fraction = std::clamp(fraction, 0.0, 1.0);
  const int width = 30, full = int(fraction * width + 0.5);
  std::printf("\r%-10s [%s%s] %3d%%  %s\x1b[K", label, std::string(size_t(full), '#').c_str(),
              std::string(size_t(width - full), ' ').c_str(), int(fraction * 100 + 0.5), text.c_str());
  std::fflush(stdout);
}

const std::vector<Interface> &interfaces() {
  static const std::vector<Interface> k = {
      {"sios", "Sios", 4, INITSIOS, 1, 4, true, true},
      {"compulab", "CompuLab", 1, INITCOMPULAB, 1, 0, false, false},
      {"zelle", "Zelle", 8, INITZELLE, 0, 0, true, true},
      {"rsbox", "RS-Box", 16, INIT, 1, 0, false, false},
      {"camface", "Camface", 32, INITCAMFACE, 1, 2, false, false},
      {"ccontrol", "C-Control", 64, INITCCONTROL, 1, 4, false, false},
  };
  return k;
}

const Interface *interface_by_code(int32_t code) {
  for (const Interface &i : interfaces())
    if (i.code == code) return &i;
  return nullptr;
}
const Interface *find_interface(const std::string &name) {
  for (const Interface &i : interfaces())
    if (name == i.name) return &i;
  return nullptr;
}
const Interface &interface_by_name(const std::string &name) {
  if (const Interface *i = find_interface(name)) return *i;
  fail("unknown interface " + name + ": sios, compulab, zelle, rsbox, camface or ccontrol", kExitUsage);
}
std::vector<std::string> interface_names() {
  std::vector<std::string> v;
  for (const Interface &i : interfaces()) v.push_back(i.name);
  return v;
}

std::string com(int port) { return "COM" + std::to_string(port); }

std::string port_problem(const Interface &i, int port) {
  if (port < i.first_port || port > 9)
    return std::string("the ") + i.title + " can hang on COM" + std::to_string(i.first_port) + " to COM9, not " + com(port);
  return "";
}

const Interface &open_interface(const std::string &name, int port) {
  const Interface &i = interface_by_name(name);
  std::string problem = port_problem(i, port);
  if (!problem.empty()) fail(problem, kExitUsage);
  const Mapping m = map_port(port);
  problem = open_problem(com(port), m);
  if (!problem.empty()) fail(problem);
  if (i.init(port) != port) {
    problem = open_problem(com(port), m);
    fail(problem.empty() ? "cannot open " + com(port) + " (" + m.path + ") for the " + i.title : problem);
  }
  return i;
}

std::string not_answering_text(const Interface &i, int port) {
  return std::string("the ") + i.title + " on " + com(port) + " (" + map_port(port).path +
         ") does not answer: check that it is switched on and connected to that port, "
         "or let `tavio32 detect` look for it";
}
void not_answering(const Interface &i, int port) { fail(not_answering_text(i, port)); }

int port_of_primary() {
  struct stat open_st {};
  if (GETCOM() <= 0 || ::fstat(GETCOM(), &open_st) != 0) return 0;
  for (int n = 1; n <= 9; ++n) {
    struct stat st {};
    const Mapping m = map_port(n);
    if (!m.path.empty() && ::stat(m.path.c_str(), &st) == 0 && st.st_rdev == open_st.st_rdev && st.st_rdev != 0)
      return n;
  }
  return 0;
}

void quiet_messages(const char *, const char *) {}

} // namespace tavio::cli
