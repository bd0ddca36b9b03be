#include "net_servers.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <thread>
#include <vector>

namespace tavio::emu {

uint16_t free_port() {
  int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  uint16_t port = 0;
  if (::bind(s, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0 &&
      ::getsockname(s, reinterpret_cast<sockaddr *>(&a), &len) == 0)
    port = ntohs(a.sin_port);
  ::close(s);
  return port;
}

bool wait_listening(uint16_t port, int timeout_ms) {
  // Read from the kernel's socket table rather than by connecting: a
  // connection would make the server open the device.
  char local[32];
  std::snprintf(local, sizeof local, "0100007F:%04X", port);
  auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (std::chrono::steady_clock::now() < until) {
    std::ifstream tcp("/proc/net/tcp");
    std::string line;
    while (std::getline(tcp, line)) {
      // "  sl  local_address rem_address   st ..."; st 0A is LISTEN
      if (line.find(local) != std::string::npos && line.find(" 0A ") != std::string::npos) return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return false;
}

bool NetServer::from_environment(Kind &kind) {
  const char *v = std::getenv("TAVIO32_TEST_SERVER");
  if (v == nullptr || *v == '\0') return false;
  if (std::strcmp(v, "ser2net") == 0) kind = Kind::Ser2net;
  else if (std::strcmp(v, "pyserial") == 0) kind = Kind::Pyserial;
  else throw std::runtime_error(std::string("TAVIO32_TEST_SERVER: unknown server ") + v);
  return true;
}

NetServer::NetServer(Kind kind, const std::string &device_path) {
  std::string pattern = (std::filesystem::temp_directory_path() / "tavio32-net-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp");
  dir_ = pattern;
  for (int attempt = 0; attempt < 5 && pid_ < 0; ++attempt) {
    port_ = free_port();
    std::vector<std::string> args;
    if (kind == Kind::Ser2net) {
      std::string config = dir_ + "/ser2net.yaml";
      std::ofstream out(config);
      // chardelay off: ser2net would otherwise hold back each answer for a
      // few character times, waiting for more.
      out << "connection: &tavio\n"
          << "  accepter: telnet(rfc2217),tcp,127.0.0.1," << port_ << "\n"
          << "  connector: serialdev," << device_path << ",19200n82,local\n"
          << "  options:\n"
          << "    chardelay: false\n";
      out.close();
      args = {"ser2net", "-n", "-d", "-u", "-P", dir_ + "/pid", "-c", config};
    } else {
      args = {"/usr/bin/python3", TAVIO32_RFC2217_SERVER, device_path, std::to_string(port_)};
    }
    std::vector<char *> argv;
    for (std::string &a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t parent = ::getpid();
    pid_t pid = ::fork();
    if (pid < 0) throw std::runtime_error("fork");
    if (pid == 0) {
      // The server ends with the test program, however that ends.
      ::prctl(PR_SET_PDEATHSIG, SIGKILL);
      if (::getppid() != parent) ::_exit(127);
      int null = ::open("/dev/null", O_RDWR);
      ::dup2(null, 0);
      ::dup2(null, 1);
      if (!std::getenv("TAVIO32_TEST_SERVER_LOG")) ::dup2(null, 2);
      ::execvp(argv[0], argv.data());
      ::_exit(127);
    }
    if (wait_listening(port_, 5000)) {
      pid_ = pid;
    } else {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, nullptr, 0);
    }
  }
  if (pid_ < 0) throw std::runtime_error(std::string(name(kind)) + " did not start");
}

NetServer::~NetServer() {
  if (pid_ > 0) {
    ::kill(pid_, SIGTERM);
    int status = 0;
    for (int i = 0; i < 200 && ::waitpid(pid_, &status, WNOHANG) == 0; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    if (::waitpid(pid_, &status, WNOHANG) == 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, &status, 0);
    }
  }
  std::error_code ec;
  std::filesystem::remove_all(dir_, ec);
}

void NetServer::kill() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGKILL);
  ::waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

std::string NetServer::url() const { return "rfc2217://127.0.0.1:" + std::to_string(port_); }

} // namespace tavio::emu
