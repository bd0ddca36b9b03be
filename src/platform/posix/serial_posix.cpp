// Serial ports on POSIX: raw termios lines, exclusive opens, and the
// time-out sets reproduced with a poll() loop on a non-blocking descriptor.
#include "platform/posix/posix_backend.h"
#include "platform/posix/adapters.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>
#ifdef __linux__
#include <linux/serial.h>
#endif

namespace tavio::platform {

namespace {

// Whether fd is a serial device with a real line behind it (a UART, a USB
// adapter) rather than a pseudo-terminal: its driver describes the line.
bool is_serial_device(int fd) {
#ifdef TIOCGSERIAL
  serial_struct ss{};
  return ::ioctl(fd, TIOCGSERIAL, &ss) == 0;
#else
  (void)fd;
  return false;
#endif
}

// Raises or drops one modem line; a pseudo-terminal has none (ENOTTY).
void set_modem_line(int fd, int bit, bool on) { ::ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &bit); }

// Whether the driver drives RTS itself (the RTS/CTS handshake).
bool rts_by_driver(int fd) {
  termios t;
  return ::tcgetattr(fd, &t) == 0 && (t.c_cflag & CRTSCTS) != 0;
}

struct RateCode {
  uint32_t baud;
  speed_t code;
};
constexpr RateCode kRateCodes[] = {
    {110, B110},       {300, B300},       {600, B600},       {1200, B1200},
    {2400, B2400},     {4800, B4800},     {9600, B9600},     {19200, B19200},
    {38400, B38400},   {57600, B57600},   {115200, B115200}, {230400, B230400},
    {460800, B460800}, {500000, B500000}, {576000, B576000}, {921600, B921600},
};

bool speed_code(uint32_t baud, speed_t &code) {
  for (const RateCode &r : kRateCodes)
    if (r.baud == baud) {
      code = r.code;
      return true;
    }
  return false;
}

uint32_t speed_baud(speed_t code) {
  for (const RateCode &r : kRateCodes)
    if (r.code == code) return r.baud;
  return 0;
}

} // namespace

uint64_t mono_ns() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000000000ull + static_cast<uint64_t>(ts.tv_nsec);
}

constexpr uint64_t kNsPerMs = 1000000ull;
constexpr uint64_t kForever = ~0ull;

// Waits until fd is ready for events or the deadline passes. Returns the
// revents (0 on time-out), or -1 on a poll error.
int wait_ready(int fd, short events, uint64_t deadline) {
  while (true) {
    pollfd p{fd, events, 0};
    int r;
    if (deadline == kForever) {
      r = ::poll(&p, 1, -1);
    } else {
      uint64_t now = mono_ns();
      if (now >= deadline) return 0;
      uint64_t left = deadline - now;
      timespec ts{static_cast<time_t>(left / 1000000000ull), static_cast<long>(left % 1000000000ull)};
      r = ::ppoll(&p, 1, &ts, nullptr);
    }
    if (r < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (r == 0) {
      if (deadline != kForever && mono_ns() < deadline) continue;
      return 0;
    }
    return p.revents;
  }
}

// TAVIO32_<NAME> first, then the USB adapter numbered COMn, then
// COM1..COM9 -> /dev/ttyS0..8.
bool PosixBackend::device_path(const char *name, std::string &path) {
  char upper[8] = {};
  size_t len = std::strlen(name);
  if (len == 0 || len > 4) return false;
  for (size_t i = 0; i < len; ++i) {
    unsigned char c = static_cast<unsigned char>(name[i]);
    if (!std::isalnum(c)) return false; // keeps the variable name well formed
    upper[i] = static_cast<char>(std::toupper(c));
  }
  char var[32];
  std::snprintf(var, sizeof var, "TAVIO32_%s", upper);
  if (const char *value = std::getenv(var)) {
    if (*value == '\0') return false;
    path = value;
    return true;
  }
  if (len == 4 && upper[0] == 'C' && upper[1] == 'O' && upper[2] == 'M' && upper[3] >= '1' && upper[3] <= '9') {
    // A USB adapter that has this number leads there, wherever it is
    // plugged in now; while it is out, the name has no device.
    switch (adapters::device_of(upper[3] - '0', path)) {
    case adapters::Lookup::Present: return true;
    case adapters::Lookup::Absent: return false;
    case adapters::Lookup::NotNumbered: break;
    }
    path = "/dev/ttyS" + std::to_string(upper[3] - '1');
    return true;
  }
  return false;
}

bool PosixBackend::lookup(Handle h, Timeouts *timeouts) {
  if (h < 3) return false;
  std::lock_guard<std::mutex> lock(ports_mutex_);
  auto it = ports_.find(h);
  if (it == ports_.end()) return false;
  if (timeouts) *timeouts = it->second.timeouts;
  return true;
}

Handle PosixBackend::open_device(const char *path) {
  if (path == nullptr) return kInvalidHandle;
  int fd = ::open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return kInvalidHandle;
  if (fd < 3) { // never hand out 0, and keep clear of the standard streams
    int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
    ::close(fd);
    if (moved < 0) return kInvalidHandle;
    fd = moved;
  }
  // Exclusive against every other opener: the advisory lock stops root as
  // well, TIOCEXCL stops programs that do not take the lock.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    return kInvalidHandle;
  }
  ::ioctl(fd, TIOCEXCL); // not a terminal: get_config fails later
  std::lock_guard<std::mutex> lock(ports_mutex_);
  // Until the library installs its own, a port reads and writes under the
  // library's default set (100 ms), so that a port whose settings were
  // refused fails its transfers instead of blocking for good.
  ports_[fd] = Port{Timeouts{100, 1, 100, 1, 100}};
  return fd;
}

bool PosixBackend::request_low_latency(Handle h) {
  if (!lookup(h, nullptr)) return false;
#if defined(TIOCGSERIAL) && defined(ASYNC_LOW_LATENCY)
  serial_struct ss{};
  if (::ioctl(h, TIOCGSERIAL, &ss) != 0) return false; // a pseudo-terminal
  if (ss.flags & ASYNC_LOW_LATENCY) return true;
  int before = ss.flags;
  ss.flags |= ASYNC_LOW_LATENCY;
  if (::ioctl(h, TIOCSSERIAL, &ss) != 0) return false;
  std::lock_guard<std::mutex> lock(ports_mutex_);
  serial_flags_[h] = before;
  return true;
#else
  return false;
#endif
}

bool PosixBackend::close(Handle h) {
  if (!lookup(h, nullptr)) return false;
  bool restore = false;
  int flags_before = 0;
  {
    std::lock_guard<std::mutex> lock(ports_mutex_);
    ports_.erase(h);
    auto it = serial_flags_.find(h);
    if (it != serial_flags_.end()) {
      restore = true;
      flags_before = it->second;
      serial_flags_.erase(it);
    }
  }
#if defined(TIOCGSERIAL) && defined(ASYNC_LOW_LATENCY)
  serial_struct ss{};
  if (restore && ::ioctl(h, TIOCGSERIAL, &ss) == 0) { // the driver's setting as the library found it
    ss.flags = (ss.flags & ~ASYNC_LOW_LATENCY) | (flags_before & ASYNC_LOW_LATENCY);
    ::ioctl(h, TIOCSSERIAL, &ss);
  }
#else
  (void)restore;
  (void)flags_before;
#endif
  ::ioctl(h, TIOCNXCL); // a pty keeps the flag while its master stays open
  return ::close(h) == 0;
}

bool PosixBackend::clear_errors(Handle h) {
  // The POSIX line discipline keeps no sticky error state: with parity
  // checking off, a byte received with an error is delivered as it came.
  return lookup(h, nullptr);
}

bool PosixBackend::get_config(Handle h, LineConfig &c) {
  if (!lookup(h, nullptr)) return false;
  termios t;
  if (::tcgetattr(h, &t) != 0) return false;
  uint32_t out_rate = 0, in_rate = 0;
  if (rate_in_effect(h, out_rate, in_rate) && out_rate != 0) c.baud = out_rate; // any rate, by number
  else c.baud = speed_baud(cfgetospeed(&t));
  if (c.baud == 0) c.baud = 9600;
  if (!(t.c_cflag & PARENB)) c.parity = Parity::None;
  else if (t.c_cflag & CMSPAR) c.parity = (t.c_cflag & PARODD) ? Parity::Mark : Parity::Space;
  else c.parity = (t.c_cflag & PARODD) ? Parity::Odd : Parity::Even;
  switch (t.c_cflag & CSIZE) {
  case CS5: c.data_bits = 5; break;
  case CS6: c.data_bits = 6; break;
  case CS7: c.data_bits = 7; break;
  default: c.data_bits = 8; break;
  }
  c.stop_bits = (t.c_cflag & CSTOPB) ? (c.data_bits == 5 ? StopBits::OneHalf : StopBits::Two) : StopBits::One;
  c.binary = !(t.c_iflag & (ICRNL | INLCR | IGNCR | ISTRIP)) && !(t.c_oflag & OPOST);
  c.xon_xoff = (t.c_iflag & (IXON | IXOFF)) != 0;
  c.cts_handshake = c.rts_handshake = (t.c_cflag & CRTSCTS) != 0;
  c.dsr_handshake = c.dtr_handshake = c.rts_toggle = false;
  c.dtr_auto = c.rts_auto = (t.c_cflag & HUPCL) != 0;
  c.abort_on_error = false;
  return true;
}

bool PosixBackend::apply_settings(const char *text, LineConfig &config) {
  return parse_settings(text, config);
}

bool PosixBackend::set_config(Handle h, const LineConfig &c) {
  if (!lookup(h, nullptr)) return false;
  // A rate with a Bxxx code is set with the rest; any other goes through
  // termios2 afterwards. 0 is no rate: to termios it means hang up.
  speed_t speed = B0;
  const bool coded = speed_code(c.baud, speed);
  if (c.baud == 0) return false;
  // What a POSIX line cannot do is refused rather than dropped: there is no
  // DSR or DTR handshake, no input gated by DSR and no RTS raised only while
  // sending. 1.5 stop bits exist only with 5 data bits, where two cannot be
  // had.
  if (c.dsr_handshake || c.dtr_handshake || c.rts_toggle || c.dsr_sensitivity) return false;
  const bool five = c.data_bits == 5;
  if ((c.stop_bits == StopBits::OneHalf && !five) || (c.stop_bits == StopBits::Two && five)) return false;
  termios t;
  if (::tcgetattr(h, &t) != 0) return false;
  // A raw line, cleared flag by flag: no echo, no translation, no signals.
  t.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL |
                                      IXON | IXOFF | IXANY | INPCK | IUCLC | IMAXBEL);
  t.c_iflag |= IGNPAR; // line errors are never reported: bytes come as received
  t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
  t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN);
  t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS | HUPCL);
  t.c_cflag |= CLOCAL | CREAD; // the library drives the modem lines itself
  switch (c.data_bits) {
  case 5: t.c_cflag |= CS5; break;
  case 6: t.c_cflag |= CS6; break;
  case 7: t.c_cflag |= CS7; break;
  case 8: t.c_cflag |= CS8; break;
  default: return false;
  }
  switch (c.parity) {
  case Parity::None: break;
  case Parity::Even: t.c_cflag |= PARENB; break;
  case Parity::Odd: t.c_cflag |= PARENB | PARODD; break;
  case Parity::Mark: t.c_cflag |= PARENB | CMSPAR | PARODD; break;
  case Parity::Space: t.c_cflag |= PARENB | CMSPAR; break;
  }
  if (c.stop_bits != StopBits::One) t.c_cflag |= CSTOPB; // 1.5 with 5 data bits
  if (c.xon_xoff) t.c_iflag |= IXON | IXOFF;
  const bool rts_cts = c.cts_handshake || c.rts_handshake; // one flag on POSIX, both ways
  if (rts_cts) t.c_cflag |= CRTSCTS;
  // VMIN 1 on a non-blocking descriptor: no data reads as EAGAIN, and a read
  // of 0 bytes means the device has gone (VMIN 0 would read 0 either way).
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  if (coded && (cfsetispeed(&t, speed) != 0 || cfsetospeed(&t, speed) != 0)) return false;
  if (::tcsetattr(h, TCSANOW, &t) != 0) return false;
  if (!coded && !set_rate_by_number(h, c.baud)) return false;
  // tcsetattr succeeds when any part was taken (glibc checks the character
  // size and the parity switch, nothing more): check that all of it was. A
  // pseudo-terminal keeps any rate, and 8 bits without parity whatever it
  // was asked, so only the rate is checked there; a real serial device must
  // have taken the frame and the handshake as well, and the rate both ways
  // (a driver that cannot run a rate reports the one it runs instead).
  termios check;
  if (::tcgetattr(h, &check) != 0) return false;
  const bool serial = is_serial_device(h);
  uint32_t out_rate = 0, in_rate = 0;
  if (rate_in_effect(h, out_rate, in_rate)) {
    if (out_rate != c.baud || (serial && in_rate != c.baud)) return false;
  } else if (!coded || cfgetospeed(&check) != speed || (serial && cfgetispeed(&check) != speed)) {
    return false;
  }
  constexpr tcflag_t kFrame = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS;
  if (serial && ((check.c_cflag ^ t.c_cflag) & kFrame) != 0) return false;
  // The lines where the settings text names them (the open drops RTS and
  // raises DTR after this). Left alone otherwise: a short drop of DTR resets
  // devices that take their reset from its falling edge. Under the
  // handshake the driver drives RTS.
  if (c.dtr_named) set_modem_line(h, TIOCM_DTR, c.dtr_auto);
  if (c.rts_named && !rts_cts) set_modem_line(h, TIOCM_RTS, c.rts_auto);
  return true;
}

bool PosixBackend::set_timeouts(Handle h, const Timeouts &timeouts) {
  if (h < 3) return false;
  std::lock_guard<std::mutex> lock(ports_mutex_);
  auto it = ports_.find(h);
  if (it == ports_.end()) return false;
  it->second.timeouts = timeouts;
  return true;
}

bool PosixBackend::transmit_char(Handle h, uint8_t byte) {
  // POSIX has no way to put a byte ahead of the kernel's output queue; the
  // byte is queued behind whatever an earlier string write left there. The
  // library's own sends are synchronous, so nothing of its own is queued
  // ahead of a single byte unless a string write is still draining.
  Timeouts t;
  if (!lookup(h, &t)) return false;
  uint64_t limit = uint64_t(t.write_total_multiplier) + t.write_total_constant;
  uint64_t deadline = limit == 0 ? kForever : mono_ns() + limit * kNsPerMs;
  while (true) {
    ssize_t r = ::write(h, &byte, 1);
    if (r == 1) return true;
    if (r < 0 && errno == EINTR) continue;
    if (r < 0 && errno != EAGAIN) return false;
    int ev = wait_ready(h, POLLOUT, deadline);
    if (ev <= 0 || (ev & (POLLERR | POLLHUP | POLLNVAL))) return false;
  }
}

bool PosixBackend::read(Handle h, void *buffer, uint32_t n, uint32_t *done) {
  *done = 0;
  Timeouts t;
  if (!lookup(h, &t)) return false;
  if (n == 0) return true;
  auto *out = static_cast<uint8_t *>(buffer);
  uint64_t start = mono_ns();
  uint64_t total_ms = uint64_t(n) * t.read_total_multiplier + t.read_total_constant;
  bool unlimited = total_ms == 0 && t.read_interval == 0;
  uint64_t total_deadline = (unlimited || total_ms == 0) ? kForever : start + total_ms * kNsPerMs;
  uint64_t last_byte = 0;
  // The library's lines have VMIN 1, where silence reads as EAGAIN; a line
  // left with VMIN = VTIME = 0 (its settings were refused) reads 0 bytes when
  // nothing is pending, so 0 alone means "wait": only after poll() called the
  // line readable does an empty read mean that the device has gone.
  bool polled_readable = false;
  while (true) {
    ssize_t r = ::read(h, out + *done, n - *done);
    if (r > 0) {
      *done += static_cast<uint32_t>(r);
      if (*done == n) return true;
      last_byte = mono_ns();
      polled_readable = false;
      continue;
    }
    if (r == 0) {
      if (polled_readable) return false; // readable but empty: the device has gone
    } else {
      if (errno == EINTR) continue;
      if (errno != EAGAIN) return false;
    }
    uint64_t deadline = total_deadline;
    if (t.read_interval != 0 && *done > 0) {
      uint64_t gap_deadline = last_byte + uint64_t(t.read_interval) * kNsPerMs;
      if (gap_deadline < deadline) deadline = gap_deadline;
    }
    int ev = wait_ready(h, POLLIN, deadline);
    if (ev == 0) return true; // time-out: what arrived so far
    if (ev < 0 || (ev & POLLNVAL)) return false;
    if (!(ev & POLLIN) && (ev & (POLLHUP | POLLERR))) return false;
    polled_readable = true;
  }
}

bool PosixBackend::write(Handle h, const void *buffer, uint32_t n, uint32_t *done) {
  *done = 0;
  Timeouts t;
  if (!lookup(h, &t)) return false;
  const auto *in = static_cast<const uint8_t *>(buffer);
  uint64_t total_ms = uint64_t(n) * t.write_total_multiplier + t.write_total_constant;
  uint64_t deadline = total_ms == 0 ? kForever : mono_ns() + total_ms * kNsPerMs;
  while (*done < n) {
    ssize_t r = ::write(h, in + *done, n - *done);
    if (r > 0) {
      *done += static_cast<uint32_t>(r);
      continue;
    }
    if (r < 0 && errno == EINTR) continue;
    if (r < 0 && errno != EAGAIN) return false;
    int ev = wait_ready(h, POLLOUT, deadline);
    if (ev == 0) return false; // write time-out: a partial count
    if (ev < 0 || (ev & (POLLERR | POLLHUP | POLLNVAL))) return false;
  }
  return true;
}

bool PosixBackend::purge(Handle h, uint32_t flags) {
  if (!lookup(h, nullptr)) return false;
  bool ok = true;
  if (flags & kPurgeRxClear) ok = ::tcflush(h, TCIFLUSH) == 0 && ok;
  if (flags & kPurgeTxClear) ok = ::tcflush(h, TCOFLUSH) == 0 && ok;
  return ok;
}

bool PosixBackend::escape(Handle h, LineCode code) {
  if (!lookup(h, nullptr)) return false;
  int bit;
  unsigned long request;
  switch (code) {
  case LineCode::SetRts: bit = TIOCM_RTS; request = TIOCMBIS; break;
  case LineCode::ClrRts: bit = TIOCM_RTS; request = TIOCMBIC; break;
  case LineCode::SetDtr: bit = TIOCM_DTR; request = TIOCMBIS; break;
  case LineCode::ClrDtr: bit = TIOCM_DTR; request = TIOCMBIC; break;
  default: return false;
  }
  if (bit == TIOCM_RTS && rts_by_driver(h)) return false; // the handshake owns RTS
  return ::ioctl(h, request, &bit) == 0; // a pty refuses: ENOTTY
}

bool PosixBackend::set_break(Handle h, bool on) {
  if (!lookup(h, nullptr)) return false;
  return ::ioctl(h, on ? TIOCSBRK : TIOCCBRK) == 0;
}

bool PosixBackend::modem_status(Handle h, uint32_t *bits) {
  if (!lookup(h, nullptr)) return false;
  int lines = 0;
  if (::ioctl(h, TIOCMGET, &lines) != 0) return false;
  uint32_t b = 0;
  if (lines & TIOCM_CTS) b |= kModemCts;
  if (lines & TIOCM_DSR) b |= kModemDsr;
  if (lines & TIOCM_RNG) b |= kModemRing;
  if (lines & TIOCM_CAR) b |= kModemRlsd;
  *bits = b;
  return true;
}

} // namespace tavio::platform
