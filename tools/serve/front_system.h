// The few socket calls of the front (front.cpp) that differ between
// systems, one file per system: tools/platform/posix/front_posix.cpp and
// tools/platform/win32/front_win32.cpp.
#pragma once

#include <cstddef>
#include <httplib.h>
#include <string>
#include <vector>

namespace tavio::serve::sys {

using socket_t = ::socket_t; // httplib.h's: int, or SOCKET on Windows

struct Watch {
  socket_t socket;
  bool readable = false; // data, a closed connection, or an error
};

// Waits up to `ms` (-1: for as long as it takes) for one of `set` to
// become readable.
void wait_readable(std::vector<Watch> &set, int ms);

// What other threads use to end the front's wait: a descriptor (on Windows
// a socket) that becomes readable when woken, and stays so until drained.
class Waker {
public:
  Waker();
  ~Waker();
  Waker(const Waker &) = delete;
  Waker &operator=(const Waker &) = delete;
  bool ok() const { return read_ != INVALID_SOCKET; }
  socket_t socket() const { return read_; }
  void wake();  // any thread
  void drain(); // the waiting thread, once it saw it readable

private:
  socket_t read_ = INVALID_SOCKET, write_ = INVALID_SOCKET;
};

enum class Accepted { Yes, None, Exhausted };
// A waiting connection of a listening socket (that never blocks): Yes and
// the connection in `s`, `ip` the peer's address; None when none waits (or
// it went before it was taken); Exhausted when the system had no
// descriptor or memory for it, or failed otherwise for more than a moment
// (it stays waiting). The connection itself
// blocks, with a small send buffer and no delay.
Accepted accept_connection(socket_t listener, socket_t &s, std::string &ip, int &port);
void set_blocking(socket_t s, bool blocking);
int local_port(socket_t s);
// What the system knows of a connection's sent data: bytes not yet
// acknowledged, and the peer's receive window (-1: unknown). False where
// the system tells nothing.
bool send_state(socket_t s, size_t &unacked, long &window);

} // namespace tavio::serve::sys
