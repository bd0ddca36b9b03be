// The system-wide one-process lock: a Unix socket bound to a name in the
// abstract namespace. The kernel frees the name when the socket closes, and
// it closes when the process ends, whatever ends it; no file is left behind.
#include "platform/platform.h"

#include <cstddef>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace tavio::platform {

namespace {
int g_lock_fd = -1;
constexpr char kLockName[] = "tavio32.one-process-lock";
} // namespace

bool acquire_process_lock() {
  if (g_lock_fd >= 0) return true;
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return true; // no sockets at all: nothing to enforce with
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path + 1, kLockName, sizeof kLockName - 1); // leading NUL: abstract
  socklen_t len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + sizeof kLockName - 1);
  if (::bind(fd, reinterpret_cast<sockaddr *>(&addr), len) != 0) {
    ::close(fd);
    return false;
  }
  g_lock_fd = fd;
  return true;
}

void release_process_lock() {
  if (g_lock_fd < 0) return;
  ::close(g_lock_fd);
  g_lock_fd = -1;
}

} // namespace tavio::platform
