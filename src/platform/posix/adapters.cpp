// COM numbers for USB serial adapters: the adapters from sysfs, the numbers
// from their file.
#include "platform/posix/adapters.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tavio::platform::adapters {

namespace {

constexpr const char kSysTty[] = "/sys/class/tty/";

// The first line of a sysfs attribute, without its end; "" when missing.
std::string attribute(const std::string &path) {
  FILE *f = std::fopen(path.c_str(), "re");
  if (!f) return "";
  char line[256] = "";
  if (!std::fgets(line, sizeof line, f)) line[0] = '\0';
  std::fclose(f);
  std::string s = line;
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ')) s.pop_back();
  return s;
}

bool exists(const std::string &path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

// One word of a key: what a line of the file can hold.
std::string word(const std::string &s) {
  std::string out;
  for (unsigned char c : s) out += (c <= ' ' || c == '#' || c >= 0x7f) ? '_' : char(c);
  return out;
}

std::string trim(const std::string &s) {
  size_t a = s.find_first_not_of(" \t"), b = s.find_last_not_of(" \t\r\n");
  return a == std::string::npos ? "" : s.substr(a, b - a + 1);
}

bool parse_com(const std::string &s, int &n) {
  if (s.size() != 4 || (s[0] != 'C' && s[0] != 'c') || (s[1] != 'O' && s[1] != 'o') || (s[2] != 'M' && s[2] != 'm') ||
      s[3] < '1' || s[3] > '9')
    return false;
  n = s[3] - '0';
  return true;
}

// The file's writers take this lock for their read, change and write.
class FileLock {
public:
  explicit FileLock(const std::string &path) {
    fd_ = ::open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd_ >= 0) ::flock(fd_, LOCK_EX);
  }
  ~FileLock() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileLock(const FileLock &) = delete;
  FileLock &operator=(const FileLock &) = delete;
  bool held() const { return fd_ >= 0; }

private:
  int fd_ = -1;
};

bool make_parent(const std::string &path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos || slash == 0) return true;
  const std::string dir = path.substr(0, slash);
  if (exists(dir)) return true;
  if (!make_parent(dir)) return false;
  return ::mkdir(dir.c_str(), 0755) == 0 || errno == EEXIST;
}

// Writes the numbers as a whole new file, renamed over the old one.
bool write_numbers(const std::string &path, std::vector<Number> numbers, std::string &error) {
  std::sort(numbers.begin(), numbers.end(), [](const Number &a, const Number &b) { return a.com < b.com; });
  std::string text = "# COM numbers of USB serial adapters (tavio32): COMn, the adapter, # what it says it is.\n"
                     "# Written by tavio32-number when an adapter is plugged in, and by `tavio32 ports --assign`.\n";
  for (const Number &n : numbers)
    text += "COM" + std::to_string(n.com) + " " + n.key + (n.about.empty() ? "" : " # " + n.about) + "\n";
  const std::string temporary = path + ".new";
  int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    error = "cannot write " + temporary + ": " + std::strerror(errno);
    return false;
  }
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t w = ::write(fd, text.data() + done, text.size() - done);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) break;
    done += size_t(w);
  }
  const bool written = done == text.size() && ::fsync(fd) == 0;
  const int saved = errno;
  ::close(fd);
  if (!written || ::rename(temporary.c_str(), path.c_str()) != 0) {
    error = "cannot write " + path + ": " + std::strerror(written ? errno : saved);
    ::unlink(temporary.c_str());
    return false;
  }
  return true;
}

bool prepare(const std::string &path, std::string &error) {
  if (!make_parent(path)) {
    error = "cannot make the folder of " + path + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

} // namespace

bool identify(const std::string &tty_in, Adapter &out) {
  const std::string tty = tty_in.substr(tty_in.rfind('/') + 1);
  if (tty.empty() || tty == "." || tty == "..") return false;
  const std::string link = kSysTty + tty + "/device";
  char *real = ::realpath(link.c_str(), nullptr);
  if (!real) return false;
  std::string dir = real;
  std::free(real);
  // Up from the line to its USB interface, and from there to the device.
  while (dir.size() > 5 && !exists(dir + "/bInterfaceNumber")) dir = dir.substr(0, dir.rfind('/'));
  if (dir.size() <= 5) return false;
  const std::string interface_dir = dir, usb = dir.substr(0, dir.rfind('/'));
  const std::string vendor = attribute(usb + "/idVendor"), product = attribute(usb + "/idProduct");
  if (vendor.empty() || product.empty()) return false;
  const std::string serial = attribute(usb + "/serial");
  std::string key = word(vendor) + ":" + word(product);
  key += serial.empty() ? " at=" + word(usb.substr(usb.rfind('/') + 1)) : " serial=" + word(serial);
  key += " if=" + word(attribute(interface_dir + "/bInterfaceNumber"));
  // Several lines on one interface: the line's own number.
  const std::string port = attribute(link + "/port_number");
  if (!port.empty() && port != "0") key += "." + word(port);
  out.device = "/dev/" + tty;
  out.key = key;
  const std::string maker = attribute(usb + "/manufacturer"), name = attribute(usb + "/product");
  out.about = trim(maker + (maker.empty() || name.empty() ? "" : " ") + name);
  for (char &c : out.about)
    if (c == '\n' || c == '#') c = ' ';
  return true;
}

std::vector<Adapter> present() {
  std::vector<Adapter> out;
  DIR *d = ::opendir(kSysTty);
  if (!d) return out;
  std::vector<std::string> names;
  while (dirent *e = ::readdir(d)) {
    const std::string n = e->d_name;
    // Virtual consoles, pseudo-terminals and motherboard UARTs are never USB.
    if (n[0] == '.' || n.rfind("ttyS", 0) == 0 || n.rfind("pty", 0) == 0 || n == "console" || n == "ptmx" ||
        (n.size() > 3 && n.rfind("tty", 0) == 0 && n[3] >= '0' && n[3] <= '9') || n == "tty")
      continue;
    names.push_back(n);
  }
  ::closedir(d);
  // ttyUSB2 before ttyUSB10.
  std::sort(names.begin(), names.end(), [](const std::string &a, const std::string &b) {
    return a.size() != b.size() ? a.size() < b.size() : a < b;
  });
  for (const std::string &n : names) {
    Adapter a;
    if (identify(n, a)) out.push_back(a);
  }
  return out;
}

std::string numbers_path() {
  const char *v = std::getenv("TAVIO32_COM_NUMBERS");
  return v && *v ? v : "/var/lib/tavio32/com-ports";
}

std::vector<Number> read_numbers() {
  std::vector<Number> out;
  FILE *f = std::fopen(numbers_path().c_str(), "re");
  if (!f) return out;
  char line[512];
  while (std::fgets(line, sizeof line, f)) {
    std::string s = line;
    const size_t hash = s.find('#');
    Number n;
    if (hash != std::string::npos) {
      n.about = trim(s.substr(hash + 1));
      s.resize(hash);
    }
    s = trim(s);
    const size_t space = s.find(' ');
    if (space == std::string::npos || !parse_com(s.substr(0, space), n.com)) continue;
    n.key = trim(s.substr(space + 1));
    if (n.key.empty()) continue;
    if (std::none_of(out.begin(), out.end(), [&](const Number &o) { return o.com == n.com; })) out.push_back(n);
  }
  std::fclose(f);
  return out;
}

Lookup device_of(int com, std::string &device, Number *number) {
  for (const Number &n : read_numbers()) {
    if (n.com != com) continue;
    if (number) *number = n;
    for (const Adapter &a : present())
      if (a.key == n.key) {
        device = a.device;
        return Lookup::Present;
      }
    return Lookup::Absent;
  }
  return Lookup::NotNumbered;
}

bool motherboard_uart(int index) {
  const std::string type = attribute(kSysTty + std::string("ttyS") + std::to_string(index) + "/type");
  return !type.empty() && type != "0";
}

bool number_new(const std::vector<Adapter> &which_in, std::vector<Number> &given, std::string &error) {
  given.clear();
  const std::string path = numbers_path();
  if (!prepare(path, error)) return false;
  FileLock lock(path);
  if (!lock.held()) {
    error = "cannot write " + path + ".lock: " + std::strerror(errno);
    return false;
  }
  const std::vector<Adapter> which = which_in.empty() ? present() : which_in;
  std::vector<Number> numbers = read_numbers();
  auto taken = [&](int com) {
    return motherboard_uart(com - 1) ||
           std::any_of(numbers.begin(), numbers.end(), [&](const Number &n) { return n.com == com; });
  };
  for (const Adapter &a : which) {
    if (std::any_of(numbers.begin(), numbers.end(), [&](const Number &n) { return n.key == a.key; })) continue;
    int com = 3;
    while (com <= 9 && taken(com)) ++com;
    if (com > 9) {
      error = "no COM number is free for " + a.device + " (COM3 to COM9 are taken): forget one with "
              "`tavio32 ports --forget COMn`";
      if (!given.empty()) write_numbers(path, numbers, error);
      return false;
    }
    numbers.push_back({com, a.key, a.about});
    given.push_back(numbers.back());
  }
  return given.empty() || write_numbers(path, numbers, error);
}

bool set_number(int com, const Adapter &adapter, std::string &error) {
  const std::string path = numbers_path();
  if (!prepare(path, error)) return false;
  FileLock lock(path);
  std::vector<Number> numbers = read_numbers();
  std::erase_if(numbers, [&](const Number &n) { return n.com == com || n.key == adapter.key; });
  numbers.push_back({com, adapter.key, adapter.about});
  return write_numbers(path, numbers, error);
}

bool forget(int com, std::string &error) {
  const std::string path = numbers_path();
  if (!exists(path)) return true;
  FileLock lock(path);
  std::vector<Number> numbers = read_numbers();
  const size_t before = numbers.size();
  std::erase_if(numbers, [&](const Number &n) { return n.com == com; });
  return numbers.size() == before || write_numbers(path, numbers, error);
}

} // namespace tavio::platform::adapters
