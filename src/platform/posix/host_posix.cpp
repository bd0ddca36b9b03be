// Host services on POSIX: the monotonic clock, the keyboard of the process's
// terminal, the default message output, and the core's locks.
#include "platform/posix/posix_backend.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

namespace tavio::platform {

namespace {

// Keyboard polling needs key presses as they come, not lines: the terminal
// is put into non-canonical mode without echo on the first poll, and left as
// it was found when the library is unloaded. The signal handler below reads
// both fields, so "changed" is only set once "saved" is complete.
struct TerminalMode {
  volatile sig_atomic_t changed = 0;
  termios saved{};
};
TerminalMode g_terminal;

// A program ended by Ctrl-C, kill or a hang-up must not leave its terminal
// without echo. As curses libraries do, the library catches the signals that
// end a process only where the host program left them at their default: the
// handler puts the terminal back, restores the default and raises the signal
// again, so the process still ends "killed by" that signal. A handler the
// host installed, or a signal it ignores, is left alone. SIGKILL cannot be
// caught; `stty sane` repairs a terminal left behind by it.
constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
constexpr int kSignalCount = sizeof kEndingSignals / sizeof kEndingSignals[0];
struct CaughtSignal {
  bool caught = false;
  struct sigaction previous {};
};
CaughtSignal g_caught[kSignalCount];

void restore_terminal_and_end(int sig) {
  // Only async-signal-safe calls here: tcsetattr, sigaction, raise.
  int saved_errno = errno;
  if (g_terminal.changed) ::tcsetattr(STDIN_FILENO, TCSANOW, &g_terminal.saved);
  struct sigaction dfl {};
  dfl.sa_handler = SIG_DFL;
  sigemptyset(&dfl.sa_mask);
  ::sigaction(sig, &dfl, nullptr);
  // Blocked while this handler runs: delivered, now with the default action,
  // as soon as it returns.
  ::raise(sig);
  errno = saved_errno;
}

void catch_ending_signals() {
  for (int i = 0; i < kSignalCount; ++i) {
    if (g_caught[i].caught) continue;
    struct sigaction current {};
    if (::sigaction(kEndingSignals[i], nullptr, &current) != 0) continue;
    if ((current.sa_flags & SA_SIGINFO) || current.sa_handler != SIG_DFL) continue; // the host's choice
    struct sigaction ours {};
    ours.sa_handler = restore_terminal_and_end;
    sigemptyset(&ours.sa_mask);
    for (int s : kEndingSignals) sigaddset(&ours.sa_mask, s); // one ending at a time
    ours.sa_flags = SA_RESTART;
    if (::sigaction(kEndingSignals[i], &ours, nullptr) != 0) continue;
    g_caught[i].previous = current;
    g_caught[i].caught = true;
  }
}

void release_ending_signals() {
  for (int i = 0; i < kSignalCount; ++i) {
    if (!g_caught[i].caught) continue;
    g_caught[i].caught = false;
    struct sigaction current {};
    if (::sigaction(kEndingSignals[i], nullptr, &current) != 0) continue;
    // A handler the host installed after ours stays.
    if (!(current.sa_flags & SA_SIGINFO) && current.sa_handler == restore_terminal_and_end)
      ::sigaction(kEndingSignals[i], &g_caught[i].previous, nullptr);
  }
}

// A program started in the background of its terminal (a shell's `prog &`)
// does not have the keyboard: changing the terminal's modes or reading from
// it would stop the whole program (SIGTTOU, SIGTTIN) until the user brings
// it to the front. Such a program sees no terminal, until it is brought to
// the front. Standard input that is a terminal but not the controlling one
// never stops anybody.
bool terminal_is_ours() {
  if (!::isatty(STDIN_FILENO)) return false;
  pid_t front = ::tcgetpgrp(STDIN_FILENO);
  return front < 0 || front == ::getpgrp();
}

// Puts the terminal's modes back also from the background (a program moved
// there after it polled), where the kernel would otherwise stop it for that.
void set_terminal(const termios &t) {
  sigset_t ttou, before;
  sigemptyset(&ttou);
  sigaddset(&ttou, SIGTTOU);
  ::pthread_sigmask(SIG_BLOCK, &ttou, &before);
  ::tcsetattr(STDIN_FILENO, TCSANOW, &t);
  ::pthread_sigmask(SIG_SETMASK, &before, nullptr);
}

void make_keys_immediate() {
  if (g_terminal.changed || !terminal_is_ours()) return;
  termios t;
  if (::tcgetattr(STDIN_FILENO, &t) != 0) return;
  g_terminal.saved = t;
  t.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  // Caught, and marked changed, before the change: no moment is left where a
  // signal ends the process with the terminal changed and not put back.
  catch_ending_signals();
  std::atomic_signal_fence(std::memory_order_seq_cst); // "saved" is complete first
  g_terminal.changed = 1;
  if (::tcsetattr(STDIN_FILENO, TCSANOW, &t) != 0) g_terminal.changed = 0;
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
  set_terminal(g_terminal.saved);
  g_terminal.changed = 0;
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

void PosixBackend::end_key_input() {
  restore_terminal();
  release_ending_signals(); // after the terminal is back: no gap left uncovered
}

bool PosixBackend::keyboard_present() { return terminal_is_ours(); }

uint64_t PosixBackend::now_ns() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000000000ull + static_cast<uint64_t>(ts.tv_nsec);
}

void PosixBackend::sleep_ns(uint64_t ns) {
  timespec ts{static_cast<time_t>(ns / 1000000000ull), static_cast<long>(ns % 1000000000ull)};
  // A signal just ends the sleep early: every caller waits against the clock
  // and sleeps again for what is left.
  ::nanosleep(&ts, nullptr);
}

bool PosixBackend::take_key_input(bool start_polling) {
  if (!terminal_is_ours()) return false; // no terminal: never a key hit
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
  if (!terminal_is_ours()) return; // nobody can close a box: no wait
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
    // A host that put the terminal into raw mode gets '\r' for Enter.
    // (An error or end of file: the terminal has gone, nobody can answer.)
    if (r <= 0 || c == '\n' || c == '\r') break;
  }
  write_all(STDERR_FILENO, "\n");
  if (restore) make_keys_immediate();
}

// A default mutex holds nothing outside itself, so the lock is never
// destroyed: it stays usable while the runtime destroys statics at exit.
static_assert(sizeof(pthread_mutex_t) <= 64 && alignof(pthread_mutex_t) <= 8);
Lock::Lock() { ::pthread_mutex_init(::new (place_) pthread_mutex_t, nullptr); }
void Lock::lock() { ::pthread_mutex_lock(reinterpret_cast<pthread_mutex_t *>(place_)); }
void Lock::unlock() { ::pthread_mutex_unlock(reinterpret_cast<pthread_mutex_t *>(place_)); }

} // namespace tavio::platform
