// Helpers for tests of the raw port functions: bytes put on the line by the
// device side at a moment the test chooses, and a wait until they are
// waiting at the library's side.
#pragma once

#include <poll.h>
#include <sys/ioctl.h>
#include <time.h>

#include <cstdint>
#include <string>
#include <vector>

#include "pty_link.h"

namespace tavio::test {

// The device sends bytes to the library now (whatever the device would
// answer on its own).
inline void inject(emu::PtyLink &link, const std::vector<uint8_t> &bytes) {
  link.with_device<emu::Device>([&](emu::Device &) { link.reply(bytes.data(), bytes.size()); });
}
inline void inject(emu::PtyLink &link, const std::string &text) {
  inject(link, std::vector<uint8_t>(text.begin(), text.end()));
}

// Waits until the port handle h has input waiting; false after timeout_ms.
inline bool input_waiting(int32_t h, int timeout_ms = 2000) {
  pollfd p{h, POLLIN, 0};
  return ::poll(&p, 1, timeout_ms) == 1 && (p.revents & POLLIN);
}

// Waits until at least n bytes are waiting at the port handle h (as the
// driver counts them); false after timeout_ms.
inline bool bytes_waiting(int32_t h, int n, int timeout_ms = 2000) {
  for (int waited = 0; waited <= timeout_ms; ++waited) {
    int count = 0;
    if (::ioctl(h, FIONREAD, &count) == 0 && count >= n) return true;
    timespec ms{0, 1000000};
    ::nanosleep(&ms, nullptr);
  }
  return false;
}

} // namespace tavio::test
