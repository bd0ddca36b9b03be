// tavio32-sim as users run it: a separate process serving a device behind a
// symbolic link, found by the library through TAVIO32_COMn.
#include "test_support.h"

#include <csignal>
#include <cstdio>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tavio::test {
namespace {

class SimTool : public LibraryTest {
protected:
  // Starts tavio32-sim with the arguments; returns its first output line.
  std::string start(std::vector<std::string> args) {
    int out[2];
    if (::pipe(out) != 0) return "";
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(out[1], 1);
      ::close(out[0]);
      std::vector<char *> argv;
      std::string prog = TAVIO32_SIM;
      argv.push_back(prog.data());
      for (auto &a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      ::execv(prog.c_str(), argv.data());
      ::_exit(127);
    }
    ::close(out[1]);
    out_ = ::fdopen(out[0], "r");
    char line[512] = {};
    if (!std::fgets(line, sizeof line, out_)) return "";
    std::string s = line;
    if (!s.empty() && s.back() == '\n') s.pop_back();
    return s;
  }
  std::string next_line() {
    char line[512] = {};
    if (!std::fgets(line, sizeof line, out_)) return "";
    return line;
  }
  int stop() {
    ::kill(pid_, SIGTERM);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  void TearDown() override {
    if (pid_ > 0) stop();
    if (out_) std::fclose(out_);
    LibraryTest::TearDown();
  }
  pid_t pid_ = -1;
  FILE *out_ = nullptr;
};

TEST_F(SimTool, EchoDeviceBehindALinkWithLog) {
  std::string link = "/tmp/tavio32-simtest-" + std::to_string(::getpid());
  std::string first = start({"--device", "echo", "--link", link, "--com", "COM3", "--log"});
  EXPECT_EQ(first, "TAVIO32_COM3=" + link);
  next_line(); // "serving ..."
  ::setenv("TAVIO32_COM3", link.c_str(), 1);
  open_primary(3);
  EXPECT_EQ(SENDBYTE(0x5a), 1);
  EXPECT_EQ(READBYTE(), 0x5a);
  std::string logged = next_line();
  EXPECT_NE(logged.find("90  0x5a  19200 baud"), std::string::npos) << logged;
  CLOSECOM();
  EXPECT_EQ(stop(), 0);
  struct stat st;
  EXPECT_NE(::lstat(link.c_str(), &st), 0); // the link is removed at the end
}

TEST_F(SimTool, RejectsUnknownDevicesAndOptions) {
  for (std::vector<std::string> args : {std::vector<std::string>{"--device", "toaster", "--link", "/tmp/x"},
                                        std::vector<std::string>{"--frobnicate"},
                                        std::vector<std::string>{"--device", "echo"}}) {
    start(args);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 2);
    std::fclose(out_);
    out_ = nullptr;
  }
}

} // namespace
} // namespace tavio::test
