#include "pty_link.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <termios.h>
#include <time.h>
#include <unistd.h>

namespace tavio::emu {

namespace {

uint32_t rate_of(speed_t s) {
  switch (s) {
  case B110: return 110;
  case B300: return 300;
  case B600: return 600;
  case B1200: return 1200;
  case B2400: return 2400;
  case B4800: return 4800;
  case B9600: return 9600;
  case B19200: return 19200;
  case B38400: return 38400;
  case B57600: return 57600;
  case B115200: return 115200;
  case B230400: return 230400;
  case B460800: return 460800;
  case B500000: return 500000;
  case B576000: return 576000;
  case B921600: return 921600;
  default: return 0;
  }
}

} // namespace

uint64_t Link::now_ns() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000000000ull + static_cast<uint64_t>(ts.tv_nsec);
}

PtyLink::PtyLink(std::unique_ptr<Device> device) : device_(std::move(device)) {
  master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0)
    throw std::runtime_error("no pseudo-terminal");
  char name[256];
  if (::ptsname_r(master_, name, sizeof name) != 0) throw std::runtime_error("ptsname");
  slave_path_ = name;
  slave_keep_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (slave_keep_ < 0) throw std::runtime_error("cannot open pty slave");
  termios t;
  ::tcgetattr(slave_keep_, &t);
  ::cfmakeraw(&t); // no echo before the library configures the line
  ::tcsetattr(slave_keep_, TCSANOW, &t);
  ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
  if (::pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) throw std::runtime_error("pipe");
  thread_ = std::thread([this] { run(); });
}

PtyLink::~PtyLink() {
  stop_ = true;
  char c = 1;
  (void)!::write(wake_[1], &c, 1);
  if (thread_.joinable()) thread_.join();
  ::close(wake_[0]);
  ::close(wake_[1]);
  ::close(slave_keep_);
  ::close(master_);
}

void PtyLink::bind(const char *device_name) const {
  std::string var = std::string("TAVIO32_") + device_name;
  ::setenv(var.c_str(), slave_path_.c_str(), 1);
}

std::vector<Received> PtyLink::received() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return log_;
}

std::vector<uint8_t> PtyLink::bytes() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<uint8_t> out;
  out.reserve(log_.size());
  for (const Received &r : log_) out.push_back(r.byte);
  return out;
}

void PtyLink::clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  log_.clear();
}

bool PtyLink::wait_for(size_t n, int timeout_ms) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return arrived_.wait_for(lock, std::chrono::milliseconds(timeout_ms), [&] { return log_.size() >= n; });
}

std::vector<uint8_t> PtyLink::settled_bytes(int quiet_ms) const {
  size_t seen = bytes().size();
  while (true) {
    std::this_thread::sleep_for(std::chrono::milliseconds(quiet_ms));
    size_t now = bytes().size();
    if (now == seen) return bytes();
    seen = now;
  }
}

void PtyLink::mute_after(size_t n) {
  std::lock_guard<std::mutex> lock(mutex_);
  mute_after_ = n;
}

void PtyLink::on_receive(std::function<void(const Received &)> f) {
  std::lock_guard<std::mutex> lock(mutex_);
  on_receive_ = std::move(f);
}

void PtyLink::on_note(std::function<void(const std::string &)> f) {
  std::lock_guard<std::mutex> lock(mutex_);
  on_note_ = std::move(f);
}

std::vector<std::string> PtyLink::notes() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return notes_;
}

void PtyLink::note(const std::string &text) {
  // Called from the device, with the lock held.
  notes_.push_back(text);
  if (on_note_) on_note_(text);
}

void PtyLink::reply(const uint8_t *data, size_t n) {
  // Called from on_byte, with the lock held.
  if (mute_after_ != 0 && total_ >= mute_after_) return;
  while (n > 0) {
    ssize_t r = ::write(master_, data, n);
    if (r > 0) {
      data += r;
      n -= static_cast<size_t>(r);
    } else if (r < 0 && (errno == EAGAIN || errno == EINTR)) {
      pollfd p{master_, POLLOUT, 0};
      ::poll(&p, 1, 10);
    } else {
      return;
    }
  }
}

LineState PtyLink::line() const {
  // The master reports the slave's settings.
  LineState s;
  termios t;
  if (::tcgetattr(master_, &t) != 0) return s;
  s.baud = rate_of(cfgetospeed(&t));
  if (!(t.c_cflag & PARENB)) s.parity = 'N';
  else if (t.c_cflag & CMSPAR) s.parity = (t.c_cflag & PARODD) ? 'M' : 'S';
  else s.parity = (t.c_cflag & PARODD) ? 'O' : 'E';
  switch (t.c_cflag & CSIZE) {
  case CS5: s.data_bits = 5; break;
  case CS6: s.data_bits = 6; break;
  case CS7: s.data_bits = 7; break;
  default: s.data_bits = 8; break;
  }
  s.stop_bits = (t.c_cflag & CSTOPB) ? 2 : 1;
  return s;
}

void PtyLink::run() {
  uint64_t next_tick = now_ns();
  while (!stop_) {
    pollfd p[2] = {{master_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
    int r = ::poll(p, 2, 10);
    if (r < 0 && errno != EINTR) break;
    if (p[1].revents) break;
    if (r > 0 && (p[0].revents & POLLIN)) {
      uint8_t buf[4096];
      ssize_t n = ::read(master_, buf, sizeof buf);
      uint64_t t = now_ns();
      if (n > 0) {
        LineState ls = line();
        std::lock_guard<std::mutex> lock(mutex_);
        for (ssize_t i = 0; i < n; ++i) {
          Received rec{buf[i], t, ls.baud, true};
          uint32_t want = device_->baud();
          rec.delivered = want == 0 || want == ls.baud;
          log_.push_back(rec);
          ++total_;
          if (on_receive_) on_receive_(rec);
          if (rec.delivered) device_->on_byte(buf[i], *this);
        }
        arrived_.notify_all();
      }
    }
    uint64_t now = now_ns();
    if (now >= next_tick) {
      std::lock_guard<std::mutex> lock(mutex_);
      device_->on_tick(*this);
      next_tick = now + 10000000ull;
    }
  }
}

} // namespace tavio::emu
