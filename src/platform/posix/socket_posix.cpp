// Network connections on POSIX: TCP sockets, the byte transport of the
// core's network ports. A connection's handle is its socket descriptor.
#include "platform/posix/posix_backend.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tavio::platform {

namespace {

// A non-blocking connection attempt to one address, bounded by the deadline.
int connect_one(const addrinfo *a, uint64_t deadline) {
  int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
  if (fd < 0) return -1;
  if (fd < 3) { // a handle is never 0, and keeps clear of the standard streams
    int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
    ::close(fd);
    if (moved < 0) return -1;
    fd = moved;
  }
  int r;
  do r = ::connect(fd, a->ai_addr, a->ai_addrlen);
  while (r < 0 && errno == EINTR);
  if (r < 0 && errno == EINPROGRESS) {
    int ev = wait_ready(fd, POLLOUT, deadline);
    int err = 0;
    socklen_t len = sizeof err;
    if (ev > 0 && ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) == 0 && err == 0) r = 0;
  }
  if (r != 0) {
    ::close(fd);
    return -1;
  }
  // Every byte goes out at once: a command byte must not wait for the next.
  int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &one, sizeof one);
  return fd;
}

} // namespace

int32_t PosixBackend::net_connect(const char *host, uint16_t port, uint32_t timeout_ms) {
  if (host == nullptr) return -1;
  uint64_t deadline = mono_ns() + uint64_t(timeout_ms) * 1000000ull;
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_ADDRCONFIG | AI_NUMERICSERV;
  char service[8];
  std::snprintf(service, sizeof service, "%u", static_cast<unsigned>(port));
  addrinfo *list = nullptr;
  if (::getaddrinfo(host, service, &hints, &list) != 0) {
    // AI_ADDRCONFIG hides loopback addresses on a machine without any other
    // network; a literal address is tried as it stands.
    hints.ai_flags = AI_NUMERICSERV;
    if (::getaddrinfo(host, service, &hints, &list) != 0) return -1;
  }
  int fd = -1;
  for (const addrinfo *a = list; a != nullptr && fd < 0; a = a->ai_next) fd = connect_one(a, deadline);
  ::freeaddrinfo(list);
  return fd;
}

int32_t PosixBackend::net_send(int32_t c, const void *data, uint32_t n) {
  while (true) {
    ssize_t r = ::send(c, data, n, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (r >= 0) return static_cast<int32_t>(r);
    if (errno == EINTR) continue;
    return (errno == EAGAIN || errno == EWOULDBLOCK) ? 0 : -1;
  }
}

int32_t PosixBackend::net_receive(int32_t c, void *data, uint32_t n) {
  while (true) {
    ssize_t r = ::recv(c, data, n, MSG_DONTWAIT);
    if (r > 0) {
      // Acknowledge at once (Linux turns this off again by itself): a
      // server that holds back small answers until its last segment was
      // acknowledged would otherwise wait out the delayed acknowledgement
      // (40 ms) in the middle of an answer.
      int one = 1;
      ::setsockopt(c, IPPROTO_TCP, TCP_QUICKACK, &one, sizeof one);
    }
    if (r >= 0) return static_cast<int32_t>(r);
    if (errno == EINTR) continue;
    return (errno == EAGAIN || errno == EWOULDBLOCK) ? kNetNothing : -1;
  }
}

int PosixBackend::net_wait(int32_t c, bool want_write, uint64_t deadline_ns) {
  int ev = wait_ready(c, static_cast<short>(POLLIN | (want_write ? POLLOUT : 0)), deadline_ns);
  if (ev <= 0) return ev;
  if (ev & POLLNVAL) return -1;
  int mask = 0;
  // An end or a failure reads as input: the receive that follows reports it.
  if (ev & (POLLIN | POLLHUP | POLLERR)) mask |= kNetReadable;
  if (ev & POLLOUT) mask |= kNetWritable;
  return mask;
}

void PosixBackend::net_shutdown(int32_t c) { ::shutdown(c, SHUT_WR); }

void PosixBackend::net_close(int32_t c) { ::close(c); }

} // namespace tavio::platform
