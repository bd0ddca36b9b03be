// RFC 2217 servers in front of a pseudo-terminal, for network port tests
// and benchmarks: Debian's ser2net, and pyserial's PortManager
// (rfc2217_server.py) as a second, independent one. Each runs as a child
// process on a free loopback port and ends with the program that started it.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>

namespace tavio::emu {

class NetServer {
public:
  enum class Kind { Ser2net, Pyserial };
  // Starts a server for the device at path; throws when it does not listen
  // within a few seconds.
  NetServer(Kind kind, const std::string &device_path);
  ~NetServer();
  NetServer(const NetServer &) = delete;
  NetServer &operator=(const NetServer &) = delete;

  // "rfc2217://127.0.0.1:PORT"
  std::string url() const;
  uint16_t port() const { return port_; }
  // Ends the server at once (SIGKILL), as a machine that goes away.
  void kill();

  // The server that the test run asks for through TAVIO32_TEST_SERVER
  // ("ser2net" or "pyserial"), if any.
  static bool from_environment(Kind &kind);
  static const char *name(Kind kind) { return kind == Kind::Ser2net ? "ser2net" : "pyserial"; }

private:
  std::string dir_;
  uint16_t port_ = 0;
  pid_t pid_ = -1;
};

// A free TCP port on 127.0.0.1 (free when asked: taken by the next bind).
uint16_t free_port();
// Whether something listens on 127.0.0.1:port, waiting up to timeout_ms.
bool wait_listening(uint16_t port, int timeout_ms);

} // namespace tavio::emu
