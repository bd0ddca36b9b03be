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
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

namespace tavio::cli {

Mapping map_port(int n) {
  const std::string var = "TAVIO32_COM" + std::to_string(n);
  if (const char *v = std::getenv(var.c_str())) return {v, var};
  if (n >= 1 && n <= 9) return {"/dev/ttyS" + std::to_string(n - 1), "default"};
  return {"", ""};
}

// C stdio only here and in library_holder: the command asks before the C++
// runtime is set up (see tavio32.cpp).
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
      out.push_back({pid_t(pid), process_name(pid_t(pid))});
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

std::string describe(const std::vector<Holder> &holders) {
  std::string s;
  for (const Holder &h : holders) {
    if (!s.empty()) s += ", ";
    s += "process " + std::to_string(h.pid) + " (" + h.name + ")";
  }
  return s;
}

std::string open_problem(const std::string &port_name, const Mapping &m) {
  const std::string var = "TAVIO32_" + port_name;
  if (m.path.empty())
    return port_name + " has no device (" + var + " is empty): set " + var +
           "=/dev/ttyUSB0 or the device your interface hangs on";
  if (m.path.rfind("rfc2217://", 0) == 0) return "";
  struct stat st {};
  if (::stat(m.path.c_str(), &st) != 0)
    return port_name + " maps to " + m.path + ", which does not exist: plug the adapter in, or set " + var +
           "=PATH (tavio32 ports lists the serial devices)";
  int fd = ::open(m.path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    if (errno == EACCES || errno == EPERM)
      return "no permission to open " + m.path + " (" + port_name +
             "): add yourself to its group (usually dialout: sudo adduser $USER dialout) and log in again";
    if (errno == EBUSY) {
      std::string who = describe(holders_of(m.path));
      return m.path + " (" + port_name + ") is in use" + (who.empty() ? "" : " by " + who) +
             ": end that program and try again";
    }
    return "cannot open " + m.path + " (" + port_name + "): " + std::strerror(errno);
  }
  const bool busy = ::flock(fd, LOCK_EX | LOCK_NB) != 0;
  ::close(fd);
  if (busy) {
    std::string who = describe(holders_of(m.path));
    return m.path + " (" + port_name + ") is in use" + (who.empty() ? "" : " by " + who) +
           ": end that program and try again";
  }
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

std::vector<std::string> serial_devices() {
  std::vector<std::string> out;
  for (const char *pattern : {"/dev/serial/by-id/*", "/dev/ttyUSB*", "/dev/ttyACM*", "/dev/ttyS*"}) {
    glob_t g{};
    if (::glob(pattern, 0, nullptr, &g) == 0) {
      for (size_t i = 0; i < g.gl_pathc; ++i) {
        std::string p = g.gl_pathv[i];
        if (p.rfind("/dev/ttyS", 0) == 0 && !real_uart(p)) continue;
        out.push_back(p);
      }
    }
    ::globfree(&g);
  }
  return out;
}

} // namespace tavio::cli
