// The few socket calls of the front (front.cpp) that differ between
// systems, one file per system: front_posix.cpp, front_windows.cpp.
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

// Waits up to `ms` for one of `set` to become readable.
void wait_readable(std::vector<Watch> &set, int ms);
// A waiting connection of a listening socket (that never blocks), or
// INVALID_SOCKET when none waits; `ip` is the peer's address. The
// connection itself blocks, with a small send buffer and no delay.
socket_t accept_connection(socket_t listener, std::string &ip, int &port);
void set_blocking(socket_t s, bool blocking);
int local_port(socket_t s);
// What the system knows of a connection's sent data: bytes not yet
// acknowledged, and the peer's receive window (-1: unknown). False where
// the system tells nothing.
bool send_state(socket_t s, size_t &unacked, long &window);

} // namespace tavio::serve::sys
