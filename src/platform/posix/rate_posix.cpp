// Line rates by number (Linux termios2): any rate the driver takes, also
// those without a Bxxx code (14400, 256000, 12345), as TCSETS2 with BOTHER
// sets them. Apart from serial_posix.cpp since the kernel's termios
// definitions and the C library's <termios.h> cannot meet in one file.
#include "platform/posix/posix_backend.h"

#ifdef __linux__
#include <asm/termbits.h>
#include <sys/ioctl.h>
#endif

namespace tavio::platform {

#if defined(__linux__) && defined(TCGETS2) && defined(BOTHER)

bool set_rate_by_number(int fd, uint32_t baud) {
  termios2 t{};
  if (::ioctl(fd, TCGETS2, &t) != 0) return false;
  t.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
  t.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
  t.c_ospeed = t.c_ispeed = baud;
  return ::ioctl(fd, TCSETS2, &t) == 0;
}

bool rate_in_effect(int fd, uint32_t &out, uint32_t &in) {
  termios2 t{};
  if (::ioctl(fd, TCGETS2, &t) != 0) return false;
  out = t.c_ospeed;
  in = t.c_ispeed;
  return true;
}

#else

bool set_rate_by_number(int, uint32_t) { return false; }
bool rate_in_effect(int, uint32_t &, uint32_t &) { return false; }

#endif

} // namespace tavio::platform
