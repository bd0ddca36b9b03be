// Network connections on Windows: non-blocking Winsock TCP sockets, the byte
// transport of the core's network ports. Winsock is started on the first
// connection (never in the entry point) and cleaned up when the DLL is
// unloaded, after the entry point has closed the ports; a socket still open
// then is closed first. A connection's handle is its socket's value, a
// kernel handle like the serial ports' and so distinct from all of them.
#include "platform/win32/win32_backend.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstdio>
#include <vector>

namespace tavio::platform {

namespace {

Win32Lock g_lock;
bool g_started = false; // WSAStartup succeeded
// Connections handed out and not closed yet, each with the event that its
// network events set.
struct Connection {
  SOCKET socket;
  WSAEVENT ready;
};
std::vector<Connection> g_open;

void end_connection(const Connection &c) {
  closesocket(c.socket);
  WSACloseEvent(c.ready);
}

// At unload, after the entry point's closing sequence (the runtime destroys
// the DLL's statics after DllMain has seen the detach).
struct Winsock {
  Winsock() = default;
  Winsock(const Winsock &) = delete;
  Winsock &operator=(const Winsock &) = delete;
  ~Winsock() {
    for (const Connection &c : g_open) end_connection(c);
    g_open.clear();
    if (g_started) WSACleanup();
    g_started = false;
  }
} g_winsock;

bool start() {
  return locked(g_lock, [] {
    WSADATA data;
    if (!g_started) g_started = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    return g_started;
  });
}

SOCKET to_socket(int32_t c) { return static_cast<SOCKET>(static_cast<uint32_t>(c)); }

WSAEVENT event_of(SOCKET s) {
  return locked(g_lock, [&]() -> WSAEVENT {
    for (const Connection &c : g_open)
      if (c.socket == s) return c.ready;
    return WSA_INVALID_EVENT;
  });
}

// Waits until s is readable (or has failed), or with want_write writable,
// or the deadline passes: a mask of kNetReadable and kNetWritable, 0 at the
// deadline, -1 on failure. The state is read by select() without a wait;
// the waits themselves are on the event that the socket's network events
// set (Wine's server can fail an assertion and end every program of the
// prefix when a select() with a time-out completes as its time runs out).
// The event is reset before each look, so that nothing that happens after
// it is missed.
int wait_socket(Backend &b, SOCKET s, WSAEVENT ready, bool want_write, uint64_t deadline) {
  while (true) {
    WSAResetEvent(ready);
    fd_set rd, wr, ex;
    FD_ZERO(&rd);
    FD_ZERO(&wr);
    FD_ZERO(&ex);
    FD_SET(s, &rd);
    FD_SET(s, &ex);
    if (want_write) FD_SET(s, &wr);
    timeval now_only{};
    const int r = select(0, &rd, want_write ? &wr : nullptr, &ex, &now_only);
    if (r == SOCKET_ERROR) return -1;
    if (r > 0) {
      int mask = 0;
      // A failure reads as input: the receive that follows reports it.
      if (FD_ISSET(s, &rd) || FD_ISSET(s, &ex)) mask |= kNetReadable;
      if (FD_ISSET(s, &wr)) mask |= kNetWritable;
      return mask;
    }
    DWORD ms = INFINITE;
    if (deadline != kNetForever) {
      const uint64_t now = b.now_ns();
      if (now >= deadline) return 0;
      ms = static_cast<DWORD>((deadline - now) / 1000000ull);
    }
    if (ms == 0) SwitchToThread(); // under a millisecond left: look again soon
    else if (WaitForSingleObject(ready, ms) == WAIT_FAILED) return -1;
  }
}

// Windows answers a refused connection by sending its SYN again, for about
// two seconds; a refused port must fail at once, as elsewhere. (Windows 8
// and later; where the request is unknown nothing changes.)
void no_syn_retries(SOCKET s) {
  struct {
    USHORT rtt;
    UCHAR max_syn_retransmissions;
  } params{static_cast<USHORT>(-1), static_cast<UCHAR>(-2)}; // the default round trip, no retries
  constexpr DWORD kInitialRto = 0x98000011;                  // SIO_TCP_INITIAL_RTO
  DWORD returned = 0;
  WSAIoctl(s, kInitialRto, &params, sizeof params, nullptr, 0, &returned, nullptr, nullptr);
}

// A non-blocking connection attempt to one address, bounded by the deadline.
Connection connect_one(Backend &b, const addrinfo *a, uint64_t deadline) {
  const Connection none{INVALID_SOCKET, WSA_INVALID_EVENT};
  SOCKET s = socket(a->ai_family, a->ai_socktype, a->ai_protocol);
  if (s == INVALID_SOCKET) return none;
  WSAEVENT ready = WSACreateEvent();
  SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0); // not for child processes
  // The events also make the socket non-blocking.
  bool ok = ready != WSA_INVALID_EVENT &&
            WSAEventSelect(s, ready, FD_READ | FD_WRITE | FD_CONNECT | FD_CLOSE) == 0;
  if (ok) {
    no_syn_retries(s);
    if (connect(s, a->ai_addr, static_cast<int>(a->ai_addrlen)) != 0) {
      ok = WSAGetLastError() == WSAEWOULDBLOCK && wait_socket(b, s, ready, true, deadline) > 0;
      int err = 0;
      int len = sizeof err;
      ok = ok && getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char *>(&err), &len) == 0 && err == 0;
    }
  }
  // A handle is a 32-bit value of 3 or more.
  if (!ok || s < 3 || s > 0x7FFFFFFF) {
    closesocket(s);
    if (ready != WSA_INVALID_EVENT) WSACloseEvent(ready);
    return none;
  }
  // Every byte goes out at once: a command byte must not wait for the next.
  BOOL one = TRUE;
  setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char *>(&one), sizeof one);
  setsockopt(s, SOL_SOCKET, SO_KEEPALIVE, reinterpret_cast<const char *>(&one), sizeof one);
  return Connection{s, ready};
}

} // namespace

int32_t Win32Backend::net_connect(const char *host, uint16_t port, uint32_t timeout_ms) {
  if (host == nullptr || !start()) return -1;
  const uint64_t deadline = now_ns() + uint64_t(timeout_ms) * 1000000ull;
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  hints.ai_flags = AI_NUMERICSERV;
  char service[8];
  std::snprintf(service, sizeof service, "%u", static_cast<unsigned>(port));
  addrinfo *list = nullptr;
  if (getaddrinfo(host, service, &hints, &list) != 0) return -1;
  Connection c{INVALID_SOCKET, WSA_INVALID_EVENT};
  for (const addrinfo *a = list; a != nullptr && c.socket == INVALID_SOCKET; a = a->ai_next)
    c = connect_one(*this, a, deadline);
  freeaddrinfo(list);
  if (c.socket == INVALID_SOCKET) return -1;
  locked(g_lock, [&] {
    g_open.push_back(c);
    return 0;
  });
  return static_cast<int32_t>(c.socket);
}

int32_t Win32Backend::net_send(int32_t c, const void *data, uint32_t n) {
  // Sends until everything is taken or the socket would block: only then
  // does Windows report the room that comes later (FD_WRITE).
  const char *p = static_cast<const char *>(data);
  int32_t taken = 0;
  while (static_cast<uint32_t>(taken) < n) {
    const uint32_t left = n - static_cast<uint32_t>(taken);
    const int r = send(to_socket(c), p + taken, static_cast<int>(left > (1u << 30) ? (1u << 30) : left), 0);
    if (r == SOCKET_ERROR) return WSAGetLastError() == WSAEWOULDBLOCK ? taken : (taken > 0 ? taken : -1);
    taken += r;
  }
  return taken;
}

int32_t Win32Backend::net_receive(int32_t c, void *data, uint32_t n) {
  const int chunk = static_cast<int>(n > (1u << 30) ? (1u << 30) : n);
  const int r = recv(to_socket(c), static_cast<char *>(data), chunk, 0);
  if (r != SOCKET_ERROR) return r;
  return WSAGetLastError() == WSAEWOULDBLOCK ? kNetNothing : -1;
}

int Win32Backend::net_wait(int32_t c, bool want_write, uint64_t deadline_ns) {
  const WSAEVENT ready = event_of(to_socket(c));
  if (ready == WSA_INVALID_EVENT) return -1;
  return wait_socket(*this, to_socket(c), ready, want_write, deadline_ns);
}

void Win32Backend::net_shutdown(int32_t c) { shutdown(to_socket(c), SD_SEND); }

void Win32Backend::net_close(int32_t c) {
  const SOCKET s = to_socket(c);
  // Only a connection of this backend's: a stale value closes nothing else.
  Connection ours{INVALID_SOCKET, WSA_INVALID_EVENT};
  locked(g_lock, [&] {
    for (size_t i = 0; i < g_open.size(); ++i)
      if (g_open[i].socket == s) {
        ours = g_open[i];
        g_open.erase(g_open.begin() + static_cast<std::ptrdiff_t>(i));
        break;
      }
    return 0;
  });
  if (ours.socket != INVALID_SOCKET) end_connection(ours);
}

} // namespace tavio::platform
