// The front's socket calls on Windows (Winsock 2, which httplib.h starts).
#include "front_system.h"

namespace tavio::serve::sys {

namespace {
constexpr int kSendBuffer = 32 * 1024;
}

void wait_readable(std::vector<Watch> &set, int ms) {
  std::vector<WSAPOLLFD> p(set.size());
  for (size_t i = 0; i < set.size(); ++i) p[i] = {set[i].socket, POLLRDNORM, 0};
  const int n = ::WSAPoll(p.data(), ULONG(p.size()), ms);
  for (size_t i = 0; i < set.size(); ++i) set[i].readable = n > 0 && p[i].revents != 0;
}

// Winsock polls sockets only: the wake-up is a UDP socket on the loopback
// address that sends to itself.
Waker::Waker() {
  const socket_t s = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  if (s == INVALID_SOCKET) return;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int len = sizeof a;
  if (::bind(s, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 ||
      ::getsockname(s, reinterpret_cast<sockaddr *>(&a), &len) != 0 ||
      ::connect(s, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
    ::closesocket(s);
    return;
  }
  set_blocking(s, false);
  read_ = write_ = s;
}

Waker::~Waker() {
  if (read_ != INVALID_SOCKET) ::closesocket(read_);
}

void Waker::wake() {
  const char one = 1;
  ::send(write_, &one, 1, 0); // a full buffer: woken already
}

void Waker::drain() {
  char buf[64];
  while (::recv(read_, buf, sizeof buf, 0) > 0) {
  }
}

Accepted accept_connection(socket_t listener, socket_t &s, std::string &ip, int &port) {
  sockaddr_storage a{};
  int len = sizeof a;
  s = ::accept(listener, reinterpret_cast<sockaddr *>(&a), &len);
  if (s == INVALID_SOCKET) {
    const int e = ::WSAGetLastError();
    const bool passing = e == WSAEWOULDBLOCK || e == WSAEINTR || e == WSAECONNRESET || e == WSAECONNABORTED;
    return passing ? Accepted::None : Accepted::Exhausted; // WSAEMFILE, WSAENOBUFS and the like
  }
  set_blocking(s, true); // Windows passes the listener's mode on
  char text[INET6_ADDRSTRLEN] = "";
  if (a.ss_family == AF_INET) {
    auto *v4 = reinterpret_cast<sockaddr_in *>(&a);
    ::inet_ntop(AF_INET, &v4->sin_addr, text, sizeof text);
    port = ntohs(v4->sin_port);
  } else if (a.ss_family == AF_INET6) {
    auto *v6 = reinterpret_cast<sockaddr_in6 *>(&a);
    ::inet_ntop(AF_INET6, &v6->sin6_addr, text, sizeof text);
    port = ntohs(v6->sin6_port);
  }
  ip = text;
  BOOL yes = TRUE;
  int bytes = kSendBuffer;
  ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char *>(&yes), sizeof yes);
  ::setsockopt(s, SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char *>(&bytes), sizeof bytes);
  return Accepted::Yes;
}

void set_blocking(socket_t s, bool blocking) {
  u_long nonblocking = blocking ? 0 : 1;
  ::ioctlsocket(s, FIONBIO, &nonblocking);
}

int local_port(socket_t s) {
  sockaddr_storage a{};
  int len = sizeof a;
  if (::getsockname(s, reinterpret_cast<sockaddr *>(&a), &len) != 0) return -1;
  if (a.ss_family == AF_INET) return ntohs(reinterpret_cast<sockaddr_in *>(&a)->sin_port);
  if (a.ss_family == AF_INET6) return ntohs(reinterpret_cast<sockaddr_in6 *>(&a)->sin6_port);
  return -1;
}

bool send_state(socket_t, size_t &, long &) { return false; }

} // namespace tavio::serve::sys
