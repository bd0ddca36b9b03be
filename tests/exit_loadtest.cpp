// Programs that end with everything open: the primary port, all eight slots,
// keyboard polling on their terminal and an interface selected. However the
// program ends (exit() or returning from main), it ends with status 0, every
// device is free again and the terminal is as it was.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/file.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace {

struct Pty {
  int master = -1;
  std::string slave;
  Pty() {
    master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) std::abort();
    slave = ::ptsname(master);
  }
  ~Pty() { ::close(master); }
};

// Whether a device can be opened and locked exclusively, as the library's
// own open would.
bool device_free(const std::string &path) {
  int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return false;
  bool free = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
  ::close(fd);
  return free;
}

struct Ending {
  const char *program;
  const char *how; // "exit" or "return"
  const char *name;
};

void PrintTo(const Ending &e, std::ostream *os) { *os << e.name; }

class ExitWithPortsOpen : public ::testing::TestWithParam<Ending> {};

TEST_P(ExitWithPortsOpen, EndsCleanlyAndFreesEveryDevice) {
  std::vector<Pty> ports(9);
  for (int i = 0; i < 9; ++i)
    ::setenv(("TAVIO32_COM" + std::to_string(i + 1)).c_str(), ports[i].slave.c_str(), 1);
  Pty terminal; // the program's standard input, so that keyboard polling starts
  int tty = ::open(terminal.slave.c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(tty, 0);
  termios before;
  ASSERT_EQ(::tcgetattr(tty, &before), 0);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, tty, 0);
  char *argv[] = {const_cast<char *>(GetParam().program), const_cast<char *>(GetParam().how), nullptr};
  pid_t pid;
  ASSERT_EQ(::posix_spawn(&pid, GetParam().program, &actions, nullptr, argv, environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  for (int i = 0; i < 9; ++i) ::unsetenv(("TAVIO32_COM" + std::to_string(i + 1)).c_str());

  ASSERT_TRUE(WIFEXITED(status)) << "killed by signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 0);
  for (int i = 0; i < 9; ++i) EXPECT_TRUE(device_free(ports[i].slave)) << "COM" << i + 1;
  termios after;
  ASSERT_EQ(::tcgetattr(tty, &after), 0);
  EXPECT_EQ(after.c_lflag & (ICANON | ECHO), before.c_lflag & (ICANON | ECHO));
  ::close(tty);
}

INSTANTIATE_TEST_SUITE_P(Program, ExitWithPortsOpen,
                         ::testing::Values(Ending{TAVIO32_EXIT_LINKED, "exit", "LinkedExit"},
                                           Ending{TAVIO32_EXIT_LINKED, "return", "LinkedReturn"},
                                           Ending{TAVIO32_EXIT_LOADED, "exit", "LoadedExit"},
                                           Ending{TAVIO32_EXIT_LOADED, "return", "LoadedReturn"}),
                         [](const auto &info) { return std::string(info.param.name); });

} // namespace
