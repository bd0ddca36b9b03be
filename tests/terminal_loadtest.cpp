// What keyboard polling changes on the terminal is put back however the
// program ends: unload, exit(), return from main, and the signals that end a
// process (which still end it, with the same status). Each case runs a real
// host program with a pseudo-terminal as its controlling terminal and
// standard input.
#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr tcflag_t kPolled = ICANON | ECHO;

// A host program on its own pseudo-terminal: session leader, the slave as
// controlling terminal and standard input, standard output a pipe.
class HostOnTerminal {
public:
  explicit HostOnTerminal(const char *how) {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) std::abort();
    std::string slave = ::ptsname(master_);
    tty_ = ::open(slave.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (tty_ < 0 || ::tcgetattr(tty_, &before_) != 0) std::abort();
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) std::abort();
    pid_ = ::fork();
    if (pid_ == 0) {
      // Only async-signal-safe calls between fork and exec.
      ::setsid();
      int fd = ::open(slave.c_str(), O_RDWR); // becomes the controlling terminal
      if (fd < 0) ::_exit(120);
      ::dup2(fd, STDIN_FILENO);
      ::dup2(out[1], STDOUT_FILENO);
      // The host leaves every ending signal at its default, and a SIGQUIT
      // writes no core file into the build tree.
      struct sigaction dfl {};
      dfl.sa_handler = SIG_DFL;
      for (int s : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) ::sigaction(s, &dfl, nullptr);
      sigset_t none;
      sigemptyset(&none);
      ::sigprocmask(SIG_SETMASK, &none, nullptr);
      rlimit no_core{0, 0};
      ::setrlimit(RLIMIT_CORE, &no_core);
      char *argv[] = {const_cast<char *>(TAVIO32_TERMINAL_HOST), const_cast<char *>(how), nullptr};
      ::execv(argv[0], argv);
      ::_exit(121);
    }
    ::close(out[1]);
    out_ = out[0];
  }
  ~HostOnTerminal() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    ::close(out_);
    ::close(tty_);
    close_master();
  }

  // Waits for the program's "ready"; false when it ended or took too long.
  bool ready() {
    std::string got;
    while (got.find("ready\n") == std::string::npos) {
      pollfd p{out_, POLLIN, 0};
      if (::poll(&p, 1, 10000) <= 0) return false;
      char buf[16];
      ssize_t r = ::read(out_, buf, sizeof buf);
      if (r <= 0) return false;
      got.append(buf, static_cast<size_t>(r));
    }
    return true;
  }

  // The status the program ended with; -1 when it had not ended after
  // timeout_ms (it is then killed).
  int status(int timeout_ms = 10000) {
    for (int waited = 0; waited < timeout_ms; waited += 5) {
      int st = 0;
      pid_t r = ::waitpid(pid_, &st, WNOHANG);
      if (r == pid_) {
        pid_ = -1;
        return st;
      }
      ::usleep(5000);
    }
    return -1;
  }

  // ICANON and ECHO as the terminal has them now, and as they were.
  tcflag_t polled_flags_now() const {
    termios t{};
    if (::tcgetattr(tty_, &t) != 0) return ~tcflag_t{0};
    return t.c_lflag & kPolled;
  }
  tcflag_t polled_flags_before() const { return before_.c_lflag & kPolled; }

  void type(const char *bytes) { ASSERT_EQ(::write(master_, bytes, std::strlen(bytes)), ssize_t(std::strlen(bytes))); }
  void close_master() {
    if (master_ >= 0) ::close(master_);
    master_ = -1;
  }
  pid_t pid() const { return pid_; }

private:
  int master_ = -1;
  int tty_ = -1;
  int out_ = -1;
  pid_t pid_ = -1;
  termios before_{};
};

TEST(TerminalRestored, OnUnloadExitAndReturn) {
  for (const char *how : {"unload", "exit", "return"}) {
    SCOPED_TRACE(how);
    HostOnTerminal host(how);
    int st = host.status();
    ASSERT_TRUE(WIFEXITED(st)) << "status " << st;
    EXPECT_EQ(WEXITSTATUS(st), 0);
    EXPECT_EQ(host.polled_flags_now(), host.polled_flags_before());
  }
}

TEST(TerminalRestored, WhenEndedBySignalWhichStillEndsTheProgram) {
  for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
    SCOPED_TRACE(strsignal(sig));
    HostOnTerminal host("wait");
    ASSERT_TRUE(host.ready());
    ASSERT_NE(host.polled_flags_now(), host.polled_flags_before()) << "polling did not change the terminal";
    ASSERT_EQ(::kill(host.pid(), sig), 0);
    int st = host.status();
    ASSERT_TRUE(WIFSIGNALED(st)) << "status " << st;
    EXPECT_EQ(WTERMSIG(st), sig);
    EXPECT_EQ(host.polled_flags_now(), host.polled_flags_before());
  }
}

TEST(TerminalRestored, HandlerOfTheHostLeftAlone) {
  // The program checks itself that its SIGTERM handler and its ignored
  // SIGINT survive polling; its handler makes it return 42 from main.
  HostOnTerminal host("handler");
  ASSERT_TRUE(host.ready());
  ASSERT_EQ(::kill(host.pid(), SIGINT), 0); // ignored by the host
  ASSERT_EQ(::kill(host.pid(), SIGTERM), 0);
  int st = host.status();
  ASSERT_TRUE(WIFEXITED(st)) << "status " << st;
  EXPECT_EQ(WEXITSTATUS(st), 42);
  EXPECT_EQ(host.polled_flags_now(), host.polled_flags_before());
}

TEST(MessageWait, EndsOnCarriageReturn) {
  // The host put its terminal into raw mode, where Enter sends '\r'.
  HostOnTerminal host("message");
  ASSERT_TRUE(host.ready());
  ::usleep(100000); // let the wait begin
  host.type("\r");
  int st = host.status(5000);
  ASSERT_NE(st, -1) << "the message wait did not end on '\\r'";
  ASSERT_TRUE(WIFEXITED(st)) << "status " << st;
  EXPECT_EQ(WEXITSTATUS(st), 0);
}

TEST(Taste, ReturnsWhenTheTerminalGoesAway) {
  HostOnTerminal host("taste");
  ASSERT_TRUE(host.ready());
  ::usleep(100000); // let TASTE begin its wait
  host.close_master();
  int st = host.status(5000);
  ASSERT_NE(st, -1) << "TASTE still waits on a terminal that has gone";
  ASSERT_TRUE(WIFEXITED(st)) << "status " << st;
  EXPECT_EQ(WEXITSTATUS(st), 7);
}

} // namespace

// A program started with `&` has no keyboard: its polls, its message and its
// wait for a key return at once instead of being stopped by the terminal,
// which stays as it was.
TEST(BackgroundProgram, NeitherStoppedNorChangingTheTerminal) {
  HostOnTerminal host("background");
  int st = host.status();
  ASSERT_TRUE(WIFEXITED(st)) << st;
  EXPECT_EQ(WEXITSTATUS(st), 0) << "16: stopped by the terminal";
  EXPECT_EQ(host.polled_flags_now(), host.polled_flags_before());
}
