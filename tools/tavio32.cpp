// tavio32: the library from the command line. See `tavio32 --help`.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <optional>
#include <poll.h>
#include <string>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

#include "cli_files.h"
#include "cli_system.h"
#include "tavio32.h"

namespace {

using namespace tavio::cli;

// The library refuses a second process by ending it with a bare message
// before main runs; the command asks first and says who holds it. This runs
// before any shared library's initialisers (so before the library's lock).
void check_library_lock(int, char **, char **) {
  bool held = false;
  Holder h = library_holder(&held);
  if (!held) return;
  std::string who = h.pid ? "process " + std::to_string(h.pid) + " (" + h.name + ")" : "another process";
  std::fprintf(stderr,
               "tavio32: %s is using the tavio32 library, and only one program at a time can: "
               "end it and try again\n",
               who.c_str());
  std::fflush(stderr);
  ::_exit(1);
}
__attribute__((section(".preinit_array"), used)) void (*const g_check_lock)(int, char **, char **) =
    check_library_lock;

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
constexpr int kExitInterrupted = 130;

// A failure to report: the message says what to do.
struct Failure {
  int status;
  std::string message;
};
[[noreturn]] void fail(const std::string &message, int status = kExitFailure) { throw Failure{status, message}; }

volatile std::sig_atomic_t g_interrupted = 0;
void on_interrupt(int) { g_interrupted = 1; }
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

// Sleeps until the monotonic time `ms`; false when interrupted.
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

// A progress bar on the terminal: "label [#####     ]  45%  text".
void progress(const char *label, double fraction, const std::string &text) {
  fraction = std::clamp(fraction, 0.0, 1.0);
  const int width = 30, full = int(fraction * width + 0.5);
  std::printf("\r%-10s [%s%s] %3d%%  %s\x1b[K", label, std::string(size_t(full), '#').c_str(),
              std::string(size_t(width - full), ' ').c_str(), int(fraction * 100 + 0.5), text.c_str());
  std::fflush(stdout);
}

// --- Interfaces ---------------------------------------------------------------

struct Interface {
  const char *name;
  const char *title;
  int32_t code;
  int32_t (*init)(int32_t);
  int first_port;
};
const Interface kInterfaces[] = {
    {"sios", "Sios", 4, INITSIOS, 1},          {"compulab", "CompuLab", 1, INITCOMPULAB, 1},
    {"zelle", "Zelle", 8, INITZELLE, 0},       {"rsbox", "RS-Box", 16, INIT, 1},
    {"camface", "Camface", 32, INITCAMFACE, 1}, {"ccontrol", "C-Control", 64, INITCCONTROL, 1},
};

const Interface *interface_by_code(int32_t code) {
  for (const Interface &i : kInterfaces)
    if (i.code == code) return &i;
  return nullptr;
}
const Interface &interface_by_name(const std::string &name) {
  for (const Interface &i : kInterfaces)
    if (name == i.name) return i;
  fail("unknown interface " + name + ": sios, compulab, zelle, rsbox, camface or ccontrol", kExitUsage);
}
std::vector<std::string> interface_names() {
  std::vector<std::string> v;
  for (const Interface &i : kInterfaces) v.push_back(i.name);
  return v;
}

std::string com(int port) { return "COM" + std::to_string(port); }

// Opens the interface on COM`port`, or fails saying why.
const Interface &open_interface(const std::string &name, int port) {
  const Interface &i = interface_by_name(name);
  if (port < i.first_port || port > 9)
    fail(std::string("the ") + i.title + " can hang on COM" + std::to_string(i.first_port) + " to COM9, not " + com(port),
         kExitUsage);
  const Mapping m = map_port(port);
  std::string problem = open_problem(com(port), m);
  if (!problem.empty()) fail(problem);
  if (i.init(port) != port) {
    problem = open_problem(com(port), m);
    fail(problem.empty() ? "cannot open " + com(port) + " (" + m.path + ") for the " + i.title : problem);
  }
  return i;
}

[[noreturn]] void not_answering(const Interface &i, int port) {
  fail(std::string("the ") + i.title + " on " + com(port) + " (" + map_port(port).path +
       ") does not answer: check that it is switched on and connected to that port, "
       "or let `tavio32 detect` look for it");
}

// Which COM port the primary port is, by comparing devices; 0 when unknown.
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

// --- ports ----------------------------------------------------------------------

int cmd_ports() {
  std::printf("Ports (the library looks the device up at every open):\n");
  for (int n = 1; n <= 9; ++n) {
    const Mapping m = map_port(n);
    std::string state;
    if (m.path.empty()) state = "no device";
    else if (m.path.rfind("rfc2217://", 0) == 0) state = "network port (not tried)";
    else {
      struct stat st {};
      if (::stat(m.path.c_str(), &st) != 0) state = "missing";
      else {
        std::string problem = open_problem(com(n), m);
        state = problem.empty() ? "can be opened" : problem;
      }
    }
    std::printf("  %-5s %-24s %-14s %s\n", com(n).c_str(), m.path.empty() ? "-" : m.path.c_str(),
                m.source == "default" ? "(default)" : ("(" + m.source + ")").c_str(), state.c_str());
  }
  const std::vector<std::string> devices = serial_devices();
  std::printf("\nSerial devices on this machine:%s\n", devices.empty() ? " none found" : "");
  // Suggest port numbers that lead nowhere now, in order.
  std::vector<int> free_ports;
  for (int n = 1; n <= 9; ++n) {
    struct stat st {};
    const Mapping m = map_port(n);
    if (m.path.empty() || (m.path.rfind("rfc2217://", 0) != 0 && ::stat(m.path.c_str(), &st) != 0))
      free_ports.push_back(n);
  }
  size_t next = 0;
  for (const std::string &d : devices) {
    int mapped = 0;
    for (int n = 1; n <= 9 && !mapped; ++n)
      if (map_port(n).path == d) mapped = n;
    if (mapped) {
      std::printf("  %-40s is %s\n", d.c_str(), com(mapped).c_str());
    } else if (next < free_ports.size()) {
      std::printf("  %-40s TAVIO32_COM%d=%s\n", d.c_str(), free_ports[next++], d.c_str());
    } else {
      std::printf("  %-40s TAVIO32_COMn=%s (every COM port is taken)\n", d.c_str(), d.c_str());
    }
  }
  return 0;
}

// --- detect ---------------------------------------------------------------------

int cmd_detect() {
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

// --- read -----------------------------------------------------------------------

struct ReadOptions {
  std::string interface;
  int port = 0;
  bool detect = false;
  std::vector<int> channels;
  bool digital = false;
  double every = 100;
  long count = 0;
  std::string csv;
};

int cmd_read(ReadOptions o, bool channels_given) {
  if (!channels_given) o.channels = o.digital ? std::vector<int>{} : std::vector<int>{1, 2, 3, 4};
  for (int c : o.channels)
    if (c < 1 || c > 4) fail("channel " + std::to_string(c) + " does not exist: channels are 1 to 4", kExitUsage);
  if (o.every < 1) fail("--every needs at least 1 ms", kExitUsage);
  const Interface *iface = nullptr;
  int port = o.port;
  if (!o.interface.empty()) {
    iface = &open_interface(o.interface, o.port);
  } else if (o.detect) {
    const int32_t code = FINDHARD(0);
    iface = interface_by_code(code);
    port = port_of_primary();
    if (!iface) std::fprintf(stderr, "tavio32: no interface answered: reading the simulation\n");
  }
  const std::string where = iface ? std::string(iface->title) + " on " + com(port) : "simulation";

  FILE *csv = nullptr;
  if (!o.csv.empty()) {
    csv = std::fopen(o.csv.c_str(), "w");
    if (!csv) fail("cannot write " + o.csv + ": " + std::strerror(errno));
  }
  const bool live = terminal();
  if (!live && !csv) csv = stdout;
  if (csv) {
    std::fprintf(csv, "time_ms");
    for (int c : o.channels) std::fprintf(csv, ",channel %d", c);
    if (o.digital) std::fprintf(csv, ",digital");
    std::fprintf(csv, "\n");
    std::fflush(csv);
  }
  catch_interrupts();
  if (live) std::printf("Reading %s every %g ms; Ctrl-C ends\n", where.c_str(), o.every);
  const double start = now_ms();
  bool drawn = false;
  for (long n = 0; o.count == 0 || n < o.count; ++n) {
    if (!sleep_until(start + double(n) * o.every)) break;
    const double t = now_ms() - start;
    std::vector<int> values;
    for (int c : o.channels) values.push_back(AIN(c));
    int din = o.digital ? DIN() : 0;
    // A silent interface answers -1 (the Zelle 0, which cannot be told apart).
    bool silent = iface && ((o.digital && din < 0) || std::any_of(values.begin(), values.end(), [](int v) { return v < 0; }));
    if (silent) {
      if (csv && csv != stdout) std::fclose(csv);
      not_answering(*iface, port);
    }
    if (csv) {
      std::fprintf(csv, "%.1f", t);
      for (int v : values) std::fprintf(csv, ",%d", v);
      if (o.digital) std::fprintf(csv, ",%d", din);
      std::fprintf(csv, "\n");
      std::fflush(csv);
    }
    if (live) {
      const size_t lines = o.channels.size() + (o.digital ? 1 : 0);
      if (drawn) std::printf("\x1b[%zuA", lines);
      for (size_t i = 0; i < o.channels.size(); ++i) {
        const int v = std::clamp(values[i], 0, 255), full = v * 40 / 255;
        std::printf("\rchannel %d  %3d  [%s%s]\x1b[K\n", o.channels[i], values[i], std::string(size_t(full), '#').c_str(),
                    std::string(size_t(40 - full), ' ').c_str());
      }
      if (o.digital) {
        std::string bits;
        for (int b = 7; b >= 0; --b) bits += (din >> b) & 1 ? '1' : '0';
        std::printf("\rdigital    %3d  %s\x1b[K\n", din, bits.c_str());
      }
      std::fflush(stdout);
      drawn = true;
    }
  }
  if (csv && csv != stdout) std::fclose(csv);
  if (iface) CLOSECOM();
  return 0;
}

// --- write ----------------------------------------------------------------------

int cmd_write(const std::string &name, int port, const std::string &what, int a, int b) {
  const Interface &i = open_interface(name, port);
  int32_t ok = 0;
  if (what == "dout") {
    ok = DOUT(a);
  } else if (what == "aout") {
    if (i.code != 4 && i.code != 32 && i.code != 64) {
      CLOSECOM();
      fail(std::string("the ") + i.title + " has no analog outputs");
    }
    ok = AOUT(a, b);
  } else {
    if (i.code != 8 && i.code != 4) {
      CLOSECOM();
      fail(std::string("status outputs exist on the Zelle and the Sios, not on the ") + i.title);
    }
    ok = STAUS(a);
  }
  CLOSECOM();
  if (!ok) fail(std::string("the ") + i.title + " on " + com(port) + " did not take the command: check the connection");
  std::printf("%s %d%s sent to the %s on %s\n", what.c_str(), a, what == "aout" ? (" " + std::to_string(b)).c_str() : "",
              i.title, com(port).c_str());
  return 0;
}

// --- record and table ---------------------------------------------------------

struct ReadoutProgress {
  bool live;
  double last = 0;
  int32_t done = 0, expected = 0;
};

int on_readout(int32_t done, int32_t expected, void *context) {
  auto *p = static_cast<ReadoutProgress *>(context);
  p->done = done;
  p->expected = expected;
  if (p->live && (done == expected || now_ms() - p->last > 50)) {
    p->last = now_ms();
    progress("reading", double(done) / expected, std::to_string(done) + " of " + std::to_string(expected) + " bytes");
  }
  return g_interrupted ? 0 : 1;
}

int header_size(int32_t code) { return code == 4 ? 16 : 10; }
int buffer_size(int32_t code) { return code == 4 ? 30720 : 6146; }

// Writes the table, the CSV and the plot of a buffer; returns the recording.
Recording write_outputs(std::vector<char> &buffer, size_t valid, int32_t code, const std::string &txt,
                        const std::string &csv, const std::string &svg, const std::string &title) {
  if (!txt.empty() && TABELLESPEICHERN(const_cast<char *>(txt.c_str()), buffer.data()) < 0)
    fail("cannot write " + txt + ": check the directory and free space");
  std::vector<char> view(buffer.begin(), buffer.begin() + long(valid));
  Recording r = decode(view, header_size(code));
  if (!csv.empty() && !write_csv(r, csv)) fail("cannot write " + csv + ": " + std::strerror(errno));
  if (!svg.empty() && !write_svg(r, svg, title)) fail("cannot write " + svg + ": " + std::strerror(errno));
  return r;
}

struct RecordOptions {
  std::string interface;
  int port = 0;
  int measurements = 0;
  std::vector<int> channels;
  int interval = 0;
  int blocks = 1;
  std::string trigger;
  std::string out;
};

int cmd_record(const RecordOptions &o) {
  const Interface &probe = interface_by_name(o.interface);
  if (probe.code != 4 && probe.code != 8) fail("block recordings work on the Sios and the Zelle only", kExitUsage);
  int mask = 0;
  for (int c : o.channels) {
    if (c < 1 || c > 4) fail("channel " + std::to_string(c) + " does not exist: channels are 1 to 4", kExitUsage);
    mask |= 1 << (c - 1);
  }
  int trigger_mode = 0, trigger_value = 0;
  if (!o.trigger.empty()) {
    if (probe.code != 4) fail("triggers exist on the Sios only", kExitUsage);
    if (std::sscanf(o.trigger.c_str(), "%d:%d", &trigger_mode, &trigger_value) != 2 || trigger_mode < 1 ||
        trigger_mode > 6 || trigger_value < 0 || trigger_value > 255)
      fail("--trigger takes MODE:VALUE, MODE 1 to 6 and VALUE 0 to 255 (e.g. 1:128)", kExitUsage);
  }
  const int header = header_size(probe.code), size = buffer_size(probe.code);
  const long values = long(o.measurements) * long(o.channels.size()) * o.blocks;
  if (values > size - header)
    fail("the " + std::string(probe.title) + " holds " + std::to_string(size - header) + " values, not " +
             std::to_string(values) + ": fewer measurements, channels or blocks",
         kExitUsage);

  const Interface &i = open_interface(o.interface, o.port);
  const bool live = terminal();
  catch_interrupts();
  BLOCKDEF(o.measurements, mask, o.interval);
  if (trigger_mode) BLOCKTRIGGER(trigger_value, trigger_mode);
  const double block_ms = double(o.measurements) * o.interval;
  const double total_ms = block_ms * o.blocks;
  std::printf("Recording %d x %zu values every %d ms%s on the %s on %s (%.1f s)\n", o.measurements, o.channels.size(),
              o.interval, o.blocks > 1 ? (" in " + std::to_string(o.blocks) + " blocks").c_str() : "", i.title,
              com(o.port).c_str(), total_ms / 1e3);
  std::fflush(stdout);
  const double start = now_ms();
  for (int b = 0; b < o.blocks && !g_interrupted; ++b) {
    BLOCKSTART();
    const double end = start + block_ms * (b + 1);
    while (!g_interrupted && now_ms() < end) {
      if (live) {
        const double t = now_ms() - start;
        progress("recording", t / total_ms, std::to_string(int(t / 1e3)) + " of " + std::to_string(int(total_ms / 1e3)) + " s");
      }
      sleep_until(std::min(end, now_ms() + 100));
    }
  }
  if (live) progress("recording", 1, "done"), std::printf("\n");
  if (g_interrupted) {
    CLOSECOM();
    std::printf("Stopped before the readout: nothing was read.\n");
    return kExitInterrupted;
  }

  std::vector<char> buffer(size_t(size), 0);
  ReadoutProgress p{live};
  tavio32_set_readout_progress(on_readout, &p);
  const int32_t got = BLOCKEIN(buffer.data(), o.blocks);
  tavio32_set_readout_progress(nullptr, nullptr);
  if (live) std::printf("\n");
  if (got < 0) {
    CLOSECOM();
    if (p.done == 0 && !g_interrupted) not_answering(i, o.port);
    const std::string partial = o.out + ".partial.dat";
    const size_t kept = size_t(header) + size_t(p.done);
    if (!write_file(partial, std::string(buffer.data(), kept)))
      fail("cannot write " + partial + ": " + std::strerror(errno));
    std::printf("%s after %d of %d bytes; what was read is in %s\n", g_interrupted ? "Stopped" : "The interface fell silent",
                p.done, p.expected, partial.c_str());
    return g_interrupted ? kExitInterrupted : kExitFailure;
  }
  if (DATENMENGE(buffer.data()) == 0) {
    CLOSECOM();
    fail(std::string("the ") + i.title + " holds no recording: check the trigger and the definition");
  }
  const std::string dat = o.out + ".dat";
  if (DATENSPEICHERN(const_cast<char *>(dat.c_str()), buffer.data()) < 0) {
    CLOSECOM();
    fail("cannot write " + dat + ": check the directory and free space");
  }
  Recording r = write_outputs(buffer, buffer.size(), i.code, o.out + ".txt", o.out + ".csv", o.out + ".svg",
                              std::string(i.title) + " recording " + o.out);
  CLOSECOM();
  std::printf("Read %d bytes: %zu measurements of %zu channels\n", got, r.rows.size(), r.channels.size());
  std::printf("Wrote %s.dat %s.txt %s.csv %s.svg\n", o.out.c_str(), o.out.c_str(), o.out.c_str(), o.out.c_str());
  return 0;
}

std::string stem(const std::string &path) {
  const size_t slash = path.rfind('/'), dot = path.rfind('.');
  return dot != std::string::npos && (slash == std::string::npos || dot > slash) ? path.substr(0, dot) : path;
}

int cmd_table(const std::string &file, const std::string &name, std::string txt, const std::string &csv,
              const std::string &svg) {
  const Interface &i = interface_by_name(name);
  if (i.code != 4 && i.code != 8) fail("block files come from the Sios and the Zelle only", kExitUsage);
  if (txt.empty() && csv.empty() && svg.empty()) txt = stem(file) + ".txt";
  std::vector<char> buffer(size_t(buffer_size(i.code)), 0);
  SETHARD(i.code);
  const int32_t got = DATENLADEN(const_cast<char *>(file.c_str()), buffer.data());
  if (got < 0) fail("cannot read " + file + ": " + std::strerror(errno));
  if (got < header_size(i.code)) fail(file + " is too short to be a " + i.title + " block file");
  Recording r = write_outputs(buffer, size_t(got), i.code, txt, csv, svg, std::string(i.title) + " recording " + stem(file));
  std::printf("%s: %zu measurements of %zu channels every %d ms\n", file.c_str(), r.rows.size(), r.channels.size(),
              r.interval_ms);
  for (const std::string *f : std::initializer_list<const std::string *>{&txt, &csv, &svg})
    if (!f->empty()) std::printf("Wrote %s\n", f->c_str());
  return 0;
}

// --- monitor --------------------------------------------------------------------

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

} // namespace

int main(int argc, char **argv) {
  tavio32_set_message_handler(quiet_messages);
  CLI::App app{"tavio32: measurement interfaces and serial ports from the command line.\n"
               "Ports COM1..COM9 are /dev/ttyS0..8 unless TAVIO32_COMn=PATH says otherwise."};
  app.require_subcommand(1);
  app.set_help_all_flag("--help-all", "Help for every subcommand");

  app.add_subcommand("ports", "COM1..COM9 with their devices, and the serial devices on this machine");
  app.add_subcommand("detect", "Look for an interface on COM1..COM8");
  app.add_subcommand("version", "Show the version");

  ReadOptions ro;
  auto *read = app.add_subcommand("read", "Read analog and digital inputs, live or as CSV rows (time in ms)");
  auto *ri = read->add_option("--interface", ro.interface, "Interface to open")->check(CLI::IsMember(interface_names()));
  auto *rp = read->add_option("--port", ro.port, "COM port number of the interface")->check(CLI::Range(0, 9));
  ri->needs(rp);
  rp->needs(ri);
  read->add_flag("--detect", ro.detect, "Look for the interface first")->excludes(ri);
  auto *rc = read->add_option("--channels", ro.channels, "Analog channels, e.g. 1,2 (default 1,2,3,4)")->delimiter(',');
  read->add_flag("--digital", ro.digital, "Read the digital input too (alone without --channels)");
  read->add_option("--every", ro.every, "Period in ms (default 100)")->check(CLI::PositiveNumber);
  read->add_option("--count", ro.count, "Samples to take (default: until Ctrl-C)")->check(CLI::NonNegativeNumber);
  read->add_option("--csv", ro.csv, "Write CSV rows to FILE");
  read->footer("Without --interface or --detect the library's simulation is read.");

  std::string wname, wwhat;
  int wport = 0, wa = 0, wb = 0;
  auto *write = app.add_subcommand("write", "Set digital outputs, an analog output or the status output");
  write->add_option("--interface", wname, "Interface")->required()->check(CLI::IsMember(interface_names()));
  write->add_option("--port", wport, "COM port number")->required()->check(CLI::Range(0, 9));
  write->require_subcommand(1);
  auto *wd = write->add_subcommand("dout", "Digital outputs");
  wd->add_option("VALUE", wa, "0..255")->required()->check(CLI::Range(0, 255));
  auto *wao = write->add_subcommand("aout", "Analog output");
  wao->add_option("CHANNEL", wa, "Channel")->required()->check(CLI::Range(1, 4));
  wao->add_option("VALUE", wb, "0..255")->required()->check(CLI::Range(0, 255));
  auto *ws = write->add_subcommand("status", "Status output (Zelle, Sios)");
  ws->add_option("VALUE", wa, "0..255")->required()->check(CLI::Range(0, 255));

  RecordOptions rec;
  auto *record = app.add_subcommand("record", "Record a block of measurements and write NAME.dat/.txt/.csv/.svg");
  record->add_option("--interface", rec.interface, "sios or zelle")->required()->check(CLI::IsMember({"sios", "zelle"}));
  record->add_option("--port", rec.port, "COM port number")->required()->check(CLI::Range(0, 9));
  record->add_option("--measurements", rec.measurements, "Measurements per block")->required()->check(CLI::Range(1, 65535));
  record->add_option("--channels", rec.channels, "Channels, e.g. 1,3")->required()->delimiter(',');
  record->add_option("--interval", rec.interval, "Interval in ms")->required()->check(CLI::Range(1, 65535));
  record->add_option("--blocks", rec.blocks, "Blocks (default 1)")->check(CLI::Range(1, 255));
  record->add_option("--trigger", rec.trigger, "Sios trigger MODE:VALUE (MODE 1..6)");
  record->add_option("--out", rec.out, "Base name of the files written")->required();
  record->footer("Ctrl-C during the readout keeps what was read in NAME.partial.dat.");

  std::string tfile, tname, ttxt, tcsv, tsvg;
  auto *table = app.add_subcommand("table", "Convert a raw block file to a table, CSV or plot");
  table->add_option("FILE", tfile, "Raw block file (.dat)")->required();
  table->add_option("--interface", tname, "sios or zelle")->required()->check(CLI::IsMember({"sios", "zelle"}));
  table->add_option("-o", ttxt, "Text table to write (default FILE.txt when nothing else is asked for)");
  table->add_option("--csv", tcsv, "CSV file to write");
  table->add_option("--plot", tsvg, "SVG plot to write");

  std::string mport, msettings = "9600,N,8,1";
  bool mhex = false;
  auto *monitor = app.add_subcommand("monitor", "A small terminal on a raw port, for checking wiring");
  monitor->add_option("PORT", mport, "COM0..COM9")->required();
  monitor->add_option("--settings", msettings, "baud,parity,data,stop (default 9600,N,8,1)");
  monitor->add_flag("--hex", mhex, "Show received bytes as hex");

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError &e) {
    const int rc = app.exit(e);
    return rc == 0 ? 0 : kExitUsage;
  }
  try {
    if (app.got_subcommand("ports")) return cmd_ports();
    if (app.got_subcommand("detect")) return cmd_detect();
    if (app.got_subcommand("version")) {
      std::printf("tavio32 1.22 (library version %d)\n", VERSION(0));
      return 0;
    }
    if (read->parsed()) return cmd_read(ro, rc->count() > 0);
    if (write->parsed()) {
      const std::string what = wd->parsed() ? "dout" : wao->parsed() ? "aout" : "status";
      return cmd_write(wname, wport, what, wa, wb);
    }
    if (record->parsed()) return cmd_record(rec);
    if (table->parsed()) return cmd_table(tfile, tname, ttxt, tcsv, tsvg);
    if (monitor->parsed()) return cmd_monitor(mport, msettings, mhex);
  } catch (const Failure &f) {
    std::fflush(stdout);
    std::fprintf(stderr, "tavio32: %s\n", f.message.c_str());
    return f.status;
  }
  return kExitUsage;
}
