#include "cli_common.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "cli_system.h"
#include "i18n.h"
#include "tavio32.h"

namespace tavio::cli {

void fail(const std::string &message, int status) { throw Failure{status, message}; }

std::string cannot_write(const std::string &path, const std::string &otherwise) {
  const std::string protection = write_protection(path);
  return format(tr("cannot write %s: %s"), path.c_str(), (protection.empty() ? otherwise : protection).c_str());
}

volatile std::sig_atomic_t g_interrupted = 0;
void progress(const char *label, double fraction, const std::string &text) {
  fraction = std::clamp(fraction, 0.0, 1.0);
  const int width = 30, full = int(fraction * width + 0.5);
  std::printf("\r%-10s [%s%s] %3d%%  %s\x1b[K", tr(label), std::string(size_t(full), '#').c_str(),
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
  fail(format(tr("unknown interface %s: sios, compulab, zelle, rsbox, camface or ccontrol"), name.c_str()), kExitUsage);
}
std::vector<std::string> interface_names() {
  std::vector<std::string> v;
  for (const Interface &i : interfaces()) v.push_back(i.name);
  return v;
}

std::string com(int port) { return "COM" + std::to_string(port); }

std::string port_problem(const Interface &i, int port) {
  if (port < i.first_port || port > 9)
    return format(tr("the %s can hang on COM%d to COM9, not %s"), i.title, i.first_port, com(port).c_str());
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
    fail(problem.empty() ? format(tr("cannot open %s (%s) for the %s"), com(port).c_str(), m.path.c_str(), i.title) : problem);
  }
  return i;
}

std::string not_answering_text(const Interface &i, int port) {
  const std::string removed = removed_problem(port, GETCOM());
  if (!removed.empty()) return removed;
  return format(tr("the %s on %s (%s) does not answer: check that it is switched on and connected to that port, "
                   "or let `tavio32 detect` look for it"),
                i.title, com(port).c_str(), map_port(port).path.c_str());
}
void not_answering(const Interface &i, int port) { fail(not_answering_text(i, port)); }

void quiet_messages(const char *, const char *) {}

// The holders of a device or of the library, as one line names them.
std::string describe(const std::vector<Holder> &holders) {
  std::string s;
  for (const Holder &h : holders) {
    if (!s.empty()) s += ", ";
    s += format(tr("process %ld (%s)"), h.pid, h.name.c_str());
  }
  return s;
}

} // namespace tavio::cli
