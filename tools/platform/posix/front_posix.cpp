// The front's socket calls on Linux (and other POSIX systems).
#include "front_system.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>
#ifdef __linux__
#include <linux/sockios.h>
#include <sys/eventfd.h>
#endif

namespace tavio::serve::sys {

namespace {
constexpr int kSendBuffer = 32 * 1024;
}

void wait_readable(std::vector<Watch> &set, int ms) {
  std::vector<pollfd> p(set.size());
  for (size_t i = 0; i < set.size(); ++i) p[i] = {set[i].socket, POLLIN, 0};
  const int n = ::poll(p.data(), nfds_t(p.size()), ms);
  for (size_t i = 0; i < set.size(); ++i) set[i].readable = n > 0 && p[i].revents != 0;
}

Waker::Waker() {
#ifdef __linux__
  read_ = write_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (read_ < 0) read_ = write_ = INVALID_SOCKET;
#else
  int fds[2];
  if (::pipe(fds) != 0) return;
  for (int fd : fds) {
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL, 0) | O_NONBLOCK);
  }
  read_ = fds[0];
  write_ = fds[1];
#endif
}

Waker::~Waker() {
  if (write_ != INVALID_SOCKET && write_ != read_) ::close(write_);
  if (read_ != INVALID_SOCKET) ::close(read_);
}

void Waker::wake() {
  // Full (woken already): nothing lost.
  const uint64_t one = 1;
  [[maybe_unused]] const ssize_t n = ::write(write_, &one, sizeof one);
}

void Waker::drain() {
  char buf[64];
  while (::read(read_, buf, sizeof buf) > 0) {
  }
}

Accepted accept_connection(socket_t listener, socket_t &s, std::string &ip, int &port) {
  sockaddr_storage a{};
  socklen_t len = sizeof a;
  s = ::accept(listener, reinterpret_cast<sockaddr *>(&a), &len);
  if (s < 0) {
    s = INVALID_SOCKET;
    // No descriptor (EMFILE, ENFILE) or memory (ENOMEM, ENOBUFS), or what
    // else does not pass by itself: tried again later.
    const bool passing = errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR || errno == ECONNABORTED ||
                         errno == EPROTO;
    return passing ? Accepted::None : Accepted::Exhausted;
  }
  ::fcntl(s, F_SETFD, FD_CLOEXEC);
  set_blocking(s, true);
  char text[INET6_ADDRSTRLEN] = "";
  if (a.ss_family == AF_INET) {
    const auto *v4 = reinterpret_cast<sockaddr_in *>(&a);
    ::inet_ntop(AF_INET, &v4->sin_addr, text, sizeof text);
    port = ntohs(v4->sin_port);
  } else if (a.ss_family == AF_INET6) {
    const auto *v6 = reinterpret_cast<sockaddr_in6 *>(&a);
    ::inet_ntop(AF_INET6, &v6->sin6_addr, text, sizeof text);
    port = ntohs(v6->sin6_port);
  }
  ip = text;
  int yes = 1, bytes = kSendBuffer;
  ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
  ::setsockopt(s, SOL_SOCKET, SO_SNDBUF, &bytes, sizeof bytes);
  return Accepted::Yes;
}

void set_blocking(socket_t s, bool blocking) {
  const int flags = ::fcntl(s, F_GETFL, 0);
  ::fcntl(s, F_SETFL, blocking ? flags & ~O_NONBLOCK : flags | O_NONBLOCK);
}

int local_port(socket_t s) {
  sockaddr_storage a{};
  socklen_t len = sizeof a;
  if (::getsockname(s, reinterpret_cast<sockaddr *>(&a), &len) != 0) return -1;
  if (a.ss_family == AF_INET) return ntohs(reinterpret_cast<sockaddr_in *>(&a)->sin_port);
  if (a.ss_family == AF_INET6) return ntohs(reinterpret_cast<sockaddr_in6 *>(&a)->sin6_port);
  return -1;
}

bool send_state(socket_t s, size_t &unacked, long &window) {
#ifdef __linux__
  int queued = 0;
  if (::ioctl(s, SIOCOUTQ, &queued) != 0) return false;
  unacked = size_t(queued);
  // The peer's window (tcpi_snd_wnd, at byte 228 of struct tcp_info) is in
  // the kernel's answer from Linux 6.2 on; older headers do not name it.
  constexpr socklen_t kWindowAt = 228;
  unsigned char info[512] = {};
  socklen_t len = sizeof info;
  window = -1;
  if (::getsockopt(s, IPPROTO_TCP, TCP_INFO, info, &len) == 0 && len >= kWindowAt + 4) {
    uint32_t w = 0;
    std::memcpy(&w, info + kWindowAt, sizeof w);
    window = long(w);
  }
  return true;
#else
  (void)s, (void)unacked, (void)window;
  return false;
#endif
}

} // namespace tavio::serve::sys
