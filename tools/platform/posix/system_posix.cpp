// The tavio32 command's system part on Linux (and other POSIX systems).
#include "cli_system.h"

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <glob.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <arpa/inet.h>
#include <csignal>
#include <ctime>
#include <dlfcn.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <spawn.h>
#include <pthread.h>
#include <sys/random.h>
#include <termios.h>

#include "cli_common.h"
#include "i18n.h"
#include "platform/posix/adapters.h"
#include "tavio32.h"

namespace tavio::cli {

namespace adapters = platform::adapters;

const char *port_naming() {
  return N_("Ports COM1..COM9 are /dev/ttyS0..8, or the USB adapter numbered so (tavio32 ports), unless "
            "TAVIO32_COMn=PATH says otherwise.");
}

// As the library maps a COM name (its device_path): the variable, the
// numbered adapter, the motherboard's port.
Mapping map_port(int n) {
  const std::string var = "TAVIO32_COM" + std::to_string(n);
  if (const char *v = std::getenv(var.c_str())) return {v, var, "", false};
  if (n < 1 || n > 9) return {"", "", "", false};
  std::string device;
  adapters::Number number;
  switch (adapters::device_of(n, device, &number)) {
  // (The source is translated where it is shown: tavio32 ports.)
  case adapters::Lookup::Present: return {device, N_("USB adapter"), number.about, false};
  case adapters::Lookup::Absent: return {"", "USB adapter", number.about.empty() ? number.key : number.about, true};
  case adapters::Lookup::NotNumbered: break;
  }
  return {"/dev/ttyS" + std::to_string(n - 1), "default", "", false};
}

static bool usb_path(const std::string &path) {
  for (const char *p : {"/dev/ttyUSB", "/dev/ttyACM", "/dev/serial/"})
    if (path.rfind(p, 0) == 0) return true;
  return false;
}

// A USB adapter's line that went away: its node, removed while the port
// held it open, or its mapping, which leads nowhere now.
static std::string removed_now(int port, int32_t handle, bool &usb) {
  const Mapping m = map_port(port);
  std::string gone, line; // the device that went away; the open line
  if (handle > 0) {
    char link[64], target[512];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", int(handle));
    const ssize_t n = ::readlink(link, target, sizeof target - 1);
    if (n > 0) {
      line.assign(target, size_t(n));
      const std::string deleted = " (deleted)";
      if (line.size() > deleted.size() && line.compare(line.size() - deleted.size(), deleted.size(), deleted) == 0)
        gone = line.substr(0, line.size() - deleted.size());
      // A line whose device went is hung up at once (its node may go a
      // moment later): every request but a few fails with EIO.
      int bits = 0;
      if (gone.empty() && ::ioctl(handle, TIOCMGET, &bits) != 0 && errno == EIO) gone = line;
    }
  }
  // (Other devices that go away, such as an emulator's pseudo-terminal,
  // keep the plain "does not answer".)
  usb = m.source == "USB adapter" || usb_path(m.path) || usb_path(line);
  if (!usb) return "";
  if (gone.empty() && m.absent) gone.assign(1, '?'); // (not = "?": GCC 12 warns falsely of -Wrestrict there)
  if (gone.empty() && !m.path.empty() && m.path.rfind("rfc2217://", 0) != 0 && !device_exists(m.path)) gone = m.path;
  if (gone.empty()) return "";
  std::string what = m.adapter;
  if (gone != "?") what += (what.empty() ? "" : ", ") + gone;
  return what.empty() ? format(tr("the USB adapter of %s was removed: plug it in again"), com(port).c_str())
                      : format(tr("the USB adapter of %s was removed (%s): plug it in again"), com(port).c_str(), what.c_str());
}

// The system learns of a pulled adapter a moment after its line fell
// silent (the USB host controller notices, then the driver lets go): a USB
// line that seems to be there is asked again for up to a second (times
// TAVIO32_TIME_SLACK, 1 to 20, on a machine that runs slowly, such as an
// emulated PC).
std::string removed_problem(int port, int32_t handle) {
  bool usb = false;
  const char *slack_text = std::getenv("TAVIO32_TIME_SLACK");
  const double slack = std::clamp(slack_text ? std::atof(slack_text) : 1.0, 1.0, 20.0);
  const double until = now_ms() + 1000 * slack;
  std::string removed = removed_now(port, handle, usb);
  while (removed.empty() && usb && now_ms() < until) {
    ::usleep(50000);
    removed = removed_now(port, handle, usb);
  }
  return removed;
}

std::vector<UsbAdapter> usb_adapters() {
  std::vector<UsbAdapter> out;
  const std::vector<adapters::Number> numbers = adapters::read_numbers();
  for (const adapters::Adapter &a : adapters::present()) {
    UsbAdapter u{a.device, a.about, 0};
    for (const adapters::Number &n : numbers)
      if (n.key == a.key) u.com = n.com;
    out.push_back(u);
  }
  return out;
}

std::string numbers_place() { return adapters::numbers_path(); }

bool number_adapters(int n, const std::string &device, std::vector<std::string> &lines, std::string &error) {
  if (device.empty()) {
    std::vector<adapters::Number> given;
    const bool ok = adapters::number_new({}, given, error);
    for (const adapters::Number &g : given)
      for (const adapters::Adapter &a : adapters::present())
        if (a.key == g.key) lines.push_back(format(tr("%s is now %s"), com(g.com).c_str(), a.device.c_str()) + (a.about.empty() ? "" : " (" + a.about + ")"));
    return ok;
  }
  char *real = ::realpath(device.c_str(), nullptr);
  adapters::Adapter a;
  const bool found = real && adapters::identify(real, a);
  std::free(real);
  if (!found) {
    error = format(tr("%s is no USB serial adapter that is plugged in (tavio32 ports lists them)"), device.c_str());
    return false;
  }
  if (!adapters::set_number(n, a, error)) return false;
  lines.push_back(format(tr("%s is now %s"), com(n).c_str(), a.device.c_str()) + (a.about.empty() ? "" : " (" + a.about + ")"));
  return true;
}

bool forget_number(int n, std::string &error) { return adapters::forget(n, error); }

static std::string process_name(pid_t pid) {
  char path[64], name[64] = "";
  std::snprintf(path, sizeof path, "/proc/%d/comm", int(pid));
  if (FILE *f = std::fopen(path, "re")) {
    if (std::fgets(name, sizeof name, f)) name[std::strcspn(name, "\n")] = '\0';
    std::fclose(f);
  }
  return name;
}

// Calls f(pid, link target) for every descriptor of every visible process.
template <class F> static void each_descriptor(F f) {
  DIR *proc = ::opendir("/proc");
  if (!proc) return;
  while (dirent *e = ::readdir(proc)) {
    char *end = nullptr;
    long pid = std::strtol(e->d_name, &end, 10);
    if (*end != '\0' || pid <= 0) continue;
    std::string dir = std::string("/proc/") + e->d_name + "/fd";
    DIR *fds = ::opendir(dir.c_str());
    if (!fds) continue;
    while (dirent *fd = ::readdir(fds)) {
      if (fd->d_name[0] == '.') continue;
      char target[512];
      ssize_t n = ::readlinkat(::dirfd(fds), fd->d_name, target, sizeof target - 1);
      if (n <= 0) continue;
      target[n] = '\0';
      if (f(pid_t(pid), target)) break;
    }
    ::closedir(fds);
  }
  ::closedir(proc);
}

// Processes holding a whole-file lock on the file, from the kernel's table.
static std::vector<Holder> lockers_of(const std::string &path) {
  std::vector<Holder> out;
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return out;
  FILE *f = std::fopen("/proc/locks", "re");
  if (!f) return out;
  char line[256];
  while (std::fgets(line, sizeof line, f)) {
    // "1: FLOCK  ADVISORY  WRITE 1234 00:05:4 0 EOF"
    char kind[16], mode[16], access[16];
    int pid;
    unsigned maj, min;
    unsigned long ino;
    if (std::sscanf(line, "%*s %15s %15s %15s %d %x:%x:%lu", kind, mode, access, &pid, &maj, &min, &ino) == 7 &&
        ino == st.st_ino && maj == major(st.st_dev) && min == minor(st.st_dev) && pid != ::getpid())
      out.push_back({long(pid), process_name(pid_t(pid))});
  }
  std::fclose(f);
  return out;
}

std::vector<Holder> holders_of(const std::string &path) {
  std::vector<Holder> out = lockers_of(path);
  if (!out.empty()) return out;
  char *real = ::realpath(path.c_str(), nullptr);
  if (!real) return out;
  const std::string want = real;
  std::free(real);
  const pid_t self = ::getpid();
  each_descriptor([&](pid_t pid, const char *target) {
    if (pid == self || want != target) return false;
    out.push_back({pid, process_name(pid)});
    return true;
  });
  return out;
}

Holder library_holder(bool *held) {
  static const char kName[] = "tavio32.one-process-lock";
  *held = false;
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return {0, ""};
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path + 1, kName, sizeof kName - 1);
  socklen_t len = socklen_t(offsetof(sockaddr_un, sun_path) + sizeof kName);
  *held = ::bind(fd, reinterpret_cast<sockaddr *>(&addr), len) != 0 && errno == EADDRINUSE;
  ::close(fd);
  if (!*held) return {0, ""};
  // The socket's inode from the kernel's table, then the process with a
  // descriptor on that socket.
  std::string inode;
  if (FILE *table = std::fopen("/proc/net/unix", "re")) {
    char line[512];
    while (std::fgets(line, sizeof line, table)) {
      // Num RefCount Protocol Flags Type St Inode Path
      char num[32], name[256];
      unsigned long ref, proto, flags, type, st, ino;
      if (std::sscanf(line, "%31s %lx %lx %lx %lx %lx %lu %255s", num, &ref, &proto, &flags, &type, &st, &ino,
                      name) == 8 &&
          name[0] == '@' && std::strcmp(name + 1, kName) == 0)
        inode = "socket:[" + std::to_string(ino) + "]";
    }
    std::fclose(table);
  }
  Holder found{0, ""};
  if (inode.empty()) return found;
  each_descriptor([&](pid_t pid, const char *target) {
    if (inode != target) return false;
    found = {pid, process_name(pid)};
    return true;
  });
  return found;
}

// libtavio32.so.1 where the program's run path leads (the build tree, or
// ../lib beside an installed program), else where the dynamic linker looks;
// last, beside the program itself: a sanitizer's dlopen runs from its own
// runtime, whose run path is not the program's.
void *open_library(std::string &error) {
  void *h = ::dlopen("libtavio32.so.1", RTLD_NOW | RTLD_LOCAL);
  if (h) return h;
  error = ::dlerror();
  char self[4096];
  const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return nullptr;
  std::string path(self, size_t(n));
  path = path.substr(0, path.rfind('/') + 1) + "libtavio32.so.1";
  if ((h = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL))) error.clear();
  return h;
}

void *library_address(void *library, const char *name) { return ::dlsym(library, name); }

bool device_exists(const std::string &path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

static std::string in_use(const std::string &path, const std::string &port_name) {
  const std::string who = describe(holders_of(path));
  return who.empty() ? format(tr("%s (%s) is in use: end that program and try again"), path.c_str(), port_name.c_str())
                     : format(tr("%s (%s) is in use by %s: end that program and try again"), path.c_str(),
                              port_name.c_str(), who.c_str());
}

std::string open_problem(const std::string &port_name, const Mapping &m) {
  const std::string var = "TAVIO32_" + port_name;
  if (m.absent)
    return format(tr("the USB adapter of %s (%s) is not plugged in: plug it in, or give %s to another one "
                     "(tavio32 ports --assign %s=DEVICE)"),
                  port_name.c_str(), m.adapter.c_str(), port_name.c_str(), port_name.c_str());
  if (m.path.empty())
    return format(tr("%s has no device (%s is empty): set %s=/dev/ttyUSB0 or the device your interface hangs on"),
                  port_name.c_str(), var.c_str(), var.c_str());
  if (m.path.rfind("rfc2217://", 0) == 0) return "";
  struct stat st {};
  if (::stat(m.path.c_str(), &st) != 0)
    return format(tr("%s maps to %s, which does not exist: plug the adapter in, or set %s=PATH "
                     "(tavio32 ports lists the serial devices)"),
                  port_name.c_str(), m.path.c_str(), var.c_str());
  int fd = ::open(m.path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    if (errno == EACCES || errno == EPERM)
      return format(tr("no permission to open %s (%s): add yourself to its group (usually dialout: sudo adduser "
                       "$USER dialout) and log in again"),
                    m.path.c_str(), port_name.c_str());
    if (errno == EBUSY) return in_use(m.path, port_name);
    return format(tr("cannot open %s (%s): %s"), m.path.c_str(), port_name.c_str(), std::strerror(errno));
  }
  const bool busy = ::flock(fd, LOCK_EX | LOCK_NB) != 0;
  ::close(fd);
  if (busy) return in_use(m.path, port_name);
  return "";
}

static bool real_uart(const std::string &path) {
  // ttyS entries exist for every possible UART; the kernel gives a type of
  // 0 to those without hardware.
  std::string name = path.substr(path.rfind('/') + 1);
  std::ifstream in("/sys/class/tty/" + name + "/type");
  int type = 0;
  return bool(in >> type) && type != 0;
}

std::vector<SerialDevice> serial_devices() {
  std::vector<SerialDevice> out;
  for (const char *pattern : {"/dev/serial/by-id/*", "/dev/ttyUSB*", "/dev/ttyACM*", "/dev/ttyS*"}) {
    glob_t g{};
    if (::glob(pattern, 0, nullptr, &g) == 0) {
      for (size_t i = 0; i < g.gl_pathc; ++i) {
        std::string p = g.gl_pathv[i];
        if (p.rfind("/dev/ttyS", 0) == 0 && !real_uart(p)) continue;
        out.push_back({p, ""});
      }
    }
    ::globfree(&g);
  }
  return out;
}

} // namespace tavio::cli

namespace tavio::cli {

static void on_interrupt(int) { g_interrupted = 1; }

void catch_interrupts() {
  struct sigaction sa {};
  sa.sa_handler = on_interrupt; // no SA_RESTART: waits end early
  sigemptyset(&sa.sa_mask);
  ::sigaction(SIGINT, &sa, nullptr);
  ::sigaction(SIGTERM, &sa, nullptr);
}

static sigset_t ending_signals() {
  sigset_t ending;
  sigemptyset(&ending);
  sigaddset(&ending, SIGINT);
  sigaddset(&ending, SIGTERM);
  return ending;
}

// Signals go to the waiting thread alone (sigwait); a closed connection is an
// error to the writer, not a signal. Threads started afterwards inherit the
// mask.
void prepare_wait_for_end() {
  const sigset_t ending = ending_signals();
  ::pthread_sigmask(SIG_BLOCK, &ending, nullptr);
  std::signal(SIGPIPE, SIG_IGN);
}

int wait_for_end() {
  const sigset_t ending = ending_signals();
  int sig = 0;
  while (::sigwait(&ending, &sig) != 0) {
  }
  return sig == SIGINT ? kExitInterrupted : 0;
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

// As the library replaces files: a symbolic link stays a link (its target
// is replaced), an existing file keeps its permission bits, and a name that
// is not a regular file (a FIFO, /dev/stdout) is written in place.
static bool write_all(int fd, const std::string &text) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += size_t(n);
  }
  return true;
}

std::string write_protection(const std::string &path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || ::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) == 0)
    return "";
  if (errno == EROFS) return tr("its file system is read-only");
  if (errno != EACCES && errno != EPERM) return "";
  return tr("the file is write-protected (its permissions do not let this user write it), and it was left as it is");
}

bool write_file(const std::string &path, const std::string &text) {
  if (path == "-" || path == "/dev/stdout") {
    std::fflush(stdout);
    return write_all(STDOUT_FILENO, text);
  }
  std::string target = path;
  mode_t mode = 0;
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) {
    if (!S_ISREG(st.st_mode)) {
      int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
      if (fd < 0) return false;
      const bool ok = write_all(fd, text);
      int e = errno;
      ::close(fd);
      errno = e;
      return ok;
    }
    if (!write_protection(path).empty()) return errno = EACCES, false;
    mode = st.st_mode & 07777;
    if (char *real = ::realpath(path.c_str(), nullptr)) {
      target = real;
      std::free(real);
    }
  } else {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    mode = 0666 & ~mask;
  }
  std::string temp = target + ".XXXXXX";
  int fd = ::mkstemp(temp.data());
  if (fd < 0) return false;
  if (!write_all(fd, text) || ::fchmod(fd, mode) != 0) {
    int e = errno;
    ::close(fd);
    ::unlink(temp.c_str());
    errno = e;
    return false;
  }
  if (::close(fd) != 0 || ::rename(temp.c_str(), target.c_str()) != 0) {
    int e = errno;
    ::unlink(temp.c_str());
    errno = e;
    return false;
  }
  return true;
}

std::string make_temporary_directory(std::string &error) {
  const char *tmp = std::getenv("TMPDIR");
  std::string dir = std::string(tmp && *tmp ? tmp : "/tmp") + "/tavio32-serve-XXXXXX";
  if (!::mkdtemp(dir.data())) {
    error = format(tr("cannot make a temporary directory: %s"), std::strerror(errno));
    return "";
  }
  return dir;
}

void remove_directory(const std::string &dir, const std::vector<std::string> &files) {
  for (const std::string &f : files) ::unlink((dir + "/" + f).c_str());
  ::rmdir(dir.c_str());
}

bool random_bytes(unsigned char *out, size_t n) {
  size_t got = 0;
  while (got < n) {
    const ssize_t k = ::getrandom(out + got, n - got, 0);
    if (k < 0 && errno == EINTR) continue;
    if (k <= 0) return false;
    got += size_t(k);
  }
  return true;
}

// The first IPv4 address of an interface that is up.
std::string own_address() {
  ifaddrs *list = nullptr;
  std::string found;
  if (::getifaddrs(&list) == 0) {
    for (ifaddrs *i = list; i && found.empty(); i = i->ifa_next) {
      if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET || !(i->ifa_flags & IFF_UP) || (i->ifa_flags & IFF_LOOPBACK))
        continue;
      char s[INET_ADDRSTRLEN];
      ::inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in *>(i->ifa_addr)->sin_addr, s, sizeof s);
      found = s;
    }
    ::freeifaddrs(list);
  }
  if (found.empty()) {
    char name[256] = "";
    ::gethostname(name, sizeof name - 1);
    found = name;
  }
  return found;
}

void listening_socket_options(std::uintptr_t socket, int send_buffer) {
  const int fd = int(socket), yes = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &send_buffer, sizeof send_buffer);
}

bool monitor_loop(int32_t handle, bool hex, const std::string &port, const std::string &banner) {
  const int fd = handle;
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
    std::fprintf(stderr, tr("%s; Ctrl-] ends\n"), banner.c_str());
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
        if (!line_ok) std::fprintf(stderr, "\r\ntavio32: %s\n", format(tr("%s went away"), port.c_str()).c_str());
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
  return line_ok;
}

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

// A program started from a terminal or a desktop entry alike: no
// double-click start here.
bool started_from_explorer() { return false; }

// xdg-open, quietly, where the desktop has it.
void open_in_browser(const std::string &url) {
  posix_spawn_file_actions_t quiet;
  ::posix_spawn_file_actions_init(&quiet);
  for (int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO})
    ::posix_spawn_file_actions_addopen(&quiet, fd, "/dev/null", O_RDWR, 0);
  std::string arg = url;
  char name[] = "xdg-open";
  char *args[] = {name, arg.data(), nullptr};
  pid_t child = 0;
  ::posix_spawnp(&child, name, &quiet, nullptr, args, environ);
  ::posix_spawn_file_actions_destroy(&quiet);
  // Reaped by the system when this program ends; it serves until then.
}

} // namespace tavio::cli
