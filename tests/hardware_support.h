// Helpers shared by the interface hardware tests: the six interfaces as
// table rows, and reading what arrived on the wire.
#pragma once

#include <chrono>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "fake_backend.h"
#include "interfaces.h"
#include "test_support.h"

namespace tavio::test {

struct Interface {
  const char *device; // make_device name
  int32_t code;       // HARD
  int32_t (*init)(int32_t port);
  uint32_t baud;
};

inline const Interface kCompuLabRow{"compulab", 1, INITCOMPULAB, 19200};
inline const Interface kSiosRow{"sios", 4, INITSIOS, 19200};
inline const Interface kZelleRow{"zelle", 8, INITZELLE, 9600};
inline const Interface kRsBoxRow{"rsbox", 16, INIT, 19200};
inline const Interface kCamfaceRow{"camface", 32, INITCAMFACE, 19200};
inline const Interface kCControlRow{"ccontrol", 64, INITCCONTROL, 9600};

inline const std::vector<Interface> kInterfaces = {kCompuLabRow, kSiosRow,    kZelleRow,
                                                   kRsBoxRow,    kCamfaceRow, kCControlRow};

inline std::ostream &operator<<(std::ostream &os, const Interface &i) { return os << i.device; }

// The bytes on the wire once n of them have arrived, after a short look for
// any that should not be there.
inline std::vector<uint8_t> wire(const emu::PtyLink &link, size_t n) {
  link.wait_for(n, 2000);
  std::this_thread::sleep_for(std::chrono::milliseconds(15));
  return link.bytes();
}

using Bytes = std::vector<uint8_t>;

// Records when each byte was handed to the port, on the sending side: the
// pacing of an exchange, free of the jitter of the link's reader thread.
// A fixture that puts an emulated interface on COM3 and selects it.
class HardwareTest : public LibraryTest {
protected:
  emu::PtyLink &select(const Interface &i, const emu::DeviceOptions &options = {}, int com = 3) {
    emu::PtyLink &link = attach(com, emu::make_device(i.device, options));
    EXPECT_EQ(i.init(com), com) << i.device;
    EXPECT_EQ(GETHARD(), i.code);
    return link;
  }
  // A silent device on COM3, opened with the interface's settings and selected.
  emu::PtyLink &select_silent(const Interface &i, int com = 3) {
    emu::PtyLink &link = attach_new<emu::SilentDevice>(com);
    EXPECT_EQ(i.init(com), com) << i.device;
    return link;
  }
};

template <class D, class F> auto on_device(emu::PtyLink &link, F f) { return link.with_device<D>(f); }

} // namespace tavio::test
