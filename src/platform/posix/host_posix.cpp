// Host services on POSIX: the monotonic clock, the keyboard of the process's
// terminal, and the default message output.
#include "platform/posix/posix_backend.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <poll.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

namespace tavio::platform {

namespace {

// Keyboard polling needs key presses as they come, not lines: the terminal
// is put into non-canonical mode without echo on the first poll, and left as
// it was found when the library is unloaded.
struct TerminalMode {
  bool changed = false;
  termios saved{};
};
TerminalMode g_terminal;

void make_keys_immediate() {
  if (g_terminal.changed || !::isatty(STDIN_FILENO)) return;
  termios t;
  if (::tcgetattr(STDIN_FILENO, &t) != 0) return;
  g_terminal.saved = t;
  t.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  if (::tcsetattr(STDIN_FILENO, TCSANOW, &t) == 0) g_terminal.changed = true;
}

void write_all(int fd, const char *text) {
  size_t len = std::strlen(text);
  while (len > 0) {
    ssize_t r = ::write(fd, text, len);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return;
    text += r;
    len -= static_cast<size_t>(r);
  }
}

void restore_terminal() {
  if (!g_terminal.changed) return;
  ::tcsetattr(STDIN_FILENO, TCSANOW, &g_terminal.saved);
  g_terminal.changed = false;
}

} // namespace

// The backend lives for the whole process and is never destroyed: the
// closing sequence runs from the library's destructor, which at process exit
// comes after the C++ runtime has already run the destructors of statics
// (and under dlclose before them), so nothing it reaches may depend on that
// order. It is built in storage of the library's own rather than on the
// heap, so that an unload leaves nothing behind (a host that loads and
// unloads the library again and again would otherwise lose a backend each
// time); its port table is empty by then.
Backend &native_backend() {
  alignas(PosixBackend) static unsigned char storage[sizeof(PosixBackend)];
  static PosixBackend *const instance = ::new (storage) PosixBackend;
  return *instance;
}

void PosixBackend::end_key_input() { restore_terminal(); }

bool PosixBackend::keyboard_present() { return ::isatty(STDIN_FILENO) == 1; }

uint64_t PosixBackend::now_ns() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000000000ull + static_cast<uint64_t>(ts.tv_nsec);
}

void PosixBackend::sleep_ns(uint64_t ns) {
  timespec ts{static_cast<time_t>(ns / 1000000000ull), static_cast<long>(ns % 1000000000ull)};
  ::nanosleep(&ts, nullptr); // an interruption just ends the sleep early
}

bool PosixBackend::take_key_input(bool start_polling) {
  if (!::isatty(STDIN_FILENO)) return false; // no terminal: never a key hit
  if (start_polling) make_keys_immediate();
  if (!g_terminal.changed) return false; // lines typed for the host program
  bool any = false;
  while (true) {
    pollfd p{STDIN_FILENO, POLLIN, 0};
    if (::poll(&p, 1, 0) <= 0 || !(p.revents & POLLIN)) break;
    char buf[64];
    ssize_t r = ::read(STDIN_FILENO, buf, sizeof buf);
    if (r <= 0) break;
    any = true;
  }
  return any;
}

bool PosixBackend::pump_messages() {
  // A terminal program has no message queue to dispatch.
  return true;
}

void PosixBackend::show_message(const char *caption, const char *text) {
  write_all(STDERR_FILENO, caption);
  write_all(STDERR_FILENO, ": ");
  write_all(STDERR_FILENO, text);
  write_all(STDERR_FILENO, "\n");
  if (!::isatty(STDIN_FILENO)) return; // nobody can close a box: no wait
  bool restore = g_terminal.changed;
  if (restore) restore_terminal(); // line input, so that Enter ends the wait
  write_all(STDERR_FILENO, "[Enter]");
  char c;
  while (true) {
    ssize_t r = ::read(STDIN_FILENO, &c, 1);
    if (r < 0 && (errno == EINTR || errno == EAGAIN)) {
      pollfd p{STDIN_FILENO, POLLIN, -1};
      ::poll(&p, 1, -1);
      continue;
    }
    if (r <= 0 || c == '\n') break;
  }
  write_all(STDERR_FILENO, "\n");
  if (restore) make_keys_immediate();
}

} // namespace tavio::platform
